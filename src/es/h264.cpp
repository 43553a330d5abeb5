#include "es/h264.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "es/bit_reader.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/ring_buffer.h"

namespace md {
namespace {

// No parameter set comes near this size (255 POC offsets and eight full
// scaling lists take a few KiB); longer input is read only this far.
constexpr uint32_t kMaxParameterSetBytes = 64 * 1024;

// Far above the picture size of any level; keeps the pixel arithmetic in range.
constexpr uint32_t kMaxMbsPerDimension = 4096;

constexpr int64_t kDefaultFrameDuration = 333666;

// Tables 7-3 and 7-4: Default_4x4_Intra/Inter and Default_8x8_Intra/Inter in
// zig-zag scan order.
constexpr std::array<uint32_t, 16> kDefault4x4Intra = {6, 13, 13, 20, 20, 20, 28, 28, 28, 28, 32, 32, 32, 37, 37, 42};
constexpr std::array<uint32_t, 16> kDefault4x4Inter = {10, 14, 14, 20, 20, 20, 24, 24, 24, 24, 27, 27, 27, 30, 30, 34};
constexpr std::array<uint32_t, 64> kDefault8x8Intra = {
    6,  10, 10, 13, 11, 13, 16, 16, 16, 16, 18, 18, 18, 18, 18, 23, 23, 23, 23, 23, 23, 25,
    25, 25, 25, 25, 25, 25, 27, 27, 27, 27, 27, 27, 27, 27, 29, 29, 29, 29, 29, 29, 29, 31,
    31, 31, 31, 31, 31, 33, 33, 33, 33, 33, 36, 36, 36, 36, 38, 38, 38, 40, 40, 42,
};
constexpr std::array<uint32_t, 64> kDefault8x8Inter = {
    9,  13, 13, 15, 13, 15, 17, 17, 17, 17, 19, 19, 19, 19, 19, 21, 21, 21, 21, 21, 21, 22,
    22, 22, 22, 22, 22, 22, 24, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 27,
    27, 27, 27, 27, 27, 28, 28, 28, 28, 28, 30, 30, 30, 30, 32, 32, 32, 33, 33, 35,
};

// Table E-1 sample aspect ratios by aspect_ratio_idc 0..16 (0 unspecified), and
// the idc whose ratio the SPS states in sar_width and sar_height.
constexpr uint32_t kExtendedSar = 255;
struct Sar {
    uint32_t w, h;
};
constexpr std::array<Sar, 17> kSampleAspect = {{
    {0, 0}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3}, {3, 2}, {2, 1},
}};

// The marker an encoder leaves in a user_data_unregistered SEI: a UUID
// followed by the tag "ZPID" and 12 bytes.
constexpr std::array<uint8_t, 32> kMarkerPayload = {
    0xa7, 0x46, 0x02, 0xbb, 0xf8, 0xa1, 0x4c, 0xc0, 0xa9, 0x36, 0x48, 0xe3, 0x91, 0xdc, 0xe7, 0x61,
    'Z',  'P',  'I',  'D',  0x92, 0x9b, 0x52, 0xf4, 0x8d, 0x72, 0x96, 0x8c, 0xc2, 0x92, 0x00, 0x00,
};

// An unescaped copy of a NAL unit, loaded into a bit reader.
class RbspReader {
public:
    // False when the copy or the reader cannot be allocated.
    bool Load(const uint8_t* p, uint32_t len)
    {
        len = std::min(len, kMaxParameterSetBytes);
        std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[len + 1]);
        if (!copy)
            return false;
        if (len > 0)
            std::memcpy(copy.get(), p, len);
        uint32_t n = Unescape(copy.get(), len);
        // trailing_zero_8bits belong to the byte stream, not to the unit: left
        // in place they would make more_rbsp_data() see data after the stop bit.
        while (n > 0 && copy[n - 1] == 0)
            --n;
        // A ring buffer holding exactly its capacity reads as empty.
        m_bits = std::make_unique<RingBuffer>(static_cast<int32_t>(n + 1));
        m_bits->Write(copy.get(), n);
        return true;
    }
    RingBuffer& bits() { return *m_bits; }

private:
    std::unique_ptr<RingBuffer> m_bits;
};

