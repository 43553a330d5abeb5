#include "es/hevc.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "es/bit_reader.h"
#include "es/h264.h"
#include "es/start_code.h"
#include "input/bytes.h"

namespace md {
namespace {

// NAL unit types (Table 7-1).
constexpr uint32_t kVps = 32, kSps = 33, kPps = 34, kPrefixSei = 39, kFirstNonVcl = 32;

// A parameter set with 64 reference picture sets and every scaling list stays far below this.
constexpr size_t kMaxUnitBytes = 16 * 1024;

uint32_t NalType(const uint8_t* p) { return p[0] >> 1 & 0x3F; }

// The unit after its two-byte header, emulation prevention bytes removed.
std::vector<uint8_t> Payload(const uint8_t* p, size_t len)
{
    if (p == nullptr || len < 2)
        return {};
    std::vector<uint8_t> rbsp(p + 2, p + std::min(len, kMaxUnitBytes));
    rbsp.resize(Unescape(rbsp.data(), static_cast<uint32_t>(rbsp.size())));
    return rbsp;
}

// profile_tier_level(1, maxNumSubLayersMinus1): the general part kept, the sub-layer parts read past.
void ReadProfileTierLevel(BitReader& br, uint32_t maxNumSubLayersMinus1, HevcProfile& ptl)
{
    ptl.general_profile_space = br.Bits(2);
    ptl.general_tier_flag = br.Bit();
    ptl.general_profile_idc = br.Bits(5);
    br.Skip(32);  // general_profile_compatibility_flag[32]
    ptl.general_progressive_source_flag = br.Bit();
    ptl.general_interlaced_source_flag = br.Bit();
    br.Skip(2 + 43 + 1);  // non_packed, frame_only, the 43 constraint bits, inbld / reserved
    ptl.general_level_idc = br.Bits(8);
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
        profilePresent[i] = br.Bit();
        levelPresent[i] = br.Bit();
    }
    if (maxNumSubLayersMinus1 > 0)
        br.Skip(2 * (8 - maxNumSubLayersMinus1));  // reserved_zero_2bits
    for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i)
        br.Skip((profilePresent[i] ? 88 : 0) + (levelPresent[i] ? 8 : 0));
}

// sub_layer_ordering_info: three ue(v) per sub-layer, for all or only the highest.
void SkipSubLayerOrdering(BitReader& br, uint32_t maxSubLayersMinus1)
{
    const uint32_t first = br.Bit() ? 0 : maxSubLayersMinus1;
    for (uint32_t i = first; i <= maxSubLayersMinus1; ++i)
        br.Ue(), br.Ue(), br.Ue();
}

// scaling_list_data() (7.3.4): six matrices of each size, two of 32x32.
bool SkipScalingListData(BitReader& br)
{
    for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
        for (uint32_t matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
            if (!br.Bit()) {  // scaling_list_pred_mode_flag
                if (br.Ue() > matrixId / (sizeId == 3 ? 3 : 1))  // scaling_list_pred_matrix_id_delta
                    return false;
                continue;
            }
            const uint32_t coefNum = std::min(64u, 1u << (4 + (sizeId << 1)));
            if (sizeId > 1)
                br.Se();  // scaling_list_dc_coef_minus8
            for (uint32_t i = 0; i < coefNum && !br.Overrun(); ++i)
                br.Se();  // scaling_list_delta_coef
        }
    }
    return !br.Overrun();
}

// st_ref_pic_set(stRpsIdx) as an SPS carries it (7.3.7); numDeltaPocs holds NumDeltaPocs of the sets before.
bool SkipShortTermRefPicSet(BitReader& br, uint32_t stRpsIdx, std::vector<uint32_t>& numDeltaPocs)
{
    if (stRpsIdx != 0 && br.Bit()) {  // inter_ref_pic_set_prediction_flag: predicted from the set before
        br.Bit();                     // delta_rps_sign
        br.Ue();                      // abs_delta_rps_minus1
        uint32_t count = 0;
        for (uint32_t j = 0; j <= numDeltaPocs[stRpsIdx - 1]; ++j) {
            const bool used = br.Bit();  // used_by_curr_pic_flag; use_delta_flag is 1 when absent
            if (used || br.Bit())
                ++count;
        }
        numDeltaPocs.push_back(count);
    } else {
        const uint32_t negative = br.Ue(), positive = br.Ue();
        if (negative > 16 || positive > 16)
            return false;
        for (uint32_t i = 0; i < negative + positive; ++i)
            br.Ue(), br.Bit();  // delta_poc_s0/s1_minus1, used_by_curr_pic_s0/s1_flag
        numDeltaPocs.push_back(negative + positive);
    }
    return numDeltaPocs.back() <= 32 && !br.Overrun();
}

