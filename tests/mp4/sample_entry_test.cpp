// Sample entries and their codec configuration: MPEG-4 descriptors, the
// AudioSpecificConfig of 'mp4a', the video object layer of 'mp4v', 'avcC',
// 'd263' and 'damr'. Expected values are worked out by hand from the syntax of
// ISO/IEC 14496-1, -2, -3, -15 and 3GPP TS 26.244.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"
#include "support/bit_writer.h"
#include "support/box_builder.h"
#include "support/mp4_builders.h"

namespace {

using md::FourCC;
using md::Mp4Box;
using mdtest::BoxBuilder;
using Bytes = std::vector<uint8_t>;

std::unique_ptr<Mp4Box> Parse(const Bytes& bytes) { return md::ParseBox(bytes.data(), bytes.size()); }

Bytes Esds(const Bytes& esDescriptor)
{
    BoxBuilder b;
    b.BeginFull("esds", 0, 0).Bytes(esDescriptor).End();
    return b.Take();
}

TEST(SampleEntry, ParseDescriptor)
{
    struct Case {
        Bytes bytes;
        size_t available;
        int tag;
        uint32_t length, totalLength;
    };
    const Case cases[] = {
        {{0x05, 0x02, 0xAA, 0xBB}, 4, 5, 2, 4},
        {{0x05, 0x02, 0xAA, 0xBB}, 3, -1, 0, 0},                 // one byte short of the payload
        {{0x04, 0x80, 0x80, 0x80, 0x02, 1, 2}, 7, 4, 2, 7},      // the length in four 7-bit groups
        {{0x03, 0x80, 0x80, 0x80, 0x80, 0x05}, 6, 3, 0, 5},      // a fifth length byte is payload
        {{0x03, 0x81}, 2, -1, 0, 0},                             // length bytes that run out
        {{0x03}, 1, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes, " << c.available << " available");
        const md::Mp4Descriptor d = md::ParseDescriptor(c.bytes.data(), c.available);
        EXPECT_EQ(d.tag, c.tag);
        EXPECT_EQ(d.length, c.length);
        EXPECT_EQ(d.totalLength, c.totalLength);
    }
    const Bytes d{0x05, 0x02, 0xAA, 0xBB, 0xCC};
    const md::Mp4Descriptor r = md::ParseDescriptor(d.data(), d.size());
    EXPECT_EQ(r.payload[1], 0xBB);
    EXPECT_EQ(r.payload[2], 0);  // nothing copied beyond the length
    EXPECT_EQ(md::ParseDescriptor(nullptr, 0).tag, -1);
    // 0x82 0x00 is 256, the most kept; 0x82 0x01 is 257, refused.
    Bytes big{0x03, 0x82, 0x00};
    big.resize(3 + 257, 0x77);
    EXPECT_EQ(md::ParseDescriptor(big.data(), big.size()).length, 256u);
    EXPECT_EQ(md::ParseDescriptor(big.data(), big.size()).totalLength, 259u);
    big[2] = 0x01;
    EXPECT_EQ(md::ParseDescriptor(big.data(), big.size()).tag, -1);
}

TEST(SampleEntry, EsdsDescriptorChain)
{
    const Bytes esds = Esds(mdtest::EsDescriptor(0x40, 0x001800, 128000, 96000, Bytes{0x12, 0x10}));
    const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
    EXPECT_EQ(info.objectTypeIndication, 0x40u);
    EXPECT_EQ(info.bufferSizeDB, 0x1800u);
    EXPECT_EQ(info.maxBitrate, 128000u);
    EXPECT_EQ(info.avgBitrate, 96000u);
    ASSERT_EQ(info.decoderSpecificInfoLength, 2u);
    EXPECT_EQ(info.decoderSpecificInfo[0], 0x12);
    EXPECT_EQ(info.decoderSpecificInfo[1], 0x10);
    // Cut inside the decoder-specific info: the chain stops at the ES
    // descriptor, whose length no longer fits.
    const md::EsdsInfo cut = md::ReadEsdsInfo(esds.data(), esds.size() - 6);
    EXPECT_EQ(cut.esDescriptor.tag, -1);
    EXPECT_EQ(cut.objectTypeIndication, 0u);

    // A DecoderConfigDescriptor of length 0 leaves its fields 0.
    const Bytes other = Esds(mdtest::Descriptor(3, Bytes{0, 1, 0, 0x04, 0x00}));
    const md::EsdsInfo empty = md::ReadEsdsInfo(other.data(), other.size());
    EXPECT_EQ(empty.decoderConfigDescriptor.tag, 4);
    EXPECT_EQ(empty.objectTypeIndication, 0u);
}

TEST(SampleEntry, Mp4aAudioSpecificConfig)
{
    struct Case {
        Bytes dsi;
        uint16_t channels, expectedChannels;
        uint32_t rate, expectedRate;
    };
    mdtest::BitWriter explicitRate;  // index 15: a 24-bit rate, then channel configuration 5
    for (auto [value, bits] : {std::pair{2u, 5u}, {15u, 4u}, {0x00ABCDu, 24u}, {5u, 4u}})
        explicitRate.Put(value, bits);
    explicitRate.AlignZero();
    const Case cases[] = {
        {{0x11, 0x90}, 1, 2, 22050, 48000},  // AAC LC, index 3, channel configuration 2
        {{0x16, 0x30}, 2, 6, 44100, 7350},   // 00010 1100 0110: index 12, configuration 6
        {{0x16, 0x90}, 1, 2, 44100, 0},      // index 13 is reserved
        {explicitRate.Take(), 2, 5, 44100, 0xABCD},
        {{}, 1, 1, 32000, 32000},  // no decoder-specific info: the fixed part's values stay
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.expectedRate);
        auto box = Parse(mdtest::Mp4aEntry(c.channels, 16, c.rate, 0x40, 96000, c.dsi));
        const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
        ASSERT_TRUE(a);
        EXPECT_EQ(a->channelCount, c.expectedChannels);
        EXPECT_EQ(a->sampleRate, c.expectedRate);
    }
    // A QuickTime version-1 sound description: 16 more bytes, then the 'esds'
    // inside a 'wave' box; the byte search still finds it.
    BoxBuilder b;
    b.Begin("mp4a").Zeros(6).U16(1).U16(1).U16(0).U32(0);
    b.U16(2).U16(16).U16(0xFFFE).U16(0).U32(44100u << 16);
    b.U32(1024).U32(0).U32(4).U32(2);
    b.Begin("wave").Begin("frma").Type("mp4a").End();
    b.Bytes(Esds(mdtest::EsDescriptor(0x40, 0, 0, 64000, Bytes{0x12, 0x08})));
    b.Zeros(8).End().End();
    auto box = Parse(b.Take());
    const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->esds.avgBitrate, 64000u);
    EXPECT_EQ(a->channelCount, 1);  // 00010 0100 0001: 44100 Hz, mono
    EXPECT_EQ(a->sampleSize, 16);
}

