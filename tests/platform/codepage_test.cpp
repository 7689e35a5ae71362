#include <gtest/gtest.h>

#include "framework/platform/platform.h"

// Text that every ANSI code page the tests run under (UTF-8, Windows-1252) can hold.
TEST(Codepage, RoundTrip_Latin1Text_Unchanged) {
    const std::wstring text = L"Qualit\u00e9 fran\u00e7aise ~ 0123";
    std::string narrow;
    ASSERT_EQ(S_OK, WideToAnsi(text.data(), text.size(), &narrow));
    EXPECT_GT(narrow.size(), 0u);
    std::wstring wide;
    ASSERT_EQ(S_OK, AnsiToWide(narrow.data(), narrow.size(), &wide));
    EXPECT_EQ(text, wide);
}

TEST(Codepage, Convert_EmbeddedNulAndEmpty_LengthsKept) {
    const wchar_t text[] = {L'a', 0, L'b'};
    std::string narrow;
    ASSERT_EQ(S_OK, WideToAnsi(text, 3, &narrow));
    EXPECT_EQ(std::string("a\0b", 3), narrow);
    ASSERT_EQ(S_OK, WideToAnsi(L"", 0, &narrow));
    EXPECT_TRUE(narrow.empty());
    std::wstring wide = L"stale";
    ASSERT_EQ(S_OK, AnsiToWide("", 0, &wide));
    EXPECT_TRUE(wide.empty());
}
