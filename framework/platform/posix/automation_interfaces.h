// ITypeInfo declared as in oaidl.h, so that automation code compiles unchanged. No type
// library exists on this platform: nothing ever hands out an ITypeInfo, and the
// structures its methods pass are left incomplete.
#pragma once

#include "framework/platform/posix/graph_interfaces.h"
#include "framework/platform/posix/sdk_guids.h"

#define IID_NULL GUID_NULL

typedef LONG MEMBERID;
typedef DWORD HREFTYPE;
typedef int INVOKEKIND;

struct tagTYPEATTR;
struct tagFUNCDESC;
struct tagVARDESC;
struct ITypeComp;
struct ITypeLib;

struct ITypeInfo : IUnknown {
    STDMETHOD(GetTypeAttr)(tagTYPEATTR** ppTypeAttr) = 0;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;
    STDMETHOD(GetFuncDesc)(UINT index, tagFUNCDESC** ppFuncDesc) = 0;
    STDMETHOD(GetVarDesc)(UINT index, tagVARDESC** ppVarDesc) = 0;
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) = 0;
    STDMETHOD(GetImplTypeFlags)(UINT index, int* pImplTypeFlags) = 0;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    STDMETHOD(Invoke)
    (void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
     EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    STDMETHOD(GetDocumentation)
    (MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
     BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetDllEntry)
    (MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName, WORD* pwOrdinal) = 0;
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, void** ppv) = 0;
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) = 0;
    STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) = 0;
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) = 0;
    STDMETHOD_(void, ReleaseTypeAttr)(tagTYPEATTR* pTypeAttr) = 0;
    STDMETHOD_(void, ReleaseFuncDesc)(tagFUNCDESC* pFuncDesc) = 0;
    STDMETHOD_(void, ReleaseVarDesc)(tagVARDESC* pVarDesc) = 0;

protected:
    ~ITypeInfo() = default;
};
