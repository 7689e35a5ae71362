// CRegistryTable: the process's small lookup tables (classes by identifier, class
// identifiers by display name), written at start-up and read by any thread.
#pragma once

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "framework/platform/posix/com_types.h"
#include "framework/platform/posix/hresults.h"

template <class Key, class Value> class CRegistryTable {
public:
    // The value of key into *value; false when there is none.
    template <class Probe> bool Find(const Probe& key, Value* value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& entry : m_entries) {
            if (entry.first == key) {
                *value = entry.second;
                return true;
            }
        }
        return false;
    }
    // Adds key, or gives it another value; E_OUTOFMEMORY when the table cannot grow.
    template <class Probe> HRESULT Set(const Probe& key, const Value& value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_entries) {
            if (entry.first == key) {
                entry.second = value;
                return S_OK;
            }
        }
        try {
            m_entries.emplace_back(Key(key), value);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<Key, Value>> m_entries; // m_mutex
};
