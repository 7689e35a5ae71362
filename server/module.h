// The module itself: its handle, stored at load, and its file name.
#pragma once

#include <string>

#include "framework/platform/platform.h"

extern HINSTANCE g_hInst;

// The module file's full path in the ANSI code page; empty when it cannot be read.
std::string ModuleFileName();
