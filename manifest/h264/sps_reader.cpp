#include "manifest/h264/sps_reader.h"

#include <cstring>
#include <memory>
#include <new>

#include "manifest/h264/bit_reader.h"
#include "framework/trace/trace.h"

namespace {

constexpr size_t kPartitionBufferBytes = 524288;
constexpr uint32_t kMaxRefFramesInPicOrderCntCycle = 255;
constexpr int32_t kNalUnitTypeSps = 7;
constexpr uint32_t kAspectRatioExtendedSar = 255;
constexpr double kDefaultFrameRate = 30.0;

// One NAL unit copied out of the byte stream.
struct NalUnit {
    int32_t StartCodeLength = 3;
    uint32_t Length = 0;   // bytes of Payload in use, header byte included
    uint32_t Capacity = 0; // bytes allocated for Payload
    int32_t nal_unit_type = 0;
    int32_t nal_ref_idc = 0;
    int32_t forbidden_zero_bit = 0;
    std::unique_ptr<BYTE[]> Payload; // header byte first
};

// The SODB of one NAL unit, read through a CBitReader.
struct DataPartition {
    std::unique_ptr<BYTE[]> StreamBuffer; // kPartitionBufferBytes
    size_t ByteLength = 0;
};

// Every syntax element of seq_parameter_set_data() up to the VUI timing information.
struct SeqParameterSet {
    uint32_t profile_idc;
    BOOL constraint_set0_flag, constraint_set1_flag, constraint_set2_flag, constraint_set3_flag;
    uint32_t reserved_zero_4bits;
    uint32_t level_idc;
    uint32_t seq_parameter_set_id;
    uint32_t chroma_format_idc;
    BOOL separate_colour_plane_flag;
    uint32_t bit_depth_luma_minus8;
    uint32_t bit_depth_chroma_minus8;
    BOOL qpprime_y_zero_transform_bypass_flag;
    BOOL seq_scaling_matrix_present_flag;
    BOOL seq_scaling_list_present_flag[8];
    int32_t ScalingList4x4[6][16];
    int32_t ScalingList8x8[2][64];
    uint32_t log2_max_frame_num_minus4;
    uint32_t pic_order_cnt_type;
    uint32_t log2_max_pic_order_cnt_lsb_minus4;
    BOOL delta_pic_order_always_zero_flag;
    int32_t offset_for_non_ref_pic;
    int32_t offset_for_top_to_bottom_field;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle;
    int32_t offset_for_ref_frame[kMaxRefFramesInPicOrderCntCycle];
    uint32_t max_num_ref_frames;
    BOOL gaps_in_frame_num_value_allowed_flag;
    uint32_t pic_width_in_mbs_minus1;
    uint32_t pic_height_in_map_units_minus1;
    BOOL frame_mbs_only_flag;
    BOOL mb_adaptive_frame_field_flag;
    BOOL direct_8x8_inference_flag;
    BOOL frame_cropping_flag;
    uint32_t frame_crop_left_offset, frame_crop_right_offset;
    uint32_t frame_crop_top_offset, frame_crop_bottom_offset;
    BOOL vui_parameters_present_flag;
    BOOL aspect_ratio_info_present_flag;
    uint32_t aspect_ratio_idc;
    uint32_t sar_width, sar_height;
    BOOL overscan_info_present_flag;
    BOOL overscan_appropriate_flag;
    BOOL video_signal_type_present_flag;
    uint32_t video_format;
    BOOL video_full_range_flag;
    BOOL colour_description_present_flag;
    uint32_t colour_primaries, transfer_characteristics, matrix_coefficients;
    BOOL chroma_loc_info_present_flag;
    uint32_t chroma_sample_loc_type_top_field, chroma_sample_loc_type_bottom_field;
    BOOL timing_info_present_flag;
    uint32_t num_units_in_tick;
    uint32_t time_scale;
    BOOL fixed_frame_rate_flag;
};

// The decoding library's context. An SPS interpretation keeps its partition and SPS
// structure here and frees both before it returns.
struct K264Decoder {
    std::unique_ptr<DataPartition> Partition;
    std::unique_ptr<SeqParameterSet> Sps;
};

// Sample aspect ratios of aspect_ratio_idc 1 to 16 (Table E-1).
constexpr uint32_t kSampleAspectRatios[16][2] = {
    {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},  {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};

K264Decoder* K264_CreateDecoderObject() {
    KTrace("\nH264StaticLib.K264_CreateDecoderObject() ");
    return new (std::nothrow) K264Decoder();
}

void K264_FreeDecoderObject(K264Decoder* decoder) {
    KTrace("\nH264StaticLib.K264_FreeDecoderObject() ");
    delete decoder;
}

std::unique_ptr<DataPartition> AllocPartition() {
    std::unique_ptr<DataPartition> partition(new (std::nothrow) DataPartition);
    if (partition == nullptr) {
        KTraceLibraryError("AllocPartition: Memory allocation for Data Partition failed");
        return nullptr;
    }
    partition->StreamBuffer.reset(new (std::nothrow) BYTE[kPartitionBufferBytes]);
    if (partition->StreamBuffer == nullptr) {
        KTraceLibraryError("AllocPartition: Memory allocation for streamBuffer failed");
        return nullptr;
    }
    return partition;
}

std::unique_ptr<SeqParameterSet> AllocSPS() {
    std::unique_ptr<SeqParameterSet> sps(new (std::nothrow) SeqParameterSet());
    if (sps == nullptr)
        KTraceLibraryError("Could not allocate memory: %s", "AllocSPS: SPS");
    return sps;
}

// Copies the RBSP (payload without its header byte) into the partition and cuts it back
// to the byte holding rbsp_stop_one_bit. False when it does not fit the buffer.
bool RBSPtoSODB(const NalUnit& nal, DataPartition* partition) {
    const size_t rbspBytes = nal.Length - 1;
    if (rbspBytes > kPartitionBufferBytes)
        return false;
    if (rbspBytes > 0)
        std::memcpy(partition->StreamBuffer.get(), nal.Payload.get() + 1, rbspBytes);
    size_t length = rbspBytes;
    while (length > 0 && partition->StreamBuffer[length - 1] == 0)
        --length;
    partition->ByteLength = length;
    return true;
}

// scaling_list(): consumed only for its position in the bit string.
void ReadScalingList(CBitReader& bits, int32_t* list, int size) {
    int32_t lastScale = 8, nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            const int64_t sum = int64_t(lastScale) + bits.ReadSe();
            nextScale = int32_t(((sum % 256) + 256) % 256);
        }
        list[j] = nextScale == 0 ? lastScale : nextScale;
        lastScale = list[j];
    }
}

