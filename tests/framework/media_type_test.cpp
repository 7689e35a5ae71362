// CMediaType: ownership of the format block and pUnk, equality and partial matching.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/media_type.h"

namespace {

constexpr DWORD kYUY2 = 0x32595559; // 'YUY2'
constexpr DWORD kAvc1 = 0x31637661; // 'avc1'

class CountingUnknown : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++Count; }
    STDMETHODIMP_(ULONG) Release() override { return --Count; }
    ULONG Count = 1;
};

template <typename T> std::vector<BYTE> Bytes(const T& value, size_t extra = 0) {
    std::vector<BYTE> bytes(sizeof(T) + extra, 0);
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

// A video header of either kind; biSizeImage of the picture.
template <typename V = VIDEOINFOHEADER>
V VideoInfo(LONG width, LONG height, DWORD compression = kYUY2, WORD bits = 16) {
    V vih{};
    vih.dwBitRate = 1000000;
    vih.AvgTimePerFrame = 400000;
    BITMAPINFOHEADER& header = vih.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biSizeImage = DWORD(width * (height < 0 ? -height : height) * bits / 8);
    return vih;
}

VIDEOINFOHEADER2 VideoInfo2(LONG width, LONG height, DWORD aspectX, DWORD aspectY,
                            DWORD compression = kYUY2, WORD bits = 16) {
    auto vih = VideoInfo<VIDEOINFOHEADER2>(width, height, compression, bits);
    vih.dwPictAspectRatioX = aspectX;
    vih.dwPictAspectRatioY = aspectY;
    return vih;
}

CMediaType Type(const GUID& subtype, const GUID& formatType, const std::vector<BYTE>& block,
                const GUID& majorType = MEDIATYPE_Video) {
    CMediaType type(&majorType);
    type.SetSubtype(&subtype);
    type.SetFormatType(&formatType);
    EXPECT_TRUE(type.SetFormat(block.data(), ULONG(block.size())));
    return type;
}

CMediaType Yuy2(const VIDEOINFOHEADER& vih, size_t extra = 0) {
    return Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, Bytes(vih, extra));
}

TEST(MediaType, Copy_DuplicatesFormatBlockAndReferencesUnk) {
    CountingUnknown unk;
    {
        CMediaType original = Yuy2(VideoInfo(640, 480));
        original.pUnk = &unk;
        unk.AddRef(); // the reference original owns
        const auto expectCopy = [&](const AM_MEDIA_TYPE& copy) {
            EXPECT_NE(copy.pbFormat, original.pbFormat);
            ASSERT_EQ(copy.cbFormat, original.cbFormat);
            EXPECT_EQ(std::memcmp(copy.pbFormat, original.pbFormat, original.cbFormat), 0);
            EXPECT_EQ(copy.pUnk, &unk);
        };
        const CMediaType copied(original);
        expectCopy(copied);
        CMediaType assigned;
        assigned = static_cast<const AM_MEDIA_TYPE&>(original);
        expectCopy(assigned);
        AM_MEDIA_TYPE* created = CreateMediaType(&original);
        ASSERT_NE(created, nullptr);
        expectCopy(*created);
        EXPECT_EQ(unk.Count, 5u);
        DeleteMediaType(created);
        EXPECT_EQ(unk.Count, 4u);

        const CMediaType& alias = assigned;
        BYTE* const block = assigned.pbFormat;
        assigned = alias;
        EXPECT_EQ(assigned.pbFormat, block);
        EXPECT_EQ(unk.Count, 4u);

        // Assigning over a type releases what it held first.
        assigned = CMediaType();
        EXPECT_EQ(assigned.pbFormat, nullptr);
        EXPECT_EQ(unk.Count, 3u);
    }
    EXPECT_EQ(unk.Count, 1u);
}