uint32_t Bit(RingBuffer& rb) { return rb.GetBits(1); }

// NAL units before the first slice that H264FirstFieldOrder looks at, at most.
constexpr uint32_t kMaxUnitsBeforeSlice = 64;
// Bytes of an SEI unit or a slice unit read for the fields H264FirstFieldOrder needs: a picture timing message
// comes first in its unit as encoders write it, and a slice header's first fields fit easily.
constexpr uint32_t kFieldOrderUnitBytes = 256;

// pic_struct (Table D-1) to the field output first: 1, 3, 5 top, 2, 4, 6 bottom; 0 for frames (0, 7, 8).
uint32_t FieldOfPicStruct(uint32_t picStruct)
{
    return picStruct >= 1 && picStruct <= 6 ? (picStruct % 2 == 1 ? 1 : 2) : 0;
}

// The pic_struct of the first picture timing message (payloadType 1) of the SEI unit whose header byte is at p (len
// at least 2); -1 without one. CpbDpbDelaysPresentFlag puts cpb_removal_delay and dpb_output_delay before it (D.1.3).
int32_t SeiPicStruct(const uint8_t* p, uint32_t len, const SpsInfo& sps)
{
    uint8_t rbsp[kFieldOrderUnitBytes];
    len = std::min<uint32_t>(len, kFieldOrderUnitBytes);
    std::memcpy(rbsp, p, len);
    const uint32_t n = Unescape(rbsp, len);
    for (uint32_t at = 1; at + 2 <= n && rbsp[at] != 0x80;) {  // 0x80: rbsp_trailing_bits
        uint32_t type = 0, size = 0;
        while (at < n && rbsp[at] == 0xFF)
            type += 255, ++at;
        if (at < n)
            type += rbsp[at++];
        while (at < n && rbsp[at] == 0xFF)
            size += 255, ++at;
        if (at < n)
            size += rbsp[at++];
        if (type == 1) {
            BitReader br(rbsp + at, std::min(size, n - at));
            const HrdParameters* hrd = sps.nal_hrd_parameters_present_flag   ? &sps.nal_hrd
                                       : sps.vcl_hrd_parameters_present_flag ? &sps.vcl_hrd
                                                                             : nullptr;
            if (hrd != nullptr)
                br.Skip(size_t(hrd->cpb_removal_delay_length_minus1) + 1 + hrd->dpb_output_delay_length_minus1 + 1);
            const uint32_t picStruct = br.Bits(4);
            return br.Overrun() ? -1 : int32_t(picStruct);
        }
        at += size;
    }
    return -1;
}

// The field output first by the slice whose header byte (nal_unit_type 1 or 5) is at p (len at least 2): a field's
// bottom_field_flag, or the sign of a frame's delta_pic_order_cnt_bottom; 0 when the header does not say.
uint32_t SliceFirstField(const uint8_t* p, uint32_t len, const SpsInfo& sps, const PpsInfo* pps)
{
    uint8_t rbsp[kFieldOrderUnitBytes];
    len = std::min<uint32_t>(len, kFieldOrderUnitBytes);
    std::memcpy(rbsp, p, len);
    const uint32_t n = Unescape(rbsp, len);
    const bool idr = (rbsp[0] & 0x1F) == 5;
    BitReader br(rbsp + 1, n - 1);
    br.Ue();  // first_mb_in_slice
    br.Ue();  // slice_type
    br.Ue();  // pic_parameter_set_id
    if (sps.separate_colour_plane_flag)
        br.Skip(2);  // colour_plane_id
    br.Skip(sps.log2_max_frame_num_minus4 + 4);  // frame_num
    uint32_t field = 0;
    if (br.Bit() != 0) {  // field_pic_flag (present: frame_mbs_only_flag is 0)
        field = br.Bit() != 0 ? 2 : 1;  // bottom_field_flag
    } else {
        if (idr)
            br.Ue();  // idr_pic_id
        if (sps.pic_order_cnt_type == 0 && pps != nullptr && pps->bottom_field_pic_order_in_frame_present_flag) {
            br.Skip(sps.log2_max_pic_order_cnt_lsb_minus4 + 4);  // pic_order_cnt_lsb
            field = br.Se() < 0 ? 2 : 1;                          // delta_pic_order_cnt_bottom
        }
    }
    return br.Overrun() ? 0 : field;
}

