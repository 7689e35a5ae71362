#include "framework/video_format_match.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/media_type.h"
#include "framework/subtypes.h"

namespace {

// Headers of this compression carry their codec configuration after the 40 fixed bytes:
// a FORMAT_VideoInfo block must hold the whole header, and compatible types must agree
// in its first bytes past the fixed part.
constexpr DWORD kConfigInHeaderCompression = MakeFourCC('a', 'v', 'c', '1');
constexpr ULONG kConfigCompareEnd = 84;

constexpr REFERENCE_TIME kDefaultFrameDuration = 333333;

constexpr ULONG kVideoInfoHeaderOffset = 48;  // VIDEOINFOHEADER-like blocks
constexpr ULONG kVideoInfo2HeaderOffset = 72; // VIDEOINFOHEADER2 and MPEG2VIDEOINFO
constexpr ULONG kVideoInfo2AspectOffset = 56; // dwPictAspectRatioX, then Y
constexpr ULONG kFrameDurationOffset = 40;    // AvgTimePerFrame
constexpr ULONG kBitmapHeaderSize = 40;

enum class VideoKind { None, VideoInfo, VideoInfo2, Mpeg2Video, MpegVideo, VideoInfoEx };

VideoKind KindOf(const GUID& formatType) {
    if (formatType == FORMAT_VideoInfo)
        return VideoKind::VideoInfo;
    if (formatType == FORMAT_VideoInfo2)
        return VideoKind::VideoInfo2;
    if (formatType == FORMAT_MPEG2Video)
        return VideoKind::Mpeg2Video;
    if (formatType == FORMAT_MPEGVideo)
        return VideoKind::MpegVideo;
    if (formatType == FORMAT_KvssfVideoInfoEx)
        return VideoKind::VideoInfoEx;
    return VideoKind::None;
}

ULONG MinimumLength(VideoKind kind) {
    switch (kind) {
    case VideoKind::VideoInfo:
        return 88;
    case VideoKind::VideoInfo2:
        return 112;
    case VideoKind::Mpeg2Video:
        return 136;
    case VideoKind::MpegVideo:
        return 104;
    case VideoKind::VideoInfoEx:
        return 144;
    case VideoKind::None:
        break;
    }
    return 0;
}

bool HasAspectRatio(VideoKind kind) {
    return kind == VideoKind::VideoInfo2 || kind == VideoKind::Mpeg2Video;
}

ULONG HeaderOffset(VideoKind kind) {
    return HasAspectRatio(kind) ? kVideoInfo2HeaderOffset : kVideoInfoHeaderOffset;
}

template <typename T> T ReadAt(const BYTE* block, ULONG offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof(T));
    return value;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int64_t AbsHeight(const BITMAPINFOHEADER& header) {
    return header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
}

// The fields of a video format block that the compatibility test looks at.
struct VideoFormat {
    VideoKind kind = VideoKind::None;
    const BYTE* block = nullptr;
    ULONG length = 0;
    RECT rcSource{};
    RECT rcTarget{};
    REFERENCE_TIME rtFrame = 0;
    BITMAPINFOHEADER header{};
    ULONG headerOffset = 0;
    DWORD aspectX = 0;
    DWORD aspectY = 0;
};

// False when the type is not a video format type or its block is too short for it.
bool ReadVideoFormat(const AM_MEDIA_TYPE& type, VideoFormat* format) {
    format->kind = KindOf(type.formattype);
    if (format->kind == VideoKind::None || type.pbFormat == nullptr ||
        type.cbFormat < MinimumLength(format->kind))
        return false;
    format->block = type.pbFormat;
    format->length = type.cbFormat;
    format->headerOffset = HeaderOffset(format->kind);
    format->rcSource = ReadAt<RECT>(type.pbFormat, 0);
    format->rcTarget = ReadAt<RECT>(type.pbFormat, sizeof(RECT));
    format->rtFrame = ReadAt<REFERENCE_TIME>(type.pbFormat, kFrameDurationOffset);
    format->header = ReadAt<BITMAPINFOHEADER>(type.pbFormat, format->headerOffset);
    if (format->kind == VideoKind::VideoInfo &&
        format->header.biCompression == kConfigInHeaderCompression &&
        (format->header.biSize < kBitmapHeaderSize ||
         type.cbFormat - kVideoInfoHeaderOffset < format->header.biSize))
        return false;
    if (HasAspectRatio(format->kind)) {
        format->aspectX = ReadAt<DWORD>(type.pbFormat, kVideoInfo2AspectOffset);
        format->aspectY = ReadAt<DWORD>(type.pbFormat, kVideoInfo2AspectOffset + 4);
    }
    if (format->aspectX == 0 || format->aspectY == 0) {
        format->aspectX = DWORD(format->header.biWidth);
        format->aspectY = DWORD(AbsHeight(format->header));
    }
    return true;
}

bool SignFlipAllowed(DWORD compression) {
    return compression == MakeFourCC('Y', 'U', 'Y', '2') ||
           compression == MakeFourCC('U', 'Y', 'V', 'Y') ||
           compression == MakeFourCC('Y', 'V', '1', '2') ||
           compression == MakeFourCC('I', '4', '2', '0') ||
           compression == MakeFourCC('N', 'V', '1', '2');
}

bool HeadersCompatible(const VideoFormat& a, const VideoFormat& b) {
    const BITMAPINFOHEADER& ha = a.header;
    const BITMAPINFOHEADER& hb = b.header;
    if (std::memcmp(&ha, &hb, sizeof(ha)) != 0) {
        if (ha.biWidth != hb.biWidth || AbsHeight(ha) != AbsHeight(hb) ||
            ha.biBitCount != hb.biBitCount || ha.biCompression != hb.biCompression)
            return false;
        if (ha.biHeight != hb.biHeight && !SignFlipAllowed(ha.biCompression))
            return false;
    }
    if (ha.biCompression == kConfigInHeaderCompression) {
        const ULONG end = std::min<ULONG>(ha.biSize, kConfigCompareEnd);
        if (end > kBitmapHeaderSize) {
            if (a.length - a.headerOffset < end || b.length - b.headerOffset < end)
                return false;
            if (std::memcmp(a.block + a.headerOffset + kBitmapHeaderSize,
                            b.block + b.headerOffset + kBitmapHeaderSize,
                            end - kBitmapHeaderSize) != 0)
                return false;
        }
    }
    return true;
}

// A rectangle that stands for the whole picture: empty, or the full width and height.
bool WholePicture(const RECT& rect, int64_t width, int64_t height) {
    return rect.left == 0 && rect.top == 0 && (rect.right == 0 || rect.right == width) &&
           (rect.bottom == 0 || rect.bottom == height);
}

bool RectsCompatible(const RECT& a, const RECT& b, int64_t width, int64_t height) {
    return SameRect(a, b) || (WholePicture(a, width, height) && WholePicture(b, width, height));
}

// The FORMAT_VideoInfo form of a FORMAT_VideoInfo2 or FORMAT_MPEG2Video block of square
// pixels: the rectangles, rates and frame duration, the bitmap header and, from a
// FORMAT_VideoInfo2 block, a palettised header's colour table; other bytes are zero.
// False when the block is not of square pixels or its header does not fit.
bool ToVideoInfoForm(const AM_MEDIA_TYPE& type, std::vector<BYTE>* form) {
    const VideoKind kind = KindOf(type.formattype);
    if (!HasAspectRatio(kind) || type.pbFormat == nullptr || type.cbFormat < MinimumLength(kind))
        return false;
    const BYTE* block = type.pbFormat;
    const auto source = ReadAt<RECT>(block, 0);
    const auto header = ReadAt<BITMAPINFOHEADER>(block, kVideoInfo2HeaderOffset);
    const DWORD aspectX = ReadAt<DWORD>(block, kVideoInfo2AspectOffset);
    const DWORD aspectY = ReadAt<DWORD>(block, kVideoInfo2AspectOffset + 4);
    const int64_t sourceWidth = int64_t(source.right) - source.left;
    const int64_t sourceHeight = int64_t(source.bottom) - source.top;
    const int64_t width = sourceWidth > 0 ? sourceWidth : int64_t(header.biWidth);
    const int64_t height = sourceHeight > 0 ? sourceHeight : AbsHeight(header);
    if (int64_t(aspectY) * width != int64_t(aspectX) * height)
        return false;

    const ULONG formLength = type.cbFormat - (kind == VideoKind::Mpeg2Video ? 48 : 24);
    uint64_t copied = header.biSize;
    if (kind == VideoKind::VideoInfo2 && header.biPlanes == 1 && header.biBitCount <= 8) {
        const uint64_t entries = header.biClrUsed ? header.biClrUsed : 1u << header.biBitCount;
        copied += entries * sizeof(RGBQUAD);
    }
    if (kVideoInfo2HeaderOffset + copied > type.cbFormat ||
        kVideoInfoHeaderOffset + copied > formLength)
        return false;
    form->assign(formLength, 0);
    std::memcpy(form->data(), block, kVideoInfoHeaderOffset);
    std::memcpy(form->data() + kVideoInfoHeaderOffset, block + kVideoInfo2HeaderOffset,
                size_t(copied));
    return true;
}

bool MatchesConverted(const AM_MEDIA_TYPE& videoInfo, const AM_MEDIA_TYPE& other) {
    std::vector<BYTE> form;
    if (!ToVideoInfoForm(other, &form))
        return false;
    return videoInfo.pbFormat != nullptr && videoInfo.cbFormat == form.size() &&
           std::memcmp(videoInfo.pbFormat, form.data(), form.size()) == 0;
}

} // namespace

