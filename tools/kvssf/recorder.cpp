#include "tools/kvssf/recorder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "manifest/fourcc.h"

namespace {

constexpr AVRational kReferenceTimeBase = {1, 10000000};
constexpr WORD kTagPcm = 1;
constexpr WORD kTagWma2 = 0x161;
constexpr WORD kTagWmaPro = 0x162;
constexpr WORD kTagAac = 255;

bool IsMp4aSubtype(const GUID& subtype) {
    return subtype.Data1 == kFourCCMp4a;
}

// Copies codec data into the stream's padded extradata.
bool SetExtradata(AVCodecParameters* parameters, const BYTE* data, size_t size) {
    if (size == 0)
        return true;
    parameters->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (parameters->extradata == nullptr)
        return false;
    std::memcpy(parameters->extradata, data, size);
    parameters->extradata_size = int(size);
    return true;
}

HRESULT SetUpVideo(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters) {
    if (type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return E_NOTIMPL;
    VIDEOINFOHEADER header;
    std::memcpy(&header, type.pbFormat, sizeof header);
    const BYTE* codecData = type.pbFormat + sizeof header;
    size_t codecSize = type.cbFormat - sizeof header;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->width = header.bmiHeader.biWidth;
    parameters->height =
        header.bmiHeader.biHeight < 0 ? -header.bmiHeader.biHeight : header.bmiHeader.biHeight;
    parameters->bit_rate = header.dwBitRate;
    switch (header.bmiHeader.biCompression) {
    case kFourCCAvc1:
    case kFourCCAvc1Upper:
    case kFourCCH264:
        parameters->codec_id = AV_CODEC_ID_H264;
        // The configuration record is the box's payload.
        if (codecSize >= 8 && std::memcmp(codecData + 4, "avcC", 4) == 0) {
            codecData += 8;
            codecSize -= 8;
        }
        break;
    case kFourCCWvc1:
        parameters->codec_id = AV_CODEC_ID_VC1;
        break;
    case kFourCCYuy2:
        parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
        parameters->format = AV_PIX_FMT_YUYV422;
        parameters->codec_tag = kFourCCYuy2;
        codecSize = 0;
        break;
    default:
        return E_NOTIMPL;
    }
    return SetExtradata(parameters, codecData, codecSize) ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetUpAudio(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters) {
    if (type.formattype != FORMAT_WaveFormatEx || type.cbFormat < sizeof(WAVEFORMATEX))
        return E_NOTIMPL;
    WAVEFORMATEX format;
    std::memcpy(&format, type.pbFormat, sizeof format);
    const size_t codecSize = std::min<size_t>(format.cbSize, type.cbFormat - sizeof(WAVEFORMATEX));
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->sample_rate = int(format.nSamplesPerSec);
    av_channel_layout_default(&parameters->ch_layout, format.nChannels);
    parameters->block_align = format.nBlockAlign;
    parameters->bit_rate = int64_t(format.nAvgBytesPerSec) * 8;
    if (format.wFormatTag == kTagAac || IsMp4aSubtype(type.subtype)) {
        parameters->codec_id = AV_CODEC_ID_AAC;
    } else if (format.wFormatTag == kTagPcm) {
        switch (format.wBitsPerSample) {
        case 8:
            parameters->codec_id = AV_CODEC_ID_PCM_U8;
            break;
        case 16:
            parameters->codec_id = AV_CODEC_ID_PCM_S16LE;
            break;
        case 24:
            parameters->codec_id = AV_CODEC_ID_PCM_S24LE;
            break;
        default:
            return E_NOTIMPL;
        }
        parameters->bits_per_coded_sample = format.wBitsPerSample;
    } else if (format.wFormatTag == kTagWma2) {
        parameters->codec_id = AV_CODEC_ID_WMAV2;
    } else if (format.wFormatTag == kTagWmaPro) {
        parameters->codec_id = AV_CODEC_ID_WMAPRO;
    } else {
        return E_NOTIMPL;
    }
    return SetExtradata(parameters, type.pbFormat + sizeof(WAVEFORMATEX), codecSize)
               ? S_OK
               : E_OUTOFMEMORY;
}

} // namespace

CRecorder::~CRecorder() {
    Close();
}

HRESULT CRecorder::Fail(int error, const char* what) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    m_lastError = std::string(what) + ": " + text;
    if (error == AVERROR(EPIPE) && m_onPipeClosed)
        m_onPipeClosed();
    return error == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_FAIL;
}

HRESULT CRecorder::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_context != nullptr)
        return E_UNEXPECTED;
    const bool toStdout = path == "-";
    const char* url = toStdout ? "pipe:1" : path.c_str();
    int error =
        avformat_alloc_output_context2(&m_context, nullptr, toStdout ? "matroska" : nullptr, url);
    if (error < 0 || m_context == nullptr) {
        m_context = nullptr;
        Fail(error, path.c_str());
        return E_INVALIDARG;
    }
    error = avio_open(&m_context->pb, url, AVIO_FLAG_WRITE);
    if (error < 0) {
        avformat_free_context(m_context);
        m_context = nullptr;
        return Fail(error, path.c_str());
    }
    return S_OK;
}