// scaling_list(): delta-coded entries; a first delta that lands on 0 selects
// the default matrix.
template <size_t N>
bool ReadScalingList(RingBuffer& rb, std::array<uint32_t, N>& list, const std::array<uint32_t, N>& defaults)
{
    int32_t lastScale = 8;
    int32_t nextScale = 8;
    bool useDefault = false;
    for (size_t j = 0; j < N; ++j) {
        if (nextScale != 0) {
            const int32_t delta = rb.ReadSe();
            if (delta < -128 || delta > 127)
                return false;
            nextScale = (lastScale + delta + 256) % 256;
            useDefault = (j == 0 && nextScale == 0);
        }
        list[j] = static_cast<uint32_t>(nextScale == 0 ? lastScale : nextScale);
        lastScale = static_cast<int32_t>(list[j]);
    }
    if (useDefault)
        list = defaults;
    return true;
}

// Lists 0-5 are 4x4 (0-2 intra, 3-5 inter), lists 6 and 7 are 8x8 (intra, inter);
// 4:4:4 adds four 8x8 lists for Cb and Cr (8-11), read past and not kept.
bool ReadScalingLists(RingBuffer& rb, uint32_t count, ScalingLists& s)
{
    for (uint32_t i = 0; i < count && i < 12; ++i) {
        if (i >= 8) {
            std::array<uint32_t, 64> chroma{};
            if (Bit(rb) && !ReadScalingList(rb, chroma, i % 2 == 0 ? kDefault8x8Intra : kDefault8x8Inter))
                return false;
            continue;
        }
        s.present_flag[i] = Bit(rb);
        if (!s.present_flag[i])
            continue;
        bool ok = false;
        if (i < 6)
            ok = ReadScalingList(rb, s.list4x4[i], i < 3 ? kDefault4x4Intra : kDefault4x4Inter);
        else
            ok = ReadScalingList(rb, s.list8x8[i - 6], i == 6 ? kDefault8x8Intra : kDefault8x8Inter);
        if (!ok)
            return false;
    }
    return true;
}

void ReadHrd(RingBuffer& rb, HrdParameters& hrd)
{
    hrd.cpb_cnt_minus1 = rb.ReadUe();
    if (hrd.cpb_cnt_minus1 >= 32)
        return;  // out of range: the rest of this HRD is not read
    hrd.bit_rate_scale = rb.GetBits(4);
    hrd.cpb_size_scale = rb.GetBits(4);
    for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1; ++i) {
        hrd.bit_rate_value_minus1[i] = rb.ReadUe();
        hrd.cpb_size_value_minus1[i] = rb.ReadUe();
        hrd.cbr_flag[i] = Bit(rb);
    }
    hrd.initial_cpb_removal_delay_length_minus1 = rb.GetBits(5);
    hrd.cpb_removal_delay_length_minus1 = rb.GetBits(5);
    hrd.dpb_output_delay_length_minus1 = rb.GetBits(5);
    hrd.time_offset_length = rb.GetBits(5);
}

