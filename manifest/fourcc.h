// The four-character codes the media types and their consumers know, packed with the
// first character in the lowest byte.
#pragma once

#include <cstdint>

inline constexpr uint32_t kFourCCH264 = 0x34363248;      // "H264"
inline constexpr uint32_t kFourCCAvc1 = 0x31637661;      // "avc1"
inline constexpr uint32_t kFourCCAvc1Upper = 0x31435641; // "AVC1"
inline constexpr uint32_t kFourCCWvc1 = 0x31435657;      // "WVC1"
inline constexpr uint32_t kFourCCYuy2 = 0x32595559;      // "YUY2"
inline constexpr uint32_t kFourCCMp4a = 0x6134706D;      // "mp4a"
