// Uncompressed pictures of the processor's filters: the video subtypes they handle as
// libavutil pixel formats, the picture a VIDEOINFOHEADER/2 type describes, the plane
// layout of a packed media buffer, and a cached libswscale context that converts and
// scales between them.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "framework/media_type.h"
#include "framework/platform/platform.h"
#include "framework/subtypes.h"

struct SwsContext;

// The picture a media type describes: subtype, bitmap size and orientation.
struct VideoPicture {
    GUID subtype{};
    AVPixelFormat format = AV_PIX_FMT_NONE;
    LONG width = 0;
    LONG height = 0;       // always positive
    bool bottomUp = false; // RGB with a positive biHeight
};

// The bitmap header of a FORMAT_VideoInfo, FORMAT_VideoInfo2 or FORMAT_MPEG2Video block
// long enough to hold it; null otherwise. headerLength receives the structure's size.
const BITMAPINFOHEADER* VideoBitmapHeader(const AM_MEDIA_TYPE& type, ULONG* headerLength);

// MEDIATYPE_Video of a handled uncompressed subtype (I420, IYUV, YV12, NV12, YUY2, UYVY,
// RGB24, RGB32) in a VIDEOINFOHEADER or VIDEOINFOHEADER2 with a positive width and a
// non-zero height: true and the picture; false otherwise.
bool ReadVideoPicture(const AM_MEDIA_TYPE& type, VideoPicture* picture);

// The libavutil format of a handled subtype; AV_PIX_FMT_NONE for any other.
AVPixelFormat PixelFormatOf(const GUID& subtype);

// Bytes a packed picture of subtype at width × height takes (0 when not handled).
LONG PictureSize(const GUID& subtype, LONG width, LONG height);

// A media type for picture: MEDIATYPE_Video, fixed-size samples, FORMAT_VideoInfo (or
// FORMAT_VideoInfo2 when videoInfo2) whose bitmap header and rectangles describe it;
// avgTimePerFrame is copied. E_OUTOFMEMORY, E_INVALIDARG for a subtype not handled.
HRESULT MakeVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame,
                      bool videoInfo2, CMediaType* type);

// The planes of a picture packed in buffer (rows without padding beyond the subtype's
// stride; YV12 with V before U; bottom-up RGB walked backwards): false when the picture
// needs more than size bytes.
bool PicturePlanes(const VideoPicture& picture, BYTE* buffer, LONG size, uint8_t* data[4],
                   int linesize[4]);

// Converts and scales pictures with SWS_BICUBIC, keeping its context across calls while
// the sizes and formats stay. One thread at a time.
class CPictureScaler {
public:
    CPictureScaler() = default;
    ~CPictureScaler();

    // Writes the source planes, srcWidth × srcHeight in srcFormat, into dst's planes.
    // E_OUTOFMEMORY when no context can be made for the pair.
    HRESULT Scale(const uint8_t* const srcData[4], const int srcLinesize[4], int srcWidth,
                  int srcHeight, AVPixelFormat srcFormat, const VideoPicture& dst,
                  uint8_t* const dstData[4], const int dstLinesize[4]);

private:
    CPictureScaler(const CPictureScaler&) = delete;
    CPictureScaler& operator=(const CPictureScaler&) = delete;

    SwsContext* m_context = nullptr;
};
