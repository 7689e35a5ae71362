// The play-time operations of CSSFStream: positioning within the chunk list, filling
// media samples from the cached fragments, following live windows, and the video
// stream's level adaptation.
#include <algorithm>
#include <new>

#include "fragments/async_fragment.h"
#include "manifest/manifest.h"
#include "manifest/stream.h"
#include "manifest/video_stream.h"

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

uint64_t CSSFStream::SeekTarget(REFERENCE_TIME rtTime) const {
    // Rounded up; unsigned, as every time sum of the model.
    return ReferenceTimeToTicksCeil(
        static_cast<uint64_t>(rtTime) + static_cast<uint64_t>(Manifest->StartTime), TimeScale);
}

void CSSFStream::PrefetchSeek(REFERENCE_TIME rtTime) {
    size_t chunk = 0;
    CSSFTrack* track;
    {
        CAutoLock lock(&m_lock);
        if (!FindSeekChunk(Chunks, SeekTarget(rtTime), &chunk) || chunk == Chunks.size())
            return;
        track = CurrentTrack;
    }
    GetFragment(track, static_cast<uint32_t>(chunk), nullptr, 0);
}

BOOL CSSFStream::Seek(REFERENCE_TIME rtTime) {
    CAutoLock lock(&m_lock);
    m_wake.store(false);
    const uint64_t tsTarget = SeekTarget(rtTime);
    size_t chunk = 0;
    if (!FindSeekChunk(Chunks, tsTarget, &chunk))
        return FALSE;
    m_chunkIndex = static_cast<uint32_t>(chunk);
    m_sampleIndex = 0;
    if (chunk == Chunks.size())
        return TRUE;

    // Placing within the chunk needs its sample table; without it delivery starts at
    // the chunk's first sample.
    ComPtr<CSSFAsyncFragment> fragment;
    const HRESULT hr = GetFragment(CurrentTrack, m_chunkIndex, &fragment, kSeekTimeoutMs);
    if (SUCCEEDED(hr) && fragment) {
        // A target before the first chunk starts at its beginning.
        const uint64_t chunkStart = uint64_t(Chunks[chunk].StartTime);
        const uint64_t offset = tsTarget > chunkStart ? tsTarget - chunkStart : 0;
        const std::vector<SSFSample>& samples = fragment->Samples;
        if (GetStreamKind() == SSFStreamKind::Audio) {
            size_t i = 0;
            while (i < samples.size() && samples[i].DecodeOffset < offset)
                ++i;
            if (i == samples.size()) {
                ++m_chunkIndex;
            } else {
                m_sampleIndex = static_cast<uint32_t>(i);
            }
        } else {
            for (size_t i = 0; i < samples.size() && samples[i].DecodeOffset <= offset; ++i)
                if (IsSyncSample(samples[i].Flags))
                    m_sampleIndex = static_cast<uint32_t>(i);
        }
    }
    return TRUE;
}

namespace {

// Presentation time of a point in stream time: the converted time (0 to INT64_MAX) less
// the presentation's start (the same range), which cannot overflow.
REFERENCE_TIME PresentationTime(uint64_t ticks, int64_t timeScale, REFERENCE_TIME startTime) {
    return TicksToReferenceTime(ticks, timeScale) - startTime;
}

} // namespace

HRESULT CSSFStream::FillSampleLocked(IMediaSample* sample) {
    for (;;) {
        if (m_chunkIndex >= Chunks.size())
            return LiveEndLocked();
        m_bLiveWaiting = false;
        ComPtr<CSSFAsyncFragment> fragment;
        HRESULT hr = GetFragment(GetCurrentTrack(), m_chunkIndex, &fragment, 0);
        if (FAILED(hr))
            return hr;
        CSSFTrack* const fragmentTrack = SlotLocked(m_chunkIndex)->Track;

        // The chunk in hand stays current even when the window slides under it.
        const uint64_t chunkStart = uint64_t(Chunks[m_chunkIndex].StartTime);
        hr = ApplyLookahead(fragment.Get());
        if (FAILED(hr))
            return hr;
        if (fragmentTrack != CurrentTrack) {
            hr = SwitchTrack(fragmentTrack);
            if (FAILED(hr))
                return hr;
        }
        if (m_chunkIndex + 1 < Chunks.size())
            GetFragment(GetCurrentTrack(), m_chunkIndex + 1, nullptr, 0);

        if (m_sampleIndex < fragment->SampleCount) {
            const SSFSample& record = fragment->Samples[m_sampleIndex];
            BYTE* buffer = nullptr;
            hr = sample->GetPointer(&buffer);
            if (FAILED(hr))
                return hr;
            const LONG capacity = sample->GetSize();
            if (capacity < 0 || record.Size > uint32_t(capacity))
                return VFW_E_BUFFER_OVERFLOW;
            hr = fragment->CopyPayload(record.DataPosition, record.Size, buffer);
            if (SUCCEEDED(hr))
                hr = sample->SetActualDataLength(LONG(record.Size));
            if (FAILED(hr))
                return hr;
            const uint64_t startTicks = AddTicks(chunkStart, record.DecodeOffset);
            REFERENCE_TIME start = PresentationTime(startTicks, TimeScale, Manifest->StartTime);
            REFERENCE_TIME stop = PresentationTime(AddTicks(startTicks, record.Duration), TimeScale,
                                                   Manifest->StartTime);
            hr = sample->SetTime(&start, &stop);
            if (FAILED(hr))
                return hr;
            sample->SetDiscontinuity(FALSE);
            sample->SetMediaTime(nullptr, nullptr);
            sample->SetMediaType(nullptr);
            sample->SetPreroll(FALSE);
            sample->SetSyncPoint(IsSyncSample(record.Flags) ? TRUE : FALSE);
            ++m_sampleIndex;
            return S_OK;
        }
        ++m_chunkIndex;
        m_sampleIndex = 0;
        TrimFragments(m_chunkIndex);
    }
}

