// Parameter sets written field by field (ISO/IEC 14496-10 7.3.2.1, 7.3.2.2, E.1); expected values by hand.
#include "es/h264.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;
using mdtest::BitWriter;

uint32_t Len(const Bytes& b) { return static_cast<uint32_t>(b.size()); }

// The SPS fields the tests vary. Defaults: Main profile, 1920x1088 coded, progressive, no crop, no VUI.
struct SpsFields {
    uint32_t profile = 77, constraintFlags = 0b0100'0000, level = 40, spsId = 0;
    uint32_t chromaFormat = 1, bitDepthLuma = 0;           // High profiles
    std::vector<std::vector<int32_t>> scalingDeltas = {};  // per list, empty = absent; none = no matrix
    uint32_t log2MaxFrameNumMinus4 = 0, pocType = 0, log2MaxPocLsbMinus4 = 2;
    std::vector<int32_t> pocOffsets = {};  // pic_order_cnt_type 1
    uint32_t maxRefFrames = 4, widthMbsMinus1 = 119, heightMapUnitsMinus1 = 67;
    bool frameMbsOnly = true, mbaff = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // cropping written when any is set
    bool vui = false, timing = false, hrd = false;  // hrd: NAL and VCL, cpbCntMinus1 + 1 CPBs
    uint32_t numUnitsInTick = 0, timeScale = 0, cpbCntMinus1 = 0;
};