bool IsVideoFormatType(const GUID& formatType) {
    return KindOf(formatType) != VideoKind::None;
}

ULONG VideoSameTypeMinimumLength(const AM_MEDIA_TYPE& type) {
    const VideoKind kind = KindOf(type.formattype);
    if (kind != VideoKind::VideoInfo && kind != VideoKind::VideoInfo2 &&
        kind != VideoKind::VideoInfoEx)
        return 0;
    ULONG minimum = MinimumLength(kind);
    if (kind == VideoKind::VideoInfo && type.pbFormat != nullptr && type.cbFormat >= minimum) {
        const auto header = ReadAt<BITMAPINFOHEADER>(type.pbFormat, kVideoInfoHeaderOffset);
        if (header.biCompression == kConfigInHeaderCompression)
            minimum = std::max(minimum, kVideoInfoHeaderOffset + header.biSize);
    }
    return minimum;
}

bool VideoFormatsCompatible(const AM_MEDIA_TYPE& first, const AM_MEDIA_TYPE& second) {
    VideoFormat a;
    VideoFormat b;
    if (!ReadVideoFormat(first, &a) || !ReadVideoFormat(second, &b))
        return false;
    // The pictures' aspect ratios must agree; a pair of zeros counts as square pixels.
    if (uint64_t(a.aspectX) * b.aspectY != uint64_t(b.aspectX) * a.aspectY)
        return false;
    if (!HeadersCompatible(a, b))
        return false;
    const REFERENCE_TIME frameA = a.rtFrame ? a.rtFrame : kDefaultFrameDuration;
    const REFERENCE_TIME frameB = b.rtFrame ? b.rtFrame : kDefaultFrameDuration;
    const uint64_t frameGap =
        frameA > frameB ? uint64_t(frameA) - uint64_t(frameB) : uint64_t(frameB) - uint64_t(frameA);
    if (frameGap > 1)
        return false;
    const int64_t width = a.header.biWidth;
    const int64_t height = AbsHeight(a.header);
    return RectsCompatible(a.rcSource, b.rcSource, width, height) &&
           RectsCompatible(a.rcTarget, b.rcTarget, width, height);
}

bool VideoInfoFormsMatch(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    const VideoKind kindA = KindOf(a.formattype);
    const VideoKind kindB = KindOf(b.formattype);
    if (kindA == VideoKind::VideoInfo && HasAspectRatio(kindB))
        return MatchesConverted(a, b);
    if (kindB == VideoKind::VideoInfo && HasAspectRatio(kindA))
        return MatchesConverted(b, a);
    return false;
}
