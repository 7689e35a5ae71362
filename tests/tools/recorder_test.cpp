// Recording a presentation's streams into container files that FFmpeg reads back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/media_type.h"
#include "manifest/manifest.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"
#include "tools/kvssf/recorder.h"

namespace {

// A media sample over a plain buffer, for FillSample.
class BufferSample : public IMediaSample {
public:
    explicit BufferSample(size_t size) : Buffer(size) {}
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** buffer) override {
        *buffer = Buffer.data();
        return S_OK;
    }
    STDMETHODIMP_(LONG) GetSize() override { return LONG(Buffer.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
        Start = *start;
        Stop = *stop;
        return S_OK;
    }
    STDMETHODIMP IsSyncPoint() override { return S_OK; }
    STDMETHODIMP SetSyncPoint(BOOL sync) override {
        Sync = sync != FALSE;
        return S_OK;
    }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(LONG) GetActualDataLength() override { return Length; }
    STDMETHODIMP SetActualDataLength(LONG length) override {
        Length = length;
        return S_OK;
    }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

    std::vector<BYTE> Buffer;
    REFERENCE_TIME Start = 0, Stop = 0;
    LONG Length = 0;
    bool Sync = false;
};

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
        BufferSample sample(stream.CurrentTrack->GetMaxSampleSize());
        size_t count = 0;
        for (HRESULT hr = S_OK; hr != S_FALSE;) {
            hr = stream.FillSample(&sample);
            if (hr == E_PENDING) {
                stream.WaitForCurrentFragment(1000);
                continue;
            }
            if (hr != S_OK)
                break;
            EXPECT_EQ(recorder.Write(indexes[i], sample.Buffer.data(), size_t(sample.Length),
                                     sample.Start, sample.Stop, sample.Sync),
                      S_OK)
                << recorder.LastError();
            ++count;
        }
        counts.push_back(count);
    }
    EXPECT_EQ(recorder.Close(), S_OK) << recorder.LastError();
    return counts;
}

TEST(Recorder, PresentationIntoMatroskaAndMp4ReadBackByFfprobe) {
    ScopedTempDirectory temp;
    const std::string base = OriginUrl("nginx");
    ASSERT_FALSE(base.empty());
    for (const char* extension : {".mkv", ".mp4"}) {
        CSSFManifest manifest;
        ASSERT_EQ(manifest.Load((base + "media/vod/pres.ism/Manifest").c_str()), S_OK);
        const std::string path = temp.Path() + "/out" + extension;
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
                             std::to_string(counts[1]) + "\n")
            << extension;
    }
    CRecorder bad;
    EXPECT_EQ(bad.Open(temp.Path() + "/out.nosuchformat"), E_INVALIDARG);
    AM_MEDIA_TYPE none = {};
    int index = -1;
    EXPECT_EQ(bad.AddStream(none, &index), E_UNEXPECTED);
}

} // namespace