TEST(MediaType, SetFormat_FromItsOwnBlock_KeepsTheBytes) {
    const BYTE bytes[] = {1, 2, 3, 4, 5, 6};
    CMediaType type;
    ASSERT_TRUE(type.SetFormat(bytes, sizeof(bytes)));
    ASSERT_TRUE(type.SetFormat(type.Format() + 2, 3));
    ASSERT_EQ(type.FormatLength(), 3u);
    EXPECT_EQ(type.Format()[0], 3);
    EXPECT_EQ(type.Format()[2], 5);

    type.ResetFormatBuffer();
    EXPECT_EQ(type.Format(), nullptr);
    EXPECT_EQ(type.FormatLength(), 0u);
}

CMediaType WithoutBlock(CMediaType type) {
    CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr; // the size stays
    return type;
}

CMediaType WithMajorType(CMediaType type, const GUID& majorType) {
    type.SetType(&majorType);
    return type;
}

CMediaType Mpeg2(size_t extra = 0, size_t length = 0) {
    MPEG2VIDEOINFO mpeg2{};
    mpeg2.hdr = VideoInfo2(640, 480, 4, 3);
    std::vector<BYTE> block = Bytes(mpeg2, extra);
    if (length != 0)
        block.resize(length);
    return Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, block);
}

CMediaType Yuy2Vih2(DWORD aspectX, DWORD aspectY) {
    return Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2,
                Bytes(VideoInfo2(640, 480, aspectX, aspectY)));
}

