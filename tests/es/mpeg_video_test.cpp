#include "es/mpeg_video.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "es/start_code.h"
#include "support/bit_writer.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Len(const Bytes& b) { return uint32_t(b.size()); }

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct SeqFields {
    uint32_t width = 720, height = 576, aspect = 2, rate = 3, bitRateValue = 15000;
    bool marker = true;
    uint32_t vbv = 112;
    bool constrained = false, intra = false, nonIntra = false;
    uint8_t matrixByte = 0xFF;
};

// sequence_header() of ISO/IEC 13818-2 6.2.2.1.
Bytes SequenceHeader(const SeqFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x000001B3, 32), w.Put(f.width, 12), w.Put(f.height, 12), w.Put(f.aspect, 4), w.Put(f.rate, 4);
    w.Put(f.bitRateValue, 18), w.PutBit(f.marker), w.Put(f.vbv, 10), w.PutBit(f.constrained);
    for (bool matrix : {f.intra, f.nonIntra}) {
        w.PutBit(matrix);
        for (int i = 0; matrix && i < 64; ++i)
            w.Put(f.matrixByte, 8);
    }
    return w.Take();
}

struct ExtFields {
    uint32_t id = 1, profileAndLevel = 0x48;  // Main profile (4), Main level (8)
    bool progressive = false;
    uint32_t horizontalExt = 0, verticalExt = 0, bitRateExt = 0;
};

// sequence_extension() of ISO/IEC 13818-2 6.2.2.3: 10 bytes.
Bytes SequenceExtension(const ExtFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32), w.Put(f.id, 4), w.Put(f.profileAndLevel, 8), w.PutBit(f.progressive);
    w.Put(1, 2);  // chroma_format 4:2:0
    w.Put(f.horizontalExt, 2), w.Put(f.verticalExt, 2), w.Put(f.bitRateExt, 12), w.PutBit(true);
    w.Put(0, 8), w.PutBit(false), w.Put(0, 7);  // vbv_buffer_size_extension, low_delay, frame_rate_extension
    return w.Take();
}

// sequence_display_extension() (6.2.2.4), optionally with colour description.
Bytes DisplayExtension(uint32_t videoFormat, bool colour, uint32_t transfer, uint32_t dw, uint32_t dh)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32), w.Put(2, 4), w.Put(videoFormat, 3), w.PutBit(colour);
    if (colour)
        w.Put(0x01'00'01 | transfer << 8, 24);  // colour_primaries 1, transfer, matrix_coefficients 1
    w.Put(dw, 14), w.PutBit(true), w.Put(dh, 14);
    w.AlignZero();
    return w.Take();
}

// picture_coding_extension() (6.2.3.1) up to progressive_frame and composite_display_flag.
Bytes PictureCodingExtension(uint32_t structure, bool topFirst, bool progressiveFrame)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32), w.Put(8, 4), w.Put(0xFFFF, 16), w.Put(0, 2);  // f_code, intra_dc_precision
    w.Put(structure, 2), w.PutBit(topFirst), w.Put(0, 7), w.PutBit(progressiveFrame), w.PutBit(false);
    w.AlignZero();
    return w.Take();
}

Bytes PictureHeader(uint32_t temporalReference, uint32_t codingType)
{
    mdtest::BitWriter w;
    w.Put(0x00000100, 32), w.Put(temporalReference, 10), w.Put(codingType, 3), w.Put(0xFFFF, 16), w.PutBit(false);
    w.AlignZero();
    return w.Take();
}

Bytes GopHeader(bool closed, bool broken)
{
    mdtest::BitWriter w;
    w.Put(0x000001B8, 32), w.Put(0x1234567, 25), w.PutBit(closed), w.PutBit(broken);  // time_code, flags
    w.AlignZero();
    return w.Take();
}

