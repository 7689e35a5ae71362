#include "manifest/manifest.h"

#include <algorithm>
#include <new>

#include "fragments/http_client.h"
#include "fragments/http_file.h"
#include "manifest/attribute_reader.h"
#include "manifest/failure_trace.h"
#include "manifest/video_stream.h"
#include "manifest/xml_dom.h"

namespace {

constexpr char kManifestSuffix[] = "/manifest";
constexpr size_t kManifestSuffixLength = sizeof kManifestSuffix - 1;
// The live start position trails the earliest live edge by this much, presentation time.
constexpr REFERENCE_TIME kLiveEdgeDelay = 50000000;

// The document from a local file, or from a downloaded body when one is given.
HRESULT LoadDocument(CXmlDocument* document, const char* path, CHttpFile* body) {
    return body != nullptr ? document->LoadDownload(body) : document->Load(path);
}

} // namespace

CSSFManifest::~CSSFManifest() {
    Clear();
}

HRESULT CSSFManifest::Clear() {
    m_liveRefresh.Stop();
    m_bLiveEnded = false;
    LanguageOption.clear();
    BitrateOption.clear();
    BaseUrl.clear();
    ManifestUrl.clear();
    TimeScale = kReferenceTimePerSecond;
    Duration = 0;
    IsLive = 0;
    StartTime = 0;
    Streams.clear();
    return S_OK;
}

HRESULT CSSFManifest::Load(const char* url) {
    return Load(url, nullptr);
}

