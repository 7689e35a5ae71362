// The H.264 sequence parameter set reader: encoder output, hand-built parameter sets for
// the paths encoders rarely take, byte-stream framing, and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "manifest/h264/bit_reader.h"
#include "manifest/h264/sps_reader.h"
#include "tests/support/failing_allocation.h"

namespace {

// Codec private data (SPS and PPS, four-byte start codes) written by libx264 for two
// frames of testsrc2. Field values noted as the encoder wrote them. The other paths
// (interlacing, extended and table aspect ratios, signal type, bit depths, unlisted
// profiles) are built by hand below.
// baseline, 320x240, 25 fps: time_scale 50, SAR 1:1, pic_order_cnt_type 2; its
// timing fields hold 00 00 03 00 and 00 00 03 03.
const std::vector<BYTE> kBaseline320x240 = {
    0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x0d, 0xd9, 0x01, 0x41, 0xfb, 0x01,
    0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x20, 0xf1, 0x42,
    0xa4, 0x80, 0x00, 0x00, 0x00, 0x01, 0x68, 0xcb, 0x83, 0xcb, 0x20};
// main, 322x182 at 30000/1001: crop right 7, bottom 5; 60000/1001.
const std::vector<BYTE> kMain322x182 = {0x00, 0x00, 0x00, 0x01, 0x67, 0x4d, 0x40, 0x0d, 0xec, 0xa0,
                                        0xa8, 0xcf, 0x11, 0x36, 0x02, 0x20, 0x00, 0x00, 0x7d, 0x20,
                                        0x00, 0x1d, 0x4c, 0x01, 0xe2, 0x85, 0x32, 0xc0, 0x00, 0x00,
                                        0x00, 0x01, 0x68, 0xeb, 0xe3, 0xcb, 0x20};
// high, 640x360 at 50 fps, level 3.1: crop bottom 4.
const std::vector<BYTE> kHigh640x360 = {0x00, 0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x1f, 0xac, 0xd9,
                                        0x40, 0xa0, 0x2f, 0xf9, 0x70, 0x11, 0x00, 0x00, 0x03, 0x00,
                                        0x01, 0x00, 0x00, 0x03, 0x00, 0x64, 0x0f, 0x18, 0x31, 0x96,
                                        0x00, 0x00, 0x00, 0x01, 0x68, 0xeb, 0xe3, 0xcb, 0x22, 0xc0};
// high 4:2:2, 322x182 at 24 fps: crop right 7 (units of 2), bottom 10 (units of 1).
const std::vector<BYTE> kHigh422_322x182 = {
    0x00, 0x00, 0x00, 0x01, 0x67, 0x7a, 0x00, 0x0d, 0xbc, 0xd9, 0x41, 0x51, 0x9e, 0x22,
    0x2f, 0x01, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x00, 0xf1,
    0x42, 0x99, 0x60, 0x00, 0x00, 0x00, 0x01, 0x68, 0xeb, 0xe3, 0xcb, 0x22, 0xc0};

// MSB-first bit string with the Exp-Golomb codes.
class BitWriter {
public:
    void Bits(uint64_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;)
            Bit((value >> i) & 1);
    }
    void Flag(bool value) { Bit(value); }
    void Ue(uint64_t value) {
        const uint64_t code = value + 1;
        unsigned prefix = 0;
        for (uint64_t c = code; c > 1; c >>= 1)
            ++prefix;
        Bits(0, prefix);
        Bits(code, prefix + 1);
    }
    void Se(int64_t value) { Ue(value > 0 ? 2 * uint64_t(value) - 1 : 2 * uint64_t(-value)); }
    // rbsp_trailing_bits()
    std::vector<BYTE> Finish() {
        Bit(true);
        while (m_bitCount % 8 != 0)
            Bit(false);
        return m_bytes;
    }

private:
    void Bit(bool value) {
        if (m_bitCount % 8 == 0)
            m_bytes.push_back(0);
        if (value)
            m_bytes.back() |= BYTE(0x80 >> (m_bitCount % 8));
        ++m_bitCount;
    }
    std::vector<BYTE> m_bytes;
    size_t m_bitCount = 0;
};