void ReadVui(RingBuffer& rb, SpsInfo& s)
{
    s.aspect_ratio_info_present_flag = Bit(rb);
    if (s.aspect_ratio_info_present_flag) {
        s.aspect_ratio_idc = rb.GetBits(8);
        if (s.aspect_ratio_idc == 255) {  // Extended_SAR
            s.sar_width = rb.GetBits(16);
            s.sar_height = rb.GetBits(16);
        }
    }
    s.overscan_info_present_flag = Bit(rb);
    if (s.overscan_info_present_flag)
        s.overscan_appropriate_flag = Bit(rb);
    s.video_signal_type_present_flag = Bit(rb);
    if (s.video_signal_type_present_flag) {
        s.video_format = rb.GetBits(3);
        s.video_full_range_flag = Bit(rb);
        s.colour_description_present_flag = Bit(rb);
        if (s.colour_description_present_flag) {
            s.colour_primaries = rb.GetBits(8);
            s.transfer_characteristics = rb.GetBits(8);
            s.matrix_coefficients = rb.GetBits(8);
        }
    }
    s.chroma_loc_info_present_flag = Bit(rb);
    if (s.chroma_loc_info_present_flag) {
        s.chroma_sample_loc_type_top_field = rb.ReadUe();
        s.chroma_sample_loc_type_bottom_field = rb.ReadUe();
    }
    s.timing_info_present_flag = Bit(rb);
    if (s.timing_info_present_flag) {
        s.num_units_in_tick = rb.GetBits(32);
        s.time_scale = rb.GetBits(32);
        s.fixed_frame_rate_flag = Bit(rb);
    }
    s.nal_hrd_parameters_present_flag = Bit(rb);
    if (s.nal_hrd_parameters_present_flag)
        ReadHrd(rb, s.nal_hrd);
    s.vcl_hrd_parameters_present_flag = Bit(rb);
    if (s.vcl_hrd_parameters_present_flag)
        ReadHrd(rb, s.vcl_hrd);
    if (s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag)
        s.low_delay_hrd_flag = Bit(rb);
    s.pic_struct_present_flag = Bit(rb);
    s.bitstream_restriction_flag = Bit(rb);
    if (s.bitstream_restriction_flag) {
        s.motion_vectors_over_pic_boundaries_flag = Bit(rb);
        s.max_bytes_per_pic_denom = rb.ReadUe();
        s.max_bits_per_mb_denom = rb.ReadUe();
        s.log2_max_mv_length_horizontal = rb.ReadUe();
        s.log2_max_mv_length_vertical = rb.ReadUe();
        s.max_num_reorder_frames = rb.ReadUe();
        s.max_dec_frame_buffering = rb.ReadUe();
    }
}

bool IsKnownProfile(uint32_t profile_idc)
{
    switch (profile_idc) {
    case 66: case 77: case 88: case 100: case 110: case 122: case 128: case 144: return true;
    default: return false;
    }
}

// High profiles carry chroma format, bit depths and scaling matrices.
bool HasChromaInfo(uint32_t profile_idc)
{
    return profile_idc == 100 || profile_idc == 110 || profile_idc == 122 || profile_idc == 128 ||
           profile_idc == 144;
}

// The profiles whose SPS carries chroma_format_idc (ITU-T H.264 7.3.2.1.1) that
// only the all-profiles reading knows: High 4:4:4 Predictive, CAVLC 4:4:4 Intra,
// Scalable Baseline and High, Multiview High, Stereo High's relatives (MFC, depth).
bool IsLaterChromaProfile(uint32_t profile_idc)
{
    switch (profile_idc) {
    case 244: case 44: case 83: case 86: case 118: case 138: case 139: case 134: case 135: return true;
    default: return false;
    }
}

}  // namespace

uint32_t Unescape(uint8_t* p, uint32_t len)
{
    if (!p)
        return 0;
    uint32_t out = 0;
    int zeros = 0;
    for (uint32_t i = 0; i < len; ++i) {
        const uint8_t b = p[i];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;  // emulation_prevention_three_byte
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        p[out++] = b;
    }
    return out;
}