TEST(MpegVideo, SequenceHeaderLengthFieldsAndRejections)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    auto parse = [&](const Bytes& b, uint32_t len, uint32_t mode = kAspectMpeg2) {
        return ParseSequenceHeader(b.empty() ? nullptr : b.data(), len, *info, mode);
    };
    info->profile = 77;  // left alone by the parser
    Bytes b = SequenceHeader({});
    ASSERT_EQ(b.size(), 12u);
    ASSERT_TRUE(parse(b, 12));
    EXPECT_EQ(std::tuple(info->width, info->height, info->aspectX, info->aspectY), std::tuple(720u, 576u, 4u, 3u));
    EXPECT_EQ(info->bitRate, 6000000u);
    EXPECT_EQ(info->vbvBufferSize, 112u * 2048);
    EXPECT_EQ(info->headerLength, 12);
    EXPECT_EQ(std::memcmp(info->header, b.data(), 12), 0);
    EXPECT_EQ(info->profile, 77u);

    // Quantiser matrices: the intra matrix starts at bit 0 of byte 11, so the
    // non-intra flag moves to byte 75. Matrix bytes of 0xFF make a wrong flag
    // position visible.
    b = SequenceHeader({.intra = true});
    ASSERT_EQ(b.size(), 76u);
    EXPECT_EQ(SequenceHeaderLength(b.data(), 76), 76u);
    EXPECT_EQ(SequenceHeaderLength(b.data(), 75), 0u);
    b = SequenceHeader({.nonIntra = true});
    EXPECT_EQ(SequenceHeaderLength(b.data(), Len(b)), 76u);
    b = SequenceHeader({.intra = true, .nonIntra = true, .matrixByte = 0x10});
    ASSERT_EQ(b.size(), 140u);
    ASSERT_TRUE(parse(b, 140));
    EXPECT_EQ(info->headerLength, 140);
    EXPECT_EQ(std::memcmp(info->header, b.data(), 140), 0);
    EXPECT_FALSE(parse(b, 139));

    ASSERT_TRUE(parse(SequenceHeader({.bitRateValue = 0x3FFFF}), 12));
    EXPECT_EQ(info->bitRate, 0u);  // variable

    // Rejections: aspect code 0, frame_rate_code 0, marker bit, length, start code.
    for (const SeqFields& bad : {SeqFields{.aspect = 0}, SeqFields{.rate = 0}, SeqFields{.marker = false}})
        EXPECT_FALSE(parse(SequenceHeader(bad), 12));
    b = SequenceHeader({});
    EXPECT_FALSE(parse(b, 11));
    EXPECT_FALSE(parse({}, 12));
    b[3] = 0xB5;
    EXPECT_FALSE(parse(b, 12));
}

TEST(MpegVideo, FrameRateAspectAndVbvSize)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    auto parse = [&](const SeqFields& f, uint32_t mode = kAspectMpeg2) {
        const Bytes b = SequenceHeader(f);
        return ParseSequenceHeader(b.data(), Len(b), *info, mode);
    };

    // frame_rate_code in 100-ns units; the 90 kHz duration is duration * 9 /
    // 1000 truncated. Codes 9..15 are read without bit 3.
    const struct {
        uint32_t code;
        int64_t duration;
        double fps;
        uint32_t ticks;
    } rates[] = {{1, 417083, 23.976, 3753}, {3, 400000, 25.0, 3600}, {4, 333667, 29.97, 3003},
                 {5, 333333, 30.0, 2999},   {9, 417083, 23.976, 3753}, {15, 166833, 59.94, 1501}};
    for (const auto& r : rates) {
        ASSERT_TRUE(parse({.rate = r.code})) << r.code;
        EXPECT_EQ(std::tuple(info->frameDuration, info->frameRate, info->statedFrameDuration),
                  std::tuple(r.duration, r.fps, r.ticks))
            << r.code;
    }

    // MPEG-1 pel aspect: X = width, Y = height * (pel height / pel width), truncated.
    ASSERT_TRUE(parse({.width = 352, .height = 288, .aspect = 8}, kAspectMpeg1));  // 0.9375
    EXPECT_EQ(std::pair(info->aspectX, info->aspectY), std::pair(352u, 270u));
    ASSERT_TRUE(parse({.width = 352, .height = 240, .aspect = 3}, kAspectMpeg1));  // 240 * 0.7031 = 168.74
    EXPECT_EQ(info->aspectY, 168u);
    EXPECT_FALSE(parse({.aspect = 15}, kAspectMpeg1));  // reserved, no ratio

    // MPEG-2 display aspect; reserved codes read as 4:3; other modes always 4:3.
    const uint32_t aspects[][4] = {{4, kAspectMpeg2, 221, 100}, {5, kAspectMpeg2, 4, 3}, {3, 0, 4, 3}};
    for (const auto& a : aspects) {
        ASSERT_TRUE(parse({.aspect = a[0]}, a[1]));
        EXPECT_EQ(std::pair(info->aspectX, info->aspectY), std::pair(a[2], a[3])) << a[0] << " mode " << a[1];
    }

    // vbv_buffer_size_value in units of 2048 bytes; under 20000 bytes → 40960;
    // with constrained_parameters_flag at most 40960.
    const uint32_t vbv[][3] = {{9, 0, 40960}, {10, 0, 20480}, {21, 0, 43008}, {21, 1, 40960}};
    for (const auto& v : vbv) {
        ASSERT_TRUE(parse({.vbv = v[0], .constrained = v[1] != 0}));
        EXPECT_EQ(info->vbvBufferSize, v[2]) << v[0] << " " << v[1];
    }
}

