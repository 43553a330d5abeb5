// MPEG-1/2 video headers (ISO/IEC 11172-2, 13818-2 6.2) and the start-code scans, written from the syntax tables.
#include "es/mpeg_video.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "es/start_code.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::Bits;
using mdtest::ByteVec;

uint32_t Len(const ByteVec& b) { return uint32_t(b.size()); }
std::string N(uint32_t v) { return std::to_string(v); }

// 64 quantiser matrix entries of one value.
std::string Matrix(uint32_t value)
{
    std::string s;
    for (int i = 0; i < 64; ++i)
        s += " 8:" + N(value);
    return s + " ";
}

// sequence_header() of 720x576, aspect 2: the frame_rate_code, then the fields from bit_rate_value on.
ByteVec Seq(const std::string& rest, uint32_t rateCode = 3, const std::string& size = "12:720 12:576 4:2")
{
    return Bits("32:0x1B3 " + size + " 4:" + N(rateCode) + " " + rest);
}
const std::string kRest = "18:15000 1:1 10:112 3:0";

// sequence_extension(): profile_and_level_indication 0x48, 4:2:0; the size and bit-rate extensions as given.
ByteVec SeqExt(const std::string& sizes, uint32_t id = 1)
{
    return Bits("32:0x1B5 4:" + N(id) + " 8:0x48 1:0 2:1 " + sizes + " 1:1 16:0");
}

TEST(MpegVideo, SequenceHeader)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    const std::string kIntra = "18:15000 1:1 10:112 1:0 1:1";  // intra matrix follows
    // Bytes, bytes cut off, SequenceHeaderLength, parsed, bit rate, vbv buffer size.
    const std::tuple<ByteVec, uint32_t, uint32_t, bool, uint32_t, uint32_t> rows[] = {
        {Seq(kRest), 0, 12, true, 6000000, 229376},  // 15000 x 400 bit/s, 112 x 2048 bytes
        // The non-intra flag moves to byte 75; 0xFF bytes make a wrong flag position visible.
        {Seq(kIntra + Matrix(255) + "1:0"), 0, 76, true, 6000000, 229376},
        {Seq(kIntra + Matrix(16) + "1:1" + Matrix(16)), 0, 140, true, 6000000, 229376},
        {Seq(kIntra + Matrix(255)), 1, 0, false, 0, 0},  // the flag byte not there
        // vbv_buffer_size below 20000 bytes reads 40960; with constrained_parameters_flag at most 40960.
        {Seq("18:15000 1:1 10:9 3:0"), 0, 12, true, 6000000, 40960},
        {Seq("18:15000 1:1 10:21 1:1 2:0"), 0, 12, true, 6000000, 40960},
        {Seq(kRest, 3, "12:720 12:576 4:0"), 0, 12, false, 0, 0}, {Seq("18:15000 1:0 10:112 3:0"), 0, 12, false, 0, 0},
    };  // the last two: aspect code 0, marker_bit 0
    for (const auto& [b, cut, length, ok, bitRate, vbv] : rows) {
        SCOPED_TRACE(testing::PrintToString(b));
        EXPECT_EQ(SequenceHeaderLength(b.data(), Len(b) - cut), length);
        *info = {};
        info->profile = 77;  // left alone
        ASSERT_EQ(ParseSequenceHeader(b.data(), Len(b) - cut, *info, kAspectMpeg2), ok);
        EXPECT_EQ(std::tuple(info->width, info->height, info->aspectX, info->aspectY, info->profile, info->bitRate,
                             info->vbvBufferSize, uint32_t(info->headerLength)),
                  ok ? std::tuple(720u, 576u, 4u, 3u, 77u, bitRate, vbv, length)
                     : std::tuple(0u, 0u, 0u, 0u, 77u, 0u, 0u, 0u));  // untouched
        EXPECT_TRUE(!ok || ByteVec(info->header, info->header + length) == b);  // the header copied
    }
    EXPECT_FALSE(ParseSequenceHeader(nullptr, 12, *info, kAspectMpeg2));

    // frame_rate_code (Table 6-4): 100-ns units, 90 kHz (duration * 9 / 1000 truncated); 9..15 read without bit 3.
    const double rates[][4] = {{1, 417083, 23.976, 3753}, {2, 416666, 24.0, 3749},  {3, 400000, 25.0, 3600},
                               {4, 333667, 29.97, 3003},  {5, 333333, 30.0, 2999},  {6, 200000, 50.0, 1800},
                               {7, 166833, 59.94, 1501},  {8, 166666, 60.0, 1499},  {15, 166833, 59.94, 1501}};
    for (const auto& r : rates) {
        ASSERT_TRUE(ParseSequenceHeader(Seq(kRest, uint32_t(r[0])).data(), 12, *info, kAspectMpeg2)) << r[0];
        EXPECT_EQ(std::tuple(double(info->frameDuration), info->frameRate, double(info->statedFrameDuration)),
                  std::tuple(r[1], r[2], r[3])) << r[0];
    }

    // MPEG-1: X = width, Y = height x pel ratio (float, truncated); MPEG-2 (Table 6-3): reserved → 4:3; others 4:3.
    const uint32_t pelHeights[15] = {0, 1000, 673, 703, 761, 805, 843, 893, 937, 981, 1025, 1069, 1125, 1157, 1201};
    const uint32_t displayAspects[5][2] = {{0, 0}, {1, 1}, {4, 3}, {16, 9}, {221, 100}};
    for (uint32_t code = 1; code < 16; ++code) {
        const ByteVec b = Seq(kRest, 3, "12:352 12:1000 4:" + N(code));
        EXPECT_EQ(ParseSequenceHeader(b.data(), Len(b), *info, kAspectMpeg1), code < 15) << code;
        EXPECT_TRUE(code == 15 || std::pair(info->aspectX, info->aspectY) == std::pair(352u, pelHeights[code])) << code;
        ASSERT_TRUE(ParseSequenceHeader(b.data(), Len(b), *info, kAspectMpeg2));
        EXPECT_EQ(std::pair(info->aspectX, info->aspectY),
                  code < 5 ? std::pair(displayAspects[code][0], displayAspects[code][1]) : std::pair(4u, 3u)) << code;
        ASSERT_TRUE(ParseSequenceHeader(b.data(), Len(b), *info, 0));
        EXPECT_EQ(std::pair(info->aspectX, info->aspectY), std::pair(4u, 3u)) << code;
    }
}

