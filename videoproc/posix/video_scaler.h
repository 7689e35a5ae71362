// CVideoScaler: the processor's colour converter and resizer over libswscale.
//
// Both take the uncompressed subtypes of video_picture.h in a VIDEOINFOHEADER/2. The
// converter's output keeps the input's size and may change the subtype; the resizer's
// output may be of any size and subtype. Every picture is scaled bicubically; times,
// media times and flags go from each input sample to its output picture.
#pragma once

#include "videoproc/posix/transform_filter.h"

enum class ScalerRole { Converter, Resizer };

class CVideoScaler : public CPictureTransform {
public:
    CVideoScaler(ScalerRole role, HRESULT* phr);
    ~CVideoScaler() override;

    // Class-table creators; CLASS_E_NOAGGREGATION with an outer object.
    static HRESULT CreateConverter(IUnknown* pOuter, REFIID riid, void** ppv);
    static HRESULT CreateResizer(IUnknown* pOuter, REFIID riid, void** ppv);

protected:
    HRESULT CheckInputType(const CMediaType& type) override;
    HRESULT SetInputType(const CMediaType& type) override;
    HRESULT CheckOutputType(const CMediaType& input, const CMediaType& output) override;
    // Converter: YUY2 first, then the other subtypes, at the input's size. Resizer: the
    // input type.
    HRESULT GetOutputType(const CMediaType& input, int position, CMediaType* type) override;
    // E_INVALIDARG for a sample shorter than its picture.
    HRESULT Transform(IMediaSample* sample) override;

private:
    const ScalerRole m_role;
    VideoPicture m_inputPicture; // set on connection, then read under the receive lock
};
