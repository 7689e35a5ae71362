// The media module's exported entry point.
#include <new>

#include "tools/kvssf/media_module.h"
#include "videoproc/processor_filters.h"

namespace {

IMediaRecorder* CreateRecorder() {
    return new (std::nothrow) CRecorder;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const KvssfMediaEntries* KvssfMediaModule() {
    static const KvssfMediaEntries entries = {&RegisterProcessorFilters, &CreateRecorder};
    return &entries;
}
