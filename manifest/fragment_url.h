// The URL of one chunk of one quality level, from its stream's URL template.
#pragma once

#include <cstdint>
#include <string>

class CSSFTrack;

// BaseUrl + the stream's Url with "{bitrate}"/"{Bitrate}" (track bit rate), "{start
// time}"/"{start_time}" (the chunk's StartTime, 0 past the end of the list) and
// "{CustomAttributes}" (Name=Value pairs joined by ",") replaced, in that order.
// Tokens are case-sensitive; nothing is escaped. The caller holds the stream's Lock.
std::string BuildFragmentUrl(const CSSFTrack& track, uint32_t chunkIndex);

// Replaces every occurrence of token in text, left to right, never searching the
// inserted value again.
void ReplaceAll(std::string* text, const char* token, const std::string& value);
