#include "videoproc/posix/video_decoder.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include "framework/com_ptr.h"
#include "framework/subtypes.h"
#include "videoproc/posix/processor_classes.h"

namespace {

// More pending times than any decoder delay: the oldest go when a broken stream leaves
// times without pictures.
constexpr size_t kMaxPendingTimes = 256;

uint32_t ReadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool AcceptsSubtype(VideoCodec codec, const GUID& subtype) {
    if (codec == VideoCodec::Wvc1)
        return subtype == FourCCSubtype(MakeFourCC('W', 'V', 'C', '1'));
    return subtype == kSubtypeAvc1Iso || subtype == FourCCSubtype(MakeFourCC('A', 'V', 'C', '1'));
}

// The codec data after the format structure: the sequence header of an MPEG2VIDEOINFO,
// else the bytes after the VIDEOINFOHEADER/2 that biSize counts (all of them when
// biSize counts the bitmap header only).
bool CodecData(const AM_MEDIA_TYPE& type, const uint8_t** data, size_t* size) {
    ULONG headerLength = 0;
    const BITMAPINFOHEADER* header = VideoBitmapHeader(type, &headerLength);
    if (header == nullptr)
        return false;
    size_t available = type.cbFormat - headerLength;
    if (type.formattype == FORMAT_MPEG2Video) {
        const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
        if (info->cbSequenceHeader > available)
            return false;
        available = info->cbSequenceHeader;
    } else if (header->biSize > sizeof(BITMAPINFOHEADER) &&
               header->biSize - sizeof(BITMAPINFOHEADER) < available) {
        available = header->biSize - sizeof(BITMAPINFOHEADER);
    }
    *data = type.pbFormat + headerLength;
    *size = available;
    return true;
}

// The picture size the input type announces.
bool InputPictureSize(const AM_MEDIA_TYPE& type, LONG* width, LONG* height) {
    const BITMAPINFOHEADER* header = VideoBitmapHeader(type, nullptr);
    if (header == nullptr)
        return false;
    *width = header->biWidth;
    *height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    return *width > 0 && *height > 0 &&
           PictureSize(FourCCSubtype(MakeFourCC('I', '4', '2', '0')), *width, *height) > 0;
}

REFERENCE_TIME AverageTimePerFrame(const AM_MEDIA_TYPE& type) {
    if (type.formattype == FORMAT_VideoInfo)
        return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
    return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
}

} // namespace

bool ReadDecoderConfig(const AM_MEDIA_TYPE& type, VideoCodec codec, std::vector<uint8_t>* config) {
    LONG width = 0, height = 0;
    if (type.majortype != MEDIATYPE_Video || !AcceptsSubtype(codec, type.subtype) ||
        !InputPictureSize(type, &width, &height))
        return false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!CodecData(type, &data, &size))
        return false;
    if (codec == VideoCodec::Avc) {
        // A whole avcC box is unwrapped to its record.
        if (size >= 8 && std::memcmp(data + 4, "avcC", 4) == 0) {
            const uint32_t boxSize = ReadBE32(data);
            if (boxSize < 8 || boxSize > size)
                return false;
            data += 8;
            size = boxSize - 8;
        }
        // configurationVersion 1, then profile, compatibility, level, length size, SPS count.
        if (size < 7 || data[0] != 1)
            return false;
    } else if (size == 0) {
        return false;
    }
    config->assign(data, data + size);
    return true;
}

CVideoDecoder::CVideoDecoder(VideoCodec codec, HRESULT* phr)
    : CPictureTransform(codec == VideoCodec::Avc ? L"AVC decoder" : L"WVC1 decoder",
                        codec == VideoCodec::Avc ? CLSID_KvssfAvcDecoder : CLSID_KvssfWvc1Decoder,
                        phr),
      m_codec(codec), m_packet(av_packet_alloc()), m_frame(av_frame_alloc()) {
    if ((m_packet == nullptr || m_frame == nullptr) && phr != nullptr)
        *phr = E_OUTOFMEMORY;
}

CVideoDecoder::~CVideoDecoder() {
    CloseDecoder();
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
}

HRESULT CVideoDecoder::CreateAvc(IUnknown* pOuter, REFIID riid, void** ppv) {
    return CreatePictureTransform<CVideoDecoder>(VideoCodec::Avc, pOuter, riid, ppv);
}

HRESULT CVideoDecoder::CreateWvc1(IUnknown* pOuter, REFIID riid, void** ppv) {
    return CreatePictureTransform<CVideoDecoder>(VideoCodec::Wvc1, pOuter, riid, ppv);
}

