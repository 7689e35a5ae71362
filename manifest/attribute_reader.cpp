#include "manifest/attribute_reader.h"

#include <new>

#include "manifest/xml_dom.h"

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// The part of strtoul/_strtoi64 before the digits: white space, sign, base prefix.
// Leaves p at the first digit and returns the base to use.
int ScanPrefix(const char*& p, int base, bool* negative) {
    while (IsAsciiSpace(*p))
        ++p;
    *negative = false;
    if (*p == '+' || *p == '-') {
        *negative = *p == '-';
        ++p;
    }
    const bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
    if (base == 0)
        base = hexPrefix ? 16 : p[0] == '0' ? 8 : 10;
    if (base == 16 && hexPrefix)
        p += 2;
    return base;
}

// Accumulates digits of base into a magnitude; *overflow once it exceeds limit.
uint64_t ScanMagnitude(const char* p, int base, uint64_t limit, bool* overflow) {
    uint64_t value = 0;
    *overflow = false;
    for (int digit; (digit = DigitValue(*p)) < base; ++p) {
        if (*overflow)
            continue;
        if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            *overflow = true;
        else
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

} // namespace

bool EqualsIgnoreCase(const std::string& text, const char* keyword) {
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char a = text[i], b = keyword[i];
        if (b == '\0')
            return false;
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return keyword[i] == '\0';
}

bool IsAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string TrimAsciiSpace(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsAsciiSpace(text[begin]))
        ++begin;
    while (end > begin && IsAsciiSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

uint32_t ParseUInt32(const char* text, int base) {
    bool negative = false, overflow = false;
    base = ScanPrefix(text, base, &negative);
    const uint64_t magnitude = ScanMagnitude(text, base, UINT32_MAX, &overflow);
    if (overflow)
        return UINT32_MAX;
    const auto value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

int64_t ParseInt64(const char* text) {
    bool negative = false, overflow = false;
    const int base = ScanPrefix(text, 0, &negative);
    const uint64_t limit = negative ? uint64_t(1) << 63 : uint64_t(INT64_MAX);
    const uint64_t magnitude = ScanMagnitude(text, base, limit, &overflow);
    if (overflow)
        return negative ? INT64_MIN : INT64_MAX;
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

void DecodeHexBytes(const std::string& text, std::vector<BYTE>* bytes) {
    bytes->clear();
    bytes->reserve((text.size() + 1) / 2);
    char piece[3] = {};
    for (size_t i = 0; i < text.size(); i += 2) {
        piece[0] = text[i];
        piece[1] = i + 1 < text.size() ? text[i + 1] : '\0';
        bytes->push_back(static_cast<BYTE>(ParseUInt32(piece, 16) & 0xFF));
    }
}

HRESULT ReadText(const CXmlAttributes& attributes, const char* name, std::string* value) {
    return attributes.GetText(name, value);
}

HRESULT ReadUInt32(const CXmlAttributes& attributes, const char* name, uint32_t* value) {
    std::string text;
    HRESULT hr = attributes.GetText(name, &text);
    if (hr == S_OK)
        *value = ParseUInt32(text.c_str());
    return hr;
}

HRESULT ReadInt64(const CXmlAttributes& attributes, const char* name, int64_t* value) {
    std::string text;
    HRESULT hr = attributes.GetText(name, &text);
    if (hr == S_OK)
        *value = ParseInt64(text.c_str());
    return hr;
}

HRESULT ReadBoolean(const CXmlAttributes& attributes, const char* name, BOOL* value) {
    std::string text;
    HRESULT hr = attributes.GetText(name, &text);
    if (hr == S_OK)
        *value = EqualsIgnoreCase(text, "true") ? 1 : 0;
    return hr;
}

HRESULT ReadFourCC(const CXmlAttributes& attributes, const char* name, uint32_t* value) {
    std::string text;
    HRESULT hr = attributes.GetText(name, &text);
    if (hr != S_OK)
        return hr;
    if (text.size() != 4)
        return S_FALSE;
    uint32_t fourcc = 0;
    for (int i = 3; i >= 0; --i)
        fourcc = (fourcc << 8) | static_cast<unsigned char>(text[i]);
    *value = fourcc;
    return S_OK;
}

HRESULT ReadHexBytes(const CXmlAttributes& attributes, const char* name, std::vector<BYTE>* value) {
    std::string text;
    HRESULT hr = attributes.GetText(name, &text);
    if (hr != S_OK)
        return hr;
    try {
        DecodeHexBytes(text, value);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
