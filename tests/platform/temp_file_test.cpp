#include <gtest/gtest.h>

#include <cstdio>

#include "framework/platform/platform.h"

namespace {

bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

} // namespace

TEST(TempFile, Create_BothModes_UniqueTmvFileInTempDirectory) {
    const std::string dir = GetTempDirectory();
    ASSERT_FALSE(dir.empty());
    const char last = dir.back();
    EXPECT_TRUE(last == '/' || last == '\\');

    std::string first, second;
    FILE* a = nullptr;
    FILE* b = nullptr;
    ASSERT_EQ(S_OK, CreateTempFile(false, &first, &a));
    ASSERT_EQ(S_OK, CreateTempFile(true, &second, &b));
    EXPECT_NE(first, second);
    for (const std::string* name : {&first, &second}) {
        ASSERT_EQ(0u, name->find(dir));
        const std::string base = name->substr(dir.size());
        EXPECT_EQ(0u, base.find("TMV")) << base;
    }
    EXPECT_EQ(S_OK, CloseTempFile(a, first, false));
    EXPECT_EQ(S_OK, CloseTempFile(b, second, true));
    EXPECT_TRUE(Exists(first));
    EXPECT_FALSE(Exists(second));
    EXPECT_TRUE(DeleteFileA(first.c_str()));
    EXPECT_FALSE(Exists(first));
}

TEST(TempFile, HresultFromCrtError_MapsRecordedError) {
    ClearCrtError();
    EXPECT_EQ(S_OK, HresultFromCrtError());
    FILE* f = std::fopen("this/path/does/not/exist/x.bin", "rb");
    ASSERT_EQ(nullptr, f);
    HRESULT hr = HresultFromCrtError();
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << std::hex << hr;
}