HRESULT CVideoDecoder::CheckInputType(const CMediaType& type) {
    std::vector<uint8_t> config;
    return ReadDecoderConfig(type, m_codec, &config) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoDecoder::SetInputType(const CMediaType& type) {
    std::vector<uint8_t> config;
    LONG width = 0, height = 0;
    if (!ReadDecoderConfig(type, m_codec, &config) || !InputPictureSize(type, &width, &height))
        return VFW_E_TYPE_NOT_ACCEPTED;
    CAutoLock lock(&m_csReceive);
    CloseDecoder();
    const AVCodec* codec =
        avcodec_find_decoder(m_codec == VideoCodec::Avc ? AV_CODEC_ID_H264 : AV_CODEC_ID_VC1);
    if (codec == nullptr)
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_context = avcodec_alloc_context3(codec);
    if (m_context == nullptr)
        return E_OUTOFMEMORY;
    m_context->extradata =
        static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (m_context->extradata == nullptr) {
        CloseDecoder();
        return E_OUTOFMEMORY;
    }
    std::memcpy(m_context->extradata, config.data(), config.size());
    m_context->extradata_size = int(config.size());
    m_context->width = width;
    m_context->height = height;
    if (m_codec == VideoCodec::Wvc1)
        m_context->codec_tag = MakeFourCC('W', 'V', 'C', '1');
    // Frame threads keep every picture and its order; they only add delay, which the
    // time queue and the drain at the end absorb.
    m_context->thread_count = 0;
    m_context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        CloseDecoder();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    ResetStream();
    return S_OK;
}

void CVideoDecoder::BreakInput() {
    CAutoLock lock(&m_csReceive);
    CloseDecoder();
}

void CVideoDecoder::CloseDecoder() {
    avcodec_free_context(&m_context);
}

HRESULT CVideoDecoder::CheckOutputType(const CMediaType&, const CMediaType& output) {
    VideoPicture picture;
    if (!ReadVideoPicture(output, &picture) ||
        (picture.format != AV_PIX_FMT_YUV420P && picture.format != AV_PIX_FMT_NV12))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoDecoder::GetOutputType(const CMediaType& input, int position, CMediaType* type) {
    // libavcodec's 4:2:0 under both FourCCs, in a VIDEOINFOHEADER first.
    static const DWORD kFourCCs[] = {MakeFourCC('I', '4', '2', '0'),
                                     MakeFourCC('I', 'Y', 'U', 'V')};
    if (position >= 4)
        return VFW_S_NO_MORE_ITEMS;
    LONG width = 0, height = 0;
    if (!InputPictureSize(input, &width, &height))
        return VFW_S_NO_MORE_ITEMS;
    return MakeVideoType(FourCCSubtype(kFourCCs[position % 2]), width, height,
                         AverageTimePerFrame(input), position >= 2, type);
}

HRESULT CVideoDecoder::Transform(IMediaSample* sample) {
    BYTE* data = nullptr;
    const LONG length = sample->GetActualDataLength();
    if (m_context == nullptr)
        return VFW_E_NOT_CONNECTED;
    if (FAILED(sample->GetPointer(&data)) || length <= 0)
        return S_OK;

    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT hrTime = sample->GetTime(&start, &stop);
    if (hrTime == S_OK || hrTime == VFW_S_NO_STOP_TIME) {
        if (m_times.size() >= kMaxPendingTimes)
            m_times.pop();
        m_times.push({start, stop, hrTime == S_OK});
    }

    if (av_new_packet(m_packet, length) < 0)
        return E_OUTOFMEMORY;
    std::memcpy(m_packet->data, data, size_t(length));
    if (sample->IsSyncPoint() == S_OK)
        m_packet->flags |= AV_PKT_FLAG_KEY;
    HRESULT hr = S_OK;
    for (;;) {
        // A packet the decoder refuses as invalid is dropped; the stream goes on.
        if (avcodec_send_packet(m_context, m_packet) != AVERROR(EAGAIN))
            break;
        int delivered = 0;
        hr = DeliverReadyPictures(&delivered);
        if (FAILED(hr) || delivered == 0)
            break;
    }
    av_packet_unref(m_packet);
    if (FAILED(hr))
        return hr;
    int delivered = 0;
    return DeliverReadyPictures(&delivered);
}

HRESULT CVideoDecoder::DeliverReadyPictures(int* delivered) {
    int errors = 0;
    for (;;) {
        // EAGAIN and the end ask for more input; a picture that failed to decode is
        // skipped, but a decoder that keeps failing is left until the next call.
        const int ret = avcodec_receive_frame(m_context, m_frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return S_OK;
        if (ret < 0) {
            if (++errors > 16)
                return S_OK;
            continue;
        }
        PictureProperties props;
        if (!m_times.empty()) {
            const SampleTime time = m_times.top();
            m_times.pop();
            props.hasStart = true;
            props.start = time.start;
            props.hasStop = time.hasStop;
            props.stop = time.stop;
        }
        props.discontinuity = m_discontinuity;
        const HRESULT hr = DeliverPicture(m_frame->data, m_frame->linesize, m_frame->width,
                                          m_frame->height, AVPixelFormat(m_frame->format), props);
        av_frame_unref(m_frame);
        if (FAILED(hr))
            return hr;
        m_discontinuity = false;
        ++*delivered;
    }
}

HRESULT CVideoDecoder::Drain() {
    if (m_context == nullptr)
        return S_OK;
    avcodec_send_packet(m_context, nullptr);
    int delivered = 0;
    const HRESULT hr = DeliverReadyPictures(&delivered);
    ResetStream();
    return hr;
}

void CVideoDecoder::ResetStream() {
    if (m_context != nullptr)
        avcodec_flush_buffers(m_context);
    m_times = {};
    m_discontinuity = true;
}
