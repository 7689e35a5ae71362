// CEnumImpl: Next, Skip, Reset and Clone of an IEnum* over the positions 0, 1, ... of a
// source object that keeps a version of what it enumerates.
//
// The enumerator holds a reference to its source and remembers the version it started
// from: once the source's version has changed, Next, Skip and Clone fail with
// VFW_E_ENUM_OUT_OF_SYNC until Reset. Like every COM enumerator it is used by one thread
// at a time; only its count is atomic (CUnknownImpl, starting at 0).
//
// Derived (final) provides, as static members the template can reach:
//   LONG VersionOf(Source* source);                 the source's version now
//   bool Fetch(Source* source, int position, Item* item);
//        the item at position, owned by the caller (a reference, a task-memory copy);
//        false past the end or when it cannot be made
//   bool Exists(Source* source, int position);      an item is at position
// and a constructor Derived(Source*, const Derived* copyFrom) that passes both on.
#pragma once

#include <new>

#include "framework/platform/unknown_impl.h"

template <class Derived, class IEnum, const IID& Iid, class Source, class Item>
class CEnumImpl : public CUnknownImpl<ComInterface<IEnum, Iid>> {
public:
    // Items from the current position; S_FALSE when fewer than cItems were left.
    // pcFetched may be null only when cItems is 1.
    STDMETHODIMP Next(ULONG cItems, Item* ppItems, ULONG* pcFetched) override {
        if (ppItems == nullptr || (pcFetched == nullptr && cItems != 1))
            return E_POINTER;
        if (pcFetched != nullptr)
            *pcFetched = 0;
        if (OutOfSync())
            return VFW_E_ENUM_OUT_OF_SYNC;
        ULONG fetched = 0;
        while (fetched < cItems && Derived::Fetch(m_pSource, m_Position, &ppItems[fetched])) {
            ++m_Position;
            ++fetched;
        }
        if (pcFetched != nullptr)
            *pcFetched = fetched;
        return fetched == cItems ? S_OK : S_FALSE;
    }
    // S_FALSE, at the end, when skipping past it.
    STDMETHODIMP Skip(ULONG cItems) override {
        if (OutOfSync())
            return VFW_E_ENUM_OUT_OF_SYNC;
        for (; cItems > 0; --cItems) {
            if (!Derived::Exists(m_pSource, m_Position))
                return S_FALSE;
            ++m_Position;
        }
        return S_OK;
    }
    // Back to the first item, in sync with the source again.
    STDMETHODIMP Reset() override {
        m_Version = Derived::VersionOf(m_pSource);
        m_Position = 0;
        return S_OK;
    }
    // A new enumerator at this one's position and version.
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        if (ppEnum == nullptr)
            return E_POINTER;
        *ppEnum = nullptr;
        if (OutOfSync())
            return VFW_E_ENUM_OUT_OF_SYNC;
        Derived* copy = new (std::nothrow) Derived(m_pSource, static_cast<const Derived*>(this));
        if (copy == nullptr)
            return E_OUTOFMEMORY;
        copy->AddRef();
        *ppEnum = copy;
        return S_OK;
    }

protected:
    // At the first item, or at copyFrom's position and version.
    CEnumImpl(Source* pSource, const CEnumImpl* copyFrom) : m_pSource(pSource) {
        m_pSource->AddRef();
        if (copyFrom != nullptr) {
            m_Position = copyFrom->m_Position;
            m_Version = copyFrom->m_Version;
        } else {
            m_Version = Derived::VersionOf(m_pSource);
        }
    }
    ~CEnumImpl() override { m_pSource->Release(); }

private:
    bool OutOfSync() const { return m_Version != Derived::VersionOf(m_pSource); }

    Source* const m_pSource; // referenced
    int m_Position = 0;
    LONG m_Version = 0;
};
