// CSSFStream: one kept "StreamIndex" of a presentation, with its quality levels
// (tracks), its chunk list and one fragment slot per chunk. The video and audio kinds
// are in video_stream.h and audio_stream.h.
//
// Threads: parsed and cleared on the loading thread; at play time used by its pin's
// thread, and its chunk list replaced by a live refresh. Lock guards Chunks and
// Fragments (and the play position the runtime moves under it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/critical_section.h"
#include "framework/platform/platform.h"
#include "manifest/chunk.h"
#include "manifest/track.h"

class CMediaType;
class CSSFAsyncFragment;
class CSSFManifest;
class CXmlElement;

class CSSFStream {
public:
    static constexpr int kVideo = 0;
    static constexpr int kAudio = 1;
    // A seek waits this long for the fragment of the chunk it lands in.
    static constexpr DWORD kSeekTimeoutMs = 10000;

    explicit CSSFStream(CSSFManifest* manifest) : Manifest(manifest) {}
    // Deletes the tracks and releases every fragment slot's reference.
    virtual ~CSSFStream();

    // kVideo or kAudio.
    virtual int GetStreamKind() = 0;
    // A new track of this stream's kind bound to it; null when out of memory.
    virtual std::unique_ptr<CSSFTrack> CreateTrack() = 0;
    // Reads a StreamIndex element with its QualityLevel and "c" children and picks the
    // initial track. S_OK: keep the stream; S_FALSE: drop it; negative: the load fails.
    virtual HRESULT Parse(const CXmlElement& streamIndex);
    // Live refresh: replaces the chunk list from a newer StreamIndex, empties the
    // fragment slots and rewinds to chunk 0. Takes Lock.
    virtual HRESULT ReloadChunks(const CXmlElement& streamIndex);
    // Builds chunks from the element's "Chunks" count and "c" children.
    virtual HRESULT ParseChunks(const CXmlElement& streamIndex, std::vector<SSFChunk>* chunks);
    // Places the stream at rtTime (presentation time, before StartTime is subtracted):
    // the chunk holding it, then, once its fragment is in (waiting up to kSeekTimeoutMs),
    // the first audio sample at or after the time, or the last video sync sample at or
    // before it. TRUE when placed or put at its end; FALSE when the time falls inside no
    // chunk (the position is unchanged). Takes Lock, also while waiting.
    virtual BOOL Seek(REFERENCE_TIME rtTime);
    // The track to use for the next chunk request.
    virtual CSSFTrack* GetCurrentTrack();
    // Copies the next sample into sample: S_OK; S_FALSE after the last chunk; E_PENDING
    // while its fragment downloads (never waits); VFW_E_BUFFER_OVERFLOW for a sample
    // larger than the buffer; else the fragment's or the sample's error. Takes Lock.
    virtual HRESULT FillSample(IMediaSample* sample);
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
    // Waits up to timeoutMs for the current chunk's fragment to finish downloading: true
    // once it has (or had), false on time-out or when no download was started. Takes
    // Lock, not while waiting.
    bool WaitForCurrentFragment(DWORD timeoutMs);
    // Live: appends the chunks fragment announces after the last known one and slides
    // the window by as many played chunks. E_OUTOFMEMORY when the list cannot grow.
    HRESULT ApplyLookahead(CSSFAsyncFragment* fragment);
    // Resizes Fragments to count slots: new ones null, dropped ones released. Takes Lock.
    // E_OUTOFMEMORY when the array cannot grow.
    HRESULT SetFragmentSlotCount(size_t count);
    // The fragment of chunk chunkIndex: created for track and started when the slot is
    // empty, else the one cached whatever its track. Waits up to timeoutMs without Lock
    // held. S_OK when downloaded and parsed, E_PENDING while it runs, else its error (a
    // failed fragment stays in its slot and keeps its error). fragment, when given,
    // receives the slot's fragment with a reference whatever the result (null first).
    // E_INVALIDARG past the slots.
    HRESULT GetFragment(CSSFTrack* track, uint32_t chunkIndex, CSSFAsyncFragment** fragment,
                        DWORD timeoutMs);
    // Releases cached fragments, those before currentChunk first, until fewer than 8
    // remain; never currentChunk's. Takes Lock.
    void TrimFragments(uint32_t currentChunk);
    // Releases the first count slots; the others move down. Takes Lock.
    void RemoveFirstFragmentSlots(size_t count);
    // Picks CurrentTrack from Tracks by kind and the manifest's BitrateOption and resets
    // the position. S_FALSE when there is no track.
    HRESULT ChooseInitialTrack();

    uint64_t TargetBitrate = 0;        // bits per second
    CSSFTrack* CurrentTrack = nullptr; // points into Tracks
    std::string Name;
    std::string PinName;          // "~" in front for streams that are not rendered by default
    CSSFManifest* Manifest;       // owner, not owned
    uint32_t SampleIndex = 0;     // next sample in the current chunk; guarded by Lock at play time
    uint32_t ChunkIndex = 0;      // current chunk; Chunks.size() at the end; guarded by Lock
    uint32_t QualityLevels = 0;   // as declared; Tracks holds what was kept
    int64_t TimeScale = 0;        // ticks per second; 0 only when the document says so
    std::string Url;              // fragment URL template
    std::vector<SSFChunk> Chunks; // guarded by Lock
    std::vector<std::unique_ptr<CSSFTrack>> Tracks;
    std::vector<CSSFAsyncFragment*> Fragments; // one reference per non-null slot; guarded by Lock
    CCritSec Lock;

protected:
    // Reads the QualityLevel children into Tracks, dropping those Parse rejects.
    HRESULT ParseTracks(const CXmlElement& streamIndex);

private:
    CSSFStream(const CSSFStream&) = delete;
    CSSFStream& operator=(const CSSFStream&) = delete;
};
