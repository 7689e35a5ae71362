#include "framework/platform/platform.h"

HRESULT LoadModuleTypeInfo(REFIID, ITypeInfo** ppTypeInfo) {
    *ppTypeInfo = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}
