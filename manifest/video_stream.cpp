#include "manifest/video_stream.h"

#include <new>

std::unique_ptr<CSSFTrack> CSSFVideoStream::CreateTrack() {
    return std::unique_ptr<CSSFTrack>(new (std::nothrow) CSSFVideoTrack(this));
}
