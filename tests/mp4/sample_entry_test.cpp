// Sample entries and their codec configuration: MPEG-4 descriptors, the
// AudioSpecificConfig of 'mp4a', the video object layer of 'mp4v', 'avcC',
// 'd263' and 'damr'. Expected values are worked out by hand from the syntax of
// ISO/IEC 14496-1, -2, -3, -15 and 3GPP TS 26.244.
#include <gtest/gtest.h>

#include <vector>

#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"
#include "support/bit_writer.h"
#include "support/box_builder.h"

namespace {

using md::FourCC;
using md::Mp4Box;
using mdtest::BoxBuilder;

std::unique_ptr<Mp4Box> Parse(const std::vector<uint8_t>& bytes) { return md::ParseBox(bytes.data(), bytes.size()); }

void PutEsds(BoxBuilder& b, const std::vector<uint8_t>& esDescriptor)
{
    b.BeginFull("esds", 0, 0).Bytes(esDescriptor).End();
}

std::vector<uint8_t> Mp4aEntry(const std::vector<uint8_t>& dsi, uint16_t channels = 2, uint32_t rate = 44100)
{
    BoxBuilder b;
    b.Begin("mp4a");
    mdtest::PutAudioEntryFields(b, channels, 16, rate);
    PutEsds(b, mdtest::EsDescriptor(0x40, 0x1800, 128000, 96000, dsi));
    b.End();
    return b.Take();
}

TEST(SampleEntry, ParseDescriptor)
{
    {
        const std::vector<uint8_t> d{0x05, 0x02, 0xAA, 0xBB};
        const md::Mp4Descriptor r = md::ParseDescriptor(d.data(), d.size());
        EXPECT_EQ(r.tag, 5);
        EXPECT_EQ(r.length, 2u);
        EXPECT_EQ(r.totalLength, 4u);
        EXPECT_EQ(r.payload[0], 0xAA);
        EXPECT_EQ(r.payload[1], 0xBB);
        EXPECT_EQ(r.payload[2], 0);
        // One byte short of the payload.
        EXPECT_EQ(md::ParseDescriptor(d.data(), 3).tag, -1);
        EXPECT_EQ(md::ParseDescriptor(d.data(), 3).length, 0u);
    }
    {
        // The length in four 7-bit groups: 0x80 0x80 0x80 0x02 is 2.
        const std::vector<uint8_t> d{0x04, 0x80, 0x80, 0x80, 0x02, 1, 2};
        const md::Mp4Descriptor r = md::ParseDescriptor(d.data(), d.size());
        EXPECT_EQ(r.tag, 4);
        EXPECT_EQ(r.length, 2u);
        EXPECT_EQ(r.totalLength, 7u);
        EXPECT_EQ(r.payload[1], 2);
    }
    {
        // 0x82 0x00 is 256 (the most kept); 0x82 0x01 is 257 (refused).
        std::vector<uint8_t> d{0x03, 0x82, 0x00};
        d.resize(3 + 257, 0x77);
        EXPECT_EQ(md::ParseDescriptor(d.data(), d.size()).length, 256u);
        EXPECT_EQ(md::ParseDescriptor(d.data(), d.size()).totalLength, 259u);
        d[2] = 0x01;
        EXPECT_EQ(md::ParseDescriptor(d.data(), d.size()).tag, -1);
    }
    {
        // No more than four length bytes are read: the fifth is payload.
        const std::vector<uint8_t> d{0x03, 0x80, 0x80, 0x80, 0x80, 0x05};
        const md::Mp4Descriptor r = md::ParseDescriptor(d.data(), d.size());
        EXPECT_EQ(r.tag, 3);
        EXPECT_EQ(r.length, 0u);
        EXPECT_EQ(r.totalLength, 5u);
    }
    // Length bytes that run out, and nothing at all.
    const std::vector<uint8_t> cut{0x03, 0x81};
    EXPECT_EQ(md::ParseDescriptor(cut.data(), cut.size()).tag, -1);
    EXPECT_EQ(md::ParseDescriptor(cut.data(), 1).tag, -1);
    EXPECT_EQ(md::ParseDescriptor(nullptr, 0).tag, -1);
}

TEST(SampleEntry, EsdsDescriptorChain)
{
    {
        BoxBuilder b;
        PutEsds(b, mdtest::EsDescriptor(0x40, 0x001800, 128000, 96000, std::vector<uint8_t>{0x12, 0x10}));
        const std::vector<uint8_t> esds = b.Take();
        const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
        EXPECT_EQ(info.esDescriptor.tag, 3);
        EXPECT_EQ(info.decoderConfigDescriptor.tag, 4);
        EXPECT_EQ(info.decoderSpecificInfoDescriptor.tag, 5);
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
    }
    {
        // No decoder-specific info: the configuration is still read.
        BoxBuilder b;
        PutEsds(b, mdtest::EsDescriptor(0x6B, 0, 0, 128000, {}));
        const std::vector<uint8_t> esds = b.Take();
        const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
        EXPECT_EQ(info.objectTypeIndication, 0x6Bu);
        EXPECT_EQ(info.avgBitrate, 128000u);
        EXPECT_EQ(info.decoderSpecificInfoDescriptor.tag, -1);
        EXPECT_EQ(info.decoderSpecificInfoLength, 0u);
    }
    {
        // The first descriptor is not an ES_Descriptor: nothing is taken.
        BoxBuilder b;
        PutEsds(b, mdtest::Descriptor(4, std::vector<uint8_t>(13, 0x40)));
        const std::vector<uint8_t> esds = b.Take();
        const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
        EXPECT_EQ(info.esDescriptor.tag, -1);
        EXPECT_EQ(info.decoderConfigDescriptor.tag, -1);
        EXPECT_EQ(info.objectTypeIndication, 0u);
    }
    {
        // A DecoderConfigDescriptor of length 0 leaves its fields 0.
        BoxBuilder b;
        PutEsds(b, mdtest::Descriptor(3, std::vector<uint8_t>{0, 1, 0, 0x04, 0x00}));
        const std::vector<uint8_t> esds = b.Take();
        const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
        EXPECT_EQ(info.decoderConfigDescriptor.tag, 4);
        EXPECT_EQ(info.decoderConfigDescriptor.length, 0u);
        EXPECT_EQ(info.objectTypeIndication, 0u);
    }
}

TEST(SampleEntry, Mp4aAudioSpecificConfig)
{
    auto read = [](const std::vector<uint8_t>& entry) {
        auto box = Parse(entry);
        const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
        EXPECT_TRUE(a);
        return a ? std::pair<uint32_t, uint32_t>{a->channelCount, a->sampleRate} : std::pair<uint32_t, uint32_t>{};
    };
    // AAC LC (2), index 3, channel configuration 2.
    EXPECT_EQ(read(Mp4aEntry({0x11, 0x90}, 1, 22050)), (std::pair<uint32_t, uint32_t>{2, 48000}));
    // 00010 0000 0001 000: index 0 → 96000 Hz, one channel.
    EXPECT_EQ(read(Mp4aEntry({0x10, 0x08})), (std::pair<uint32_t, uint32_t>{1, 96000}));
    // 00010 1100 0110 000: index 12 → 7350 Hz, channel configuration 6.
    EXPECT_EQ(read(Mp4aEntry({0x16, 0x30})), (std::pair<uint32_t, uint32_t>{6, 7350}));
    // 00010 1101 0010 000: index 13 (reserved) → 0 Hz.
    EXPECT_EQ(read(Mp4aEntry({0x16, 0x90})), (std::pair<uint32_t, uint32_t>{2, 0}));
    {
        // Index 15: an explicit 24-bit rate 0x00ABCD, then channel configuration 5.
        mdtest::BitWriter w;
        w.Put(2, 5);
        w.Put(15, 4);
        w.Put(0x00ABCD, 24);
        w.Put(5, 4);
        w.AlignZero();
        EXPECT_EQ(read(Mp4aEntry(w.Take())), (std::pair<uint32_t, uint32_t>{5, 0xABCD}));
    }
    // No decoder-specific info: the fixed part's values stay.
    EXPECT_EQ(read(Mp4aEntry({}, 1, 32000)), (std::pair<uint32_t, uint32_t>{1, 32000}));
    {
        // A QuickTime version-1 sound description: 16 more bytes, then the 'esds'
        // inside a 'wave' box; the byte search still finds it.
        BoxBuilder b;
        b.Begin("mp4a").Zeros(6).U16(1).U16(1).U16(0).U32(0);
        b.U16(2).U16(16).U16(0xFFFE).U16(0).U32(44100u << 16);
        b.U32(1024).U32(0).U32(4).U32(2);
        b.Begin("wave").Begin("frma").Type("mp4a").End();
        PutEsds(b, mdtest::EsDescriptor(0x40, 0, 0, 64000, std::vector<uint8_t>{0x12, 0x08}));
        b.Zeros(8).End();
        b.End();
        auto box = Parse(b.Take());
        const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
        ASSERT_TRUE(a);
        EXPECT_EQ(a->esds.avgBitrate, 64000u);
        EXPECT_EQ(a->channelCount, 1);  // 00010 0100 0001: 44100 Hz, mono
        EXPECT_EQ(a->sampleRate, 44100u);
        EXPECT_EQ(a->sampleSize, 16);
    }
    {
        // The search stays inside its entry: an 'esds' in the next entry is not
        // taken by the first.
        BoxBuilder b;
        b.BeginFull("stsd", 0, 0).U32(2);
        b.Begin("mp4a");
        mdtest::PutAudioEntryFields(b, 2, 16, 48000);
        b.End();
        b.Bytes(Mp4aEntry({0x11, 0x88}));
        b.End();
        auto stsd = Parse(b.Take());
        auto* s = md::BoxAs<md::Mp4StsdBox>(stsd.get());
        ASSERT_TRUE(s);
        const auto* first = md::BoxAs<md::Mp4Mp4aEntry>(s->entries.get());
        ASSERT_TRUE(first);
        EXPECT_EQ(first->esds.esDescriptor.tag, -1);
        EXPECT_EQ(first->sampleRate, 48000u);
        const auto* second = md::BoxAs<md::Mp4Mp4aEntry>(first->next.get());
        ASSERT_TRUE(second);
        EXPECT_EQ(second->channelCount, 1);
        EXPECT_EQ(second->sampleRate, 48000u);
    }
}

struct VolFields {
    bool objectLayerIdentifier = false;
    uint32_t aspect = 1;
    uint32_t parWidth = 0;
    uint32_t parHeight = 0;
    bool vbv = false;
    bool controlParameters = false;
    uint32_t shape = 0;
    uint32_t resolution = 25;
    bool fixedRate = false;
    uint32_t increment = 0;
    int incrementBits = 0;
    uint32_t width = 320;
    uint32_t height = 240;
    uint32_t interlaced = 0;
};

// Visual object sequence and visual object headers, then a video object layer
// written field by field as ISO/IEC 14496-2 6.2.3 orders them.
std::vector<uint8_t> VolBytes(const VolFields& f)
{
    mdtest::BitWriter w;
    for (uint32_t word : {0x000001B0u, 0x01000001u, 0xB5090000u, 0x01000000u})
        w.Put(word, 32);
    w.Put(0x00000120, 32);
    w.Put(0, 1);  // random_accessible_vol
    w.Put(1, 8);  // video_object_type_indication: simple
    w.Put(f.objectLayerIdentifier, 1);
    if (f.objectLayerIdentifier)
        w.Put(0x09, 7);  // verid 1, priority 1
    w.Put(f.aspect, 4);
    if (f.aspect == 15) {
        w.Put(f.parWidth, 8);
        w.Put(f.parHeight, 8);
    }
    w.Put(f.controlParameters, 1);
    if (f.controlParameters) {
        w.Put(1, 2);  // chroma_format 4:2:0
        w.Put(1, 1);  // low_delay
        w.Put(f.vbv, 1);
        if (f.vbv)
            for (int i = 0; i < 79; ++i)
                w.Put(i % 2, 1);
    }
    w.Put(f.shape, 2);
    w.Put(1, 1);
    w.Put(f.resolution, 16);
    w.Put(1, 1);
    w.Put(f.fixedRate, 1);
    if (f.fixedRate)
        w.Put(f.increment, f.incrementBits);
    w.Put(1, 1);
    w.Put(f.width, 13);
    w.Put(1, 1);
    w.Put(f.height, 13);
    w.Put(1, 1);
    w.Put(f.interlaced, 1);
    w.Put(1, 1);  // obmc_disable
    w.AlignZero();
    return w.Take();
}

TEST(SampleEntry, ScanVolHeader)
{
    {
        VolFields f;
        f.objectLayerIdentifier = true;
        f.aspect = 15;
        f.parWidth = 10;
        f.parHeight = 11;
        f.resolution = 30000;
        f.width = 720;
        f.height = 576;
        f.interlaced = 1;
        const auto bytes = VolBytes(f);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol);
        EXPECT_EQ(vol->parWidth, 10);
        EXPECT_EQ(vol->parHeight, 11);
        EXPECT_EQ(vol->vopTimeIncrementResolution, 30000);
        EXPECT_EQ(vol->width, 720);
        EXPECT_EQ(vol->height, 576);
        EXPECT_EQ(vol->interlaced, 1);
    }
    // aspect_ratio_info codes: 3 is 10:11 (525-type 4:3), 5 is 40:33, 0 and 7 are
    // not a ratio.
    for (auto [code, w, h] : {std::tuple{3u, 10, 11}, {5u, 40, 33}, {2u, 12, 11}, {0u, -1, -1}, {7u, -1, -1}}) {
        VolFields f;
        f.aspect = code;
        const auto bytes = VolBytes(f);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol) << code;
        EXPECT_EQ(vol->parWidth, w) << code;
        EXPECT_EQ(vol->parHeight, h) << code;
        EXPECT_EQ(vol->width, 320) << code;
    }
    {
        // Resolution 16 with fixed_vop_rate: a 4-bit fixed_vop_time_increment.
        VolFields f;
        f.resolution = 16;
        f.fixedRate = true;
        f.increment = 0xF;
        f.incrementBits = 4;
        f.width = 352;
        f.height = 288;
        const auto bytes = VolBytes(f);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol);
        EXPECT_EQ(vol->width, 352);
        EXPECT_EQ(vol->height, 288);
        // Resolution 1: one bit even though 0 needs none.
        f.resolution = 1;
        f.increment = 1;
        f.incrementBits = 1;
        const auto one = VolBytes(f);
        const auto vol1 = md::ScanVolHeader(one.data(), one.size());
        ASSERT_TRUE(vol1);
        EXPECT_EQ(vol1->width, 352);
        EXPECT_EQ(vol1->height, 288);
    }
    {
        // vol_control_parameters with vbv_parameters: 79 bits skipped.
        VolFields f;
        f.controlParameters = true;
        f.vbv = true;
        f.width = 176;
        f.height = 144;
        const auto bytes = VolBytes(f);
        const auto vol = md::ScanVolHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(vol);
        EXPECT_EQ(vol->width, 176);
        EXPECT_EQ(vol->height, 144);
        EXPECT_EQ(vol->vopTimeIncrementResolution, 25);
    }
    {
        // Not rectangular, cut before the interlaced flag, no layer start code.
        VolFields f;
        f.shape = 1;
        auto bytes = VolBytes(f);
        EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size()));
        bytes = VolBytes(VolFields{});
        ASSERT_TRUE(md::ScanVolHeader(bytes.data(), bytes.size()));
        EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size() - 3));
        bytes[19] = 0x21;  // video_object_layer_start_code with layer id 1
        EXPECT_FALSE(md::ScanVolHeader(bytes.data(), bytes.size()));
        const std::vector<uint8_t> codeAtEnd{0xFF, 0x00, 0x00, 0x01, 0x20};
        EXPECT_FALSE(md::ScanVolHeader(codeAtEnd.data(), codeAtEnd.size()));
        EXPECT_FALSE(md::ScanVolHeader(nullptr, 0));
    }
}

