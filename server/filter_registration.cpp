#include "server/filter_registration.h"

#include <cwchar>

#include "framework/com_ptr.h"
#include "server/class_factory.h"
#include "server/module.h"
#include "server/registry.h"

namespace {

static_assert(sizeof(AMOVIESETUP_PIN) == sizeof(REGFILTERPINS) &&
                  sizeof(AMOVIESETUP_MEDIATYPE) == sizeof(REGPINTYPES),
              "setup records double as the mapper's pin records");

constexpr HRESULT kNotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

std::string ClassKey(const CFactoryTemplate& entry) {
    return "CLSID\\" + RegistryGuid(*entry.m_ClsID);
}

HRESULT RegisterClassKey(const CFactoryTemplate& entry, const std::string& modulePath) {
    std::string name;
    HRESULT hr = WideToAnsi(entry.m_Name, wcslen(entry.m_Name), &name);
    if (FAILED(hr))
        return hr;
    const std::string key = ClassKey(entry);
    hr = WriteStringValue(key, KEY_READ | KEY_WRITE, nullptr, name);
    if (SUCCEEDED(hr))
        hr = WriteStringValue(key + "\\InprocServer32", KEY_READ | KEY_WRITE, nullptr, modulePath);
    if (SUCCEEDED(hr))
        hr = WriteStringValue(key + "\\InprocServer32", KEY_READ | KEY_WRITE, "ThreadingModel",
                              "Both");
    return hr;
}

// The legacy mapper takes a filter, then its pins and their types one by one.
HRESULT RegisterWithMapper(IFilterMapper* mapper, const AMOVIESETUP_FILTER& setup) {
    HRESULT hr = mapper->RegisterFilter(*setup.clsID, setup.strName, setup.dwMerit);
    for (UINT i = 0; SUCCEEDED(hr) && i < setup.nPins; ++i) {
        const AMOVIESETUP_PIN& pin = setup.lpPin[i];
        hr = mapper->RegisterPin(*setup.clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero,
                                 pin.bMany, CLSID_NULL, nullptr);
        for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t)
            hr =
                mapper->RegisterPinType(*setup.clsID, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                        *pin.lpMediaType[t].clsMinorType);
    }
    return hr;
}

HRESULT RegisterWithMapper2(IFilterMapper2* mapper, const AMOVIESETUP_FILTER& setup) {
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = setup.dwMerit;
    filter.cPins = setup.nPins;
    // The setup records are laid out as the mapper's version 1 pin records.
    filter.rgPins = reinterpret_cast<const REGFILTERPINS*>(setup.lpPin);
    return mapper->RegisterFilter(*setup.clsID, setup.strName, nullptr, nullptr, nullptr, &filter);
}

HRESULT Succeeded(HRESULT hr) {
    return hr == kNotRegistered ? S_OK : hr;
}

// Registers or unregisters every template's filter, through IFilterMapper2 or, where
// that is missing, IFilterMapper.
HRESULT UpdateFilterMapper(BOOL bRegister) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr;
    { // the mappers go before COM is uninitialised
        ComPtr<IFilterMapper2> mapper2;
        ComPtr<IFilterMapper> mapper;
        hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFilterMapper2, mapper2.OutVoid());
        if (FAILED(hr))
            hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper, mapper.OutVoid());
        for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i) {
            const AMOVIESETUP_FILTER* setup = g_Templates[i].m_pAMovieSetup_Filter;
            if (setup == nullptr)
                continue;
            const CLSID& clsid = *g_Templates[i].m_ClsID;
            hr = Succeeded(mapper2 ? mapper2->UnregisterFilter(nullptr, nullptr, clsid)
                                   : mapper->UnregisterFilter(clsid));
            if (bRegister && SUCCEEDED(hr))
                hr = Succeeded(mapper2 ? RegisterWithMapper2(mapper2.Get(), *setup)
                                       : RegisterWithMapper(mapper.Get(), *setup));
        }
    }
    CoFreeUnusedLibraries();
    if (SUCCEEDED(init))
        CoUninitialize();
    return hr;
}

} // namespace

HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
    HRESULT hr = S_OK;
    if (bRegister) {
        const std::string modulePath = ModuleFileName();
        for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i)
            hr = RegisterClassKey(g_Templates[i], modulePath);
        return SUCCEEDED(hr) ? UpdateFilterMapper(TRUE) : hr;
    }
    hr = UpdateFilterMapper(FALSE);
    for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i)
        hr = DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKey(g_Templates[i]));
    return hr;
}
