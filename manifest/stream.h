// CSSFStream: one kept "StreamIndex" of a presentation, with its quality levels
// (tracks), its chunk list and one fragment slot per chunk. The video and audio kinds
// are in video_stream.h and audio_stream.h.
//
// Threads: parsed and cleared on the loading thread; at play time used by its pin's
// thread, and its chunk list replaced by a live refresh. m_lock guards Chunks, the
// fragment slots, the play position and the level state the runtime moves under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fragments/async_fragment.h"
#include "framework/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/platform/platform.h"
#include "manifest/chunk.h"
#include "manifest/track.h"

class CMediaType;
class CSSFManifest;
class CXmlElement;

enum class SSFStreamKind { Video, Audio };

// Where delivery stands: the chunk (Chunks.size() at the end) and its next sample.
struct SSFPlayPosition {
    uint32_t ChunkIndex = 0;
    uint32_t SampleIndex = 0;
};

// What a stream's latest failed FillSample met: the chunk in hand, the level its fragment
// was requested for and, when its download failed, the download's status.
struct SSFStreamFailure {
    HRESULT Result = S_OK; // S_OK: no fill has failed
    uint32_t ChunkIndex = 0;
    uint32_t Bitrate = 0; // of the fragment's level, bit/s; 0 when no fragment was created
    DWORD Status = 0;     // HTTP status of the failed download; 0 when none arrived or the
                          // fragment downloaded and its content failed
    std::string Url;      // the fragment's; empty when no fragment was created
};

class CSSFStream {
public:
    // A seek waits this long for the fragment of the chunk it lands in.
    static constexpr DWORD kSeekTimeoutMs = 10000;
    // A live stream at the end of its list ends after this many chunk durations without
    // growth, and never before kMinLiveEndMs.
    static constexpr DWORD kLiveEndChunks = 3;
    static constexpr DWORD kMinLiveEndMs = 10000;

    explicit CSSFStream(CSSFManifest* manifest) : Manifest(manifest) {}
    // Deletes the tracks and releases every fragment slot's reference.
    virtual ~CSSFStream();

    virtual SSFStreamKind GetStreamKind() const = 0;
    // A new track of this stream's kind bound to it; null when out of memory.
    virtual std::unique_ptr<CSSFTrack> CreateTrack() = 0;
    // Reads a StreamIndex element with its QualityLevel and "c" children and picks the
    // initial track. S_OK: keep the stream; S_FALSE: drop it; negative: the load fails.
    virtual HRESULT Parse(const CXmlElement& streamIndex);
    // Live refresh at play time: appends the chunks of a newer StreamIndex that start
    // after the last known one, as ApplyLookahead does. Takes the lock.
    HRESULT AppendChunks(const CXmlElement& streamIndex);
    // Live refresh: replaces the chunk list from a newer StreamIndex, empties the
    // fragment slots and rewinds to chunk 0. Takes the lock.
    virtual HRESULT ReloadChunks(const CXmlElement& streamIndex);
    // Builds chunks from the element's "Chunks" count and "c" children.
    virtual HRESULT ParseChunks(const CXmlElement& streamIndex, std::vector<SSFChunk>* chunks);
    // Places the stream at rtTime (presentation time, before StartTime is subtracted):
    // the chunk holding it, then, once its fragment is in (waiting up to kSeekTimeoutMs),
    // the first audio sample at or after the time, or the last video sync sample at or
    // before it. TRUE when placed or put at its end; FALSE when the time falls inside no
    // chunk (the position is unchanged). Takes the lock, also while waiting.
    virtual BOOL Seek(REFERENCE_TIME rtTime);
    // Starts the download of the fragment Seek(rtTime) will wait for, without waiting:
    // streams placed one after another then download side by side.
    void PrefetchSeek(REFERENCE_TIME rtTime);
    // The track to use for the next chunk request.
    virtual CSSFTrack* GetCurrentTrack();
    // Copies the next sample into sample: S_OK; S_FALSE after the last chunk; E_PENDING
    // while its fragment downloads (never waits); live, after the last chunk, E_PENDING
    // while the manifest is refreshed in the background, every half chunk duration,
    // until the list grows, the presentation turns on demand, or it has not grown for
    // kLiveEndChunks chunk durations (at least kMinLiveEndMs: S_FALSE then); VFW_E_BUFFER_OVERFLOW
    // for a sample larger than the buffer; else the fragment's or the sample's error, which is kept
    // for GetLastFailure and traced. Takes the lock.
    virtual HRESULT FillSample(IMediaSample* sample);
    // The failure the latest failed FillSample recorded (Result S_OK when none). False
    // when out of memory. Takes the lock; any thread.
    bool GetLastFailure(SSFStreamFailure* failure);
    // The current track's media type; E_UNEXPECTED without a current track.
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    // The current track's buffer needs; E_UNEXPECTED without a current track.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties);
    // Play-state notifications from the pin: S_OK.
    virtual HRESULT OnActive();
    virtual HRESULT OnInactive();
    virtual HRESULT OnFlush();
    virtual HRESULT OnNewSegment(REFERENCE_TIME rtStart, REFERENCE_TIME rtStop, double dRate);
    // Switching the quality level at play time: E_FAIL unless a kind supports it.
    virtual HRESULT SwitchTrack(CSSFTrack* track);