TEST(MpegVideo, SequenceExtensionsAndAspect)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    const ByteVec seq = Seq(kRest), gop = mdtest::GopHeaderFlags();
    // Profile 4, level 8; 6000000 + 4095 x 2^18 x 400 wraps mod 2^32. Then fewer than 14 bytes; extension id 2.
    const std::tuple<ByteVec, bool, uint32_t, uint32_t, uint32_t> extensions[] = {
        {mdtest::Concat({SeqExt("2:1 2:2 12:1"), gop}), true, 720 + 4096, 576 + 8192, 6000000 + 104857600},
        {mdtest::Concat({SeqExt("2:2 2:1 12:4095"), gop}), true, 720 + 8192, 576 + 4096, 4196109696},
        {SeqExt("2:0 2:0 12:0"), false, 720, 576, 6000000},
        {mdtest::Concat({SeqExt("2:1 2:1 12:0", 2), gop}), false, 720, 576, 6000000},
    };
    for (const auto& [ext, ok, width, height, bitRate] : extensions) {
        ASSERT_TRUE(ParseSequenceHeader(seq.data(), Len(seq), *info, kAspectMpeg2));
        info->profile = info->level = 0;
        EXPECT_EQ(ApplySequenceExtension(ext.data(), Len(ext), *info), ok);
        EXPECT_EQ(std::tuple(info->width, info->height, info->bitRate, info->profile, info->level),
                  std::tuple(width, height, bitRate, ok ? 4u : 0u, ok ? 8u : 0u));
    }

    // frame_rate_extension_n/d = 2/4 scale the rate by 3/5 where the extension is read (MD_EXT_FRAME_RATES).
    const ByteVec rated = mdtest::Concat({Bits("32:0x1B5 4:1 8:0x48 1:0 2:1 2:0 2:0 12:0 1:1 8:0 1:0 2:2 5:4"), gop});
    for (const bool read : {false, true}) {
        ASSERT_TRUE(ParseSequenceHeader(seq.data(), Len(seq), *info, kAspectMpeg2));
        const double rate = info->frameRate;
        const int64_t duration = info->frameDuration;
        ASSERT_TRUE(ApplySequenceExtension(rated.data(), Len(rated), *info, read));
        EXPECT_EQ(std::tuple(info->frameRate, info->frameDuration),
                  read ? std::tuple(rate * 3 / 5, duration * 5 / 3) : std::tuple(rate, duration));
    }
    uint32_t n = 0, d = 0;
    EXPECT_TRUE(ReadFrameRateExtension(rated.data(), Len(rated), n, d) && n == 3 && d == 5);
    EXPECT_FALSE(ReadFrameRateExtension(rated.data(), 9, n, d));
    EXPECT_EQ(std::tuple(n, d), std::tuple(1u, 1u));
}

// An H.264 non-IDR slice (nal_unit_type 1): first_mb_in_slice and slice_type.
ByteVec Slice(uint32_t firstMb, uint32_t sliceType)
{
    return Bits("32:0x141 ue:" + N(firstMb) + " ue:" + N(sliceType) + " 1:1 16:0xFFFF");
}

