#include "es/mpeg_video.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "es/start_code.h"
#include "support/bit_writer.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct SeqFields {
    uint32_t width = 720;
    uint32_t height = 576;
    uint32_t aspect = 2;
    uint32_t rate = 3;
    uint32_t bitRateValue = 15000;
    bool marker = true;
    uint32_t vbv = 112;
    bool constrained = false;
    bool intra = false;
    bool nonIntra = false;
    uint8_t matrixByte = 0xFF;
};

// sequence_header() of ISO/IEC 13818-2 6.2.2.1.
Bytes SequenceHeader(const SeqFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x000001B3, 32);
    w.Put(f.width, 12);
    w.Put(f.height, 12);
    w.Put(f.aspect, 4);
    w.Put(f.rate, 4);
    w.Put(f.bitRateValue, 18);
    w.PutBit(f.marker);
    w.Put(f.vbv, 10);
    w.PutBit(f.constrained);
    w.PutBit(f.intra);
    if (f.intra)
        for (int i = 0; i < 64; ++i)
            w.Put(f.matrixByte, 8);
    w.PutBit(f.nonIntra);
    if (f.nonIntra)
        for (int i = 0; i < 64; ++i)
            w.Put(f.matrixByte, 8);
    return w.Take();
}

struct ExtFields {
    uint32_t id = 1;
    uint32_t profileAndLevel = 0x48;  // Main profile (4), Main level (8)
    bool progressive = false;
    uint32_t horizontalExt = 0;
    uint32_t verticalExt = 0;
    uint32_t bitRateExt = 0;
};

// sequence_extension() of ISO/IEC 13818-2 6.2.2.3: 10 bytes.
Bytes SequenceExtension(const ExtFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32);
    w.Put(f.id, 4);
    w.Put(f.profileAndLevel, 8);
    w.PutBit(f.progressive);
    w.Put(1, 2);  // chroma_format 4:2:0
    w.Put(f.horizontalExt, 2);
    w.Put(f.verticalExt, 2);
    w.Put(f.bitRateExt, 12);
    w.PutBit(true);
    w.Put(0, 8);   // vbv_buffer_size_extension
    w.PutBit(false);
    w.Put(0, 7);   // frame_rate_extension_n, _d
    return w.Take();
}

// sequence_display_extension() (6.2.2.4), optionally with colour description.
Bytes DisplayExtension(uint32_t videoFormat, bool colour, uint32_t transfer, uint32_t dw, uint32_t dh)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32);
    w.Put(2, 4);
    w.Put(videoFormat, 3);
    w.PutBit(colour);
    if (colour) {
        w.Put(1, 8);  // colour_primaries
        w.Put(transfer, 8);
        w.Put(1, 8);  // matrix_coefficients
    }
    w.Put(dw, 14);
    w.PutBit(true);
    w.Put(dh, 14);
    w.AlignZero();
    return w.Take();
}

// picture_coding_extension() (6.2.3.1) up to progressive_frame and composite_display_flag.
Bytes PictureCodingExtension(uint32_t structure, bool topFirst, bool progressiveFrame)
{
    mdtest::BitWriter w;
    w.Put(0x000001B5, 32);
    w.Put(8, 4);
    w.Put(0xFFFF, 16);  // f_code[s][t]
    w.Put(0, 2);        // intra_dc_precision
    w.Put(structure, 2);
    w.PutBit(topFirst);
    w.Put(0, 7);        // frame_pred_frame_dct .. chroma_420_type
    w.PutBit(progressiveFrame);
    w.PutBit(false);    // composite_display_flag
    w.AlignZero();
    return w.Take();
}

Bytes PictureHeader(uint32_t temporalReference, uint32_t codingType)
{
    mdtest::BitWriter w;
    w.Put(0x00000100, 32);
    w.Put(temporalReference, 10);
    w.Put(codingType, 3);
    w.Put(0xFFFF, 16);  // vbv_delay
    w.PutBit(false);    // extra_bit_picture
    w.AlignZero();
    return w.Take();
}

Bytes GopHeader(bool closed, bool broken)
{
    mdtest::BitWriter w;
    w.Put(0x000001B8, 32);
    w.Put(0x1234567 & 0x1FFFFFF, 25);  // time_code
    w.PutBit(closed);
    w.PutBit(broken);
    w.AlignZero();
    return w.Take();
}

