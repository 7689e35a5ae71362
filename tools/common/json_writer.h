// A small streaming JSON writer: objects, arrays, strings (escaped), exact 64-bit
// integers, doubles, null and booleans. Commas and nesting are tracked; the caller keeps the
// structure balanced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/platform/platform.h"

// Lower-case hexadecimal digits of size bytes.
std::string HexText(const BYTE* data, size_t size);

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The key of the next value inside an object.
    JsonWriter& Key(const char* key);
    JsonWriter& String(const std::string& value);
    JsonWriter& Int(int64_t value);
    JsonWriter& UInt(uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // Finite values as the shortest exact decimal; null otherwise.
    JsonWriter& Double(double value);

    const std::string& Text() const { return m_text; }

private:
    void BeforeValue();
    void AppendQuoted(const std::string& value);

    std::string m_text;
    // One entry per open container: whether it already holds a value.
    std::vector<bool> m_hasValue;
    bool m_afterKey = false;
};