// sequence_display_extension: extension id 2, video_format, colour_description (three colour bytes when set), then
// display_horizontal_size, a marker bit and display_vertical_size.
TEST(MpegVideo, SequenceDisplayExtension)
{
    for (const bool colour : {false, true}) {
        ByteVec b = Bits("32:0x1B5 4:2 3:1 1:" + N(colour) + (colour ? " 24:0x010101" : "") + " 14:720 1:1 14:576 3:0");
        uint32_t width = 0, height = 0;
        EXPECT_TRUE(ReadDisplaySize(b.data(), uint32_t(b.size()), width, height));
        EXPECT_EQ(std::pair(width, height), std::pair(720u, 576u)) << colour;
        b.pop_back();  // the sizes cut short
        EXPECT_FALSE(ReadDisplaySize(b.data(), uint32_t(b.size()), width, height));
    }
    uint32_t width = 7, height = 7;
    EXPECT_TRUE(ReadDisplaySize(nullptr, 10, width, height) && width == 7 && height == 7);
}

TEST(StartCode, PictureType)
{
    using mdtest::PictureHeaderFields;
    const ByteVec idr = {0, 0, 1, 0x65, 0x88};
    // Bytes, mode, bytes cut off, type: -1 none, 0 I, 1 P, 2 B, 3 IDR.
    const std::tuple<ByteVec, uint32_t, uint32_t, int> rows[] = {
        // MPEG video: the first picture with coding type 1..3 (a D picture, 4, is skipped); the coding type cut off.
        {mdtest::Concat({PictureHeaderFields(0, 4), PictureHeaderFields(1, 3)}), kModeMpegVideo, 0, 2},
        {PictureHeaderFields(0, 1), kModeMpegVideo, 3, -1}, {PictureHeaderFields(0, 1), kModeMpegVideo, 0, 0},
        // H.264: IDR → 3; slices by slice_type when first_mb_in_slice is 0 (not 5); slice_type 10; an SPS.
        {idr, kModeH264, 0, 3}, {idr, kModeH264, 2, -1}, {idr, 9, 0, -1}, {Slice(0, 10), kModeH264, 0, -1},
        {mdtest::Concat({Slice(5, 2), Slice(0, 1)}), kModeMvc, 0, 2}, {{0, 0, 1, 0x67, 0x42, 0x00}, kModeH264, 0, -1},
    };
    for (const auto& [b, mode, cut, type] : rows)
        EXPECT_EQ(PictureType(b.data(), Len(b) - cut, mode), type) << testing::PrintToString(b);
    const int expect[10] = {1, 2, 0, 1, 0, 1, 2, 0, 1, 0};  // P B I SP SI, then +5
    for (uint32_t t = 0; t < 10; ++t)
        EXPECT_EQ(PictureType(Slice(0, t).data(), Len(Slice(0, t)), kModeH264), expect[t]) << t;
}

// ParseVolHeader (ISO/IEC 14496-2 6.2.3): aspect_ratio_info 1 is square, 2 and 3 (the 4:3 pel shapes) 4:3, 4 and 5
// 16:9, 15 (extended_PAR, its two bytes passed over) and the reserved codes none; vbv_parameters give the bit rate
// and buffer size (400 bit/s and 16384-bit units), else 2 Mbit/s and 16384; fixed_vop_time_increment takes
// bit_width(vop_time_increment_resolution) bits here.
TEST(MpegVideo, VolHeader)
{
    const auto vol = [](uint32_t aspect, const std::string& control) {
        return Bits("32:0x120 1:0 8:1 1:0 4:" + N(aspect) + (aspect == 15 ? " 8:10 8:11" : "") + " " + control +
                    " 2:0 1:1 16:25 1:1 1:1 5:1 1:1 13:352 1:1 13:288 1:1 1:0 1:1 32:0x1B6");
    };
    // first_half_bit_rate 1, latter 2: (1 << 15) + 2 = 32770 x 400; buffer (3 << 3) + 5 = 29 x 16384.
    const std::string vbv = "1:1 2:1 1:0 1:1 15:1 1:1 15:2 1:1 15:3 1:1 3:5 11:0 1:1 15:0 1:1";
    const std::tuple<uint32_t, std::string, uint32_t, uint32_t, uint32_t, uint32_t> rows[] = {
        {1, "1:0", 1, 1, 2000000, 16384},  {2, "1:0", 4, 3, 2000000, 16384}, {3, "1:0", 4, 3, 2000000, 16384},
        {4, "1:0", 16, 9, 2000000, 16384}, {5, "1:0", 16, 9, 2000000, 16384}, {15, "1:0", 0, 0, 2000000, 16384},
        {7, vbv, 0, 0, 32770 * 400, 29 * 16384},
    };
    for (const auto& [aspect, control, x, y, bitRate, vbvSize] : rows) {
        const ByteVec b = vol(aspect, control);
        SequenceHeaderInfo info{};
        ASSERT_TRUE(ParseVolHeader(b.data(), Len(b), info)) << aspect;
        EXPECT_EQ(std::tuple(info.aspectX, info.aspectY, info.bitRate, info.vbvBufferSize, info.width, info.height,
                             info.frameRate),
                  std::tuple(x, y, bitRate, vbvSize, 352u, 288u, 25.0))
            << aspect;
    }
}

