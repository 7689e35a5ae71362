// CMediaType: ownership of the format block and pUnk, equality and partial matching.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/media_type.h"

namespace {

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}
constexpr DWORD kYUY2 = FourCC('Y', 'U', 'Y', '2');
constexpr DWORD kAvc1 = FourCC('a', 'v', 'c', '1');

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

BITMAPINFOHEADER Header(LONG width, LONG height, DWORD compression, WORD bits) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biSizeImage = DWORD(width * (height < 0 ? -height : height) * bits / 8);
    return header;
}

VIDEOINFOHEADER VideoInfo(LONG width, LONG height, DWORD compression = kYUY2, WORD bits = 16) {
    VIDEOINFOHEADER vih{};
    vih.dwBitRate = 1000000;
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader = Header(width, height, compression, bits);
    return vih;
}

VIDEOINFOHEADER2 VideoInfo2(LONG width, LONG height, DWORD aspectX, DWORD aspectY,
                            DWORD compression = kYUY2, WORD bits = 16) {
    VIDEOINFOHEADER2 vih{};
    vih.dwBitRate = 1000000;
    vih.AvgTimePerFrame = 400000;
    vih.dwPictAspectRatioX = aspectX;
    vih.dwPictAspectRatioY = aspectY;
    vih.bmiHeader = Header(width, height, compression, bits);
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

TEST(MediaType, Default_NullGuidsFixedSizeOneNoFormat) {
    const CMediaType type;
    EXPECT_TRUE(type.majortype == GUID_NULL);
    EXPECT_TRUE(type.subtype == GUID_NULL);
    EXPECT_TRUE(type.formattype == GUID_NULL);
    EXPECT_EQ(type.bFixedSizeSamples, TRUE);
    EXPECT_EQ(type.bTemporalCompression, FALSE);
    EXPECT_EQ(type.lSampleSize, 1u);
    EXPECT_EQ(type.cbFormat, 0u);
    EXPECT_EQ(type.pbFormat, nullptr);
    EXPECT_EQ(type.pUnk, nullptr);
    EXPECT_FALSE(type.IsValid());
    EXPECT_TRUE(type.IsPartiallySpecified());
}

TEST(MediaType, Copy_DuplicatesFormatBlockAndReferencesUnk) {
    CountingUnknown unk;
    {
        CMediaType original = Yuy2(VideoInfo(640, 480));
        original.pUnk = &unk;
        unk.AddRef(); // the reference original owns
        ASSERT_EQ(unk.Count, 2u);

        const CMediaType copied(original);
        EXPECT_NE(copied.pbFormat, original.pbFormat);
        ASSERT_EQ(copied.cbFormat, original.cbFormat);
        EXPECT_EQ(std::memcmp(copied.pbFormat, original.pbFormat, original.cbFormat), 0);
        EXPECT_EQ(copied.pUnk, &unk);
        EXPECT_EQ(unk.Count, 3u);

        CMediaType assigned;
        assigned = static_cast<const AM_MEDIA_TYPE&>(original);
        EXPECT_NE(assigned.pbFormat, original.pbFormat);
        EXPECT_EQ(std::memcmp(assigned.pbFormat, original.pbFormat, original.cbFormat), 0);
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

        AM_MEDIA_TYPE* created = CreateMediaType(&original);
        ASSERT_NE(created, nullptr);
        EXPECT_NE(created->pbFormat, original.pbFormat);
        EXPECT_EQ(std::memcmp(created->pbFormat, original.pbFormat, original.cbFormat), 0);
        EXPECT_EQ(unk.Count, 4u);
        DeleteMediaType(created);
        EXPECT_EQ(unk.Count, 3u);
    }
    EXPECT_EQ(unk.Count, 1u);
}

TEST(MediaType, FormatBuffer_ResizeAndReplaceKeepBytes) {
    const BYTE bytes[] = {1, 2, 3, 4, 5, 6};
    CMediaType type;
    ASSERT_TRUE(type.SetFormat(bytes, sizeof(bytes)));
    ASSERT_EQ(type.FormatLength(), 6u);

    BYTE* grown = type.ReallocFormatBuffer(10);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(type.FormatLength(), 10u);
    EXPECT_EQ(std::memcmp(grown, bytes, sizeof(bytes)), 0);

    // A format taken from the type's own block survives the replacement.
    ASSERT_TRUE(type.SetFormat(type.Format() + 2, 3));
    ASSERT_EQ(type.FormatLength(), 3u);
    EXPECT_EQ(type.Format()[0], 3);
    EXPECT_EQ(type.Format()[2], 5);

    type.ResetFormatBuffer();
    EXPECT_EQ(type.Format(), nullptr);
    EXPECT_EQ(type.FormatLength(), 0u);
}

TEST(MediaType, Equality_SameFormatType) {
    const CMediaType base = Yuy2(VideoInfo(640, 480));
    EXPECT_TRUE(base == Yuy2(VideoInfo(640, 480)));

    CMediaType otherSubtype = Yuy2(VideoInfo(640, 480));
    otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_FALSE(base == otherSubtype);

    // A size without a block is never equal, not even to itself.
    CMediaType missing = Yuy2(VideoInfo(640, 480));
    CMediaType missingToo = Yuy2(VideoInfo(640, 480));
    CoTaskMemFree(missing.pbFormat);
    missing.pbFormat = nullptr;
    EXPECT_FALSE(base == missing);
    EXPECT_FALSE(missing == base);
    CoTaskMemFree(missingToo.pbFormat);
    missingToo.pbFormat = nullptr;
    EXPECT_FALSE(missing == missingToo);

    // Different bytes describing the same picture: the bit rate does not matter.
    VIDEOINFOHEADER faster = VideoInfo(640, 480);
    faster.dwBitRate = 2000000;
    EXPECT_TRUE(base == Yuy2(faster));
    EXPECT_FALSE(base == Yuy2(VideoInfo(640, 360)));
    EXPECT_FALSE(base == Yuy2(VideoInfo(640, 480, kYUY2, 12)));

    // Non-video formats compare bytes only.
    const WAVEFORMATEX stereo{1, 2, 44100, 176400, 4, 16, 0};
    WAVEFORMATEX mono = stereo;
    mono.nChannels = 1;
    const CMediaType audio = Type(GUID_NULL, FORMAT_WaveFormatEx, Bytes(stereo), MEDIATYPE_Audio);
    EXPECT_TRUE(audio == Type(GUID_NULL, FORMAT_WaveFormatEx, Bytes(stereo), MEDIATYPE_Audio));
    EXPECT_FALSE(audio == Type(GUID_NULL, FORMAT_WaveFormatEx, Bytes(mono), MEDIATYPE_Audio));
}

TEST(MediaType, Equality_SameFormatTypeDifferentLengths) {
    const CMediaType base = Yuy2(VideoInfo(640, 480));
    // Trailing bytes after an otherwise identical block.
    EXPECT_TRUE(base == Yuy2(VideoInfo(640, 480), 8));
    EXPECT_TRUE(Yuy2(VideoInfo(640, 480), 8) == base);
    // Trailing bytes and a different picture.
    EXPECT_FALSE(base == Yuy2(VideoInfo(320, 240), 8));

    // Only video major types; no empty blocks.
    CMediaType notVideo = Yuy2(VideoInfo(640, 480));
    notVideo.SetType(&MEDIATYPE_Audio);
    CMediaType notVideoLonger = Yuy2(VideoInfo(640, 480), 8);
    notVideoLonger.SetType(&MEDIATYPE_Audio);
    EXPECT_FALSE(notVideo == notVideoLonger);
    CMediaType empty = Yuy2(VideoInfo(640, 480));
    empty.ResetFormatBuffer();
    EXPECT_FALSE(base == empty);

    // MPEG-2 video blocks of different lengths are never equal.
    MPEG2VIDEOINFO mpeg2{};
    mpeg2.hdr = VideoInfo2(640, 480, 4, 3);
    const CMediaType mpegShort = Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, Bytes(mpeg2));
    const CMediaType mpegLong = Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, Bytes(mpeg2, 8));
    EXPECT_FALSE(mpegShort == mpegLong);
}

