#include "tests/support/origin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "fragments/http_file.h"

std::string OriginPath(const char* relative) {
    const char* dir = std::getenv("KVSSF_ORIGIN_DIR");
    if (dir == nullptr || *dir == '\0')
        return std::string();
    return std::string(dir) + "/" + relative;
}

std::string OriginUrl(const char* server) {
    std::string path = OriginPath((std::string(server) + ".url").c_str());
    std::ifstream in(path);
    std::string url;
    if (path.empty() || !(in >> url)) {
        ADD_FAILURE() << "origin server '" << server << "' is not running (no " << path
                      << "); run the tests through ctest";
        return std::string();
    }
    return url;
}

std::string FetchText(const std::string& url) {
    CHttpFile file;
    HRESULT hr = file.Download(url.c_str());
    if (FAILED(hr)) {
        ADD_FAILURE() << "GET " << url << " failed: 0x" << std::hex << hr;
        return std::string();
    }
    int64_t length = 0;
    file.GetLength(&length);
    std::vector<char> body(size_t(length) + 1);
    size_t read = 0;
    file.Read(body.data(), size_t(length), &read);
    return std::string(body.data(), read);
}

std::string UniqueName(const char* prefix) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::string(prefix) + "-" + std::to_string(stamp) + "-" + std::to_string(counter++);
}

int RequestCount(const std::string& tag) {
    const std::string base = OriginUrl("faults");
    if (base.empty())
        return -1;
    return std::atoi(FetchText(base + "count?tag=" + tag).c_str());
}
