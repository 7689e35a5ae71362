// The H.264 sequence parameter set reader: encoder output, hand-built parameter sets for
// the paths encoders rarely take, byte-stream framing, and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "manifest/h264/bit_reader.h"
#include "manifest/h264/sps_reader.h"
#include "tests/support/failing_allocation.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(BYTE(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Codec private data (SPS and PPS, four-byte start codes) written by libx264 for testsrc2:
// baseline 320x240 at 25 fps (time_scale 50, written 00 00 03 00 and 00 00 03 03);
// main 322x182 at 30000/1001, crop right 7, bottom 5; high 640x360 at 50 fps, crop bottom
// 4; high 4:2:2 322x182 at 24 fps, crop right 7 (units of 2), bottom 10 (units of 1).
const Bytes kBaseline320x240 =
    Hex("000000016742c00dd90141fb011000000300100000030320f142a4800000000168cb83cb20");
const Bytes kMain322x182 =
    Hex("00000001674d400deca0a8cf1136022000007d20001d4c01e28532c00000000168ebe3cb20");
const Bytes kHigh640x360 =
    Hex("000000016764001facd940a02ff97011000003000100000300640f1831960000000168ebe3cb22c0");
const Bytes kHigh422_322x182 =
    Hex("00000001677a000dbcd941519e222f011000000300100000030300f14299600000000168ebe3cb22c0");

// MSB-first bit string with the Exp-Golomb codes.
class BitWriter {
public:
    void Bits(uint64_t value, unsigned n) {
        for (unsigned i = n; i-- > 0; ++m_bitCount) {
            if (m_bitCount % 8 == 0)
                m_bytes.push_back(0);
            m_bytes.back() |= BYTE(((value >> i) & 1) << (7 - m_bitCount % 8));
        }
    }
    void Flag(bool value) { Bits(value, 1); }
    void Ue(uint64_t value) {
        unsigned prefix = 0;
        for (uint64_t c = value + 1; c > 1; c >>= 1)
            ++prefix;
        Bits(0, prefix);
        Bits(value + 1, prefix + 1);
    }
    void Se(int64_t value) { Ue(value > 0 ? 2 * uint64_t(value) - 1 : 2 * uint64_t(-value)); }
    Bytes Finish() { // rbsp_trailing_bits()
        Bits(1, 1);
        Bits(0, (8 - m_bitCount % 8) % 8);
        return m_bytes;
    }

private:
    Bytes m_bytes;
    size_t m_bitCount = 0;
};

// The syntax elements a hand-built SPS carries; defaults give a 1920x1088 high profile
// picture without VUI.
struct SpsFields {
    uint32_t profile_idc = 100, level_idc = 40, chroma_format_idc = 1;
    bool scaling_matrix = false;
    // Per list, the delta_scale values written; an empty list is absent.
    std::vector<std::vector<int64_t>> scaling_deltas = std::vector<std::vector<int64_t>>(8);
    uint32_t pic_order_cnt_type = 0;
    std::vector<int64_t> offset_for_ref_frame;
    uint32_t pic_width_in_mbs_minus1 = 119, pic_height_in_map_units_minus1 = 67;
    bool frame_mbs_only_flag = true, frame_cropping_flag = false;
    uint32_t crop[4] = {0, 0, 0, 0}; // left, right, top, bottom
    bool vui = false;
    int aspect_ratio_idc = -1; // -1: no aspect ratio information
    uint32_t sar_width = 0, sar_height = 0;
    bool video_signal = false, chroma_loc = false, timing = false;
    uint32_t num_units_in_tick = 0, time_scale = 0;
    int cut = 0; // 1: after the picture size; 2: after the high half of time_scale
};