// vui_parameters() (E.2.1) up to the timing information.
void ReadVui(BitReader& br, HevcSps& s)
{
    if (br.Bit()) {  // aspect_ratio_info_present_flag
        s.aspect_ratio_idc = br.Bits(8);
        if (s.aspect_ratio_idc == 255) {  // Extended_SAR
            s.sar_width = br.Bits(16);
            s.sar_height = br.Bits(16);
        }
    }
    if (br.Bit())  // overscan_info_present_flag
        br.Bit();
    if (br.Bit()) {           // video_signal_type_present_flag
        br.Skip(4);           // video_format, video_full_range_flag
        if (br.Bit())         // colour_description_present_flag
            br.Skip(24);
    }
    if (br.Bit())  // chroma_loc_info_present_flag
        br.Ue(), br.Ue();
    br.Bit();  // neutral_chroma_indication_flag
    s.field_seq_flag = br.Bit();
    s.frame_field_info_present_flag = br.Bit();
    if (br.Bit())  // default_display_window_flag
        br.Ue(), br.Ue(), br.Ue(), br.Ue();
    s.vui_timing_info_present_flag = br.Bit();
    if (s.vui_timing_info_present_flag) {
        s.vui_num_units_in_tick = br.Bits(32);
        s.vui_time_scale = br.Bits(32);
    }
}

// Calls f(unit, length) for each NAL unit of an Annex B buffer, a unit running to the next start code, until f
// returns false.
template <typename F>
void ForEachNalUnit(const uint8_t* p, size_t len, F f)
{
    const auto n = static_cast<uint32_t>(std::min<size_t>(len, UINT32_MAX));
    for (uint32_t at = FindAnyCode(p, n); at < n;) {
        const uint32_t start = at + 3, next = NextStartCode(p, n, start);
        // A 00 before the next prefix is a zero_byte of a four-byte start code.
        const uint32_t end = next < n && next > start && p[next - 1] == 0 ? next - 1 : next;
        if (end >= start + 2 && !f(p + start, size_t(end - start)))
            return;
        at = next;
    }
}

// Calls f(unit, length) for each NAL unit of an HEVCDecoderConfigurationRecord: 22 bytes of profile, level and
// format fields, then numOfArrays; each array: NAL_unit_type in the low six bits, numNalus, and each unit after
// its 16-bit length. A unit cut short ends the walk.
template <typename F>
void ForEachConfigurationUnit(const uint8_t* p, size_t len, F f)
{
    const Bytes b(p, p == nullptr ? 0 : len);
    size_t at = 23;
    for (uint32_t array = 0, arrays = Has(b, 22, 1) ? b[22] : 0; array < arrays && Has(b, at, 3); ++array) {
        const uint32_t count = Be16(&b[at + 1]);
        at += 3;
        for (uint32_t i = 0; i < count && Has(b, at, 2); ++i) {
            const size_t length = Be16(&b[at]);
            if (!Has(b, at + 2, length))
                return;
            if (length >= 2)
                f(&b[at + 2], length);
            at += 2 + length;
        }
    }
}

// The first VPS and SPS and the prefix SEIs before the first picture, wherever the caller found them.
struct HevcUnits {
    HevcVps vps{};
    HevcSps sps{};
    std::vector<std::pair<const uint8_t*, size_t>> seis;

