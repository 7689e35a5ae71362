// CVideoDecoder: the processor's AVC and WVC1 decoders over libavcodec.
//
// Input: MEDIATYPE_Video with FORMAT_VideoInfo, FORMAT_VideoInfo2 or FORMAT_MPEG2Video.
// AVC ("avc1ISOMEDIATYPE" or AVC1) carries an avcC box or record as codec data and takes
// samples of length-prefixed NAL units; WVC1 carries the sequence header. The bitmap
// header gives the picture size. Output: planar 4:2:0 at that size; a decoded picture
// of another size is scaled to it. Pictures leave in display order, each stamped with
// the smallest input time not yet given out, so output times always increase.
#pragma once

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "videoproc/posix/transform_filter.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

enum class VideoCodec { Avc, Wvc1 };

// The decoder configuration an input type carries (the avcC record for AVC, the sequence
// header for WVC1) when the type is one the codec's decoder takes; false otherwise.
bool ReadDecoderConfig(const AM_MEDIA_TYPE& type, VideoCodec codec, std::vector<uint8_t>* config);

class CVideoDecoder : public CPictureTransform {
public:
    CVideoDecoder(VideoCodec codec, HRESULT* phr);
    ~CVideoDecoder() override;

    // Class-table creators; CLASS_E_NOAGGREGATION with an outer object.
    static HRESULT CreateAvc(IUnknown* pOuter, REFIID riid, void** ppv);
    static HRESULT CreateWvc1(IUnknown* pOuter, REFIID riid, void** ppv);

protected:
    HRESULT CheckInputType(const CMediaType& type) override;
    // Opens the decoder: VFW_E_TYPE_NOT_ACCEPTED when libavcodec refuses the configuration.
    HRESULT SetInputType(const CMediaType& type) override;
    void BreakInput() override;
    HRESULT CheckOutputType(const CMediaType& input, const CMediaType& output) override;
    HRESULT GetOutputType(const CMediaType& input, int position, CMediaType* type) override;

    HRESULT Transform(IMediaSample* sample) override;
    // Sends the end of the stream to the decoder and delivers the pictures it held back.
    HRESULT Drain() override;
    void ResetStream() override;

private:
    struct SampleTime {
        REFERENCE_TIME start;
        REFERENCE_TIME stop;
        bool hasStop;
        bool operator>(const SampleTime& other) const { return start > other.start; }
    };

    void CloseDecoder();
    // Delivers every picture the decoder has ready; the first delivery failure.
    HRESULT DeliverReadyPictures(int* delivered);

    const VideoCodec m_codec;
    // Opened on input connection (filter and receive locks), used under the receive lock.
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    // Receive lock: the input times not yet given out, smallest first.
    std::priority_queue<SampleTime, std::vector<SampleTime>, std::greater<SampleTime>> m_times;
    bool m_discontinuity = true;
};
