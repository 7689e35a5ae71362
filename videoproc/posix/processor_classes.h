// The classes RegisterProcessorFilters puts under the processor's display names on POSIX.
#pragma once

#include <iterator>

#include "framework/platform/platform.h"
#include "videoproc/processor_filters.h"

// The same identifiers as the system's filters bound on Windows.
inline constexpr GUID CLSID_KvssfAvcDecoder = {
    0x212690fb, 0x83e5, 0x4526, {0x8f, 0xd7, 0x74, 0x47, 0x8b, 0x79, 0x39, 0xcd}};
inline constexpr GUID CLSID_KvssfColorConverter = {
    0x1643e180, 0x90f5, 0x11ce, {0x97, 0xd5, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
// This project's own.
inline constexpr GUID CLSID_KvssfWvc1Decoder = {
    0x069976d3, 0xa1ad, 0x4f65, {0xb9, 0x3b, 0x04, 0x7d, 0x0c, 0xe7, 0x95, 0xdd}};
inline constexpr GUID CLSID_KvssfResizer = {
    0xd0c3f9d3, 0xa592, 0x418e, {0xa0, 0x9c, 0x1f, 0xa8, 0xad, 0x09, 0xdd, 0xad}};

// The four classes with their display names, in the order every registration uses.
struct ProcessorClass {
    const GUID* Clsid;
    const WCHAR* DisplayName;
};
inline constexpr ProcessorClass kProcessorClasses[] = {
    {&CLSID_KvssfAvcDecoder, kAvcDecoderDisplayName},
    {&CLSID_KvssfWvc1Decoder, kWvc1DecoderDisplayName},
    {&CLSID_KvssfColorConverter, kColorConverterDisplayName},
    {&CLSID_KvssfResizer, kResizerDisplayName},
};

#ifndef _WIN32
// Registers the classes with their creators, given in the order of kProcessorClasses,
// and their display names: S_OK or E_OUTOFMEMORY.
inline HRESULT
RegisterProcessorClasses(const ComClassCreator (&creators)[std::size(kProcessorClasses)]) {
    for (size_t i = 0; i < std::size(kProcessorClasses); ++i) {
        const ProcessorClass& entry = kProcessorClasses[i];
        HRESULT hr = RegisterComClass(*entry.Clsid, creators[i]);
        if (SUCCEEDED(hr))
            hr = RegisterDisplayName(entry.DisplayName, *entry.Clsid);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
#endif
