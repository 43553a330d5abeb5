// HEVC parameter sets written field by field (ITU-T H.265 7.3, E.2.1, D.2.3); expected values worked out by hand.
#include "es/hevc.h"

#include <gtest/gtest.h>

#include "support/bit_writer.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;
using mdtest::BitWriter;

// What the tests vary; the defaults describe a 1920x1080 Main 4:2:0 stream coded as 1920x1088.
struct Fields {
    uint32_t subLayersMinus1 = 0, chroma = 1, width = 1920, height = 1088, cropBottom = 4;
    bool progressiveSource = true, interlacedSource = false;
    bool scalingLists = false, rps = false, longTerm = false;  // structures read past
    bool vui = true, timing = true, fieldSeq = false, frameFieldInfo = false;
    bool pcm = false, vuiExtras = false;  // PCM parameters; overscan, signal type, chroma siting, display window
    uint32_t sarIdc = 1, units = 1, scale = 25;
};

void ProfileTierLevel(BitWriter& w, const Fields& f)
{
    w.Put(0, 2), w.Put(0, 1), w.Put(1, 5), w.Put(0x60000000, 32);  // space, tier, Main, compatibility
    w.PutBit(f.progressiveSource), w.PutBit(f.interlacedSource), w.Put(0, 2 + 43 + 1), w.Put(120, 8);
    for (uint32_t i = 0; i < f.subLayersMinus1; ++i)
        w.Put(0b11, 2);  // sub_layer_profile_present_flag, sub_layer_level_present_flag
    if (f.subLayersMinus1 > 0)
        w.Put(0, 2 * (8 - f.subLayersMinus1));
    for (uint32_t i = 0; i < f.subLayersMinus1; ++i)
        w.Put(0x5A5A5A5A, 32), w.Put(0xFFFFFFFF, 32), w.Put(0xA5A5A5, 24), w.Put(0xFF, 8);  // 88 + 8 bits
}

Bytes Sps(const Fields& f)
{
    BitWriter w;
    w.Put(0x4201, 16), w.Put(0, 4), w.Put(f.subLayersMinus1, 3), w.PutBit(true);
    ProfileTierLevel(w, f);
    w.PutUe(0), w.PutUe(f.chroma);
    if (f.chroma == 3)
        w.PutBit(false);  // separate_colour_plane_flag
    w.PutUe(f.width), w.PutUe(f.height);
    w.PutBit(true), w.PutUe(0), w.PutUe(0), w.PutUe(0), w.PutUe(f.cropBottom);  // conformance window
    w.PutUe(0), w.PutUe(0), w.PutUe(4);                                         // bit depths, log2_max_poc_lsb - 4
    w.PutBit(true);
    for (uint32_t i = 0; i <= f.subLayersMinus1; ++i)
        w.PutUe(4), w.PutUe(2), w.PutUe(0);
    for (uint32_t v : {0u, 3u, 0u, 3u, 1u, 1u})
        w.PutUe(v);
    w.PutBit(f.scalingLists);
    if (f.scalingLists) {
        w.PutBit(true);
        for (int sizeId = 0; sizeId < 4; ++sizeId)
            for (int m = 0; m < 6; m += sizeId == 3 ? 3 : 1) {
                w.PutBit(m % 2 == 0);  // explicit lists and predicted ones in turn
                if (m % 2)
                    w.PutUe(1);
                else
                    for (int i = sizeId > 1 ? -1 : 0; i < (sizeId == 0 ? 16 : 64); ++i)
                        w.PutSe(i % 3 - 1);
            }
    }
    w.Put(0b00, 2), w.PutBit(f.pcm);
    if (f.pcm)
        w.Put(0x77, 8), w.PutUe(0), w.PutUe(1), w.PutBit(true);
    w.PutUe(f.rps ? 3 : 0);
    if (f.rps) {
        w.PutUe(2), w.PutUe(1), w.PutUe(0), w.PutBit(true), w.PutUe(1), w.PutBit(true), w.PutUe(0), w.PutBit(true);
        // Set 1 from set 0 (three entries + 1): used, unused with use_delta 1, unused with 0, used -> 3 deltas.
        w.PutBit(true), w.PutBit(false), w.PutUe(0), w.PutBit(true), w.PutBit(false), w.PutBit(true);
        w.PutBit(false), w.PutBit(false), w.PutBit(true);
        // Set 2 from set 1: four flags, all used.
        w.PutBit(true), w.PutBit(true), w.PutUe(2), w.Put(0b1111, 4);
    }
    w.PutBit(f.longTerm);
    if (f.longTerm)
        w.PutUe(2), w.Put(0x155, 9), w.Put(0x0AA, 9);  // two of 8-bit poc lsb + used flag
    w.Put(0b11, 2), w.PutBit(f.vui);
    if (f.vui) {
        w.PutBit(f.sarIdc != 0);
        if (f.sarIdc)
            w.Put(f.sarIdc, 8);
        if (f.sarIdc == 255)
            w.Put(1, 16), w.Put(2, 16);  // Extended_SAR 1:2, the samples of a field
        if (f.vuiExtras)
            w.Put(0b11, 2), w.PutBit(true), w.Put(0x5, 4), w.PutBit(true), w.Put(0x010101, 24), w.PutBit(true),
                w.PutUe(1), w.PutUe(2);
        else
            w.Put(0, 3);
        w.PutBit(false), w.PutBit(f.fieldSeq), w.PutBit(f.frameFieldInfo), w.PutBit(f.vuiExtras);
        if (f.vuiExtras)
            w.PutUe(0), w.PutUe(0), w.PutUe(3), w.PutUe(5);
        w.PutBit(f.timing);
        if (f.timing)
            w.Put(f.units, 32), w.Put(f.scale, 32), w.PutBit(false), w.PutBit(false);
        w.PutBit(false);
    }
    w.PutBit(true), w.AlignZero();
    return mdtest::EscapeRbsp(w.Take());
}

