#include "tools/common/payload_md5.h"

extern "C" {
#include <libavutil/md5.h>
}

#include "tools/common/json_writer.h"

std::string PayloadMd5(const BYTE* data, size_t size) {
    uint8_t digest[16];
    av_md5_sum(digest, data, size);
    return HexText(digest, sizeof digest);
}
