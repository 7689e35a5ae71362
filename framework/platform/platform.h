// The one header through which shared code sees the operating system: the COM and
// DirectShow types, interfaces, HRESULTs and GUIDs, from the Windows SDK or from the
// POSIX declarations of the same names and values.
#pragma once

#ifdef _WIN32
#include "framework/platform/win32/sdk.h"
#else
#include "framework/platform/posix/automation_interfaces.h"
#include "framework/platform/posix/com_interfaces.h"
#include "framework/platform/posix/com_runtime.h"
#include "framework/platform/posix/com_types.h"
#include "framework/platform/posix/dshow_interfaces.h"
#include "framework/platform/posix/filter_interfaces.h"
#include "framework/platform/posix/graph_interfaces.h"
#include "framework/platform/posix/hresults.h"
#include "framework/platform/posix/media_formats.h"
#include "framework/platform/posix/sdk_guids.h"
#endif

#include "framework/platform/codepage.h"
#include "framework/platform/temp_file.h"
#include "framework/platform/type_library.h"