// VOP headers (ISO/IEC 14496-2 6.2.5): vop_coding_type, modulo_time_base ones and its 0, marker, vop_time_increment
// in the bits (resolution - 1) needs; the rate is resolution over the smallest step between VOP times.
TEST(MpegVideo, Mpeg4VopRate)
{
    const auto vops = [](int bits, std::vector<std::pair<int, uint32_t>> times) {  // (seconds, increment)
        ByteVec out;
        for (auto [seconds, increment] : times) {
            mdtest::BitWriter w;
            w.Put(0x1B6, 32), w.Put(1, 2);
            for (int i = 0; i < seconds; ++i)
                w.PutBit(true);
            w.PutBit(false), w.PutBit(true), w.Put(increment, bits), w.PutBit(true), w.Put(0x3F, 6);
            const auto& b = w.Bytes();
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    };
    struct Case {
        const char* name;
        uint32_t resolution;
        ByteVec bytes;
        double fps;  // 0: no rate
    } const cases[] = {
        {"B-VOPs between: coding order 0 2 1 4 3", 25, vops(5, {{0, 0}, {0, 2}, {0, 1}, {0, 4}, {0, 3}}), 25},
        {"NTSC ticks", 30000, vops(15, {{0, 0}, {0, 1001}, {0, 2002}}), 30000.0 / 1001},
        {"resolution 16 takes 4 bits", 16, vops(4, {{0, 0}, {0, 2}, {0, 4}}), 8},
        {"the next second's VOPs are left out", 25, vops(5, {{0, 20}, {1, 0}, {0, 24}}), 6.25},
        {"one VOP", 25, vops(5, {{0, 3}}), 0},
        {"repeated times", 25, vops(5, {{0, 3}, {0, 3}}), 0},
    };
    for (const Case& c : cases) {
        double fps = 0;
        EXPECT_EQ(md::Mpeg4VopRate(c.bytes.data(), uint32_t(c.bytes.size()), c.resolution, fps), c.fps != 0) << c.name;
        EXPECT_DOUBLE_EQ(fps, c.fps) << c.name;
    }

    // The record: square pels of 320x240 make 4:3; the configuration headers run from the VOS to the GOV; the
    // VOL (resolution 25, no fixed rate) leaves the rate to the VOP times only when asked.
    const ByteVec stream = mdtest::Concat({ByteVec(3, 0), mdtest::Mpeg4VisualStream(320, 240), vops(5, {{0, 7}, {0, 9}})});
    for (const bool vopRate : {false, true}) {
        md::StreamRecord r{};
        ASSERT_TRUE(md::FillMpeg4VisualRecord(stream.data(), uint32_t(stream.size()), r, vopRate));
        EXPECT_EQ(std::tuple(r.video.width, r.video.height, r.video.aspectX, r.video.aspectY, r.progressive),
                  std::tuple(320u, 240u, 4u, 3u, uint8_t(1)));
        EXPECT_EQ(std::vector(r.extraData1, r.extraData1 + 4), (ByteVec{0, 0, 1, 0xB0}));
        const ByteVec gov = {0, 0, 1, 0xB3};
        EXPECT_EQ(r.extraData1Length, std::search(stream.begin(), stream.end(), gov.begin(), gov.end()) - stream.begin() - 3);
        EXPECT_DOUBLE_EQ(r.frameRate, vopRate ? 12.5 : 29.97);
    }
}

TEST(MpegVideo, NormalizeFrameRate)
{
    // The bounds are single-precision: 29.98f is a little below 29.98, 59.90f above 59.90, 60.01f below 60.01.
    const double cases[][2] = {{29.90, 29.97}, {29.98, 30.0}, {23.95, 23.976}, {23.98, 23.98}, {59.93, 59.94},
                               {59.90, 59.90}, {59.99, 60.0}, {60.01, 60.01}, {14.995, 15.0}};
    for (const auto& [in, expected] : cases) {
        double fps = in;
        NormalizeFrameRate(fps);
        EXPECT_EQ(fps, expected) << in;
    }
}

}  // namespace
}  // namespace md
