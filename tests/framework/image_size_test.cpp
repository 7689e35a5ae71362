#include <gtest/gtest.h>

#include "framework/image_size.h"

namespace {

// A FourCC subtype: YUY2's GUID with another first field.
GUID FourCCSubtype(const char (&code)[5]) {
    GUID subtype = MEDIASUBTYPE_YUY2;
    subtype.Data1 = DWORD(BYTE(code[0])) | DWORD(BYTE(code[1])) << 8 |
                    DWORD(BYTE(code[2])) << 16 | DWORD(BYTE(code[3])) << 24;
    return subtype;
}

// An RGB subtype: RGB24's GUID with another first field.
GUID RgbSubtype(DWORD data1) {
    GUID subtype = MEDIASUBTYPE_RGB24;
    subtype.Data1 = data1;
    return subtype;
}

TEST(ImageSize, StrideBySubtypeAndSizeOverBothHeights) {
    const struct {
        GUID Subtype;
        LONG Width, Stride;
    } cases[] = {
        {FourCCSubtype("I420"), 7, 12},  {FourCCSubtype("IYUV"), 8, 12},
        {FourCCSubtype("YV12"), 1, 3},   {FourCCSubtype("YUY2"), 640, 1280},
        {FourCCSubtype("UYVY"), 3, 6},   {FourCCSubtype("AYUV"), 3, 12},
        {FourCCSubtype("NV12"), 640, 0}, {MEDIASUBTYPE_RGB24, 5, 16},
        {MEDIASUBTYPE_RGB24, 6, 20},     {MEDIASUBTYPE_RGB32, 3, 12},
        {RgbSubtype(0xe436eb7a), 5, 8},  {RgbSubtype(0xe436eb7b), 5, 12},
        {RgbSubtype(0xe436eb7c), 4, 8},  {RgbSubtype(0xe436eb7f), 5, 0},
        {GUID_NULL, 640, 0},             {FourCCSubtype("YUY2"), 0x40000000, -2147483647 - 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ImageStride(c.Subtype, c.Width), c.Stride)
            << std::hex << c.Subtype.Data1 << std::dec << " " << c.Width;
    EXPECT_EQ(ImageSize(MEDIASUBTYPE_YUY2, 640, 480), 614400);
    EXPECT_EQ(ImageSize(MEDIASUBTYPE_YUY2, 640, -480), 614400);
}

} // namespace
