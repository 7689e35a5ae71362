// CSource: a source filter whose pins are CSourceStreams.
//
// The state lock m_cStateLock is the filter lock and the lock of every pin; it guards
// the filter state and the pin array.
#pragma once

#include <vector>

#include "framework/base_filter.h"

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(LPCWSTR pName, LPUNKNOWN lpunk, REFCLSID clsid, HRESULT* phr = nullptr);
    // Destroys the remaining pins, last first.
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // Called by CSourceStream's constructor and destructor. AddPin: E_OUTOFMEMORY;
    // RemovePin: S_FALSE when pStream is not a pin of this filter.
    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);

    // Id is the pin's decimal 1-based number; VFW_E_NOT_FOUND.
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    // The 0-based position of pPin; -1 when it is not a pin of this filter.
    int FindPinNumber(IPin* pPin);

    CCritSec* pStateLock() { return &m_cStateLock; }

protected:
    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams; // owned; m_cStateLock
};
