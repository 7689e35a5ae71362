// The source filter in the Linux graph with the play command's sinks: loading, pins, the
// seeking answers the play test cannot see, seeks while stopped and paused.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "filter/kvssf_reader.h"
#include "framework/com_ptr.h"
#include "framework/platform/codepage.h"
#include "manifest/stream.h"
#include "tests/filter/reader_graph.h"
#include "tests/support/origin.h"
#include "tests/support/temp_directory.h"
#include "tools/common/sample_log.h"

namespace {

class KVSsfRdTest : public testing::Test {
protected:
    void SetUp() override {
        m_base = OriginUrl("nginx");
        ASSERT_FALSE(m_base.empty());
    }
    std::string Url(const char* path) const { return m_base + path; }

    ScopedTempDirectory m_temp;
    std::string m_base;
};

TEST_F(KVSsfRdTest, Load_PinsPerStreamNamesFileAndReset) {
    ReaderGraph graph;
    auto file = Query<IFileSourceFilter>(graph.Filter.Get(), IID_IFileSourceFilter);
    EXPECT_EQ(file->Load(nullptr, nullptr), HRESULT(0x80004005)) << "no URL";
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(file->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(name, nullptr);

    const std::string url = Url("media/lang/pres.ism/Manifest");
    ASSERT_EQ(graph.Load(url), S_OK);
    EXPECT_EQ(graph.Reader->GetPinCount(), 3);
    std::vector<std::wstring> names;
    for (int i = 0; i < graph.Reader->GetPinCount(); ++i) {
        PIN_INFO info = {};
        ASSERT_EQ(graph.Reader->GetPin(i)->QueryPinInfo(&info), S_OK);
        info.pFilter->Release();
        names.push_back(info.achName);
        EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"video", L"audio_eng", L"~audio_fra"}));
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(file->GetCurFile(&name, &type), S_OK);
    EXPECT_EQ(std::wstring(name), AnsiToWide(url));
    CoTaskMemFree(name);

    // A failing second load leaves nothing of the first.
    EXPECT_EQ(graph.Load(Url("media/none.ism/Manifest")), HRESULT(0x80070002));
    EXPECT_EQ(graph.Reader->GetPinCount(), 0);
    LONGLONG duration = -1;
    EXPECT_EQ(graph.Seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 0);
}

