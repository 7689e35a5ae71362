// A trace file of its own for each test: g_wszKTraceFile points into a private temporary
// directory while the module is detached from the writer; afterwards the writer is let
// go, and the switch word and the path are restored.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "framework/trace/trace.h"
#include "tests/support/temp_directory.h"

// The UTF-8 byte order mark a new trace file begins with.
extern const std::string kByteOrderMark;

// Points g_wszKTraceFile at path.
void SetTraceFile(const std::filesystem::path& path);
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Whether text has shape's length and, at each position, a lower-case hexadecimal digit
// where shape has '~', else shape's character.
bool MatchesShape(const std::string& text, const std::string& shape);

class TraceFileTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The trace file's text after its byte order mark; fails the test when the mark is
    // missing.
    std::string TraceText() const;

    ScopedTempDirectory m_dir;
    std::filesystem::path m_file;

private:
    DWORD m_savedSwitch = 0;
    std::wstring m_savedPath;
};
