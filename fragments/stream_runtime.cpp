// The play-time operations of CSSFStream: positioning within the chunk list.
#include "manifest/manifest.h"
#include "manifest/stream.h"

namespace {

// The chunk a seek to tsTarget (stream ticks) lands in: chunk 0 for targets before the
// first chunk, Chunks.size() (the end) for targets after the last chunk's start, else
// the first chunk whose [start, start + duration) holds the target. False when none
// does (a gap, or the start of a last chunk of duration 0).
bool FindSeekChunk(const std::vector<SSFChunk>& chunks, uint64_t tsTarget, size_t* chunk) {
    if (chunks.empty()) {
        *chunk = 0;
        return true;
    }
    const __int128 target = tsTarget;
    if (target < chunks.front().StartTime) {
        *chunk = 0;
        return true;
    }
    if (target > chunks.back().StartTime) {
        *chunk = chunks.size();
        return true;
    }
    for (size_t i = 0; i < chunks.size(); ++i) {
        const __int128 start = chunks[i].StartTime;
        if (start <= target && target < start + chunks[i].Duration) {
            *chunk = i;
            return true;
        }
    }
    return false;
}

} // namespace

BOOL CSSFStream::Seek(REFERENCE_TIME rtTime) {
    CAutoLock lock(&Lock);
    // The target in stream time, rounded up; unsigned, as every time sum of the model.
    const uint64_t tsTarget = ReferenceTimeToTicksCeil(
        static_cast<uint64_t>(rtTime) + static_cast<uint64_t>(Manifest->StartTime), TimeScale);

    size_t chunk = 0;
    if (!FindSeekChunk(Chunks, tsTarget, &chunk))
        return FALSE;
    ChunkIndex = static_cast<uint32_t>(chunk);
    // Delivery starts at the chunk's first sample; placing within the chunk needs its
    // fragment's sample table.
    SampleIndex = 0;
    return TRUE;
}
