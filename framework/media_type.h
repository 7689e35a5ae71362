// CMediaType: an AM_MEDIA_TYPE that owns its format block (task memory) and its pUnk
// reference, with the equality and partial-match rules pin connection relies on.
#pragma once

#include "framework/platform/platform.h"

// A VIDEOINFOHEADER-like format type of this system whose blocks are at least 144 bytes;
// the equality rule counts it among the video format types.
inline constexpr GUID FORMAT_KvssfVideoInfoEx = {
    0x19a387d7, 0x894a, 0x453a, {0xa4, 0x57, 0x9c, 0xe1, 0xf8, 0xd8, 0x57, 0xd2}};

class CMediaType : public AM_MEDIA_TYPE {
public:
    // Null GUIDs, fixed-size samples of size 1, no format.
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    // Copies: a failed format allocation reports E_OUTOFMEMORY through phr and leaves
    // this type without a format block.
    CMediaType(const AM_MEDIA_TYPE& type, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& type, HRESULT* phr = nullptr);
    ~CMediaType();

    CMediaType& operator=(const CMediaType& type);
    CMediaType& operator=(const AM_MEDIA_TYPE& type);

    // Equal major type and subtype, and formats that are byte-identical or describe the
    // same video (see media_type.cpp). Not symmetric in every case: rectangles are
    // judged against this type's picture size.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    // Replaces this type by a copy of type; E_OUTOFMEMORY when the format block cannot be
    // allocated (this type is then reset).
    HRESULT Set(const AM_MEDIA_TYPE& type);
    // TRUE when the major type is set.
    BOOL IsValid() const;

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    // Fixed-size samples of size bytes.
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Replaces the format block by a copy of length bytes; FALSE when out of memory.
    BOOL SetFormat(const BYTE* format, ULONG length);
    // A new, uninitialised format block of length bytes, replacing any old one; null when
    // out of memory (the old block is kept then).
    BYTE* AllocFormatBuffer(ULONG length);
    // Resizes the format block keeping its leading bytes; null when out of memory (the
    // old block is kept then).
    BYTE* ReallocFormatBuffer(ULONG length);
    // Frees the format block.
    void ResetFormatBuffer();
    // Frees everything and returns to the default type.
    void InitMediaType();

    // TRUE when the major type or the format type is null (the subtype is not looked at).
    BOOL IsPartiallySpecified() const;
    // TRUE when this type matches every part that partial specifies: major type and
    // subtype unless null, and the format unless its type is null.
    BOOL MatchesPartial(const CMediaType* partial) const;
};

// Frees the format block and releases pUnk; the record itself stays.
void FreeMediaType(AM_MEDIA_TYPE& type);
// FreeMediaType, then frees the record itself (task memory); null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// A copy in task memory, for DeleteMediaType; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
// Overwrites target (without freeing it) by a copy of source: the format block duplicated,
// pUnk referenced. E_OUTOFMEMORY leaves target without a format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