TEST(SampleEntry, Mp4vTakesPictureSizeFromTheVideoObjectLayer)
{
    auto entry = [](const std::vector<uint8_t>& dsi) {
        BoxBuilder b;
        b.Begin("mp4v");
        mdtest::PutVisualEntryFields(b, 100, 80);
        PutEsds(b, mdtest::EsDescriptor(0x20, 0, 0, 800000, dsi));
        b.End();
        return Parse(b.Take());
    };
    VolFields f;
    f.aspect = 15;
    f.parWidth = 16;
    f.parHeight = 11;
    f.width = 720;
    f.height = 480;
    f.resolution = 30000;
    f.interlaced = 1;
    auto withVol = entry(VolBytes(f));
    const auto* v = md::BoxAs<md::Mp4Mp4vEntry>(withVol.get());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->width, 720);
    EXPECT_EQ(v->height, 480);
    EXPECT_EQ(v->parWidth, 16);
    EXPECT_EQ(v->parHeight, 11);
    EXPECT_EQ(v->interlaced, 1);
    EXPECT_EQ(v->vopTimeIncrementResolution, 30000);
    EXPECT_EQ(v->esds.objectTypeIndication, 0x20u);
    EXPECT_EQ(v->esds.avgBitrate, 800000u);

    // Decoder-specific info without a layer, and none at all: the fixed part's
    // size stays and the layer fields stay -1.
    for (const auto& dsi : {std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00}, std::vector<uint8_t>{}}) {
        auto box = entry(dsi);
        const auto* e = md::BoxAs<md::Mp4Mp4vEntry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->width, 100);
        EXPECT_EQ(e->height, 80);
        EXPECT_EQ(e->parWidth, -1);
        EXPECT_EQ(e->parHeight, -1);
        EXPECT_EQ(e->interlaced, -1);
        EXPECT_EQ(e->vopTimeIncrementResolution, -1);
    }
}

