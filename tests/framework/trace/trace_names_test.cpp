// KTraceErrorName: the sorted table's search, the Windows Sockets and raster ranges,
// unknown codes. Its empty answer while tracing is off is in trace_shipped_test.
#include <gtest/gtest.h>

#include "framework/trace/trace_names.h"
#include "tests/framework/trace/trace_fixture.h"

namespace {

// Its switch word, with KTRACE_ON, restored after every test.
using TraceNamesTest = TraceFileTest;

TEST_F(TraceNamesTest, KTraceErrorName_Codes_TextOfTheirTableOrRange) {
    // The HRESULT table is searched by halves: a row out of order is not found.
    size_t count = 0;
    const TraceCodeName* rows = TraceHresultNames(&count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_STREQ(rows[i].Text, KTraceErrorName(HRESULT(rows[i].Code))) << i;
    rows = TraceWinsockNames(&count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_STREQ(rows[i].Text, KTraceErrorName(HRESULT(0x80070000 | rows[i].Code))) << i;

    const struct {
        DWORD Code;
        const char* Text;
    } cases[] = {
        // In no table: upper-case hex, also between two rows and past the last.
        {0x12345678, "0x12345678"},
        {0x00000002, "0x00000002"},
        {0x80004006, "0x80004006"},
        {0xFFFFFFFF, "0xFFFFFFFF"},
        // Windows Sockets: by the low 16 bits within 10000..11999.
        {0x80072710, "Unknown Winsock error (10000=0x00002710)"},
        {0x80072EDF, "Unknown Winsock error (11999=0x00002EDF)"},
        {0x8007270F, "0x8007270F"},
        {0x80072EE0, "0x80072EE0"},
        // Raster: the base less the code.
        {0x8005F000, "Korvelsuite Raster Error (0)"},
        {0x8005FFFF, "Korvelsuite Raster Error (-4095)"},
        {0x8005EFFF, "0x8005EFFF"},
        {0x80060000, "0x80060000"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.Text, KTraceErrorName(HRESULT(c.Code))) << std::hex << c.Code;
}

} // namespace
