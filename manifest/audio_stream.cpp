#include "manifest/audio_stream.h"

#include <new>

std::unique_ptr<CSSFTrack> CSSFAudioStream::CreateTrack() {
    return std::unique_ptr<CSSFTrack>(new (std::nothrow) CSSFAudioTrack(this));
}
