// Temporary files for downloaded bodies: created uniquely in the user's temporary
// directory with the prefix "TMV", opened as a buffered stream in "r+b" mode.
#pragma once

#include <cstdio>
#include <string>

#include "framework/platform/platform.h"

// The temporary directory, ending in a path separator.
std::string GetTempDirectory();

// Creates a new temporary file, used through *stream, that never outlives it whatever
// ends the process: on Windows it is deleted when closed, on POSIX it is unlinked before
// the call returns. On failure nothing is left behind and *stream is null.
HRESULT CreateTempFile(FILE** stream);

// Closes a stream opened by CreateTempFile.
HRESULT CloseTempFile(FILE* stream);

// Forgets the runtime library's recorded errors; call before the stream operation
// whose failure HresultFromCrtError is to describe.
void ClearCrtError();

// The HRESULT for the runtime library's last stream error: the operating-system error
// it recorded, through HRESULT_FROM_WIN32; else E_FAIL when errno is set; else S_OK.
HRESULT HresultFromCrtError();

// The file's length in bytes, or -1 (errno set) when it cannot be had.
long long GetStreamLength(FILE* stream);

// Seeks with a 64-bit offset; 0 on success.
int SeekStream(FILE* stream, long long offset, int origin);
