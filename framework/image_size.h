// The bytes an uncompressed picture takes, by video subtype.
#pragma once

#include "framework/platform/platform.h"

// The average bytes per image row of width pixels in subtype, in 32-bit arithmetic with
// signed division: planar 4:2:0 (IYUV, I420, YV12) (width + 1) / 2 × 3; YUY2 and UYVY
// width × 2; RGB32 and AYUV width × 4; RGB24, RGB565, RGB555 and RGB8 rows padded to
// 4 bytes. 0 for any other subtype (NV12 included).
LONG ImageStride(const GUID& subtype, LONG width);
// ImageStride(subtype, width) × |height|.
LONG ImageSize(const GUID& subtype, LONG width, LONG height);