const GUID kAvc1Subtype = {kAvc1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// An avc1 header with the codec configuration after its fixed 40 bytes; bit rate byte set.
CMediaType Avc1(BYTE config, BYTE bitRate = 0, size_t length = 0) {
    VIDEOINFOHEADER vih = VideoInfo(1280, 720, kAvc1, 24);
    vih.bmiHeader.biSize = 48;
    std::vector<BYTE> block = Bytes(vih, 8);
    block[sizeof(VIDEOINFOHEADER)] = config;
    block[32] = bitRate; // dwBitRate
    if (length != 0)
        block.resize(length);
    return Type(kAvc1Subtype, FORMAT_VideoInfo, block);
}

VIDEOINFOHEADER Changed(VIDEOINFOHEADER vih, void (*change)(VIDEOINFOHEADER&)) {
    change(vih);
    return vih;
}

// Each pair compared both ways.
TEST(MediaType, Equality_Pairs_CompatibleVideoAndIdenticalOtherwise) {
    const CMediaType base = Yuy2(VideoInfo(640, 480));
    const WAVEFORMATEX stereo{1, 2, 44100, 176400, 4, 16, 0};
    WAVEFORMATEX mono = stereo;
    mono.nChannels = 1;
    const auto wave = [](const WAVEFORMATEX& format, const GUID& majorType) {
        return Type(GUID_NULL, FORMAT_WaveFormatEx, Bytes(format), majorType);
    };
    const auto rgb = [](LONG height) {
        return Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo,
                    Bytes(VideoInfo(640, height, BI_RGB, 24)));
    };
    const auto duration = [](REFERENCE_TIME perFrame) {
        VIDEOINFOHEADER vih = VideoInfo(640, 480);
        vih.AvgTimePerFrame = perFrame;
        return Yuy2(vih);
    };
    CMediaType otherSubtype = Yuy2(VideoInfo(640, 480));
    otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB24);
    CMediaType empty = Yuy2(VideoInfo(640, 480));
    empty.ResetFormatBuffer();

    const struct {
        const char* name;
        CMediaType a, b;
        bool equal;
    } cases[] = {
        {"same", base, Yuy2(VideoInfo(640, 480)), true},
        {"other subtype", base, otherSubtype, false},
        // A size without a block is never equal, not even to another such type.
        {"no block", base, WithoutBlock(base), false},
        {"both without block", WithoutBlock(base), WithoutBlock(base), false},
        {"empty block", base, empty, false},
        {"bit rate", base,
         Yuy2(Changed(VideoInfo(640, 480), [](VIDEOINFOHEADER& v) { v.dwBitRate = 2000000; })),
         true},
        {"other size", base, Yuy2(VideoInfo(640, 360)), false},
        {"other depth", base, Yuy2(VideoInfo(640, 480, kYUY2, 12)), false},
        // Non-video formats compare bytes only.
        {"wave", wave(stereo, MEDIATYPE_Audio), wave(stereo, MEDIATYPE_Audio), true},
        {"wave channels", wave(stereo, MEDIATYPE_Audio), wave(mono, MEDIATYPE_Audio), false},
        // Trailing bytes after a video block; only for video major types.
        {"trailing bytes", base, Yuy2(VideoInfo(640, 480), 8), true},
        {"trailing bytes, other picture", base, Yuy2(VideoInfo(320, 240), 8), false},
        {"trailing bytes, not video", WithMajorType(base, MEDIATYPE_Audio),
         WithMajorType(Yuy2(VideoInfo(640, 480), 8), MEDIATYPE_Audio), false},
        {"MPEG-2 lengths", Mpeg2(), Mpeg2(8), false},
        // Across video format types: the picture and its aspect ratio.
        {"VIDEOINFOHEADER2 4:3", base, Yuy2Vih2(4, 3), true},
        {"VIDEOINFOHEADER2 640:480", base, Yuy2Vih2(640, 480), true},
        {"VIDEOINFOHEADER2 16:9", base, Yuy2Vih2(16, 9), false},
        {"MPEG-2", base, Mpeg2(), true},
        {"MPEG-2 and VIDEOINFOHEADER2", Mpeg2(), Yuy2Vih2(4, 3), true},
        {"MPEG-2 truncated", base, Mpeg2(0, 120), false},
        {"wave format type", base, Type(MEDIASUBTYPE_YUY2, FORMAT_WaveFormatEx, Bytes(stereo)),
         false},
        // The private format type counts as video when its block is long enough.
        {"private long enough", base,
         Type(MEDIASUBTYPE_YUY2, FORMAT_KvssfVideoInfoEx,
              Bytes(VideoInfo(640, 480), 144 - sizeof(VIDEOINFOHEADER))),
         true},
        {"private short", base,
         Type(MEDIASUBTYPE_YUY2, FORMAT_KvssfVideoInfoEx, Bytes(VideoInfo(640, 480), 8)), false},
        // Frame durations: 0 stands for 333333; at most 1 apart.
        {"duration 0 and 333334", duration(0), duration(333334), true},
        {"duration 0 and 333335", duration(0), duration(333335), false},
        // A top-down picture is the same only for the YUV compressions.
        {"top-down YUY2", base, Yuy2(VideoInfo(640, -480)), true},
        {"top-down RGB", rgb(480), rgb(-480), false},
        // Rectangles: identical, or each empty or the whole picture.
        {"whole rectangles", base,
         Yuy2(Changed(VideoInfo(640, 480),
                      [](VIDEOINFOHEADER& v) {
                          v.rcSource = RECT{0, 0, 640, 480};
                          v.rcTarget = RECT{0, 0, 640, 0};
                      })),
         true},
        {"cropped source", base,
         Yuy2(Changed(VideoInfo(640, 480),
                      [](VIDEOINFOHEADER& v) {
                          v.rcSource = RECT{0, 0, 320, 240};
                      })),
         false},
        // avc1: the codec configuration after the fixed header counts, the bit rate not.
        {"avc1 bit rate", Avc1(1), Avc1(1, 0x55), true},
        {"avc1 configuration", Avc1(1), Avc1(2, 0x55), false},
        {"avc1 header past its block", Avc1(1), Avc1(1, 0, sizeof(VIDEOINFOHEADER)), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name << ", reversed";
    }
}

