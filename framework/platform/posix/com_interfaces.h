// The COM root interface.
#pragma once

#include "framework/platform/posix/com_types.h"

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

// Monikers: what the system calls of them.
struct IBindCtx : IUnknown {
protected:
    ~IBindCtx() = default;
};

struct IMoniker : IUnknown {
    STDMETHOD(BindToObject)(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult,
                            void** ppvResult) = 0;

protected:
    ~IMoniker() = default;
};