TEST(MpegVideo, SequenceHeaderLengthAndFields)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    info->profile = 77;  // left alone by the parser
    info->level = 78;
    Bytes b = SequenceHeader(SeqFields{});
    ASSERT_EQ(b.size(), 12u);
    ASSERT_TRUE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    EXPECT_EQ(info->width, 720u);
    EXPECT_EQ(info->height, 576u);
    EXPECT_EQ(info->aspectX, 4u);
    EXPECT_EQ(info->aspectY, 3u);
    EXPECT_EQ(info->frameDuration, 400000);
    EXPECT_EQ(info->frameRate, 25.0);
    EXPECT_EQ(info->statedFrameDuration, 3600u);
    EXPECT_EQ(info->bitRate, 6000000u);
    EXPECT_EQ(info->vbvBufferSize, 112u * 2048);
    EXPECT_EQ(info->headerLength, 12);
    EXPECT_EQ(std::memcmp(info->header, b.data(), 12), 0);
    EXPECT_EQ(info->profile, 77u);
    EXPECT_EQ(info->level, 78u);

    // Quantiser matrices: the intra matrix starts at bit 0 of byte 11, so the
    // non-intra flag moves to byte 75. Matrix bytes of 0xFF make a wrong flag
    // position visible.
    SeqFields f;
    f.intra = true;
    b = SequenceHeader(f);
    ASSERT_EQ(b.size(), 76u);
    EXPECT_EQ(SequenceHeaderLength(b.data(), uint32_t(b.size())), 76u);
    EXPECT_EQ(SequenceHeaderLength(b.data(), 75), 0u);
    f.intra = false;
    f.nonIntra = true;
    b = SequenceHeader(f);
    EXPECT_EQ(SequenceHeaderLength(b.data(), uint32_t(b.size())), 76u);
    f.intra = true;
    f.matrixByte = 0x10;
    b = SequenceHeader(f);
    ASSERT_EQ(b.size(), 140u);
    EXPECT_EQ(SequenceHeaderLength(b.data(), uint32_t(b.size())), 140u);
    ASSERT_TRUE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    EXPECT_EQ(info->headerLength, 140);
    EXPECT_EQ(std::memcmp(info->header, b.data(), 140), 0);
    EXPECT_FALSE(ParseSequenceHeader(b.data(), 139, *info, kAspectMpeg2));

    // bit_rate_value 0x3FFFF means variable: 0.
    f = SeqFields{};
    f.bitRateValue = 0x3FFFF;
    b = SequenceHeader(f);
    ASSERT_TRUE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    EXPECT_EQ(info->bitRate, 0u);

    // Rejections: marker bit, aspect code 0, frame_rate_code 0, start code, length.
    f = SeqFields{};
    f.marker = false;
    b = SequenceHeader(f);
    EXPECT_FALSE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    f = SeqFields{};
    f.aspect = 0;
    b = SequenceHeader(f);
    EXPECT_FALSE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    f = SeqFields{};
    f.rate = 0;
    b = SequenceHeader(f);
    EXPECT_FALSE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    b = SequenceHeader(SeqFields{});
    EXPECT_FALSE(ParseSequenceHeader(b.data(), 11, *info, kAspectMpeg2));
    b[3] = 0xB5;
    EXPECT_FALSE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2));
    EXPECT_FALSE(ParseSequenceHeader(nullptr, 12, *info, kAspectMpeg2));
}

TEST(MpegVideo, FrameRateCodes)
{
    // ISO/IEC 13818-2 Table 6-4 in 100-ns units; the 90 kHz duration is
    // duration * 9 / 1000 truncated. Codes 9..15 are read without bit 3.
    struct Expect {
        int64_t duration;
        double fps;
        uint32_t ticks;
    };
    const Expect table[9] = {
        {0, 0, 0},
        {417083, 23.976, 3753},
        {416666, 24.0, 3749},
        {400000, 25.0, 3600},
        {333667, 29.97, 3003},
        {333333, 30.0, 2999},
        {200000, 50.0, 1800},
        {166833, 59.94, 1501},
        {166666, 60.0, 1499},
    };
    auto info = std::make_unique<SequenceHeaderInfo>();
    for (uint32_t code = 1; code <= 15; ++code) {
        SeqFields f;
        f.rate = code;
        const Bytes b = SequenceHeader(f);
        const uint32_t effective = code >= 9 ? code - 8 : code;
        ASSERT_TRUE(ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, kAspectMpeg2)) << code;
        EXPECT_EQ(info->frameDuration, table[effective].duration) << code;
        EXPECT_EQ(info->frameRate, table[effective].fps) << code;
        EXPECT_EQ(info->statedFrameDuration, table[effective].ticks) << code;
    }
}

TEST(MpegVideo, AspectModesAndVbvSize)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    auto parse = [&](const SeqFields& f, uint32_t mode) {
        const Bytes b = SequenceHeader(f);
        return ParseSequenceHeader(b.data(), uint32_t(b.size()), *info, mode);
    };

    // MPEG-1 pel aspect: X = width, Y = height * (pel height / pel width).
    SeqFields f;
    f.width = 352;
    f.height = 288;
    f.aspect = 8;  // 0.9375, CCIR 601 625 lines
    ASSERT_TRUE(parse(f, kAspectMpeg1));
    EXPECT_EQ(info->aspectX, 352u);
    EXPECT_EQ(info->aspectY, 270u);
    f.height = 240;
    f.aspect = 12;  // 1.125, CCIR 601 525 lines
    ASSERT_TRUE(parse(f, kAspectMpeg1));
    EXPECT_EQ(info->aspectY, 270u);
    f.aspect = 3;  // 0.7031: 240 * 0.7031 = 168.74
    ASSERT_TRUE(parse(f, kAspectMpeg1));
    EXPECT_EQ(info->aspectY, 168u);
    f.aspect = 1;
    ASSERT_TRUE(parse(f, kAspectMpeg1));
    EXPECT_EQ(info->aspectY, 240u);
    f.aspect = 15;  // reserved, no ratio
    EXPECT_FALSE(parse(f, kAspectMpeg1));

    // MPEG-2 display aspect; reserved codes read as 4:3; other modes always 4:3.
    const uint32_t expect[][3] = {{1, 1, 1}, {2, 4, 3}, {3, 16, 9}, {4, 221, 100}, {5, 4, 3}, {15, 4, 3}};
    for (const auto& e : expect) {
        f = SeqFields{};
        f.aspect = e[0];
        ASSERT_TRUE(parse(f, kAspectMpeg2));
        EXPECT_EQ(info->aspectX, e[1]) << e[0];
        EXPECT_EQ(info->aspectY, e[2]) << e[0];
    }
    f.aspect = 3;
    ASSERT_TRUE(parse(f, 0));
    EXPECT_EQ(info->aspectX, 4u);
    EXPECT_EQ(info->aspectY, 3u);

    // vbv_buffer_size_value in units of 2048 bytes; under 20000 bytes → 40960;
    // with constrained_parameters_flag at most 40960.
    const uint32_t vbv[][3] = {
        // value, constrained, bytes
        {5, 0, 40960}, {9, 0, 40960}, {10, 0, 20480}, {21, 0, 43008}, {21, 1, 40960}, {20, 1, 40960}, {1023, 0, 2095104},
    };
    for (const auto& v : vbv) {
        f = SeqFields{};
        f.vbv = v[0];
        f.constrained = v[1] != 0;
        ASSERT_TRUE(parse(f, kAspectMpeg2));
        EXPECT_EQ(info->vbvBufferSize, v[2]) << v[0] << " " << v[1];
    }
}

