// KTraceErrorName: the table rows, the Windows Sockets and raster ranges, unknown codes,
// and the empty answer while tracing is off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "framework/trace/trace.h"
#include "framework/trace/trace_names.h"

namespace {

class TraceNamesTest : public testing::Test {
protected:
    void SetUp() override {
        m_savedSwitch = g_dwKTraceSwitch;
        g_dwKTraceSwitch = KTRACE_ON;
    }
    void TearDown() override { g_dwKTraceSwitch = m_savedSwitch; }

private:
    DWORD m_savedSwitch = 0;
};

// The name a row's text begins with.
std::string NameOf(const std::string& text) {
    return text.substr(0, text.find(' '));
}

bool IsNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// "NAME", "NAME(ARGUMENTS)", either followed by separator and a description that neither
// begins with a space nor ends with a full stop.
bool IsRowText(const std::string& text, const std::string& separator, bool descriptionRequired) {
    const size_t at = text.find(separator);
    const std::string name = text.substr(0, at);
    const size_t open = name.find('(');
    if (name.empty() || !(name[0] >= 'A' && name[0] <= 'Z'))
        return false;
    for (size_t i = 0; i < std::min(open, name.size()); ++i) {
        if (!IsNameCharacter(name[i]))
            return false;
    }
    if (open != std::string::npos && name.back() != ')')
        return false;
    if (at == std::string::npos)
        return !descriptionRequired;
    const std::string description = text.substr(at + separator.size());
    return !description.empty() && description[0] != ' ' && description.back() != '.';
}

TEST_F(TraceNamesTest, KTraceErrorName_EveryHresultRow_FoundByItsCode) {
    size_t count = 0;
    const TraceCodeName* rows = TraceHresultNames(&count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_STREQ(rows[i].Text, KTraceErrorName(HRESULT(rows[i].Code))) << i;
        EXPECT_TRUE(IsRowText(rows[i].Text, " - ", false)) << rows[i].Text;
    }
}

TEST_F(TraceNamesTest, KTraceErrorName_PlatformConstants_RowsOfTheirNames) {
    const struct {
        HRESULT Code;
        const char* Name;
    } known[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_ABORT, "E_ABORT"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_HANDLE, "E_HANDLE"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {VFW_S_STATE_INTERMEDIATE, "VFW_S_STATE_INTERMEDIATE"},
        {VFW_S_CANT_CUE, "VFW_S_CANT_CUE"},
        {VFW_E_INVALIDMEDIATYPE, "VFW_E_INVALIDMEDIATYPE"},
        {VFW_E_NO_ACCEPTABLE_TYPES, "VFW_E_NO_ACCEPTABLE_TYPES"},
        {VFW_E_INVALID_DIRECTION, "VFW_E_INVALID_DIRECTION"},
        {VFW_E_BUFFER_OVERFLOW, "VFW_E_BUFFER_OVERFLOW"},
        {VFW_E_BUFFERS_OUTSTANDING, "VFW_E_BUFFERS_OUTSTANDING"},
        {VFW_E_NOT_COMMITTED, "VFW_E_NOT_COMMITTED"},
        {VFW_E_STATE_CHANGED, "VFW_E_STATE_CHANGED"},
        {VFW_E_NOT_STOPPED, "VFW_E_NOT_STOPPED"},
        {VFW_E_WRONG_STATE, "VFW_E_WRONG_STATE"},
        {VFW_E_TYPE_NOT_ACCEPTED, "VFW_E_TYPE_NOT_ACCEPTED"},
        {VFW_E_TIMEOUT, "VFW_E_TIMEOUT"},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
        {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), "HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)"},
        {HRESULT_FROM_WIN32(ERROR_READ_FAULT), "HRESULT_FROM_WIN32(ERROR_READ_FAULT)"},
        {HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), "HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)"},
    };
    for (const auto& code : known)
        EXPECT_EQ(code.Name, NameOf(KTraceErrorName(code.Code)));
    EXPECT_STREQ("E_INVALIDARG - One or more arguments are invalid", KTraceErrorName(0x80070057));
    EXPECT_STREQ("E_ABORTED_BY_THIS_FILTER", KTraceErrorName(HRESULT(0xFEDCBA97)));
    EXPECT_STREQ("E_ABORTED_BY_DOWNSTREAM_FILTER", KTraceErrorName(HRESULT(0xFEDCBA98)));
}

