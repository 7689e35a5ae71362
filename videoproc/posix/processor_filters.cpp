#include "videoproc/processor_filters.h"

#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_decoder.h"
#include "videoproc/posix/video_scaler.h"

HRESULT RegisterProcessorFilters() {
    struct Entry {
        const GUID* clsid;
        ComClassCreator create;
        const WCHAR* displayName;
    };
    const Entry entries[] = {
        {&CLSID_KvssfAvcDecoder, &CVideoDecoder::CreateAvc, kAvcDecoderDisplayName},
        {&CLSID_KvssfWvc1Decoder, &CVideoDecoder::CreateWvc1, kWvc1DecoderDisplayName},
        {&CLSID_KvssfColorConverter, &CVideoScaler::CreateConverter, kColorConverterDisplayName},
        {&CLSID_KvssfResizer, &CVideoScaler::CreateResizer, kResizerDisplayName},
    };
    for (const Entry& entry : entries) {
        HRESULT hr = RegisterComClass(*entry.clsid, entry.create);
        if (SUCCEEDED(hr))
            hr = RegisterDisplayName(entry.displayName, *entry.clsid);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
