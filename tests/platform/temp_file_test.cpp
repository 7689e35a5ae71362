#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "framework/platform/platform.h"
#include "tests/support/temp_directory.h"

TEST(TempFile, Create_UsableStreamOfAFileGoneWithIt) {
    ScopedTempDirectory temp;
    const std::string dir = GetTempDirectory();
    const char last = dir.back();
    EXPECT_TRUE(last == '/' || last == '\\');

    FILE* streams[2] = {};
    for (FILE*& stream : streams) {
        ASSERT_EQ(S_OK, CreateTempFile(&stream));
        ASSERT_NE(nullptr, stream);
        ASSERT_EQ(3u, std::fwrite("abc", 1, 3, stream));
        ASSERT_EQ(0, SeekStream(stream, 0, SEEK_SET));
        char back[3] = {};
        ASSERT_EQ(3u, std::fread(back, 1, 3, stream));
        EXPECT_EQ(0, std::memcmp(back, "abc", 3));
        EXPECT_EQ(3, GetStreamLength(stream));
    }
    EXPECT_EQ(2u, temp.LeftoverCount()) << "both files live in the temporary directory";
#ifndef _WIN32
    EXPECT_EQ(0u, temp.FileCount()) << "unlinked at once: nothing in the directory";
#endif
    for (FILE* stream : streams)
        EXPECT_EQ(S_OK, CloseTempFile(stream));
    EXPECT_EQ(0u, temp.LeftoverCount());
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