TEST(MpegVideo, SequenceExtensionAndProgressive)
{
    auto info = std::make_unique<SequenceHeaderInfo>();
    const Bytes seq = SequenceHeader(SeqFields{});
    const Bytes next = {0x00, 0x00, 0x01, 0xB8};

    ExtFields e;
    e.horizontalExt = 1;
    e.verticalExt = 2;
    e.bitRateExt = 1;
    Bytes ext = Cat({SequenceExtension(e), next});
    ASSERT_TRUE(ParseSequenceHeader(seq.data(), uint32_t(seq.size()), *info, kAspectMpeg2));
    ASSERT_TRUE(ApplySequenceExtension(ext.data(), uint32_t(ext.size()), *info));
    EXPECT_EQ(info->profile, 4u);
    EXPECT_EQ(info->level, 8u);
    EXPECT_EQ(info->width, 720u + 4096);
    EXPECT_EQ(info->height, 576u + 8192);
    EXPECT_EQ(info->bitRate, 6000000u + 104857600u);

    // The bit-rate sum is 32-bit arithmetic: 6000000 + 4095 * 2^18 * 400 mod 2^32.
    e = ExtFields{};
    e.bitRateExt = 4095;
    ext = Cat({SequenceExtension(e), next});
    ASSERT_TRUE(ParseSequenceHeader(seq.data(), uint32_t(seq.size()), *info, kAspectMpeg2));
    ASSERT_TRUE(ApplySequenceExtension(ext.data(), uint32_t(ext.size()), *info));
    EXPECT_EQ(info->bitRate, 4196109696u);

    // Fewer than 14 bytes, or another extension id.
    ext = SequenceExtension(ExtFields{});
    EXPECT_FALSE(ApplySequenceExtension(ext.data(), uint32_t(ext.size()), *info));
    e = ExtFields{};
    e.id = 2;
    ext = Cat({SequenceExtension(e), next});
    EXPECT_FALSE(ApplySequenceExtension(ext.data(), uint32_t(ext.size()), *info));

    uint8_t progressive = 7;
    e = ExtFields{};
    e.progressive = true;
    ext = SequenceExtension(e);
    EXPECT_TRUE(ReadProgressiveSequence(ext.data(), uint32_t(ext.size()), progressive));
    EXPECT_EQ(progressive, 1);
    e.progressive = false;
    ext = SequenceExtension(e);
    EXPECT_TRUE(ReadProgressiveSequence(ext.data(), uint32_t(ext.size()), progressive));
    EXPECT_EQ(progressive, 0);
    // Not an extension, or cut before the flag: false and the flag reads 1.
    EXPECT_FALSE(ReadProgressiveSequence(ext.data(), 5, progressive));
    EXPECT_EQ(progressive, 1);
    progressive = 0;
    EXPECT_FALSE(ReadProgressiveSequence(seq.data(), uint32_t(seq.size()), progressive));
    EXPECT_EQ(progressive, 1);
}

