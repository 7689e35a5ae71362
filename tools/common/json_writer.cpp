#include "tools/common/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string HexText(const BYTE* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasValue.empty()) {
        if (m_hasValue.back())
            m_text += ", ";
        m_hasValue.back() = true;
    }
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    m_text += '{';
    m_hasValue.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    m_text += '}';
    m_hasValue.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    m_text += '[';
    m_hasValue.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    m_text += ']';
    m_hasValue.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(const char* key) {
    BeforeValue();
    AppendQuoted(key);
    m_text += ": ";
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
    BeforeValue();
    AppendQuoted(value);
    return *this;
}

void JsonWriter::AppendQuoted(const std::string& value) {
    m_text += '"';
    for (unsigned char c : value) {
        switch (c) {
        case '"':
            m_text += "\\\"";
            break;
        case '\\':
            m_text += "\\\\";
            break;
        case '\n':
            m_text += "\\n";
            break;
        case '\r':
            m_text += "\\r";
            break;
        case '\t':
            m_text += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                m_text += escaped;
            } else {
                // Bytes above 0x7F are passed through: model text is UTF-8 here.
                m_text += static_cast<char>(c);
            }
        }
    }
    m_text += '"';
}

JsonWriter& JsonWriter::Int(int64_t value) {
    BeforeValue();
    m_text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::UInt(uint64_t value) {
    BeforeValue();
    m_text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    m_text += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    m_text += "null";
    return *this;
}

JsonWriter& JsonWriter::Double(double value) {
    BeforeValue();
    if (!std::isfinite(value)) {
        m_text += "null";
        return *this;
    }
    // The shortest text that reads back as the same value.
    char text[32];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    m_text += text;
    return *this;
}
