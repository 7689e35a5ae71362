// The trace line of a failed download of the model: the manifest's or a fragment's.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// One line: what failed, the HTTP status (when one arrived), the HRESULT with its name,
// and the URL. Nothing is formatted unless the trace is on. Any thread.
void TraceDownloadFailure(const std::string& what, HRESULT hr, DWORD status,
                          const std::string& url);
