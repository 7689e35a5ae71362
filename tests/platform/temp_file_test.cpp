#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "framework/platform/platform.h"
#include "tests/support/temp_directory.h"

namespace {

#ifdef _WIN32
bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}
#endif

} // namespace

TEST(TempFile, Create_BothModes_UsableStreamOfANewFileInTempDirectory) {
    ScopedTempDirectory temp;
    const std::string dir = GetTempDirectory();
    const char last = dir.back();
    EXPECT_TRUE(last == '/' || last == '\\');

    std::string names[2];
    FILE* streams[2] = {};
    for (int keep = 0; keep < 2; ++keep) {
        ASSERT_EQ(S_OK, CreateTempFile(keep == 0, &names[keep], &streams[keep]));
        ASSERT_NE(nullptr, streams[keep]);
        ASSERT_EQ(3u, std::fwrite("abc", 1, 3, streams[keep]));
        ASSERT_EQ(0, SeekStream(streams[keep], 0, SEEK_SET));
        char back[3] = {};
        ASSERT_EQ(3u, std::fread(back, 1, 3, streams[keep]));
        EXPECT_EQ(0, std::memcmp(back, "abc", 3));
        EXPECT_EQ(3, GetStreamLength(streams[keep]));
    }
    EXPECT_EQ(2u, temp.LeftoverCount()) << "both files live in the temporary directory";
#ifdef _WIN32
    // Named "TMV...", the kept one staying after its stream is closed.
    EXPECT_NE(names[0], names[1]);
    for (const std::string& name : names)
        EXPECT_EQ(0u, name.find(dir + "TMV")) << name;
    EXPECT_EQ(S_OK, CloseTempFile(streams[0], names[0], true));
    EXPECT_EQ(S_OK, CloseTempFile(streams[1], names[1], false));
    EXPECT_FALSE(Exists(names[0]));
    EXPECT_TRUE(Exists(names[1]));
    EXPECT_TRUE(DeleteFileA(names[1].c_str()));
#else
    // Unlinked at once: nothing in the directory even while open, no name to reopen.
    EXPECT_EQ(0u, temp.FileCount());
    EXPECT_TRUE(names[0].empty());
    EXPECT_TRUE(names[1].empty());
    EXPECT_EQ(S_OK, CloseTempFile(streams[0], names[0], true));
    EXPECT_EQ(S_OK, CloseTempFile(streams[1], names[1], false));
#endif
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
