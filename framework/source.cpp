#include "framework/source.h"

#include <algorithm>
#include <new>

#include "framework/source_stream.h"

CSource::CSource(LPCWSTR pName, LPUNKNOWN lpunk, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid, phr) {}

CSource::~CSource() {
    // A pin's destructor removes it from the array; take it out first so that it
    // finds nothing left to do.
    while (!m_paStreams.empty()) {
        CSourceStream* last = m_paStreams.back();
        m_paStreams.pop_back();
        IncrementPinVersion();
        delete last;
    }
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return int(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n < 0 || size_t(n) >= m_paStreams.size())
        return nullptr;
    return m_paStreams[size_t(n)];
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.push_back(pStream);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    const auto it = std::find(m_paStreams.begin(), m_paStreams.end(), pStream);
    if (it == m_paStreams.end())
        return S_FALSE;
    m_paStreams.erase(it);
    IncrementPinVersion();
    return S_OK;
}

STDMETHODIMP CSource::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr)
        return E_POINTER;
    *ppPin = nullptr;
    // Digits only, no sign, no leading zero; an overlong number is simply not found.
    size_t number = 0;
    size_t digits = 0;
    for (const WCHAR* p = Id; *p != 0; ++p, ++digits) {
        if (*p < L'0' || *p > L'9' || digits >= 9 || (digits == 0 && *p == L'0'))
            return VFW_E_NOT_FOUND;
        number = number * 10 + size_t(*p - L'0');
    }
    CAutoLock lock(&m_cStateLock);
    if (digits == 0 || number > m_paStreams.size())
        return VFW_E_NOT_FOUND;
    IPin* pin = static_cast<CBasePin*>(m_paStreams[number - 1]);
    return GetInterface(pin, reinterpret_cast<void**>(ppPin));
}

int CSource::FindPinNumber(IPin* pPin) {
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i) {
        if (static_cast<IPin*>(static_cast<CBasePin*>(m_paStreams[i])) == pPin)
            return int(i);
    }
    return -1;
}