// seq_parameter_set_data() up to the VUI timing information. False when the picture
// order count cycle does not fit offset_for_ref_frame.
bool ParseSps(CBitReader& bits, SeqParameterSet* sps) {
    sps->profile_idc = bits.ReadBits(8);
    sps->constraint_set0_flag = bits.ReadFlag();
    sps->constraint_set1_flag = bits.ReadFlag();
    sps->constraint_set2_flag = bits.ReadFlag();
    sps->constraint_set3_flag = bits.ReadFlag();
    sps->reserved_zero_4bits = bits.ReadBits(4);
    sps->level_idc = bits.ReadBits(8);
    sps->seq_parameter_set_id = bits.ReadUe();

    sps->chroma_format_idc = 1;
    if (sps->profile_idc >= 100) {
        sps->chroma_format_idc = bits.ReadUe();
        if (sps->chroma_format_idc == 3)
            sps->separate_colour_plane_flag = bits.ReadFlag();
        sps->bit_depth_luma_minus8 = bits.ReadUe();
        sps->bit_depth_chroma_minus8 = bits.ReadUe();
        sps->qpprime_y_zero_transform_bypass_flag = bits.ReadFlag();
        sps->seq_scaling_matrix_present_flag = bits.ReadFlag();
        if (sps->seq_scaling_matrix_present_flag) {
            for (int i = 0; i < 8; ++i) {
                sps->seq_scaling_list_present_flag[i] = bits.ReadFlag();
                if (!sps->seq_scaling_list_present_flag[i])
                    continue;
                if (i < 6)
                    ReadScalingList(bits, sps->ScalingList4x4[i], 16);
                else
                    ReadScalingList(bits, sps->ScalingList8x8[i - 6], 64);
            }
        }
    }

    sps->log2_max_frame_num_minus4 = bits.ReadUe();
    sps->pic_order_cnt_type = bits.ReadUe();
    if (sps->pic_order_cnt_type == 0) {
        sps->log2_max_pic_order_cnt_lsb_minus4 = bits.ReadUe();
    } else if (sps->pic_order_cnt_type == 1) {
        sps->delta_pic_order_always_zero_flag = bits.ReadFlag();
        sps->offset_for_non_ref_pic = bits.ReadSe();
        sps->offset_for_top_to_bottom_field = bits.ReadSe();
        sps->num_ref_frames_in_pic_order_cnt_cycle = bits.ReadUe();
        if (sps->num_ref_frames_in_pic_order_cnt_cycle > kMaxRefFramesInPicOrderCntCycle)
            return false;
        for (uint32_t i = 0; i < sps->num_ref_frames_in_pic_order_cnt_cycle; ++i)
            sps->offset_for_ref_frame[i] = bits.ReadSe();
    }

    sps->max_num_ref_frames = bits.ReadUe();
    sps->gaps_in_frame_num_value_allowed_flag = bits.ReadFlag();
    sps->pic_width_in_mbs_minus1 = bits.ReadUe();
    sps->pic_height_in_map_units_minus1 = bits.ReadUe();
    sps->frame_mbs_only_flag = bits.ReadFlag();
    if (!sps->frame_mbs_only_flag)
        sps->mb_adaptive_frame_field_flag = bits.ReadFlag();
    sps->direct_8x8_inference_flag = bits.ReadFlag();
    sps->frame_cropping_flag = bits.ReadFlag();
    if (sps->frame_cropping_flag) {
        sps->frame_crop_left_offset = bits.ReadUe();
        sps->frame_crop_right_offset = bits.ReadUe();
        sps->frame_crop_top_offset = bits.ReadUe();
        sps->frame_crop_bottom_offset = bits.ReadUe();
    }

    sps->vui_parameters_present_flag = bits.ReadFlag();
    if (!sps->vui_parameters_present_flag)
        return true;
    sps->aspect_ratio_info_present_flag = bits.ReadFlag();
    if (sps->aspect_ratio_info_present_flag) {
        sps->aspect_ratio_idc = bits.ReadBits(8);
        if (sps->aspect_ratio_idc == kAspectRatioExtendedSar) {
            sps->sar_width = bits.ReadBits(16);
            sps->sar_height = bits.ReadBits(16);
        }
    }
    sps->overscan_info_present_flag = bits.ReadFlag();
    if (sps->overscan_info_present_flag)
        sps->overscan_appropriate_flag = bits.ReadFlag();
    sps->video_signal_type_present_flag = bits.ReadFlag();
    if (sps->video_signal_type_present_flag) {
        sps->video_format = bits.ReadBits(3);
        sps->video_full_range_flag = bits.ReadFlag();
        sps->colour_description_present_flag = bits.ReadFlag();
        if (sps->colour_description_present_flag) {
            sps->colour_primaries = bits.ReadBits(8);
            sps->transfer_characteristics = bits.ReadBits(8);
            sps->matrix_coefficients = bits.ReadBits(8);
        }
    }
    sps->chroma_loc_info_present_flag = bits.ReadFlag();
    if (sps->chroma_loc_info_present_flag) {
        sps->chroma_sample_loc_type_top_field = bits.ReadUe();
        sps->chroma_sample_loc_type_bottom_field = bits.ReadUe();
    }
    sps->timing_info_present_flag = bits.ReadFlag();
    if (sps->timing_info_present_flag) {
        sps->num_units_in_tick = bits.ReadBits(32);
        sps->time_scale = bits.ReadBits(32);
        sps->fixed_frame_rate_flag = bits.ReadFlag();
    }
    return true;
}

