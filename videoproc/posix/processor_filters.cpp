#include "videoproc/processor_filters.h"

HRESULT RegisterProcessorFilters() {
    return E_NOTIMPL;
}