// An 'avc1' entry whose children are the given boxes (already built).
std::vector<uint8_t> Avc1Entry(const std::vector<uint8_t>& children)
{
    BoxBuilder b;
    b.Begin("avc1");
    mdtest::PutVisualEntryFields(b, 1920, 1080);
    b.Bytes(children);
    b.End();
    return b.Take();
}

// 'avcC' with the given count bytes and parameter sets of the given lengths
// (each filled with its index).
std::vector<uint8_t> AvcC(uint8_t spsCountByte, const std::vector<size_t>& sps, uint8_t ppsCountByte,
                          const std::vector<size_t>& pps)
{
    BoxBuilder b;
    b.Begin("avcC").U8(1).U8(100).U8(0x40).U8(40).U8(0xFF).U8(spsCountByte);
    for (size_t i = 0; i < sps.size(); ++i)
        b.U16(static_cast<uint32_t>(sps[i])).Bytes(std::vector<uint8_t>(sps[i], static_cast<uint8_t>(0x60 + i)));
    b.U8(ppsCountByte);
    for (size_t i = 0; i < pps.size(); ++i)
        b.U16(static_cast<uint32_t>(pps[i])).Bytes(std::vector<uint8_t>(pps[i], static_cast<uint8_t>(0x70 + i)));
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
        std::vector<uint8_t> avcc = AvcC(0xF1, {12}, 0x11, {4});
        for (uint8_t extension : {0xFD, 0xF8, 0xF8, 0x00})  // chroma_format etc. of High profile
            avcc.push_back(extension);
        avcc[3] = static_cast<uint8_t>(avcc.size());
        children.Bytes(avcc);
        auto box = Parse(Avc1Entry(children.Take()));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->width, 1920);
        EXPECT_EQ(e->height, 1080);
        EXPECT_TRUE(e->hasAvcC);
        EXPECT_EQ(e->profileIndication, 100);
        EXPECT_EQ(e->profileCompatibility, 0x40);
        EXPECT_EQ(e->levelIndication, 40);
        EXPECT_EQ(e->lengthSizeMinusOne, 3);
        ASSERT_EQ(e->sequenceParameterSets.size(), 1u);
        EXPECT_EQ(e->sequenceParameterSets[0].length, 14u);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[0], 0);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[1], 12);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[2], 0x60);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[13], 0x60);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[14], 0);
        ASSERT_EQ(e->pictureParameterSets.size(), 1u);
        EXPECT_EQ(e->pictureParameterSets[0].length, 6u);
        EXPECT_EQ(e->pictureParameterSets[0].bytes[5], 0x70);
    }
    // 0xE1 (the usual byte) is one sequence parameter set.
    {
        auto box = Parse(Avc1Entry(AvcC(0xE1, {9}, 1, {4})));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->sequenceParameterSets.size(), 1u);
        EXPECT_EQ(e->pictureParameterSets.size(), 1u);
    }
    {
        // Two of each, a set of 254 bytes (256 with its prefix) is kept.
        auto box = Parse(Avc1Entry(AvcC(0xE2, {254, 3}, 2, {2, 5})));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        ASSERT_EQ(e->sequenceParameterSets.size(), 2u);
        EXPECT_EQ(e->sequenceParameterSets[0].length, 256u);
        EXPECT_EQ(e->sequenceParameterSets[0].bytes[255], 0x60);
        EXPECT_EQ(e->sequenceParameterSets[1].bytes[2], 0x61);
        ASSERT_EQ(e->pictureParameterSets.size(), 2u);
        EXPECT_EQ(e->pictureParameterSets[1].length, 7u);
    }
    // A parameter set longer than 254 bytes makes the entry absent, and an
    // 'stsd' whose entry is absent has no entry (nor any after it).
    for (size_t length : {255u, 300u}) {
        EXPECT_FALSE(Parse(Avc1Entry(AvcC(0xE1, {length}, 1, {4})))) << length;
        EXPECT_FALSE(Parse(Avc1Entry(AvcC(0xE1, {8}, 1, {length})))) << length;
        BoxBuilder b;
        b.BeginFull("stsd", 0, 0).U32(2).Bytes(Avc1Entry(AvcC(0xE1, {length}, 1, {4})));
        b.Begin("cvid");
        mdtest::PutVisualEntryFields(b, 16, 16);
        b.End().End();
        auto stsd = Parse(b.Take());
        const auto* s = md::BoxAs<md::Mp4StsdBox>(stsd.get());
        ASSERT_TRUE(s);
        EXPECT_EQ(s->entryCount, 2u);
        EXPECT_FALSE(s->entries);
    }
    {
        // A set that runs past the 'avcC' box: reading stops, the entry stays.
        std::vector<uint8_t> avcc = AvcC(0xE1, {20}, 0, {});
        avcc.resize(avcc.size() - 12);
        avcc[3] = static_cast<uint8_t>(avcc.size());
        auto box = Parse(Avc1Entry(avcc));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_TRUE(e->hasAvcC);
        EXPECT_TRUE(e->sequenceParameterSets.empty());
        EXPECT_TRUE(e->pictureParameterSets.empty());
    }
    // A child of size 0, or one larger than what is left, ends the walk before
    // the 'avcC'; so does a child shorter than a box header.
    for (uint32_t size : {0u, 0x1000u, 4u}) {
        BoxBuilder children;
        children.U32(size).Type("pasp").U32(1).U32(1);
        children.Bytes(AvcC(0xE1, {12}, 1, {4}));
        auto box = Parse(Avc1Entry(children.Take()));
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_TRUE(e) << size;
        EXPECT_FALSE(e->hasAvcC) << size;
        EXPECT_TRUE(e->sequenceParameterSets.empty()) << size;
        EXPECT_EQ(e->width, 1920) << size;
    }
}

