// ComPtr<T>: owns one counted reference to a COM object (any type with AddRef/Release)
// and releases it when it goes out of scope or is reset. Copies add a reference, moves
// hand it over. Not thread-safe itself: one owner thread at a time, like a raw pointer.
#pragma once

#include <cstddef>
#include <utility>

#include "framework/platform/platform.h"

template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Shares p: adds a reference (null is fine).
    ComPtr(T* p) : m_p(p) {
        if (m_p != nullptr)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    template <typename U> ComPtr(ComPtr<U>&& other) noexcept : m_p(other.Detach()) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Takes over a reference the caller already owns (a creator's, or an out value's).
    static ComPtr Adopt(T* p) {
        ComPtr owned;
        owned.m_p = p;
        return owned;
    }
    // Gives up the reference without releasing it; the caller owns it.
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    void Reset() {
        if (T* p = Detach())
            p->Release();
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For out parameters: releases what is held and receives the callee's reference.
    T** Out() {
        Reset();
        return &m_p;
    }
    // The same as void**, for QueryInterface and CoCreateInstance.
    void** OutVoid() {
        Reset();
        return reinterpret_cast<void**>(&m_p);
    }
    // Hands the caller a reference of its own through an out parameter.
    void CopyTo(T** out) const {
        *out = m_p;
        if (m_p != nullptr)
            m_p->AddRef();
    }

    friend bool operator==(const ComPtr& a, const T* b) { return a.m_p == b; }
    friend bool operator!=(const ComPtr& a, const T* b) { return a.m_p != b; }

private:
    T* m_p = nullptr;
};

// Queries from's object for iid, returning a held pointer (null when it fails).
template <typename To, typename From> HRESULT QueryTo(From* from, REFIID iid, ComPtr<To>* to) {
    return from->QueryInterface(iid, to->OutVoid());
}