TEST(MpegVideo, SequenceExtensionAndProgressive)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    const Bytes seq = SequenceHeader({});
    auto apply = [&](const ExtFields& e) {
        const Bytes ext = Cat({SequenceExtension(e), {0x00, 0x00, 0x01, 0xB8}});
        EXPECT_TRUE(ParseSequenceHeader(seq.data(), Len(seq), *info, kAspectMpeg2));
        return ApplySequenceExtension(ext.data(), Len(ext), *info);
    };
    ASSERT_TRUE(apply({.horizontalExt = 1, .verticalExt = 2, .bitRateExt = 1}));
    EXPECT_EQ(std::pair(info->profile, info->level), std::pair(4u, 8u));
    EXPECT_EQ(std::pair(info->width, info->height), std::pair(720u + 4096, 576u + 8192));
    EXPECT_EQ(info->bitRate, 6000000u + 104857600u);
    // The bit-rate sum is 32-bit arithmetic: 6000000 + 4095 * 2^18 * 400 mod 2^32.
    ASSERT_TRUE(apply({.bitRateExt = 4095}));
    EXPECT_EQ(info->bitRate, 4196109696u);
    // Another extension id, or fewer than 14 bytes.
    EXPECT_FALSE(apply({.id = 2}));
    const Bytes bare = SequenceExtension({});
    EXPECT_FALSE(ApplySequenceExtension(bare.data(), Len(bare), *info));

    uint8_t progressive = 7;
    for (bool flag : {true, false}) {
        const Bytes ext = SequenceExtension({.progressive = flag});
        EXPECT_TRUE(ReadProgressiveSequence(ext.data(), Len(ext), progressive));
        EXPECT_EQ(progressive, flag ? 1 : 0);
    }
    // Cut before the flag, or not an extension: false and the flag reads 1.
    EXPECT_FALSE(ReadProgressiveSequence(bare.data(), 5, progressive));
    EXPECT_EQ(progressive, 1);
    progressive = 0;
    EXPECT_FALSE(ReadProgressiveSequence(seq.data(), Len(seq), progressive));
    EXPECT_EQ(progressive, 1);
}

TEST(MpegVideo, DisplayExtensionEncoderMarkerAndAspect)
{
    const Bytes head = Cat({SequenceHeader({}), SequenceExtension({})});
    uint32_t w = 99, h = 99;
    EXPECT_TRUE(ReadDisplaySize(head.data(), Len(head), w, h));  // none: true, outputs untouched
    EXPECT_EQ(w, 99u);
    // Without and with the 3-byte colour description; cut short.
    Bytes b = Cat({head, DisplayExtension(2, false, 0, 704, 576)});
    EXPECT_TRUE(ReadDisplaySize(b.data(), Len(b), w, h));
    EXPECT_EQ(std::pair(w, h), std::pair(704u, 576u));
    b = Cat({head, DisplayExtension(5, true, 1, 540, 480)});
    EXPECT_TRUE(ReadDisplaySize(b.data(), Len(b), w, h));
    EXPECT_EQ(std::pair(w, h), std::pair(540u, 480u));
    EXPECT_FALSE(ReadDisplaySize(b.data(), Len(b) - 1, w, h));

    // Encoder marker: the first display extension with colour description (0x2B
    // or 0x21) has transfer_characteristics 11.
    const struct {
        Bytes b;
        uint32_t len;  // 0: all of it
        bool found;
    } markers[] = {
        {Cat({head, DisplayExtension(5, true, 11, 720, 576)}), 0, true},   // 0x2B
        {Cat({head, DisplayExtension(0, true, 11, 720, 576)}), 0, true},   // 0x21
        {Cat({head, DisplayExtension(1, true, 11, 720, 576)}), 0, false},  // 0x23: other video_format
        {Cat({head, DisplayExtension(5, true, 1, 720, 576), DisplayExtension(5, true, 11, 720, 576)}), 0,
         false},                                                                       // only the first counts
        {Cat({head, DisplayExtension(5, true, 11, 720, 576)}), Len(head) + 6, false},  // transfer byte cut off
    };
    for (const auto& m : markers) {
        uint8_t flag = 9;
        EXPECT_EQ(FindEncoderMarker(m.b.data(), m.len ? m.len : Len(m.b), flag), m.found);
        EXPECT_EQ(flag, m.found ? 1 : 0);
    }

    // Display size vs coded size: 4:3 shown on 704 of 720 columns → 15:11;
    // 16:9 on 540 of 720 → 64:27; no display width: unchanged.
    const uint32_t display[][8] = {
        // x, y, width, height, display width, display height, x', y'
        {4, 3, 720, 576, 704, 576, 15, 11},
        {16, 9, 720, 480, 540, 480, 64, 27},
        {16, 9, 720, 480, 0, 480, 16, 9},
    };
    for (const auto& d : display) {
        uint32_t x = d[0], y = d[1];
        AspectFromDisplaySize(x, y, d[2], d[3], d[4], d[5]);
        EXPECT_EQ(std::pair(x, y), std::pair(d[6], d[7])) << d[4] << "x" << d[5];
    }

    // Sample aspect → display aspect snapping.
    const uint32_t sample[][6] = {
        {1, 1, 720, 540, 4, 3},      // 100 * 720 / 540 = 133
        {1, 1, 1920, 1080, 16, 9},   // 177
        {12, 11, 352, 288, 4, 3},    // 4224 / 3168
        {1, 1, 720, 576, 720, 576},  // 125: unreduced
        {1, 1, 100, 100, 1, 1},      {0, 0, 720, 576, 1, 1}, {1, 0, 720, 576, 720, 0},
    };
    for (const auto& s : sample) {
        uint32_t x = s[0], y = s[1];
        AspectFromSampleAspect(x, y, s[2], s[3]);
        EXPECT_EQ(std::pair(x, y), std::pair(s[4], s[5])) << s[0] << ":" << s[1] << " " << s[2] << "x" << s[3];
    }
}

