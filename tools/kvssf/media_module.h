// The parts of kvssf over FFmpeg (the video processor's decoders and scalers, and the
// recording) live in a module of their own, libkvssf_media.so beside the executable, that
// is loaded on first use: a play that needs neither starts without FFmpeg's libraries.
// The module's code binds to the framework in the executable, which exports it.
#pragma once

#include <memory>

#include "framework/platform/platform.h"
#include "tools/kvssf/recorder.h"

// What the module hands out, through its one exported function.
struct KvssfMediaEntries {
    HRESULT (*RegisterProcessorFilters)();
    IMediaRecorder* (*CreateRecorder)(); // nullptr when out of memory
};
#define KVSSF_MEDIA_ENTRY_POINT "KvssfMediaModule"
extern "C" typedef const KvssfMediaEntries* (*KvssfMediaEntryPoint)();

// Puts the processor's classes under their display names with creators that load the
// module and register its filters on the first bind. S_OK or E_OUTOFMEMORY.
HRESULT RegisterProcessorFiltersOnDemand();

// A new recorder from the module; nullptr when the module cannot be loaded (said on
// standard error) or memory is short.
std::unique_ptr<IMediaRecorder> CreateMediaRecorder();
