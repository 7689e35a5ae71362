// A downloaded body: CHttpFile::Download fetches one URL into a temporary file and
// offers it for reading through a buffered stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/platform/platform.h"

class CHttpFile {
public:
    CHttpFile() = default;
    virtual ~CHttpFile();

    // S_OK with the body stored and the stream at its start; E_ACCESSDENIED on status
    // 401; 0x80070002 on any other status but 200; else the transport or file error or
    // E_OUTOFMEMORY, with the file closed and no temporary file left behind.
    // deleteOnClose: the file is removed when closed (fragments); otherwise the owner
    // deletes it (manifests).
    HRESULT Download(const char* url, bool deleteOnClose);
    HRESULT Close();

    // Reaching the end of file is not an error: *bytesRead tells.
    HRESULT Read(void* buffer, size_t size, size_t* bytesRead);
    // 0x80070026 when fewer than size bytes remain.
    HRESULT ReadExact(void* buffer, size_t size);
    HRESULT Write(const void* buffer, size_t size, size_t* bytesWritten);
    // origin: 0 start, 1 current position, 2 end.
    HRESULT Seek(int64_t offset, int origin);
    HRESULT Tell(int64_t* position);
    HRESULT GetLength(int64_t* length);
    HRESULT Flush();

    std::string FileName;
    FILE* Stream = nullptr;

private:
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    HRESULT StoreBody(class CHttpClient* client, bool deleteOnClose);

    bool m_bDeleteOnClose = false;
};