// Built without a type library here: the dispatch calls fail with the loader's code.
// IAMOpenProgress: a slow manifest download shows its bytes while it runs; an abort from
// another thread ends that Load with E_ABORT within a second and leaves no file; after
// a load the total is what arrived.
TEST_F(KVSsfRdTest, OpenProgress_SlowManifest_ProgressThenPromptAbort) {
    const std::string faults = OriginUrl("faults");
    ReaderGraph graph;
    auto progress = Query<IAMOpenProgress>(graph.Filter.Get(), IID_IAMOpenProgress);
    ASSERT_TRUE(progress);
    LONGLONG total = -1, current = -1;
    EXPECT_EQ(progress->QueryProgress(nullptr, &current), E_POINTER);
    ASSERT_EQ(progress->QueryProgress(&total, &current), S_OK);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(current, 0);

    // 6000 bytes at 1000 bytes per second.
    HRESULT loaded = S_OK;
    std::thread loader(
        [&] { loaded = graph.Load(faults + "trickle/Manifest?rate=1000&size=6000"); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (std::chrono::steady_clock::now() < deadline &&
           progress->QueryProgress(&total, &current) == S_OK && current < 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(total, 6000);
    EXPECT_GE(current, 1000);
    EXPECT_LT(current, 6000);

    const auto aborted = std::chrono::steady_clock::now();
    EXPECT_EQ(progress->AbortOperation(), S_OK);
    loader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - aborted, std::chrono::seconds(1));
    EXPECT_EQ(loaded, E_ABORT);
    EXPECT_EQ(graph.Reader->GetPinCount(), 0);
    EXPECT_EQ(m_temp.LeftoverCount(), 0u);

    // The abort applied to that load only; this one counts the manifest and the probe.
    ASSERT_EQ(graph.Load(Url("media/vod/pres.ism/Manifest")), S_OK);
    ASSERT_EQ(progress->QueryProgress(&total, &current), S_OK);
    EXPECT_EQ(total, current);
    EXPECT_GT(current, LONGLONG(FetchText(Url("media/vod/pres.ism/Manifest")).size()));
}

TEST(KVSsfRdDispatch, Dispatch_NoTypeLibraryHere_FailsWithTheLoadersCode) {
    HRESULT hr = S_OK;
    CUnknown* object = CKVSsfRd::CreateInstance(nullptr, &hr);
    ASSERT_NE(object, nullptr);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->NonDelegatingQueryInterface(IID_IDispatch, dispatch.OutVoid()), S_OK);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(dispatch->Invoke(0, IID_IUnknown, 0, 0, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(dispatch->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr),
              TYPE_E_CANTLOADLIBRARY);
}

constexpr DWORD kAbsolute = AM_SEEKING_AbsolutePositioning;
constexpr DWORD kReturn = AM_SEEKING_ReturnTime;

// What the partial capability check, the rate and the position arithmetic answer; the
// samples a seek chooses are compared by the play test.
TEST_F(KVSsfRdTest, Seeking_OnDemandAnswersAndPositionArithmetic) {
    ReaderGraph graph;
    ASSERT_EQ(graph.Load(Url("media/vod/pres.ism/Manifest")), S_OK);
    graph.ConnectPlaySinks();
    IMediaSeeking* s = graph.Seeking.Get();
    DWORD check = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetCurrentPos;
    EXPECT_EQ(s->CheckCapabilities(&check), S_FALSE);
    check = AM_SEEKING_CanGetCurrentPos;
    EXPECT_EQ(s->CheckCapabilities(&check), E_FAIL);
    EXPECT_EQ(s->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);
    EXPECT_EQ(s->SetRate(0.0), E_INVALIDARG);
    EXPECT_EQ(s->SetRate(-1.0), E_INVALIDARG);
    LONGLONG earliest = -1, latest = -1;
    EXPECT_EQ(s->GetAvailable(&earliest, &latest), S_OK);
    EXPECT_EQ(latest, 100213333);
    // A null format is the current one; a missing out or position pointer fails.
    LONGLONG target = 0;
    EXPECT_EQ(s->ConvertTimeFormat(&target, nullptr, 77, nullptr), S_OK);
    EXPECT_EQ(target, 77);
    EXPECT_EQ(s->ConvertTimeFormat(&target, nullptr, 77, &TIME_FORMAT_FRAME), E_INVALIDARG);
    EXPECT_EQ(s->GetTimeFormat(nullptr), E_POINTER);
    EXPECT_EQ(s->SetPositions(nullptr, kAbsolute, nullptr, 0), E_POINTER);

    // While stopped a seek only stores the positions; ReturnTime
    // hands back the clamped start and the resolved stop.
    const struct {
        LONGLONG Current, Stop;
        DWORD CurrentFlags, StopFlags;
        LONGLONG ReturnedCurrent, ReturnedStop;
    } cases[] = {
        {50000000, 0, kAbsolute | kReturn, AM_SEEKING_NoPositioning, 50000000, 0},
        {-5, 0, kAbsolute | kReturn, AM_SEEKING_NoPositioning, 0, 0},
        {20000000, 10000000, kAbsolute, AM_SEEKING_IncrementalPositioning | kReturn, 20000000,
         30000000},
        // Past the end the start is the end; a stop below the start is the start.
        {999999999, 5, kAbsolute | kReturn, kAbsolute | kReturn, 100213333, 100213333},
    };
    for (const auto& c : cases) {
        LONGLONG current = c.Current, stop = c.Stop;
        EXPECT_EQ(s->SetPositions(&current, c.CurrentFlags, &stop, c.StopFlags), S_OK);
        EXPECT_EQ(current, c.ReturnedCurrent) << c.Current;
        EXPECT_EQ(stop, c.ReturnedStop) << c.Current;
    }
    // The pins answer as the filter does.
    LONGLONG pinStop = 0;
    EXPECT_EQ(Query<IMediaSeeking>(static_cast<IPin*>(graph.Reader->GetPin(1)), IID_IMediaSeeking)
                  ->GetStopPosition(&pinStop),
              S_OK);
    EXPECT_EQ(pinStop, 100213333);
}

TEST_F(KVSsfRdTest, Seeking_LiveAnswersNotImplementedAndCannotCue) {
    ReaderGraph graph;
    ASSERT_EQ(graph.Load(Url("media/live/pres.ism/Manifest")), S_OK);
    IMediaSeeking* s = graph.Seeking.Get();
    DWORD caps = 1;
    EXPECT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0u);
    LONGLONG value = 0;
    EXPECT_EQ(s->GetDuration(nullptr), E_NOTIMPL) << "live comes before the pointer check";
    EXPECT_EQ(s->GetCurrentPosition(&value), E_NOTIMPL);
    EXPECT_EQ(s->SetPositions(&value, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_NOTIMPL);

    graph.ConnectPlaySinks();
    EXPECT_EQ(graph.Filter->Pause(), S_OK);
    FILTER_STATE state;
    EXPECT_EQ(graph.Filter->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(graph.Filter->Stop(), S_OK);
    EXPECT_EQ(graph.Filter->GetState(0, &state), S_OK);
}

TEST_F(KVSsfRdTest, Seek_IntoAGapMovesEveryStreamToTheStart) {
    ReaderGraph graph;
    ASSERT_EQ(graph.Load(Url("fixtures/gap.ism/Manifest")), S_OK);
    graph.ConnectPlaySinks();
    ASSERT_EQ(graph.Connected, (std::vector<HRESULT>{S_OK, S_OK}));
    LONGLONG current = 79360000;
    EXPECT_EQ(graph.Seeking->SetPositions(&current, kAbsolute | kReturn, nullptr, 0), S_OK);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(graph.Reader->GetStream(0)->GetPosition().ChunkIndex, 0u)
        << "video had a chunk there";
    EXPECT_EQ(graph.Reader->GetStream(1)->GetPosition().ChunkIndex, 0u);
    // Elsewhere both streams go where asked.
    current = 45000000;
    graph.Seeking->SetPositions(&current, kAbsolute, nullptr, 0);
    EXPECT_EQ(graph.Reader->GetStream(0)->GetPosition().ChunkIndex, 2u);
    EXPECT_EQ(graph.Reader->GetStream(1)->GetPosition().ChunkIndex, 2u);
}

// Video samples of pin 0 logged after its last end of flush.
size_t VideoSamplesAfterFlush(const std::string& path) {
    std::ifstream in(path);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"pin\": 0,") == std::string::npos)
            continue;
        if (line.find("\"endflush\"") != std::string::npos)
            count = 0;
        else if (line.find("\"md5\"") != std::string::npos)
            ++count;
    }
    return count;
}

