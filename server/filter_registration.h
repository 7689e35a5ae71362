// Registration of every factory template with COM (the class key) and with the filter
// mapper, and its removal.
#pragma once

#include "framework/platform/platform.h"

// bRegister TRUE: writes each class key, then registers each template that has setup
// data with the filter mapper (unregistering it first). FALSE: unregisters each such
// template from the filter mapper and then deletes the class keys. A filter mapper
// answer of HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) counts as success.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);