TEST(MpegVideo, PictureLevelFields)
{
    uint32_t order = 99;
    uint8_t progressiveFrame = 99;
    // picture_structure, top_field_first → order; frame pictures are progressive here.
    const uint32_t cases[][3] = {{3, 1, 1}, {3, 0, 2}, {1, 0, 1}, {2, 1, 2}, {0, 1, 0}};
    for (const auto& c : cases) {
        const Bytes b = PictureCodingExtension(c[0], c[1] != 0, c[0] == 3);
        ASSERT_EQ(b.size(), 9u);
        EXPECT_TRUE(ReadFieldOrder(b.data(), Len(b), order, progressiveFrame));
        EXPECT_EQ(order, c[2]) << c[0] << c[1];
        EXPECT_EQ(progressiveFrame, c[0] == 3 ? 1 : 0);
    }
    Bytes b = PictureCodingExtension(3, true, true);
    EXPECT_TRUE(ReadFieldOrder(b.data(), 8, order, progressiveFrame));
    EXPECT_EQ(order, 1u);
    EXPECT_EQ(progressiveFrame, 0);  // its byte is not there
    EXPECT_FALSE(ReadFieldOrder(b.data(), 7, order, progressiveFrame));
    b[3] = 0xB3;
    EXPECT_FALSE(ReadFieldOrder(b.data(), Len(b), order, progressiveFrame));

    uint8_t closed = 9, broken = 9;
    b = Cat({SequenceHeader({}), GopHeader(true, false)});
    EXPECT_TRUE(ReadGopFlags(b.data(), Len(b), closed, broken));
    EXPECT_EQ(std::pair(closed, broken), std::pair(uint8_t(1), uint8_t(0)));
    b = GopHeader(false, true);
    EXPECT_TRUE(ReadGopFlags(b.data(), Len(b), closed, broken));
    EXPECT_EQ(std::pair(closed, broken), std::pair(uint8_t(0), uint8_t(1)));
    EXPECT_FALSE(ReadGopFlags(b.data(), 7, closed, broken));

    uint32_t tr = 0;
    b = Cat({GopHeader(true, false), PictureHeader(0x2A5, 1), {0, 0, 0}});
    EXPECT_TRUE(ReadTemporalReference(b.data(), Len(b), tr));
    EXPECT_EQ(tr, 0x2A5u);
    // A picture header starting exactly 8 bytes before the end is not searched.
    b = Cat({GopHeader(true, false), PictureHeader(5, 1)});
    ASSERT_EQ(b.size() - 8, 8u);
    EXPECT_FALSE(ReadTemporalReference(b.data(), Len(b), tr));
}

struct VolFields {
    bool objectLayerId = false;
    uint32_t verid = 1, aspect = 1;
    bool vbvParameters = false;
    uint32_t shape = 0, resolution = 25;
    bool fixedRate = true;
    uint32_t incrementBits = 5, increment = 1;
};

// video_object_layer() of ISO/IEC 14496-2 6.2.3 up to the picture size (320x240).
// The VBV parameters, when present, are bit rate halves 1 and 2500, VBV halves 1 and 2.
Bytes VolHeader(const VolFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x00000120, 32), w.PutBit(false), w.Put(1, 8);  // random_accessible_vol, simple object type
    w.PutBit(f.objectLayerId);
    if (f.objectLayerId)
        w.Put(f.verid << 3 | 1, 7);  // verid, priority
    w.Put(f.aspect, 4);
    if (f.aspect == 15)
        w.Put(12 << 8 | 11, 16);  // par_width, par_height
    w.PutBit(f.vbvParameters);    // vol_control_parameters
    if (f.vbvParameters) {
        w.Put(0b01'1'1, 4);  // chroma_format, low_delay, vbv_parameters
        for (uint32_t half : {1u, 2500u, 1u})
            w.Put(half, 15), w.PutBit(true);
        w.Put(2, 3), w.Put(0, 11), w.PutBit(true), w.Put(0, 15), w.PutBit(true);  // latter VBV half, occupancy
    }
    w.Put(f.shape, 2);
    if (f.shape == 3 && f.verid != 1)
        w.Put(0, 4);
    w.PutBit(true), w.Put(f.resolution, 16), w.PutBit(true), w.PutBit(f.fixedRate);
    if (f.fixedRate)
        w.Put(f.increment, f.incrementBits);
    if (f.shape == 0)
        w.PutBit(true), w.Put(320, 13), w.PutBit(true), w.Put(240, 13), w.PutBit(true);
    w.Put(0, 3);  // interlaced, obmc_disable, sprite_enable
    w.AlignOnes();
    return w.Take();
}

