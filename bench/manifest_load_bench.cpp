// Manifest load against the bare XML parse of the same bytes, in one process:
//   manifest_load_bench URL [ITERATIONS]
// Prints the median time of CSSFManifest::Load (download, DOM parse, model) and of
// libxml2's parse of the downloaded bytes, and their ratio.
#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fragments/http_file.h"
#include "manifest/manifest.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Fetch(const char* url, std::vector<char>* bytes) {
    CHttpFile file;
    if (FAILED(file.Download(url)))
        return false;
    int64_t length = 0;
    if (FAILED(file.GetLength(&length)))
        return false;
    bytes->resize(static_cast<size_t>(length));
    size_t count = 0;
    return SUCCEEDED(file.Read(bytes->data(), bytes->size(), &count)) && count == bytes->size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: manifest_load_bench URL [ITERATIONS]\n");
        return 2;
    }
    const char* url = argv[1];
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    std::vector<char> bytes;
    if (!Fetch(url, &bytes)) {
        std::fprintf(stderr, "manifest_load_bench: cannot fetch %s\n", url);
        return 1;
    }
    xmlInitParser();
    std::vector<double> load, parse;
    size_t chunks = 0;
    for (int i = 0; i < iterations; ++i) {
        auto t0 = Clock::now();
        // The options the manifest reader parses with, so the baseline is as lean as it.
        xmlDocPtr doc =
            xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "manifest", nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT);
        auto t1 = Clock::now();
        if (!doc)
            return 1;
        xmlFreeDoc(doc);
        parse.push_back(std::chrono::duration<double>(t1 - t0).count());

        CSSFManifest manifest;
        auto t2 = Clock::now();
        HRESULT hr = manifest.Load(url);
        auto t3 = Clock::now();
        if (FAILED(hr)) {
            std::fprintf(stderr, "manifest_load_bench: Load failed 0x%08X\n",
                         static_cast<unsigned>(hr));
            return 1;
        }
        chunks = 0;
        for (const auto& stream : manifest.Streams)
            chunks += stream->Chunks.size();
        load.push_back(std::chrono::duration<double>(t3 - t2).count());
    }
    const double tLoad = Median(load), tParse = Median(parse);
    std::printf("manifest: %zu bytes, %zu chunks, %d iterations (medians)\n", bytes.size(), chunks,
                iterations);
    std::printf("CSSFManifest::Load   %8.3f ms\n", tLoad * 1e3);
    std::printf("libxml2 parse only   %8.3f ms\n", tParse * 1e3);
    std::printf("ratio                %8.2f\n", tLoad / tParse);
    xmlCleanupParser();
    return 0;
}
