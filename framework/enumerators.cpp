#include "framework/enumerators.h"

#include "framework/base_filter.h"
#include "framework/base_pin.h"
#include "framework/media_type.h"

LONG CEnumPins::VersionOf(CBaseFilter* pFilter) {
    return pFilter->GetPinVersion();
}

bool CEnumPins::Fetch(CBaseFilter* pFilter, int position, IPin** ppPin) {
    CBasePin* pin = pFilter->GetPin(position);
    if (pin == nullptr)
        return false;
    pin->AddRef();
    *ppPin = pin;
    return true;
}

bool CEnumPins::Exists(CBaseFilter* pFilter, int position) {
    return position < pFilter->GetPinCount();
}

LONG CEnumMediaTypes::VersionOf(CBasePin* pPin) {
    return pPin->GetMediaTypeVersion();
}

bool CEnumMediaTypes::Fetch(CBasePin* pPin, int position, AM_MEDIA_TYPE** ppType) {
    CMediaType type;
    if (pPin->GetMediaType(position, &type) != S_OK)
        return false;
    AM_MEDIA_TYPE* copy = CreateMediaType(&type);
    if (copy == nullptr)
        return false;
    *ppType = copy;
    return true;
}

bool CEnumMediaTypes::Exists(CBasePin* pPin, int position) {
    CMediaType type;
    return pPin->GetMediaType(position, &type) == S_OK;
}