TEST(MpegVideo, VolHeader)
{
    const Bytes vo = {0x00, 0x00, 0x01, 0x00};  // video_object_start_code
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x20};
    SequenceHeaderInfo info{};
    auto parse = [&](const VolFields& f) {
        const Bytes b = VolHeader(f);
        return ParseVolHeader(b.data(), Len(b), info);
    };

    const Bytes vol = VolHeader({});
    const Bytes b = Cat({vo, vol, vop});
    ASSERT_TRUE(ParseVolHeader(b.data(), Len(b), info));
    EXPECT_EQ(std::pair(info.profile, info.level), std::pair(2u, 1u));
    EXPECT_EQ(std::pair(info.width, info.height), std::pair(320u, 240u));
    EXPECT_EQ(info.frameRate, 25.0);
    EXPECT_EQ(info.frameDuration, 400000);
    EXPECT_EQ(info.statedFrameDuration, 400000u);
    EXPECT_EQ(info.bitRate, 2000000u);
    EXPECT_EQ(info.vbvBufferSize, 16384u);
    EXPECT_EQ(std::pair(info.aspectX, info.aspectY), std::pair(1u, 1u));
    EXPECT_EQ(info.headerLength, int32_t(vo.size() + vol.size()));

    // 30000/1001: 15 bits for the increment; 10^7 / 29.97002997 = 333666.67.
    ASSERT_TRUE(parse({.resolution = 30000, .incrementBits = 15, .increment = 1001}));
    EXPECT_DOUBLE_EQ(info.frameRate, 30000.0 / 1001.0);
    EXPECT_EQ(info.frameDuration, 333666);
    EXPECT_EQ(info.width, 320u);
    // A resolution of 16 has 5 significant bits; increment 2 → 8 fps.
    ASSERT_TRUE(parse({.resolution = 16, .incrementBits = 5, .increment = 2}));
    EXPECT_EQ(info.frameRate, 8.0);
    EXPECT_EQ(info.width, 320u);
    // No fixed rate: 29.97 and 333667. No VOP after it: header length -1.
    ASSERT_TRUE(parse({.fixedRate = false}));
    EXPECT_EQ(info.frameRate, 29.97);
    EXPECT_EQ(info.frameDuration, 333667);
    EXPECT_EQ(info.statedFrameDuration, 333667u);
    EXPECT_EQ(info.headerLength, -1);
    EXPECT_EQ(info.height, 240u);

    // VBV parameters: (first << 15 + latter) * 400 bit/s, (first << 3 + latter) * 16384.
    ASSERT_TRUE(parse({.vbvParameters = true}));
    EXPECT_EQ(info.bitRate, (32768u + 2500) * 400);
    EXPECT_EQ(info.vbvBufferSize, 10u * 16384);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.frameRate, 25.0);

    // The aspect codes; extended PAR (15) skips its fields and gives 0:0.
    const uint32_t aspects[][3] = {{3, 4, 3}, {5, 16, 9}, {6, 0, 0}, {15, 0, 0}};
    for (const auto& a : aspects) {
        ASSERT_TRUE(parse({.aspect = a[0]}));
        EXPECT_EQ(std::pair(info.aspectX, info.aspectY), std::pair(a[1], a[2])) << a[0];
        EXPECT_EQ(info.width, 320u) << a[0];
    }

    // Grayscale shape with a layer version other than 1 carries a 4-bit shape
    // extension; the picture size then takes its defaults. Version 1 has none.
    for (uint32_t verid : {1u, 2u}) {
        ASSERT_TRUE(parse({.objectLayerId = true, .verid = verid, .shape = 3}));
        EXPECT_EQ(info.frameRate, 25.0) << verid;
        EXPECT_EQ(std::pair(info.width, info.height), std::pair(720u, 480u));
    }

    // No VOL start code; a buffer of exactly 4 bytes; a VOL start code at the end.
    EXPECT_FALSE(ParseVolHeader(vop.data(), Len(vop), info));
    EXPECT_FALSE(ParseVolHeader(vol.data(), 4, info));
    EXPECT_FALSE(ParseVolHeader(nullptr, 10, info));
    const Bytes cut = {0xAA, 0x00, 0x00, 0x01, 0x20};
    EXPECT_FALSE(ParseVolHeader(cut.data(), Len(cut), info));
    // A VOL cut after a few bytes still parses (fields missing read as 0).
    EXPECT_TRUE(ParseVolHeader(vol.data(), 6, info));
}

