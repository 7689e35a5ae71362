// ComPtr: holds one reference to a COM object and releases it at the end of its scope.
#pragma once

template <typename T> struct ComPtr {
    T* p = nullptr;

    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr)
            p->Release();
    }

    // For out parameters: p must be null.
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};
