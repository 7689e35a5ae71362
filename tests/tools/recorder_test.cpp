// Recording a presentation's streams into an MP4 file that FFmpeg reads back (the play
// test probes its Matroska recording).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/media_sample.h"
#include "framework/media_type.h"
#include "manifest/manifest.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"
#include "tools/kvssf/recorder.h"

namespace {

std::string CommandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t read;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, read);
    pclose(pipe);
    return output;
}

// Records every stream of the presentation; the number of samples per stream.
std::vector<size_t> Record(CSSFManifest& manifest, CRecorder& recorder) {
    std::vector<int> indexes;
    for (const auto& stream : manifest.Streams) {
        CMediaType type;
        EXPECT_EQ(stream->GetMediaType(0, &type), S_OK);
        int index = -1;
        EXPECT_EQ(recorder.AddStream(type, &index), S_OK) << recorder.LastError();
        indexes.push_back(index);
    }
    EXPECT_EQ(recorder.WriteHeader(), S_OK) << recorder.LastError();
    std::vector<size_t> counts;
    for (size_t i = 0; i < manifest.Streams.size(); ++i) {
        CSSFStream& stream = *manifest.Streams[i];
        std::vector<BYTE> buffer(stream.CurrentTrack->GetMaxSampleSize());
        auto* sample = new CMediaSample(nullptr, buffer.data(), LONG(buffer.size()));
        sample->AddRef();
        size_t count = 0;
        for (HRESULT hr = S_OK; hr != S_FALSE;) {
            hr = stream.FillSample(sample);
            if (hr == E_PENDING) {
                stream.WaitForCurrentFragment(1000);
                continue;
            }
            if (hr != S_OK)
                break;
            REFERENCE_TIME start = 0, stop = 0;
            sample->GetTime(&start, &stop);
            EXPECT_EQ(recorder.Write(indexes[i], buffer.data(),
                                     size_t(sample->GetActualDataLength()), start, stop,
                                     sample->IsSyncPoint() == S_OK),
                      S_OK)
                << recorder.LastError();
            ++count;
        }
        sample->Release();
        counts.push_back(count);
    }
    EXPECT_EQ(recorder.Close(), S_OK) << recorder.LastError();
    return counts;
}

TEST(Recorder, PresentationIntoMp4ReadBackByFfprobe) {
    ScopedTempDirectory temp;
    const std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    CSSFManifest manifest;
    ASSERT_EQ(manifest.Load((base + "media/vod/pres.ism/Manifest").c_str()), S_OK);
    const std::string path = temp.Path() + "/out.mp4";
    CRecorder recorder;
    ASSERT_EQ(recorder.Open(path), S_OK) << recorder.LastError();
    const std::vector<size_t> counts = Record(manifest, recorder);
    ASSERT_EQ(counts.size(), 2u);
    const std::string probe =
        CommandOutput("ffprobe -v error -count_packets -show_entries "
                      "stream=codec_name,width,height,sample_rate,channels,nb_read_packets "
                      "-of csv=p=0 '" +
                      path + "'");
    EXPECT_EQ(probe, "h264,640,360," + std::to_string(counts[0]) + "\naac,48000,2," +
                         std::to_string(counts[1]) + "\n");
    CRecorder bad;
    EXPECT_EQ(bad.Open(temp.Path() + "/out.nosuchformat"), E_INVALIDARG);
    AM_MEDIA_TYPE none = {};
    int index = -1;
    EXPECT_EQ(bad.AddStream(none, &index), E_UNEXPECTED);
}

} // namespace
