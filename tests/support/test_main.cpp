// Test entry point: COM is initialised for the main thread as a host would do it.
#include <gtest/gtest.h>

#include "framework/platform/graph_classes.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr))
        hr = RegisterGraphClasses();
    if (FAILED(hr)) {
        fprintf(stderr, "COM set-up failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 2;
    }
    int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