// A visual object sequence and visual object header, then a 352x288 interlaced
// video object layer of aspect code 3 (10:11) with the optional fields
// mdtest::Mpeg4Vol leaves out.
struct VolFields {
    bool layerIdentifier = false;  // 7 bits of verid and priority
    bool vbv = false;              // vol_control_parameters with 79 bits of vbv_parameters
    uint32_t shape = 0;
    uint32_t resolution = 25;
    unsigned incrementBits = 0;  // fixed_vop_time_increment (all ones); 0: no fixed_vop_rate
};

Bytes VolBytes(const VolFields& f)
{
    mdtest::BitWriter w;
    for (uint32_t word : {0x000001B0u, 0x01000001u, 0xB5090000u, 0x01000000u, 0x00000120u})
        w.Put(word, 32);
    w.Put(0, 1);  // random_accessible_vol
    w.Put(1, 8);  // video_object_type_indication: simple
    w.Put(f.layerIdentifier, 1);
    if (f.layerIdentifier)
        w.Put(0x09, 7);
    w.Put(3, 4);  // aspect_ratio_info
    w.Put(f.vbv, 1);
    if (f.vbv) {
        w.Put(0x7, 4);  // chroma_format 4:2:0, low_delay, vbv_parameters
        for (int i = 0; i < 79; ++i)
            w.Put(i % 2, 1);
    }
    w.Put(f.shape, 2);
    w.Put(1, 1);
    w.Put(f.resolution, 16);
    w.Put(1, 1);
    w.Put(f.incrementBits != 0, 1);
    w.Put((uint64_t(1) << f.incrementBits) - 1, f.incrementBits);
    for (uint32_t field : {352u, 288u}) {
        w.Put(1, 1);
        w.Put(field, 13);
    }
    w.Put(1, 1);
    w.Put(1, 1);  // interlaced
    w.Put(1, 1);  // obmc_disable
    w.AlignZero();
    return w.Take();
}

