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

// ticks × 10,000,000 / timeScale, unsigned, truncating. The product is formed in 128 bits
// so that live time lines far above 2^53 ticks convert exactly; the result wraps to 64
// bits only when it does not fit.
inline uint64_t TicksToReferenceTime(uint64_t ticks, int64_t timeScale) {
    const unsigned __int128 product =
        static_cast<unsigned __int128>(ticks) * uint64_t(kReferenceTimePerSecond);
    return static_cast<uint64_t>(product / EffectiveTimeScale(timeScale));
}

// time × timeScale / 10,000,000, unsigned, rounded up: the first tick at or after time.
inline uint64_t ReferenceTimeToTicksCeil(uint64_t time, int64_t timeScale) {
    const unsigned __int128 product =
        static_cast<unsigned __int128>(time) * EffectiveTimeScale(timeScale);
    return static_cast<uint64_t>((product + uint64_t(kReferenceTimePerSecond - 1)) /
                                 uint64_t(kReferenceTimePerSecond));
}
