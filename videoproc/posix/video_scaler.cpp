#include "videoproc/posix/video_scaler.h"

#include "videoproc/posix/processor_classes.h"

CVideoScaler::CVideoScaler(ScalerRole role, HRESULT* phr)
    : CPictureTransform(
          role == ScalerRole::Converter ? L"Colour converter" : L"Resizer",
          role == ScalerRole::Converter ? CLSID_KvssfColorConverter : CLSID_KvssfResizer, phr),
      m_role(role) {}

CVideoScaler::~CVideoScaler() = default;

HRESULT CVideoScaler::CreateConverter(IUnknown* pOuter, REFIID riid, void** ppv) {
    return CreatePictureTransform<CVideoScaler>(ScalerRole::Converter, pOuter, riid, ppv);
}

HRESULT CVideoScaler::CreateResizer(IUnknown* pOuter, REFIID riid, void** ppv) {
    return CreatePictureTransform<CVideoScaler>(ScalerRole::Resizer, pOuter, riid, ppv);
}

HRESULT CVideoScaler::CheckInputType(const CMediaType& type) {
    VideoPicture picture;
    return ReadVideoPicture(type, &picture) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoScaler::SetInputType(const CMediaType& type) {
    VideoPicture picture;
    if (!ReadVideoPicture(type, &picture))
        return VFW_E_TYPE_NOT_ACCEPTED;
    CAutoLock lock(&m_csReceive);
    m_inputPicture = picture;
    return S_OK;
}

HRESULT CVideoScaler::CheckOutputType(const CMediaType& input, const CMediaType& output) {
    VideoPicture in, out;
    if (!ReadVideoPicture(input, &in) || !ReadVideoPicture(output, &out))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (m_role == ScalerRole::Converter && (in.width != out.width || in.height != out.height))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoScaler::GetOutputType(const CMediaType& input, int position, CMediaType* type) {
    if (m_role == ScalerRole::Resizer) {
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        return type->Set(input);
    }
    static const DWORD kFourCCs[] = {
        MakeFourCC('Y', 'U', 'Y', '2'), MakeFourCC('U', 'Y', 'V', 'Y'),
        MakeFourCC('I', '4', '2', '0'), MakeFourCC('I', 'Y', 'U', 'V'),
        MakeFourCC('Y', 'V', '1', '2'), MakeFourCC('N', 'V', '1', '2')};
    constexpr int kFourCCCount = int(sizeof(kFourCCs) / sizeof(kFourCCs[0]));
    VideoPicture in;
    if (position >= kFourCCCount + 2 || !ReadVideoPicture(input, &in))
        return VFW_S_NO_MORE_ITEMS;
    const REFERENCE_TIME avgTimePerFrame =
        input.formattype == FORMAT_VideoInfo
            ? reinterpret_cast<const VIDEOINFOHEADER*>(input.pbFormat)->AvgTimePerFrame
            : reinterpret_cast<const VIDEOINFOHEADER2*>(input.pbFormat)->AvgTimePerFrame;
    const GUID subtype = position < kFourCCCount    ? FourCCSubtype(kFourCCs[position])
                         : position == kFourCCCount ? MEDIASUBTYPE_RGB32
                                                    : MEDIASUBTYPE_RGB24;
    return MakeVideoType(subtype, in.width, in.height, avgTimePerFrame, false, type);
}

HRESULT CVideoScaler::Transform(IMediaSample* sample) {
    // A sample may announce a new input type; one this filter cannot read is refused.
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
        VideoPicture picture;
        const bool readable = ReadVideoPicture(*changed, &picture);
        DeleteMediaType(changed);
        if (!readable)
            return VFW_E_TYPE_NOT_ACCEPTED;
        m_inputPicture = picture;
    }
    BYTE* data = nullptr;
    uint8_t* planes[4];
    int strides[4];
    if (FAILED(sample->GetPointer(&data)) ||
        !PicturePlanes(m_inputPicture, data, sample->GetActualDataLength(), planes, strides))
        return E_INVALIDARG;

    PictureProperties props;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT hrTime = sample->GetTime(&start, &stop);
    props.hasStart = hrTime == S_OK || hrTime == VFW_S_NO_STOP_TIME;
    props.hasStop = hrTime == S_OK;
    props.start = start;
    props.stop = stop;
    props.hasMediaTime = sample->GetMediaTime(&props.mediaStart, &props.mediaStop) == S_OK;
    props.syncPoint = sample->IsSyncPoint() == S_OK;
    props.preroll = sample->IsPreroll() == S_OK;
    props.discontinuity = sample->IsDiscontinuity() == S_OK;
    return DeliverPicture(planes, strides, m_inputPicture.width, m_inputPicture.height,
                          m_inputPicture.format, props);
}
