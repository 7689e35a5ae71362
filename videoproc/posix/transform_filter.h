// CPictureTransform: a filter with one input and one output pin that turns each input
// sample into zero or more uncompressed pictures, synchronously on the upstream thread.
// The decoders and the scalers of the processor's graph derive from it.
//
// Threads and locks: state and connection changes run under the filter lock; Receive,
// EndOfStream and the stream resets of flushes and Stop run under the receive lock,
// which is taken after the filter lock and never the other way round. Stop decommits
// the allocators first, so a Receive waiting for an output buffer returns before Stop
// takes the receive lock; BeginFlush passes the flush downstream first for the same
// reason.
#pragma once

#include <memory>
#include <new>

#include "framework/base_filter.h"
#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/input_pin.h"
#include "framework/output_pin.h"
#include "videoproc/posix/video_picture.h"

class CPictureTransform;

class CPictureTransformInputPin : public CBaseInputPin {
public:
    CPictureTransformInputPin(CPictureTransform* filter, CCritSec* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;

    STDMETHODIMP Receive(IMediaSample* pSample) override;
    // Drains the transform, then passes the end on; ignored while stopped or flushing.
    STDMETHODIMP EndOfStream() override;
    // Passed downstream; BeginFlush then resets the transform's stream state.
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CPictureTransform* const m_transform;
};

class CPictureTransformOutputPin : public CBaseOutputPin {
public:
    CPictureTransformOutputPin(CPictureTransform* filter, CCritSec* lock, HRESULT* phr);

    // Both need the input connected (VFW_E_NOT_CONNECTED; no types before).
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    // At least two buffers of the connection type's picture size.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

private:
    CPictureTransform* const m_transform;
};

// The properties an output picture carries.
struct PictureProperties {
    bool hasStart = false;
    bool hasStop = false;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool syncPoint = true;
    bool preroll = false;
    bool discontinuity = false;
    bool hasMediaTime = false;
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
};

class CPictureTransform : public CBaseFilter {
public:
    CPictureTransform(LPCWSTR name, REFCLSID clsid, HRESULT* phr);
    ~CPictureTransform() override;

    // Index 0 the input "In", 1 the output "Out".
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;

    // The base's, then the stream state reset once no Receive runs.
    STDMETHODIMP Stop() override;

protected:
    friend class CPictureTransformInputPin;
    friend class CPictureTransformOutputPin;

    // Connection, under the filter lock. CheckInputType: S_OK for an acceptable input
    // type. SetInputType prepares for it; BreakInput undoes that.
    virtual HRESULT CheckInputType(const CMediaType& type) = 0;
    virtual HRESULT SetInputType(const CMediaType& type) = 0;
    virtual void BreakInput() {}
    // Output types, given the connected input type.
    virtual HRESULT CheckOutputType(const CMediaType& input, const CMediaType& output) = 0;
    // S_OK and the type at position; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetOutputType(const CMediaType& input, int position, CMediaType* type) = 0;

    // Streaming, under the receive lock. Transform handles one input sample (already
    // checked for streaming) and returns the first delivery failure. Drain delivers what
    // is held back at the end of the stream. ResetStream forgets the stream after a
    // flush or Stop.
    virtual HRESULT Transform(IMediaSample* sample) = 0;
    virtual HRESULT Drain() { return S_OK; }
    virtual void ResetStream() {}

    // Scales the source planes to the output connection's picture, stamps it and
    // delivers it: S_OK (nothing delivered while flushing), or the failure of
    // GetDeliveryBuffer, the scaler or Deliver. Receive lock.
    HRESULT DeliverPicture(const uint8_t* const data[4], const int linesize[4], int width,
                           int height, AVPixelFormat format, const PictureProperties& props);

    const CMediaType& InputType() const { return m_input->CurrentMediaType(); }

    CCritSec m_csFilter;
    CCritSec m_csReceive;

private:
    std::unique_ptr<CPictureTransformInputPin> m_input;
    std::unique_ptr<CPictureTransformOutputPin> m_output;
    VideoPicture m_outputPicture; // the output connection's; filter lock, read while streaming
    CPictureScaler m_scaler;      // receive lock
};

// Creates a Filter constructed with (argument, phr) for the class table: E_POINTER,
// CLASS_E_NOAGGREGATION with an outer object, E_OUTOFMEMORY, the constructor's failure,
// else the filter's answer for riid.
template <typename Filter, typename Argument>
HRESULT CreatePictureTransform(Argument argument, IUnknown* pOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    ComPtr<Filter> filter(new (std::nothrow) Filter(argument, &hr));
    if (!filter)
        return E_OUTOFMEMORY;
    if (FAILED(hr))
        return hr;
    return filter->NonDelegatingQueryInterface(riid, ppv);
}