TEST(MpegVideo, DisplayExtensionMarkerAndAspect)
{
    const Bytes seq = SequenceHeader(SeqFields{});
    const Bytes ext = SequenceExtension(ExtFields{});

    uint32_t w = 0, h = 0;
    Bytes b = Cat({seq, ext, DisplayExtension(2, false, 0, 704, 576)});
    EXPECT_TRUE(ReadDisplaySize(b.data(), uint32_t(b.size()), w, h));
    EXPECT_EQ(w, 704u);
    EXPECT_EQ(h, 576u);
    b = Cat({seq, ext, DisplayExtension(5, true, 1, 540, 480)});
    EXPECT_TRUE(ReadDisplaySize(b.data(), uint32_t(b.size()), w, h));
    EXPECT_EQ(w, 540u);
    EXPECT_EQ(h, 480u);
    // None present: true, outputs untouched. Cut short: false.
    w = h = 99;
    b = Cat({seq, ext});
    EXPECT_TRUE(ReadDisplaySize(b.data(), uint32_t(b.size()), w, h));
    EXPECT_EQ(w, 99u);
    b = Cat({seq, DisplayExtension(5, true, 1, 540, 480)});
    EXPECT_FALSE(ReadDisplaySize(b.data(), uint32_t(b.size() - 1), w, h));

    // Encoder marker: first display extension with colour description (0x2B or
    // 0x21) has transfer_characteristics 11.
    uint8_t flag = 9;
    b = Cat({seq, ext, DisplayExtension(5, true, 11, 720, 576)});  // 0x2B
    EXPECT_TRUE(FindEncoderMarker(b.data(), uint32_t(b.size()), flag));
    EXPECT_EQ(flag, 1);
    b = Cat({seq, ext, DisplayExtension(0, true, 11, 720, 576)});  // 0x21
    EXPECT_TRUE(FindEncoderMarker(b.data(), uint32_t(b.size()), flag));
    b = Cat({seq, ext, DisplayExtension(1, true, 11, 720, 576)});  // 0x23: other video_format
    EXPECT_FALSE(FindEncoderMarker(b.data(), uint32_t(b.size()), flag));
    EXPECT_EQ(flag, 0);
    b = Cat({seq, DisplayExtension(5, true, 1, 720, 576), DisplayExtension(5, true, 11, 720, 576)});
    EXPECT_FALSE(FindEncoderMarker(b.data(), uint32_t(b.size()), flag));  // only the first counts
    b = Cat({seq, DisplayExtension(5, true, 11, 720, 576)});
    EXPECT_FALSE(FindEncoderMarker(b.data(), uint32_t(seq.size() + 6), flag));  // transfer byte cut off

    // Display size vs coded size: 4:3 shown on 704 of 720 columns → 15:11;
    // 16:9 on 540 of 720 → 64:27.
    uint32_t x = 4, y = 3;
    AspectFromDisplaySize(x, y, 720, 576, 704, 576);
    EXPECT_EQ(x, 15u);
    EXPECT_EQ(y, 11u);
    x = 16;
    y = 9;
    AspectFromDisplaySize(x, y, 720, 480, 540, 480);
    EXPECT_EQ(x, 64u);
    EXPECT_EQ(y, 27u);
    x = 16;
    y = 9;
    AspectFromDisplaySize(x, y, 720, 480, 720, 480);  // same size: unchanged
    EXPECT_EQ(x, 16u);
    AspectFromDisplaySize(x, y, 720, 480, 0, 480);  // no display width: unchanged
    EXPECT_EQ(x, 16u);
    EXPECT_EQ(y, 9u);

    // Sample aspect → display aspect snapping.
    struct Case {
        uint32_t x, y, w, h, ex, ey;
    };
    const Case cases[] = {
        {1, 1, 720, 540, 4, 3},      // 100 * 720 / 540 = 133
        {1, 1, 1920, 1080, 16, 9},   // 177
        {12, 11, 352, 288, 4, 3},    // 4224 / 3168
        {1, 1, 720, 576, 720, 576},  // 125: unreduced
        {1, 1, 100, 100, 1, 1},
        {0, 0, 720, 576, 1, 1},
        {1, 0, 720, 576, 720, 0},
    };
    for (const Case& c : cases) {
        x = c.x;
        y = c.y;
        AspectFromSampleAspect(x, y, c.w, c.h);
        EXPECT_EQ(x, c.ex) << c.x << ":" << c.y << " " << c.w << "x" << c.h;
        EXPECT_EQ(y, c.ey) << c.x << ":" << c.y << " " << c.w << "x" << c.h;
    }
}

TEST(MpegVideo, PictureLevelFields)
{
    uint32_t order = 99;
    uint8_t progressiveFrame = 99;
    struct Case {
        uint32_t structure;
        bool topFirst;
        uint32_t order;
    };
    const Case cases[] = {{3, true, 1}, {3, false, 2}, {1, false, 1}, {2, true, 2}, {0, true, 0}};
    for (const Case& c : cases) {
        const Bytes b = PictureCodingExtension(c.structure, c.topFirst, c.structure == 3);
        ASSERT_EQ(b.size(), 9u);
        EXPECT_TRUE(ReadFieldOrder(b.data(), uint32_t(b.size()), order, progressiveFrame));
        EXPECT_EQ(order, c.order) << c.structure << c.topFirst;
        EXPECT_EQ(progressiveFrame, c.structure == 3 ? 1 : 0);
    }
    Bytes b = PictureCodingExtension(3, true, true);
    EXPECT_TRUE(ReadFieldOrder(b.data(), 8, order, progressiveFrame));
    EXPECT_EQ(order, 1u);
    EXPECT_EQ(progressiveFrame, 0);  // its byte is not there
    EXPECT_FALSE(ReadFieldOrder(b.data(), 7, order, progressiveFrame));
    b[3] = 0xB3;
    EXPECT_FALSE(ReadFieldOrder(b.data(), uint32_t(b.size()), order, progressiveFrame));

    uint8_t closed = 9, broken = 9;
    b = Cat({SequenceHeader(SeqFields{}), GopHeader(true, false)});
    EXPECT_TRUE(ReadGopFlags(b.data(), uint32_t(b.size()), closed, broken));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(broken, 0);
    b = GopHeader(false, true);
    EXPECT_TRUE(ReadGopFlags(b.data(), uint32_t(b.size()), closed, broken));
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(broken, 1);
    EXPECT_FALSE(ReadGopFlags(b.data(), 7, closed, broken));

    uint32_t tr = 0;
    b = Cat({GopHeader(true, false), PictureHeader(0x2A5, 1), Bytes{0, 0, 0}});
    EXPECT_TRUE(ReadTemporalReference(b.data(), uint32_t(b.size()), tr));
    EXPECT_EQ(tr, 0x2A5u);
    // A picture header starting exactly 8 bytes before the end is not searched.
    b = Cat({GopHeader(true, false), PictureHeader(5, 1)});
    ASSERT_EQ(b.size() - 8, 8u);
    EXPECT_FALSE(ReadTemporalReference(b.data(), uint32_t(b.size()), tr));
}

struct VolFields {
    bool objectLayerId = false;
    uint32_t verid = 1;
    uint32_t aspect = 1;
    uint32_t parW = 12, parH = 11;
    bool vbvParameters = false;
    uint32_t firstHalfBitRate = 0, latterHalfBitRate = 0;
    uint32_t firstHalfVbv = 0, latterHalfVbv = 0;
    uint32_t shape = 0;
    uint32_t resolution = 25;
    bool fixedRate = true;
    uint32_t incrementBits = 5;
    uint32_t increment = 1;
    uint32_t width = 320, height = 240;
};

