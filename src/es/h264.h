// H.264 (ISO/IEC 14496-10) sequence and picture parameter sets, the Annex B
// scan for the NAL units that come before the first picture, the encoder-marker
// SEI, and the picture properties a stream record takes from an SPS.
//
// Field names of the parameter-set records are the syntax element names of the
// standard. Records are caller-owned and value-initialised (`SpsInfo sps{}`);
// `valid` is set last, only when the whole parse succeeded.
#pragma once

#include <array>
#include <cstdint>

namespace md {

struct HrdParameters {
    uint32_t cpb_cnt_minus1;
    uint32_t bit_rate_scale;
    uint32_t cpb_size_scale;
    std::array<uint32_t, 32> bit_rate_value_minus1;
    std::array<uint32_t, 32> cpb_size_value_minus1;
    std::array<uint32_t, 32> cbr_flag;
    uint32_t initial_cpb_removal_delay_length_minus1;
    uint32_t cpb_removal_delay_length_minus1;
    uint32_t dpb_output_delay_length_minus1;
    uint32_t time_offset_length;
};

// Six 4x4 lists (Intra Y/Cb/Cr, Inter Y/Cb/Cr) and two 8x8 lists (Intra Y,
// Inter Y), in zig-zag scan order as transmitted. A list that signals
// useDefaultScalingMatrixFlag holds the default matrix of Tables 7-3 and 7-4; a
// list that is not present stays 0.
struct ScalingLists {
    std::array<uint32_t, 8> present_flag;
    std::array<std::array<uint32_t, 16>, 6> list4x4;
    std::array<std::array<uint32_t, 64>, 2> list8x8;
};

struct SpsInfo {
    uint32_t profile_idc;
    uint32_t constraint_set0_flag;
    uint32_t constraint_set1_flag;
    uint32_t constraint_set2_flag;
    uint32_t constraint_set3_flag;
    uint32_t level_idc;
    uint32_t seq_parameter_set_id;

    uint32_t seq_scaling_matrix_present_flag;
    ScalingLists scaling;

    uint32_t chroma_format_idc;  // 1 when the profile does not carry it
    uint32_t separate_colour_plane_flag;
    uint32_t bit_depth_luma_minus8;
    uint32_t bit_depth_chroma_minus8;
    uint32_t qpprime_y_zero_transform_bypass_flag;

    uint32_t log2_max_frame_num_minus4;
    uint32_t pic_order_cnt_type;
    uint32_t log2_max_pic_order_cnt_lsb_minus4;
    uint32_t delta_pic_order_always_zero_flag;
    int32_t offset_for_non_ref_pic;
    int32_t offset_for_top_to_bottom_field;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle;
    std::array<int32_t, 255> offset_for_ref_frame;

    uint32_t max_num_ref_frames;
    uint32_t gaps_in_frame_num_value_allowed_flag;
    uint32_t pic_width_in_mbs_minus1;
    uint32_t pic_height_in_map_units_minus1;
    uint32_t frame_mbs_only_flag;
    uint32_t mb_adaptive_frame_field_flag;
    uint32_t direct_8x8_inference_flag;
    uint32_t frame_cropping_flag;
    uint32_t frame_crop_left_offset;
    uint32_t frame_crop_right_offset;
    uint32_t frame_crop_top_offset;
    uint32_t frame_crop_bottom_offset;

