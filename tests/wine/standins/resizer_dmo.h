// CResizerDmo: a resizer as a DirectX Media Object, so that the system's DMO wrapper filter
// hosts it where the processor binds the resizer's "@device:dmo:" name. It scales the
// uncompressed pictures of videoproc/posix/video_picture.h with the same bicubic
// libswscale path as the Linux build's resizer, so both give the same bytes.
//
// One input and one output stream; whole pictures, one per buffer. The output type may be
// any handled subtype and size; until one is set the input type is offered. One input
// buffer is held at a time: ProcessInput refuses another (DMO_E_NOTACCEPTING) until
// ProcessOutput has turned it into a picture. Times and the sync point flag go from the
// input buffer to its picture. All methods take the object's lock. The system's wrapper
// aggregates it.
#pragma once

#include <mutex>

#include "framework/com_ptr.h"
#include "framework/unknown.h"
#include "videoproc/posix/video_picture.h"

extern "C" {
#include <dmo.h>
}

class CResizerDmo final : public CUnknown, public IMediaObject {
public:
    explicit CResizerDmo(IUnknown* pOuter);
    ~CResizerDmo() override;

    // The class factory's creator; with an outer object only IID_IUnknown can be asked for.
    static HRESULT Create(IUnknown* pOuter, REFIID riid, void** ppv);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP GetStreamCount(DWORD* inputs, DWORD* outputs) override;
    STDMETHODIMP GetInputStreamInfo(DWORD index, DWORD* flags) override;
    STDMETHODIMP GetOutputStreamInfo(DWORD index, DWORD* flags) override;
    STDMETHODIMP GetInputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* type) override;
    STDMETHODIMP GetOutputType(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* type) override;
    STDMETHODIMP SetInputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) override;
    STDMETHODIMP SetOutputType(DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags) override;
    STDMETHODIMP GetInputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) override;
    STDMETHODIMP GetOutputCurrentType(DWORD index, DMO_MEDIA_TYPE* type) override;
    STDMETHODIMP GetInputSizeInfo(DWORD index, DWORD* size, DWORD* lookahead,
                                  DWORD* alignment) override;
    STDMETHODIMP GetOutputSizeInfo(DWORD index, DWORD* size, DWORD* alignment) override;
    STDMETHODIMP GetInputMaxLatency(DWORD index, REFERENCE_TIME* latency) override;
    STDMETHODIMP SetInputMaxLatency(DWORD index, REFERENCE_TIME latency) override;
    STDMETHODIMP Flush() override;
    STDMETHODIMP Discontinuity(DWORD index) override;
    STDMETHODIMP AllocateStreamingResources() override;
    STDMETHODIMP FreeStreamingResources() override;
    STDMETHODIMP GetInputStatus(DWORD index, DWORD* flags) override;
    STDMETHODIMP ProcessInput(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                              REFERENCE_TIME length) override;
    STDMETHODIMP ProcessOutput(DWORD flags, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers,
                               DWORD* status) override;
    STDMETHODIMP Lock(LONG lock) override;

private:
    struct Stream {
        bool set = false;
        DMO_MEDIA_TYPE type = {};
        VideoPicture picture;
    };
    // Validates type for a stream, then sets, tests or clears it as flags say.
    HRESULT SetType(Stream* stream, DWORD index, const DMO_MEDIA_TYPE* type, DWORD flags);

    std::recursive_mutex m_lock;
    Stream m_input;
    Stream m_output;
    CPictureScaler m_scaler;
    ComPtr<IMediaBuffer> m_pHeld; // the input buffer waiting for ProcessOutput
    DWORD m_dwHeldFlags = 0;
    REFERENCE_TIME m_rtHeldTime = 0;
    REFERENCE_TIME m_rtHeldLength = 0;
};