TEST(MediaType, MatchesPartial_WildcardsAndFormats) {
    const CMediaType candidate = Yuy2(VideoInfo(640, 480));

    CMediaType partial;
    EXPECT_TRUE(candidate.MatchesPartial(&partial));
    partial.SetType(&MEDIATYPE_Video);
    EXPECT_TRUE(candidate.MatchesPartial(&partial));
    EXPECT_TRUE(partial.IsPartiallySpecified());
    partial.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_FALSE(candidate.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_YUY2);
    EXPECT_TRUE(candidate.MatchesPartial(&partial));
    partial.SetType(&MEDIATYPE_Audio);
    EXPECT_FALSE(candidate.MatchesPartial(&partial));

    // With a format type the blocks must be identical, not merely compatible.
    EXPECT_TRUE(candidate.MatchesPartial(&candidate));
    EXPECT_FALSE(candidate.IsPartiallySpecified());
    VIDEOINFOHEADER faster = VideoInfo(640, 480);
    faster.dwBitRate = 2000000;
    const CMediaType other = Yuy2(faster);
    EXPECT_FALSE(candidate.MatchesPartial(&other));
    const CMediaType longer = Yuy2(VideoInfo(640, 480), 4);
    EXPECT_FALSE(candidate.MatchesPartial(&longer));
}

TEST(MediaType, MatchesPartial_VideoInfo2InItsVideoInfoForm) {
    const CMediaType vih = Yuy2(VideoInfo(640, 480));
    const CMediaType square =
        Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, Bytes(VideoInfo2(640, 480, 4, 3)));
    const CMediaType wide =
        Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, Bytes(VideoInfo2(640, 480, 16, 9)));
    EXPECT_TRUE(vih.MatchesPartial(&square));
    EXPECT_TRUE(square.MatchesPartial(&vih));
    EXPECT_FALSE(vih.MatchesPartial(&wide));

    // The source rectangle, not the bitmap, gives the picture size when it is set.
    VIDEOINFOHEADER2 letterbox = VideoInfo2(640, 480, 16, 9);
    letterbox.rcSource = RECT{0, 60, 640, 420};
    VIDEOINFOHEADER letterboxVih = VideoInfo(640, 480);
    letterboxVih.rcSource = letterbox.rcSource;
    const CMediaType letterbox2 = Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, Bytes(letterbox));
    EXPECT_TRUE(Yuy2(letterboxVih).MatchesPartial(&letterbox2));
    EXPECT_FALSE(vih.MatchesPartial(&letterbox2));

    MPEG2VIDEOINFO mpeg2{};
    mpeg2.hdr = VideoInfo2(640, 480, 4, 3);
    mpeg2.cbSequenceHeader = 4;
    const CMediaType mpeg = Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, Bytes(mpeg2));
    EXPECT_TRUE(vih.MatchesPartial(&mpeg));

    // A palettised header brings its colour table along.
    VIDEOINFOHEADER2 palette2 = VideoInfo2(64, 48, 4, 3, BI_RGB, 4);
    std::vector<BYTE> palette2Block = Bytes(palette2, 16 * sizeof(RGBQUAD));
    palette2Block[sizeof(VIDEOINFOHEADER2) + 5] = 0xAB;
    VIDEOINFOHEADER palette = VideoInfo(64, 48, BI_RGB, 4);
    std::vector<BYTE> paletteBlock = Bytes(palette, 16 * sizeof(RGBQUAD));
    const CMediaType palettised2 = Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, palette2Block);
    EXPECT_FALSE(
        Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, paletteBlock).MatchesPartial(&palettised2));
    paletteBlock[sizeof(VIDEOINFOHEADER) + 5] = 0xAB;
    EXPECT_TRUE(
        Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, paletteBlock).MatchesPartial(&palettised2));

    // A colour table that does not fit in the block.
    const CMediaType noTable =
        Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, Bytes(VideoInfo2(64, 48, 4, 3, BI_RGB, 8)));
    EXPECT_FALSE(Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, Bytes(VideoInfo(64, 48, BI_RGB, 8)))
                     .MatchesPartial(&noTable));
}

} // namespace