// Runs CollectHeaders into a record's header areas.
bool Collect(const Bytes& b, StreamRecord& r, uint32_t mode)
{
    return CollectHeaders(b.data(), Len(b), r.extraData1, r.extraData1Length, r.extraData2, r.extraData2Length,
                          mode);
}
Bytes Area1(const StreamRecord& r) { return Bytes(r.extraData1, r.extraData1 + r.extraData1Length); }
Bytes Area2(const StreamRecord& r) { return Bytes(r.extraData2, r.extraData2 + r.extraData2Length); }

TEST(MpegVideo, CollectHeadersMpegVideo)
{
    const Bytes seq = SequenceHeader({});
    const Bytes ext = SequenceExtension({});
    const Bytes disp = DisplayExtension(5, false, 0, 704, 576);
    const Bytes quant = {0x00, 0x00, 0x01, 0xB5, 0x30, 0x00};  // quant matrix extension: not taken
    const Bytes pic = PictureHeader(0, 1);
    const Bytes pce = PictureCodingExtension(3, true, false);
    const Bytes slice = {0x00, 0x00, 0x01, 0x01, 0x12, 0x34};
    const Bytes user = {0x00, 0x00, 0x01, 0xB2, 'a', 'b'};

    auto r = NewStreamRecord();
    ASSERT_TRUE(Collect(Cat({seq, ext, disp, quant, GopHeader(true, false), user, pic, pce, slice}), *r,
                        kModeMpegVideo));
    EXPECT_EQ(Area1(*r), Cat({seq, ext, disp}));
    EXPECT_EQ(Area2(*r), Cat({pic, pce}));

    // No slice: failure, outputs untouched.
    auto fresh = NewStreamRecord();
    fresh->extraData1Length = 5;
    fresh->extraData1[0] = 0x77;
    EXPECT_FALSE(Collect(Cat({seq, ext, pic, pce}), *fresh, kModeMpegVideo));
    EXPECT_EQ(fresh->extraData1Length, 5);
    EXPECT_EQ(fresh->extraData1[0], 0x77);
    // A slice start code right at the end still ends the walk successfully.
    ASSERT_TRUE(Collect(Cat({seq, pic, {0x00, 0x00, 0x01, 0xAF}}), *r, kModeMpegVideo));
    EXPECT_EQ(Area1(*r), seq);
    EXPECT_EQ(Area2(*r), pic);

    // A unit too large for what is left of its area is left out.
    Bytes bigExt = ext;
    bigExt.resize(kExtraDataSize, 0x55);
    const Bytes b = Cat({seq, bigExt, pic, slice});
    ASSERT_TRUE(Collect(b, *r, kModeMpegVideo));
    EXPECT_EQ(Area1(*r), seq);
    EXPECT_FALSE(Collect(b, *r, 7));  // not a mode it knows
}

TEST(MpegVideo, CollectHeadersH264)
{
    const Bytes sps = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xC0, 0x1E, 0xAB};
    const Bytes subsetSps = {0x00, 0x00, 0x00, 0x01, 0x6F, 0x76, 0x00};
    const Bytes pps = {0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x3C, 0x80};
    const Bytes sei = {0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x01, 0x80};
    const Bytes idr = {0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84};
    auto r = NewStreamRecord();

    // Four-byte start codes: each unit is exactly a start code and its NAL unit.
    ASSERT_TRUE(Collect(Cat({sei, sps, subsetSps, pps, idr}), *r, kModeH264));
    EXPECT_EQ(Area1(*r), Cat({sps, subsetSps}));
    EXPECT_EQ(Area2(*r), pps);

    // Three-byte start codes: a unit runs from the byte before its prefix (the
    // first one from byte 0) to the byte before the next prefix.
    const Bytes three = {0x00, 0x00, 0x01, 0x67, 0xAA, 0xBB, 0x00, 0x00, 0x01,
                         0x68, 0xCC, 0xDD, 0x00, 0x00, 0x01, 0x65, 0xEE};
    ASSERT_TRUE(Collect(three, *r, kModeMvc));
    EXPECT_EQ(Area1(*r), (Bytes{0x00, 0x00, 0x01, 0x67, 0xAA}));
    EXPECT_EQ(Area2(*r), (Bytes{0xBB, 0x00, 0x00, 0x01, 0x68, 0xCC}));

    // An SPS without a PPS, or a PPS that is the last unit: failure.
    auto fresh = NewStreamRecord();
    EXPECT_FALSE(Collect(Cat({sps, idr}), *fresh, kModeH264));
    EXPECT_FALSE(Collect(Cat({sps, pps}), *fresh, kModeH264));
    EXPECT_EQ(fresh->extraData1Length, 0);
    EXPECT_EQ(fresh->extraData2Length, 0);
}