    // VUI (Annex E).
    uint32_t vui_parameters_present_flag;
    uint32_t aspect_ratio_info_present_flag;
    uint32_t aspect_ratio_idc;  // default 1
    uint32_t sar_width;
    uint32_t sar_height;
    uint32_t overscan_info_present_flag;
    uint32_t overscan_appropriate_flag;
    uint32_t video_signal_type_present_flag;
    uint32_t video_format;
    uint32_t video_full_range_flag;
    uint32_t colour_description_present_flag;
    uint32_t colour_primaries;
    uint32_t transfer_characteristics;
    uint32_t matrix_coefficients;
    uint32_t chroma_loc_info_present_flag;
    uint32_t chroma_sample_loc_type_top_field;
    uint32_t chroma_sample_loc_type_bottom_field;
    uint32_t timing_info_present_flag;
    uint32_t num_units_in_tick;  // default 1001
    uint32_t time_scale;         // default 60000
    uint32_t fixed_frame_rate_flag;
    uint32_t nal_hrd_parameters_present_flag;
    HrdParameters nal_hrd;
    uint32_t vcl_hrd_parameters_present_flag;
    HrdParameters vcl_hrd;
    uint32_t low_delay_hrd_flag;
    uint32_t pic_struct_present_flag;
    uint32_t bitstream_restriction_flag;
    uint32_t motion_vectors_over_pic_boundaries_flag;
    uint32_t max_bytes_per_pic_denom;
    uint32_t max_bits_per_mb_denom;
    uint32_t log2_max_mv_length_horizontal;
    uint32_t log2_max_mv_length_vertical;
    uint32_t max_num_reorder_frames;
    uint32_t max_dec_frame_buffering;