bool ParseSps(const uint8_t* p, uint32_t len, SpsInfo& sps, bool allProfiles)
{
    sps = {};
    if (!p)
        return false;
    RbspReader reader;
    if (!reader.Load(p, len))
        return false;
    RingBuffer& rb = reader.bits();
    SpsInfo s{};

    rb.GetBits(8);  // NAL header
    s.profile_idc = rb.GetBits(8);
    const bool laterProfile = allProfiles && IsLaterChromaProfile(s.profile_idc);
    if (!IsKnownProfile(s.profile_idc) && !laterProfile)
        return false;
    s.constraint_set0_flag = Bit(rb);
    s.constraint_set1_flag = Bit(rb);
    s.constraint_set2_flag = Bit(rb);
    s.constraint_set3_flag = Bit(rb);
    // constraint_set4/5 and reserved_zero_2bits: the later profiles set the flags.
    if (rb.GetBits(4) != 0 && !allProfiles)
        return false;
    s.level_idc = rb.GetBits(8);
    s.seq_parameter_set_id = rb.ReadUe();
    if (s.seq_parameter_set_id >= 32)
        return false;

    s.chroma_format_idc = 1;
    if (HasChromaInfo(s.profile_idc) || laterProfile) {
        s.chroma_format_idc = rb.ReadUe();
        if (s.chroma_format_idc > 3)
            return false;
        if (s.chroma_format_idc == 3)
            s.separate_colour_plane_flag = Bit(rb);
        s.bit_depth_luma_minus8 = rb.ReadUe();
        s.bit_depth_chroma_minus8 = rb.ReadUe();
        if (s.bit_depth_luma_minus8 > 6 || s.bit_depth_chroma_minus8 > 6)
            return false;
        s.qpprime_y_zero_transform_bypass_flag = Bit(rb);
        s.seq_scaling_matrix_present_flag = Bit(rb);
        const uint32_t lists = allProfiles && s.chroma_format_idc == 3 ? 12 : 8;
        if (s.seq_scaling_matrix_present_flag && !ReadScalingLists(rb, lists, s.scaling))
            return false;
    }

    s.log2_max_frame_num_minus4 = rb.ReadUe();
    if (s.log2_max_frame_num_minus4 >= 13)
        return false;
    s.pic_order_cnt_type = rb.ReadUe();
    if (s.pic_order_cnt_type >= 3)
        return false;
    if (s.pic_order_cnt_type == 0) {
        s.log2_max_pic_order_cnt_lsb_minus4 = rb.ReadUe();
        if (s.log2_max_pic_order_cnt_lsb_minus4 > 12)
            return false;
    } else if (s.pic_order_cnt_type == 1) {
        s.delta_pic_order_always_zero_flag = Bit(rb);
        s.offset_for_non_ref_pic = rb.ReadSe();
        s.offset_for_top_to_bottom_field = rb.ReadSe();
        s.num_ref_frames_in_pic_order_cnt_cycle = rb.ReadUe();
        if (s.num_ref_frames_in_pic_order_cnt_cycle > s.offset_for_ref_frame.size())
            return false;
        for (uint32_t i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i)
            s.offset_for_ref_frame[i] = rb.ReadSe();
    }

    s.max_num_ref_frames = rb.ReadUe();
    if (s.max_num_ref_frames > 16)
        return false;
    s.gaps_in_frame_num_value_allowed_flag = Bit(rb);
    s.pic_width_in_mbs_minus1 = rb.ReadUe();
    s.pic_height_in_map_units_minus1 = rb.ReadUe();
    if (s.pic_width_in_mbs_minus1 >= kMaxMbsPerDimension || s.pic_height_in_map_units_minus1 >= kMaxMbsPerDimension)
        return false;
    s.frame_mbs_only_flag = Bit(rb);
    if (!s.frame_mbs_only_flag)
        s.mb_adaptive_frame_field_flag = Bit(rb);
    s.direct_8x8_inference_flag = Bit(rb);
    s.frame_cropping_flag = Bit(rb);
    if (s.frame_cropping_flag) {
        s.frame_crop_left_offset = rb.ReadUe();
        s.frame_crop_right_offset = rb.ReadUe();
        s.frame_crop_top_offset = rb.ReadUe();
        s.frame_crop_bottom_offset = rb.ReadUe();
        // The crop must leave a picture: offsets count in 2 luma samples
        // horizontally and 2 (frames) or 4 (fields) lines vertically.
        const uint64_t width = (uint64_t(s.pic_width_in_mbs_minus1) + 1) * 16;
        const uint64_t height = (uint64_t(s.pic_height_in_map_units_minus1) + 1) * 16 * (2 - s.frame_mbs_only_flag);
        const uint64_t cropX = 2 * (uint64_t(s.frame_crop_left_offset) + s.frame_crop_right_offset);
        const uint64_t cropY =
            (s.frame_mbs_only_flag ? 2 : 4) * (uint64_t(s.frame_crop_top_offset) + s.frame_crop_bottom_offset);
        if (cropX >= width || cropY >= height)
            return false;
    }

    s.aspect_ratio_idc = 1;
    s.num_units_in_tick = 1001;
    s.time_scale = 60000;
    s.frameDuration = kDefaultFrameDuration;
    s.vui_parameters_present_flag = Bit(rb);
    if (s.vui_parameters_present_flag)
        ReadVui(rb, s);

    // A frame is two fields, each one tick.
    if (s.timing_info_present_flag && s.time_scale != 0)
        s.frameDuration = int64_t(uint64_t(s.num_units_in_tick) * 10000000 / s.time_scale) * 2;

    s.valid = true;
    sps = s;
    return true;
}