TEST(SampleEntry, ScanVolHeader)
{
    // aspect_ratio_info 15 carries its own ratio; 2, 3, 5 are 12:11, 10:11,
    // 40:33; 0 (forbidden) and 7 (reserved) are no ratio.
    for (auto [code, w, h] : {std::tuple{15, 16, 11}, {2, 12, 11}, {3, 10, 11}, {5, 40, 33}, {0, -1, -1}, {7, -1, -1}}) {
        const Bytes bytes = mdtest::Mpeg4Vol(720, 576, 30000, true, static_cast<uint8_t>(code), 16, 11);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol) << code;
        EXPECT_EQ(vol->parWidth, w) << code;
        EXPECT_EQ(vol->parHeight, h) << code;
        EXPECT_EQ(vol->vopTimeIncrementResolution, 30000) << code;
        EXPECT_EQ(vol->width, 720) << code;
        EXPECT_EQ(vol->height, 576) << code;
        EXPECT_EQ(vol->interlaced, 1) << code;
    }
    // The optional fields before the picture size; fixed_vop_time_increment is
    // as wide as resolution - 1 needs, but at least one bit (resolution 1).
    const VolFields optional[] = {{.layerIdentifier = true},
                                  {.vbv = true},
                                  {.resolution = 16, .incrementBits = 4},
                                  {.resolution = 1, .incrementBits = 1}};
    for (const VolFields& f : optional) {
        SCOPED_TRACE(testing::Message() << f.layerIdentifier << f.vbv << " " << f.resolution);
        const Bytes bytes = VolBytes(f);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol);
        EXPECT_EQ(vol->parWidth, 10);
        EXPECT_EQ(vol->vopTimeIncrementResolution, int32_t(f.resolution));
        EXPECT_EQ(vol->width, 352);
        EXPECT_EQ(vol->height, 288);
        EXPECT_EQ(vol->interlaced, 1);
    }
    // Not rectangular, cut before the interlaced flag, no layer start code.
    Bytes bytes = VolBytes({.shape = 1});
    EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size()));
    bytes = VolBytes({});
    ASSERT_TRUE(md::ScanVolHeader(bytes.data(), bytes.size()));
    EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size() - 3));
    bytes[19] = 0x21;  // video_object_layer_start_code with layer id 1
    EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size()));
    const Bytes codeAtEnd{0xFF, 0x00, 0x00, 0x01, 0x20};
    EXPECT_FALSE(md::ScanVolHeader(codeAtEnd.data(), codeAtEnd.size()));
    EXPECT_FALSE(md::ScanVolHeader(nullptr, 0));
}

// An 'avc1' entry whose children are the given boxes (already built).
Bytes Avc1Entry(const Bytes& children)
{
    BoxBuilder b;
    b.Begin("avc1");
    mdtest::PutVisualEntryFields(b, 1920, 1080);
    b.Bytes(children).End();
    return b.Take();
}