// The RBSP of fields, with set bits between the elements the reader skips so that a
// misplaced read shows in the result.
Bytes BuildSps(const SpsFields& f) {
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
        for (size_t i = 0; f.scaling_matrix && i < f.scaling_deltas.size(); ++i) {
            w.Flag(!f.scaling_deltas[i].empty());
            for (int64_t delta : f.scaling_deltas[i])
                w.Se(delta);
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
    if (f.cut == 1)
        return w.Finish();
    w.Flag(f.frame_mbs_only_flag);
    if (!f.frame_mbs_only_flag)
        w.Flag(true); // mb_adaptive_frame_field_flag
    w.Flag(true);     // direct_8x8_inference_flag
    w.Flag(f.frame_cropping_flag);
    for (size_t i = 0; f.frame_cropping_flag && i < 4; ++i)
        w.Ue(f.crop[i]);
    w.Flag(f.vui);
    if (!f.vui)
        return w.Finish();
    w.Flag(f.aspect_ratio_idc >= 0);
    if (f.aspect_ratio_idc >= 0)
        w.Bits(uint32_t(f.aspect_ratio_idc), 8);
    if (f.aspect_ratio_idc == 255) {
        w.Bits(f.sar_width, 16);
        w.Bits(f.sar_height, 16);
    }
    w.Bits(0b11, 2); // overscan_info_present_flag, overscan_appropriate_flag
    w.Flag(f.video_signal);
    if (f.video_signal)
        w.Bits(0x17FFFFFF, 29); // video_format 5, full range, colour description 0xFFFFFF
    w.Flag(f.chroma_loc);
    if (f.chroma_loc) {
        w.Ue(5);
        w.Ue(2);
    }
    w.Flag(f.timing);
    if (f.timing) {
        w.Bits(f.num_units_in_tick, 32);
        if (f.cut == 2) {
            w.Bits(f.time_scale >> 16, 16);
            return w.Finish();
        }
        w.Bits(f.time_scale, 32);
        w.Flag(true); // fixed_frame_rate_flag
    }
    w.Bits(0x3FF, 10); // HRD flags and beyond: not read
    return w.Finish();
}

// Byte-stream framing: four-byte start code, header, RBSP with emulation prevention, then a
// PPS so that the SPS is terminated.
Bytes Frame(const Bytes& rbsp, BYTE header = 0x67) {
    Bytes bytes = {0x00, 0x00, 0x00, 0x01, header};
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

// The result in one line: "WxH@rate [no ]sarW:sarH profile/level" when read; otherwise
// the status, marked when the record was written all the same.
std::string Describe(HRESULT hr, const SpsInfo& info) {
    const SpsInfo sentinel = Sentinel();
    const bool unchanged = std::memcmp(&info, &sentinel, sizeof info) == 0;
    if (hr != S_OK) {
        const std::string status = hr == SPS_S_NOT_READ       ? "not read"
                                   : hr == SPS_S_UNTERMINATED ? "unterminated"
                                   : hr == E_OUTOFMEMORY      ? "out of memory"
                                                              : "other";
        return unchanged ? status : status + " (written)";
    }
    char text[128];
    std::snprintf(text, sizeof text, "%ux%u@%.10g %s%u:%u %u/%u%s", info.Width, info.Height,
                  info.FrameRate, info.HasAspectRatio ? "" : "no ", info.SarWidth, info.SarHeight,
                  info.ProfileIdc, info.LevelIdc, info.Valid ? "" : " invalid");
    return text;
}

// Reads from an exactly sized heap copy, so that a read past the end is caught by ASan.
std::string Read(const Bytes& bytes) {
    std::unique_ptr<BYTE[]> copy(new BYTE[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    SpsInfo info = Sentinel();
    return Describe(ReadSequenceParameterSet(&info, copy.get(), bytes.size()), info);
}
std::string Read(const SpsFields& fields) {
    return Read(Frame(BuildSps(fields)));
}

TEST(SpsReaderTest, EncoderStreams_PictureRateAspectProfile) {
    EXPECT_EQ(Read(kBaseline320x240), "320x240@25 1:1 66/13");
    EXPECT_EQ(Read(kMain322x182), "322x182@29.97002983 1:1 77/13");
    EXPECT_EQ(Read(kHigh640x360), "640x360@50 1:1 100/31");
    EXPECT_EQ(Read(kHigh422_322x182), "322x182@24 1:1 122/13");
}

TEST(SpsReaderTest, Profiles_OnlyListedAccepted) {
    const std::vector<uint32_t> accepted = {66, 77, 88, 100, 110, 122, 144};
    for (uint32_t profile = 0; profile < 256; ++profile) {
        SpsFields fields;
        fields.profile_idc = profile;
        fields.chroma_format_idc = 0; // crop units of 1 when the high fields are read
        fields.frame_cropping_flag = true;
        fields.crop[1] = 5;
        // Below 100 no chroma_format_idc is read and 4:2:0 crop units apply.
        const std::string expected =
            std::find(accepted.begin(), accepted.end(), profile) == accepted.end()
                ? "not read"
                : (profile >= 100 ? "1915" : "1910") + std::string("x1088@30 no 0:0 ") +
                      std::to_string(profile) + "/40";
        EXPECT_EQ(Read(fields), expected) << profile;
    }
}

TEST(SpsReaderTest, Cropping_UnitsFollowChromaFormatAndFields) {
    // Offsets left 1, right 2, top 3, bottom 4 on 1920x1088 (frames) or 1920x2176 (fields),
    // by chroma_format_idc.
    const char* const expected[2][4] = {{"1917x1081", "1914x1074", "1914x1081", "1917x1081"},
                                        {"1917x2162", "1914x2148", "1914x2162", "1917x2162"}};
    SpsFields fields;
    fields.frame_cropping_flag = true;
    fields.crop[0] = 1, fields.crop[1] = 2, fields.crop[2] = 3, fields.crop[3] = 4;
    for (int frames = 0; frames < 2; ++frames) {
        for (uint32_t chroma = 0; chroma < 4; ++chroma) {
            fields.chroma_format_idc = chroma;
            fields.frame_mbs_only_flag = frames == 0;
            EXPECT_EQ(Read(fields), expected[frames][chroma] + std::string("@30 no 0:0 100/40"));
        }
    }
    // Offsets larger than the picture wrap in 32 bits.
    fields = SpsFields();
    fields.frame_cropping_flag = true;
    fields.crop[3] = 545;
    EXPECT_EQ(Read(fields), "1920x" + std::to_string(uint32_t(1088 - 1090)) + "@30 no 0:0 100/40");
}

TEST(SpsReaderTest, ScalingLists_ConsumedUpToTheirEnd) {
    SpsFields fields;
    fields.scaling_matrix = true;
    fields.frame_cropping_flag = true;
    fields.crop[3] = 4;
    fields.vui = fields.timing = true;
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
    // chroma_format_idc 1 still reads all eight lists; the rate is 48000 / 1001 / 2 in
    // single precision.
    EXPECT_EQ(Read(fields), "1920x1080@23.97602463 no 0:0 100/40");
}

TEST(SpsReaderTest, PicOrderCntTypes_CycleEntriesConsumed) {
    const struct {
        uint32_t type;
        std::vector<int64_t> offsets; // offset_for_ref_frame, type 1 only
        const char* expected;
    } cases[] = {
        {1, {1, -2, 300, -70000}, "1280x720@30 no 0:0 100/40"},
        {1, std::vector<int64_t>(255, -1), "1280x720@30 no 0:0 100/40"},
        // One entry more than the table holds fails the interpretation.
        {1, std::vector<int64_t>(256, -1), "not read"},
        // Types 2 and above carry nothing more.
        {2, {}, "1280x720@30 no 0:0 100/40"},
        {9, {}, "1280x720@30 no 0:0 100/40"},
    };
    for (const auto& c : cases) {
        SpsFields fields;
        fields.pic_order_cnt_type = c.type;
        fields.pic_width_in_mbs_minus1 = 79;
        fields.pic_height_in_map_units_minus1 = 44;
        fields.offset_for_ref_frame = c.offsets;
        EXPECT_EQ(Read(fields), c.expected) << c.type << ", " << c.offsets.size() << " entries";
    }
}

TEST(SpsReaderTest, Vui_HalfTheTickRateWithinLimitsAndTheAspectRatioTable) {
    SpsFields fields;
    fields.vui = fields.video_signal = fields.chroma_loc = fields.timing = true;
    // Single precision: 2^32 - 1 rounds to 2^32, so that 2^31 ticks give exactly 1.
    const struct {
        uint32_t units, scale;
        const char* rate;
    } rates[] = {{1, 50, "25"},         {1001, 60000, "29.97002983"},
                 {1, 1000, "30"},       {1, 200, "100"},
                 {1, 201, "30"},        {5, 1, "0.1000000015"},
                 {6, 1, "30"},          {0, 0, "30"},
                 {0, 50, "30"},         {50, 0, "30"},
                 {1, 0xFFFFFFFF, "30"}, {0x80000000, 0xFFFFFFFF, "1"}};
    for (const auto& c : rates) {
        fields.num_units_in_tick = c.units;
        fields.time_scale = c.scale;
        EXPECT_EQ(Read(fields), "1920x1088@" + std::string(c.rate) + " no 0:0 100/40")
            << c.scale << "/" << c.units;
    }
    // The fields after the ratio line up: 24 fps.
    fields.num_units_in_tick = 1;
    fields.time_scale = 48;
    fields.sar_width = 1234;
    fields.sar_height = 0xFFFF;
    const std::pair<int, const char*> ratios[] = {
        {0, "no 0:0"}, {1, "1:1"},     {4, "16:11"},    {13, "160:99"},
        {16, "2:1"},   {17, "no 0:0"}, {254, "no 0:0"}, {255, "1234:65535"}};
    for (const auto& [idc, ratio] : ratios) {
        fields.aspect_ratio_idc = idc;
        EXPECT_EQ(Read(fields), "1920x1088@24 " + std::string(ratio) + " 100/40") << idc;
    }
}

TEST(SpsReaderTest, ByteStream_FindsFirstSpsAndItsEnd) {
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const Bytes pps = Hex("00000168ce3880"), sc3 = {0, 0, 1}, sc4 = {0, 0, 0, 1};
    // The 640x360 SPS after a header byte of choice.
    auto nal = [&](BYTE header) {
        return cat({{header}, Bytes(kHigh640x360.begin() + 5, kHigh640x360.begin() + 30)});
    };
    const char* const read640 = "640x360@50 1:1 100/31";
    const std::pair<Bytes, const char*> cases[] = {
        // Three-byte start codes, after an access unit delimiter and an SEI; nal_ref_idc 1.
        {cat({sc3, {0x09, 0xF0}, sc4, Hex("06050180"), sc3, nal(0x27), pps}), read640},
        // A forbidden bit set or another type is not an SPS; the SPS after them is read.
        {cat({sc4, nal(0xE7), sc4, nal(0x68), sc4, nal(0x08), sc4, {0, 0, 3}, sc4, kMain322x182}),
         "322x182@29.97002983 1:1 77/13"},
        // Zeros before the next 00 00 01 end the SPS with it.
        {cat({sc4, nal(0x67), {0x00, 0x00}, pps}), read640},
        // A start code is looked for only with a byte after it.
        {cat({sc4, nal(0x67), sc3, {0x68}}), read640},
        {cat({sc4, nal(0x67), sc3}), "unterminated"},
        {cat({sc4, nal(0x67)}), "unterminated"},
        {Hex("00000167"), "unterminated"},
        {cat({sc4, {0x68, 0xce}, pps}), "not read"},
        {nal(0x67), "not read"}, // no start code at all
        {sc3, "not read"},
        {{}, "not read"},
        // An SPS of its header byte alone, or of zeros, reads as profile 0: not read.
        {Hex("0000016700000168"), "not read"},
        {Hex("00000167000000000168"), "not read"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Read(cases[i].first), cases[i].second) << i;
}

TEST(SpsReaderTest, EmulationPrevention_OnlyThirdBytesAfterTwoZeros) {
    // 00 00 03 03: the first 03 goes, the second stays (the baseline stream's time_scale
    // of 50 is 00 00 00 32 in its RBSP and 00 00 03 00 ... 00 00 03 03 20 on the wire);
    // 00 00 04 is not an escape.
    Bytes unescaped = kBaseline320x240;
    unescaped[16] = 0x04;
    EXPECT_NE(Read(unescaped), Read(kBaseline320x240));
    // The zero count starts again after an escape: with these fields the tick (3) lands on
    // a byte boundary, 00 00 00 03 in the RBSP and 00 00 03 00 03 on the wire.
    SpsFields fields;
    fields.vui = fields.timing = fields.video_signal = fields.frame_cropping_flag = true;
    fields.num_units_in_tick = 3;
    fields.time_scale = 150;
    const Bytes framed = Frame(BuildSps(fields)), tick = {0, 0, 3, 0, 3};
    ASSERT_NE(std::search(framed.begin(), framed.end(), tick.begin(), tick.end()), framed.end());
    EXPECT_EQ(Read(framed), "1920x1088@25 no 0:0 100/40");
}

TEST(SpsReaderTest, PayloadSize_ZeroBitsPastTheEndAndNoneBeyondTheBuffer) {
    // Cut after the picture size, the stop bit becomes frame_mbs_only_flag and every later
    // element reads 0; cut after the high half of time_scale, the stop bit and zeros fill
    // its low half: 0x328000 / 0x10000 / 2.
    SpsFields fields;
    fields.profile_idc = 77;
    fields.level_idc = 30;
    fields.pic_width_in_mbs_minus1 = 43;
    fields.pic_height_in_map_units_minus1 = 35;
    fields.cut = 1;
    EXPECT_EQ(Read(fields), "704x576@30 no 0:0 77/30");
    fields.vui = fields.timing = true;
    fields.num_units_in_tick = 0x10000;
    fields.time_scale = 0x00320000;
    fields.cut = 2;
    EXPECT_EQ(Read(fields), "704x576@25.25 no 0:0 77/30");
    // A payload the partition buffer does not hold is not read.
    Bytes rbsp = BuildSps(SpsFields());
    rbsp.resize(524288, 0xFF);
    EXPECT_EQ(Read(Frame(rbsp)), "1920x1088@30 no 0:0 100/40");
    rbsp.push_back(0xFF);
    EXPECT_EQ(Read(Frame(rbsp)), "not read");
}

TEST(SpsReaderTest, AllocationFails_OutOfMemoryThenNotRead) {
    // Failing the n-th allocation for growing n: the NAL unit, its payload and the decoder
    // context give E_OUTOFMEMORY; the partition, its buffer and the SPS "not read". Nothing
    // leaks (LeakSanitizer).
    const char* const expected[] = {
        "out of memory", "out of memory", "out of memory",        "not read",
        "not read",      "not read",      "640x360@50 1:1 100/31"};
    for (int n = 0; n < int(std::size(expected)); ++n) {
        FailNothrowAllocationAfter(n);
        const std::string result = Read(kHigh640x360);
        FailNothrowAllocationAfter(-1);
        EXPECT_EQ(result, expected[n]) << n;
    }
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
    const Bytes bytes = w.Finish();

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
