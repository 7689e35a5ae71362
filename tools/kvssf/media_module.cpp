#include "tools/kvssf/media_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "videoproc/posix/processor_classes.h"

namespace {

// Loads the module once, from the executable's own directory; nullptr, after saying why
// on standard error, when it cannot be loaded.
const KvssfMediaEntries* Module() {
    static const KvssfMediaEntries* entries = [] {
        char self[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path(self, length > 0 ? size_t(length) : 0);
        path = path.substr(0, path.rfind('/') + 1) + "libkvssf_media.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto entry =
            handle ? reinterpret_cast<KvssfMediaEntryPoint>(dlsym(handle, KVSSF_MEDIA_ENTRY_POINT))
                   : nullptr;
        if (entry == nullptr)
            std::fprintf(stderr, "kvssf: the media module cannot be loaded: %s\n", dlerror());
        return entry ? entry() : nullptr;
    }();
    return entries;
}

// Loads the module and registers its filters once: S_OK, or why not.
HRESULT RegisterModuleFilters() {
    static const HRESULT registered = [] {
        const KvssfMediaEntries* entries = Module();
        return entries ? entries->RegisterProcessorFilters()
                       : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }();
    return registered;
}

// The module's registration replaces this creator with the filter's own, which the
// second creation reaches.
template <size_t N> HRESULT CreateOnDemand(IUnknown* outer, REFIID riid, void** ppv) {
    *ppv = nullptr;
    const HRESULT hr = RegisterModuleFilters();
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(*kProcessorClasses[N].Clsid, outer, CLSCTX_INPROC_SERVER, riid, ppv);
}

} // namespace

HRESULT RegisterProcessorFiltersOnDemand() {
    return RegisterProcessorClasses(
        {&CreateOnDemand<0>, &CreateOnDemand<1>, &CreateOnDemand<2>, &CreateOnDemand<3>});
}

std::unique_ptr<IMediaRecorder> CreateMediaRecorder() {
    const KvssfMediaEntries* entries = Module();
    return std::unique_ptr<IMediaRecorder>(entries ? entries->CreateRecorder() : nullptr);
}
