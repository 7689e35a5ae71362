#include "framework/platform/graph_classes.h"

HRESULT RegisterGraphClasses() {
    return S_OK;
}
