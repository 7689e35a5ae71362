// The video-format compatibility rules of CMediaType's equality and partial match: which
// format types describe video, when blocks of one video format type but different sizes
// may be equal, when two video formats describe the same pictures, and the
// FORMAT_VideoInfo form of a block with an aspect ratio.
#pragma once

#include "framework/platform/platform.h"

// FORMAT_VideoInfo, FORMAT_VideoInfo2, FORMAT_MPEG2Video, FORMAT_MPEGVideo or
// FORMAT_KvssfVideoInfoEx.
bool IsVideoFormatType(const GUID& formatType);
// The minimum block length for blocks of type's format type but of different sizes to be
// compared at all; 0 when such blocks are never equal.
ULONG VideoSameTypeMinimumLength(const AM_MEDIA_TYPE& type);
// Both blocks readable as video formats describing the same pictures: equal aspect
// ratios, compatible bitmap headers, frame durations at most 1 apart (0 counts as
// 333333), and rectangles that agree (empty or whole picture count alike). first's
// picture size judges the rectangles, so the test is not symmetric in every case.
bool VideoFormatsCompatible(const AM_MEDIA_TYPE& first, const AM_MEDIA_TYPE& second);
// One type FORMAT_VideoInfo, the other FORMAT_VideoInfo2 or FORMAT_MPEG2Video of square
// pixels, whose FORMAT_VideoInfo form equals the first's block byte for byte.
bool VideoInfoFormsMatch(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
