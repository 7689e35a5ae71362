// Typed readers for manifest attributes, and the text rules they share.
//
// Every Read* returns S_OK when the attribute is present (the value stored), S_FALSE
// when it is absent (the target left as it was), or the DOM's failure. Malformed numbers
// are never an error: they convert as the C runtime's strtoul/_strtoi64 with base 0 on
// Windows would (unsigned long is 32 bits there), whatever the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/platform/platform.h"

class CXmlAttributes;

// ASCII case folding: the keywords compared this way are all ASCII.
bool EqualsIgnoreCase(const std::string& text, const char* keyword);

// White space as the C locale's isspace: space, tab, LF, VT, FF, CR.
bool IsAsciiSpace(char c);
std::string TrimAsciiSpace(const std::string& text);

// strtoul semantics with a 32-bit result: leading white space, optional sign ("-"
// negates modulo 2^32), base 0 picks "0x" hexadecimal, "0" octal or decimal; stops at
// the first character that does not fit; no digits gives 0; a magnitude above
// 0xFFFFFFFF gives 0xFFFFFFFF. base is 0 or 2..36.
uint32_t ParseUInt32(const char* text, int base = 0);
// _strtoi64 semantics with base 0; overflow gives INT64_MAX or INT64_MIN.
int64_t ParseInt64(const char* text);
// Cuts text into pairs of characters (an odd last one alone), converts each as
// ParseUInt32 with base 16 and appends its low 8 bits to bytes, which is emptied first.
void DecodeHexBytes(const std::string& text, std::vector<BYTE>* bytes);

HRESULT ReadText(const CXmlAttributes& attributes, const char* name, std::string* value);
HRESULT ReadUInt32(const CXmlAttributes& attributes, const char* name, uint32_t* value);
HRESULT ReadInt64(const CXmlAttributes& attributes, const char* name, int64_t* value);
// 1 when the value is "true" in any letter case, else 0.
HRESULT ReadBoolean(const CXmlAttributes& attributes, const char* name, BOOL* value);
// Exactly four characters, packed with the first in the lowest byte ("H264" is
// 0x34363248); any other length counts as absent (S_FALSE).
HRESULT ReadFourCC(const CXmlAttributes& attributes, const char* name, uint32_t* value);
// Hexadecimal text as DecodeHexBytes; E_OUTOFMEMORY when the array cannot grow.
HRESULT ReadHexBytes(const CXmlAttributes& attributes, const char* name, std::vector<BYTE>* value);
