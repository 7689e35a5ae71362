// Subtypes named by four-character codes (packed with the first character in the lowest
// byte), and the H.264 subtype the streams offer.
#pragma once

#include "framework/platform/platform.h"

inline constexpr DWORD MakeFourCC(char a, char b, char c, char d) {
    return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: the subtype of a FourCC or format tag.
inline constexpr GUID FourCCSubtype(DWORD code) {
    return GUID{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// "avc1ISOMEDIATYPE" as the 16 bytes of a GUID.
inline constexpr GUID kSubtypeAvc1Iso = {
    0x31637661, 0x5349, 0x4D4F, {0x45, 0x44, 0x49, 0x41, 0x54, 0x59, 0x50, 0x45}};
