// The COM runtime calls the system makes, implemented for POSIX.
#pragma once

#include "framework/platform/posix/com_interfaces.h"
#include "framework/platform/posix/com_types.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4

// Task memory: malloc/free underneath; CoTaskMemFree(nullptr) does nothing.
void* CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(void* pv);

// There are no apartments on POSIX: initialisation always succeeds and is counted only
// so that callers can pair the calls as on Windows.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

// Deletes a file by path; FALSE on failure (errno tells why).
BOOL DeleteFileA(const char* path);

// Milliseconds since an arbitrary start, wrapping every 2^32 ms as on Windows.
DWORD GetTickCount();

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)

// Creates an object of class rclsid and returns its riid interface.
typedef HRESULT (*ComClassCreator)(IUnknown* pOuter, REFIID riid, void** ppv);

// Creates an object from the process's class table, which holds what RegisterComClass
// added (RegisterGraphClasses adds the filter graph and the clock). Every class is
// in-process; the context is not checked. REGDB_E_CLASSNOTREG for an unknown class.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);

// Adds a class to the table, or replaces its creator; E_POINTER for a null creator. Any
// thread.
HRESULT RegisterComClass(REFCLSID rclsid, ComClassCreator create);

// Monikers by display name, as the system's device monikers are used: a bind context
// (reserved must be 0); a parse that checks the "@device:<type>:<name>" form only
// (MK_E_SYNTAX otherwise), eating the whole name; and BindToObject, which creates the
// class the name was registered with through CoCreateInstance (MK_E_NOOBJECT for a name
// no one registered). Both objects are counted; the bind context carries nothing.
HRESULT CreateBindCtx(DWORD reserved, IBindCtx** ppbc);
HRESULT MkParseDisplayName(IBindCtx* pbc, LPCOLESTR szUserName, ULONG* pchEaten,
                           IMoniker** ppmk);
// Adds a display name to the table, or points it at another class. Any thread.
HRESULT RegisterDisplayName(LPCOLESTR displayName, REFCLSID rclsid);