bool ParsePps(const uint8_t* p, uint32_t len, PpsInfo& pps)
{
    pps = {};
    if (!p)
        return false;
    RbspReader reader;
    if (!reader.Load(p, len))
        return false;
    RingBuffer& rb = reader.bits();
    PpsInfo s{};

    rb.GetBits(8);  // NAL header
    s.pic_parameter_set_id = rb.ReadUe();
    s.seq_parameter_set_id = rb.ReadUe();
    if (s.seq_parameter_set_id >= 32)
        return false;
    s.entropy_coding_mode_flag = Bit(rb);
    s.bottom_field_pic_order_in_frame_present_flag = Bit(rb);
    s.num_slice_groups_minus1 = rb.ReadUe();
    if (s.num_slice_groups_minus1 >= 8)
        return false;
    if (s.num_slice_groups_minus1 > 0) {
        s.slice_group_map_type = rb.ReadUe();
        if (s.slice_group_map_type == 0) {
            for (uint32_t i = 0; i <= s.num_slice_groups_minus1; ++i)
                s.run_length_minus1[i] = rb.ReadUe();
        } else if (s.slice_group_map_type == 2) {
            for (uint32_t i = 0; i < s.num_slice_groups_minus1; ++i) {
                s.top_left[i] = rb.ReadUe();
                s.bottom_right[i] = rb.ReadUe();
            }
        } else if (s.slice_group_map_type >= 3 && s.slice_group_map_type <= 5) {
            s.slice_group_change_direction_flag = Bit(rb);
            s.slice_group_change_rate_minus1 = rb.ReadUe();
        } else if (s.slice_group_map_type == 6) {
            s.pic_size_in_map_units_minus1 = rb.ReadUe();
            // slice_group_id[]: Ceil(Log2(num_slice_groups_minus1 + 1)) bits each.
            const int idBits = s.num_slice_groups_minus1 >= 4 ? 3 : s.num_slice_groups_minus1 >= 2 ? 2 : 1;
            const uint64_t ids = uint64_t(s.pic_size_in_map_units_minus1) + 1;
            if (ids * idBits > uint64_t(rb.Count()) * 8)
                return false;
            for (uint64_t i = 0; i < ids; ++i)
                rb.GetBits(idBits);
        } else if (s.slice_group_map_type > 6) {
            return false;
        }
    }
    s.num_ref_idx_l0_default_active_minus1 = rb.ReadUe();
    s.num_ref_idx_l1_default_active_minus1 = rb.ReadUe();
    s.weighted_pred_flag = Bit(rb);
    s.weighted_bipred_idc = rb.GetBits(2);
    s.pic_init_qp_minus26 = rb.ReadSe();
    s.pic_init_qs_minus26 = rb.ReadSe();
    s.chroma_qp_index_offset = rb.ReadSe();
    s.deblocking_filter_control_present_flag = Bit(rb);
    s.constrained_intra_pred_flag = Bit(rb);
    s.redundant_pic_cnt_present_flag = Bit(rb);
    s.second_chroma_qp_index_offset = s.chroma_qp_index_offset;
    if (rb.MoreRbspData()) {
        s.transform_8x8_mode_flag = Bit(rb);
        s.pic_scaling_matrix_present_flag = Bit(rb);
        if (s.pic_scaling_matrix_present_flag &&
            !ReadScalingLists(rb, 6 + 2 * s.transform_8x8_mode_flag, s.scaling))
            return false;
        s.second_chroma_qp_index_offset = rb.ReadSe();
    }
    if (s.num_ref_idx_l0_default_active_minus1 >= 32 || s.num_ref_idx_l1_default_active_minus1 >= 32)
        return false;

    s.valid = true;
    pps = s;
    return true;
}