    // False once a picture (a VCL unit) is met after the SPS: nothing after it is needed.
    bool Take(const uint8_t* unit, size_t length)
    {
        const uint32_t type = NalType(unit);
        if (type < kFirstNonVcl)
            return !sps.valid;
        if (type == kVps && !vps.valid)
            ParseHevcVps(unit, length, vps);
        else if (type == kSps && !sps.valid)
            ParseHevcSps(unit, length, sps);
        else if (type == kPrefixSei && seis.size() < 16)
            seis.emplace_back(unit, length);
        return true;
    }

    bool Describe(HevcPictureProperties& out) const
    {
        int picStruct = -1;
        uint32_t value = 0;
        for (const auto& [unit, length] : seis)
            if (picStruct < 0 && HevcPicStruct(unit, length, sps, value))
                picStruct = static_cast<int>(value);
        return DeriveHevcPictureProperties(sps, vps.valid ? &vps : nullptr, picStruct, out);
    }
};

}  // namespace

bool ParseHevcVps(const uint8_t* p, size_t len, HevcVps& vps)
{
    vps = {};
    const std::vector<uint8_t> rbsp = Payload(p, len);
    BitReader br(rbsp.data(), rbsp.size());
    br.Skip(4 + 1 + 1 + 6);  // vps_video_parameter_set_id, base layer flags, vps_max_layers_minus1
    vps.vps_max_sub_layers_minus1 = br.Bits(3);
    br.Skip(1 + 16);  // vps_temporal_id_nesting_flag, vps_reserved_0xffff_16bits
    if (vps.vps_max_sub_layers_minus1 > 6)
        return false;
    ReadProfileTierLevel(br, vps.vps_max_sub_layers_minus1, vps.ptl);
    SkipSubLayerOrdering(br, vps.vps_max_sub_layers_minus1);
    const uint32_t maxLayerId = br.Bits(6), layerSets = br.Ue();
    if (layerSets > 1023)
        return false;
    br.Skip(size_t(layerSets) * (maxLayerId + 1));  // layer_id_included_flag
    vps.vps_timing_info_present_flag = br.Bit();
    if (vps.vps_timing_info_present_flag) {
        vps.vps_num_units_in_tick = br.Bits(32);
        vps.vps_time_scale = br.Bits(32);
    }
    vps.valid = !br.Overrun();
    return vps.valid;
}

bool ParseHevcSps(const uint8_t* p, size_t len, HevcSps& s)
{
    s = {};
    const std::vector<uint8_t> rbsp = Payload(p, len);
    BitReader br(rbsp.data(), rbsp.size());
    br.Skip(4);  // sps_video_parameter_set_id
    s.sps_max_sub_layers_minus1 = br.Bits(3);
    br.Bit();  // sps_temporal_id_nesting_flag
    if (s.sps_max_sub_layers_minus1 > 6)
        return false;
    ReadProfileTierLevel(br, s.sps_max_sub_layers_minus1, s.ptl);
    if (br.Ue() > 15)  // sps_seq_parameter_set_id
        return false;
    s.chroma_format_idc = br.Ue();
    if (s.chroma_format_idc > 3)
        return false;
    if (s.chroma_format_idc == 3)
        s.separate_colour_plane_flag = br.Bit();
    s.pic_width_in_luma_samples = br.Ue();
    s.pic_height_in_luma_samples = br.Ue();
    if (s.pic_width_in_luma_samples == 0 || s.pic_height_in_luma_samples == 0 ||
        s.pic_width_in_luma_samples > 65535 || s.pic_height_in_luma_samples > 65535)
        return false;
    if (br.Bit()) {  // conformance_window_flag
        s.conf_win_left_offset = br.Ue();
        s.conf_win_right_offset = br.Ue();
        s.conf_win_top_offset = br.Ue();
        s.conf_win_bottom_offset = br.Ue();
    }
    s.bit_depth_luma_minus8 = br.Ue();
    s.bit_depth_chroma_minus8 = br.Ue();
    s.log2_max_pic_order_cnt_lsb_minus4 = br.Ue();
    if (s.bit_depth_luma_minus8 > 8 || s.bit_depth_chroma_minus8 > 8 || s.log2_max_pic_order_cnt_lsb_minus4 > 12)
        return false;
    SkipSubLayerOrdering(br, s.sps_max_sub_layers_minus1);
    for (int i = 0; i < 6; ++i)
        br.Ue();  // coding and transform block sizes, transform hierarchy depths
    if (br.Bit() && br.Bit() && !SkipScalingListData(br))  // scaling_list_enabled, sps_scaling_list_data_present
        return false;
    br.Skip(2);      // amp_enabled_flag, sample_adaptive_offset_enabled_flag
    if (br.Bit()) {  // pcm_enabled_flag
        br.Skip(8);  // PCM sample bit depths
        br.Ue(), br.Ue();
        br.Bit();  // pcm_loop_filter_disabled_flag
    }
    s.num_short_term_ref_pic_sets = br.Ue();
    if (s.num_short_term_ref_pic_sets > 64)
        return false;
    std::vector<uint32_t> numDeltaPocs;
    for (uint32_t i = 0; i < s.num_short_term_ref_pic_sets; ++i)
        if (!SkipShortTermRefPicSet(br, i, numDeltaPocs))
            return false;
    if (br.Bit()) {  // long_term_ref_pics_present_flag
        const uint32_t count = br.Ue();
        if (count > 32)
            return false;
        br.Skip(size_t(count) * (s.log2_max_pic_order_cnt_lsb_minus4 + 4 + 1));  // lt_ref_pic_poc_lsb_sps, used flag
    }
    br.Skip(2);  // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
    s.vui_parameters_present_flag = br.Bit();
    if (s.vui_parameters_present_flag)
        ReadVui(br, s);
    s.valid = !br.Overrun();
    return s.valid;
}