TEST(MediaType, Equality_AcrossVideoFormatTypes) {
    const CMediaType vih = Yuy2(VideoInfo(640, 480));
    const auto vih2 = [](DWORD x, DWORD y) {
        return Type(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, Bytes(VideoInfo2(640, 480, x, y)));
    };
    EXPECT_TRUE(vih == vih2(4, 3));
    EXPECT_TRUE(vih2(4, 3) == vih);
    EXPECT_TRUE(vih == vih2(640, 480));
    EXPECT_FALSE(vih == vih2(16, 9));
    EXPECT_FALSE(vih2(16, 9) == vih);

    MPEG2VIDEOINFO mpeg2{};
    mpeg2.hdr = VideoInfo2(640, 480, 4, 3);
    const CMediaType mpeg = Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, Bytes(mpeg2));
    EXPECT_TRUE(vih == mpeg);
    EXPECT_TRUE(mpeg == vih2(4, 3));
    // An MPEG-2 block too short for its structure.
    std::vector<BYTE> truncated = Bytes(mpeg2);
    truncated.resize(120);
    EXPECT_FALSE(vih == Type(MEDIASUBTYPE_YUY2, FORMAT_MPEG2Video, truncated));

    // Video against a non-video format type.
    const WAVEFORMATEX wave{1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_FALSE(vih == Type(MEDIASUBTYPE_YUY2, FORMAT_WaveFormatEx, Bytes(wave)));

    // The private format type counts as video when its block is long enough.
    EXPECT_TRUE(vih == Type(MEDIASUBTYPE_YUY2, FORMAT_KvssfVideoInfoEx,
                            Bytes(VideoInfo(640, 480), 144 - sizeof(VIDEOINFOHEADER))));
    EXPECT_FALSE(vih ==
                 Type(MEDIASUBTYPE_YUY2, FORMAT_KvssfVideoInfoEx, Bytes(VideoInfo(640, 480), 8)));
}

