#include "tests/framework/trace/trace_fixture.h"

#include <cwchar>
#include <fstream>
#include <iterator>

const std::string kByteOrderMark = "\xEF\xBB\xBF";

void SetTraceFile(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    ASSERT_LT(wide.size(), KTRACE_PATH_CHARS);
    std::wcsncpy(g_wszKTraceFile, wide.c_str(), KTRACE_PATH_CHARS);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MatchesShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (shape[i] == '~' ? !hex : c != shape[i])
            return false;
    }
    return true;
}

void TraceFileTest::SetUp() {
    m_savedSwitch = g_dwKTraceSwitch;
    m_savedPath = g_wszKTraceFile;
    m_file = std::filesystem::path(m_dir.Path()) / "KorvelTrace.txt";
    SetTraceFile(m_file);
}

void TraceFileTest::TearDown() {
    KTraceRelease();
    g_dwKTraceSwitch = m_savedSwitch;
    SetTraceFile(m_savedPath);
}

std::string TraceFileTest::TraceText() const {
    const std::string bytes = ReadFileBytes(m_file);
    EXPECT_EQ(kByteOrderMark, bytes.substr(0, kByteOrderMark.size()));
    return bytes.size() < kByteOrderMark.size() ? std::string()
                                                : bytes.substr(kByteOrderMark.size());
}
