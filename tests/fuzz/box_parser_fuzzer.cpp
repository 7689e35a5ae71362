// libFuzzer entry: one input is one fragment body, parsed from an in-memory file
// (the parser asks the file for its length, which a memory stream cannot tell).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fragments/box_parser.h"
#include "fragments/http_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("body", 0);
    if (fd < 0 || write(fd, data, size) != ssize_t(size) || lseek(fd, 0, SEEK_SET) != 0)
        __builtin_trap();
    CHttpFile file;
    file.Stream = fdopen(fd, "rb");
    if (file.Stream == nullptr)
        __builtin_trap();
    SSFParsedFragment fragment;
    const HRESULT hr = CBoxParser(&fragment).Parse(&file);
    if (SUCCEEDED(hr)) {
        // What the sample fill relies on: positions and decode times that add up.
        uint64_t position = fragment.Samples.empty() ? 0 : fragment.Samples[0].DataPosition;
        uint64_t decode = 0;
        for (const SSFSample& sample : fragment.Samples) {
            if (sample.DataPosition != position || sample.DecodeOffset != decode)
                __builtin_trap();
            position += sample.Size;
            decode += sample.Duration;
        }
        if (fragment.Samples.size() != fragment.SampleCount || decode != fragment.TotalDuration)
            __builtin_trap();
        if (fragment.Lookahead.size() != fragment.LookaheadCount)
            __builtin_trap();
    }
    return 0;
}