HRESULT CSSFManifest::Load(const char* url, CHttpTransferWatch* watch) {
    Clear();
    DownloadFailure.Result = S_OK;
    DownloadFailure.Status = 0;
    DownloadFailure.Url.clear();
    try {
        ManifestUrl = url != nullptr ? url : "";
        ParseUrlOptions();
        BaseUrl = TrimAsciiSpace(ManifestUrl);
        const size_t query = std::min(BaseUrl.find('?'), BaseUrl.size());
        const size_t suffixStart =
            query >= kManifestSuffixLength ? query - kManifestSuffixLength : 0;
        if (!EqualsIgnoreCase(BaseUrl.substr(suffixStart, query - suffixStart), kManifestSuffix))
            return E_FAIL;
        // Keep the "/" before "manifest".
        BaseUrl.resize(query - (kManifestSuffixLength - 1));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    CHttpFile body;
    body.SetWatch(watch);
    HRESULT hr = body.Download(ManifestUrl.c_str());
    RecordDownload(body);
    if (FAILED(hr))
        return hr;
    hr = ParseFile(nullptr, &body);
    if (hr == S_OK) {
        m_pLoadWatch = watch;
        ProbeFrameDurations();
        m_pLoadWatch = nullptr;
        // An aborted probe leaves no frame duration behind it: the load fails.
        if (watch != nullptr && watch->IsAborted())
            hr = E_ABORT;
        else
            PositionStreams();
    }
    if (SUCCEEDED(hr))
        hr = SelectStreamsNoThrow();
    if (FAILED(hr))
        Clear();
    return hr;
}

HRESULT CSSFManifest::LoadFromFile(const char* path) {
    const HRESULT hr = ParseFile(path, nullptr);
    if (FAILED(hr))
        return hr;
    if (hr == S_OK) {
        for (const auto& stream : Streams)
            if (stream->GetStreamKind() == SSFStreamKind::Video)
                static_cast<CSSFVideoStream*>(stream.get())->ConfigureVideoProcessor();
        PositionStreams();
    }
    return SelectStreamsNoThrow();
}

HRESULT CSSFManifest::ParseFile(const char* path, CHttpFile* body) {
    try {
        CXmlDocument document;
        const HRESULT hr = LoadDocument(&document, path, body);
        return FAILED(hr) ? hr : ParseRoot(document);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CSSFManifest::SelectStreamsNoThrow() {
    try {
        return SelectStreams();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void CSSFManifest::ProbeFrameDurations() {
    for (const auto& stream : Streams)
        if (stream->GetStreamKind() == SSFStreamKind::Video) {
            auto* video = static_cast<CSSFVideoStream*>(stream.get());
            video->ProbeFrameDuration();
            // The processed type's frame time may come from the probe.
            video->ConfigureVideoProcessor();
        }
}

HRESULT CSSFManifest::Refresh() {
    m_liveRefresh.Stop();
    CHttpFile body;
    const HRESULT hr = body.Download(ManifestUrl.c_str());
    RecordDownload(body);
    if (FAILED(hr))
        return hr;
    return RefreshFrom(nullptr, &body);
}

void CSSFManifest::RecordDownload(const CHttpFile& body) {
    const HttpFailure& failure = body.GetFailure();
    DownloadFailure.Result = failure.Result;
    DownloadFailure.Status = failure.Status;
    try {
        DownloadFailure.Url = failure.Url;
        if (FAILED(failure.Result))
            TraceDownloadFailure("manifest", failure.Result, failure.Status, failure.Url);
    } catch (const std::bad_alloc&) {
        DownloadFailure.Url.clear(); // the report is best effort; the download's error stands
    }
}

HRESULT CSSFManifest::RefreshFromFile(const char* path) {
    return RefreshFrom(path, nullptr);
}

HRESULT CSSFManifest::AppendRefresh(CHttpTransferWatch* watch) {
    CHttpFile body;
    body.SetWatch(watch);
    const HRESULT hr = body.Download(ManifestUrl.c_str());
    if (FAILED(hr))
        return hr;
    return RefreshFrom(nullptr, &body, true);
}

HRESULT CSSFManifest::RefreshFrom(const char* path, CHttpFile* body, bool append) {
    try {
        CXmlDocument document;
        HRESULT hr = LoadDocument(&document, path, body);
        if (FAILED(hr))
            return hr;
        CXmlElement root;
        hr = document.FindFirstElement("SmoothStreamingMedia", &root);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK)
            return S_OK;
        hr = ReloadStreams(root, append);
        if (FAILED(hr))
            return hr;
        if (!append) {
            PositionStreams();
            return S_OK;
        }
        // A document without "IsLive" true is on demand now. Set after the last chunks
        // were appended, so a stream that sees it has them.
        CXmlAttributes attributes;
        BOOL live = FALSE;
        if (root.GetAttributes(&attributes) == S_OK &&
            SUCCEEDED(ReadBoolean(attributes, "IsLive", &live)) && !live)
            m_bLiveEnded = true;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

REFERENCE_TIME CSSFManifest::GetDuration() const {
    if (IsLive)
        return kUnboundedTime;
    REFERENCE_TIME longest = 0;
    for (const auto& stream : Streams)
        longest = std::max(longest, stream->GetDuration());
    return longest;
}

void CSSFManifest::PositionStreams() {
    StartTime = 0;
    if (IsLive)
        SeekToLiveStart();
    ComputeStartTime();
}

// Five seconds before the earliest live edge over the streams, but never before a
// stream's first chunk.
void CSSFManifest::SeekToLiveStart() {
    REFERENCE_TIME earliestEdge = 0, latestFirst = 0;
    bool first = true;
    for (const auto& stream : Streams) {
        REFERENCE_TIME firstStart = 0, lastStart = 0;
        if (!stream->Chunks.empty()) {
            firstStart = TicksToReferenceTime(stream->Chunks.front().StartTime, stream->TimeScale);
            lastStart = TicksToReferenceTime(stream->Chunks.back().StartTime, stream->TimeScale);
        }
        earliestEdge = first ? lastStart : std::min(earliestEdge, lastStart);
        latestFirst = first ? firstStart : std::max(latestFirst, firstStart);
        first = false;
    }
    const REFERENCE_TIME position = std::max(latestFirst, earliestEdge - kLiveEdgeDelay);
    for (const auto& stream : Streams)
        stream->Seek(position);
}

void CSSFManifest::ComputeStartTime() {
    REFERENCE_TIME earliest = 0;
    bool first = true;
    for (const auto& stream : Streams) {
        REFERENCE_TIME start = 0;
        const uint32_t chunk = stream->GetPosition().ChunkIndex;
        if (chunk < stream->Chunks.size())
            start = TicksToReferenceTime(stream->Chunks[chunk].StartTime, stream->TimeScale);
        earliest = first ? start : std::min(earliest, start);
        first = false;
    }
    StartTime = earliest;
}