bool ScanNalUnits(const uint8_t* p, uint32_t len, NalScanInfo& info)
{
    info = {};
    if (!p)
        return false;
    bool spsOpen = false;
    bool seiOpen = false;
    uint32_t seiSlot = 0;
    uint32_t i = 0;
    while (len > 4 && i < len - 4) {
        uint32_t startCode = 0;
        if (IsStartCodePrefix(p + i))
            startCode = 3;
        else if (p[i] == 0 && IsStartCodePrefix(p + i + 1))
            startCode = 4;
        if (startCode == 0) {
            ++i;
            continue;
        }
        // A unit ends where the next start code begins.
        if (spsOpen) {
            info.firstSpsLength = static_cast<uint32_t>(p + i - info.firstSps);
            spsOpen = false;
        }
        if (seiOpen) {
            info.seiLength[seiSlot] = static_cast<uint32_t>(p + i - info.sei[seiSlot]);
            ++seiSlot;
            seiOpen = false;
        }
        const uint32_t nalType = p[i + startCode] & 0x1F;
        if (nalType == 1)
            break;
        if (nalType == 5) {
            info.idrFound = 1;
            break;
        }
        if (nalType == 6 && seiSlot < kMaxSeiUnits) {
            info.sei[seiSlot] = p + i;
            seiOpen = true;
        } else if (nalType == 7) {
            if (!info.firstSps) {
                info.firstSps = p + i;
                spsOpen = true;
            }
            ++info.spsCount;
        } else if (nalType == 8) {
            ++info.ppsCount;
        }
        i += startCode + 1;
    }
    return true;
}

uint32_t H264FirstFieldOrder(const uint8_t* p, uint32_t len, const SpsInfo& sps)
{
    if (!p || !sps.valid || sps.frame_mbs_only_flag)
        return 0;
    PpsInfo pps{};
    bool havePps = false;
    uint32_t seiField = 0;
    // Each unit runs from its header byte (after a 00 00 01 prefix) to the next prefix, or the end of the buffer.
    uint32_t at = FindAnyCode(p, len);
    for (uint32_t units = 0; at < len && units < kMaxUnitsBeforeSlice; ++units) {
        const uint32_t header = at + 3;
        const uint32_t next = NextStartCode(p, len, header);
        const uint8_t* unit = p + header;
        const uint32_t unitLen = next - header;
        const uint32_t type = unit[0] & 0x1F;
        if (unitLen >= 2 && (type == 1 || type == 5))
            return seiField != 0 ? seiField : SliceFirstField(unit, unitLen, sps, havePps ? &pps : nullptr);
        if (unitLen >= 2 && type == 8 && !havePps)
            havePps = ParsePps(unit, unitLen, pps) && pps.valid;
        else if (unitLen >= 2 && type == 6 && sps.pic_struct_present_flag && seiField == 0)
            seiField = FieldOfPicStruct(uint32_t(std::max(SeiPicStruct(unit, unitLen, sps), 0)));
        at = next;
    }
    return seiField;
}

bool HasMarkerSei(const uint8_t* p, uint32_t len)
{
    if (!p || len == 0)
        return false;
    len = std::min(len, kMaxParameterSetBytes);
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[len]);
    if (!copy)
        return false;
    std::memcpy(copy.get(), p, len);
    const uint32_t n = Unescape(copy.get(), len);
    const uint8_t* u = copy.get();

    // The NAL header follows the start code.
    uint32_t pos = 0;
    while (pos < 5 && pos < n && (u[pos] & 0x1F) != 6)
        ++pos;
    if (pos >= 5 || pos >= n)
        return false;
    ++pos;

    // sei_message(): payloadType and payloadSize, each as 0xFF bytes (255 each)
    // plus a final byte, then the payload.
    while (true) {
        uint64_t payloadType = 0;
        while (pos < n && u[pos] == 0xFF)
            payloadType += 255, ++pos;
        if (pos >= n)
            return false;
        payloadType += u[pos++];
        uint64_t payloadSize = 0;
        while (pos < n && u[pos] == 0xFF)
            payloadSize += 255, ++pos;
        if (pos >= n)
            return false;
        payloadSize += u[pos++];

        if (payloadType == 5 && payloadSize >= kMarkerPayload.size() && Has(n, pos, kMarkerPayload.size()) &&
            std::equal(kMarkerPayload.begin(), kMarkerPayload.end(), u + pos))
            return true;
        if (!Has(n, pos, payloadSize))
            return false;
        pos += static_cast<uint32_t>(payloadSize);
        if (pos >= n || u[pos] == 0x80)  // rbsp_trailing_bits
            return false;
    }
}