HRESULT CSSFStream::LiveEndLocked() {
    if (!Manifest->IsLive || Manifest->HasLiveEnded() || Chunks.empty())
        return S_FALSE;
    const DWORD now = GetTickCount();
    const int64_t chunkMs =
        TicksToReferenceTime(uint64_t(std::max<int64_t>(Chunks.back().Duration, 0)), TimeScale) /
        (kReferenceTimePerSecond / 1000);
    const DWORD chunkDurationMs = DWORD(std::min<int64_t>(chunkMs, 3600000));
    const DWORD retryMs = std::max<DWORD>(chunkDurationMs / 2, 1);
    if (!m_bLiveWaiting) {
        m_bLiveWaiting = true;
        m_dwLiveWaitStartTick = now;
        m_dwLastRefreshTick = now - retryMs;
    }
    // Past the bound the stream stays at its end until the list grows.
    if (now - m_dwLiveWaitStartTick >= std::max(kLiveEndChunks * chunkDurationMs, kMinLiveEndMs))
        return S_FALSE;
    if (now - m_dwLastRefreshTick >= retryMs) {
        m_dwLastRefreshTick = now;
        Manifest->RequestLiveRefresh();
    }
    return E_PENDING;
}

bool CSSFStream::WaitForDownload(DWORD timeoutMs) {
    bool refreshing = false;
    {
        CAutoLock lock(&m_lock);
        refreshing = m_bLiveWaiting;
    }
    return refreshing ? Manifest->WaitForLiveRefresh(timeoutMs) : WaitForCurrentFragment(timeoutMs);
}

bool CSSFStream::WaitForCurrentFragment(DWORD timeoutMs) {
    ComPtr<CSSFAsyncFragment> fragment;
    {
        CAutoLock lock(&m_lock);
        if (FragmentSlot* slot = SlotLocked(m_chunkIndex))
            fragment = slot->Fragment;
    }
    if (!fragment)
        return false;
    const DWORD start = GetTickCount();
    while (fragment->Wait(0) == E_PENDING) {
        const DWORD waited = GetTickCount() - start;
        if (m_wake.exchange(false) || waited >= timeoutMs || !m_progress->Wait(timeoutMs - waited))
            return false;
    }
    return true;
}

void CSSFStream::WakeWaiter() {
    m_wake.store(true);
    m_progress->Set();
}

HRESULT CSSFStream::ApplyLookahead(CSSFAsyncFragment* fragment) {
    CAutoLock lock(&m_lock);
    if (!Manifest->IsLive || fragment->LookaheadCount == 0)
        return S_OK;
    std::vector<SSFChunk> announced;
    try {
        for (const SSFLookaheadEntry& entry : fragment->Lookahead)
            announced.push_back(SSFChunk{int64_t(entry.AbsoluteTime), int64_t(entry.Duration)});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return AppendChunksLocked(announced);
}

HRESULT CSSFStream::AppendChunksLocked(const std::vector<SSFChunk>& newer) {
    size_t appended = 0;
    for (const SSFChunk& chunk : newer) {
        // Compared as unsigned, as the look-ahead's absolute times are.
        if (!Chunks.empty() && uint64_t(chunk.StartTime) <= uint64_t(Chunks.back().StartTime))
            continue;
        try {
            Chunks.push_back(chunk);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        ++appended;
    }
    if (appended == 0)
        return S_OK;
    const size_t slide = std::min<size_t>(appended, m_chunkIndex);
    if (slide > 0) {
        m_chunkIndex -= static_cast<uint32_t>(slide);
        Chunks.erase(Chunks.begin(), Chunks.begin() + static_cast<std::ptrdiff_t>(slide));
        RemoveFirstFragmentSlots(slide);
    }
    return SetFragmentSlotCount(Chunks.size());
}

CSSFTrack* CSSFVideoStream::GetCurrentTrack() {
    return HasVideoProcessor() ? ChooseAdaptiveTrack() : CurrentTrack;
}

CSSFTrack* CSSFVideoStream::ChooseAdaptiveTrack() {
    CSSFTrack* best = nullptr;
    for (size_t i = 0; i < Tracks.size(); ++i) {
        CSSFTrack* track = Tracks[i].get();
        if (track->GetBitrate() > TargetBitrate)
            continue;
        // A later level is a candidate only once an earlier one was.
        if (i == 0 || (best != nullptr && track->GetBitrate() > best->GetBitrate()))
            best = track;
    }
    if (best == nullptr) {
        for (const auto& track : Tracks)
            if (best == nullptr || track->GetBitrate() < best->GetBitrate())
                best = track.get();
    }
    return best;
}
