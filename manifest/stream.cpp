#include "manifest/stream.h"

#include <algorithm>
#include <new>

#include "fragments/async_fragment.h"
#include "manifest/manifest.h"

CSSFStream::~CSSFStream() {
    // The fragments go first: their threads may still hold tracks of this stream.
    SetFragmentSlotCount(0);
}

int64_t CSSFStream::GetEndTime() const {
    if (Manifest->IsLive)
        return kUnboundedTime;
    if (Chunks.empty())
        return 0;
    const SSFChunk& last = Chunks.back();
    return static_cast<int64_t>(
        AddTicks(static_cast<uint64_t>(last.StartTime), static_cast<uint64_t>(last.Duration)));
}

REFERENCE_TIME CSSFStream::GetDuration() const {
    if (Manifest->IsLive)
        return kUnboundedTime;
    const REFERENCE_TIME end =
        TicksToReferenceTime(static_cast<uint64_t>(GetEndTime()), TimeScale);
    return std::max<REFERENCE_TIME>(end - Manifest->StartTime, 0);
}

SSFPlayPosition CSSFStream::GetPosition() {
    CAutoLock lock(&m_lock);
    return SSFPlayPosition{m_chunkIndex, m_sampleIndex};
}

void CSSFStream::SetPosition(SSFPlayPosition position) {
    CAutoLock lock(&m_lock);
    m_chunkIndex = position.ChunkIndex;
    m_sampleIndex = position.SampleIndex;
}

void CSSFStream::GetLevelState(uint32_t* currentBitrate, uint64_t* targetBitrate) {
    CAutoLock lock(&m_lock);
    *currentBitrate = CurrentTrack != nullptr ? CurrentTrack->Bitrate : 0;
    *targetBitrate = TargetBitrate;
}

CSSFTrack* CSSFStream::GetCurrentTrack() {
    return CurrentTrack;
}

HRESULT CSSFStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
    CSSFTrack* track = GetCurrentTrack();
    if (track == nullptr)
        return E_UNEXPECTED;
    return track->DecideBufferSize(allocator, properties);
}

HRESULT CSSFStream::OnActive() {
    return S_OK;
}
HRESULT CSSFStream::OnInactive() {
    return S_OK;
}
HRESULT CSSFStream::OnFlush() {
    return S_OK;
}
HRESULT CSSFStream::OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}
HRESULT CSSFStream::SwitchTrack(CSSFTrack*) {
    return E_FAIL;
}