bool IsSupportedProfile(uint32_t profile_idc) {
    switch (profile_idc) {
    case 66:
    case 77:
    case 88:
    case 100:
    case 110:
    case 122:
    case 144:
        return true;
    default:
        return false;
    }
}

// Half the field rate time_scale / num_units_in_tick, computed in single precision;
// 30.0 when it is not a number or outside 0.1 to 100.0.
double FrameRateOf(const SeqParameterSet& sps) {
    if (sps.num_units_in_tick == 0)
        return kDefaultFrameRate;
    const float fieldRate = float(sps.time_scale) / float(sps.num_units_in_tick);
    const double frameRate = double(fieldRate) / 2;
    return frameRate < 0.1 || frameRate > 100.0 ? kDefaultFrameRate : frameRate;
}

// 32-bit unsigned arithmetic throughout: absurd sizes wrap rather than fail.
void FillRecord(const SeqParameterSet& sps, SpsInfo* record) {
    *record = SpsInfo{};
    record->Valid = TRUE;
    record->ProfileIdc = sps.profile_idc;
    record->LevelIdc = sps.level_idc;

    const uint32_t chroma = sps.chroma_format_idc;
    const uint32_t fieldFactor = sps.frame_mbs_only_flag ? 1u : 2u;
    const uint32_t cropUnitX = chroma == 0 || chroma == 3 ? 1u : 2u;
    const uint32_t cropUnitY = fieldFactor * (chroma == 1 ? 2u : 1u);
    record->Width = (sps.pic_width_in_mbs_minus1 + 1) * 16 -
                    (sps.frame_crop_left_offset + sps.frame_crop_right_offset) * cropUnitX;
    record->Height = (sps.pic_height_in_map_units_minus1 + 1) * fieldFactor * 16 -
                     (sps.frame_crop_top_offset + sps.frame_crop_bottom_offset) * cropUnitY;

    record->FrameRate = kDefaultFrameRate;
    if (!sps.vui_parameters_present_flag)
        return;
    if (sps.aspect_ratio_info_present_flag) {
        if (sps.aspect_ratio_idc == kAspectRatioExtendedSar) {
            record->HasAspectRatio = TRUE;
            record->SarWidth = sps.sar_width;
            record->SarHeight = sps.sar_height;
        } else if (sps.aspect_ratio_idc >= 1 && sps.aspect_ratio_idc <= 16) {
            record->HasAspectRatio = TRUE;
            record->SarWidth = kSampleAspectRatios[sps.aspect_ratio_idc - 1][0];
            record->SarHeight = kSampleAspectRatios[sps.aspect_ratio_idc - 1][1];
        }
    }
    if (sps.timing_info_present_flag)
        record->FrameRate = FrameRateOf(sps);
}