// video_object_layer() of ISO/IEC 14496-2 6.2.3 up to the picture size.
Bytes VolHeader(const VolFields& f)
{
    mdtest::BitWriter w;
    w.Put(0x00000120, 32);
    w.PutBit(false);  // random_accessible_vol
    w.Put(1, 8);      // video_object_type_indication: simple
    w.PutBit(f.objectLayerId);
    if (f.objectLayerId) {
        w.Put(f.verid, 4);
        w.Put(1, 3);
    }
    w.Put(f.aspect, 4);
    if (f.aspect == 15) {
        w.Put(f.parW, 8);
        w.Put(f.parH, 8);
    }
    w.PutBit(f.vbvParameters);  // vol_control_parameters
    if (f.vbvParameters) {
        w.Put(1, 2);      // chroma_format
        w.PutBit(true);   // low_delay
        w.PutBit(true);   // vbv_parameters
        w.Put(f.firstHalfBitRate, 15);
        w.PutBit(true);
        w.Put(f.latterHalfBitRate, 15);
        w.PutBit(true);
        w.Put(f.firstHalfVbv, 15);
        w.PutBit(true);
        w.Put(f.latterHalfVbv, 3);
        w.Put(0, 11);
        w.PutBit(true);
        w.Put(0, 15);
        w.PutBit(true);
    }
    w.Put(f.shape, 2);
    if (f.shape == 3 && f.verid != 1)
        w.Put(0, 4);
    w.PutBit(true);
    w.Put(f.resolution, 16);
    w.PutBit(true);
    w.PutBit(f.fixedRate);
    if (f.fixedRate)
        w.Put(f.increment, f.incrementBits);
    if (f.shape == 0) {
        w.PutBit(true);
        w.Put(f.width, 13);
        w.PutBit(true);
        w.Put(f.height, 13);
        w.PutBit(true);
    }
    w.Put(0, 3);  // interlaced, obmc_disable, sprite_enable
    w.AlignOnes();
    return w.Take();
}

TEST(MpegVideo, VolHeader)
{
    const Bytes vo = {0x00, 0x00, 0x01, 0x00};  // video_object_start_code
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x20};
    SequenceHeaderInfo info{};

    Bytes vol = VolHeader(VolFields{});
    Bytes b = Cat({vo, vol, vop});
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.profile, 2u);
    EXPECT_EQ(info.level, 1u);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.height, 240u);
    EXPECT_EQ(info.frameRate, 25.0);
    EXPECT_EQ(info.frameDuration, 400000);
    EXPECT_EQ(info.statedFrameDuration, 400000u);
    EXPECT_EQ(info.bitRate, 2000000u);
    EXPECT_EQ(info.vbvBufferSize, 16384u);
    EXPECT_EQ(info.aspectX, 1u);
    EXPECT_EQ(info.aspectY, 1u);
    EXPECT_EQ(info.headerLength, int32_t(vo.size() + vol.size()));

    // 30000/1001: 15 bits for the increment; 10^7 / 29.97002997 = 333666.67.
    VolFields f;
    f.resolution = 30000;
    f.incrementBits = 15;
    f.increment = 1001;
    b = Cat({VolHeader(f), vop});
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_DOUBLE_EQ(info.frameRate, 30000.0 / 1001.0);
    EXPECT_EQ(info.frameDuration, 333666);
    EXPECT_EQ(info.width, 320u);

    // No fixed rate: 29.97 and 333667. No VOP after it: header length -1.
    f = VolFields{};
    f.fixedRate = false;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.frameRate, 29.97);
    EXPECT_EQ(info.frameDuration, 333667);
    EXPECT_EQ(info.statedFrameDuration, 333667u);
    EXPECT_EQ(info.headerLength, -1);
    EXPECT_EQ(info.height, 240u);

    // A resolution of 16 has 5 significant bits; increment 2 → 8 fps.
    f = VolFields{};
    f.resolution = 16;
    f.incrementBits = 5;
    f.increment = 2;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.frameRate, 8.0);
    EXPECT_EQ(info.width, 320u);

    // VBV parameters: (first << 15 + latter) * 400 bit/s, (first << 3 + latter) * 16384.
    f = VolFields{};
    f.vbvParameters = true;
    f.firstHalfBitRate = 1;
    f.latterHalfBitRate = 2500;
    f.firstHalfVbv = 1;
    f.latterHalfVbv = 2;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.bitRate, (32768u + 2500) * 400);
    EXPECT_EQ(info.vbvBufferSize, 10u * 16384);
    EXPECT_EQ(info.width, 320u);
    EXPECT_EQ(info.frameRate, 25.0);

    // Extended PAR (fields skipped, aspect 0:0), and the aspect codes.
    f = VolFields{};
    f.aspect = 15;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.aspectX, 0u);
    EXPECT_EQ(info.aspectY, 0u);
    EXPECT_EQ(info.width, 320u);
    const uint32_t aspects[][3] = {{2, 4, 3}, {3, 4, 3}, {4, 16, 9}, {5, 16, 9}, {0, 0, 0}, {6, 0, 0}};
    for (const auto& a : aspects) {
        f.aspect = a[0];
        b = VolHeader(f);
        ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
        EXPECT_EQ(info.aspectX, a[1]) << a[0];
        EXPECT_EQ(info.aspectY, a[2]) << a[0];
    }

    // Grayscale shape with a layer version other than 1 carries a 4-bit shape
    // extension; the picture size then takes its defaults.
    f = VolFields{};
    f.objectLayerId = true;
    f.verid = 2;
    f.shape = 3;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.frameRate, 25.0);
    EXPECT_EQ(info.width, 720u);
    EXPECT_EQ(info.height, 480u);
    // Version 1 has no shape extension.
    f.verid = 1;
    b = VolHeader(f);
    ASSERT_TRUE(ParseVolHeader(b.data(), uint32_t(b.size()), info));
    EXPECT_EQ(info.frameRate, 25.0);

    // No VOL start code; a buffer of exactly 4 bytes; a VOL start code at the end.
    EXPECT_FALSE(ParseVolHeader(vop.data(), uint32_t(vop.size()), info));
    EXPECT_FALSE(ParseVolHeader(vol.data(), 4, info));
    EXPECT_FALSE(ParseVolHeader(nullptr, 10, info));
    const Bytes cut = {0xAA, 0x00, 0x00, 0x01, 0x20};
    EXPECT_FALSE(ParseVolHeader(cut.data(), uint32_t(cut.size()), info));
    // A VOL cut after a few bytes still parses (fields missing read as 0).
    EXPECT_TRUE(ParseVolHeader(vol.data(), 6, info));
}