TEST(MediaType, Equality_CompatibilityDetails) {
    const CMediaType base = Yuy2(VideoInfo(640, 480));

    // Frame durations: 0 stands for 333333; at most 1 apart.
    VIDEOINFOHEADER a = VideoInfo(640, 480);
    VIDEOINFOHEADER b = VideoInfo(640, 480);
    a.AvgTimePerFrame = 0;
    b.AvgTimePerFrame = 333334;
    EXPECT_TRUE(Yuy2(a) == Yuy2(b));
    b.AvgTimePerFrame = 333335;
    EXPECT_FALSE(Yuy2(a) == Yuy2(b));

    // A top-down picture is the same only for the YUV compressions.
    EXPECT_TRUE(base == Yuy2(VideoInfo(640, -480)));
    const CMediaType rgb =
        Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, Bytes(VideoInfo(640, 480, BI_RGB, 24)));
    const CMediaType rgbTopDown =
        Type(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, Bytes(VideoInfo(640, -480, BI_RGB, 24)));
    EXPECT_FALSE(rgb == rgbTopDown);

    // Rectangles: identical, or each empty or the whole picture.
    VIDEOINFOHEADER whole = VideoInfo(640, 480);
    whole.rcSource = RECT{0, 0, 640, 480};
    whole.rcTarget = RECT{0, 0, 640, 0};
    EXPECT_TRUE(base == Yuy2(whole));
    VIDEOINFOHEADER cropped = VideoInfo(640, 480);
    cropped.rcSource = RECT{0, 0, 320, 240};
    EXPECT_FALSE(base == Yuy2(cropped));

    // avc1 headers carry the codec configuration after the fixed 40 bytes.
    const auto avc1 = [](BYTE config) {
        VIDEOINFOHEADER vih = VideoInfo(1280, 720, kAvc1, 24);
        vih.bmiHeader.biSize = 48;
        std::vector<BYTE> block = Bytes(vih, 8);
        block[sizeof(VIDEOINFOHEADER)] = config;
        return block;
    };
    const GUID avc1Subtype = {
        kAvc1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    std::vector<BYTE> otherRate = avc1(1);
    otherRate[32] = 0x55; // dwBitRate
    EXPECT_TRUE(Type(avc1Subtype, FORMAT_VideoInfo, avc1(1)) ==
                Type(avc1Subtype, FORMAT_VideoInfo, otherRate));
    std::vector<BYTE> otherConfig = avc1(2);
    otherConfig[32] = 0x55;
    EXPECT_FALSE(Type(avc1Subtype, FORMAT_VideoInfo, avc1(1)) ==
                 Type(avc1Subtype, FORMAT_VideoInfo, otherConfig));
    // A header claiming more bytes than its block holds.
    std::vector<BYTE> overlong = avc1(1);
    overlong.resize(sizeof(VIDEOINFOHEADER));
    EXPECT_FALSE(Type(avc1Subtype, FORMAT_VideoInfo, avc1(1)) ==
                 Type(avc1Subtype, FORMAT_VideoInfo, overlong));
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
