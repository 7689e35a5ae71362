// The name tables behind KTraceErrorName.
#pragma once

#include <cstddef>
#include <cstdint>

struct TraceCodeName {
    uint32_t Code;
    const char* Text;
};

// HRESULTs: the name, often followed by " - " and a description; sorted by code as
// unsigned values.
const TraceCodeName* TraceHresultNames(size_t* count);
// Windows Sockets errors 10004 to 11031: the name, " = " and the description; sorted.
const TraceCodeName* TraceWinsockNames(size_t* count);
// The text of code's row, found by halving; null when no row has it.
const char* FindTraceCodeName(const TraceCodeName* rows, size_t count, uint32_t code);
