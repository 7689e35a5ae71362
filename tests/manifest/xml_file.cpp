#include "tests/manifest/xml_file.h"

#include <gtest/gtest.h>

#include <cstdio>

TempXmlFile::TempXmlFile(const std::string& text) {
    FILE* stream = nullptr;
    HRESULT hr = CreateTempFile(false, &m_path, &stream);
    if (FAILED(hr)) {
        ADD_FAILURE() << "cannot create a temporary file: 0x" << std::hex << hr;
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size())
        ADD_FAILURE() << "cannot write " << m_path;
    CloseTempFile(stream, m_path, false);
}

TempXmlFile::~TempXmlFile() {
    if (!m_path.empty())
        DeleteFileA(m_path.c_str());
}

std::string SmoothDocument(const std::string& rootAttributes, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SmoothStreamingMedia MajorVersion=\"2\" "
           "MinorVersion=\"0\" " +
           rootAttributes + ">\n" + body + "</SmoothStreamingMedia>\n";
}
