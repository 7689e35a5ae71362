// The filters the processor binds by display name: an AVC decoder and a colour converter
// in the legacy filter category, the WVC1 decoder and the resizer as DMOs. Windows has
// the system's; on POSIX RegisterProcessorFilters puts the FFmpeg-backed filters of
// videoproc/posix/ under the same names.
#pragma once

#include "framework/platform/platform.h"

#define KVSSF_LEGACY_FILTERS L"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\"

inline constexpr const WCHAR* kAvcDecoderDisplayName =
    KVSSF_LEGACY_FILTERS L"{212690FB-83E5-4526-8FD7-74478B7939CD}";
inline constexpr const WCHAR* kColorConverterDisplayName =
    KVSSF_LEGACY_FILTERS L"{1643E180-90F5-11CE-97D5-00AA0055595A}";
inline constexpr const WCHAR* kWvc1DecoderDisplayName =
    L"@device:dmo:{82D353DF-90BD-4382-8BC2-3F6192B76E34}{00000000-0000-0000-0000-000000000000}";
inline constexpr const WCHAR* kResizerDisplayName =
    L"@device:dmo:{1EA1EA14-48F4-4054-AD1A-E8AEE10AC805}{D990EE14-776C-4723-BE46-3DA2F56F10B9}";

#undef KVSSF_LEGACY_FILTERS

// Makes the four display names bindable in this process: S_OK at once on Windows; on
// POSIX registers the classes and names (E_OUTOFMEMORY when the tables cannot grow).
// Hosts call it once, with RegisterGraphClasses, before playing with "auto" quality.
HRESULT RegisterProcessorFilters();
