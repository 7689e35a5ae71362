// libFuzzer entry: one input is one manifest document, loaded into the model.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <libxml/xmlerror.h>

#include "manifest/manifest.h"

namespace {
void Quiet(void*, const char*, ...) {}
} // namespace

// libxml2 writes what it finds wrong with an input to standard error: millions of inputs
// would spend more time there than in the parse.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    xmlSetGenericErrorFunc(nullptr, Quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("manifest", 0);
    if (fd < 0 || write(fd, data, size) != ssize_t(size))
        __builtin_trap();
    CSSFManifest manifest;
    // Fragment requests (a live presentation's start seek) go to a closed local port.
    manifest.BaseUrl = "http://127.0.0.1:1/";
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (SUCCEEDED(manifest.LoadFromFile(path.c_str()))) {
        for (const auto& stream : manifest.Streams) {
            // The model's invariants the runtime relies on.
            if (stream->GetFragmentSlotCount() != stream->Chunks.size() ||
                stream->CurrentTrack == nullptr)
                __builtin_trap();
            stream->GetDuration();
        }
    }
    close(fd);
    return 0;
}