TEST(StartCode, Searches)
{
    // Runs a walk over b from byte 0; returns the stop offset and the remaining count.
    auto walk = [](const Bytes& b, auto find) {
        const uint8_t* p = b.data();
        uint32_t rem = Len(b);
        const bool found = find(p, rem);
        return std::tuple{found, uint32_t(p - b.data()), rem};
    };
    auto plain = [](const uint8_t*& p, uint32_t& rem) { return FindStartCode(p, rem); };
    EXPECT_EQ(walk(Bytes{0xAA, 0x00, 0x00, 0x01, 0xB3}, plain), std::tuple(true, 1u, 4u));
    // With 4 bytes left the walk stops untested: true, but no prefix there.
    const Bytes late = {0xAA, 0xBB, 0x00, 0x00, 0x01};
    EXPECT_EQ(walk(late, plain), std::tuple(true, 1u, 4u));
    EXPECT_FALSE(IsStartCodeAt(late.data() + 1, 4));
    EXPECT_EQ(walk(Bytes{0x00, 0x00, 0x01}, plain), std::tuple(false, 0u, 3u));

    // The masked walk: an H.264 prefix stops one byte early; any MPEG start
    // code; an absent pattern stops with 4 left.
    const Bytes h264 = {0x11, 0x22, 0x00, 0x00, 0x01, 0x67, 0x42};
    auto masked = [](uint32_t pattern, uint32_t mask) {
        return [=](const uint8_t*& p, uint32_t& rem) { return FindMaskedStartCode(p, rem, pattern, mask); };
    };
    EXPECT_EQ(walk(h264, masked(0x000001, 0x00FFFFFF)), std::tuple(true, 1u, 6u));
    EXPECT_EQ(walk(h264, masked(0x00000100, 0xFFFFFF00)), std::tuple(true, 2u, 5u));
    EXPECT_EQ(walk(h264, masked(0x000001B3, 0xFFFFFFFF)), std::tuple(true, 3u, 4u));

    // Sequence header present?
    const Bytes mpeg = Cat({GopHeader(true, false), SequenceHeader({})});
    EXPECT_TRUE(HasSequenceHeader(mpeg.data(), Len(mpeg), kModeMpegVideo));
    const Bytes noSeq = Cat({GopHeader(true, false), {0x00, 0x00, 0xB3, 0x01}});
    EXPECT_FALSE(HasSequenceHeader(noSeq.data(), Len(noSeq), kModeMpegVideo));
    const Bytes avc = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67, 0x42};
    EXPECT_TRUE(HasSequenceHeader(avc.data(), Len(avc), kModeH264));
    EXPECT_FALSE(HasSequenceHeader(avc.data(), Len(avc), kModeMpegVideo));
    EXPECT_FALSE(HasSequenceHeader(avc.data(), Len(avc), 5));
    const Bytes subset = {0x00, 0x00, 0x01, 0x6F, 0x00};
    EXPECT_TRUE(HasSequenceHeader(subset.data(), Len(subset), kModeMvc));
    const Bytes pps = {0x00, 0x00, 0x01, 0x68, 0x00};
    EXPECT_FALSE(HasSequenceHeader(pps.data(), Len(pps), kModeH264));
}

TEST(StartCode, PictureType)
{
    auto type = [](const Bytes& b, uint32_t mode, uint32_t len = 0) {
        return PictureType(b.data(), len ? len : Len(b), mode);
    };
    // MPEG video: the first picture with coding type 1..3; a D picture (4) is skipped.
    EXPECT_EQ(type(Cat({SequenceHeader({}), PictureHeader(3, 2)}), kModeMpegVideo), 1);
    EXPECT_EQ(type(Cat({PictureHeader(0, 4), PictureHeader(1, 3)}), kModeMpegVideo), 2);
    EXPECT_EQ(type(PictureHeader(0, 1), kModeMpegVideo), 0);
    EXPECT_EQ(type(PictureHeader(0, 1), kModeMpegVideo, 5), -1);  // coding type byte cut off
    EXPECT_EQ(type(SequenceHeader({}), kModeMpegVideo), -1);

    // H.264: IDR → 3; non-IDR slices by slice_type when first_mb_in_slice is 0.
    auto slice = [](uint32_t firstMb, uint32_t sliceType) {
        mdtest::BitWriter w;
        w.Put(0x00000141, 32);  // start code, nal_unit_type 1
        for (uint32_t v : {firstMb, sliceType}) {
            const unsigned bits = unsigned(std::bit_width(v + 1));
            w.Put(v + 1, 2 * bits - 1);  // ue(v): bits - 1 zeros, then v + 1
        }
        w.AlignOnes();
        w.Put(0xFFFF, 16);
        return w.Take();
    };
    const Bytes idr = {0x00, 0x00, 0x01, 0x65, 0x88};
    EXPECT_EQ(type(idr, kModeH264), 3);
    const int expect[10] = {1, 2, 0, 1, 0, 1, 2, 0, 1, 0};  // P B I SP SI, then +5
    for (uint32_t t = 0; t < 10; ++t)
        EXPECT_EQ(type(slice(0, t), kModeH264), expect[t]) << t;
    EXPECT_EQ(type(Cat({slice(5, 2), slice(0, 1)}), kModeMvc), 2);  // the first slice does not start a picture
    EXPECT_EQ(type(slice(0, 10), kModeH264), -1);                    // not a slice_type
    EXPECT_EQ(type(Bytes{0x00, 0x00, 0x01, 0x67, 0x42, 0x00}, kModeH264), -1);
    EXPECT_EQ(type(idr, kModeH264, 3), -1);
    EXPECT_EQ(type(idr, 9), -1);
}

