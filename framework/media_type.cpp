#include "framework/media_type.h"

#include <algorithm>
#include <cstring>

#include "framework/video_format_match.h"

CMediaType::CMediaType() : AM_MEDIA_TYPE() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* majorType) : CMediaType() {
    majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& type, HRESULT* phr) : CMediaType() {
    const HRESULT hr = Set(type);
    if (FAILED(hr) && phr != nullptr)
        *phr = hr;
}

CMediaType::CMediaType(const CMediaType& type, HRESULT* phr)
    : CMediaType(static_cast<const AM_MEDIA_TYPE&>(type), phr) {}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const CMediaType& type) {
    Set(type);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& type) {
    Set(type);
    return *this;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& type) {
    if (&type == this)
        return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &type);
    if (FAILED(hr))
        InitMediaType();
    return hr;
}

BOOL CMediaType::IsValid() const {
    return majortype != GUID_NULL;
}

void CMediaType::SetSampleSize(ULONG size) {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return TRUE;
    }
    if (format == nullptr)
        return FALSE;
    // Copied before the old block goes, which format may point into.
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (block == nullptr)
        return FALSE;
    std::memcpy(block, format, length);
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    if (pbFormat != nullptr && cbFormat == length)
        return pbFormat;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (block == nullptr)
        return nullptr;
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (block == nullptr)
        return nullptr;
    if (pbFormat != nullptr)
        std::memcpy(block, pbFormat, std::min(length, cbFormat));
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    FreeMediaType(*this);
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
}

bool CMediaType::operator==(const CMediaType& other) const {
    if (majortype != other.majortype || subtype != other.subtype)
        return false;
    if (formattype == other.formattype) {
        if (cbFormat == other.cbFormat) {
            if (cbFormat == 0)
                return true;
            if (pbFormat == nullptr || other.pbFormat == nullptr)
                return false;
            if (std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0)
                return true;
            return VideoFormatsCompatible(*this, other);
        }
        if (cbFormat == 0 || other.cbFormat == 0 || majortype != MEDIATYPE_Video)
            return false;
        if (pbFormat == nullptr || other.pbFormat == nullptr)
            return false;
        const ULONG minimum =
            std::max(VideoSameTypeMinimumLength(*this), VideoSameTypeMinimumLength(other));
        if (minimum == 0 || cbFormat < minimum || other.cbFormat < minimum)
            return false;
        if (std::memcmp(pbFormat, other.pbFormat, std::min(cbFormat, other.cbFormat)) == 0)
            return true;
        return VideoFormatsCompatible(*this, other);
    }
    if (!IsVideoFormatType(formattype) || !IsVideoFormatType(other.formattype))
        return false;
    return VideoFormatsCompatible(*this, other);
}

BOOL CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || formattype == GUID_NULL;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
    if (partial->majortype != GUID_NULL && majortype != partial->majortype)
        return FALSE;
    if (partial->subtype != GUID_NULL && subtype != partial->subtype)
        return FALSE;
    if (partial->formattype == GUID_NULL)
        return TRUE;
    if (formattype == partial->formattype) {
        if (cbFormat != partial->cbFormat)
            return FALSE;
        if (cbFormat == 0)
            return TRUE;
        return pbFormat != nullptr && partial->pbFormat != nullptr &&
               std::memcmp(pbFormat, partial->pbFormat, cbFormat) == 0;
    }
    return VideoInfoFormsMatch(*this, *partial) ? TRUE : FALSE;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
    CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk != nullptr) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr)
        return nullptr;
    if (FAILED(CopyMediaType(type, source))) {
        DeleteMediaType(type);
        return nullptr;
    }
    return type;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    *target = *source;
    target->pbFormat = nullptr;
    if (target->pUnk != nullptr)
        target->pUnk->AddRef();
    if (source->pbFormat == nullptr || source->cbFormat == 0)
        return S_OK;
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
        target->cbFormat = 0;
        return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    return S_OK;
}