TEST(MpegVideo, CollectHeadersMpegVideo)
{
    const Bytes seq = SequenceHeader(SeqFields{});
    const Bytes ext = SequenceExtension(ExtFields{});
    const Bytes disp = DisplayExtension(5, false, 0, 704, 576);
    const Bytes quant = {0x00, 0x00, 0x01, 0xB5, 0x30, 0x00};  // quant matrix extension: not taken
    const Bytes gop = GopHeader(true, false);
    const Bytes user = {0x00, 0x00, 0x01, 0xB2, 'a', 'b'};
    const Bytes pic = PictureHeader(0, 1);
    const Bytes pce = PictureCodingExtension(3, true, false);
    const Bytes slice = {0x00, 0x00, 0x01, 0x01, 0x12, 0x34};

    auto r = NewStreamRecord();
    ASSERT_NE(r, nullptr);
    Bytes b = Cat({seq, ext, disp, quant, gop, user, pic, pce, slice});
    ASSERT_TRUE(CollectHeaders(b.data(), uint32_t(b.size()), r->extraData1, r->extraData1Length, r->extraData2,
                               r->extraData2Length, kModeMpegVideo));
    const Bytes want1 = Cat({seq, ext, disp});
    const Bytes want2 = Cat({pic, pce});
    ASSERT_EQ(r->extraData1Length, int32_t(want1.size()));
    ASSERT_EQ(r->extraData2Length, int32_t(want2.size()));
    EXPECT_EQ(Bytes(r->extraData1, r->extraData1 + want1.size()), want1);
    EXPECT_EQ(Bytes(r->extraData2, r->extraData2 + want2.size()), want2);

    // No slice: failure, outputs untouched.
    auto fresh = NewStreamRecord();
    fresh->extraData1Length = 5;
    fresh->extraData1[0] = 0x77;
    b = Cat({seq, ext, pic, pce});
    EXPECT_FALSE(CollectHeaders(b.data(), uint32_t(b.size()), fresh->extraData1, fresh->extraData1Length,
                                fresh->extraData2, fresh->extraData2Length, kModeMpegVideo));
    EXPECT_EQ(fresh->extraData1Length, 5);
    EXPECT_EQ(fresh->extraData1[0], 0x77);
    // A slice start code right at the end still ends the walk successfully.
    b = Cat({seq, pic, Bytes{0x00, 0x00, 0x01, 0xAF}});
    ASSERT_TRUE(CollectHeaders(b.data(), uint32_t(b.size()), r->extraData1, r->extraData1Length, r->extraData2,
                               r->extraData2Length, kModeMpegVideo));
    EXPECT_EQ(r->extraData1Length, int32_t(seq.size()));
    EXPECT_EQ(r->extraData2Length, int32_t(pic.size()));

    // A unit too large for what is left of its area is left out.
    Bytes bigExt = SequenceExtension(ExtFields{});
    bigExt.resize(kExtraDataSize, 0x55);
    b = Cat({seq, bigExt, pic, slice});
    ASSERT_TRUE(CollectHeaders(b.data(), uint32_t(b.size()), r->extraData1, r->extraData1Length, r->extraData2,
                               r->extraData2Length, kModeMpegVideo));
    EXPECT_EQ(r->extraData1Length, int32_t(seq.size()));
    EXPECT_EQ(std::memcmp(r->extraData1, seq.data(), seq.size()), 0);

    EXPECT_FALSE(CollectHeaders(b.data(), uint32_t(b.size()), r->extraData1, r->extraData1Length, r->extraData2,
                                r->extraData2Length, 7));
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
    Bytes b = Cat({sei, sps, subsetSps, pps, idr});
    ASSERT_TRUE(CollectHeaders(b.data(), uint32_t(b.size()), r->extraData1, r->extraData1Length, r->extraData2,
                               r->extraData2Length, kModeH264));
    const Bytes want1 = Cat({sps, subsetSps});
    ASSERT_EQ(r->extraData1Length, int32_t(want1.size()));
    EXPECT_EQ(Bytes(r->extraData1, r->extraData1 + want1.size()), want1);
    ASSERT_EQ(r->extraData2Length, int32_t(pps.size()));
    EXPECT_EQ(Bytes(r->extraData2, r->extraData2 + pps.size()), pps);

    // Three-byte start codes: a unit runs from the byte before its prefix (the
    // first one from byte 0) to the byte before the next prefix.
    const Bytes three = {0x00, 0x00, 0x01, 0x67, 0xAA, 0xBB, 0x00, 0x00, 0x01, 0x68, 0xCC, 0xDD,
                         0x00, 0x00, 0x01, 0x65, 0xEE};
    ASSERT_TRUE(CollectHeaders(three.data(), uint32_t(three.size()), r->extraData1, r->extraData1Length,
                               r->extraData2, r->extraData2Length, kModeMvc));
    EXPECT_EQ(Bytes(r->extraData1, r->extraData1 + r->extraData1Length), (Bytes{0x00, 0x00, 0x01, 0x67, 0xAA}));
    EXPECT_EQ(Bytes(r->extraData2, r->extraData2 + r->extraData2Length),
              (Bytes{0xBB, 0x00, 0x00, 0x01, 0x68, 0xCC}));

    // An SPS without a PPS, or a PPS that is the last unit: failure.
    auto fresh = NewStreamRecord();
    b = Cat({sps, idr});
    EXPECT_FALSE(CollectHeaders(b.data(), uint32_t(b.size()), fresh->extraData1, fresh->extraData1Length,
                                fresh->extraData2, fresh->extraData2Length, kModeH264));
    b = Cat({sps, pps});
    EXPECT_FALSE(CollectHeaders(b.data(), uint32_t(b.size()), fresh->extraData1, fresh->extraData1Length,
                                fresh->extraData2, fresh->extraData2Length, kModeH264));
    EXPECT_EQ(fresh->extraData1Length, 0);
    EXPECT_EQ(fresh->extraData2Length, 0);
}

