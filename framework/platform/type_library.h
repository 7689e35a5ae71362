// The type library embedded in the module that holds this code.
#pragma once

// Loads the type library from this module's own file and looks riid up in it. On
// success *ppTypeInfo holds a reference; on failure it is null and the result is the
// failing step's: HRESULT_FROM_WIN32 of the module-name query, LoadTypeLib's or the
// lookup's. Where the platform has no type libraries: TYPE_E_CANTLOADLIBRARY.
HRESULT LoadModuleTypeInfo(REFIID riid, ITypeInfo** ppTypeInfo);
