// kvssf info: loads a presentation as the filter does and prints its model.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "framework/media_type.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/track.h"
#include "manifest/video_stream.h"
#include "tools/common/hresult_text.h"
#include "tools/common/json_writer.h"
#include "tools/kvssf/commands.h"
#include "tools/kvssf/failure_origin.h"

namespace {

constexpr int64_t kUnbounded = INT64_MAX;
constexpr double kTicksPerSecond = 10000000.0;

std::string FourCCText(DWORD fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        if (c == '\0')
            break;
        text += c;
    }
    return text;
}

int64_t CurrentTrackIndex(const CSSFStream& stream) {
    for (size_t i = 0; i < stream.Tracks.size(); ++i)
        if (stream.Tracks[i].get() == stream.CurrentTrack)
            return static_cast<int64_t>(i);
    return -1;
}

void WriteTrack(JsonWriter& json, const CSSFTrack& track) {
    json.BeginObject();
    json.Key("bitrate").UInt(track.Bitrate);
    json.Key("index").Int(track.Index);
    json.Key("attributes").BeginArray();
    for (const auto& attribute : track.Attributes)
        json.BeginArray().String(attribute->Name).String(attribute->Value).EndArray();
    json.EndArray();
    if (auto* video = dynamic_cast<const CSSFVideoTrack*>(&track)) {
        json.Key("codec_private_data")
            .String(HexText(video->CodecPrivateData.data(), video->CodecPrivateData.size()));
        json.Key("fourcc").String(FourCCText(video->FourCC));
        json.Key("max_width").UInt(video->MaxWidth);
        json.Key("max_height").UInt(video->MaxHeight);
    } else if (auto* audio = dynamic_cast<const CSSFAudioTrack*>(&track)) {
        json.Key("codec_private_data")
            .String(HexText(audio->CodecPrivateData.data(), audio->CodecPrivateData.size()));
        json.Key("sampling_rate").UInt(audio->SamplingRate);
        json.Key("channels").UInt(audio->Channels);
        json.Key("bits_per_sample").UInt(audio->BitsPerSample);
        json.Key("packet_size").UInt(audio->PacketSize);
        json.Key("audio_tag").UInt(audio->AudioTag);
    }
    json.EndObject();
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

// The one media type the stream's pin offers, and its buffer needs.
void WriteMediaType(JsonWriter& json, CSSFStream& stream) {
    CMediaType type;
    const HRESULT hr = stream.GetMediaType(0, &type);
    if (hr == S_OK) {
        json.Key("media_type").BeginObject();
        json.Key("majortype").String(GuidText(type.majortype));
        json.Key("subtype").String(GuidText(type.subtype));
        json.Key("formattype").String(GuidText(type.formattype));
        json.Key("fixed_size_samples").Bool(type.bFixedSizeSamples != FALSE);
        json.Key("temporal_compression").Bool(type.bTemporalCompression != FALSE);
        json.Key("sample_size").UInt(type.lSampleSize);
        json.Key("format").String(HexText(type.pbFormat, type.cbFormat));
        json.EndObject();
    } else {
        json.Key("media_type_result").String(HresultCode(hr));
    }
    ALLOCATOR_PROPERTIES properties = {};
    const HRESULT buffers = stream.DecideBufferSize(nullptr, &properties);
    if (buffers == S_OK) {
        json.Key("buffers").BeginObject();
        json.Key("count").Int(properties.cBuffers);
        json.Key("size").Int(properties.cbBuffer);
        json.EndObject();
    } else {
        json.Key("buffers_result").String(HresultCode(buffers));
    }
}

void WriteStream(JsonWriter& json, CSSFStream& stream) {
    json.BeginObject();
    json.Key("kind").String(stream.GetStreamKind() == SSFStreamKind::Video ? "video" : "audio");
    json.Key("name").String(stream.Name);
    json.Key("pin_name").String(stream.PinName);
    json.Key("time_scale").Int(stream.TimeScale);
    json.Key("url").String(stream.Url);
    json.Key("quality_levels").UInt(stream.QualityLevels);
    const SSFPlayPosition position = stream.GetPosition();
    json.Key("chunk_index").UInt(position.ChunkIndex);
    json.Key("sample_index").UInt(position.SampleIndex);
    json.Key("target_bitrate").UInt(stream.TargetBitrate);
    json.Key("current_track").Int(CurrentTrackIndex(stream));
    json.Key("duration").Int(stream.GetDuration());
    json.Key("end_time").Int(stream.GetEndTime());
    json.Key("chunks").BeginArray();
    for (const SSFChunk& chunk : stream.Chunks)
        json.BeginArray().Int(chunk.StartTime).Int(chunk.Duration).EndArray();
    json.EndArray();
    if (auto* video = dynamic_cast<const CSSFVideoStream*>(&stream)) {
        json.Key("max_width").UInt(video->MaxWidth);
        json.Key("max_height").UInt(video->MaxHeight);
        json.Key("display_width").UInt(video->DisplayWidth);
        json.Key("display_height").UInt(video->DisplayHeight);
        json.Key("frame_duration").UInt(video->FrameDuration);
    } else if (auto* audio = dynamic_cast<const CSSFAudioStream*>(&stream)) {
        json.Key("language").String(audio->Language);
    }
    WriteMediaType(json, stream);
    json.Key("tracks").BeginArray();
    for (const auto& track : stream.Tracks)
        WriteTrack(json, *track);
    json.EndArray();
    json.EndObject();
}

void PrintJson(CSSFManifest& manifest) {
    JsonWriter json;
    json.BeginObject().Key("manifest").BeginObject();
    json.Key("manifest_url").String(manifest.ManifestUrl);
    json.Key("base_url").String(manifest.BaseUrl);
    json.Key("language_option").String(manifest.LanguageOption);
    json.Key("bitrate_option").String(manifest.BitrateOption);
    json.Key("time_scale").Int(manifest.TimeScale);
    json.Key("duration").Int(manifest.Duration);
    json.Key("is_live").Bool(manifest.IsLive != 0);
    json.Key("start_time").Int(manifest.StartTime);
    json.Key("presentation_duration").Int(manifest.GetDuration());
    json.EndObject();
    json.Key("streams").BeginArray();
    for (const auto& stream : manifest.Streams)
        WriteStream(json, *stream);
    json.EndArray().EndObject();
    std::printf("%s\n", json.Text().c_str());
}

std::string Seconds(int64_t ticks100ns) {
    if (ticks100ns == kUnbounded)
        return "unbounded (live)";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ticks100ns) / kTicksPerSecond);
    return text;
}

