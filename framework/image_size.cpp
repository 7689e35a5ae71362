#include "framework/image_size.h"

#include <algorithm>
#include <cstdint>

#include "framework/subtypes.h"

namespace {

// Everything but Data1 equal: the FourCC subtypes share YUY2's tail, the RGB ones RGB24's.
bool SameFamily(const GUID& a, const GUID& b) {
    return a.Data2 == b.Data2 && a.Data3 == b.Data3 && std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

// Two's-complement wrap to 32 bits, as 32-bit arithmetic would give.
LONG Wrap(int64_t value) {
    return LONG(int32_t(uint32_t(uint64_t(value))));
}

} // namespace

LONG ImageStride(const GUID& subtype, LONG width) {
    const int64_t w = width;
    if (SameFamily(subtype, MEDIASUBTYPE_YUY2)) {
        switch (subtype.Data1) {
        case MakeFourCC('I', 'Y', 'U', 'V'):
        case MakeFourCC('I', '4', '2', '0'):
        case MakeFourCC('Y', 'V', '1', '2'):
            return Wrap(int64_t(Wrap(w + 1) / 2) * 3);
        case MakeFourCC('Y', 'U', 'Y', '2'):
        case MakeFourCC('U', 'Y', 'V', 'Y'):
            return Wrap(w * 2);
        case MakeFourCC('A', 'Y', 'U', 'V'):
            return Wrap(w * 4);
        }
        return 0;
    }
    if (SameFamily(subtype, MEDIASUBTYPE_RGB24)) {
        switch (subtype.Data1) {
        case 0xe436eb7a: // RGB8
            return Wrap(w + 3) & ~3;
        case 0xe436eb7b: // RGB565
        case 0xe436eb7c: // RGB555
            return Wrap(w * 2 + 3) & ~3;
        case 0xe436eb7d: // RGB24
            return Wrap((w + 1) * 3) & ~3;
        case 0xe436eb7e: // RGB32
            return Wrap(w * 4);
        }
    }
    return 0;
}

LONG ImageSize(const GUID& subtype, LONG width, LONG height) {
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    return Wrap(int64_t(ImageStride(subtype, width)) * rows);
}
