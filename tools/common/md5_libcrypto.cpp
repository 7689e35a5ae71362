#include "tools/common/payload_md5.h"

#include <openssl/evp.h>

#include "tools/common/json_writer.h"

// libcrypto is loaded already: the HTTP backend's libcurl uses it for TLS.
std::string PayloadMd5(const BYTE* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr))
        return std::string();
    return HexText(digest, length);
}
