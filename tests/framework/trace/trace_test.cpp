// The trace calls through the trace file: the switch bit, one golden text, the message
// bound, the file's byte order mark, the folder fallback, sharing retries, release, the
// timer and concurrent writers.
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

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

using TraceTest = TraceFileTest;

// Appended to an existing file: line breaks as CR LF, a message without a leading newline
// unprefixed whatever the prefix bits, a message cut at 2048 characters, the byte dump, the
// library error line.
TEST_F(TraceTest, AllCalls_ExistingFile_GoldenTextAppended) {
    {
        std::ofstream existing(m_file, std::ios::binary);
        existing << "earlier\r\n";
    }
    g_dwKTraceSwitch = kFileOnly;
    KTrace("\nfirst %s\rsecond\r\nthird\n", "line");
    g_dwKTraceSwitch = kFileOnly | KTRACE_TIME | KTRACE_THREAD_ID | KTRACE_HANDLE_COUNT;
    KTrace("value %d, text %s", 42, "abc");
    g_dwKTraceSwitch = kFileOnly;
    KTrace("%s", std::string(5000, 'x').c_str());
    const std::string bytes = std::string("Hello, world!\0\x01\x7F", 16) + "0123";
    KTraceBytes("dump:", reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    KTraceBytes("\nnone", reinterpret_cast<const BYTE*>(bytes.data()), 0);
    KTraceLibraryError("Could not allocate memory: %s", "AllocSPS: SPS");
    KTraceAndFlush("|");

    const std::string expected =
        "earlier\r\n"
        "\r\nfirst line\r\nsecond\r\nthird\r\n"
        "value 42, text abc" +
        std::string(2048, 'x') +
        "dump:"
        "\r\n 48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21 00 01 7F  Hello, world!..."
        "\r\n 30 31 32 33 " +
        std::string(12 * 3, ' ') +
        " 0123"
        "\r\nnone"
        "---------------------- Could not allocate memory: AllocSPS: SPS\r\n"
        "|";
    EXPECT_EQ(expected, ReadFileBytes(m_file));
}

// A folder at the path: a file of the same name inside it, from then on; when that is a
// folder too, the text is dropped and there is no second fallback.
TEST_F(TraceTest, Flush_PathIsAFolder_FileInsideItOnceThenDropped) {
    const std::filesystem::path inside = m_file / "KorvelTrace.txt";
    std::filesystem::create_directory(m_file);
    g_dwKTraceSwitch = kFileOnly;
    KTraceAndFlush("\nfirst");
    KTraceAndFlush("\nsecond");
    EXPECT_EQ(kByteOrderMark + "\r\nfirst\r\nsecond", ReadFileBytes(inside));

    KTraceRelease();
    std::filesystem::remove(inside);
    std::filesystem::create_directory(inside);
    KTraceAndFlush("\nlost");
    KTraceAndFlush("\nlost too");
    EXPECT_TRUE(std::filesystem::is_empty(inside));
}

// Another writer's hold: waited out within the writer's second of retries, else the text
// is dropped.
TEST_F(TraceTest, Flush_FileHeldByAnotherWriter_WrittenOnceFreeOrDroppedPastRetries) {
    g_dwKTraceSwitch = kFileOnly;
    {
        CScopedFileLock lock(m_file);
        ASSERT_TRUE(lock.Held());
        KTraceAndFlush("\ndropped");
    }
    CScopedFileLock lock(m_file);
    ASSERT_TRUE(lock.Held());
    std::thread release([&lock] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lock.Unlock();
    });
    KTraceAndFlush("\nwaited");
    release.join();
    EXPECT_EQ("\r\nwaited", TraceText());
}

// Pending text is written by the release, else by the timer within 500 ms; attaching again
// reads the path anew.
TEST_F(TraceTest, KTraceReleaseAndTimer_PendingText_WrittenWithoutAFlush) {
    g_dwKTraceSwitch = kFileOnly;
    KTrace("\none");
    KTrace("\ntwo");
    KTraceRelease();
    EXPECT_EQ("\r\none\r\ntwo", TraceText());

    const std::filesystem::path second = std::filesystem::path(m_dir.Path()) / "second.txt";
    SetTraceFile(second);
    KTrace("\nby the timer");
    // The bound only keeps a broken timer from hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFileBytes(second).empty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(kByteOrderMark + "\r\nby the timer", ReadFileBytes(second));
    EXPECT_EQ("\r\none\r\ntwo", TraceText());
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
