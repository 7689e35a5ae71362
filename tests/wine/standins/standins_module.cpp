// The stand-ins' COM server: class objects, registration and the decoder's graph hook.
#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "framework/com_ptr.h"
#include "framework/platform/unknown_impl.h"
#include "tests/wine/standins/resizer_dmo.h"
#include "tests/wine/standins/standins.h"
#include "videoproc/posix/video_decoder.h"
#include "videoproc/posix/video_scaler.h"

extern "C" {
#include <dmoreg.h>
}

namespace {

HINSTANCE g_module = nullptr;
std::atomic<LONG> g_locks{0};

// The decoder whose graph StandInDecoderGraph reports, and that graph; not counted
// references: a filter leaves its graph (JoinFilterGraph(null)) before either goes.
std::mutex g_graphLock;
const void* g_lastDecoder = nullptr;    // g_graphLock
IFilterGraph* g_decoderGraph = nullptr; // g_graphLock

// The AVC decoder, telling the hook which graph it joins.
class CStandInAvcDecoder final : public CVideoDecoder {
public:
    explicit CStandInAvcDecoder(HRESULT* phr) : CVideoDecoder(VideoCodec::Avc, phr) {
        std::lock_guard<std::mutex> lock(g_graphLock);
        g_lastDecoder = this;
        g_decoderGraph = nullptr;
    }
    ~CStandInAvcDecoder() override {
        std::lock_guard<std::mutex> lock(g_graphLock);
        if (g_lastDecoder == this) {
            g_lastDecoder = nullptr;
            g_decoderGraph = nullptr;
        }
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        const HRESULT hr = CVideoDecoder::JoinFilterGraph(graph, name);
        std::lock_guard<std::mutex> lock(g_graphLock);
        if (SUCCEEDED(hr) && g_lastDecoder == this)
            g_decoderGraph = graph;
        return hr;
    }

    static HRESULT Create(IUnknown* pOuter, REFIID riid, void** ppv) {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        HRESULT hr = S_OK;
        ComPtr<CStandInAvcDecoder> filter(new (std::nothrow) CStandInAvcDecoder(&hr));
        if (!filter)
            return E_OUTOFMEMORY;
        if (FAILED(hr))
            return hr;
        return filter->NonDelegatingQueryInterface(riid, ppv);
    }
};

typedef HRESULT (*Creator)(IUnknown* pOuter, REFIID riid, void** ppv);

struct StandIn {
    const GUID* clsid;
    const WCHAR* name;
    Creator create;
    bool dmo; // a DMO in the video-effect category, else a filter in the legacy category
};

const StandIn kStandIns[] = {
    {&CLSID_StandInAvcDecoder, L"KVSSF Test AVC Decoder", &CStandInAvcDecoder::Create, false},
    {&CLSID_StandInColorConverter, L"KVSSF Test Colour Converter", &CVideoScaler::CreateConverter,
     false},
    {&CLSID_StandInResizer, L"KVSSF Test Resizer", &CResizerDmo::Create, true},
};

class CStandInFactory final : public CUnknownImpl<ComInterface<IClassFactory, IID_IClassFactory>> {
public:
    explicit CStandInFactory(Creator create) : m_create(create) {}
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
        return m_create(pOuter, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }

private:
    const Creator m_create;
};

std::wstring GuidText(REFGUID guid) {
    WCHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetValue(HKEY key, const WCHAR* name, const std::wstring& value) {
    return HRESULT_FROM_WIN32(RegSetValueExW(key, name, 0, REG_SZ,
                                             reinterpret_cast<const BYTE*>(value.c_str()),
                                             DWORD((value.size() + 1) * sizeof(WCHAR))));
}

// HKCR\CLSID\{clsid}: the name, and the module as an in-process server of any apartment.
HRESULT RegisterClass(const StandIn& standIn, const std::wstring& modulePath) {
    const std::wstring path = L"CLSID\\" + GuidText(*standIn.clsid);
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                 &key, nullptr);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    HRESULT hr = SetValue(key, nullptr, standIn.name);
    RegCloseKey(key);
    error = RegCreateKeyExW(HKEY_CLASSES_ROOT, (path + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    if (SUCCEEDED(hr))
        hr = SetValue(key, nullptr, modulePath);
    if (SUCCEEDED(hr))
        hr = SetValue(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return hr;
}

HRESULT RegisterFilter(IFilterMapper2* mapper, const StandIn& standIn) {
    const REGPINTYPES video = {&MEDIATYPE_Video, &GUID_NULL};
    REGFILTERPINS2 pins[2] = {};
    pins[0].nMediaTypes = pins[1].nMediaTypes = 1;
    pins[0].lpMediaType = pins[1].lpMediaType = &video;
    pins[0].cInstances = pins[1].cInstances = 1;
    pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
    REGFILTER2 filter = {};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 2;
    filter.rgPins2 = pins;
    return mapper->RegisterFilter(*standIn.clsid, standIn.name, nullptr,
                                  &CLSID_LegacyAmFilterCategory, nullptr, &filter);
}

// COM for the calling thread while registration runs, whatever the caller set up.
class CComScope {
public:
    CComScope() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComScope() {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }

private:
    const HRESULT m_hr;
};

HRESULT RegisterDmo(const StandIn& standIn) {
    const DMO_PARTIAL_MEDIATYPE video = {MEDIATYPE_Video, GUID_NULL};
    return DMORegister(standIn.name, *standIn.clsid, DMOCATEGORY_VIDEO_EFFECT, 0, 1, &video, 1,
                       &video);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        g_module = instance;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    for (const StandIn& standIn : kStandIns) {
        if (*standIn.clsid != rclsid)
            continue;
        ComPtr<CStandInFactory> factory(new (std::nothrow) CStandInFactory(standIn.create));
        if (!factory)
            return E_OUTOFMEMORY;
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return g_locks > 0 || CBaseObject::ObjectsActive() > 0 ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
    WCHAR module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    CComScope com;
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.OutVoid());
    for (const StandIn& standIn : kStandIns) {
        if (SUCCEEDED(hr))
            hr = RegisterClass(standIn, module);
        if (SUCCEEDED(hr))
            hr = standIn.dmo ? RegisterDmo(standIn) : RegisterFilter(mapper.Get(), standIn);
    }
    return hr;
}

// Removes whatever of the three is there: S_OK also when nothing was registered.
STDAPI DllUnregisterServer() {
    CComScope com;
    ComPtr<IFilterMapper2> mapper;
    CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                     mapper.OutVoid());
    for (const StandIn& standIn : kStandIns) {
        if (standIn.dmo)
            DMOUnregister(*standIn.clsid, DMOCATEGORY_VIDEO_EFFECT);
        else if (mapper)
            mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *standIn.clsid);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(*standIn.clsid)).c_str());
    }
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE StandInDecoderGraph(IFilterGraph** graph) {
    if (graph == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(g_graphLock);
    *graph = g_decoderGraph;
    if (*graph == nullptr)
        return S_FALSE;
    (*graph)->AddRef();
    return S_OK;
}
