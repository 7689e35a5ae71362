#include "tools/kvssf/failure_origin.h"

#include "filter/kvssf_reader.h"
#include "manifest/manifest.h"
#include "manifest/stream.h"

std::string DescribeManifestFailure(const CSSFManifest& manifest, HRESULT hr,
                                    const std::string& url) {
    const HttpFailure& failure = manifest.DownloadFailure;
    if (failure.Result != hr || !FAILED(hr))
        return std::string();
    return url + ": " + DescribeDownloadFailure(hr, failure.Status, FailurePlace::Load, url);
}

std::string DescribeReaderFailure(CKVSsfRd* reader, HRESULT hr, FailurePlace place,
                                  const std::string& url) {
    if (place == FailurePlace::Load)
        return DescribeManifestFailure(reader->Manifest(), hr, url);
    for (uint64_t i = 0; CSSFStream* stream = reader->GetStream(i); ++i) {
        SSFStreamFailure failure;
        if (!stream->GetLastFailure(&failure) || failure.Result != hr)
            continue;
        std::string where = "stream \"" + stream->Name + "\"";
        if (failure.Bitrate != 0)
            where += " level " + std::to_string(failure.Bitrate) + " bit/s";
        where += " chunk " + std::to_string(failure.ChunkIndex);
        if (!failure.Url.empty())
            where += " (" + failure.Url + ")";
        return where + ": " + DescribeDownloadFailure(hr, failure.Status, place, failure.Url);
    }
    return std::string();
}
