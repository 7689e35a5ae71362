// The COM runtime calls the system makes, implemented for POSIX.
#pragma once

#include "framework/platform/posix/com_types.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4

// Task memory: malloc/free underneath; CoTaskMemFree(nullptr) does nothing.
void* CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(void* pv);

// There are no apartments on POSIX: initialisation always succeeds and is counted only
// so that callers can pair the calls as on Windows.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

// Deletes a file by path; FALSE on failure (errno tells why).
BOOL DeleteFileA(const char* path);

// Milliseconds since an arbitrary start, wrapping every 2^32 ms as on Windows.
DWORD GetTickCount();