    // Duration of a frame in 100-ns units: two ticks of the VUI timing, or
    // 333666 (29.97 fps) without it.
    int64_t frameDuration;
    bool valid;
};

struct PpsInfo {
    uint32_t pic_parameter_set_id;
    uint32_t seq_parameter_set_id;
    uint32_t entropy_coding_mode_flag;
    uint32_t bottom_field_pic_order_in_frame_present_flag;
    uint32_t num_slice_groups_minus1;
    uint32_t slice_group_map_type;
    std::array<uint32_t, 8> run_length_minus1;
    std::array<uint32_t, 8> top_left;
    std::array<uint32_t, 8> bottom_right;
    uint32_t slice_group_change_direction_flag;
    uint32_t slice_group_change_rate_minus1;
    uint32_t pic_size_in_map_units_minus1;
    uint32_t num_ref_idx_l0_default_active_minus1;
    uint32_t num_ref_idx_l1_default_active_minus1;
    uint32_t weighted_pred_flag;
    uint32_t weighted_bipred_idc;
    int32_t pic_init_qp_minus26;
    int32_t pic_init_qs_minus26;
    int32_t chroma_qp_index_offset;
    uint32_t deblocking_filter_control_present_flag;
    uint32_t constrained_intra_pred_flag;
    uint32_t redundant_pic_cnt_present_flag;
    uint32_t transform_8x8_mode_flag;
    uint32_t pic_scaling_matrix_present_flag;
    ScalingLists scaling;
    int32_t second_chroma_qp_index_offset;
    bool valid;
};

constexpr uint32_t kMaxSeiUnits = 128;

// What the NAL units before the first slice of an Annex B buffer hold. Pointers
// point into the scanned buffer, at the unit's start code. A unit's length runs
// to the next start code; a unit that no start code followed has length 0.
struct NalScanInfo {
    uint8_t idrFound;
    const uint8_t* firstSps;
    uint32_t firstSpsLength;
    uint32_t ppsCount;
    uint32_t spsCount;
    std::array<const uint8_t*, kMaxSeiUnits> sei;
    std::array<uint32_t, kMaxSeiUnits> seiLength;
};

// Removes every emulation_prevention_three_byte (a 0x03 after two 0x00) in
// place; the zero count restarts after a removed byte. Returns the new length.
uint32_t Unescape(uint8_t* p, uint32_t len);

// p points at the NAL header byte of the SPS (or PPS). The unit is unescaped
// into a copy before it is read. Without allProfiles only profile_idc 66, 77,
// 88, 100, 110, 122, 128 and 144 with constraint_set4/5 clear are read; with it
// every profile of ITU-T H.264 (High 4:4:4 Predictive, CAVLC 4:4:4, the SVC and
// MVC ones), the 4:4:4 scaling lists included.
bool ParseSps(const uint8_t* p, uint32_t len, SpsInfo& sps, bool allProfiles = false);
bool ParsePps(const uint8_t* p, uint32_t len, PpsInfo& pps);

// Walks the start codes of an Annex B buffer up to the first slice. True for a
// non-null buffer.
bool ScanNalUnits(const uint8_t* p, uint32_t len, NalScanInfo& info);

// True when the SEI NAL unit (start code included) carries the encoder marker:
// a user_data_unregistered message with the marker's UUID and tag.
bool HasMarkerSei(const uint8_t* p, uint32_t len);

// Tries HasMarkerSei on the SEI units of a scan in order; index receives the
// slot of the first match.
bool FindMarkerSei(const NalScanInfo& info, uint32_t& index);

// Which field of the first picture of an Annex B buffer is output first: 1 the top field, 2 the bottom one, 0 when
// the buffer does not tell (a progressive sps, or none of the following before the buffer ends). The NAL units up
// to the first slice decide: the pic_struct of a picture timing SEI message, when sps sets pic_struct_present_flag
// (Table D-1: 1, 3, 5 top first; 2, 4, 6 bottom first); else the first slice header, with the first PPS of the
// buffer: a field's bottom_field_flag, or for a frame the sign of delta_pic_order_cnt_bottom (pic_order_cnt_type 0
// and bottom_field_pic_order_in_frame_present_flag; below 0 the bottom field's order count is the lower one). sps
// is the stream's parsed SPS.
uint32_t H264FirstFieldOrder(const uint8_t* p, uint32_t len, const SpsInfo& sps);

// The picture properties a stream record takes from a parsed SPS.
struct H264PictureProperties {
    uint32_t width;        // after cropping
    uint32_t height;       // frame height, after cropping
    uint8_t progressive;   // frame_mbs_only_flag
    uint32_t fieldCoding;  // 0 frames only, 1 adaptive frame/field, 2 field pictures
    int64_t frameDuration; // 100-ns units
    double frameRate;      // trunc(10^9 / duration) / 100; 0 for no duration
    uint32_t aspectX;      // display aspect
    uint32_t aspectY;
};

// False (and out cleared) when the SPS is not valid.
bool DerivePictureProperties(const SpsInfo& sps, H264PictureProperties& out);

// The sample aspect the SPS's VUI states: (sar_width, sar_height) for
// aspect_ratio_idc 255 (Extended_SAR), the ISO/IEC 14496-10 Table E-1 entry for
// 1..16. False, with w and h untouched, when it states none or a term is 0.
bool SpsSampleAspect(const SpsInfo& sps, uint32_t& w, uint32_t& h);

// The sample aspect of aspect_ratio_idc (Table E-1, shared by H.264 and HEVC): sarW:sarH for 255 (Extended_SAR),
// the table's entry for 1..16. False, with w and h untouched, for any other idc or a zero term.
bool SampleAspectOfIdc(uint32_t idc, uint32_t sarW, uint32_t sarH, uint32_t& w, uint32_t& h);

// Display aspect of a width x height picture with sample aspect sarW:sarH of
// aspect_ratio_idc idc. The 720-wide NTSC and PAL pictures whose idc names a
// 4:3 or 16:9 frame keep that shape, although their sample aspects do not
// multiply out to exactly 133 or 177; any other picture as AspectFromSampleAspect.
void H264DisplayAspect(uint32_t width, uint32_t height, uint32_t idc, uint32_t sarW, uint32_t sarH, uint32_t& x,
                       uint32_t& y);

// Stream-record profile code: 0 Baseline (66), 1 Main (77), 2 High (100); with
// stereoHigh also 3 for Stereo High (128). Any other profile gives 0.
uint32_t H264ProfileCode(uint32_t profile_idc, bool stereoHigh);

}  // namespace md
