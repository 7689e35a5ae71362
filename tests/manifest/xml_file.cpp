#include "tests/manifest/xml_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>

// A named file in the temporary directory: temporary files of the system have no name on
// every platform.
TempXmlFile::TempXmlFile(const std::string& text) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = GetTempDirectory() + "kvssf-xml-" + std::to_string(stamp) + "-" +
             std::to_string(counter++) + ".xml";
    FILE* stream = std::fopen(m_path.c_str(), "wb");
    if (stream == nullptr) {
        ADD_FAILURE() << "cannot create " << m_path;
        m_path.clear();
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size())
        ADD_FAILURE() << "cannot write " << m_path;
    std::fclose(stream);
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
