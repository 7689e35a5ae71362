// The filter graph manager and the system reference clock for CoCreateInstance.
#pragma once

#include "framework/platform/platform.h"

// Makes CLSID_FilterGraph and CLSID_SystemClock creatable: on POSIX it adds the
// platform's own to the class table (kvssf_graph); Windows has the system's. S_OK, or
// E_OUTOFMEMORY. Hosts call it once before building a graph; any thread.
HRESULT RegisterGraphClasses();