TEST(StartCode, Searches)
{
    Bytes b = {0xAA, 0x00, 0x00, 0x01, 0xB3};
    const uint8_t* p = b.data();
    uint32_t rem = uint32_t(b.size());
    EXPECT_TRUE(FindStartCode(p, rem));
    EXPECT_EQ(p, b.data() + 1);
    EXPECT_EQ(rem, 4u);
    // With 4 bytes left the walk stops untested: true, but no prefix there.
    b = {0xAA, 0xBB, 0x00, 0x00, 0x01};
    p = b.data();
    rem = uint32_t(b.size());
    EXPECT_TRUE(FindStartCode(p, rem));
    EXPECT_EQ(p, b.data() + 1);
    EXPECT_FALSE(IsStartCodeAt(p, rem));
    p = b.data();
    rem = 3;
    EXPECT_FALSE(FindStartCode(p, rem));

    // The masked walk: an H.264 prefix stops one byte early; any MPEG start code.
    b = {0x11, 0x22, 0x00, 0x00, 0x01, 0x67, 0x42};
    p = b.data();
    rem = uint32_t(b.size());
    EXPECT_TRUE(FindMaskedStartCode(p, rem, 0x000001, 0x00FFFFFF));
    EXPECT_EQ(p, b.data() + 1);
    p = b.data();
    rem = uint32_t(b.size());
    EXPECT_TRUE(FindMaskedStartCode(p, rem, 0x00000100, 0xFFFFFF00));
    EXPECT_EQ(p, b.data() + 2);
    p = b.data();
    rem = uint32_t(b.size());
    EXPECT_TRUE(FindMaskedStartCode(p, rem, 0x000001B3, 0xFFFFFFFF));  // absent: stops with 4 left
    EXPECT_EQ(rem, 4u);

    EXPECT_TRUE(IsVideoStreamId(0xE0) && IsVideoStreamId(0xEF) && !IsVideoStreamId(0xF0));
    EXPECT_TRUE(IsAudioStreamId(0xC0) && IsAudioStreamId(0xDF) && !IsAudioStreamId(0xE0) && !IsAudioStreamId(0xBD));
    EXPECT_TRUE(IsPrivateStream1(0xBD) && !IsPrivateStream1(0xBF));

    // Sequence header present?
    const Bytes mpeg = Cat({GopHeader(true, false), SequenceHeader(SeqFields{})});
    EXPECT_TRUE(HasSequenceHeader(mpeg.data(), uint32_t(mpeg.size()), kModeMpegVideo));
    const Bytes noSeq = Cat({GopHeader(true, false), Bytes{0x00, 0x00, 0xB3, 0x01}});
    EXPECT_FALSE(HasSequenceHeader(noSeq.data(), uint32_t(noSeq.size()), kModeMpegVideo));
    const Bytes avc = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67, 0x42};
    EXPECT_TRUE(HasSequenceHeader(avc.data(), uint32_t(avc.size()), kModeH264));
    EXPECT_FALSE(HasSequenceHeader(avc.data(), uint32_t(avc.size()), kModeMpegVideo));
    EXPECT_FALSE(HasSequenceHeader(avc.data(), uint32_t(avc.size()), 5));
    const Bytes subset = {0x00, 0x00, 0x01, 0x6F, 0x00};
    EXPECT_TRUE(HasSequenceHeader(subset.data(), uint32_t(subset.size()), kModeMvc));
    const Bytes pps = {0x00, 0x00, 0x01, 0x68, 0x00};
    EXPECT_FALSE(HasSequenceHeader(pps.data(), uint32_t(pps.size()), kModeH264));
}

