// Where a failure of the filter's model was met, in the words of kvssf's error lines.
#pragma once

#include <string>

#include "framework/platform/platform.h"
#include "tools/common/hresult_text.h"

class CKVSsfRd;
class CSSFManifest;

// "<url>: HTTP 404 Not Found (0x80070002: ...)" for a manifest download that failed with
// hr; empty when the manifest's download did not (a parse failure, say).
std::string DescribeManifestFailure(const CSSFManifest& manifest, HRESULT hr,
                                    const std::string& url);
// For hr met at place in reader: at load, DescribeManifestFailure; in a stream, the first
// stream in pin order whose last failure is hr: `stream "video" level 600000 bit/s chunk 3
// (<fragment url>): HTTP 503 Service Unavailable (0x80070002: ...)`. Empty when unknown.
std::string DescribeReaderFailure(CKVSsfRd* reader, HRESULT hr, FailurePlace place,
                                  const std::string& url);
