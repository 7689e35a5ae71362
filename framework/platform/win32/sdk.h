// The Windows SDK headers the system is written against, and the identifiers that
// mingw-w64 lacks or names differently.
#pragma once

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <dshow.h>
#include <dvdmedia.h>
#include <mmreg.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
#include <wininet.h>
#include <winsock2.h>

// <msxml2.h> redefines CLSID_DOMDocument as the version-dependent CLSID_DOMDocument2;
// this is the version-independent DOMDocument class.
inline constexpr GUID CLSID_KvssfDOMDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