TEST(SampleEntry, H263AndAmrConfiguration)
{
    {
        BoxBuilder b;
        b.Begin("s263");
        mdtest::PutVisualEntryFields(b, 176, 144);
        b.Begin("d263").Type("FFMP").U8(0).U8(10).U8(0).End();
        b.Begin("bitr").U32(64000).U32(128000).End();
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4S263Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->width, 176);
        EXPECT_EQ(e->height, 144);
        EXPECT_EQ(e->vendor, FourCC("FFMP"));
        EXPECT_EQ(e->level, 10);
        EXPECT_EQ(e->profile, 0);
        EXPECT_EQ(e->avgBitrate, 64000u);
        EXPECT_EQ(e->maxBitrate, 128000u);
    }
    {
        // 'd263' alone (fewer than 31 bytes after it): no bit rates.
        BoxBuilder b;
        b.Begin("s263");
        mdtest::PutVisualEntryFields(b, 352, 288);
        b.Begin("d263").Type("appl").U8(1).U8(45).U8(3).End();
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4S263Entry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->decoderVersion, 1);
        EXPECT_EQ(e->level, 45);
        EXPECT_EQ(e->profile, 3);
        EXPECT_EQ(e->avgBitrate, 0u);
    }
    for (const char* type : {"samr", "sawb"}) {
        BoxBuilder b;
        b.Begin(type);
        mdtest::PutAudioEntryFields(b, 2, 16, 8000);
        b.Begin("damr").Type("FFMP").U8(2).U16(0x81FF).U8(0).U8(1).End();
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4AmrEntry>(box.get());
        ASSERT_TRUE(e) << type;
        EXPECT_EQ(e->channelCount, 2);
        EXPECT_EQ(e->sampleRate, 8000u);
        EXPECT_EQ(e->vendor, FourCC("FFMP"));
        EXPECT_EQ(e->decoderVersion, 2);
        EXPECT_EQ(e->modeSet, 0x81FF);
        EXPECT_EQ(e->modeChangePeriod, 0);
        EXPECT_EQ(e->framesPerSample, 1);
    }
    {
        // A 'damr' one byte short: all its fields 0.
        BoxBuilder b;
        b.Begin("samr");
        mdtest::PutAudioEntryFields(b, 1, 16, 16000);
        b.Begin("damr").Type("FFMP").U8(2).U16(0x81FF).U8(7).End();
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4AmrEntry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->sampleRate, 16000u);
        EXPECT_EQ(e->vendor, 0u);
        EXPECT_EQ(e->modeSet, 0);
    }
}

