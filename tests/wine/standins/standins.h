// The test-only COM server standing in under Wine for the system filters the video
// processor binds: the AVC decoder and the colour converter of the legacy filter category
// (this project's FFmpeg-backed filters) and the resizer DMO in the video-effect category.
// regsvr32 registers and removes all three; nothing else registers them.
#pragma once

#include "framework/platform/platform.h"

inline constexpr GUID CLSID_StandInAvcDecoder = {
    0x212690fb, 0x83e5, 0x4526, {0x8f, 0xd7, 0x74, 0x47, 0x8b, 0x79, 0x39, 0xcd}};
inline constexpr GUID CLSID_StandInColorConverter = {
    0x1643e180, 0x90f5, 0x11ce, {0x97, 0xd5, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr GUID CLSID_StandInResizer = {
    0x1ea1ea14, 0x48f4, 0x4054, {0xad, 0x1a, 0xe8, 0xae, 0xe1, 0x0a, 0xc8, 0x05}};

inline constexpr WCHAR kStandInsModule[] = L"kvssf_standins.dll";

// Exported for tests in the same process: the graph the most recently created AVC decoder
// has joined, with a reference (S_OK), or S_FALSE and null while it is in none.
typedef HRESULT(STDAPICALLTYPE* StandInDecoderGraphFn)(IFilterGraph** graph);
inline constexpr char kStandInDecoderGraph[] = "StandInDecoderGraph";
