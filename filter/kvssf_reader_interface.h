// The filter's identifiers, as its type library declares them, and its automation
// interface IKVSsfRd (dual, derived from IDispatch, no methods of its own). Hosts that
// create the filter through COM need nothing else of it.
#pragma once

#include "framework/platform/platform.h"

// The filter's class, also the type library's coclass KVSsfRd.
// {BEF63784-0614-4166-9A64-F91744410DAE}
inline constexpr GUID CLSID_KVSsfRd = {
    0xbef63784, 0x0614, 0x4166, {0x9a, 0x64, 0xf9, 0x17, 0x44, 0x41, 0x0d, 0xae}};

// The type library KVSsfRdLib 1.0 embedded in the module.
// {27F9F9F6-C215-4F83-8804-47358D5371EE}
inline constexpr GUID LIBID_KVSsfRdLib = {
    0x27f9f9f6, 0xc215, 0x4f83, {0x88, 0x04, 0x47, 0x35, 0x8d, 0x53, 0x71, 0xee}};

// {C8DF05C5-1ED9-4B00-BC6C-F71BEA3E68AA}
inline constexpr IID IID_IKVSsfRd = {
    0xc8df05c5, 0x1ed9, 0x4b00, {0xbc, 0x6c, 0xf7, 0x1b, 0xea, 0x3e, 0x68, 0xaa}};

struct IKVSsfRd : IDispatch {
protected:
    ~IKVSsfRd() = default;
};