// The syntax elements a hand-built SPS carries; defaults give a 1920x1088 high profile
// picture without VUI.
struct SpsFields {
    uint32_t profile_idc = 100;
    uint32_t level_idc = 40;
    uint32_t chroma_format_idc = 1;
    bool scaling_matrix = false;
    // Per list, the delta_scale values written; an empty list is absent.
    std::vector<std::vector<int64_t>> scaling_deltas = std::vector<std::vector<int64_t>>(8);
    uint32_t pic_order_cnt_type = 0;
    std::vector<int64_t> offset_for_ref_frame;
    uint32_t pic_width_in_mbs_minus1 = 119;
    uint32_t pic_height_in_map_units_minus1 = 67;
    bool frame_mbs_only_flag = true;
    bool frame_cropping_flag = false;
    uint32_t crop[4] = {0, 0, 0, 0}; // left, right, top, bottom
    bool vui = false;
    int aspect_ratio_idc = -1; // -1: no aspect ratio information
    uint32_t sar_width = 0, sar_height = 0;
    bool video_signal = false;
    bool chroma_loc = false;
    bool timing = false;
    uint32_t num_units_in_tick = 0, time_scale = 0;
};

// The RBSP of fields, with set bits between the elements the reader skips so that a
// misplaced read shows in the result.
std::vector<BYTE> BuildSps(const SpsFields& f) {
    BitWriter w;
    w.Bits(f.profile_idc, 8);
    w.Bits(0xA5, 8); // constraint flags and reserved bits
    w.Bits(f.level_idc, 8);
    w.Ue(3); // seq_parameter_set_id
    if (f.profile_idc >= 100) {
        w.Ue(f.chroma_format_idc);
        if (f.chroma_format_idc == 3)
            w.Flag(true); // separate_colour_plane_flag
        w.Ue(2);          // bit_depth_luma_minus8
        w.Ue(4);          // bit_depth_chroma_minus8
        w.Flag(true);     // qpprime_y_zero_transform_bypass_flag
        w.Flag(f.scaling_matrix);
        if (f.scaling_matrix) {
            for (const std::vector<int64_t>& deltas : f.scaling_deltas) {
                w.Flag(!deltas.empty());
                for (int64_t delta : deltas)
                    w.Se(delta);
            }
        }
    }
    w.Ue(5); // log2_max_frame_num_minus4
    w.Ue(f.pic_order_cnt_type);
    if (f.pic_order_cnt_type == 0) {
        w.Ue(6); // log2_max_pic_order_cnt_lsb_minus4
    } else if (f.pic_order_cnt_type == 1) {
        w.Flag(true); // delta_pic_order_always_zero_flag
        w.Se(-7);     // offset_for_non_ref_pic
        w.Se(9);      // offset_for_top_to_bottom_field
        w.Ue(f.offset_for_ref_frame.size());
        for (int64_t offset : f.offset_for_ref_frame)
            w.Se(offset);
    }
    w.Ue(4);      // max_num_ref_frames
    w.Flag(true); // gaps_in_frame_num_value_allowed_flag
    w.Ue(f.pic_width_in_mbs_minus1);
    w.Ue(f.pic_height_in_map_units_minus1);
    w.Flag(f.frame_mbs_only_flag);
    if (!f.frame_mbs_only_flag)
        w.Flag(true); // mb_adaptive_frame_field_flag
    w.Flag(true);     // direct_8x8_inference_flag
    w.Flag(f.frame_cropping_flag);
    if (f.frame_cropping_flag) {
        for (uint32_t offset : f.crop)
            w.Ue(offset);
    }
    w.Flag(f.vui);
    if (f.vui) {
        w.Flag(f.aspect_ratio_idc >= 0);
        if (f.aspect_ratio_idc >= 0) {
            w.Bits(uint32_t(f.aspect_ratio_idc), 8);
            if (f.aspect_ratio_idc == 255) {
                w.Bits(f.sar_width, 16);
                w.Bits(f.sar_height, 16);
            }
        }
        w.Flag(true); // overscan_info_present_flag
        w.Flag(true); // overscan_appropriate_flag
        w.Flag(f.video_signal);
        if (f.video_signal) {
            w.Bits(5, 3);         // video_format
            w.Flag(true);         // video_full_range_flag
            w.Flag(true);         // colour_description_present_flag
            w.Bits(0xFFFFFF, 24); // primaries, transfer, matrix
        }
        w.Flag(f.chroma_loc);
        if (f.chroma_loc) {
            w.Ue(5);
            w.Ue(2);
        }
        w.Flag(f.timing);
        if (f.timing) {
            w.Bits(f.num_units_in_tick, 32);
            w.Bits(f.time_scale, 32);
            w.Flag(true); // fixed_frame_rate_flag
        }
        w.Bits(0x3FF, 10); // HRD flags and beyond: not read
    }
    return w.Finish();
}