TEST(SampleEntry, FixedPartsOfPlainEntries)
{
    for (const char* type : {"twos", "sowt", "raw ", ".mp3"}) {
        BoxBuilder b;
        b.Begin(type);
        mdtest::PutAudioEntryFields(b, 6, 24, 48000);
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4AudioSampleEntry>(box.get());
        ASSERT_TRUE(e) << type;
        EXPECT_EQ(e->type, md::Be32(reinterpret_cast<const uint8_t*>(type)));
        EXPECT_EQ(e->dataReferenceIndex, 1);
        EXPECT_EQ(e->channelCount, 6);
        EXPECT_EQ(e->sampleSize, 24);
        EXPECT_EQ(e->sampleRate, 48000u);
    }
    for (const char* type : {"cvid", "jpeg"}) {
        BoxBuilder b;
        b.Begin(type);
        mdtest::PutVisualEntryFields(b, 640, 368);
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4VisualSampleEntry>(box.get());
        ASSERT_TRUE(e) << type;
        EXPECT_EQ(e->width, 640);
        EXPECT_EQ(e->height, 368);
    }
    {
        // With a 64-bit size every field lies 8 bytes further on.
        BoxBuilder b;
        b.BeginLarge("sowt");
        mdtest::PutAudioEntryFields(b, 2, 16, 44100);
        b.End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4AudioSampleEntry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->size, 1u);
        EXPECT_EQ(e->largeSize, 44u);
        EXPECT_EQ(e->channelCount, 2);
        EXPECT_EQ(e->sampleRate, 44100u);
    }
    {
        // An entry cut inside its fixed part reads the fields it holds.
        BoxBuilder b;
        b.Begin("mp4v").Zeros(6).U16(3).Zeros(16).U16(64).End();
        auto box = Parse(b.Take());
        const auto* e = md::BoxAs<md::Mp4Mp4vEntry>(box.get());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->dataReferenceIndex, 3);
        EXPECT_EQ(e->width, 64);
        EXPECT_EQ(e->height, 0);
        EXPECT_EQ(e->esds.esDescriptor.tag, -1);
    }
}

}  // namespace