Bytes Vps(uint32_t units, uint32_t scale)
{
    BitWriter w;
    w.Put(0x4001, 16), w.Put(0, 4), w.Put(0b11, 2), w.Put(0, 6), w.Put(0, 3), w.PutBit(true), w.Put(0xFFFF, 16);
    ProfileTierLevel(w, Fields{});
    w.PutBit(true), w.PutUe(4), w.PutUe(2), w.PutUe(0), w.Put(0, 6), w.PutUe(0);
    w.PutBit(true), w.Put(units, 32), w.Put(scale, 32), w.PutBit(false), w.PutUe(0), w.PutBit(false);
    w.PutBit(true), w.AlignZero();
    return mdtest::EscapeRbsp(w.Take());
}

// A prefix SEI with one pic_timing message whose first four bits are pic_struct.
Bytes PicTiming(uint32_t picStruct) { return {0x4E, 0x01, 0x01, 0x01, uint8_t(picStruct << 4 | 0x4), 0x80}; }

// Each unit after a start code: 00 00 01, or 00 00 00 01 as a codec header holds them.
Bytes AnnexB(const std::vector<Bytes>& units, bool fourBytes = true)
{
    Bytes out;
    for (const Bytes& u : units) {
        out.insert(out.end(), fourBytes ? 4u : 3u, 0);
        out.back() = 1;
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

// hvcC: 22 bytes of header, then one array (type, count 1, length) of each unit.
Bytes HvcC(const std::vector<Bytes>& units)
{
    Bytes config(22, 0);
    config.push_back(uint8_t(units.size()));
    for (const Bytes& u : units) {
        config.insert(config.end(), {uint8_t(0x80 | u[0] >> 1), 0, 1, uint8_t(u.size() >> 8), uint8_t(u.size())});
        config.insert(config.end(), u.begin(), u.end());
    }
    return config;
}

TEST(Hevc, PictureProperties)
{
    struct Case {
        const char* name;
        Fields f;
        std::initializer_list<Bytes> extra;  // units after the SPS
        uint32_t width, height, aspectX, aspectY, progressive, fieldOrder;
        double rate;
    };
    const Bytes slice = {0x26, 0x01, 0xAF};  // an IDR slice ends the scan
    const Case cases[] = {
        {"1080p25", {}, {slice}, 1920, 1080, 16, 9, 1, 0, 25},
        {"read past sub-layers, scaling lists, reference sets", {.subLayersMinus1 = 2, .scalingLists = true,
         .rps = true, .longTerm = true, .units = 1001, .scale = 30000}, {slice}, 1920, 1080, 16, 9, 1, 0, 29.97},
        {"fields of 1920x544 at 50 Hz, bottom first", {.height = 544, .cropBottom = 2, .fieldSeq = true,
         .frameFieldInfo = true, .sarIdc = 255, .units = 1, .scale = 50}, {PicTiming(2), slice}, 1920, 540, 16, 9, 0,
         2, 50},
        {"frames of two fields, top first", {.frameFieldInfo = true}, {PicTiming(3), slice}, 1920, 1080, 16, 9, 0, 1,
         25},
        {"frames stated as frames", {.progressiveSource = false, .interlacedSource = true, .frameFieldInfo = true},
         {PicTiming(0), slice}, 1920, 1080, 16, 9, 1, 0, 25},
        {"interlaced source without pic_struct", {.progressiveSource = false, .interlacedSource = true}, {slice},
         1920, 1080, 16, 9, 0, 1, 25},
        {"4:2:2 crops a luma row per unit; 12:11 samples of a 576-line picture", {.chroma = 2, .width = 720, .height = 580,
         .cropBottom = 4, .sarIdc = 2}, {slice}, 720, 576, 4, 3, 1, 0, 25},
        {"no VUI timing: the VPS's", {.timing = false}, {Vps(1001, 60000), slice}, 1920, 1080, 16, 9, 1, 0, 59.94},
        {"read past 4:4:4's colour plane flag, PCM and the VUI fields before the timing",
         {.chroma = 3, .cropBottom = 8, .pcm = true, .vuiExtras = true, .units = 1001, .scale = 60000}, {slice}, 1920,
         1080, 16, 9, 1, 0, 59.94},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Bytes> units = {Sps(c.f)};
        units.insert(units.end(), c.extra.begin(), c.extra.end());
        const Bytes stream = AnnexB(units, (&c - cases) % 2 == 1);  // every other row with four-byte start codes
        HevcPictureProperties p{};
        ASSERT_TRUE(DescribeHevcAnnexB(stream.data(), stream.size(), p));
        EXPECT_EQ(std::tuple(p.width, p.height, p.aspectX, p.aspectY, p.progressive, p.fieldOrder, p.profile, p.level),
                  std::tuple(c.width, c.height, c.aspectX, c.aspectY, c.progressive, c.fieldOrder, 1u, 120u));
        EXPECT_DOUBLE_EQ(p.frameRate, c.rate);
    }
}

TEST(Hevc, DamagedAndPackagedUnits)
{
    const Bytes sps = Sps({.subLayersMinus1 = 1, .scalingLists = true, .rps = true});
    HevcSps parsed{};
    for (size_t cut = 2; cut + 1 < sps.size(); ++cut)  // every cut short of the timing fields fails
        EXPECT_FALSE(ParseHevcSps(sps.data(), cut, parsed)) << cut;
    EXPECT_TRUE(ParseHevcSps(sps.data(), sps.size(), parsed));

    // An escaped tick count, a VPS before the SPS and four-byte start codes are PictureProperties' rows; here an hvcC.
    HevcPictureProperties fromConfig{};
    Bytes config = HvcC({Sps({})});
    ASSERT_TRUE(DescribeHevcConfiguration(config.data(), config.size(), fromConfig));
    EXPECT_EQ(std::pair(fromConfig.width, fromConfig.height), std::pair(1920u, 1080u));
    config.erase(config.end() - 3, config.end());  // a unit cut short is not read
    EXPECT_FALSE(DescribeHevcConfiguration(config.data(), config.size(), fromConfig));
    EXPECT_FALSE(DescribeHevcAnnexB(nullptr, 10, fromConfig));
}

// The codec headers: VPS and SPS into extra data 1, PPS into extra data 2, each after 00 00 00 01, only those
// before the first picture; a second collection replaces the first.
TEST(Hevc, ParameterSetsAsCodecHeaders)
{
    const Bytes vps = Vps(1, 25), sps = Sps({}), pps = {0x44, 0x01, 0xC1, 0x72};
    const Bytes stream = AnnexB({vps, sps, pps, {0x26, 0x01, 0xAF}, Sps({.units = 2, .scale = 50})});
    auto r = NewStreamRecord();
    for (int round = 0; round < 2; ++round)
        CollectHevcHeaders(stream.data(), stream.size(), false, *r);
    EXPECT_EQ(Bytes(r->extraData1, r->extraData1 + r->extraData1Length), AnnexB({vps, sps}));
    EXPECT_EQ(Bytes(r->extraData2, r->extraData2 + r->extraData2Length), AnnexB({pps}));

    const Bytes config = HvcC({sps, pps});
    CollectHevcHeaders(config.data(), config.size(), true, *r);
    EXPECT_EQ(Bytes(r->extraData1, r->extraData1 + r->extraData1Length), AnnexB({sps}));
    EXPECT_EQ(Bytes(r->extraData2, r->extraData2 + r->extraData2Length), AnnexB({pps}));
}

}  // namespace
}  // namespace md