    // Stream time: the last chunk's start plus its duration; 0 without chunks;
    // kUnboundedTime when live.
    int64_t GetEndTime() const;
    // Presentation time: GetEndTime converted, minus the manifest's StartTime;
    // kUnboundedTime when live.
    REFERENCE_TIME GetDuration() const;
    // After FillSample answered E_PENDING: waits up to timeoutMs for what it waits for
    // (WaitForDownload by default); true when that progressed.
    virtual bool WaitForProgress(DWORD timeoutMs) { return WaitForDownload(timeoutMs); }
    // The live refresh FillSample waits for, else WaitForCurrentFragment. Takes the lock,
    // not while waiting.
    bool WaitForDownload(DWORD timeoutMs);
    // Waits up to timeoutMs for the current chunk's fragment to finish downloading: true
    // once it has (or had), false on time-out, after WakeWaiter, or when no download
    // was started. Takes the lock, not while waiting.
    bool WaitForCurrentFragment(DWORD timeoutMs);
    // Ends a WaitForCurrentFragment in progress at once (or the next one, until Seek),
    // so that a flushing pin's thread turns to its commands. Any thread.
    void WakeWaiter();
    // Live: appends the chunks fragment announces after the last known one and slides
    // the window by as many played chunks. E_OUTOFMEMORY when the list cannot grow.
    HRESULT ApplyLookahead(CSSFAsyncFragment* fragment);
    // Resizes the fragment slots to count: new ones empty, dropped ones released. Takes
    // the lock. E_OUTOFMEMORY when the array cannot grow.
    HRESULT SetFragmentSlotCount(size_t count);
    size_t GetFragmentSlotCount();
    // The fragment of chunk chunkIndex: created for track and started when the slot is
    // empty, else the one cached whatever its track. Waits up to timeoutMs without the
    // lock held. S_OK when downloaded and parsed, E_PENDING while it runs, else its error
    // (a failed fragment stays in its slot and keeps its error). fragment, when given,
    // receives the slot's fragment whatever the result (empty first). E_INVALIDARG past
    // the slots. A cached fragment's throughput measurement goes into TargetBitrate once,
    // at the first request that finds its download done, before or after the wait.
    HRESULT GetFragment(CSSFTrack* track, uint32_t chunkIndex, ComPtr<CSSFAsyncFragment>* fragment,
                        DWORD timeoutMs);
    // The fragment cached in chunkIndex's slot; empty when none or past the slots.
    ComPtr<CSSFAsyncFragment> GetCachedFragment(uint32_t chunkIndex);
    // Releases cached fragments, those before currentChunk first, until fewer than 8
    // remain; never currentChunk's. Takes the lock.
    void TrimFragments(uint32_t currentChunk);
    // Releases the first count slots; the others move down. Takes the lock.
    void RemoveFirstFragmentSlots(size_t count);
    // Picks CurrentTrack from Tracks by kind and the manifest's BitrateOption and resets
    // the position. S_FALSE when there is no track.
    HRESULT ChooseInitialTrack();
    // The play position, and placing it (no fragment is fetched). Take the lock.
    SSFPlayPosition GetPosition();
    void SetPosition(SSFPlayPosition position);
    // The current level's bit rate (0 without one) and TargetBitrate, read together.
    // Takes the lock.
    void GetLevelState(uint32_t* currentBitrate, uint64_t* targetBitrate);