TEST(MpegVideo, NormalizeFrameRate)
{
    // The bounds are single-precision: 29.98f is a little below 29.98, 59.90f a
    // little above 59.90 and 60.01f a little below 60.01.
    const double cases[][2] = {
        {29.90, 29.97}, {29.98, 30.0},  {30.005, 30.0}, {30.02, 30.02}, {23.95, 23.976}, {23.98, 23.98},
        {59.93, 59.94}, {59.90, 59.90}, {59.99, 60.0},  {60.01, 60.01}, {14.995, 15.0},  {25.0, 25.0},
    };
    for (const auto& c : cases) {
        double fps = c[0];
        NormalizeFrameRate(fps);
        EXPECT_EQ(fps, c[1]) << c[0];
    }
}

// Random buffers seeded with start codes, parsed at their exact length (heap
// vectors, so AddressSanitizer sees any read past the end). The transport
// demultiplexer, which calls the picture-type and sequence-header scans, has no
// fuzz target of its own.
TEST(MpegVideo, RandomInputStaysInBounds)
{
    std::mt19937 rng(2024);
    const uint8_t codes[] = {0xB3, 0xB5, 0xB8, 0x00, 0x01, 0xAF, 0x20, 0xB6, 0x67, 0x68, 0x65, 0x41, 0x6F};
    auto info = std::make_unique<SequenceHeaderInfo>();
    auto r = NewStreamRecord();
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> b(rng() % 160);
        for (auto& v : b)
            v = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
        // Start codes at random places (some buffers start with one), some followed by an extension id.
        for (size_t i = rng() % 2 ? 0 : 3 + rng() % 12; i + 4 <= b.size(); i += 3 + rng() % 12) {
            b[i] = 0, b[i + 1] = 0, b[i + 2] = 1, b[i + 3] = codes[rng() % sizeof codes];
            if (i + 4 < b.size() && rng() % 2)
                b[i + 4] = static_cast<uint8_t>((rng() % 9) << 4 | (rng() & 0xF));
        }
        const uint8_t* p = b.empty() ? nullptr : b.data();
        const uint32_t n = uint32_t(b.size());
        const uint32_t hl = SequenceHeaderLength(p, n);
        ASSERT_TRUE(hl == 0 || hl == 12 || hl == 76 || hl == 140);
        if (ParseSequenceHeader(p, n, *info, rng() % 3)) {
            ASSERT_LE(uint32_t(info->headerLength), n);
        }
        ApplySequenceExtension(p, n, *info);
        uint8_t flag = 0, closed = 0, broken = 0;
        uint32_t w = 0, h = 0, order = 0, tr = 0;
        ReadProgressiveSequence(p, n, flag);
        ReadDisplaySize(p, n, w, h);
        FindEncoderMarker(p, n, flag);
        ReadGopFlags(p, n, closed, broken);
        ReadTemporalReference(p, n, tr);
        ReadFieldOrder(p, n, order, flag);
        if (ParseVolHeader(p, n, *info)) {
            ASSERT_LT(info->headerLength, int32_t(n));
        }
        for (uint32_t mode : {kModeMpegVideo, kModeH264}) {
            if (CollectHeaders(p, n, r->extraData1, r->extraData1Length, r->extraData2, r->extraData2Length, mode)) {
                ASSERT_LE(r->extraData1Length + r->extraData2Length, int32_t(n));
            }
            PictureType(p, n, mode);
            HasSequenceHeader(p, n, mode);
        }
        for (int masked = 0; masked < 2; ++masked) {
            const uint8_t* q = p;
            uint32_t rem = n;
            if (masked ? FindMaskedStartCode(q, rem, 0x00000100, 0xFFFFFF00) : FindStartCode(q, rem)) {
                ASSERT_GE(rem, 4u);
                ASSERT_EQ(q + rem, p + n);
            }
        }
    }
}

}  // namespace
}  // namespace md
