// CKVSsfRd: the source filter. Load fetches a presentation's manifest and makes one
// output pin per stream; the filter keeps the presentation-wide position (duration,
// current position, segment start, stop, rate) that its pins and IMediaSeeking share.
//
// Locks, always taken in this order when nested: m_csSeek (SetPositions), the state
// lock m_cStateLock (state changes, pins, Load), m_csPosition (the four positions).
// Pin workers take only m_csPosition.
#pragma once

#include <atomic>
#include <string>

#include "filter/kvssf_reader_interface.h"
#include "fragments/http_client.h"
#include "framework/filter_dispatch.h"
#include "framework/media_type.h"
#include "framework/source.h"
#include "manifest/manifest.h"

class CKVSsfRdOutputPin;

class CKVSsfRd : public CSource,
                 public IFileSourceFilter,
                 public CFilterDispatchImpl<IKVSsfRd, &IID_IKVSsfRd>,
                 public IMediaSeeking,
                 public IAMFilterMiscFlags,
                 public IAMOpenProgress {
public:
    // Null only when out of memory; *phr receives the construction's result.
    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~CKVSsfRd() override;

    DECLARE_IUNKNOWN
    // IKVSsfRd and IDispatch (the dispatch part, answered from the module's type
    // library), IFileSourceFilter, IAMFilterMiscFlags, IAMOpenProgress, IMediaSeeking, then the
    // source filter's.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFileSourceFilter. Load: the name is the presentation's URL; the type is ignored.
    STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    // IBaseFilter. A live presentation refreshes its manifest when paused from stopped,
    // resets its position on Stop and cannot cue while paused.
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;

    // IAMFilterMiscFlags: a source.
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    // IAMOpenProgress, from any thread, without the filter's locks. QueryProgress: the
    // bytes Load's downloads declared and received so far (total never below current);
    // outside Load both are the last Load's received bytes. AbortOperation: a Load under
    // way ends soon with E_ABORT, its downloads cancelled; S_OK either way.
    STDMETHODIMP QueryProgress(LONGLONG* pllTotal, LONGLONG* pllCurrent) override;
    STDMETHODIMP AbortOperation() override;

    // IMediaSeeking (seeking.cpp): media time only; nothing but the capabilities and the
    // preroll for a live presentation.
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

    // For the pins' workers.
    // Stream index of the manifest's list; null when there is none.
    CSSFStream* GetStream(uint64_t index);
    // m_rtCurrent grows to rtStop (capped at the stop position).
    void UpdateCurrentPosition(REFERENCE_TIME rtStop);
    bool IsLive() const { return m_Manifest.IsLive != FALSE; }
    // The model, for a host's reports (its download failures); read between calls.
    const CSSFManifest& Manifest() const { return m_Manifest; }
    // Written only while no worker runs (a seek stops them first).
    REFERENCE_TIME SegmentStart() const { return m_rtStart; }
    REFERENCE_TIME StopPosition() const { return m_rtStop; }
    double Rate() const { return m_dRate; }

private:
    CKVSsfRd(LPUNKNOWN pUnk, HRESULT* phr);

    // Removes every pin, clears the model and the positions.
    void Reset();
    HRESULT CreatePins();
    CKVSsfRdOutputPin* OutputPin(int index);
    // The steps of a position change (seeking.cpp), under the state lock.
    void BeginSeek();
    void ApplyPositions(REFERENCE_TIME rtStart, REFERENCE_TIME rtStop);
    void EndSeek();

    CHttpTransferWatch m_loadWatch; // before m_Manifest: its fragments may report to it
    std::atomic<bool> m_bLoading{false};
    CSSFManifest m_Manifest;
    std::wstring m_strUrl;
    CMediaType m_mtFile; // GetCurFile's type, never filled
    CCritSec m_csSeek;
    CCritSec m_csPosition;
    REFERENCE_TIME m_rtDuration = 0;  // guarded by m_csPosition
    REFERENCE_TIME m_rtCurrent = 0;   // guarded by m_csPosition
    REFERENCE_TIME m_rtStart = 0;     // guarded by m_csPosition
    REFERENCE_TIME m_rtStop = 0;      // guarded by m_csPosition
    std::atomic<double> m_dRate{1.0}; // no lock: read by the workers at segment starts
};