bool FindMarkerSei(const NalScanInfo& info, uint32_t& index)
{
    index = 0;
    for (uint32_t i = 0; i < kMaxSeiUnits && info.sei[i]; ++i) {
        if (HasMarkerSei(info.sei[i], info.seiLength[i])) {
            index = i;
            return true;
        }
    }
    return false;
}

bool DerivePictureProperties(const SpsInfo& sps, H264PictureProperties& out)
{
    out = {};
    if (!sps.valid)
        return false;

    const uint64_t fieldFactor = sps.frame_mbs_only_flag ? 1 : 2;
    uint64_t width = (uint64_t(sps.pic_width_in_mbs_minus1) + 1) * 16;
    uint64_t height = (uint64_t(sps.pic_height_in_map_units_minus1) + 1) * 16 * fieldFactor;
    if (sps.frame_cropping_flag) {
        const uint64_t cropX = 2 * (uint64_t(sps.frame_crop_left_offset) + sps.frame_crop_right_offset);
        const uint64_t cropY = 2 * fieldFactor * (uint64_t(sps.frame_crop_top_offset) + sps.frame_crop_bottom_offset);
        width = cropX < width ? width - cropX : 0;
        height = cropY < height ? height - cropY : 0;
    }
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);

    out.progressive = sps.frame_mbs_only_flag ? 1 : 0;
    if (!sps.frame_mbs_only_flag)
        out.fieldCoding = sps.mb_adaptive_frame_field_flag ? 1 : 2;

    out.frameDuration = sps.frameDuration;
    out.frameRate = sps.frameDuration > 0 ? double(1000000000 / sps.frameDuration) / 100.0 : 0.0;

    // Square samples when the stream states no usable sample aspect.
    uint32_t sarW = 1;
    uint32_t sarH = 1;
    const uint32_t idc = SpsSampleAspect(sps, sarW, sarH) ? sps.aspect_ratio_idc : 0;
    H264DisplayAspect(out.width, out.height, idc, sarW, sarH, out.aspectX, out.aspectY);
    return true;
}

bool SpsSampleAspect(const SpsInfo& sps, uint32_t& w, uint32_t& h)
{
    return sps.vui_parameters_present_flag && sps.aspect_ratio_info_present_flag &&
           SampleAspectOfIdc(sps.aspect_ratio_idc, sps.sar_width, sps.sar_height, w, h);
}

bool SampleAspectOfIdc(uint32_t idc, uint32_t sarW, uint32_t sarH, uint32_t& w, uint32_t& h)
{
    Sar sar{};
    if (idc == kExtendedSar)
        sar = {sarW, sarH};
    else if (idc < kSampleAspect.size())
        sar = kSampleAspect[idc];
    if (sar.w == 0 || sar.h == 0)
        return false;
    w = sar.w;
    h = sar.h;
    return true;
}

void H264DisplayAspect(uint32_t width, uint32_t height, uint32_t idc, uint32_t sarW, uint32_t sarH, uint32_t& x,
                       uint32_t& y)
{
    const bool dvd = width == 720;
    if (dvd && ((height == 480 && idc == 3) || (height == 576 && idc == 2))) {
        x = 4, y = 3;
    } else if (dvd && ((height == 480 && idc == 5) || (height == 576 && idc == 4))) {
        x = 16, y = 9;
    } else {
        x = sarW;
        y = sarH;
        AspectFromSampleAspect(x, y, width, height);
    }
}

uint32_t H264ProfileCode(uint32_t profile_idc, bool stereoHigh)
{
    switch (profile_idc) {
    case 66: return 0;
    case 77: return 1;
    case 100: return 2;
    case 128: return stereoHigh ? 3 : 0;
    default: return 0;
    }
}

}  // namespace md
