// The video object layer of 'mp4v'; values by hand from ISO/IEC 14496-2.
#include <gtest/gtest.h>

#include <vector>

#include "mp4/sample_entry.h"
#include "support/bit_writer.h"
#include "support/mp4_builders.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Visual object sequence and header, then a 352x288 interlaced layer of aspect 10:11 with the optional fields.
struct VolFields {
    bool vbv = false;  // vol_control_parameters with 79 bits of vbv_parameters
    uint32_t shape = 0;
    uint32_t resolution = 25;
    unsigned incrementBits = 0;  // fixed_vop_time_increment (all ones); 0: no fixed_vop_rate
};

Bytes VolBytes(const VolFields& f)
{
    mdtest::BitWriter w;
    for (uint32_t word : {0x000001B0u, 0x01000001u, 0xB5090000u, 0x01000000u, 0x00000120u})
        w.Put(word, 32);
    w.Put(0x02, 10);  // random_accessible_vol, simple object type, is_object_layer_identifier
    w.Put(3, 4);  // aspect_ratio_info
    w.Put(f.vbv, 1);
    if (f.vbv) {
        w.Put(0x7, 4);  // chroma_format 4:2:0, low_delay, vbv_parameters
        for (int i = 0; i < 79; ++i)
            w.Put(i % 2, 1);
    }
    w.Put(f.shape << 1 | 1, 3);
    w.Put(f.resolution, 16);
    w.Put(2 | (f.incrementBits != 0), 2);
    w.Put((uint64_t(1) << f.incrementBits) - 1, f.incrementBits);
    w.Put(uint64_t(1) << 27 | 352 << 14 | 1 << 13 | 288, 28);  // marker, width, marker, height
    w.Put(0b111, 3);  // marker, interlaced, obmc_disable
    w.AlignZero();
    return w.Take();
}

TEST(SampleEntry, VideoObjectLayer)
{
    struct Row {
        Bytes bytes;
        int32_t parWidth, parHeight, resolution, width, height;  // width 0: no layer read
    };
    // aspect_ratio_info 5 (the last ratio of ISO/IEC 14496-2 Table 6-12) is 40:33, 7 (reserved) gives none;
    // fixed_vop_time_increment is as wide as resolution - 1 needs, but at least one bit.
    Bytes cut = VolBytes({});
    cut.resize(cut.size() - 3);
    Bytes otherLayer = VolBytes({});
    otherLayer[19] = 0x21;  // video_object_layer_start_code of layer 1
    const Row rows[] = {
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 5), 40, 33, 30000, 720, 576},
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 7), -1, -1, 30000, 720, 576},
        {VolBytes({}), 10, 11, 25, 352, 288},
        {VolBytes({.vbv = true}), 10, 11, 25, 352, 288},
        {VolBytes({.resolution = 16, .incrementBits = 4}), 10, 11, 16, 352, 288},
        {VolBytes({.resolution = 1, .incrementBits = 1}), 10, 11, 1, 352, 288},
        {VolBytes({.shape = 1}), 0, 0, 0, 0, 0},  // not rectangular
        {cut, 0, 0, 0, 0, 0},  // cut before the interlaced flag
        {otherLayer, 0, 0, 0, 0, 0},
        {{}, 0, 0, 0, 0, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const auto vol =
            md::ScanVolHeader(r.bytes.data(), r.bytes.size()).value_or(md::VolHeaderInfo{0, 0, 0, 0, 1, 0});
        EXPECT_EQ(std::tuple(vol.parWidth, vol.parHeight, vol.vopTimeIncrementResolution, vol.width, vol.height,
                             vol.interlaced),
                  std::tuple(r.parWidth, r.parHeight, r.resolution, r.width, r.height, 1))
            << "row " << i;
    }
}

}  // namespace
