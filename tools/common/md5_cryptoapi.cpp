#include "tools/common/payload_md5.h"

#include <wincrypt.h>

#include <climits>

#include "tools/common/json_writer.h"

namespace {

// One verification-only provider for the process; a hash object per call.
class CMd5Provider {
public:
    CMd5Provider() {
        if (!CryptAcquireContextW(&m_provider, nullptr, nullptr, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT))
            m_provider = 0;
    }
    ~CMd5Provider() {
        if (m_provider != 0)
            CryptReleaseContext(m_provider, 0);
    }

    // FALSE when the provider or the hash failed.
    bool Digest(const BYTE* data, size_t size, BYTE (&digest)[16]) const {
        HCRYPTHASH hash = 0;
        if (m_provider == 0 || !CryptCreateHash(m_provider, CALG_MD5, 0, 0, &hash))
            return false;
        bool ok = true;
        while (ok && size > 0) {
            const DWORD part = DWORD(size < size_t(UINT_MAX) ? size : size_t(UINT_MAX));
            ok = CryptHashData(hash, data, part, 0) != FALSE;
            data += part;
            size -= part;
        }
        DWORD length = sizeof digest;
        ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == 16;
        CryptDestroyHash(hash);
        return ok;
    }

private:
    CMd5Provider(const CMd5Provider&) = delete;
    CMd5Provider& operator=(const CMd5Provider&) = delete;

    HCRYPTPROV m_provider = 0;
};

} // namespace

std::string PayloadMd5(const BYTE* data, size_t size) {
    static const CMd5Provider provider;
    BYTE digest[16];
    if (!provider.Digest(data, size, digest))
        return std::string();
    return HexText(digest, sizeof digest);
}
