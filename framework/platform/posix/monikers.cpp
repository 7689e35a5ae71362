#include <cwctype>
#include <new>
#include <string>

#include "framework/platform/platform.h"
#include "framework/platform/posix/registry_table.h"
#include "framework/platform/unknown_impl.h"

namespace {

// Class identifiers by display name.
CRegistryTable<std::wstring, CLSID>& Names() {
    static CRegistryTable<std::wstring, CLSID> table;
    return table;
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
        if (!Names().Find(m_name, &clsid))
            return MK_E_NOOBJECT;
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
    return Names().Set(displayName, rclsid);
}
