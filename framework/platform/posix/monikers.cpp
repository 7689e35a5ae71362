#include <cwctype>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "framework/platform/platform.h"
#include "framework/platform/unknown_impl.h"

namespace {

struct NamedClass {
    std::wstring name;
    CLSID clsid;
};

struct NameTable {
    std::mutex mutex;
    std::vector<NamedClass> names;
};

NameTable& Names() {
    static NameTable table;
    return table;
}

bool FindClass(const std::wstring& name, CLSID* clsid) {
    NameTable& table = Names();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const NamedClass& entry : table.names) {
        if (entry.name == name) {
            *clsid = entry.clsid;
            return true;
        }
    }
    return false;
}

// "@device:" then a type of letters, a colon and a name that is not empty.
bool IsDeviceName(const std::wstring& name) {
    static const std::wstring kPrefix = L"@device:";
    if (name.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    size_t i = kPrefix.size();
    while (i < name.size() && std::iswalpha(name[i]))
        ++i;
    return i > kPrefix.size() && i + 1 < name.size() && name[i] == L':';
}

class CBindCtx final : public CUnknownImpl<ComInterface<IBindCtx, IID_IBindCtx>> {};

class CDeviceMoniker final : public CUnknownImpl<ComInterface<IMoniker, IID_IMoniker>> {
public:
    explicit CDeviceMoniker(std::wstring name) : m_name(std::move(name)) {}

    STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        CLSID clsid;
        try {
            if (!FindClass(m_name, &clsid))
                return MK_E_NOOBJECT;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
    }

private:
    const std::wstring m_name;
};

} // namespace

HRESULT CreateBindCtx(DWORD reserved, IBindCtx** ppbc) {
    if (ppbc == nullptr)
        return E_POINTER;
    *ppbc = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    *ppbc = new (std::nothrow) CBindCtx;
    if (*ppbc == nullptr)
        return E_OUTOFMEMORY;
    (*ppbc)->AddRef();
    return S_OK;
}

HRESULT MkParseDisplayName(IBindCtx* pbc, LPCOLESTR szUserName, ULONG* pchEaten,
                           IMoniker** ppmk) {
    if (pbc == nullptr || szUserName == nullptr || pchEaten == nullptr || ppmk == nullptr)
        return E_POINTER;
    *ppmk = nullptr;
    *pchEaten = 0;
    try {
        std::wstring name(szUserName);
        if (!IsDeviceName(name))
            return MK_E_SYNTAX;
        const ULONG length = ULONG(name.size());
        *ppmk = new CDeviceMoniker(std::move(name));
        (*ppmk)->AddRef();
        *pchEaten = length;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RegisterDisplayName(LPCOLESTR displayName, REFCLSID rclsid) {
    if (displayName == nullptr)
        return E_POINTER;
    NameTable& table = Names();
    try {
        std::lock_guard<std::mutex> lock(table.mutex);
        for (NamedClass& entry : table.names) {
            if (entry.name == displayName) {
                entry.clsid = rclsid;
                return S_OK;
            }
        }
        table.names.push_back({displayName, rclsid});
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
