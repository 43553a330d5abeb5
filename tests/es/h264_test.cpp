// Parameter sets are written with a bit writer following the syntax tables of
// ISO/IEC 14496-10 (7.3.2.1, 7.3.2.2, E.1); expected values are worked out by
// hand from the fields written.
#include "es/h264.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "support/bit_writer.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;
using mdtest::BitWriter;

uint32_t Len(const Bytes& b) { return static_cast<uint32_t>(b.size()); }
void Append(Bytes& b, std::initializer_list<uint8_t> more) { b.insert(b.end(), more); }

void PutUe(BitWriter& w, uint64_t v)
{
    const unsigned bits = static_cast<unsigned>(std::bit_width(v + 1));
    w.Put(v + 1, 2 * bits - 1);  // bits - 1 zeros, then v + 1
}
void PutSe(BitWriter& w, int64_t v) { PutUe(w, v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }

// Inserts emulation_prevention_three_byte where two zeros meet a byte <= 3 (7.4.1).
Bytes Escape(const Bytes& rbsp)
{
    Bytes out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3)
            out.push_back(3), zeros = 0;
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// The SPS fields the tests vary. Defaults: Main profile, 1920x1088 coded, progressive, no VUI.
struct SpsFields {
    uint32_t profile = 77, constraintFlags = 0b0100'0000, level = 40, spsId = 0;
    uint32_t chromaFormat = 1, bitDepthLuma = 0;      // High profiles
    std::vector<std::vector<int32_t>> scalingDeltas;  // per list, empty = absent; none = no matrix
    uint32_t log2MaxFrameNumMinus4 = 0, pocType = 0, log2MaxPocLsbMinus4 = 2;
    std::vector<int32_t> pocOffsets;  // pic_order_cnt_type 1
    uint32_t maxRefFrames = 4, widthMbsMinus1 = 119, heightMapUnitsMinus1 = 67;
    bool frameMbsOnly = true, mbaff = false, crop = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    bool vui = false, aspectInfo = false;
    uint32_t aspectIdc = 0, sarW = 0, sarH = 0;
    bool timing = false;
    uint32_t numUnitsInTick = 0, timeScale = 0;
    bool hrd = false;  // NAL and VCL HRD, cpbCntMinus1 + 1 CPBs each
    uint32_t cpbCntMinus1 = 0;
};

void PutHrd(BitWriter& w, uint32_t cpbCntMinus1)
{
    PutUe(w, cpbCntMinus1);
    w.Put(0x46, 8);  // bit_rate_scale 4, cpb_size_scale 6
    for (uint32_t i = 0; i <= cpbCntMinus1; ++i)
        PutUe(w, 1000 + i), PutUe(w, 3000 + i), w.PutBit(i % 2 == 1);
    w.Put(23, 5), w.Put(23, 5), w.Put(23, 5), w.Put(24, 5);
}

Bytes WriteSpsRbsp(const SpsFields& f)
{
    BitWriter w;
    w.Put(0x67, 8);  // nal_ref_idc 3, nal_unit_type 7
    w.Put(f.profile, 8), w.Put(f.constraintFlags, 8), w.Put(f.level, 8), PutUe(w, f.spsId);
    if (f.profile == 100 || f.profile == 110 || f.profile == 122 || f.profile == 244 || f.profile == 128 ||
        f.profile == 144) {
        PutUe(w, f.chromaFormat);
        if (f.chromaFormat == 3)
            w.PutBit(false);  // separate_colour_plane_flag
        PutUe(w, f.bitDepthLuma), PutUe(w, f.bitDepthLuma), w.PutBit(false);  // .., qpprime_y_zero_transform_bypass
        w.PutBit(!f.scalingDeltas.empty());
        for (size_t i = 0; i < 8 && !f.scalingDeltas.empty(); ++i) {
            const bool present = i < f.scalingDeltas.size() && !f.scalingDeltas[i].empty();
            w.PutBit(present);
            for (size_t j = 0; present && j < f.scalingDeltas[i].size(); ++j)
                PutSe(w, f.scalingDeltas[i][j]);
        }
    }
    PutUe(w, f.log2MaxFrameNumMinus4), PutUe(w, f.pocType);
    if (f.pocType == 0) {
        PutUe(w, f.log2MaxPocLsbMinus4);
    } else if (f.pocType == 1) {
        w.PutBit(false), PutSe(w, -2), PutSe(w, 1);  // offset_for_non_ref_pic, offset_for_top_to_bottom_field
        PutUe(w, f.pocOffsets.size());
        for (int32_t o : f.pocOffsets)
            PutSe(w, o);
    }
    PutUe(w, f.maxRefFrames), w.PutBit(false);  // gaps_in_frame_num_value_allowed_flag
    PutUe(w, f.widthMbsMinus1), PutUe(w, f.heightMapUnitsMinus1), w.PutBit(f.frameMbsOnly);
    if (!f.frameMbsOnly)
        w.PutBit(f.mbaff);
    w.PutBit(true), w.PutBit(f.crop);  // direct_8x8_inference_flag
    if (f.crop)
        PutUe(w, f.cropLeft), PutUe(w, f.cropRight), PutUe(w, f.cropTop), PutUe(w, f.cropBottom);
    w.PutBit(f.vui);
    if (f.vui) {
        w.PutBit(f.aspectInfo);
        if (f.aspectInfo)
            w.Put(f.aspectIdc, 8);
        if (f.aspectInfo && f.aspectIdc == 255)
            w.Put(f.sarW, 16), w.Put(f.sarH, 16);
        w.Put(0b10, 2);                            // overscan present, not appropriate
        w.Put(0b1'101'0'1, 6);                     // video_format 5, full range 0, colour description
        w.Put(0x010B01, 24);                       // primaries 1, transfer 11, matrix 1
        w.PutBit(true), PutUe(w, 1), PutUe(w, 2);  // chroma sample locations
        w.PutBit(f.timing);
        if (f.timing)
            w.Put(f.numUnitsInTick, 32), w.Put(f.timeScale, 32), w.PutBit(true);
        for (int k = 0; k < 2; ++k) {  // NAL, VCL
            w.PutBit(f.hrd);
            if (f.hrd)
                PutHrd(w, f.cpbCntMinus1);
        }
        if (f.hrd)
            w.PutBit(true);  // low_delay_hrd_flag
        w.Put(0b111, 3);     // pic_struct_present_flag, bitstream_restriction_flag, motion_vectors_over_pic_boundaries
        for (uint32_t v : {2u, 1u, 16u, 15u, 2u, 5u})
            PutUe(w, v);
    }
    w.PutBit(true);  // rbsp_stop_one_bit
    w.AlignZero();
    return w.Take();
}

bool Parse(const SpsFields& f, SpsInfo& sps)
{
    const Bytes b = Escape(WriteSpsRbsp(f));
    return ParseSps(b.data(), Len(b), sps);
}

H264PictureProperties Picture(const SpsFields& f)
{
    SpsInfo sps{};
    H264PictureProperties pic{};
    EXPECT_TRUE(Parse(f, sps));
    EXPECT_TRUE(DerivePictureProperties(sps, pic));
    return pic;
}

TEST(H264Unescape, RemovesEmulationPrevention)
{
    const std::pair<Bytes, Bytes> cases[] = {
        {{0, 0, 3, 1}, {0, 0, 1}},
        {{0, 0, 3, 0, 0, 3}, {0, 0, 0, 0}},
        {{0, 3, 0}, {0, 3, 0}},  // one zero only
        {{0, 0, 0, 3, 2}, {0, 0, 0, 2}},
        {{0, 0, 3, 3}, {0, 0, 3}},  // the zero count restarts after a removed byte
        {{0x12, 0, 0, 3}, {0x12, 0, 0}},
    };
    for (const auto& [in, out] : cases) {
        Bytes buf = in;
        buf.resize(Unescape(buf.data(), Len(buf)));
        EXPECT_EQ(buf, out);
    }
}

TEST(H264Sps, PictureProperties)
{
    struct Case {
        std::function<void(SpsFields&)> set;
        uint32_t width, height, progressive, fieldCoding;
        int64_t duration;
        double fps;
    };
    const Case cases[] = {
        // No VUI: 29.97 fps by default. Crop units are 2 samples / 2 lines.
        {[](SpsFields&) {}, 1920, 1088, 1, 0, 333666, 29.97},
        {[](SpsFields& f) { f.crop = true, f.cropBottom = 4; }, 1920, 1080, 1, 0, 333666, 29.97},
        {[](SpsFields& f) { f.crop = true, f.cropLeft = 3, f.cropRight = 5; }, 1904, 1088, 1, 0, 333666, 29.97},
        // Field MB pairs: 34 map units x 32 lines, crop units of 4 lines: 1088 - 8.
        {[](SpsFields& f) { f.frameMbsOnly = false, f.mbaff = true, f.heightMapUnitsMinus1 = 33, f.crop = true,
                            f.cropBottom = 2; },
         1920, 1080, 0, 1, 333666, 29.97},
        {[](SpsFields& f) { f.frameMbsOnly = false, f.heightMapUnitsMinus1 = 17, f.widthMbsMinus1 = 44; },
         720, 576, 0, 2, 333666, 29.97},
        // VUI timing: (num_units_in_tick * 10^7 / time_scale) * 2; fps = trunc(10^9 / duration) / 100.
        {[](SpsFields& f) { f.vui = f.timing = true, f.numUnitsInTick = 1001, f.timeScale = 48000; },
         1920, 1088, 1, 0, 417082, 23.97},
        {[](SpsFields& f) { f.vui = f.timing = true, f.numUnitsInTick = 1, f.timeScale = 0; },
         1920, 1088, 1, 0, 333666, 29.97},
        {[](SpsFields& f) { f.vui = f.timing = true, f.numUnitsInTick = 0, f.timeScale = 50; },
         1920, 1088, 1, 0, 0, 0.0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SpsFields f;
        cases[i].set(f);
        const H264PictureProperties pic = Picture(f);
        const Case& c = cases[i];
        EXPECT_EQ(std::tuple(pic.width, pic.height, uint32_t(pic.progressive), pic.fieldCoding),
                  std::tuple(c.width, c.height, c.progressive, c.fieldCoding))
            << i;
        EXPECT_EQ(pic.frameDuration, c.duration) << i;
        EXPECT_DOUBLE_EQ(pic.frameRate, c.fps) << i;
    }
    H264PictureProperties pic{};
    EXPECT_FALSE(DerivePictureProperties(SpsInfo{}, pic));
    EXPECT_EQ(H264ProfileCode(128, false), 0u);  // Stereo High only when asked for
    EXPECT_EQ(H264ProfileCode(128, true), 3u);

    // Display aspect from the sample aspect: the DVD sizes go by the sample
    // aspect code even where 100 X/Y is 136 or 181; otherwise 133 and 177 snap
    // to 4:3 and 16:9 and anything else stays unreduced.
    const uint32_t aspects[][7] = {
        // width and height in MBs, aspect_ratio_info_present, idc, sar_width, X, Y
        {45, 30, 1, 3, 0, 4, 3},         // 720x480, 10:11
        {45, 36, 1, 4, 0, 16, 9},        // 720x576, 16:11
        {45, 36, 1, 255, 64, 16, 9},     // 64:45: 46080 / 25920 → 177
        {90, 68, 1, 14, 0, 5760, 3264},  // 1440x1088 at 4:3 → 176: unreduced
        {22, 18, 1, 16, 0, 704, 288},    // 2:1
        {22, 18, 1, 0, 0, 352, 288},     // unspecified → picture size
        {22, 18, 1, 255, 0, 352, 288},   // sar_width 0 → picture size
        {45, 36, 0, 0, 0, 720, 576},
    };
    for (const auto& a : aspects) {
        SpsFields f;
        f.widthMbsMinus1 = a[0] - 1, f.heightMapUnitsMinus1 = a[1] - 1;
        f.vui = true, f.aspectInfo = a[2] != 0, f.aspectIdc = a[3], f.sarW = a[4], f.sarH = a[4] ? 45 : 11;
        const H264PictureProperties p = Picture(f);
        EXPECT_EQ(std::pair(p.aspectX, p.aspectY), std::pair(a[5], a[6])) << a[0] << "x" << a[1] << " idc " << a[3];
    }
}

TEST(H264Sps, VuiHrdScalingListsPocAndEmulationPrevention)
{
    // Every field after the HRDs, the scaling lists and the POC cycle comes out
    // right only when all of their bits were consumed.
    SpsFields f;
    f.profile = 100, f.constraintFlags = 0;
    f.scalingDeltas.resize(8);
    f.scalingDeltas[0] = {2, 1, -3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // 10, 11, 8, 8, ...
    f.scalingDeltas[1] = {-8};                                               // first entry 0 → Default_4x4_Intra
    f.scalingDeltas[2] = {4, -12};  // 12, then 0 ends the deltas: 12 repeats
    f.scalingDeltas[3] = std::vector<int32_t>(16, 0);
    f.scalingDeltas[3][0] = -10;  // 8 - 10 wraps to 254
    f.scalingDeltas[6] = std::vector<int32_t>(64, 0);
    f.scalingDeltas[7] = {-8};  // Default_8x8_Inter
    f.pocType = 1, f.pocOffsets = {-1, 5, 100};
    f.vui = f.timing = true, f.numUnitsInTick = 1, f.timeScale = 60;
    f.hrd = true, f.cpbCntMinus1 = 1;
    // num_units_in_tick 1 is written 00 00 00 01, which needs an escape; the
    // parser reads through it and leaves the caller's bytes alone.
    const Bytes escaped = Escape(WriteSpsRbsp(f));
    const Bytes copy = escaped;
    const uint8_t epb[] = {0, 0, 3};
    ASSERT_NE(std::search(escaped.begin(), escaped.end(), std::begin(epb), std::end(epb)), escaped.end());
    SpsInfo sps{};
    ASSERT_TRUE(ParseSps(escaped.data(), Len(escaped), sps));
    EXPECT_EQ(escaped, copy);
    const ScalingLists& s = sps.scaling;
    EXPECT_EQ((std::array{s.list4x4[0][0], s.list4x4[0][1], s.list4x4[0][15]}), (std::array{10u, 11u, 8u}));
    EXPECT_EQ((std::array{s.list4x4[1][0], s.list4x4[1][1], s.list4x4[1][15]}), (std::array{6u, 13u, 42u}));
    EXPECT_EQ((std::array{s.list4x4[2][15], s.list4x4[3][15], s.present_flag[4], s.list4x4[4][0]}),
              (std::array{12u, 254u, 0u, 0u}));
    EXPECT_EQ((std::array{s.list8x8[0][63], s.list8x8[1][0], s.list8x8[1][63]}), (std::array{8u, 9u, 35u}));
    EXPECT_EQ(sps.offset_for_non_ref_pic, -2);
    EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, 3u);
    EXPECT_EQ(sps.offset_for_ref_frame[2], 100);
    EXPECT_EQ(sps.max_num_ref_frames, 4u);
    EXPECT_EQ(sps.transfer_characteristics, 11u);
    EXPECT_EQ(sps.chroma_sample_loc_type_bottom_field, 2u);
    EXPECT_EQ(std::pair(sps.num_units_in_tick, sps.time_scale), std::pair(1u, 60u));
    EXPECT_EQ(sps.frameDuration, 333332);  // 10^7 / 60 = 166666, twice
    EXPECT_EQ(sps.nal_hrd.bit_rate_value_minus1[1], 1001u);
    EXPECT_EQ(sps.vcl_hrd.cpb_size_value_minus1[1], 3001u);
    EXPECT_EQ(sps.vcl_hrd.cbr_flag[1], 1u);
    EXPECT_EQ(sps.vcl_hrd.time_offset_length, 24u);
    EXPECT_EQ(sps.low_delay_hrd_flag, 1u);
    EXPECT_EQ(sps.log2_max_mv_length_horizontal, 16u);
    EXPECT_EQ(sps.max_dec_frame_buffering, 5u);

    // cpb_cnt_minus1 of 32 or more ends that HRD; the parse still succeeds.
    f.cpbCntMinus1 = 32;
    ASSERT_TRUE(Parse(f, sps));
    EXPECT_EQ(sps.nal_hrd.bit_rate_scale, 0u);

    // 4:4:4 reads separate_colour_plane_flag too.
    SpsFields hi444;
    hi444.profile = 144, hi444.constraintFlags = 0, hi444.chromaFormat = 3, hi444.bitDepthLuma = 2;
    ASSERT_TRUE(Parse(hi444, sps));
    EXPECT_EQ(sps.bit_depth_chroma_minus8, 2u);
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 119u);
}

TEST(H264Sps, RangeChecks)
{
    using Set = std::function<void(SpsFields&)>;
    // Each pair: the largest accepted value, then the first rejected one.
    const std::pair<Set, Set> bounds[] = {
        {[](SpsFields& f) { f.spsId = 31; }, [](SpsFields& f) { f.spsId = 32; }},
        {[](SpsFields& f) { f.log2MaxFrameNumMinus4 = 12; }, [](SpsFields& f) { f.log2MaxFrameNumMinus4 = 13; }},
        {[](SpsFields& f) { f.pocType = 2; }, [](SpsFields& f) { f.pocType = 3; }},
        {[](SpsFields& f) { f.log2MaxPocLsbMinus4 = 12; }, [](SpsFields& f) { f.log2MaxPocLsbMinus4 = 13; }},
        {[](SpsFields& f) { f.pocType = 1, f.pocOffsets.assign(255, -7); },
         [](SpsFields& f) { f.pocType = 1, f.pocOffsets.assign(256, -7); }},
        {[](SpsFields& f) { f.maxRefFrames = 16; }, [](SpsFields& f) { f.maxRefFrames = 17; }},
        // Crops must leave a picture: 2 * 959 < 1920 columns; 4 * 271 < 1088 field lines.
        {[](SpsFields& f) { f.crop = true, f.cropLeft = 959; }, [](SpsFields& f) { f.crop = true, f.cropLeft = 960; }},
        {[](SpsFields& f) { f.frameMbsOnly = false, f.heightMapUnitsMinus1 = 33, f.crop = true, f.cropTop = 271; },
         [](SpsFields& f) { f.frameMbsOnly = false, f.heightMapUnitsMinus1 = 33, f.crop = true, f.cropTop = 272; }},
        {[](SpsFields&) {}, [](SpsFields& f) { f.crop = true, f.cropTop = f.cropBottom = 0xFFFFFFFEu; }},
        // Sizes that would overflow the pixel arithmetic.
        {[](SpsFields& f) { f.widthMbsMinus1 = 1000; }, [](SpsFields& f) { f.widthMbsMinus1 = 0xFFFFFFF0u; }},
        {[](SpsFields& f) { f.heightMapUnitsMinus1 = 1000; }, [](SpsFields& f) { f.heightMapUnitsMinus1 = 100000; }},
        // Profiles: 244 is not accepted; constraint_set4_flag and reserved_zero_2bits must be 0.
        {[](SpsFields& f) { f.profile = 144, f.constraintFlags = 0; },
         [](SpsFields& f) { f.profile = 244, f.constraintFlags = 0; }},
        {[](SpsFields& f) { f.constraintFlags = 0xF0; }, [](SpsFields& f) { f.constraintFlags = 0x08; }},
        {[](SpsFields&) {}, [](SpsFields& f) { f.constraintFlags = 0x01; }},
        {[](SpsFields& f) { f.profile = 100, f.chromaFormat = 3; },
         [](SpsFields& f) { f.profile = 100, f.chromaFormat = 4; }},
        {[](SpsFields& f) { f.profile = 100, f.bitDepthLuma = 6; },
         [](SpsFields& f) { f.profile = 100, f.bitDepthLuma = 7; }},
        {[](SpsFields& f) { f.profile = 100, f.scalingDeltas = {std::vector<int32_t>(16, 0)};
                            f.scalingDeltas[0][0] = 127; },
         [](SpsFields& f) { f.profile = 100, f.scalingDeltas = {{128}}; }},
    };
    for (size_t i = 0; i < std::size(bounds); ++i) {
        SpsFields ok, bad;
        bounds[i].first(ok);
        bounds[i].second(bad);
        SpsInfo sps{};
        EXPECT_TRUE(Parse(ok, sps) && sps.valid) << i;
        sps.valid = true;
        EXPECT_FALSE(Parse(bad, sps)) << i;
        EXPECT_FALSE(sps.valid) << i;
    }
    SpsInfo sps{};
    const uint8_t header[] = {0x67};
    EXPECT_FALSE(ParseSps(header, 1, sps));
    EXPECT_FALSE(ParseSps(nullptr, 8, sps));
}

struct PpsFields {
    uint32_t spsId = 0, sliceGroupsMinus1 = 0, mapType = 0, mapUnitsMinus1 = 5;
    bool writeIds = true;
    uint32_t refIdxL0 = 2, refIdxL1 = 0;
    bool extension = false, transform8x8 = true, scalingMatrix = false;
    size_t trailingZeros = 0;
};

Bytes WritePps(const PpsFields& f)
{
    BitWriter w;
    w.Put(0x68, 8), PutUe(w, 1), PutUe(w, f.spsId);  // pic_parameter_set_id 1
    w.Put(0b10, 2);  // entropy_coding_mode_flag 1, bottom_field_pic_order_in_frame_present_flag 0
    PutUe(w, f.sliceGroupsMinus1);
    if (f.sliceGroupsMinus1 > 0) {
        PutUe(w, f.mapType);
        if (f.mapType == 0) {
            for (uint32_t i = 0; i <= f.sliceGroupsMinus1; ++i)
                PutUe(w, 10 + i);
        } else if (f.mapType == 2) {
            for (uint32_t i = 0; i < f.sliceGroupsMinus1; ++i)
                PutUe(w, 20 + i), PutUe(w, 30 + i);
        } else if (f.mapType >= 3 && f.mapType <= 5) {
            w.PutBit(true), PutUe(w, 6);
        } else if (f.mapType == 6) {
            PutUe(w, f.mapUnitsMinus1);
            const unsigned bits = static_cast<unsigned>(std::bit_width(f.sliceGroupsMinus1));
            for (uint32_t i = 0; f.writeIds && i <= f.mapUnitsMinus1; ++i)
                w.Put(i % (f.sliceGroupsMinus1 + 1), bits);
        }
    }
    PutUe(w, f.refIdxL0), PutUe(w, f.refIdxL1);
    w.Put(0b0'01, 3);                         // weighted_pred_flag 0, weighted_bipred_idc 1
    PutSe(w, -3), PutSe(w, 0), PutSe(w, -2);  // pic_init_qp/qs_minus26, chroma_qp_index_offset
    w.Put(0b100, 3);  // deblocking control present; no constrained intra, no redundant_pic_cnt
    if (f.extension) {
        w.PutBit(f.transform8x8), w.PutBit(f.scalingMatrix);
        for (int i = 0; f.scalingMatrix && i < 6 + 2 * f.transform8x8; ++i) {
            w.PutBit(i == 0 || i == 7);
            if (i == 0 || i == 7)
                PutSe(w, -8);  // default list
        }
        PutSe(w, 3);  // second_chroma_qp_index_offset
    }
    w.PutBit(true);
    w.AlignZero();
    w.Put(0, 8 * static_cast<unsigned>(f.trailingZeros));
    return Escape(w.Take());
}

bool Parse(const PpsFields& f, PpsInfo& pps)
{
    const Bytes b = WritePps(f);
    return ParsePps(b.data(), Len(b), pps);
}

TEST(H264Pps, FieldsMoreRbspDataAndSliceGroups)
{
    PpsFields f;
    PpsInfo pps{};
    ASSERT_TRUE(Parse(f, pps));
    EXPECT_EQ(pps.entropy_coding_mode_flag, 1u);
    EXPECT_EQ(pps.num_ref_idx_l0_default_active_minus1, 2u);
    EXPECT_EQ(pps.weighted_bipred_idc, 1u);
    EXPECT_EQ(pps.pic_init_qp_minus26, -3);
    EXPECT_EQ(pps.deblocking_filter_control_present_flag, 1u);
    // No more RBSP data: the second offset copies the first. Trailing zero
    // bytes after the stop bit do not count as data.
    for (size_t zeros : {0, 2}) {
        f.trailingZeros = zeros;
        ASSERT_TRUE(Parse(f, pps));
        EXPECT_EQ(pps.transform_8x8_mode_flag, 0u) << zeros;
        EXPECT_EQ(pps.second_chroma_qp_index_offset, -2) << zeros;
    }
    f.extension = true;
    ASSERT_TRUE(Parse(f, pps));
    EXPECT_EQ(pps.transform_8x8_mode_flag, 1u);
    EXPECT_EQ(pps.second_chroma_qp_index_offset, 3);
    // With the 8x8 transform, eight lists; without it six.
    f.scalingMatrix = true;
    ASSERT_TRUE(Parse(f, pps));
    EXPECT_EQ(pps.scaling.list8x8[1][63], 35u);
    EXPECT_EQ(pps.second_chroma_qp_index_offset, 3);
    f.transform8x8 = false;
    ASSERT_TRUE(Parse(f, pps));
    EXPECT_EQ(pps.scaling.present_flag[7], 0u);
    EXPECT_EQ(pps.second_chroma_qp_index_offset, 3);

    // Map types 0, 2, 4 with four groups, type 6 with 4, 5 and 2 groups (2, 3, 1 bits per id).
    const std::pair<uint32_t, uint32_t> maps[] = {{3, 0}, {3, 2}, {3, 4}, {3, 6}, {4, 6}, {1, 6}};
    for (auto [groupsMinus1, type] : maps) {
        PpsFields g;
        g.sliceGroupsMinus1 = groupsMinus1, g.mapType = type;
        ASSERT_TRUE(Parse(g, pps)) << type;
        EXPECT_EQ(pps.num_ref_idx_l0_default_active_minus1, 2u) << type;
        EXPECT_EQ(pps.chroma_qp_index_offset, -2) << type;
        if (type == 2) {
            EXPECT_EQ((std::array{pps.top_left[2], pps.bottom_right[2], pps.top_left[3]}), (std::array{22u, 32u, 0u}));
        }
    }
    EXPECT_EQ(pps.pic_size_in_map_units_minus1, 5u);
}

TEST(H264Pps, RangeChecks)
{
    using Set = std::function<void(PpsFields&)>;
    const std::pair<Set, Set> bounds[] = {
        {[](PpsFields& f) { f.spsId = 31; }, [](PpsFields& f) { f.spsId = 32; }},
        {[](PpsFields& f) { f.sliceGroupsMinus1 = 7; }, [](PpsFields& f) { f.sliceGroupsMinus1 = 8; }},
        {[](PpsFields& f) { f.sliceGroupsMinus1 = 1, f.mapType = 6; },
         [](PpsFields& f) { f.sliceGroupsMinus1 = 1, f.mapType = 7; }},
        {[](PpsFields& f) { f.refIdxL0 = 31; }, [](PpsFields& f) { f.refIdxL0 = 32; }},
        {[](PpsFields& f) { f.refIdxL1 = 31; }, [](PpsFields& f) { f.refIdxL1 = 32; }},
        // More slice_group_id entries than the unit has bits for.
        {[](PpsFields& f) { f.sliceGroupsMinus1 = 3, f.mapType = 6; },
         [](PpsFields& f) { f.sliceGroupsMinus1 = 3, f.mapType = 6, f.mapUnitsMinus1 = 100000, f.writeIds = false; }},
    };
    for (size_t i = 0; i < std::size(bounds); ++i) {
        PpsFields ok, bad;
        bounds[i].first(ok);
        bounds[i].second(bad);
        PpsInfo pps{};
        EXPECT_TRUE(Parse(ok, pps) && pps.valid) << i;
        EXPECT_FALSE(Parse(bad, pps) || pps.valid) << i;
    }
}

TEST(H264Scan, UnitsBeforeTheFirstSlice)
{
    Bytes buf;
    Append(buf, {0, 0, 0, 1, 0x09, 0x10});                       // AUD at 0
    Append(buf, {0, 0, 1, 0x06, 0x05, 0x01, 0xAA, 0x80});        // SEI at 6
    Append(buf, {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0x80});     // SPS at 14
    Append(buf, {0, 0, 1, 0x68, 0xCE, 0x3C, 0x80});              // PPS at 23
    Append(buf, {0, 0, 1, 0x67, 0x4D, 0x00, 0x28, 0x80});        // second SPS at 30
    Append(buf, {0, 0, 0, 0, 1, 0x06, 0x01, 0x01, 0x00, 0x80});  // SEI at 39; the zero at 38 ends the SPS
    Append(buf, {0, 0, 1, 0x65, 0x88, 0x84});                    // IDR at 48
    Append(buf, {0, 0, 1, 0x67, 0x00, 0x00, 0x00});              // after the slice: not counted
    NalScanInfo info{};
    ASSERT_TRUE(ScanNalUnits(buf.data(), Len(buf), info));
    EXPECT_EQ(info.idrFound, 1u);
    EXPECT_EQ(info.firstSps, buf.data() + 14);
    EXPECT_EQ(info.firstSpsLength, 9u);
    EXPECT_EQ(std::pair(info.spsCount, info.ppsCount), std::pair(2u, 1u));
    EXPECT_EQ((std::array{info.sei[0], info.sei[1], info.sei[2]}),
              (std::array<const uint8_t*, 3>{buf.data() + 6, buf.data() + 39, nullptr}));
    EXPECT_EQ(std::pair(info.seiLength[0], info.seiLength[1]), std::pair(8u, 9u));

    // A non-IDR slice ends the scan without the flag; an IDR slice first gives no SPS.
    const Bytes p = {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x41, 0x9A, 0, 0, 1, 0x65, 0, 0};
    ASSERT_TRUE(ScanNalUnits(p.data(), Len(p), info));
    EXPECT_EQ(info.idrFound, 0u);
    EXPECT_EQ(info.firstSpsLength, 5u);
    const Bytes idr = {0, 0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x67, 0x42, 0};
    ASSERT_TRUE(ScanNalUnits(idr.data(), Len(idr), info));
    EXPECT_EQ(info.idrFound, 1u);
    EXPECT_EQ(info.firstSps, nullptr);
    EXPECT_EQ(info.spsCount, 0u);

    // The walk stops 4 bytes before the end; an SPS that nothing closes keeps length 0.
    Bytes tail = {0, 0, 1, 0x65};
    ASSERT_TRUE(ScanNalUnits(tail.data(), Len(tail), info));
    EXPECT_EQ(info.idrFound, 0u);
    tail.push_back(0x88);
    ASSERT_TRUE(ScanNalUnits(tail.data(), Len(tail), info));
    EXPECT_EQ(info.idrFound, 1u);
    const Bytes open = {0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0x80};
    ASSERT_TRUE(ScanNalUnits(open.data(), Len(open), info));
    EXPECT_EQ(info.firstSps, open.data());
    EXPECT_EQ(info.firstSpsLength, 0u);
    EXPECT_FALSE(ScanNalUnits(nullptr, 10, info));

    // At most 128 SEI units are recorded.
    Bytes many;
    for (int i = 0; i < 130; ++i)
        Append(many, {0, 0, 1, 0x06, 0x05, 0x00, 0x80});
    Append(many, {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65, 0, 0});
    ASSERT_TRUE(ScanNalUnits(many.data(), Len(many), info));
    EXPECT_EQ(info.sei[127], many.data() + 127 * 7);
    EXPECT_EQ(info.seiLength[127], 7u);
    EXPECT_EQ(info.firstSps, many.data() + 130 * 7);
    EXPECT_EQ(info.idrFound, 1u);
}

const Bytes kMarkerPayload = {0xa7, 0x46, 0x02, 0xbb, 0xf8, 0xa1, 0x4c, 0xc0, 0xa9, 0x36, 0x48,
                              0xe3, 0x91, 0xdc, 0xe7, 0x61, 'Z',  'P',  'I',  'D',  0x92, 0x9b,
                              0x52, 0xf4, 0x8d, 0x72, 0x96, 0x8c, 0xc2, 0x92, 0x00, 0x00};

// An SEI unit: the given prefix (start code, header, earlier messages, type and
// size of the last), the marker payload, then extra bytes and the stop bit.
Bytes Sei(std::initializer_list<uint8_t> prefix, std::initializer_list<uint8_t> extra = {})
{
    Bytes b(prefix);
    b.insert(b.end(), kMarkerPayload.begin(), kMarkerPayload.end());
    b.insert(b.end(), extra);
    b.push_back(0x80);
    return b;
}

TEST(H264MarkerSei, Recognition)
{
    const Bytes marker = Sei({0, 0, 0, 1, 0x06, 0x05, 0x20});
    ASSERT_EQ(marker.size(), 40u);
    auto edit = [&](size_t at, uint8_t value) {
        Bytes b = marker;
        b[at] = value;
        return b;
    };
    const struct {
        const char* what;
        Bytes unit;
        size_t from, length;  // length 0: to the end
        bool found;
    } cases[] = {
        {"four-byte start code", marker, 0, 0, true},
        {"three-byte start code", marker, 1, 0, true},
        {"no start code", marker, 4, 0, true},
        {"cut inside the payload", marker, 0, 30, false},
        {"a longer payload that starts with the marker", Sei({0, 0, 1, 0x06, 0x05, 0x24}, {1, 2, 3, 4}), 0, 0, true},
        // After a message of type 255 + 1 whose payload needed emulation
        // prevention (00 00 00 00 sent as 00 00 03 00 00).
        {"after an escaped message",
         Sei({0, 0, 1, 0x06, 0xFF, 0x01, 0x04, 0x00, 0x00, 0x03, 0x00, 0x00, 0x05, 0x20}), 0, 0, true},
        {"a payload of 31 bytes", edit(6, 31), 0, 0, false},
        {"another UUID", edit(7, 0xdc), 0, 0, false},
        {"another payload type", edit(5, 0x04), 0, 0, false},
        {"no SEI header in the first five bytes", {0, 0, 0, 1, 0x67, 0x06, 0x05, 0x20}, 0, 0, false},
        {"a payload size past the unit", {0, 0, 1, 0x06, 0x01, 0xFF, 0xFF, 0x10, 0x00}, 0, 0, false},
    };
    for (const auto& c : cases) {
        const uint32_t length = c.length ? uint32_t(c.length) : Len(c.unit) - uint32_t(c.from);
        EXPECT_EQ(HasMarkerSei(c.unit.data() + c.from, length), c.found) << c.what;
    }
    EXPECT_FALSE(HasMarkerSei(nullptr, 40));

    // In a scan: an x264-style version SEI first, then the marker.
    const Bytes version = {0, 0, 0, 1, 0x06, 0x05, 0x10, 0xdc, 0x45, 0xe9, 0xbd, 0xe6, 0xd9, 0x48, 0xb7,
                           0x96, 0x2c, 0xd8, 0x20, 0xd9, 0x23, 0xee, 0xef, 0x80};
    const Bytes rest = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0x80, 0, 0, 1, 0x65, 0x88, 0x00};
    for (bool withMarker : {true, false}) {
        Bytes buf = version;
        if (withMarker)
            buf.insert(buf.end(), marker.begin(), marker.end());
        buf.insert(buf.end(), rest.begin(), rest.end());
        NalScanInfo info{};
        uint32_t index = 99;
        ASSERT_TRUE(ScanNalUnits(buf.data(), Len(buf), info));
        ASSERT_NE(info.sei[0], nullptr);
        EXPECT_EQ(FindMarkerSei(info, index), withMarker);
        if (withMarker) {
            EXPECT_EQ(index, 1u);
        }
    }
}

TEST(H264RealFile, Es128x128)
{
    std::ifstream in(std::filesystem::path(MD_REALWORLD_DIR) / "h264_es_128x128.h264", std::ios::binary);
    if (!in)
        GTEST_SKIP() << "h264_es_128x128.h264 not available";
    const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    NalScanInfo scan{};
    ASSERT_TRUE(ScanNalUnits(data.data(), Len(data), scan));
    EXPECT_EQ(std::tuple(scan.idrFound, scan.spsCount, scan.ppsCount), std::tuple(1u, 1u, 1u));
    EXPECT_NE(scan.sei[0], nullptr);  // the encoder's version SEI, not the marker
    uint32_t index = 0;
    EXPECT_FALSE(FindMarkerSei(scan, index));
    ASSERT_NE(scan.firstSps, nullptr);
    ASSERT_GT(scan.firstSpsLength, 4u);

    // Expected values from the ffprobe reference: High, level 51, 128x128, 25/1, progressive.
    SpsInfo sps{};
    ASSERT_TRUE(ParseSps(scan.firstSps + 4, scan.firstSpsLength - 4, sps));
    EXPECT_EQ(std::pair(sps.profile_idc, sps.level_idc), std::pair(100u, 51u));
    H264PictureProperties pic{};
    ASSERT_TRUE(DerivePictureProperties(sps, pic));
    EXPECT_EQ(std::tuple(pic.width, pic.height, uint32_t(pic.progressive)), std::tuple(128u, 128u, 1u));
    EXPECT_EQ(pic.frameDuration, 400000);
    EXPECT_DOUBLE_EQ(pic.frameRate, 25.0);
    EXPECT_EQ(std::pair(pic.aspectX, pic.aspectY), std::pair(1u, 1u));

    // The PPS follows the SPS, up to the next 00 00 01 (which takes one of its
    // zero bytes along); the version SEI says cabac=1 and 8x8dct=1.
    const uint8_t* pps = scan.firstSps + scan.firstSpsLength + 4;
    ASSERT_LT(pps + 8, data.data() + data.size());
    ASSERT_EQ(pps[0] & 0x1F, 8);
    const uint8_t sc[] = {0, 0, 1};
    const uint8_t* end = std::search(pps, data.data() + data.size(), std::begin(sc), std::end(sc));
    PpsInfo ppsInfo{};
    ASSERT_TRUE(ParsePps(pps, static_cast<uint32_t>(end - pps), ppsInfo));
    EXPECT_EQ(std::pair(ppsInfo.entropy_coding_mode_flag, ppsInfo.transform_8x8_mode_flag), std::pair(1u, 1u));
}

}  // namespace
}  // namespace md
