// Test entry point: COM is initialised for the main thread as a host would do it.
#include <gtest/gtest.h>

#include "framework/platform/platform.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        fprintf(stderr, "CoInitializeEx failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 2;
    }
    int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
