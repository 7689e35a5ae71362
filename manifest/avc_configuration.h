// The "avcC" configuration box of an H.264 track, built from the manifest's codec data:
// Annex B (start codes), 2-byte length-prefixed units, or anything walked by start codes.
#pragma once

#include <cstddef>
#include <vector>

#include "framework/platform/platform.h"

// S_OK with the whole box (size, "avcC", version 1, profile/compatibility/level of the
// first parameter set, 4-byte lengths, every sequence then every picture parameter set);
// E_FAIL, box empty, without both kinds of set, for data under 9 bytes, or for a set too
// long for its 2-byte length; E_OUTOFMEMORY, box empty, when memory runs out.
HRESULT BuildAvcConfiguration(const BYTE* data, size_t length, std::vector<BYTE>* box);