// Interprets the SPS in nal; fills *record only on success. False for an allocation
// failure, a payload larger than the partition, an oversized picture order count cycle
// or an unsupported profile.
bool InterpretSps(K264Decoder* decoder, const NalUnit& nal, SpsInfo* record) {
    decoder->Partition = AllocPartition();
    if (decoder->Partition == nullptr)
        return false;
    decoder->Sps = AllocSPS();
    bool read = decoder->Sps != nullptr && RBSPtoSODB(nal, decoder->Partition.get());
    if (read) {
        CBitReader bits(decoder->Partition->StreamBuffer.get(), decoder->Partition->ByteLength);
        read = ParseSps(bits, decoder->Sps.get()) && IsSupportedProfile(decoder->Sps->profile_idc);
    }
    if (read)
        FillRecord(*decoder->Sps, record);
    decoder->Sps.reset();
    decoder->Partition.reset();
    return read;
}

// Position of the byte after the first 00 00 01 at or after from; searched only while at
// least four bytes remain, so a start code always has a byte after it.
bool FindStartCode(const BYTE* bytes, size_t length, size_t from, size_t* next) {
    if (length < 4)
        return false;
    for (size_t i = from; i <= length - 4; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            *next = i + 3;
            return true;
        }
    }
    return false;
}

// Drops each 03 that follows two zero bytes; the header byte is left alone.
void RemoveEmulationPrevention(NalUnit* nal) {
    uint32_t kept = 1;
    int zeros = 0;
    for (uint32_t i = 1; i < nal->Length; ++i) {
        const BYTE b = nal->Payload[i];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        nal->Payload[kept++] = b;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    nal->Length = kept;
}

} // namespace

HRESULT ReadSequenceParameterSet(SpsInfo* record, const BYTE* bytes, size_t length) {
    size_t spsStart = 0;
    for (size_t from = 0;; from = spsStart) {
        if (!FindStartCode(bytes, length, from, &spsStart))
            return SPS_S_NOT_READ;
        if ((bytes[spsStart] & 0x9F) == kNalUnitTypeSps)
            break;
    }
    size_t nextStart = 0;
    if (!FindStartCode(bytes, length, spsStart + 1, &nextStart))
        return SPS_S_UNTERMINATED;
    // The next start code counts as four bytes when a zero precedes its 00 00 01.
    size_t spsEnd = nextStart - 3;
    if (bytes[spsEnd - 1] == 0)
        --spsEnd;
    if (spsEnd - spsStart > UINT32_MAX)
        return E_OUTOFMEMORY;

    std::unique_ptr<NalUnit> nal(new (std::nothrow) NalUnit);
    if (nal == nullptr)
        return E_OUTOFMEMORY;
    nal->Capacity = nal->Length = uint32_t(spsEnd - spsStart);
    nal->Payload.reset(new (std::nothrow) BYTE[nal->Capacity]);
    if (nal->Payload == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(nal->Payload.get(), bytes + spsStart, nal->Length);
    const BYTE header = nal->Payload[0];
    nal->nal_unit_type = header & 0x1F;
    nal->nal_ref_idc = (header >> 5) & 3;
    nal->forbidden_zero_bit = header > 127 ? 1 : 0;

    K264Decoder* decoder = K264_CreateDecoderObject();
    if (decoder == nullptr)
        return E_OUTOFMEMORY;
    RemoveEmulationPrevention(nal.get());
    const bool read = InterpretSps(decoder, *nal, record);
    K264_FreeDecoderObject(decoder);
    return read ? S_OK : SPS_S_NOT_READ;
}
