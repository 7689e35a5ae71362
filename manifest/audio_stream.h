// CSSFAudioStream: a StreamIndex of Type "audio".
#pragma once

#include "manifest/stream.h"

class CSSFAudioStream : public CSSFStream {
public:
    using CSSFStream::CSSFStream;

    SSFStreamKind GetStreamKind() const override { return SSFStreamKind::Audio; }
    std::unique_ptr<CSSFTrack> CreateTrack() override;
    // The common parse, then "Language".
    HRESULT Parse(const CXmlElement& streamIndex) override;

    std::string Language; // as written in the document, e.g. "eng"
};