void PrintSummary(CSSFManifest& manifest) {
    std::printf("manifest  %s\n", manifest.ManifestUrl.c_str());
    std::printf("base      %s\n", manifest.BaseUrl.c_str());
    std::printf("%s, duration %s, start %s, %zu stream(s)\n",
                manifest.IsLive ? "live" : "on demand", Seconds(manifest.GetDuration()).c_str(),
                Seconds(manifest.StartTime).c_str(), manifest.Streams.size());
    if (!manifest.LanguageOption.empty() || !manifest.BitrateOption.empty())
        std::printf("options   language '%s', bit rate '%s'\n", manifest.LanguageOption.c_str(),
                    manifest.BitrateOption.c_str());
    int pin = 0;
    for (const auto& stream : manifest.Streams) {
        const bool video = stream->GetStreamKind() == SSFStreamKind::Video;
        std::printf("\npin %d  \"%s\"  %s  (stream \"%s\")\n", pin++, stream->PinName.c_str(),
                    video ? "video" : "audio", stream->Name.c_str());
        if (auto* audio = dynamic_cast<const CSSFAudioStream*>(stream.get()))
            if (!audio->Language.empty())
                std::printf("  language %s\n", audio->Language.c_str());
        if (auto* v = dynamic_cast<CSSFVideoStream*>(stream.get())) {
            std::printf("  max %ux%u, display %ux%u, frame duration %" PRIu64 "\n", v->MaxWidth,
                        v->MaxHeight, v->DisplayWidth, v->DisplayHeight, v->FrameDuration);
            CMediaType type;
            if (v->VideoProcessor && v->GetMediaType(0, &type) == S_OK && type.Format() != nullptr) {
                const auto* header = reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
                std::printf("  decoded to %s %ldx%ld for every level\n",
                            FourCCText(header->bmiHeader.biCompression).c_str(),
                            long(header->bmiHeader.biWidth), long(header->bmiHeader.biHeight));
            }
        }
        std::printf("  %zu chunk(s), duration %s, time scale %" PRId64 "\n", stream->Chunks.size(),
                    Seconds(stream->GetDuration()).c_str(), stream->TimeScale);
        for (const auto& track : stream->Tracks) {
            const bool chosen = track.get() == stream->CurrentTrack;
            std::printf("  %s level %d: %u bit/s", chosen ? "*" : " ", track->Index,
                        track->Bitrate);
            if (auto* vt = dynamic_cast<const CSSFVideoTrack*>(track.get()))
                std::printf(", %s %ux%u", FourCCText(vt->FourCC).c_str(), vt->MaxWidth,
                            vt->MaxHeight);
            if (auto* at = dynamic_cast<const CSSFAudioTrack*>(track.get()))
                std::printf(", %u Hz, %u ch, %u bit, tag %u", at->SamplingRate, at->Channels,
                            at->BitsPerSample, at->AudioTag);
            std::printf("\n");
        }
    }
}

} // namespace

int RunInfo(const std::vector<std::string>& args) {
    std::string url;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (url.empty() && arg.compare(0, 2, "--") != 0) {
            url = arg;
        } else {
            std::fprintf(stderr, "kvssf info: unexpected argument '%s' (see kvssf --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    if (url.empty()) {
        std::fprintf(stderr, "usage: kvssf info URL [--json]\n");
        return 2;
    }
    CSSFManifest manifest;
    HRESULT hr = manifest.Load(url.c_str());
    if (SUCCEEDED(hr) && manifest.Streams.empty())
        hr = kNotAManifest;
    if (FAILED(hr)) {
        std::string line = DescribeManifestFailure(manifest, hr, url);
        if (line.empty())
            line = url + ": " + DescribeHresult(hr, FailurePlace::Load, url);
        std::fprintf(stderr, "kvssf info: %s\n", line.c_str());
        return 1;
    }
    if (json)
        PrintJson(manifest);
    else
        PrintSummary(manifest);
    return 0;
}