    uint64_t TargetBitrate = 0;        // bits per second; guarded by the lock at play time
    CSSFTrack* CurrentTrack = nullptr; // points into Tracks; guarded by the lock at play time
    std::string Name;
    std::string PinName;          // "~" in front for streams that are not rendered by default
    CSSFManifest* Manifest;       // owner, not owned
    uint32_t QualityLevels = 0;   // as declared; Tracks holds what was kept
    int64_t TimeScale = 0;        // ticks per second; 0 only when the document says so
    std::string Url;              // fragment URL template
    std::vector<SSFChunk> Chunks; // guarded by the lock at play time
    std::vector<std::unique_ptr<CSSFTrack>> Tracks;

protected:
    // Reads the QualityLevel children into Tracks, dropping those Parse rejects.
    HRESULT ParseTracks(const CXmlElement& streamIndex);
    // Moves a measurement waiting in fragment into TargetBitrate. Called with the lock held.
    void TakeMeasurementLocked(CSSFAsyncFragment* fragment);
    // A new fragment for chunkIndex of track, at url, not started yet; empty when out of
    // memory. Called with the lock held.
    virtual ComPtr<CSSFAsyncFragment> CreateFragment(CSSFTrack* track, uint32_t chunkIndex,
                                                     const std::string& url);

    CCritSec m_lock;

private:
    // A chunk's cached fragment and the level it was created for.
    struct FragmentSlot {
        ComPtr<CSSFAsyncFragment> Fragment;
        CSSFTrack* Track = nullptr;
    };

    CSSFStream(const CSSFStream&) = delete;
    CSSFStream& operator=(const CSSFStream&) = delete;

    // rtTime (presentation time) in stream ticks, rounded up.
    uint64_t SeekTarget(REFERENCE_TIME rtTime) const;
    // The slot of chunkIndex with the lock held; null past the slots.
    FragmentSlot* SlotLocked(uint32_t chunkIndex);
    // FillSample with the lock held (stream_runtime.cpp).
    HRESULT FillSampleLocked(IMediaSample* sample);
    // Keeps hr with the current chunk's fragment facts in m_lastFailure and traces them.
    void RecordFailureLocked(HRESULT hr);
    // Appends the chunks of newer that start after the last one, then slides the window
    // by as many played chunks. E_OUTOFMEMORY when the list cannot grow.
    HRESULT AppendChunksLocked(const std::vector<SSFChunk>& newer);
    // FillSample past the last chunk: S_FALSE or E_PENDING as FillSample says.
    HRESULT LiveEndLocked();

    uint32_t m_sampleIndex = 0; // next sample in the current chunk; guarded by m_lock
    uint32_t m_chunkIndex = 0;  // current chunk; Chunks.size() at the end; guarded by m_lock
    std::vector<FragmentSlot> m_fragments; // one per chunk; guarded by m_lock
    // Auto reset: set by each download of the stream that ends, and by WakeWaiter.
    std::shared_ptr<CAMEvent> m_progress = std::make_shared<CAMEvent>();
    std::atomic<bool> m_wake{false};
    SSFStreamFailure m_lastFailure; // guarded by m_lock
    // Live, past the last chunk: since when (GetTickCount), and the last refresh asked
    // for; guarded by m_lock.
    bool m_bLiveWaiting = false;
    DWORD m_dwLiveWaitStartTick = 0;
    DWORD m_dwLastRefreshTick = 0;
};