// Annex B framing: four-byte start code, header, RBSP with emulation prevention, then a
// PPS so that the SPS is terminated.
std::vector<BYTE> Frame(const std::vector<BYTE>& rbsp, BYTE header = 0x67) {
    std::vector<BYTE> bytes = {0x00, 0x00, 0x00, 0x01, header};
    int zeros = 0;
    for (BYTE b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            bytes.push_back(0x03);
            zeros = 0;
        }
        bytes.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    for (BYTE b : {0x00, 0x00, 0x00, 0x01, 0x68, 0xce, 0x38, 0x80})
        bytes.push_back(b);
    return bytes;
}

SpsInfo Sentinel() {
    SpsInfo info;
    std::memset(&info, 0xA5, sizeof info);
    return info;
}

bool Unchanged(const SpsInfo& info) {
    const SpsInfo sentinel = Sentinel();
    return std::memcmp(&info, &sentinel, sizeof info) == 0;
}

// Reads from an exactly sized heap copy, so that a read past the end is caught by ASan.
HRESULT Read(const std::vector<BYTE>& bytes, SpsInfo* info) {
    std::unique_ptr<BYTE[]> copy(new BYTE[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    *info = Sentinel();
    return ReadSequenceParameterSet(info, copy.get(), bytes.size());
}

SpsInfo ReadOk(const std::vector<BYTE>& bytes) {
    SpsInfo info;
    EXPECT_EQ(Read(bytes, &info), S_OK);
    return info;
}

TEST(SpsReaderTest, ReadSequenceParameterSet_EncoderStreams_PictureRateAspectProfile) {
    struct Case {
        const char* name;
        const std::vector<BYTE>& bytes;
        uint32_t width, height;
        double frameRate;
        uint32_t sarWidth, sarHeight, profile, level;
    };
    const Case cases[] = {
        {"baseline", kBaseline320x240, 320, 240, 25.0, 1, 1, 66, 13},
        {"main cropped", kMain322x182, 322, 182, 29.970029830932617, 1, 1, 77, 13},
        {"high cropped", kHigh640x360, 640, 360, 50.0, 1, 1, 100, 31},
        {"4:2:2", kHigh422_322x182, 322, 182, 24.0, 1, 1, 122, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SpsInfo info = ReadOk(c.bytes);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_DOUBLE_EQ(info.FrameRate, c.frameRate);
        EXPECT_EQ(info.HasAspectRatio, TRUE);
        EXPECT_EQ(info.SarWidth, c.sarWidth);
        EXPECT_EQ(info.SarHeight, c.sarHeight);
        EXPECT_EQ(info.Valid, TRUE);
        EXPECT_EQ(info.ProfileIdc, c.profile);
        EXPECT_EQ(info.LevelIdc, c.level);
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_Profiles_OnlyListedAccepted) {
    SpsInfo info;
    const std::vector<uint32_t> accepted = {66, 77, 88, 100, 110, 122, 144};
    for (uint32_t profile = 0; profile < 256; ++profile) {
        SCOPED_TRACE(profile);
        SpsFields fields;
        fields.profile_idc = profile;
        fields.chroma_format_idc = 0; // crop units of 1 when the high fields are read
        fields.frame_cropping_flag = true;
        fields.crop[1] = 5;
        const HRESULT hr = Read(Frame(BuildSps(fields)), &info);
        if (std::find(accepted.begin(), accepted.end(), profile) == accepted.end()) {
            EXPECT_EQ(hr, SPS_S_NOT_READ);
            EXPECT_TRUE(Unchanged(info));
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(info.ProfileIdc, profile);
        EXPECT_EQ(info.LevelIdc, 40u);
        // Below 100 no chroma_format_idc is read and 4:2:0 crop units apply.
        EXPECT_EQ(info.Width, profile >= 100 ? 1915u : 1910u);
        EXPECT_EQ(info.Height, 1088u);
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_Cropping_UnitsFollowChromaFormatAndFields) {
    struct Case {
        uint32_t chroma;
        bool frameMbsOnly;
        uint32_t width, height;
    };
    // crop offsets left 1, right 2, top 3, bottom 4 on 1920x1088 (frame) or 1920x2176 (fields)
    const Case cases[] = {
        {0, true, 1917, 1081},  {1, true, 1914, 1074},  {2, true, 1914, 1081},
        {3, true, 1917, 1081},  {0, false, 1917, 2162}, {1, false, 1914, 2148},
        {2, false, 1914, 2162}, {3, false, 1917, 2162},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "chroma " << c.chroma << " frames " << c.frameMbsOnly);
        SpsFields fields;
        fields.chroma_format_idc = c.chroma;
        fields.frame_mbs_only_flag = c.frameMbsOnly;
        fields.frame_cropping_flag = true;
        fields.crop[0] = 1;
        fields.crop[1] = 2;
        fields.crop[2] = 3;
        fields.crop[3] = 4;
        const SpsInfo info = ReadOk(Frame(BuildSps(fields)));
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
    }

    SpsFields hd;
    hd.frame_cropping_flag = true;
    hd.crop[3] = 4;
    const SpsInfo info = ReadOk(Frame(BuildSps(hd)));
    EXPECT_EQ(info.Width, 1920u);
    EXPECT_EQ(info.Height, 1080u);

    // Offsets larger than the picture wrap in 32 bits.
    hd.crop[3] = 545;
    EXPECT_EQ(ReadOk(Frame(BuildSps(hd))).Height, uint32_t(1088 - 1090));
}

TEST(SpsReaderTest, ReadSequenceParameterSet_ScalingLists_ConsumedUpToTheirEnd) {
    SpsFields fields;
    fields.scaling_matrix = true;
    fields.frame_cropping_flag = true;
    fields.crop[3] = 4;
    fields.vui = true;
    fields.timing = true;
    fields.num_units_in_tick = 1001;
    fields.time_scale = 48000;
    // List 0: 16 deltas, large ones wrapping modulo 256.
    fields.scaling_deltas[0] = {8, -8, 100, -100, 127, 127, -128, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    // List 2: next scale 0 after two deltas ends the list (8 + 4 = 12, 12 - 12 = 0).
    fields.scaling_deltas[2] = {4, -12};
    // List 5: a first delta of -8 means "use the default list": one code only.
    fields.scaling_deltas[5] = {-8};
    // List 6: all 64 coefficients of an 8x8 list.
    fields.scaling_deltas[6] = std::vector<int64_t>(64, 3);
    // List 7: ends after 63 deltas (the 64th scale repeats the last).
    fields.scaling_deltas[7] = std::vector<int64_t>(62, 1);
    fields.scaling_deltas[7].push_back(-(8 + 62));
    // chroma_format_idc 1 still reads all eight lists.
    const SpsInfo info = ReadOk(Frame(BuildSps(fields)));
    EXPECT_EQ(info.Width, 1920u);
    EXPECT_EQ(info.Height, 1080u);
    EXPECT_DOUBLE_EQ(info.FrameRate, double(48000.0f / 1001.0f) / 2);
}

TEST(SpsReaderTest, ReadSequenceParameterSet_PicOrderCntTypes_CycleEntriesConsumed) {
    const struct {
        uint32_t type;
        std::vector<int64_t> offsets; // offset_for_ref_frame, type 1 only
        HRESULT hr;
    } cases[] = {
        {1, {1, -2, 300, -70000}, S_OK},
        {1, std::vector<int64_t>(255, -1), S_OK},
        // One entry more than the table holds fails the interpretation.
        {1, std::vector<int64_t>(256, -1), SPS_S_NOT_READ},
        // Types 2 and above carry nothing more.
        {2, {}, S_OK},
        {9, {}, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << ", " << c.offsets.size() << " entries");
        SpsFields fields;
        fields.pic_order_cnt_type = c.type;
        fields.pic_width_in_mbs_minus1 = 79;
        fields.pic_height_in_map_units_minus1 = 44;
        fields.offset_for_ref_frame = c.offsets;
        SpsInfo info;
        ASSERT_EQ(Read(Frame(BuildSps(fields)), &info), c.hr);
        if (c.hr != S_OK) {
            EXPECT_TRUE(Unchanged(info));
            continue;
        }
        EXPECT_EQ(info.Width, 1280u);
        EXPECT_EQ(info.Height, 720u);
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_VuiTiming_HalfTheTickRateWithinLimits) {
    SpsFields fields;
    EXPECT_EQ(ReadOk(Frame(BuildSps(fields))).FrameRate, 30.0); // no VUI
    fields.vui = true;
    fields.video_signal = true;
    fields.chroma_loc = true;
    EXPECT_EQ(ReadOk(Frame(BuildSps(fields))).FrameRate, 30.0); // VUI without timing

    struct Case {
        uint32_t units, scale;
        double frameRate;
    };
    const Case cases[] = {
        {1, 50, 25.0},
        {1001, 60000, 29.970029830932617},
        {1, 1000, 30.0},
        {1, 200, 100.0},
        {1, 201, 30.0},
        {5, 1, 0.10000000149011612},
        {6, 1, 30.0},
        {0, 0, 30.0},
        {0, 50, 30.0},
        {50, 0, 30.0},
        {1, 0xFFFFFFFF, 30.0},
        // Single precision: 2^32 - 1 rounds to 2^32, giving exactly 1.0.
        {0x80000000, 0xFFFFFFFF, 1.0},
    };
    fields.timing = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << "/" << c.units);
        fields.num_units_in_tick = c.units;
        fields.time_scale = c.scale;
        EXPECT_DOUBLE_EQ(ReadOk(Frame(BuildSps(fields))).FrameRate, c.frameRate);
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_AspectRatio_TableAndExtendedOnly) {
    const struct {
        int idc;
        BOOL has;
        uint32_t width, height;
    } cases[] = {
        {0, FALSE, 0, 0}, {1, TRUE, 1, 1},   {4, TRUE, 16, 11},  {13, TRUE, 160, 99},
        {16, TRUE, 2, 1}, {17, FALSE, 0, 0}, {254, FALSE, 0, 0}, {255, TRUE, 1234, 0xFFFF},
    };
    SpsFields fields;
    fields.vui = true;
    fields.video_signal = true;
    fields.chroma_loc = true;
    fields.timing = true;
    fields.num_units_in_tick = 1;
    fields.time_scale = 48;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.idc);
        fields.aspect_ratio_idc = c.idc;
        fields.sar_width = 1234;
        fields.sar_height = 0xFFFF;
        const SpsInfo info = ReadOk(Frame(BuildSps(fields)));
        EXPECT_EQ(info.FrameRate, 24.0); // the fields after the ratio line up
        EXPECT_EQ(info.HasAspectRatio, c.has);
        EXPECT_EQ(info.SarWidth, c.width);
        EXPECT_EQ(info.SarHeight, c.height);
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_ByteStream_FindsFirstSpsAndItsEnd) {
    using Bytes = std::vector<BYTE>;
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const Bytes pps = {0x00, 0x00, 0x01, 0x68, 0xce, 0x38, 0x80}, sc3 = {0, 0, 1},
                sc4 = {0, 0, 0, 1};
    // The 640x360 SPS after a header byte of choice.
    auto nal = [&](BYTE header) {
        return cat({{header}, Bytes(kHigh640x360.begin() + 5, kHigh640x360.begin() + 30)});
    };
    const struct {
        Bytes bytes;
        HRESULT hr;
        uint32_t width; // when read
    } cases[] = {
        // Three-byte start codes, after an access unit delimiter and an SEI; nal_ref_idc 1.
        {cat({sc3, {0x09, 0xF0}, sc4, {0x06, 0x05, 0x01, 0x80}, sc3, nal(0x27), pps}), S_OK, 640},
        // A forbidden bit set or another type is not an SPS; the SPS after them is read.
        {cat({sc4, nal(0xE7), sc4, nal(0x68), sc4, nal(0x08), sc4, {0, 0, 3}, sc4, kMain322x182}),
         S_OK, 322},
        // Zeros before the next 00 00 01 end the SPS with it.
        {cat({sc4, nal(0x67), {0x00, 0x00}, pps}), S_OK, 640},
        // A start code is looked for only with a byte after it.
        {cat({sc4, nal(0x67), sc3, {0x68}}), S_OK, 640},
        {cat({sc4, nal(0x67), sc3}), SPS_S_UNTERMINATED, 0},
        {cat({sc4, nal(0x67)}), SPS_S_UNTERMINATED, 0},
        {{0x00, 0x00, 0x01, 0x67}, SPS_S_UNTERMINATED, 0},
        {cat({sc4, {0x68, 0xce}, pps}), SPS_S_NOT_READ, 0},
        {nal(0x67), SPS_S_NOT_READ, 0}, // no start code at all
        {{0x00, 0x00, 0x01}, SPS_S_NOT_READ, 0},
        {{}, SPS_S_NOT_READ, 0},
        // An SPS of its header byte alone, or of zeros, reads as profile 0: not read.
        {{0x00, 0x00, 0x01, 0x67, 0x00, 0x00, 0x01, 0x68}, SPS_S_NOT_READ, 0},
        {{0x00, 0x00, 0x01, 0x67, 0x00, 0x00, 0x00, 0x00, 0x01, 0x68}, SPS_S_NOT_READ, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SpsInfo info;
        EXPECT_EQ(Read(cases[i].bytes, &info), cases[i].hr) << i;
        if (cases[i].hr == S_OK)
            EXPECT_EQ(info.Width, cases[i].width) << i;
        else
            EXPECT_TRUE(Unchanged(info)) << i;
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_EmulationPrevention_OnlyThirdBytesAfterTwoZeros) {
    // Timing fields that put 00 00 00 and 00 00 03 into the RBSP; Frame escapes them.
    SpsFields fields;
    fields.vui = true;
    fields.aspect_ratio_idc = 255;
    fields.sar_width = 0;
    fields.sar_height = 0x0003;
    fields.timing = true;
    fields.num_units_in_tick = 0x00000100;
    fields.time_scale = 0x00003200;
    const std::vector<BYTE> rbsp = BuildSps(fields);
    const std::vector<BYTE> escaped = Frame(rbsp);
    ASSERT_GT(escaped.size(), rbsp.size() + 5 + 8); // escapes were inserted
    SpsInfo info = ReadOk(escaped);
    EXPECT_EQ(info.SarWidth, 0u);
    EXPECT_EQ(info.SarHeight, 3u);
    EXPECT_DOUBLE_EQ(info.FrameRate, 25.0);

    // 00 00 03 03: the first 03 goes, the second stays (the baseline stream's time_scale
    // of 50 is 00 00 00 32 in its RBSP and 00 00 03 00 ... 00 00 03 03 20 on the wire).
    info = ReadOk(kBaseline320x240);
    EXPECT_DOUBLE_EQ(info.FrameRate, 25.0);
    // Without removal the same bytes would not read as 25 fps.
    std::vector<BYTE> unescaped = kBaseline320x240;
    unescaped[16] = 0x04; // 00 00 04 is not an escape
    EXPECT_NE(ReadOk(unescaped).FrameRate, 25.0);
}

TEST(SpsReaderTest, ReadSequenceParameterSet_TruncatedPayload_ReadsZeroBits) {
    // A main profile 704x576 SPS up to pic_height_in_map_units_minus1.
    auto upToPictureSize = [](BitWriter& w) {
        w.Bits(77, 8);
        w.Bits(0, 8);
        w.Bits(30, 8);
        w.Ue(0);
        w.Ue(0); // log2_max_frame_num_minus4
        w.Ue(2); // pic_order_cnt_type
        w.Ue(1); // max_num_ref_frames
        w.Flag(false);
        w.Ue(43);
        w.Ue(35);
    };
    // Cut there: the stop bit becomes frame_mbs_only_flag and every later element reads 0.
    BitWriter cut;
    upToPictureSize(cut);
    SpsInfo info = ReadOk(Frame(cut.Finish()));
    EXPECT_EQ(info.Width, 704u);
    EXPECT_EQ(info.Height, 576u);
    EXPECT_EQ(info.FrameRate, 30.0);
    EXPECT_EQ(info.HasAspectRatio, FALSE);

    // Cut after the high half of time_scale: the stop bit and zeros fill its low half.
    BitWriter timing;
    upToPictureSize(timing);
    timing.Bits(0b1101, 4);  // frame_mbs_only, direct_8x8, no cropping, VUI
    timing.Bits(0b00001, 5); // no aspect, overscan, signal type, chroma location; timing
    timing.Bits(0x10000, 32);
    timing.Bits(0x0032, 16);
    info = ReadOk(Frame(timing.Finish()));
    EXPECT_EQ(info.Height, 576u);
    EXPECT_DOUBLE_EQ(info.FrameRate, 25.25); // 0x00328000 / 0x10000 / 2

    // Every prefix of every encoder SPS reads without touching bytes past the input.
    const std::vector<BYTE> nextStart = {0x00, 0x00, 0x00, 0x01};
    for (const std::vector<BYTE>* stream :
         {&kBaseline320x240, &kMain322x182, &kHigh640x360, &kHigh422_322x182}) {
        const auto spsEnd =
            std::search(stream->begin() + 4, stream->end(), nextStart.begin(), nextStart.end());
        for (auto end = stream->begin() + 5; end <= spsEnd; ++end) {
            std::vector<BYTE> prefix(stream->begin(), end);
            prefix.insert(prefix.end(), spsEnd, stream->end());
            const HRESULT hr = Read(prefix, &info);
            EXPECT_TRUE(hr == S_OK || hr == SPS_S_NOT_READ) << (end - stream->begin());
        }
    }
}

TEST(SpsReaderTest, ReadSequenceParameterSet_PayloadSize_LimitedToPartitionBuffer) {
    SpsFields fields;
    std::vector<BYTE> rbsp = BuildSps(fields);
    rbsp.resize(524288, 0xFF);
    EXPECT_EQ(ReadOk(Frame(rbsp)).Width, 1920u);
    rbsp.push_back(0xFF);
    SpsInfo info;
    EXPECT_EQ(Read(Frame(rbsp), &info), SPS_S_NOT_READ);
    EXPECT_TRUE(Unchanged(info));
}

TEST(SpsReaderTest, ReadSequenceParameterSet_AllocationFails_OutOfMemoryThenNotRead) {
    // Failing the n-th allocation for growing n: the NAL unit's and the decoder context's
    // give E_OUTOFMEMORY, the interpretation's "not read"; nothing leaks (LeakSanitizer).
    std::vector<HRESULT> results;
    for (int n = 0; n < 20; ++n) {
        SpsInfo info = Sentinel();
        FailNothrowAllocationAfter(n);
        const HRESULT hr =
            ReadSequenceParameterSet(&info, kHigh640x360.data(), kHigh640x360.size());
        FailNothrowAllocationAfter(-1);
        results.push_back(hr);
        if (hr == S_OK) {
            EXPECT_EQ(info.Height, 360u);
            break;
        }
        EXPECT_TRUE(Unchanged(info)) << n;
    }
    // The NAL unit, its payload, the decoder context; the partition, its buffer, the SPS.
    const std::vector<HRESULT> expected = {
        E_OUTOFMEMORY,  E_OUTOFMEMORY,  E_OUTOFMEMORY, SPS_S_NOT_READ,
        SPS_S_NOT_READ, SPS_S_NOT_READ, S_OK};
    EXPECT_EQ(results, expected);
}

TEST(SpsBitReaderTest, ExpGolomb_RoundTripAndSaturation) {
    const uint32_t unsignedValues[] = {0, 1, 2, 3, 254, 255, 65535, 0x80000000u, 0xFFFFFFFEu};
    const int32_t signedValues[] = {0, 1, -1, 2, -2, 1000, -1000, INT32_MAX, -INT32_MAX};
    BitWriter w;
    for (uint32_t v : unsignedValues)
        w.Ue(v);
    for (int32_t v : signedValues)
        w.Se(v);
    w.Ue(0xFFFFFFFFull);  // 32 leading zeros: does not fit
    w.Ue(0x1FFFFFFFEull); // the largest 32-zero code
    w.Se(0x80000000ll);   // code 2^32 - 1
    w.Bits(0, 40);        // 40 leading zeros, then 1 and 40 suffix bits
    w.Bits(1, 1);
    w.Bits(0x5555555555ull, 40);
    w.Bits(0xABC, 12);
    const std::vector<BYTE> bytes = w.Finish();

    CBitReader bits(bytes.data(), bytes.size());
    for (uint32_t v : unsignedValues)
        EXPECT_EQ(bits.ReadUe(), v);
    for (int32_t v : signedValues)
        EXPECT_EQ(bits.ReadSe(), v);
    EXPECT_EQ(bits.ReadUe(), UINT32_MAX);
    EXPECT_EQ(bits.ReadUe(), UINT32_MAX);
    EXPECT_EQ(bits.ReadSe(), INT32_MAX);
    EXPECT_EQ(bits.ReadUe(), UINT32_MAX);
    EXPECT_EQ(bits.ReadBits(12), 0xABCu); // the long code's suffix was skipped
    EXPECT_FALSE(bits.PastEnd());
}

} // namespace