TEST_F(TraceNamesTest, KTraceErrorName_CodeInNoTable_UpperCaseHex) {
    EXPECT_STREQ("0x12345678", KTraceErrorName(0x12345678));
    EXPECT_STREQ("0xDEADBEEF", KTraceErrorName(HRESULT(0xDEADBEEF)));
    EXPECT_STREQ("0x00000002", KTraceErrorName(2));
    // Between two rows, and past the last.
    EXPECT_STREQ("0x80004006", KTraceErrorName(HRESULT(0x80004006)));
    EXPECT_STREQ("0xFFFFFFFF", KTraceErrorName(HRESULT(0xFFFFFFFF)));
}

TEST_F(TraceNamesTest, KTraceErrorName_WinsockRange_ByLowSixteenBits) {
    size_t count = 0;
    const TraceCodeName* rows = TraceWinsockNames(&count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_STREQ(rows[i].Text, KTraceErrorName(HRESULT(0x80070000 | rows[i].Code))) << i;
        EXPECT_EQ(0u, std::string(rows[i].Text).rfind("WSA", 0)) << rows[i].Text;
        EXPECT_TRUE(IsRowText(rows[i].Text, " = ", true)) << rows[i].Text;
    }
    EXPECT_STREQ(
        "WSAEINTR = A blocking operation was interrupted by a call to WSACancelBlockingCall",
        KTraceErrorName(HRESULT(0x80072714)));
    EXPECT_EQ("WSAECONNRESET", NameOf(KTraceErrorName(HRESULT(0x80072746))));

    EXPECT_STREQ("Unknown Winsock error (10000=0x00002710)", KTraceErrorName(HRESULT(0x80072710)));
    EXPECT_STREQ("Unknown Winsock error (11999=0x00002EDF)", KTraceErrorName(HRESULT(0x80072EDF)));
    EXPECT_STREQ("Unknown Winsock error (10005=0x00002715)", KTraceErrorName(HRESULT(0x80072715)));
    EXPECT_STREQ("0x8007270F", KTraceErrorName(HRESULT(0x8007270F)));
    EXPECT_STREQ("0x80072EE0", KTraceErrorName(HRESULT(0x80072EE0)));
}

TEST_F(TraceNamesTest, KTraceErrorName_RasterRange_BaseMinusCode) {
    EXPECT_STREQ("Korvelsuite Raster Error (0)", KTraceErrorName(HRESULT(0x8005F000)));
    EXPECT_STREQ("Korvelsuite Raster Error (-1)", KTraceErrorName(HRESULT(0x8005F001)));
    EXPECT_STREQ("Korvelsuite Raster Error (-4095)", KTraceErrorName(HRESULT(0x8005FFFF)));
    EXPECT_STREQ("0x8005EFFF", KTraceErrorName(HRESULT(0x8005EFFF)));
    EXPECT_STREQ("0x80060000", KTraceErrorName(HRESULT(0x80060000)));
}

TEST_F(TraceNamesTest, KTraceErrorName_TracingOff_EmptyWhateverTheCode) {
    g_dwKTraceSwitch = KTRACE_FILE | KTRACE_TIME | KTRACE_THREAD_ID | KTRACE_DEBUGGER | 0x10;
    EXPECT_STREQ("", KTraceErrorName(E_FAIL));
    EXPECT_STREQ("", KTraceErrorName(HRESULT(0x80072714)));
    EXPECT_STREQ("", KTraceErrorName(HRESULT(0x8005F001)));
    EXPECT_STREQ("", KTraceErrorName(0x12345678));
}

TEST_F(TraceNamesTest, HresultNames_ToolkitRows_InFacilityFiveOutsideTheRasterRange) {
    size_t count = 0;
    const TraceCodeName* rows = TraceHresultNames(&count);
    size_t toolkit = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = NameOf(rows[i].Text);
        if (name.rfind("KVMM_", 0) != 0)
            continue;
        ++toolkit;
        const bool error = name.rfind("KVMM_E_", 0) == 0;
        EXPECT_EQ(error ? 0x80050000u : 0x00050000u, rows[i].Code & 0xFFFF0000u) << name;
        EXPECT_TRUE(error || name.rfind("KVMM_S_", 0) == 0) << name;
        EXPECT_LT(rows[i].Code & 0xFFFFu, 0xF000u) << name;
    }
    EXPECT_EQ(123u - 65u, toolkit);
}

} // namespace