TEST(StartCode, PictureType)
{
    // MPEG video: the first picture with coding type 1..3; a D picture (4) is skipped.
    Bytes b = Cat({SequenceHeader(SeqFields{}), PictureHeader(3, 2)});
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeMpegVideo), 1);
    b = Cat({PictureHeader(0, 4), PictureHeader(1, 3)});
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeMpegVideo), 2);
    b = PictureHeader(0, 1);
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeMpegVideo), 0);
    EXPECT_EQ(PictureType(b.data(), 5, kModeMpegVideo), -1);  // coding type byte cut off
    b = SequenceHeader(SeqFields{});
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeMpegVideo), -1);

    // H.264: IDR → 3; non-IDR slices by slice_type when first_mb_in_slice is 0.
    auto slice = [](uint32_t firstMb, uint32_t sliceType) {
        mdtest::BitWriter w;
        w.Put(0x00000141, 32);  // start code, nal_unit_type 1
        auto ue = [&w](uint32_t v) {
            uint32_t z = 0;
            while ((v + 1) >> (z + 1))
                ++z;
            w.Put(0, z);
            w.Put(v + 1, z + 1);
        };
        ue(firstMb);
        ue(sliceType);
        w.AlignOnes();
        w.Put(0xFFFF, 16);
        return w.Take();
    };
    const Bytes idr = {0x00, 0x00, 0x01, 0x65, 0x88};
    EXPECT_EQ(PictureType(idr.data(), uint32_t(idr.size()), kModeH264), 3);
    const int expect[10] = {1, 2, 0, 1, 0, 1, 2, 0, 1, 0};  // P B I SP SI, then +5
    for (uint32_t t = 0; t < 10; ++t) {
        b = slice(0, t);
        EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeH264), expect[t]) << t;
    }
    b = Cat({slice(5, 2), slice(0, 1)});  // the first slice does not start a picture
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeMvc), 2);
    b = slice(0, 10);  // not a slice_type
    EXPECT_EQ(PictureType(b.data(), uint32_t(b.size()), kModeH264), -1);
    const Bytes sps = {0x00, 0x00, 0x01, 0x67, 0x42, 0x00};
    EXPECT_EQ(PictureType(sps.data(), uint32_t(sps.size()), kModeH264), -1);
    EXPECT_EQ(PictureType(idr.data(), 3, kModeH264), -1);
    EXPECT_EQ(PictureType(idr.data(), uint32_t(idr.size()), 9), -1);
}

TEST(MpegVideo, NormalizeFrameRate)
{
    // The bounds are single-precision: 29.98f is a little below 29.98, 59.90f a
    // little above 59.90 and 60.01f a little below 60.01.
    const double cases[][2] = {
        {29.95, 29.97}, {29.90, 29.97}, {29.98, 30.0},  {30.005, 30.0}, {30.02, 30.02},
        {23.95, 23.976}, {23.98, 23.98}, {23.89, 23.89}, {59.93, 59.94}, {59.90, 59.90},
        {59.99, 60.0},  {60.01, 60.01}, {15.0, 15.0},   {14.995, 15.0}, {25.0, 25.0},
    };
    for (const auto& c : cases) {
        double fps = c[0];
        NormalizeFrameRate(fps);
        EXPECT_EQ(fps, c[1]) << c[0];
    }
}


// Random buffers seeded with start codes, parsed at their exact length (heap
// vectors, so AddressSanitizer sees any read past the end); the results keep
// their documented ranges.
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
        for (size_t i = 0; i + 4 <= b.size(); i += 3 + rng() % 12) {
            b[i] = 0;
            b[i + 1] = 0;
            b[i + 2] = 1;
            b[i + 3] = codes[rng() % sizeof codes];
            if (i + 4 < b.size() && rng() % 2)
                b[i + 4] = static_cast<uint8_t>((rng() % 9) << 4 | (rng() & 0xF));  // extension ids
        }
        // Start some buffers right at a start code.
        if (b.size() >= 4 && rng() % 2) {
            b[0] = 0;
            b[1] = 0;
            b[2] = 1;
            b[3] = codes[rng() % 3];
        }
        const uint8_t* p = b.empty() ? nullptr : b.data();
        const uint32_t n = uint32_t(b.size());

        const uint32_t hl = SequenceHeaderLength(p, n);
        ASSERT_TRUE(hl == 0 || hl == 12 || hl == 76 || hl == 140);
        if (ParseSequenceHeader(p, n, *info, rng() % 3)) {
            ASSERT_LE(uint32_t(info->headerLength), n);
        }
        ApplySequenceExtension(p, n, *info);
        uint8_t flag = 0;
        ReadProgressiveSequence(p, n, flag);
        ASSERT_LE(flag, 1);
        uint32_t w = 0, h = 0, order = 0, tr = 0;
        ReadDisplaySize(p, n, w, h);
        ASSERT_LT(w, 1u << 14);
        FindEncoderMarker(p, n, flag);
        uint8_t closed = 0, broken = 0;
        ReadGopFlags(p, n, closed, broken);
        ReadTemporalReference(p, n, tr);
        ASSERT_LT(tr, 1024u);
        if (ReadFieldOrder(p, n, order, flag)) {
            ASSERT_LE(order, 2u);
        }
        if (ParseVolHeader(p, n, *info)) {
            ASSERT_LT(info->headerLength, int32_t(n));
        }
        for (uint32_t mode : {kModeMpegVideo, kModeH264}) {
            if (CollectHeaders(p, n, r->extraData1, r->extraData1Length, r->extraData2, r->extraData2Length, mode)) {
                ASSERT_LE(r->extraData1Length + r->extraData2Length, int32_t(n));
            }
            const int type = PictureType(p, n, mode);
            ASSERT_TRUE(type >= -1 && type <= 3);
            HasSequenceHeader(p, n, mode);
        }
        const uint8_t* q = p;
        uint32_t rem = n;
        if (FindStartCode(q, rem)) {
            ASSERT_GE(rem, 4u);
            ASSERT_EQ(q + rem, p + n);
        }
    }
}

}  // namespace
}  // namespace md