bool HevcPicStruct(const uint8_t* p, size_t len, const HevcSps& sps, uint32_t& picStruct)
{
    if (!sps.valid || !sps.frame_field_info_present_flag)
        return false;
    const std::vector<uint8_t> rbsp = Payload(p, len);
    for (size_t at = 0; at + 2 <= rbsp.size() && rbsp[at] != 0x80;) {  // 0x80: rbsp_trailing_bits
        uint32_t type = 0, size = 0;
        while (at < rbsp.size() && rbsp[at] == 0xFF)
            type += 255, ++at;
        if (at < rbsp.size())
            type += rbsp[at++];
        while (at < rbsp.size() && rbsp[at] == 0xFF)
            size += 255, ++at;
        if (at < rbsp.size())
            size += rbsp[at++];
        if (!Has(rbsp.size(), at, size))
            return false;
        if (type == 1 && size > 0) {  // pic_timing: pic_struct u(4) comes first when frame_field_info_present_flag
            picStruct = rbsp[at] >> 4;
            return true;
        }
        at += size;
    }
    return false;
}

bool DeriveHevcPictureProperties(const HevcSps& sps, const HevcVps* vps, int picStruct, HevcPictureProperties& out)
{
    out = {};
    if (!sps.valid)
        return false;
    // Conformance window offsets count chroma samples (Table 6-1).
    const bool monoOrPlanes = sps.chroma_format_idc == 0 || sps.separate_colour_plane_flag;
    const uint64_t subWidth = !monoOrPlanes && sps.chroma_format_idc < 3 ? 2 : 1;
    const uint64_t subHeight = !monoOrPlanes && sps.chroma_format_idc == 1 ? 2 : 1;
    const uint64_t cropX = subWidth * (uint64_t(sps.conf_win_left_offset) + sps.conf_win_right_offset);
    const uint64_t cropY = subHeight * (uint64_t(sps.conf_win_top_offset) + sps.conf_win_bottom_offset);
    const uint64_t width = sps.pic_width_in_luma_samples, height = sps.pic_height_in_luma_samples;
    out.width = static_cast<uint32_t>(cropX < width ? width - cropX : 0);
    out.height = static_cast<uint32_t>(cropY < height ? height - cropY : 0);

    // Interlacing: pictures that are fields, or frames whose pic_struct shows two fields, or a source the profile
    // marks interlaced. pic_struct (Table D.2): 1, 3, 5, 9, 11 start with the top field; 2, 4, 6, 10, 12 with the
    // bottom; 0, 7, 8 are frames.
    uint32_t fieldOrder = 0;
    if (picStruct >= 0 && picStruct <= 12 && picStruct != 0 && picStruct != 7 && picStruct != 8)
        fieldOrder = picStruct % 2 ? 1 : 2;
    const bool interlaced = sps.field_seq_flag || fieldOrder != 0 ||
                            (picStruct < 0 && sps.ptl.general_interlaced_source_flag &&
                             !sps.ptl.general_progressive_source_flag);
    out.progressive = interlaced ? 0 : 1;
    out.fieldOrder = interlaced ? (fieldOrder ? fieldOrder : 1) : 0;

    // A tick is one picture (a field when every picture is one: size and rate stay those of the pictures, as
    // ffprobe and MediaInfo give them).
    uint64_t units = 0, scale = 0;
    if (sps.vui_timing_info_present_flag)
        units = sps.vui_num_units_in_tick, scale = sps.vui_time_scale;
    else if (vps != nullptr && vps->vps_timing_info_present_flag)
        units = vps->vps_num_units_in_tick, scale = vps->vps_time_scale;
    if (units != 0 && scale != 0) {
        out.frameDuration = static_cast<int64_t>((units * 10000000 + scale / 2) / scale);
        if (out.frameDuration > 0)
            out.frameRate = double(1000000000 / out.frameDuration) / 100.0;
    }

    // Square samples when the stream states no usable sample aspect; display shapes as H.264's.
    uint32_t sarW = 1, sarH = 1;
    const bool stated =
        sps.vui_parameters_present_flag && SampleAspectOfIdc(sps.aspect_ratio_idc, sps.sar_width, sps.sar_height, sarW, sarH);
    H264DisplayAspect(out.width, out.height, stated ? sps.aspect_ratio_idc : 0, sarW, sarH, out.aspectX, out.aspectY);
    out.profile = sps.ptl.general_profile_idc;
    out.level = sps.ptl.general_level_idc;
    return true;
}

