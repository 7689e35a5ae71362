// CSSFManifest: the model of one Smooth Streaming presentation, loaded from its
// manifest URL, and refreshed in place while a live presentation plays.
//
// Threads: Load, Refresh and Clear run on the caller's thread (the filter's, under its
// lock). The manifest fields and the stream list are not locked: nothing changes them
// while the graph runs except Refresh, which replaces chunk lists under each stream's
// own Lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fragments/http_file.h"
#include "framework/platform/platform.h"
#include "manifest/live_refresh.h"
#include "manifest/stream.h"

class CHttpFile;
class CHttpTransferWatch;
class CXmlDocument;
class CXmlElement;

class CSSFManifest {
public:
    CSSFManifest() = default;
    virtual ~CSSFManifest();

    // Ends a live refresh under way, then empties the strings and the streams and
    // restores the root defaults. S_OK.
    HRESULT Clear();
    // Loads the presentation at url (narrow; null counts as empty). The "_ssf_" options
    // are taken out of its query; it must end in "/manifest" (any case) before the query,
    // else E_FAIL. Download errors are the HTTP client's. Once the document is
    // downloaded, every failure clears the model; VFW_E_INVALID_FILE_FORMAT when it is
    // not well-formed. A document without streams loads with S_OK.
    HRESULT Load(const char* url);
    // Load with its downloads (the manifest, then the probes' fragments) reported to
    // watch; E_ABORT (the model cleared) once the watch is aborted. watch outlives the
    // model's fragments.
    HRESULT Load(const char* url, CHttpTransferWatch* watch);
    // The watch of the Load under way; null outside Load.
    CHttpTransferWatch* GetLoadWatch() const { return m_pLoadWatch; }
    // Re-downloads ManifestUrl and replaces the chunk list of every stream that the new
    // document still describes (same kind, same "Url" byte for byte). Never clears the
    // model; streams reloaded before a failure keep their new chunks. Ends a live
    // refresh under way first (no pin may run).
    HRESULT Refresh();

    // Live refresh at play time, for streams that played their whole list (pins'
    // threads): starts one in the background unless one runs, and waits for it.
    void RequestLiveRefresh() { m_liveRefresh.Request(); }
    bool WaitForLiveRefresh(DWORD timeoutMs) { return m_liveRefresh.WaitForRefresh(timeoutMs); }
    // True once a live refresh found the presentation no longer live: streams end at the
    // last chunk of their list.
    bool HasLiveEnded() const { return m_bLiveEnded.load(); }
    // The live refresh's worker: downloads ManifestUrl (its transfer watched by watch)
    // and appends to every matching stream the chunks after its last one, keeping its
    // position. Never clears or repositions the model.
    HRESULT AppendRefresh(CHttpTransferWatch* watch);

    // Load once the document is in a local file, without the frame-duration probes:
    // parse, initial tracks, positions, stream order. Does not clear the model on failure
    // (Load does).
    HRESULT LoadFromFile(const char* path);
    // Refresh once the new document is in a local file.
    HRESULT RefreshFromFile(const char* path);

    // Presentation time: the longest stream, never below 0; 0 without streams;
    // kUnboundedTime when live.
    REFERENCE_TIME GetDuration() const;

    // Takes "_ssf_Language" and "_ssf_Bitrate" out of ManifestUrl's query into
    // LanguageOption and BitrateOption (names in any case, names and values trimmed).
    void ParseUrlOptions();
    // Orders Streams: video before audio, the preferred audio language first, then the
    // default stream of each kind before the others, whose PinName gets a leading "~".
    HRESULT SelectStreams();

    std::string LanguageOption; // "_ssf_Language"
    std::string BitrateOption;  // "_ssf_Bitrate": "highest", "auto", "lowest" or bit/s
    std::string BaseUrl;        // up to and including the "/" before "manifest"
    std::string ManifestUrl;    // the URL loaded, without the "_ssf_" options
    // Presentation time: the earliest current-chunk start over the streams; subtracted
    // from every time handed to the host.
    REFERENCE_TIME StartTime = 0;
    std::vector<std::unique_ptr<CSSFStream>> Streams; // pin order after SelectStreams
    int64_t TimeScale = kReferenceTimePerSecond;      // root ticks per second
    int64_t Duration = 0;                             // root ticks
    BOOL IsLive = 0;
    // What the latest download of the document by Load or Refresh met (Result S_OK when it
    // arrived); kept through Clear, so a host can name the status and URL that failed.
    HttpFailure DownloadFailure;

private:
    CSSFManifest(const CSSFManifest&) = delete;
    CSSFManifest& operator=(const CSSFManifest&) = delete;

    // Reads the document at path, or the downloaded body (consumed) when one is given,
    // into the model: the root, its streams, their tracks and chunks, initial tracks.
    // Does not clear the model on failure.
    HRESULT ParseFile(const char* path, CHttpFile* body);
    // RefreshFromFile from path, or from the downloaded body (consumed) when one is given.
    HRESULT RefreshFrom(const char* path, CHttpFile* body, bool append = false);
    // SelectStreams with E_OUTOFMEMORY for a failed allocation.
    HRESULT SelectStreamsNoThrow();
    // Each video stream's FrameDuration from its first fragment (downloads).
    void ProbeFrameDurations();
    // Keeps body's failure in DownloadFailure and traces a failed download.
    void RecordDownload(const CHttpFile& body);

    // One function per element of the document (manifest_parser.cpp).
    HRESULT ParseRoot(const CXmlDocument& document);
    HRESULT ParseStreams(const CXmlElement& root);
    // Each matching stream reloads its chunks, or appends the new ones when append.
    HRESULT ReloadStreams(const CXmlElement& root, bool append);

    // After a parse or refresh: live start position, then StartTime.
    void PositionStreams();
    void SeekToLiveStart();
    void ComputeStartTime();

    CHttpTransferWatch* m_pLoadWatch = nullptr; // set during Load only, on its thread
    std::atomic<bool> m_bLiveEnded{false};      // written by the refresh worker
    CSSFLiveRefresh m_liveRefresh{this};
};