// 'avcC' with the given count bytes and parameter sets of the given lengths
// (each filled with 0x60 + index, or 0x70 + index for picture sets).
Bytes AvcC(uint8_t spsCountByte, const std::vector<size_t>& sps, uint8_t ppsCountByte, const std::vector<size_t>& pps)
{
    BoxBuilder b;
    b.Begin("avcC").U8(1).U8(100).U8(0x40).U8(40).U8(0xFF).U8(spsCountByte);
    for (size_t i = 0; i < sps.size(); ++i)
        b.U16(static_cast<uint32_t>(sps[i])).Bytes(Bytes(sps[i], static_cast<uint8_t>(0x60 + i)));
    b.U8(ppsCountByte);
    for (size_t i = 0; i < pps.size(); ++i)
        b.U16(static_cast<uint32_t>(pps[i])).Bytes(Bytes(pps[i], static_cast<uint8_t>(0x70 + i)));
    b.End();
    return b.Take();
}

TEST(SampleEntry, Avc1Configuration)
{
    {
        // Count bytes 0xF1 and 0x11 give one set each (low 4 bits only: as 5 or
        // 8 bits they would be 17 and take the bytes that follow for a set with
        // an oversized length); the 'avcC' follows a 'colr' and a 'pasp'.
        BoxBuilder children;
        children.Begin("colr").Type("nclx").U16(1).U16(1).U16(1).U8(0).End();
        children.Begin("pasp").U32(1).U32(1).End();
        Bytes avcc = AvcC(0xF1, {12}, 0x11, {4});
        avcc.insert(avcc.end(), {0xFD, 0xF8, 0xF8, 0x00});  // chroma_format etc. of High profile
        avcc[3] = static_cast<uint8_t>(avcc.size());
        children.Bytes(avcc);
        auto box = Parse(Avc1Entry(children.Take()));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->profileIndication, 100);
        EXPECT_EQ(e->levelIndication, 40);
        EXPECT_EQ(e->lengthSizeMinusOne, 3);
        ASSERT_EQ(e->sequenceParameterSets.size(), 1u);
        // Each set is kept with its two-byte length.
        EXPECT_EQ(e->sequenceParameterSets[0].length, 14u);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[1], 12);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[13], 0x60);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[14], 0);
        ASSERT_EQ(e->pictureParameterSets.size(), 1u);
        EXPECT_EQ(e->pictureParameterSets[0].length, 6u);
    }
    // A set of 254 bytes (256 with its prefix) is kept; a longer one makes the
    // entry absent, and an 'stsd' whose entry is absent has no entry (nor any
    // after it).
    {
        auto box = Parse(Avc1Entry(AvcC(0xE1, {254}, 1, {4})));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        ASSERT_EQ(e->sequenceParameterSets.size(), 1u);
        EXPECT_EQ(e->sequenceParameterSets[0].length, 256u);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[255], 0x60);
    }
    for (size_t length : {255u, 300u}) {
        EXPECT_FALSE(Parse(Avc1Entry(AvcC(0xE1, {length}, 1, {4})))) << length;
        EXPECT_FALSE(Parse(Avc1Entry(AvcC(0xE1, {8}, 1, {length})))) << length;
        BoxBuilder b;
        b.BeginFull("stsd", 0, 0).U32(2).Bytes(Avc1Entry(AvcC(0xE1, {length}, 1, {4})));
        b.Bytes(mdtest::VisualEntry("cvid", 16, 16)).End();
        auto stsd = Parse(b.Take());
        ASSERT_TRUE(md::BoxAs<md::Mp4StsdBox>(stsd.get()));
        EXPECT_FALSE(md::BoxAs<md::Mp4StsdBox>(stsd.get())->entries);
    }
    {
        // A set that runs past the 'avcC' box: reading stops, the entry stays.
        Bytes avcc = AvcC(0xE1, {20}, 0, {});
        avcc.resize(avcc.size() - 12);
        avcc[3] = static_cast<uint8_t>(avcc.size());
        auto box = Parse(Avc1Entry(avcc));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_TRUE(e->hasAvcC);
        EXPECT_TRUE(e->sequenceParameterSets.empty());
    }
    // A child of size 0, one larger than what is left, or one shorter than a
    // box header ends the walk before the 'avcC'.
    for (uint32_t size : {0u, 0x1000u, 4u}) {
        BoxBuilder children;
        children.U32(size).Type("pasp").U32(1).U32(1).Bytes(AvcC(0xE1, {12}, 1, {4}));
        auto box = Parse(Avc1Entry(children.Take()));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e) << size;
        EXPECT_FALSE(e->hasAvcC) << size;
        EXPECT_EQ(e->width, 1920) << size;
    }
}