bool DescribeHevcAnnexB(const uint8_t* p, size_t len, HevcPictureProperties& out)
{
    HevcUnits units;
    if (p != nullptr)
        ForEachNalUnit(p, len, [&units](const uint8_t* unit, size_t length) { return units.Take(unit, length); });
    return units.Describe(out);
}

bool DescribeHevcConfiguration(const uint8_t* p, size_t len, HevcPictureProperties& out)
{
    HevcUnits units;
    ForEachConfigurationUnit(p, len, [&units](const uint8_t* unit, size_t length) { units.Take(unit, length); });
    return units.Describe(out);
}

void CollectHevcHeaders(const uint8_t* p, size_t len, bool configuration, StreamRecord& r)
{
    bool spsSeen = false;
    auto take = [&](const uint8_t* unit, size_t length) {
        const uint32_t type = NalType(unit);
        if (type < kFirstNonVcl)
            return !spsSeen;  // the parameter sets before the first picture
        if (type == kVps || type == kSps)
            AppendHeaderUnit(r.extraData1, r.extraData1Length, unit, length);
        else if (type == kPps)
            AppendHeaderUnit(r.extraData2, r.extraData2Length, unit, length);
        spsSeen |= type == kSps;
        return true;
    };
    r.extraData1Length = r.extraData2Length = 0;
    if (p == nullptr)
        return;
    if (configuration)
        ForEachConfigurationUnit(p, len, [&take](const uint8_t* unit, size_t length) { take(unit, length); });
    else
        ForEachNalUnit(p, len, take);
}

void ApplyHevcProperties(const HevcPictureProperties& props, StreamRecord& r)
{
    r.streamClass = StreamClass::Video;
    r.codec = StreamCodec::Hevc;
    r.video.width = props.width;
    r.video.height = props.height;
    r.video.aspectX = props.aspectX;
    r.video.aspectY = props.aspectY;
    r.video.profile = props.profile;
    r.video.level = props.level;
    r.video.frameDuration = props.frameDuration;
    r.fieldOrder = props.fieldOrder;
    r.frameRate = props.frameRate;
    r.progressive = props.progressive;
}

}  // namespace md
