#include "framework/source_stream.h"

#include <cstring>
#include <string>

#include "framework/com_ptr.h"

CSourceStream::CSourceStream(LPCWSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName)
    : CAMThread(phr), CBaseOutputPin(pObjectName, pms, pms->pStateLock(), phr, pName),
      m_pFilter(pms) {
    const HRESULT hr = m_pFilter->AddPin(this);
    if (FAILED(hr) && phr != nullptr)
        *phr = hr;
}

CSourceStream::~CSourceStream() {
    m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!Create())
        return E_FAIL;
    hr = Init();
    if (FAILED(hr)) {
        // The worker has ended after its reply.
        Close();
        return hr;
    }
    return Pause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr))
        return hr;
    if (ThreadExists()) {
        hr = Stop();
        if (FAILED(hr))
            return hr;
        hr = Exit();
        if (FAILED(hr))
            return hr;
        Close();
    }
    return S_OK;
}

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) {
    if (Id == nullptr)
        return E_POINTER;
    *Id = nullptr;
    const int position = m_pFilter->FindPinNumber(static_cast<IPin*>(this));
    if (position < 0)
        return VFW_E_NOT_FOUND;
    const std::wstring text = std::to_wstring(position + 1);
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*Id == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*Id, text.c_str(), bytes);
    return S_OK;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mine;
    if (FAILED(GetMediaType(&mine)))
        return E_FAIL;
    return mine == *pMediaType ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(CMediaType*) {
    return E_UNEXPECTED;
}

DWORD CSourceStream::ThreadProc() {
    DWORD command;
    do {
        command = GetRequest();
        if (command != CMD_INIT)
            Reply(DWORD(E_UNEXPECTED));
    } while (command != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(DWORD(hr));
        return 1;
    }
    Reply(DWORD(S_OK));

    for (;;) {
        command = GetRequest();
        switch (command) {
        case CMD_EXIT:
            Reply(DWORD(S_OK));
            OnThreadDestroy();
            return 0;
        case CMD_PAUSE:
        case CMD_RUN:
            Reply(DWORD(S_OK));
            DoBufferProcessingLoop();
            break;
        case CMD_STOP:
            Reply(DWORD(S_OK));
            break;
        default:
            Reply(DWORD(E_NOTIMPL));
            break;
        }
    }
}

HRESULT CSourceStream::OnDeliveryBufferFailed(HRESULT) {
    return S_OK;
}

HRESULT CSourceStream::WaitForProgress(DWORD) {
    return E_NOTIMPL;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    DWORD command;
    do {
        while (!CheckRequest(&command)) {
            if (IsDeliveryHeld()) {
                CheckRequest(nullptr, kLoopWaitMs);
                continue;
            }
            ComPtr<IMediaSample> sample;
            HRESULT hr = GetDeliveryBuffer(sample.Out(), nullptr, nullptr, 0);
            if (FAILED(hr)) {
                hr = OnDeliveryBufferFailed(hr);
                if (FAILED(hr))
                    return hr;
                CheckRequest(nullptr, kBufferRetryMs);
                continue;
            }
            hr = FillBuffer(sample.Get());
            if (hr == S_OK) {
                hr = Deliver(sample.Get());
                if (hr != S_OK)
                    return S_OK;
                continue;
            }
            sample.Reset();
            if (hr == S_FALSE) {
                DeliverEndOfStream();
                return S_OK;
            }
            if (hr == E_PENDING) {
                // Progress, a time-out or a command ends each wait; never a tight loop.
                const HRESULT waited = WaitForProgress(kLoopWaitMs);
                if (waited == S_FALSE)
                    CheckRequest(nullptr, kLoopWaitMs);
                if (SUCCEEDED(waited))
                    continue;
            }
            DeliverEndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
            return hr;
        }
        if (command == CMD_RUN || command == CMD_PAUSE)
            Reply(DWORD(S_OK));
        else if (command != CMD_STOP && command != CMD_EXIT)
            Reply(DWORD(E_UNEXPECTED));
    } while (command != CMD_STOP && command != CMD_EXIT);
    return S_FALSE;
}
