#include "videoproc/processor_filters.h"

// The system's filters are registered by their own set-up.
HRESULT RegisterProcessorFilters() {
    return S_OK;
}
