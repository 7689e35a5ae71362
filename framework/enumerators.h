// CEnumPins, CEnumMediaTypes: enumerators over a filter's pins (versioned by the filter's
// pin version) and a pin's preferred media types (by the pin's media type version); see
// CEnumImpl for the rules they share.
#pragma once

#include "framework/enum_impl.h"

class CBaseFilter;
class CBasePin;

// Next hands out referenced pins.
class CEnumPins final : public CEnumImpl<CEnumPins, IEnumPins, IID_IEnumPins, CBaseFilter, IPin*> {
public:
    // At the first pin, or a copy of pEnum's position.
    explicit CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnum = nullptr)
        : CEnumImpl(pFilter, pEnum) {}

private:
    friend CEnumImpl;
    static LONG VersionOf(CBaseFilter* pFilter);
    static bool Fetch(CBaseFilter* pFilter, int position, IPin** ppPin);
    static bool Exists(CBaseFilter* pFilter, int position);
};

// Next hands out task-memory copies (for DeleteMediaType) of the pin's
// GetMediaType(position) answers, up to the first answer other than S_OK.
class CEnumMediaTypes final : public CEnumImpl<CEnumMediaTypes, IEnumMediaTypes,
                                               IID_IEnumMediaTypes, CBasePin, AM_MEDIA_TYPE*> {
public:
    explicit CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnum = nullptr)
        : CEnumImpl(pPin, pEnum) {}

private:
    friend CEnumImpl;
    static LONG VersionOf(CBasePin* pPin);
    static bool Fetch(CBasePin* pPin, int position, AM_MEDIA_TYPE** ppType);
    static bool Exists(CBasePin* pPin, int position);
};
