// The one media type each stream offers: compressed video (generic FourCC, or H.264
// with an "avcC" box), audio as WAVEFORMATEX, or the processed YUY2 video.
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "framework/image_size.h"
#include "framework/media_type.h"
#include "framework/subtypes.h"
#include "manifest/avc_configuration.h"
#include "manifest/chunk.h"
#include "manifest/fourcc.h"
#include "manifest/h264/sps_reader.h"
#include "manifest/stream.h"
#include "manifest/track.h"
#include "manifest/video_stream.h"

static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");

namespace {

constexpr uint32_t kAudioTagAac = 255;
constexpr WORD kFormatTagPcm = 1;

HRESULT CheckArguments(int position, const CMediaType* type) {
    if (position < 0)
        return E_INVALIDARG;
    if (type == nullptr)
        return E_POINTER;
    return position > 0 ? VFW_S_NO_MORE_ITEMS : S_OK;
}

// The default record: no format, fixed-size samples of size 1; then the GUIDs.
void StartType(CMediaType* type, const GUID& major, const GUID& subtype, const GUID& format) {
    type->InitMediaType();
    type->lSampleSize = 1;
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->majortype = major;
    type->subtype = subtype;
    type->formattype = format;
}

// A zero-filled format block of length bytes.
BYTE* ZeroFormat(CMediaType* type, size_t length) {
    BYTE* block = type->AllocFormatBuffer(ULONG(length));
    if (block != nullptr)
        std::memset(block, 0, length);
    return block;
}

// The DIB size of a 24-bit image, in the unsigned 32-bit arithmetic of the header.
DWORD RgbImageSize(uint32_t width, uint32_t height) {
    return DWORD((24u * width + 31u) / 32u * 4u) * height;
}

// Compressed video: VIDEOINFOHEADER, then the codec data.
HRESULT BuildCompressedVideo(CMediaType* type, const GUID& subtype, uint32_t compression,
                             const CSSFVideoTrack& track, REFERENCE_TIME frameTime,
                             const std::vector<BYTE>& codecData) {
    StartType(type, MEDIATYPE_Video, subtype, FORMAT_VideoInfo);
    type->bTemporalCompression = TRUE;
    type->bFixedSizeSamples = FALSE;
    BYTE* block = ZeroFormat(type, sizeof(VIDEOINFOHEADER) + codecData.size());
    if (block == nullptr)
        return E_OUTOFMEMORY;
    VIDEOINFOHEADER header = {};
    header.dwBitRate = track.Bitrate;
    header.AvgTimePerFrame = frameTime;
    BITMAPINFOHEADER& bitmap = header.bmiHeader;
    bitmap.biSize = DWORD(sizeof(BITMAPINFOHEADER) + codecData.size());
    bitmap.biWidth = LONG(track.MaxWidth);
    bitmap.biHeight = LONG(track.MaxHeight);
    bitmap.biPlanes = 1;
    bitmap.biBitCount = 24;
    bitmap.biCompression = compression;
    bitmap.biSizeImage = RgbImageSize(track.MaxWidth, uint32_t(std::labs(bitmap.biHeight)));
    std::memcpy(block, &header, sizeof header);
    if (!codecData.empty())
        std::memcpy(block + sizeof header, codecData.data(), codecData.size());
    return S_OK;
}

// The MPEG-4 sampling-frequency index; 0 for rates the table does not hold.
BYTE SamplingFrequencyIndex(uint32_t rate) {
    static const uint32_t kRates[] = {0,     88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
    for (BYTE i = 1; i < sizeof kRates / sizeof kRates[0]; ++i)
        if (kRates[i] == rate)
            return i;
    return 0;
}

} // namespace

HRESULT CSSFVideoTrack::GetMediaType(int position, CMediaType* type) {
    HRESULT hr = CheckArguments(position, type);
    if (hr != S_OK)
        return hr;
    const auto* stream = static_cast<const CSSFVideoStream*>(Stream);
    if (FourCC != kFourCCH264) {
        const REFERENCE_TIME frameTime =
            stream->FrameDuration == 0
                ? 0
                : REFERENCE_TIME(TicksToReferenceTime(stream->FrameDuration, stream->TimeScale));
        return BuildCompressedVideo(type, FourCCSubtype(FourCC), FourCC, *this, frameTime,
                                    CodecPrivateData);
    }

    SpsInfo sps = {};
    hr = ReadSequenceParameterSet(&sps, CodecPrivateData.data(), CodecPrivateData.size());
    if (FAILED(hr))
        return hr;
    if (hr != S_OK)
        return VFW_S_NO_MORE_ITEMS;
    // The box follows the header when it can be built; a failure leaves it empty.
    std::vector<BYTE> box;
    BuildAvcConfiguration(CodecPrivateData.data(), CodecPrivateData.size(), &box);
    const auto frameTime = REFERENCE_TIME(std::floor(10000000.0 / sps.FrameRate + 0.5));
    return BuildCompressedVideo(type, kSubtypeAvc1Iso, kFourCCAvc1, *this, frameTime, box);
}

HRESULT CSSFAudioTrack::GetMediaType(int position, CMediaType* type) {
    const HRESULT hr = CheckArguments(position, type);
    if (hr != S_OK)
        return hr;
    std::vector<BYTE> codecData;
    GUID subtype = FourCCSubtype(AudioTag);
    try {
        codecData = CodecPrivateData;
        if (AudioTag == kAudioTagAac) {
            subtype = FourCCSubtype(kFourCCMp4a);
            // AAC low complexity at the track's rate and channel configuration.
            if (codecData.empty()) {
                const BYTE index = SamplingFrequencyIndex(SamplingRate);
                codecData = {BYTE(0x10 | (index >> 1)),
                             BYTE(((index & 1) << 7) | ((Channels & 15) << 3))};
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    StartType(type, MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
    BYTE* block = ZeroFormat(type, sizeof(WAVEFORMATEX) + codecData.size());
    if (block == nullptr)
        return E_OUTOFMEMORY;
    WAVEFORMATEX format = {};
    format.wFormatTag = WORD(AudioTag);
    format.nChannels = WORD(Channels);
    format.nSamplesPerSec = SamplingRate;
    format.wBitsPerSample = WORD(BitsPerSample);
    format.cbSize = WORD(codecData.size());
    if (format.wFormatTag == kFormatTagPcm) {
        format.nBlockAlign = WORD(format.wBitsPerSample * format.nChannels / 8);
        format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    } else {
        format.nBlockAlign = WORD(PacketSize);
        format.nAvgBytesPerSec = Bitrate >> 3;
    }
    std::memcpy(block, &format, sizeof format);
    if (!codecData.empty())
        std::memcpy(block + sizeof format, codecData.data(), codecData.size());
    if (format.nAvgBytesPerSec != 0)
        type->lSampleSize = format.nAvgBytesPerSec;
    type->bFixedSizeSamples = FALSE;
    type->bTemporalCompression = FALSE;
    return S_OK;
}

HRESULT CSSFStream::GetMediaType(int position, CMediaType* type) {
    CSSFTrack* track = CurrentTrack;
    if (track == nullptr)
        return E_UNEXPECTED;
    return track->GetMediaType(position, type);
}

HRESULT CSSFVideoStream::GetMediaType(int position, CMediaType* type) {
    return HasVideoProcessor() ? GetProcessedMediaType(position, type)
                               : CSSFStream::GetMediaType(position, type);
}

HRESULT CSSFVideoStream::GetProcessedMediaType(int position, CMediaType* type) {
    HRESULT hr = CheckArguments(position, type);
    if (hr != S_OK)
        return hr;
    if (CurrentTrack == nullptr)
        return E_UNEXPECTED;
    CMediaType compressed;
    hr = CurrentTrack->GetMediaType(0, &compressed);
    if (hr != S_OK)
        return hr;
    const auto* compressedFormat = reinterpret_cast<const VIDEOINFOHEADER*>(compressed.Format());
    REFERENCE_TIME frameTime = 0;
    if (compressedFormat != nullptr && compressed.FormatLength() >= sizeof(VIDEOINFOHEADER))
        std::memcpy(&frameTime, &compressedFormat->AvgTimePerFrame, sizeof frameTime);

    StartType(type, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo);
    BYTE* block = ZeroFormat(type, sizeof(VIDEOINFOHEADER));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    VIDEOINFOHEADER header = {};
    header.AvgTimePerFrame = frameTime;
    BITMAPINFOHEADER& bitmap = header.bmiHeader;
    bitmap.biSize = sizeof(BITMAPINFOHEADER);
    bitmap.biWidth = LONG(DisplayWidth);
    bitmap.biHeight = LONG(DisplayHeight);
    bitmap.biPlanes = 1;
    bitmap.biBitCount = 16;
    bitmap.biCompression = kFourCCYuy2;
    bitmap.biSizeImage = DWORD(ImageSize(MEDIASUBTYPE_YUY2, bitmap.biWidth, bitmap.biHeight));
    // Bits per second at one image per frame.
    if (frameTime != 0)
        header.dwBitRate = DWORD(uint64_t(bitmap.biSizeImage) * 80000000u / uint64_t(frameTime));
    std::memcpy(block, &header, sizeof header);
    type->lSampleSize = bitmap.biSizeImage;
    type->bFixedSizeSamples = TRUE;
    return S_OK;
}

HRESULT CSSFVideoStream::DecideBufferSize(IMemAllocator* allocator,
                                          ALLOCATOR_PROPERTIES* properties) {
    return HasVideoProcessor() ? DecideProcessedBufferSize(allocator, properties)
                               : CSSFStream::DecideBufferSize(allocator, properties);
}

HRESULT CSSFVideoStream::DecideProcessedBufferSize(IMemAllocator* allocator,
                                                   ALLOCATOR_PROPERTIES* properties) {
    CMediaType processed;
    const HRESULT hr = GetProcessedMediaType(0, &processed);
    if (hr != S_OK)
        return hr;
    properties->cbBuffer = LONG(processed.lSampleSize);
    properties->cBuffers = 2;
    if (allocator == nullptr)
        return S_OK;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT set = allocator->SetProperties(properties, &actual);
    if (FAILED(set))
        return set;
    return actual.cbBuffer < properties->cbBuffer ? E_FAIL : S_OK;
}
