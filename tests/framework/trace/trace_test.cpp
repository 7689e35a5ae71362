// The trace calls through the trace file: switch bits, line prefixes, the byte dump, the
// file's byte order mark and appending, the folder fallback, sharing retries, release and
// concurrent writers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/trace/trace_writer.h"
#include "tests/framework/trace/file_lock.h"
#include "tests/framework/trace/trace_fixture.h"

namespace {

constexpr DWORD kFileOnly = KTRACE_ON | KTRACE_FILE;

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

using TraceTest = TraceFileTest;

TEST_F(TraceTest, AllCalls_TracingBitClear_NothingWrittenAndNamesEmpty) {
    g_dwKTraceSwitch = KTRACE_FILE | KTRACE_TIME | KTRACE_THREAD_ID | KTRACE_HANDLE_COUNT;
    const BYTE bytes[] = {1, 2, 3};
    KTrace("\nline %d", 1);
    KTraceBytes("\nbytes", bytes, sizeof(bytes));
    KTraceLibraryError("error %s", "text");
    KTraceAndFlush("\nflushed");
    KTraceRelease();
    EXPECT_EQ(0u, m_dir.FileCount());
    EXPECT_STREQ("", KTraceErrorName(E_FAIL));
}

TEST_F(TraceTest, KTraceAndFlush_NewFile_ByteOrderMarkThenLineBreaksAsCrLf) {
    g_dwKTraceSwitch = kFileOnly;
    KTraceAndFlush("\nfirst %s\rsecond\r\nthird\n", "line");
    EXPECT_EQ("\r\nfirst line\r\nsecond\r\nthird\r\n", TraceText());
}

TEST_F(TraceTest, KTraceAndFlush_ExistingFile_OnlyAppended) {
    {
        std::ofstream existing(m_file, std::ios::binary);
        existing << "earlier\r\n";
    }
    g_dwKTraceSwitch = kFileOnly;
    KTraceAndFlush("\nlater");
    KTraceAndFlush(" and more");
    EXPECT_EQ("earlier\r\n\r\nlater and more", ReadFileBytes(m_file));
}

TEST_F(TraceTest, KTrace_NoLeadingNewline_EmittedUnchangedWhateverThePrefixBits) {
    g_dwKTraceSwitch = kFileOnly | KTRACE_TIME | KTRACE_THREAD_ID | KTRACE_HANDLE_COUNT;
    KTraceAndFlush("value %d, text %s", 42, "abc");
    EXPECT_EQ("value 42, text abc", TraceText());
}

TEST_F(TraceTest, KTrace_LeadingNewlinesWithoutTimeBit_NewlinesHandleCountAndThreadId) {
    g_dwKTraceSwitch = kFileOnly | KTRACE_THREAD_ID | KTRACE_HANDLE_COUNT;
    KTrace("\n\nfrom main");
    std::thread other([] { KTrace("\nfrom other"); });
    other.join();
    KTraceAndFlush("\nfrom main");

    // "%4d %08x: " before each message.
    const std::vector<std::string> lines = SplitLines(TraceText());
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("", lines[0]);
    EXPECT_EQ("", lines[1]);
    const char* const messages[] = {"from main", "from other", "from main"};
    std::string threads[3];
    for (size_t i = 0; i < 3; ++i) {
        const std::string& line = lines[i + 2];
        const size_t end = line.find(' ', line.find_first_not_of(' '));
        ASSERT_NE(std::string::npos, end) << line;
        EXPECT_GE(end, 4u) << "a handle count is at least four characters wide: " << line;
        // Read, not -1; Wine reports a count of 0.
        EXPECT_GE(std::stoi(line.substr(0, end)), 0) << line;
        const std::string rest = line.substr(end + 1);
        EXPECT_TRUE(MatchesShape(rest, std::string("~~~~~~~~: ") + messages[i])) << line;
        threads[i] = rest.substr(0, 8);
    }
    EXPECT_EQ(threads[0], threads[2]);
    EXPECT_NE(threads[0], threads[1]);
}

TEST_F(TraceTest, KTrace_TimeBit_StampFollowsTheNewlines) {
    g_dwKTraceSwitch = kFileOnly | KTRACE_TIME;
    KTraceAndFlush("\nstamped");
    std::string text = TraceText();
    ASSERT_EQ("\r\n", text.substr(0, 2));
    text.erase(0, 2);
    // One more newline when more than 100 ms passed since an earlier stamped line.
    if (text.compare(0, 2, "\r\n") == 0)
        text.erase(0, 2);
    ASSERT_TRUE(MatchesShape(text, "##:##:##.###: stamped")) << text;
    EXPECT_LT(std::stoi(text.substr(0, 2)), 24);
    EXPECT_LT(std::stoi(text.substr(3, 2)), 60);
    EXPECT_LT(std::stoi(text.substr(6, 2)), 60);
}

TEST_F(TraceTest, KTrace_ManyLeadingNewlines_TwentyFourKeptAndPrefixBounded) {
    g_dwKTraceSwitch = kFileOnly;
    KTrace("%send", Repeat("\n", 30).c_str());
    g_dwKTraceSwitch = kFileOnly | KTRACE_THREAD_ID | KTRACE_HANDLE_COUNT;
    KTraceAndFlush("%snext", Repeat("\n", 40).c_str());

    const std::string text = TraceText();
    const std::string first = Repeat("\r\n", 24) + "end";
    ASSERT_EQ(first, text.substr(0, first.size()));
    const std::string second = text.substr(first.size());
    EXPECT_EQ(Repeat("\r\n", 24), second.substr(0, 48));
    ASSERT_GE(second.size(), 4u);
    EXPECT_EQ("next", second.substr(second.size() - 4));
    EXPECT_LE(second.size() - 4, 50u) << "the prefix holds at most 50 characters";
}

TEST_F(TraceTest, KTrace_LongMessage_CutAt2048Characters) {
    g_dwKTraceSwitch = kFileOnly;
    const std::string message(5000, 'x');
    KTraceAndFlush("%s", message.c_str());
    EXPECT_EQ(std::string(2048, 'x'), TraceText());
}

TEST_F(TraceTest, KTraceBytes_DumpLayout_SixteenPerLineHexThenCharacters) {
    g_dwKTraceSwitch = kFileOnly;
    const std::string bytes = std::string("Hello, world!\0\x01\x7F", 16) + "0123";
    KTraceBytes("dump:", reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    KTraceBytes("\nnone", reinterpret_cast<const BYTE*>(bytes.data()), 0);
    KTraceAndFlush("\nexact");
    KTraceBytes("", reinterpret_cast<const BYTE*>(bytes.data()), 16);
    KTraceAndFlush("|");

    const std::string expected =
        "dump:"
        "\r\n 48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21 00 01 7F  Hello, world!..."
        "\r\n 30 31 32 33 " +
        std::string(12 * 3, ' ') +
        " 0123"
        "\r\nnone"
        "\r\nexact"
        "\r\n 48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21 00 01 7F  Hello, world!..."
        "|";
    EXPECT_EQ(expected, TraceText());
}

TEST_F(TraceTest, KTraceLibraryError_Message_DashedLine) {
    g_dwKTraceSwitch = kFileOnly;
    KTraceLibraryError("Could not allocate memory: %s", "AllocSPS: SPS");
    KTraceAndFlush("");
    EXPECT_EQ("---------------------- Could not allocate memory: AllocSPS: SPS\r\n", TraceText());
}

TEST_F(TraceTest, Flush_PathIsAFolder_FileOfTheSameNameInsideItUsedFromThenOn) {
    std::filesystem::create_directory(m_file);
    g_dwKTraceSwitch = kFileOnly;
    KTraceAndFlush("\nfirst");
    KTraceAndFlush("\nsecond");
    const std::filesystem::path inside = m_file / "KorvelTrace.txt";
    EXPECT_EQ(kByteOrderMark + "\r\nfirst\r\nsecond", ReadFileBytes(inside));
}

TEST_F(TraceTest, Flush_FallbackFolderDeniedToo_TextDroppedAndNoSecondFallback) {
    const std::filesystem::path inside = m_file / "KorvelTrace.txt";
    std::filesystem::create_directories(inside);
    g_dwKTraceSwitch = kFileOnly;
    KTraceAndFlush("\nlost");
    KTraceAndFlush("\nlost too");
    EXPECT_FALSE(std::filesystem::exists(inside / "KorvelTrace.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(inside));
}

TEST_F(TraceTest, Flush_FileHeldByAnotherWriterBriefly_WrittenOnceFree) {
    CScopedFileLock lock(m_file);
    ASSERT_TRUE(lock.Held());
    g_dwKTraceSwitch = kFileOnly;
    // Let go well within the writer's second of retries.
    std::thread release([&lock] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lock.Unlock();
    });
    KTraceAndFlush("\nwaited");
    release.join();
    EXPECT_EQ("\r\nwaited", TraceText());
}

TEST_F(TraceTest, Flush_FileHeldPastTheRetries_TextDropped) {
    g_dwKTraceSwitch = kFileOnly;
    {
        CScopedFileLock lock(m_file);
        ASSERT_TRUE(lock.Held());
        KTraceAndFlush("\ndropped");
    }
    KTraceAndFlush("\nkept");
    EXPECT_EQ("\r\nkept", TraceText());
}

TEST_F(TraceTest, KTraceRelease_PendingText_WrittenAndNextTraceAttachesAnew) {
    g_dwKTraceSwitch = kFileOnly;
    KTrace("\none");
    KTrace("\ntwo");
    KTraceRelease();
    EXPECT_EQ("\r\none\r\ntwo", TraceText());

    // Attaching again reads the path anew.
    const std::filesystem::path second = std::filesystem::path(m_dir.Path()) / "second.txt";
    SetTraceFile(second);
    KTraceAndFlush("\nthree");
    EXPECT_EQ(kByteOrderMark + "\r\nthree", ReadFileBytes(second));
    EXPECT_EQ("\r\none\r\ntwo", TraceText());
}

TEST_F(TraceTest, KTrace_Timer_WritesPendingTextWithoutAFlush) {
    g_dwKTraceSwitch = kFileOnly;
    KTrace("\nby the timer");
    // The timer writes within 500 ms; the bound only keeps a broken timer from hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFileBytes(m_file).empty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ("\r\nby the timer", TraceText());
}

TEST_F(TraceTest, KTrace_ManyThreads_EveryLineWrittenOnceAndWhole) {
    g_dwKTraceSwitch = kFileOnly | KTRACE_THREAD_ID;
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 100 == 99)
                    KTraceAndFlush("\nthread %d line %d", t, i);
                else
                    KTrace("\nthread %d line %d", t, i);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    KTraceRelease();

    const std::vector<std::string> lines = SplitLines(TraceText());
    ASSERT_EQ(size_t(kThreads * kLines + 1), lines.size());
    EXPECT_EQ("", lines[0]);
    std::set<std::string> seen;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        ASSERT_TRUE(MatchesShape(line.substr(0, 17), "~~~~~~~~: thread ")) << line;
        EXPECT_TRUE(seen.insert(line.substr(10)).second) << "twice: " << line;
    }
    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i)
            expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i));
    }
    EXPECT_EQ(expected, seen);
}

TEST(TraceSharedBlockNameTest, TraceSharedBlockName_Path_ProcessIdTagAndForwardSlashes) {
    EXPECT_EQ(L"00001A2B.642.c:/dir/sub/KorvelTrace.txt",
              TraceSharedBlockName(0x1A2B, L"c:\\dir\\sub/KorvelTrace.txt"));
    EXPECT_EQ(L"FFFFFFFF.642.", TraceSharedBlockName(0xFFFFFFFF, L""));
}

} // namespace
