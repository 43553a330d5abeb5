// HEVC (ITU-T H.265) video and sequence parameter sets, the pic_struct of a
// picture timing SEI, and the picture properties a stream record takes from
// them -- found in an Annex B byte stream (transport streams, bare streams) or
// in an HEVCDecoderConfigurationRecord ('hvcC' in MP4, CodecPrivate in Matroska).
//
// Field names are the syntax element names of the standard. Records are
// value-initialised by the parsers; `valid` is set only when the structure was
// read to the last field the record keeps without running out of data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/stream_record.h"

namespace md {

// The general part of profile_tier_level() (7.3.3).
struct HevcProfile {
    uint32_t general_profile_space;
    uint32_t general_tier_flag;
    uint32_t general_profile_idc;  // 1 Main, 2 Main 10, 3 Main Still Picture, 4 format range extensions, ...
    uint32_t general_progressive_source_flag;
    uint32_t general_interlaced_source_flag;
    uint32_t general_level_idc;  // 30 x level number
};

struct HevcVps {
    uint32_t vps_max_sub_layers_minus1;
    HevcProfile ptl;
    uint32_t vps_timing_info_present_flag;
    uint32_t vps_num_units_in_tick;
    uint32_t vps_time_scale;
    bool valid;
};

struct HevcSps {
    uint32_t sps_max_sub_layers_minus1;
    HevcProfile ptl;
    uint32_t chroma_format_idc;
    uint32_t separate_colour_plane_flag;
    uint32_t pic_width_in_luma_samples;
    uint32_t pic_height_in_luma_samples;
    uint32_t conf_win_left_offset;  // in chroma sample units
    uint32_t conf_win_right_offset;
    uint32_t conf_win_top_offset;
    uint32_t conf_win_bottom_offset;
    uint32_t bit_depth_luma_minus8;
    uint32_t bit_depth_chroma_minus8;
    uint32_t log2_max_pic_order_cnt_lsb_minus4;
    uint32_t num_short_term_ref_pic_sets;
    uint32_t vui_parameters_present_flag;
    // VUI (Annex E).
    uint32_t aspect_ratio_idc;
    uint32_t sar_width;
    uint32_t sar_height;
    uint32_t field_seq_flag;  // every picture is a field
    uint32_t frame_field_info_present_flag;  // picture timing SEIs carry pic_struct
    uint32_t vui_timing_info_present_flag;
    uint32_t vui_num_units_in_tick;
    uint32_t vui_time_scale;
    bool valid;
};

// p points at the two-byte NAL unit header; the unit is unescaped into a copy before it is read.
bool ParseHevcVps(const uint8_t* p, size_t len, HevcVps& vps);
bool ParseHevcSps(const uint8_t* p, size_t len, HevcSps& sps);

// pic_struct of the first picture timing message (payloadType 1) in a prefix SEI NAL unit (header included);
// the SPS says whether pic_timing carries it. False when there is none.
bool HevcPicStruct(const uint8_t* p, size_t len, const HevcSps& sps, uint32_t& picStruct);

struct HevcPictureProperties {
    uint32_t width;   // after the conformance window
    uint32_t height;  // of a picture (of a field when every picture is one)
    uint8_t progressive;
    uint32_t fieldOrder;     // 0 progressive or unknown, 1 top field first, 2 bottom field first
    int64_t frameDuration;   // 100-ns units; 0 when no timing is stated
    double frameRate;        // trunc(10^9 / duration) / 100; 0 without timing
    uint32_t aspectX;        // display aspect
    uint32_t aspectY;
    uint32_t profile;        // general_profile_idc
    uint32_t level;          // general_level_idc
};

// From a parsed SPS, the VPS's timing when the SPS states none (vps may be null), and the pic_struct of the first
// picture (a negative value: none). False when the SPS is not valid.
bool DeriveHevcPictureProperties(const HevcSps& sps, const HevcVps* vps, int picStruct, HevcPictureProperties& out);

// The properties from the first VPS and SPS of an Annex B buffer and the picture timing SEI before the first
// picture. False without a valid SPS.
bool DescribeHevcAnnexB(const uint8_t* p, size_t len, HevcPictureProperties& out);

// The same from an HEVCDecoderConfigurationRecord: its arrays of VPS, SPS and SEI NAL units.
bool DescribeHevcConfiguration(const uint8_t* p, size_t len, HevcPictureProperties& out);

// The parameter sets before the first picture of an Annex B buffer, or of an
// HEVCDecoderConfigurationRecord (configuration), as the record's codec headers:
// VPS and SPS after four-byte start codes into extra data 1, PPS into extra data 2,
// in place of what the record held.
void CollectHevcHeaders(const uint8_t* p, size_t len, bool configuration, StreamRecord& record);

// Codec, picture size, display aspect, frame duration and rate, interlacing and profile into a video record.
void ApplyHevcProperties(const HevcPictureProperties& props, StreamRecord& record);

}  // namespace md