TEST(SampleEntry, H263AndAmrConfiguration)
{
    // 'd263' then 'bitr' after the fixed part; without the 'bitr' (fewer than 31
    // bytes after the fixed part) no bit rates.
    BoxBuilder b;
    b.Begin("s263");
    mdtest::PutVisualEntryFields(b, 176, 144);
    b.Begin("d263").Type("FFMP").U8(1).U8(10).U8(2).End().Begin("bitr").U32(64000).U32(128000).End().End();
    auto box = Parse(b.Take());
    const auto* s263 = md::BoxAs<md::Mp4S263Entry>(box.get());
    ASSERT_TRUE(s263);
    EXPECT_EQ(s263->level, 10);
    EXPECT_EQ(s263->profile, 2);
    EXPECT_EQ(s263->avgBitrate, 64000u);
    EXPECT_EQ(s263->maxBitrate, 128000u);
    box = Parse(mdtest::S263Entry(352, 288, 45, 3));
    ASSERT_TRUE(md::BoxAs<md::Mp4S263Entry>(box.get()));
    EXPECT_EQ(md::BoxAs<md::Mp4S263Entry>(box.get())->avgBitrate, 0u);

    // 'damr' after the fixed part; one byte short, all its fields stay 0.
    for (bool whole : {true, false}) {
        b.Begin("samr");
        mdtest::PutAudioEntryFields(b, 2, 16, 8000);
        b.Begin("damr").Type("FFMP").U8(2).U16(0x81FF).U8(3);
        if (whole)
            b.U8(1);
        b.End().End();
        box = Parse(b.Take());
        const auto* amr = md::BoxAs<md::Mp4AmrEntry>(box.get());
        ASSERT_TRUE(amr) << whole;
        EXPECT_EQ(amr->sampleRate, 8000u);
        EXPECT_EQ(amr->vendor, whole ? FourCC("FFMP") : 0u);
        EXPECT_EQ(amr->modeSet, whole ? 0x81FF : 0);
        EXPECT_EQ(amr->framesPerSample, whole ? 1 : 0);
    }
}

TEST(SampleEntry, FixedPartsWithLargeSizeOrCutShort)
{
    // With a 64-bit size every field lies 8 bytes further on.
    BoxBuilder b;
    b.BeginLarge("sowt");
    mdtest::PutAudioEntryFields(b, 6, 24, 44100);
    b.End();
    auto box = Parse(b.Take());
    const auto* a = md::BoxAs<md::Mp4AudioSampleEntry>(box.get());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->largeSize, 44u);
    EXPECT_EQ(a->dataReferenceIndex, 1);
    EXPECT_EQ(a->channelCount, 6);
    EXPECT_EQ(a->sampleSize, 24);
    EXPECT_EQ(a->sampleRate, 44100u);
    // An entry cut inside its fixed part reads the fields it holds.
    b.Begin("mp4v").Zeros(6).U16(3).Zeros(16).U16(64).End();
    box = Parse(b.Take());
    const auto* v = md::BoxAs<md::Mp4Mp4vEntry>(box.get());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->dataReferenceIndex, 3);
    EXPECT_EQ(v->width, 64);
    EXPECT_EQ(v->height, 0);
    EXPECT_EQ(v->esds.esDescriptor.tag, -1);
}

}  // namespace
