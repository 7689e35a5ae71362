#include "tests/support/origin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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
