#include "videoproc/posix/video_picture.h"

#include <cstring>
#include <numeric>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "framework/image_size.h"

namespace {

// Larger pictures are refused so that every size computation fits 32 bits.
constexpr LONG kMaxDimension = 16384;

struct SubtypeInfo {
    DWORD fourcc; // 0 for the RGB subtypes
    const GUID* rgb;
    AVPixelFormat format;
    WORD bitCount;
};

const SubtypeInfo kSubtypes[] = {
    {MakeFourCC('I', '4', '2', '0'), nullptr, AV_PIX_FMT_YUV420P, 12},
    {MakeFourCC('I', 'Y', 'U', 'V'), nullptr, AV_PIX_FMT_YUV420P, 12},
    {MakeFourCC('Y', 'V', '1', '2'), nullptr, AV_PIX_FMT_YUV420P, 12},
    {MakeFourCC('N', 'V', '1', '2'), nullptr, AV_PIX_FMT_NV12, 12},
    {MakeFourCC('Y', 'U', 'Y', '2'), nullptr, AV_PIX_FMT_YUYV422, 16},
    {MakeFourCC('U', 'Y', 'V', 'Y'), nullptr, AV_PIX_FMT_UYVY422, 16},
    {0, &MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, 24},
    {0, &MEDIASUBTYPE_RGB32, AV_PIX_FMT_BGRA, 32},
};

const SubtypeInfo* FindSubtype(const GUID& subtype) {
    for (const SubtypeInfo& info : kSubtypes) {
        if (info.rgb != nullptr ? subtype == *info.rgb : subtype == FourCCSubtype(info.fourcc))
            return &info;
    }
    return nullptr;
}

bool IsPacked(AVPixelFormat format) {
    return format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_NV12;
}

} // namespace

const BITMAPINFOHEADER* VideoBitmapHeader(const AM_MEDIA_TYPE& type, ULONG* headerLength) {
    if (type.pbFormat == nullptr)
        return nullptr;
    ULONG length = 0;
    const BITMAPINFOHEADER* header = nullptr;
    if (type.formattype == FORMAT_VideoInfo) {
        length = sizeof(VIDEOINFOHEADER);
        header = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    } else if (type.formattype == FORMAT_VideoInfo2) {
        length = sizeof(VIDEOINFOHEADER2);
        header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    } else if (type.formattype == FORMAT_MPEG2Video) {
        length = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
        header = &reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat)->hdr.bmiHeader;
    }
    if (header == nullptr || type.cbFormat < length)
        return nullptr;
    if (headerLength != nullptr)
        *headerLength = length;
    return header;
}

bool ReadVideoPicture(const AM_MEDIA_TYPE& type, VideoPicture* picture) {
    if (type.majortype != MEDIATYPE_Video || type.formattype == FORMAT_MPEG2Video)
        return false;
    const BITMAPINFOHEADER* header = VideoBitmapHeader(type, nullptr);
    const SubtypeInfo* info = FindSubtype(type.subtype);
    if (header == nullptr || info == nullptr)
        return false;
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    if (header->biWidth <= 0 || header->biWidth > kMaxDimension || height == 0 ||
        height > kMaxDimension)
        return false;
    picture->subtype = type.subtype;
    picture->format = info->format;
    picture->width = header->biWidth;
    picture->height = height;
    picture->bottomUp = info->rgb != nullptr && header->biHeight > 0;
    return true;
}

AVPixelFormat PixelFormatOf(const GUID& subtype) {
    const SubtypeInfo* info = FindSubtype(subtype);
    return info != nullptr ? info->format : AV_PIX_FMT_NONE;
}

LONG PictureSize(const GUID& subtype, LONG width, LONG height) {
    const SubtypeInfo* info = FindSubtype(subtype);
    if (info == nullptr || width <= 0 || width > kMaxDimension || height == 0 ||
        height > kMaxDimension || height < -kMaxDimension)
        return 0;
    if (IsPacked(info->format))
        return ImageSize(subtype, width, height);
    const int size =
        av_image_get_buffer_size(info->format, width, height < 0 ? -height : height, 1);
    return size > 0 ? size : 0;
}

HRESULT MakeVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame,
                      bool videoInfo2, CMediaType* type) {
    const SubtypeInfo* info = FindSubtype(subtype);
    const LONG size = PictureSize(subtype, width, height);
    if (info == nullptr || size == 0)
        return E_INVALIDARG;
    type->InitMediaType();
    const ULONG length = videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    BYTE* block = type->AllocFormatBuffer(length);
    if (block == nullptr)
        return E_OUTOFMEMORY;
    std::memset(block, 0, length);
    const RECT whole{0, 0, width, height};
    BITMAPINFOHEADER* header = nullptr;
    if (videoInfo2) {
        auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block);
        vih2->rcSource = vih2->rcTarget = whole;
        vih2->AvgTimePerFrame = avgTimePerFrame;
        const LONG divisor = std::gcd(width, height);
        vih2->dwPictAspectRatioX = DWORD(width / divisor);
        vih2->dwPictAspectRatioY = DWORD(height / divisor);
        header = &vih2->bmiHeader;
    } else {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
        vih->rcSource = vih->rcTarget = whole;
        vih->AvgTimePerFrame = avgTimePerFrame;
        header = &vih->bmiHeader;
    }
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = info->bitCount;
    header->biCompression = info->rgb != nullptr ? DWORD(BI_RGB) : info->fourcc;
    header->biSizeImage = DWORD(size);
    type->SetType(&MEDIATYPE_Video);
    type->SetSubtype(&subtype);
    type->SetFormatType(videoInfo2 ? &FORMAT_VideoInfo2 : &FORMAT_VideoInfo);
    type->SetSampleSize(ULONG(size));
    type->SetTemporalCompression(FALSE);
    return S_OK;
}

bool PicturePlanes(const VideoPicture& picture, BYTE* buffer, LONG size, uint8_t* data[4],
                   int linesize[4]) {
    for (int i = 0; i < 4; ++i) {
        data[i] = nullptr;
        linesize[i] = 0;
    }
    if (IsPacked(picture.format)) {
        const LONG stride = ImageStride(picture.subtype, picture.width);
        if (stride <= 0 || int64_t(stride) * picture.height > size)
            return false;
        data[0] = buffer;
        linesize[0] = stride;
        if (picture.bottomUp) {
            data[0] = buffer + ptrdiff_t(stride) * (picture.height - 1);
            linesize[0] = -stride;
        }
        return true;
    }
    const int need = av_image_fill_arrays(data, linesize, buffer, picture.format, picture.width,
                                          picture.height, 1);
    if (need < 0 || need > size)
        return false;
    if (picture.subtype == FourCCSubtype(MakeFourCC('Y', 'V', '1', '2')))
        std::swap(data[1], data[2]);
    return true;
}

CPictureScaler::~CPictureScaler() {
    sws_freeContext(m_context);
}

HRESULT CPictureScaler::Scale(const uint8_t* const srcData[4], const int srcLinesize[4],
                              int srcWidth, int srcHeight, AVPixelFormat srcFormat,
                              const VideoPicture& dst, uint8_t* const dstData[4],
                              const int dstLinesize[4]) {
    m_context =
        sws_getCachedContext(m_context, srcWidth, srcHeight, srcFormat, dst.width, dst.height,
                             dst.format, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (m_context == nullptr)
        return E_OUTOFMEMORY;
    sws_scale(m_context, srcData, srcLinesize, 0, srcHeight, dstData, dstLinesize);
    return S_OK;
}
