#include "manifest/fragment_url.h"

#include <cstring>

#include "manifest/manifest.h"
#include "manifest/track.h"

void ReplaceAll(std::string* text, const char* token, const std::string& value) {
    const size_t length = std::strlen(token);
    for (size_t at = text->find(token); at != std::string::npos;
         at = text->find(token, at + value.size())) {
        text->replace(at, length, value);
    }
}

std::string BuildFragmentUrl(const CSSFTrack& track, uint32_t chunkIndex) {
    const CSSFStream& stream = *track.Stream;
    std::string url = stream.Manifest->BaseUrl + stream.Url;

    const std::string bitrate = std::to_string(track.Bitrate);
    ReplaceAll(&url, "{bitrate}", bitrate);
    ReplaceAll(&url, "{Bitrate}", bitrate);

    const uint64_t start =
        chunkIndex < stream.Chunks.size() ? uint64_t(stream.Chunks[chunkIndex].StartTime) : 0;
    const std::string startText = std::to_string(start);
    ReplaceAll(&url, "{start time}", startText);
    ReplaceAll(&url, "{start_time}", startText);

    std::string attributes;
    for (const auto& attribute : track.Attributes) {
        if (&attribute != &track.Attributes.front())
            attributes += ',';
        attributes += attribute->Name + "=" + attribute->Value;
    }
    ReplaceAll(&url, "{CustomAttributes}", attributes);
    return url;
}
