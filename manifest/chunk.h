// The chunk record of a stream's chunk list, and the conversions between stream time
// (ticks of a time scale) and presentation time (100 ns units).
#pragma once

#include <cstdint>

#include "framework/platform/platform.h"

// One chunk, in stream time.
struct SSFChunk {
    int64_t StartTime; // "t"
    int64_t Duration;  // "d"; the next chunk's start minus this one's, except for the last
};

inline constexpr int64_t kReferenceTimePerSecond = 10000000;
// Durations and end times of live presentations are unbounded.
inline constexpr int64_t kUnboundedTime = INT64_MAX;

// A time scale of 0 counts as the default, so no conversion divides by zero.
inline constexpr uint64_t EffectiveTimeScale(int64_t timeScale) {
    return timeScale == 0 ? uint64_t(kReferenceTimePerSecond) : uint64_t(timeScale);
}

// ticks × 10,000,000 / timeScale, truncating. The product is formed in 128 bits so that
// live time lines far above 2^53 ticks convert exactly; a time past the signed 64-bit
// range saturates at INT64_MAX, so a converted time is never negative.
inline REFERENCE_TIME TicksToReferenceTime(uint64_t ticks, int64_t timeScale) {
    const unsigned __int128 time = static_cast<unsigned __int128>(ticks) *
                                   uint64_t(kReferenceTimePerSecond) /
                                   EffectiveTimeScale(timeScale);
    return time > uint64_t(INT64_MAX) ? INT64_MAX : static_cast<REFERENCE_TIME>(time);
}

// time × timeScale / 10,000,000, rounded up: the first tick at or after time; a tick past
// the 64-bit range saturates at UINT64_MAX.
inline uint64_t ReferenceTimeToTicksCeil(uint64_t time, int64_t timeScale) {
    const unsigned __int128 ticks =
        (static_cast<unsigned __int128>(time) * EffectiveTimeScale(timeScale) +
         uint64_t(kReferenceTimePerSecond - 1)) /
        uint64_t(kReferenceTimePerSecond);
    return ticks > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(ticks);
}

// a + b in ticks, saturating at UINT64_MAX.
inline uint64_t AddTicks(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
