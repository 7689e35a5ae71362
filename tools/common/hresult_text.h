// One-line explanations of the HRESULTs the host can meet.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// The host's own code for a document that loads without a SmoothStreamingMedia element
// or without streams (VFW_E_UNSUPPORTED_STREAM); the filter's Load succeeds on it.
constexpr HRESULT kNotAManifest = HRESULT(0x80040265L);

// Where a failure was met, for the codes whose meaning depends on it.
enum class FailurePlace {
    Anywhere,
    Load,   // loading the manifest at a known URL
    Stream, // a stream's fragments, after the manifest loaded
};

// "0x80070002", the form every output of the host uses.
std::string HresultCode(HRESULT hr);
// "0x80070002: the server answered with a status other than 200 (not found)" etc. url:
// the one that failed, when known.
std::string DescribeHresult(HRESULT hr, FailurePlace place = FailurePlace::Anywhere,
                            const std::string& url = std::string());
// A failed download in words: the HTTP status when one arrived, then DescribeHresult in
// parentheses, e.g. "HTTP 404 Not Found (0x80070002: ...)"; a redirect says it was not
// followed. Without a status (0), or after status 200, DescribeHresult alone.
std::string DescribeDownloadFailure(HRESULT hr, DWORD status, FailurePlace place,
                                    const std::string& url);
