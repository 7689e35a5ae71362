#include <gtest/gtest.h>

#include "framework/image_size.h"
#include "framework/subtypes.h"

namespace {

// YUY2, I420, ...: the subtype of a FourCC written out.
GUID FourCC(const char (&code)[5]) {
    return FourCCSubtype(MakeFourCC(code[0], code[1], code[2], code[3]));
}

// An RGB subtype: RGB24's GUID with another last byte of the first field.
GUID Rgb(BYTE last) {
    GUID subtype = MEDIASUBTYPE_RGB24;
    subtype.Data1 = 0xe436eb00 | last;
    return subtype;
}

TEST(ImageSize, StrideBySubtypeAndSizeOverBothHeights) {
    const struct {
        GUID Subtype;
        LONG Width, Stride;
    } cases[] = {
        {FourCC("I420"), 7, 12},     {FourCC("IYUV"), 8, 12},
        {FourCC("YV12"), 1, 3},      {FourCC("YUY2"), 640, 1280},
        {FourCC("UYVY"), 3, 6},      {FourCC("AYUV"), 3, 12},
        {FourCC("NV12"), 640, 0},    {MEDIASUBTYPE_RGB24, 5, 16},
        {MEDIASUBTYPE_RGB24, 6, 20}, {MEDIASUBTYPE_RGB32, 3, 12},
        {Rgb(0x7a), 5, 8},           {Rgb(0x7b), 5, 12},
        {Rgb(0x7c), 4, 8},           {Rgb(0x7f), 5, 0},
        {GUID_NULL, 640, 0},         {FourCC("YUY2"), 0x40000000, -2147483647 - 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ImageStride(c.Subtype, c.Width), c.Stride)
            << std::hex << c.Subtype.Data1 << std::dec << " " << c.Width;
    EXPECT_EQ(ImageSize(MEDIASUBTYPE_YUY2, 640, 480), 614400);
    EXPECT_EQ(ImageSize(MEDIASUBTYPE_YUY2, 640, -480), 614400);
}

} // namespace
