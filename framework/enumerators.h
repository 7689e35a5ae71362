// CEnumPins, CEnumMediaTypes: enumerators over a filter's pins and a pin's preferred
// media types. Each holds a reference to what it enumerates and remembers the version
// it started from: once the filter's pin version (or the pin's media type version) has
// changed, Next, Skip and Clone fail with VFW_E_ENUM_OUT_OF_SYNC until Reset.
#pragma once

#include <atomic>

#include "framework/platform/platform.h"

class CBaseFilter;
class CBasePin;

class CEnumPins final : public IEnumPins {
public:
    // At the first pin, or a copy of pEnum's position. The count starts at 0.
    explicit CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnum = nullptr);
    ~CEnumPins();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // Referenced pins; S_FALSE when fewer than cPins were left. pcFetched may be null
    // only when cPins is 1.
    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    // S_FALSE when skipping past the end.
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

private:
    bool OutOfSync() const;

    std::atomic<ULONG> m_cRef{0};
    CBaseFilter* const m_pFilter; // referenced
    // Used by one thread at a time, as for every COM enumerator.
    int m_Position = 0;
    LONG m_Version = 0;
};

class CEnumMediaTypes final : public IEnumMediaTypes {
public:
    explicit CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnum = nullptr);
    ~CEnumMediaTypes();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // Task-memory copies (for DeleteMediaType) of the pin's GetMediaType(position)
    // answers, up to the first answer other than S_OK.
    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

private:
    bool OutOfSync() const;

    std::atomic<ULONG> m_cRef{0};
    CBasePin* const m_pPin; // referenced
    int m_Position = 0;
    LONG m_Version = 0;
};