TEST_F(KVSsfRdTest, Run_SeekWhilePausedThenCompletes) {
    ReaderGraph graph;
    ASSERT_EQ(graph.Load(Url("media/vod/pres.ism/Manifest")), S_OK);
    CSampleLog log;
    const std::string path = m_temp.Path() + "/samples.jsonl";
    ASSERT_TRUE(log.Open(path));
    graph.ConnectPlaySinks(&log);
    ASSERT_EQ(graph.Control->Pause(), S_OK);
    LONGLONG current = 60000000;
    EXPECT_EQ(graph.Seeking->SetPositions(&current, kAbsolute, nullptr, 0), S_OK);
    // The same values again: no seek.
    EXPECT_EQ(graph.Seeking->SetPositions(&current, kAbsolute, nullptr, 0), S_OK);
    ASSERT_EQ(graph.Control->Run(), S_OK);
    EXPECT_EQ(graph.NextEvent(), EC_COMPLETE);
    LONGLONG position = 0;
    EXPECT_EQ(graph.Seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 100213333) << "the furthest stream reached the end";
    graph.Control->Stop();
    log.Close();
    // From 6 s: the last two chunks, 50 frames each; one flush.
    EXPECT_EQ(VideoSamplesAfterFlush(path), 100u);
}

} // namespace
