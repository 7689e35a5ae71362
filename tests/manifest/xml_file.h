// Test documents written to temporary files, for the DOM adapter and the manifest reader.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// A temporary file holding text (bytes as given), deleted when the object goes.
class TempXmlFile {
public:
    explicit TempXmlFile(const std::string& text);
    ~TempXmlFile();
    const char* Path() const { return m_path.c_str(); }

private:
    TempXmlFile(const TempXmlFile&) = delete;
    TempXmlFile& operator=(const TempXmlFile&) = delete;
    std::string m_path;
};

// A manifest document: the root element with rootAttributes around body.
std::string SmoothDocument(const std::string& rootAttributes, const std::string& body);
