#include "videoproc/processor_filters.h"

#include "videoproc/posix/processor_classes.h"
#include "videoproc/posix/video_decoder.h"
#include "videoproc/posix/video_scaler.h"

HRESULT RegisterProcessorFilters() {
    return RegisterProcessorClasses({&CVideoDecoder::CreateAvc, &CVideoDecoder::CreateWvc1,
                                     &CVideoScaler::CreateConverter, &CVideoScaler::CreateResizer});
}
