// The MD5 digest of a sample's payload, as the sample log prints it. One backend per
// platform: libcrypto on Linux, the CryptoAPI on Windows.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// 32 lower-case hexadecimal digits; empty when the platform cannot hash. Safe from
// several threads.
std::string PayloadMd5(const BYTE* data, size_t size);
