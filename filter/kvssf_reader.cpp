#include "filter/kvssf_reader.h"

#include <cwchar>
#include <new>

#include "filter/output_pin.h"
#include "framework/catch_out_of_memory.h"
#include "framework/platform/codepage.h"

namespace {

const wchar_t kFilterName[] = L"Korvel SSF Reader";

} // namespace

CUnknown* CKVSsfRd::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CKVSsfRd* filter = nullptr;
    const HRESULT hr = CatchOutOfMemory([&] {
        filter = new (std::nothrow) CKVSsfRd(pUnk, phr);
        return S_OK;
    });
    if (FAILED(hr) && phr != nullptr)
        *phr = hr;
    return filter;
}

CKVSsfRd::CKVSsfRd(LPUNKNOWN pUnk, HRESULT* phr) : CSource(kFilterName, pUnk, CLSID_KVSsfRd, phr) {}

CKVSsfRd::~CKVSsfRd() {
    // The model goes first, with its fragments and video processors (their private
    // graphs and threads); the pins, which find their streams by index, then.
    Reset();
}

STDMETHODIMP CKVSsfRd::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IKVSsfRd || riid == IID_IDispatch)
        return GetInterface(static_cast<IKVSsfRd*>(this), ppv);
    if (riid == IID_IFileSourceFilter)
        return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    if (riid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IAMOpenProgress)
        return GetInterface(static_cast<IAMOpenProgress*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

void CKVSsfRd::Reset() {
    m_Manifest.Clear();
    {
        CAutoLock lock(&m_cStateLock);
        IncrementPinVersion();
        while (GetPinCount() > 0)
            delete GetPin(GetPinCount() - 1);
    }
    CAutoLock position(&m_csPosition);
    m_rtDuration = m_rtCurrent = m_rtStart = m_rtStop = 0;
    m_dRate = 1.0;
}

STDMETHODIMP CKVSsfRd::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
    Reset();
    HRESULT hr = CatchOutOfMemory([&] {
        m_strUrl = pszFileName != nullptr ? pszFileName : L"";
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    CAutoLock lock(&m_cStateLock);
    std::string url;
    hr = WideToAnsi(m_strUrl.data(), m_strUrl.size(), &url);
    // The model is emptied by the next Load or Reset whatever this one left in it.
    if (SUCCEEDED(hr)) {
        m_loadWatch.Restart();
        m_bLoading = true;
        hr = CatchOutOfMemory([&] { return m_Manifest.Load(url.c_str(), &m_loadWatch); });
        m_bLoading = false;
    }
    if (FAILED(hr))
        return hr;
    {
        CAutoLock position(&m_csPosition);
        m_rtDuration = m_rtStop = m_Manifest.GetDuration();
    }
    hr = CatchOutOfMemory([this] { return CreatePins(); });
    if (FAILED(hr)) {
        Reset();
        return hr;
    }
    return S_OK;
}

HRESULT CKVSsfRd::CreatePins() {
    CAutoLock lock(&m_cStateLock);
    IncrementPinVersion();
    for (size_t i = 0; i < m_Manifest.Streams.size(); ++i) {
        std::wstring name;
        HRESULT hr = AnsiToWide(m_Manifest.Streams[i]->PinName.data(),
                                m_Manifest.Streams[i]->PinName.size(), &name);
        if (FAILED(hr))
            return hr;
        hr = S_OK;
        // The pin appends itself to the filter's array.
        auto* pin = new (std::nothrow) CKVSsfRdOutputPin(this, &hr, name.c_str(), i);
        if (pin == nullptr)
            return E_OUTOFMEMORY;
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

STDMETHODIMP CKVSsfRd::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    if (ppszFileName == nullptr)
        return E_POINTER;
    *ppszFileName = nullptr;
    if (!m_strUrl.empty()) {
        const size_t bytes = (m_strUrl.size() + 1) * sizeof(WCHAR);
        auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (copy == nullptr)
            return E_OUTOFMEMORY;
        std::wmemcpy(copy, m_strUrl.c_str(), m_strUrl.size() + 1);
        *ppszFileName = copy;
    }
    if (pmt != nullptr)
        return CopyMediaType(pmt, &m_mtFile);
    return S_OK;
}

STDMETHODIMP CKVSsfRd::QueryProgress(LONGLONG* pllTotal, LONGLONG* pllCurrent) {
    if (pllTotal == nullptr || pllCurrent == nullptr)
        return E_POINTER;
    const uint64_t received = m_loadWatch.Received();
    const uint64_t expected = m_bLoading ? m_loadWatch.Expected() : received;
    *pllCurrent = LONGLONG(received);
    *pllTotal = LONGLONG(expected > received ? expected : received);
    return S_OK;
}

STDMETHODIMP CKVSsfRd::AbortOperation() {
    m_loadWatch.Abort();
    return S_OK;
}

STDMETHODIMP_(ULONG) CKVSsfRd::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

STDMETHODIMP CKVSsfRd::GetState(DWORD, FILTER_STATE* State) {
    if (State == nullptr)
        return E_POINTER;
    *State = m_State;
    return m_State == State_Paused && IsLive() ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CKVSsfRd::Pause() {
    CAutoLock lock(&m_cStateLock);
    // A live window moves while stopped: start from the current manifest. A failed
    // refresh (out of memory included) does not fail the pause: the model keeps what it has.
    if (m_State == State_Stopped && IsLive())
        CatchOutOfMemory([this] { return m_Manifest.Refresh(); });
    return CSource::Pause();
}

STDMETHODIMP CKVSsfRd::Stop() {
    const HRESULT hr = CSource::Stop();
    if (IsLive()) {
        CAutoLock position(&m_csPosition);
        m_rtCurrent = 0;
    }
    return hr;
}

CSSFStream* CKVSsfRd::GetStream(uint64_t index) {
    if (index >= m_Manifest.Streams.size())
        return nullptr;
    return m_Manifest.Streams[size_t(index)].get();
}

void CKVSsfRd::UpdateCurrentPosition(REFERENCE_TIME rtStop) {
    CAutoLock position(&m_csPosition);
    if (rtStop > m_rtCurrent)
        m_rtCurrent = rtStop;
    if (m_rtCurrent > m_rtStop)
        m_rtCurrent = m_rtStop;
}

CKVSsfRdOutputPin* CKVSsfRd::OutputPin(int index) {
    return static_cast<CKVSsfRdOutputPin*>(GetPin(index));
}