HRESULT CRecorder::AddStream(const AM_MEDIA_TYPE& type, int* index) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_context == nullptr || m_headerWritten)
        return E_UNEXPECTED;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = E_NOTIMPL;
    if (type.majortype == MEDIATYPE_Video)
        hr = SetUpVideo(type, parameters);
    else if (type.majortype == MEDIATYPE_Audio)
        hr = SetUpAudio(type, parameters);
    AVStream* stream = nullptr;
    if (SUCCEEDED(hr)) {
        stream = avformat_new_stream(m_context, nullptr);
        if (stream == nullptr)
            hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        const int error = avcodec_parameters_copy(stream->codecpar, parameters);
        if (error < 0)
            hr = Fail(error, "codec parameters");
        stream->time_base = kReferenceTimeBase;
        *index = stream->index;
    }
    avcodec_parameters_free(&parameters);
    return hr;
}

HRESULT CRecorder::WriteHeader() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_context == nullptr || m_headerWritten)
        return E_UNEXPECTED;
    const int error = avformat_write_header(m_context, nullptr);
    if (error < 0)
        return Fail(error, "header");
    m_headerWritten = true;
    return S_OK;
}

HRESULT CRecorder::Write(int index, const BYTE* data, size_t size, REFERENCE_TIME start,
                         REFERENCE_TIME stop, bool sync) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_headerWritten || index < 0 || unsigned(index) >= m_context->nb_streams)
        return E_UNEXPECTED;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, int(size)) < 0) {
        av_packet_free(&packet);
        return E_OUTOFMEMORY;
    }
    if (size != 0)
        std::memcpy(packet->data, data, size);
    packet->stream_index = index;
    // The samples carry decode times; the containers take them as both.
    packet->pts = packet->dts =
        av_rescale_q(start, kReferenceTimeBase, m_context->streams[index]->time_base);
    packet->duration =
        av_rescale_q(stop - start, kReferenceTimeBase, m_context->streams[index]->time_base);
    if (sync)
        packet->flags |= AV_PKT_FLAG_KEY;
    const int error = av_interleaved_write_frame(m_context, packet);
    av_packet_free(&packet);
    return error < 0 ? Fail(error, "packet") : S_OK;
}

HRESULT CRecorder::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_context == nullptr)
        return S_FALSE;
    int error = 0;
    if (m_headerWritten)
        error = av_write_trailer(m_context);
    avio_closep(&m_context->pb);
    avformat_free_context(m_context);
    m_context = nullptr;
    m_headerWritten = false;
    return error < 0 ? Fail(error, "trailer") : S_OK;
}