Bytes WriteSps(const SpsFields& f)
{
    BitWriter w;
    w.Put(0x67, 8);  // nal_ref_idc 3, nal_unit_type 7
    w.Put(f.profile, 8), w.Put(f.constraintFlags, 8), w.Put(f.level, 8), w.PutUe(f.spsId);
    if (f.profile >= 100 || f.profile == 44) {  // the High profiles and CAVLC 4:4:4 Intra
        w.PutUe(f.chromaFormat), w.Put(0, f.chromaFormat == 3 ? 1 : 0);  // separate_colour_plane_flag
        w.PutUe(f.bitDepthLuma), w.PutUe(f.bitDepthLuma), w.PutBit(false);  // .., qpprime_y_zero_transform_bypass
        w.PutBit(!f.scalingDeltas.empty());
        for (size_t i = 0; !f.scalingDeltas.empty() && i < std::max<size_t>(8, f.scalingDeltas.size()); ++i) {
            const auto& list = i < f.scalingDeltas.size() ? f.scalingDeltas[i] : std::vector<int32_t>{};
            w.PutBit(!list.empty());
            for (int32_t d : list)
                w.PutSe(d);
        }
    }
    w.PutUe(f.log2MaxFrameNumMinus4), w.PutUe(f.pocType);
    if (f.pocType == 0)
        w.PutUe(f.log2MaxPocLsbMinus4);
    if (f.pocType == 1) {  // delta_pic_order_always_zero_flag, offset_for_non_ref_pic, offset_for_top_to_bottom_field
        w.PutBit(false), w.PutSe(-2), w.PutSe(1), w.PutUe(f.pocOffsets.size());
        for (int32_t o : f.pocOffsets)
            w.PutSe(o);
    }
    w.PutUe(f.maxRefFrames), w.PutBit(false);  // gaps_in_frame_num_value_allowed_flag
    w.PutUe(f.widthMbsMinus1), w.PutUe(f.heightMapUnitsMinus1), w.PutBit(f.frameMbsOnly);
    const bool crop = f.cropLeft || f.cropRight || f.cropTop || f.cropBottom;
    w.Put(f.mbaff, !f.frameMbsOnly), w.PutBit(true), w.PutBit(crop);  // .., direct_8x8_inference_flag
    if (crop)
        w.PutUe(f.cropLeft), w.PutUe(f.cropRight), w.PutUe(f.cropTop), w.PutUe(f.cropBottom);
    w.PutBit(f.vui);
    if (f.vui) {
        // No aspect; overscan not appropriate; video_format 5; primaries 1, transfer 11, matrix 1; chroma loc 1, 2.
        w.Put(0b0'10'1'101'0'1, 9), w.Put(0x010B01, 24), w.PutBit(true), w.PutUe(1), w.PutUe(2), w.PutBit(f.timing);
        w.Put(uint64_t(f.numUnitsInTick) << 32 | f.timeScale, f.timing ? 64 : 0), w.Put(1, f.timing);
        for (int k = 0; k < 2; ++k) {  // NAL, VCL
            w.PutBit(f.hrd);
            if (f.hrd) {
                w.PutUe(f.cpbCntMinus1), w.Put(0x46, 8);  // bit_rate_scale 4, cpb_size_scale 6
                for (uint32_t i = 0; i <= f.cpbCntMinus1; ++i)
                    w.PutUe(1000 + i), w.PutUe(3000 + i), w.PutBit(i % 2 == 1);
                w.Put(23, 5), w.Put(23, 5), w.Put(23, 5), w.Put(24, 5);
            }
        }
        // low_delay_hrd_flag; pic_struct_present_flag, bitstream_restriction_flag, motion_vectors_over_pic_boundaries
        w.Put(1, f.hrd), w.Put(0b111, 3);
        for (uint32_t v : {2u, 1u, 16u, 15u, 2u, 5u})
            w.PutUe(v);
    }
    w.PutBit(true), w.AlignZero();  // rbsp_stop_one_bit
    return mdtest::EscapeRbsp(w.Take());
}

bool Parse(const SpsFields& f, SpsInfo& sps, bool allProfiles = false)
{
    return ParseSps(WriteSps(f).data(), Len(WriteSps(f)), sps, allProfiles);
}

// Read only when every profile is: High 4:4:4 Predictive with twelve scaling lists (the fields after them prove
// all were read), CAVLC 4:4:4 Intra, constraint_set4/5 set; an unknown profile never.
TEST(H264Sps, EveryProfileWhenAsked)
{
    std::vector<std::vector<int32_t>> lists(12, std::vector<int32_t>(64, 1));  // 4:4:4: six 4x4, six 8x8
    for (size_t i = 0; i < 6; ++i)
        lists[i].resize(16);
    const SpsFields cases[] = {{.profile = 244, .chromaFormat = 3, .scalingDeltas = lists, .widthMbsMinus1 = 79},
                               {.profile = 44, .chromaFormat = 3, .widthMbsMinus1 = 79},
                               {.profile = 100, .constraintFlags = 0b0000'1100, .widthMbsMinus1 = 79}};
    for (const SpsFields& f : cases) {
        SpsInfo sps{};
        EXPECT_FALSE(Parse(f, sps)) << f.profile;
        ASSERT_TRUE(Parse(f, sps, true) && sps.valid) << f.profile;
        EXPECT_EQ(std::tuple(sps.profile_idc, sps.chroma_format_idc, sps.pic_width_in_mbs_minus1),
                  std::tuple(f.profile, f.chromaFormat, 79u));
    }
    SpsInfo sps{};
    EXPECT_FALSE(Parse({.profile = 245}, sps, true));
}

TEST(H264Sps, VuiHrdScalingListsPocAndEmulationPrevention)
{
    // Fields after the HRDs, lists and POC cycle are right only when all their bits were read. Lists: 10, 11, 8...;
    // 0 first → Default_4x4_Intra; 12, then 0 ends; 8 - 10 wraps to 254; absent; absent; flat; Default_8x8_Inter.
    std::vector<int32_t> list0(16, 0), list3(16, 0), list6(64, 0);  // list6: flat
    list0[0] = 2, list0[1] = 1, list0[2] = -3, list3[0] = -10;
    SpsFields f{.profile = 100, .scalingDeltas = {list0, {-8}, {4, -12}, list3, {}, {}, list6, {-8}}, .pocType = 1,
                .pocOffsets = {-1, 5, 100}, .vui = true, .timing = true, .hrd = true, .numUnitsInTick = 1,
                .timeScale = 60, .cpbCntMinus1 = 1};
    const Bytes escaped = WriteSps(f);  // num_units_in_tick 00 00 00 01 needs an emulation prevention byte
    const std::array<uint8_t, 3> prevention{0, 0, 3};
    EXPECT_NE(std::search(escaped.begin(), escaped.end(), prevention.begin(), prevention.end()), escaped.end());
    SpsInfo sps{};
    ASSERT_TRUE(Parse(f, sps));
    const ScalingLists& s = sps.scaling;
    EXPECT_EQ((std::array{s.list4x4[0][0], s.list4x4[0][1], s.list4x4[0][15], s.list4x4[2][15], s.list4x4[3][15],
                          s.present_flag[4], s.list4x4[4][0], s.list8x8[0][63]}),
              (std::array{10u, 11u, 8u, 12u, 254u, 0u, 0u, 8u}));
    EXPECT_EQ(std::tuple(sps.offset_for_non_ref_pic, sps.num_ref_frames_in_pic_order_cnt_cycle,
                         sps.offset_for_ref_frame[2], sps.max_num_ref_frames, sps.transfer_characteristics,
                         sps.chroma_sample_loc_type_bottom_field, sps.num_units_in_tick, sps.time_scale,
                         sps.frameDuration),
              std::tuple(-2, 3u, 100, 4u, 11u, 2u, 1u, 60u, int64_t(333332)));  // 10^7 / 60 = 166666, twice
    EXPECT_EQ(std::tuple(sps.nal_hrd.bit_rate_value_minus1[1], sps.vcl_hrd.cpb_size_value_minus1[1],
                         sps.vcl_hrd.cbr_flag[1], sps.vcl_hrd.time_offset_length, sps.low_delay_hrd_flag,
                         sps.log2_max_mv_length_horizontal, sps.max_dec_frame_buffering),
              std::tuple(1001u, 3001u, 1u, 24u, 1u, 16u, 5u));

    // A first delta landing on 0 selects the default lists of Tables 7-3 and 7-4 (zig-zag order).
    const std::array<uint32_t, 16> intra4 = {6, 13, 13, 20, 20, 20, 28, 28, 28, 28, 32, 32, 32, 37, 37, 42};
    const std::array<uint32_t, 64> inter8 = {
        9,  13, 13, 15, 13, 15, 17, 17, 17, 17, 19, 19, 19, 19, 19, 21, 21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22,
        24, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 27, 27, 27, 27, 27, 27, 28, 28, 28, 28, 28, 30, 30,
        30, 30, 32, 32, 32, 33, 33, 35};
    const std::array<uint32_t, 64> intra8 = {
        6,  10, 10, 13, 11, 13, 16, 16, 16, 16, 18, 18, 18, 18, 18, 23, 23, 23, 23, 23, 23, 25, 25, 25, 25, 25, 25, 25,
        27, 27, 27, 27, 27, 27, 27, 27, 29, 29, 29, 29, 29, 29, 29, 31, 31, 31, 31, 31, 31, 33, 33, 33, 33, 33, 36, 36,
        36, 36, 38, 38, 38, 40, 40, 42};
    f.scalingDeltas.assign(8, {-8});
    ASSERT_TRUE(Parse(f, sps));
    EXPECT_EQ(std::tuple(s.list4x4[2], s.list4x4[3][15], s.list8x8[0], s.list8x8[1]),
              std::tuple(intra4, 34u, intra8, inter8));  // and the last entry of Default_4x4_Inter
    f.cpbCntMinus1 = 32;  // 32 or more ends that HRD; the parse still succeeds
    EXPECT_TRUE(Parse(f, sps) && sps.nal_hrd.bit_rate_scale == 0);
}

TEST(H264Sps, RangeChecks)
{
    // The largest accepted value, then the first rejected one; 244 is not taken; crops must leave a picture.
    const std::pair<SpsFields, SpsFields> bounds[] = {
        {{.spsId = 31}, {.spsId = 32}}, {{.pocType = 2}, {.pocType = 3}}, {{.maxRefFrames = 16}, {.maxRefFrames = 17}},
        {{.log2MaxFrameNumMinus4 = 12}, {.log2MaxFrameNumMinus4 = 13}}, {{.profile = 144}, {.profile = 244}},
        {{.log2MaxPocLsbMinus4 = 12}, {.log2MaxPocLsbMinus4 = 13}}, {{}, {.cropTop = ~1u, .cropBottom = ~1u}},
        {{.heightMapUnitsMinus1 = 4095}, {.heightMapUnitsMinus1 = 4096}}, {{.cropLeft = 959}, {.cropRight = 960}},
        {{.constraintFlags = 0xF0}, {.constraintFlags = 0x08}}, {{.constraintFlags = 0xF0}, {.constraintFlags = 0x01}},
        {{.pocType = 1, .pocOffsets = std::vector(255, -7)}, {.pocType = 1, .pocOffsets = std::vector(256, -7)}},
        {{.widthMbsMinus1 = 4095}, {.widthMbsMinus1 = 4096}}, {{.cropBottom = 543}, {.cropTop = 544}},
        {{.heightMapUnitsMinus1 = 33, .frameMbsOnly = false, .cropTop = 271},
         {.heightMapUnitsMinus1 = 33, .frameMbsOnly = false, .cropBottom = 272}},
        {{.profile = 100, .chromaFormat = 3}, {.profile = 100, .chromaFormat = 4}},
        {{.profile = 100, .bitDepthLuma = 6}, {.profile = 100, .bitDepthLuma = 7}},
        {{.profile = 100, .scalingDeltas = {{-128, 127, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
         {.profile = 100, .scalingDeltas = {{128}}}},
        {{}, {.profile = 100, .scalingDeltas = {{-129}}}},
    };
    for (size_t i = 0; i < std::size(bounds); ++i) {
        SpsInfo sps{};
        EXPECT_TRUE(Parse(bounds[i].first, sps) && sps.valid) << i;
        sps.valid = true;
        EXPECT_FALSE(Parse(bounds[i].second, sps) || sps.valid) << i;
    }
    SpsInfo sps{};
    EXPECT_FALSE(ParseSps(Bytes{0x67}.data(), 1, sps) || ParseSps(nullptr, 8, sps));  // a bare NAL header
}

// The picture is the coded size less the crops: 2 luma samples a unit across, 2 down per frame or 4 per field pair.
TEST(H264Sps, PictureSizeAfterCropping)
{
    const std::tuple<SpsFields, uint32_t, uint32_t> rows[] = {
        {{.cropLeft = 3, .cropRight = 5}, 1904, 1088},
        {{.heightMapUnitsMinus1 = 33, .frameMbsOnly = false, .cropBottom = 2}, 1920, 1080},
    };
    for (const auto& [fields, width, height] : rows) {
        SpsInfo sps{};
        H264PictureProperties picture{};
        ASSERT_TRUE(Parse(fields, sps) && DerivePictureProperties(sps, picture));
        EXPECT_EQ(std::pair(picture.width, picture.height), std::pair(width, height));
    }
}

TEST(H264Sps, DvdSampleAspect)
{
    // 720x480/576 with aspect code 2..5 go by the code even where 100 X / Y is 136 or 181; other sizes and the other
    // height's code: width x sar_width : height x sar_height.
    const uint32_t rows[][7] = {{720, 480, 3, 10, 11, 4, 3},       {720, 576, 2, 12, 11, 4, 3},
                                {720, 480, 5, 40, 33, 16, 9},      {720, 576, 4, 16, 11, 16, 9},
                                {720, 480, 2, 12, 11, 8640, 5280}, {352, 576, 2, 12, 11, 4224, 6336}};
    for (const auto& r : rows) {
        uint32_t x = 0, y = 0;
        H264DisplayAspect(r[0], r[1], r[2], r[3], r[4], x, y);
        EXPECT_EQ(std::pair(x, y), std::pair(r[5], r[6])) << r[0] << "x" << r[1] << " idc " << r[2];
    }
}

struct PpsFields {
    uint32_t spsId = 0, sliceGroupsMinus1 = 0, mapType = 0, mapUnitsMinus1 = 5, refIdxL0 = 2, refIdxL1 = 0;
    bool writeIds = true, extension = false, scalingMatrix = false;  // extension: transform_8x8_mode_flag on
    unsigned trailingZeros = 0;
    bool bottomFieldPicOrder = false;  // bottom_field_pic_order_in_frame_present_flag
};

Bytes WritePps(const PpsFields& f)
{
    BitWriter w;
    w.Put(0x68, 8), w.PutUe(1), w.PutUe(f.spsId);  // pic_parameter_set_id 1
    w.PutBit(true), w.PutBit(f.bottomFieldPicOrder);  // entropy_coding_mode_flag 1, bottom_field_pic_order_...
    w.PutUe(f.sliceGroupsMinus1);
    if (f.sliceGroupsMinus1 > 0) {
        w.PutUe(f.mapType);
        for (uint32_t i = 0; f.mapType == 0 && i <= f.sliceGroupsMinus1; ++i)
            w.PutUe(10 + i);  // run_length_minus1
        for (uint32_t i = 0; f.mapType == 2 && i < f.sliceGroupsMinus1; ++i)
            w.PutUe(20 + i), w.PutUe(30 + i);  // top_left, bottom_right
        if (f.mapType >= 3 && f.mapType <= 5)
            w.PutBit(true), w.PutUe(6);  // slice_group_change_direction_flag, slice_group_change_rate_minus1
        if (f.mapType == 6)
            w.PutUe(f.mapUnitsMinus1);
        for (uint32_t i = 0; f.mapType == 6 && f.writeIds && i <= f.mapUnitsMinus1; ++i)  // slice_group_id
            w.Put(i % (f.sliceGroupsMinus1 + 1), static_cast<unsigned>(std::bit_width(f.sliceGroupsMinus1)));
    }
    w.PutUe(f.refIdxL0), w.PutUe(f.refIdxL1);
    w.Put(0b0'01, 3);                      // weighted_pred_flag 0, weighted_bipred_idc 1
    w.PutSe(-3), w.PutSe(0), w.PutSe(-2);  // pic_init_qp/qs_minus26, chroma_qp_index_offset
    w.Put(0b100, 3);  // deblocking control present; no constrained intra, no redundant_pic_cnt
    if (f.extension) {  // transform_8x8_mode_flag; scaling lists 0 and 7 default, the others absent
        w.PutBit(true), w.PutBit(f.scalingMatrix);
        for (int i = 0; f.scalingMatrix && i < 8; ++i)
            i == 0 || i == 7 ? (w.PutBit(true), w.PutSe(-8)) : w.PutBit(false);  // 0 as first delta: default list
        w.PutSe(3);  // second_chroma_qp_index_offset
    }
    w.PutBit(true), w.AlignZero(), w.Put(0, 8 * f.trailingZeros);
    return mdtest::EscapeRbsp(w.Take());
}

bool Parse(const PpsFields& f, PpsInfo& pps) { return ParsePps(WritePps(f).data(), Len(WritePps(f)), pps); }

TEST(H264Pps, FieldsMoreRbspDataAndSliceGroups)
{
    // No more RBSP data (trailing zeros do not count): the second chroma offset copies the first.
    PpsInfo pps{};
    ASSERT_TRUE(Parse(PpsFields{.trailingZeros = 2}, pps));
    EXPECT_EQ(std::tuple(pps.entropy_coding_mode_flag, pps.weighted_bipred_idc, pps.pic_init_qp_minus26,
                         pps.deblocking_filter_control_present_flag, pps.transform_8x8_mode_flag,
                         pps.second_chroma_qp_index_offset),
              std::tuple(1u, 1u, -3, 1u, 0u, -2));
    ASSERT_TRUE(Parse(PpsFields{.extension = true, .scalingMatrix = true}, pps));
    EXPECT_EQ(std::tuple(pps.transform_8x8_mode_flag, pps.scaling.present_flag[7], pps.scaling.list8x8[1][63],
                         pps.second_chroma_qp_index_offset),
              std::tuple(1u, 1u, 35u, 3));

    // groups - 1, type, run_length_minus1[3], top_left[2], bottom_right[2], change rate, map units - 1 (2, 3, 1 bits)
    const uint32_t maps[][7] = {{3, 0, 13, 0, 0, 0, 0}, {3, 2, 0, 22, 32, 0, 0}, {3, 4, 0, 0, 0, 6, 0},
                                {3, 6, 0, 0, 0, 0, 5},  {4, 6, 0, 0, 0, 0, 5},   {1, 6, 0, 0, 0, 0, 5}};
    for (const auto& m : maps) {
        ASSERT_TRUE(Parse(PpsFields{.sliceGroupsMinus1 = m[0], .mapType = m[1]}, pps)) << m[1];
        EXPECT_EQ(std::tuple(pps.run_length_minus1[3], pps.top_left[2], pps.bottom_right[2], pps.top_left[3],
                             pps.slice_group_change_direction_flag, pps.slice_group_change_rate_minus1,
                             pps.pic_size_in_map_units_minus1, pps.num_ref_idx_l0_default_active_minus1),
                  std::tuple(m[2], m[3], m[4], 0u, m[1] == 4 ? 1u : 0u, m[5], m[6], 2u))
            << m[0] << " " << m[1];
    }
}

TEST(H264Pps, RangeChecks)
{
    // The last pair: more slice_group_id entries than the unit has bits for.
    const std::pair<PpsFields, PpsFields> bounds[] = {
        {{.spsId = 31}, {.spsId = 32}}, {{.sliceGroupsMinus1 = 7}, {.sliceGroupsMinus1 = 8}},
        {{.sliceGroupsMinus1 = 1, .mapType = 6}, {.sliceGroupsMinus1 = 1, .mapType = 7}},
        {{.refIdxL0 = 31}, {.refIdxL0 = 32}}, {{.refIdxL1 = 31}, {.refIdxL1 = 32}},
        {{.sliceGroupsMinus1 = 3, .mapType = 6},
         {.sliceGroupsMinus1 = 3, .mapType = 6, .mapUnitsMinus1 = 100000, .writeIds = false}},
    };
    for (size_t i = 0; i < std::size(bounds); ++i) {
        PpsInfo pps{};
        EXPECT_TRUE(Parse(bounds[i].first, pps) && pps.valid) << i;
        EXPECT_FALSE(Parse(bounds[i].second, pps) || pps.valid) << i;
    }
    PpsInfo pps{};
    EXPECT_FALSE(ParsePps(nullptr, 8, pps));
}

// An SEI unit: the prefix (start code, header, earlier messages, type and size), the marker, the stop bit.
Bytes Sei(std::initializer_list<uint8_t> prefix)
{
    Bytes b(prefix);
    b.insert(b.end(), {0xa7, 0x46, 0x02, 0xbb, 0xf8, 0xa1, 0x4c, 0xc0, 0xa9, 0x36, 0x48, 0xe3, 0x91, 0xdc, 0xe7, 0x61,
                       'Z',  'P',  'I',  'D',  0x92, 0x9b, 0x52, 0xf4, 0x8d, 0x72, 0x96, 0x8c, 0xc2, 0x92, 0, 0, 0x80});
    return b;
}

TEST(H264MarkerSei, Recognition)
{
    const Bytes marker = Sei({0, 0, 0, 1, 0x06, 0x05, 0x20});
    Bytes otherUuid = marker;
    otherUuid[7] = 0xdc;
    const std::tuple<Bytes, uint32_t, bool> cases[] = {  // unit, bytes cut off, found
        {marker, 0, true}, {marker, 10, false}, {otherUuid, 0, false},
        // After a message of type 255 + 1 whose payload needed emulation prevention (00 00 00 00 as 00 00 03 00 00).
        {Sei({0, 0, 1, 0x06, 0xFF, 0x01, 0x04, 0x00, 0x00, 0x03, 0x00, 0x00, 0x05, 0x20}), 0, true},
        {{0, 0, 1, 0x06, 0x01, 0xFF, 0xFF, 0x10, 0x00}, 0, false},        // a payload size past the unit
        {{0, 0, 1, 0x06, 0x01, 0x01, 0x00, 0x80, 0x05, 0x20}, 0, false},  // a message, then the trailing bits
        // A type or a size whose 0xFF bytes run to the end of the unit: nothing is read past it.
        {{0, 0, 1, 0x06, 0xFF, 0xFF}, 0, false},
        {{0, 0, 1, 0x06, 0x05, 0xFF, 0xFF}, 0, false},
    };
    for (const auto& [unit, cut, found] : cases)
        EXPECT_EQ(HasMarkerSei(unit.data(), Len(unit) - cut), found) << testing::PrintToString(unit);
    EXPECT_FALSE(HasMarkerSei(nullptr, 40));

    // In a scan: an x264-style version SEI first, then the marker, then an SPS and a slice.
    Bytes buf = {0, 0, 0, 1, 0x06, 0x05, 0x10, 0xdc, 0x45, 0xe9, 0xbd, 0xe6, 0xd9, 0x48, 0xb7, 0x96, 0x2c, 0xd8, 0x20,
                 0xd9, 0x23, 0xee, 0xef, 0x80};
    buf.insert(buf.end(), marker.begin(), marker.end());
    buf.insert(buf.end(), {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0x80, 0, 0, 1, 0x65, 0x88, 0x00});
    NalScanInfo info{};
    uint32_t index = 99;
    ASSERT_TRUE(ScanNalUnits(buf.data(), Len(buf), info));
    EXPECT_TRUE(FindMarkerSei(info, index) && index == 1) << index;
}

// An Annex B unit: a four-byte start code, then the unit.
Bytes Unit(const Bytes& unit)
{
    Bytes b = {0, 0, 0, 1};
    b.insert(b.end(), unit.begin(), unit.end());
    return b;
}

// A slice's first fields (7.3.3) with the SpsFields defaults (4-bit frame_num, 6-bit pic_order_cnt_lsb), then some
// slice data: a field picture when bottomField is given (field_pic_flag, bottom_field_flag), else a frame with
// delta_pic_order_cnt_bottom when deltaBottom is given.
Bytes WriteSlice(std::optional<bool> bottomField, std::optional<int32_t> deltaBottom = std::nullopt, bool idr = true)
{
    BitWriter w;
    w.Put(idr ? 0x65 : 0x41, 8);
    w.PutUe(0), w.PutUe(7), w.PutUe(1), w.Put(0, 4);  // first_mb_in_slice, slice_type I, PPS 1, frame_num
    w.PutBit(bottomField.has_value());                // field_pic_flag
    if (bottomField) {
        w.PutBit(*bottomField);
    } else {
        if (idr)
            w.PutUe(0);  // idr_pic_id
        w.Put(0, 6);     // pic_order_cnt_lsb
        if (deltaBottom)
            w.PutSe(*deltaBottom);
    }
    w.Put(0xA5, 8), w.PutBit(true), w.AlignZero();
    return mdtest::EscapeRbsp(w.Take());
}

// An SEI unit with a user_data_unregistered message (16-byte UUID, one byte) and a picture timing message:
// cpb_removal_delay and dpb_output_delay in 24 bits each when delays (the SpsFields HRD lengths), pic_struct, no
// clock timestamps.
Bytes WritePicTimingSei(uint32_t picStruct, bool delays)
{
    BitWriter timing;
    timing.Put(0x123456, delays ? 24 : 0), timing.Put(0x000002, delays ? 24 : 0), timing.Put(picStruct, 4);
    timing.AlignZero();
    Bytes sei = {0x06, 0x05, 17};
    sei.insert(sei.end(), 17, 0x5A);
    const Bytes payload = timing.Take();
    sei.insert(sei.end(), {0x01, uint8_t(payload.size())});
    sei.insert(sei.end(), payload.begin(), payload.end());
    sei.push_back(0x80);
    return mdtest::EscapeRbsp(sei);
}

// The field of the first picture output first: a picture timing SEI's pic_struct where the SPS announces it, else
// the first slice: a field's bottom_field_flag, a frame's delta_pic_order_cnt_bottom (below 0: bottom first).
TEST(H264FieldOrder, FirstFieldOfTheFirstPicture)
{
    SpsFields interlaced;  // MBAFF, no VUI: no pic_struct
    interlaced.frameMbsOnly = false, interlaced.mbaff = true;
    SpsFields withPicStruct = interlaced;  // the VUI sets pic_struct_present_flag
    withPicStruct.vui = true;
    SpsFields withDelays = withPicStruct;
    withDelays.hrd = true;
    const Bytes pps = Unit(WritePps({.bottomFieldPicOrder = true})), plainPps = Unit(WritePps({}));
    struct Row {
        const char* rule;
        SpsFields sps;
        Bytes buffer;
        uint32_t first;
    };
    const Row rows[] = {
        {"a frame whose bottom field counts first", interlaced, mdtest::Concat({pps, Unit(WriteSlice({}, -1))}), 2},
        {"a frame whose top field counts first", interlaced, mdtest::Concat({pps, Unit(WriteSlice({}, 1))}), 1},
        {"a non-IDR frame", interlaced, mdtest::Concat({pps, Unit(WriteSlice({}, -2, false))}), 2},
        {"no delta in the slice: the PPS leaves it out", interlaced, mdtest::Concat({plainPps, Unit(WriteSlice({}))}),
         0},
        {"no PPS before the slice", interlaced, Unit(WriteSlice({}, -1)), 0},
        {"a bottom field", interlaced, mdtest::Concat({pps, Unit(WriteSlice(true))}), 2},
        {"pic_struct 4: bottom, top, over the slice", withPicStruct,
         mdtest::Concat({Unit(WritePicTimingSei(4, false)), pps, Unit(WriteSlice({}, 1))}), 2},
        {"pic_struct 3: top, bottom", withPicStruct,
         mdtest::Concat({Unit(WritePicTimingSei(3, false)), pps, Unit(WriteSlice({}, -1))}), 1},
        {"pic_struct 6 after the HRD delays", withDelays,
         mdtest::Concat({Unit(WritePicTimingSei(6, true)), pps, Unit(WriteSlice({}))}), 2},
        {"pic_struct 2: a bottom field", withDelays, Unit(WritePicTimingSei(2, true)), 2},
        {"pic_struct 0, a frame: the slice decides", withPicStruct,
         mdtest::Concat({Unit(WritePicTimingSei(0, false)), pps, Unit(WriteSlice({}, -1))}), 2},
        {"a picture timing SEI the SPS does not announce", interlaced,
         mdtest::Concat({Unit(WritePicTimingSei(4, false)), pps, Unit(WriteSlice({}, 1))}), 1},
        {"a slice cut in its header", interlaced, mdtest::Concat({pps, Bytes{0, 0, 1, 0x65, 0x88}}), 0},
        {"a progressive SPS", SpsFields{}, mdtest::Concat({pps, Unit(WriteSlice({}, -1))}), 0},
    };
    for (const Row& row : rows) {
        SpsInfo sps{};
        ASSERT_TRUE(Parse(row.sps, sps)) << row.rule;
        EXPECT_EQ(H264FirstFieldOrder(row.buffer.data(), Len(row.buffer), sps), row.first) << row.rule;
    }
    SpsInfo sps{};
    ASSERT_TRUE(Parse(interlaced, sps));
    EXPECT_EQ(H264FirstFieldOrder(nullptr, 100, sps), 0u);
}

}  // namespace
}  // namespace md
