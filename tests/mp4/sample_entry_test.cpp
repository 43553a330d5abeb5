// Sample entries and their codec configuration: MPEG-4 descriptors, the
// AudioSpecificConfig of 'mp4a', the video object layer of 'mp4v', 'avcC',
// 'd263' and 'damr'. Expected values are worked out by hand from the syntax of
// ISO/IEC 14496-1, -2, -3, -15 and 3GPP TS 26.244.
#include <gtest/gtest.h>

#include <vector>

#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"
#include "support/bit_writer.h"
#include "support/mp4_builders.h"

namespace {

using md::FourCC;
using mdtest::BoxBuilder;
using Bytes = std::vector<uint8_t>;

std::unique_ptr<md::Mp4Box> Parse(const Bytes& bytes) { return md::ParseBox(bytes.data(), bytes.size()); }

TEST(SampleEntry, Descriptors)
{
    struct Row {
        Bytes bytes;
        size_t available;
        int tag;
        uint32_t length, totalLength;
    };
    Bytes big{0x03, 0x82, 0x00};  // 0x82 0x00 is 256, the most kept; 0x82 0x01 is 257, refused
    big.resize(3 + 257, 0x77);
    Bytes tooBig = big;
    tooBig[2] = 0x01;
    const Row rows[] = {
        {{0x05, 0x02, 0xAA, 0xBB}, 4, 5, 2, 4},
        {{0x05, 0x02, 0xAA, 0xBB}, 3, -1, 0, 0},  // one byte short of the payload
        {{0x04, 0x80, 0x80, 0x80, 0x02, 1, 2}, 7, 4, 2, 7},  // the length in four 7-bit groups
        {{0x03, 0x80, 0x80, 0x80, 0x80, 0x05}, 6, 3, 0, 5},  // a fifth length byte is payload
        {{0x03, 0x81}, 2, -1, 0, 0},  // length bytes that run out
        {{0x03}, 1, -1, 0, 0},
        {big, big.size(), 3, 256, 259},
        {tooBig, tooBig.size(), -1, 0, 0},
    };
    for (const Row& r : rows) {
        const md::Mp4Descriptor d = md::ParseDescriptor(r.bytes.data(), r.available);
        EXPECT_EQ(std::tuple(d.tag, d.length, d.totalLength), std::tuple(r.tag, r.length, r.totalLength))
            << r.bytes.size() << " bytes, " << r.available << " available";
    }
    const Bytes d{0x05, 0x02, 0xAA, 0xBB, 0xCC};
    const md::Mp4Descriptor payload = md::ParseDescriptor(d.data(), d.size());
    EXPECT_EQ(std::tuple(payload.payload[1], payload.payload[2]), std::tuple(0xBB, 0));  // nothing beyond the length
    EXPECT_EQ(md::ParseDescriptor(nullptr, 0).tag, -1);

    // ES_Descriptor > DecoderConfigDescriptor > DecoderSpecificInfo.
    BoxBuilder b;
    const Bytes esds = b.BeginFull("esds", 0, 0)
                           .Bytes(mdtest::EsDescriptor(0x40, 0x1800, 128000, 96000, Bytes{0x12, 0x10}))
                           .End()
                           .Take();
    const md::EsdsInfo info = md::ReadEsdsInfo(esds.data(), esds.size());
    EXPECT_EQ(std::tuple(info.objectTypeIndication, info.bufferSizeDB, info.maxBitrate, info.avgBitrate),
              std::tuple(0x40u, 0x1800u, 128000u, 96000u));
    EXPECT_EQ(
        Bytes(info.decoderSpecificInfo.begin(), info.decoderSpecificInfo.begin() + info.decoderSpecificInfoLength),
        (Bytes{0x12, 0x10}));
    // Cut inside the decoder-specific info, or before the ES descriptor: nothing is
    // read beyond what is available.
    for (const size_t available : {esds.size() - 6, size_t(11)}) {
        const md::EsdsInfo cut = md::ReadEsdsInfo(esds.data(), available);
        EXPECT_EQ(std::tuple(cut.esDescriptor.tag, cut.objectTypeIndication), std::tuple(-1, 0u)) << available;
    }
    // A DecoderConfigDescriptor of length 0 leaves its fields 0.
    const Bytes empty = b.BeginFull("esds", 0, 0).Bytes(mdtest::Descriptor(3, Bytes{0, 1, 0, 0x04, 0x00})).End().Take();
    const md::EsdsInfo zero = md::ReadEsdsInfo(empty.data(), empty.size());
    EXPECT_EQ(std::tuple(zero.decoderConfigDescriptor.tag, zero.objectTypeIndication), std::tuple(4, 0u));
}

TEST(SampleEntry, Mp4aAudioSpecificConfig)
{
    struct Row {
        Bytes dsi;
        uint16_t channels, expectedChannels;
        uint32_t rate, expectedRate;
    };
    mdtest::BitWriter explicitRate;  // object type 2, index 15: a 24-bit rate, then channel configuration 5
    explicitRate.Put(0x2F, 9);
    explicitRate.Put(0x00ABCD, 24);
    explicitRate.Put(5, 4);
    explicitRate.AlignZero();
    const Row rows[] = {
        {{0x11, 0x90}, 1, 2, 22050, 48000},  // 00010 0011 0010: AAC LC, index 3, configuration 2
        {{0x16, 0x30}, 2, 6, 44100, 7350},  // 00010 1100 0110: index 12, configuration 6
        {{0x16, 0x90}, 1, 2, 44100, 0},  // index 13 is reserved
        {explicitRate.Take(), 2, 5, 44100, 0xABCD},
        {{}, 1, 1, 32000, 32000},  // no decoder-specific info: the fixed part's values stay
    };
    for (const Row& r : rows) {
        const auto box = Parse(mdtest::Mp4aEntry(r.channels, 16, r.rate, 0x40, 96000, r.dsi));
        const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
        ASSERT_TRUE(a) << r.expectedRate;
        EXPECT_EQ(std::tuple(a->channelCount, a->sampleRate), std::tuple(r.expectedChannels, r.expectedRate));
    }
    // A QuickTime version-1 sound description: 16 more bytes, then the 'esds'
    // inside a 'wave' box; the byte search still finds it.
    BoxBuilder b;
    b.Begin("mp4a").Zeros(6).U16(1).U16(1).U16(0).U32(0).U16(2).U16(16).U16(0xFFFE).U16(0).U32(44100u << 16);
    b.U32(1024).U32(0).U32(4).U32(2).Begin("wave").Begin("frma").Type("mp4a").End();
    b.BeginFull("esds", 0, 0).Bytes(mdtest::EsDescriptor(0x40, 0, 0, 64000, Bytes{0x12, 0x08})).End();
    const auto box = Parse(b.Zeros(8).End().End().Take());
    const auto* a = md::BoxAs<md::Mp4Mp4aEntry>(box.get());
    ASSERT_TRUE(a);
    EXPECT_EQ(std::tuple(a->esds.avgBitrate, a->channelCount, a->sampleRate, a->sampleSize),
              std::tuple(64000u, 1, 44100u, 16));  // 00010 0100 0001: 44100 Hz, mono
}

// A visual object sequence and visual object header, then a 352x288 interlaced
// video object layer of aspect code 3 (10:11) with the optional fields
// mdtest::Mpeg4Vol leaves out.
struct VolFields {
    bool layerIdentifier = false;  // 7 bits of verid and priority
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
    w.Put(0x02 | f.layerIdentifier, 10);  // random_accessible_vol, simple object type, is_object_layer_identifier
    if (f.layerIdentifier)
        w.Put(0x09, 7);
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
    // aspect_ratio_info 15 carries its own ratio; 2, 3, 5 are 12:11, 10:11, 40:33;
    // 0 (forbidden) and 7 (reserved) are no ratio. fixed_vop_time_increment is as
    // wide as resolution - 1 needs, but at least one bit (resolution 1).
    Bytes cut = VolBytes({});
    cut.resize(cut.size() - 3);
    Bytes otherLayer = VolBytes({});
    otherLayer[19] = 0x21;  // video_object_layer_start_code of layer 1
    const Row rows[] = {
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 15, 16, 11), 16, 11, 30000, 720, 576},
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 2), 12, 11, 30000, 720, 576},
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 5), 40, 33, 30000, 720, 576},
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 0), -1, -1, 30000, 720, 576},
        {mdtest::Mpeg4Vol(720, 576, 30000, true, 7), -1, -1, 30000, 720, 576},
        {VolBytes({}), 10, 11, 25, 352, 288},
        {VolBytes({.layerIdentifier = true}), 10, 11, 25, 352, 288},
        {VolBytes({.vbv = true}), 10, 11, 25, 352, 288},
        {VolBytes({.resolution = 16, .incrementBits = 4}), 10, 11, 16, 352, 288},
        {VolBytes({.resolution = 1, .incrementBits = 1}), 10, 11, 1, 352, 288},
        {VolBytes({.shape = 1}), 0, 0, 0, 0, 0},  // not rectangular
        {cut, 0, 0, 0, 0, 0},  // cut before the interlaced flag
        {otherLayer, 0, 0, 0, 0, 0},
        {{0xFF, 0x00, 0x00, 0x01, 0x20}, 0, 0, 0, 0, 0},
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

// 'avcC' with the given count bytes and parameter sets of the given lengths (each
// filled with 0x60 + index, or 0x70 + index for picture sets), after the boxes in front.
Bytes Avc1(uint8_t spsCount, const std::vector<size_t>& sps, uint8_t ppsCount, const std::vector<size_t>& pps,
           const Bytes& front = {}, size_t cutBy = 0)
{
    BoxBuilder b;
    b.Begin("avcC").U8(1).U8(100).U8(0x40).U8(40).U8(0xFF).U8(spsCount);
    for (size_t i = 0; i < sps.size(); ++i)
        b.U16(sps[i]).Bytes(Bytes(sps[i], static_cast<uint8_t>(0x60 + i)));
    b.U8(ppsCount);
    for (size_t i = 0; i < pps.size(); ++i)
        b.U16(pps[i]).Bytes(Bytes(pps[i], static_cast<uint8_t>(0x70 + i)));
    Bytes avcc = b.End().Take();
    avcc.resize(avcc.size() - cutBy);
    if (cutBy != 0)
        avcc[3] = static_cast<uint8_t>(avcc.size());
    Bytes children = front;
    children.insert(children.end(), avcc.begin(), avcc.end());
    return mdtest::VisualEntry("avc1", 1920, 1080, children);
}

TEST(SampleEntry, Avc1Configuration)
{
    // Count bytes 0xF1 and 0x11 give one set each (low 5 and 8 bits would take the
    // bytes that follow for sets); the 'avcC' follows a 'colr' and a 'pasp'.
    BoxBuilder b;
    b.Begin("colr").Type("nclx").U16(1).U16(1).U16(1).U8(0).End().Begin("pasp").U32(1).U32(1).End();
    struct Row {
        const char* what;
        Bytes entry;
        bool entryRead, hasAvcC = false;
        std::vector<uint32_t> spsLengths{}, ppsLengths{};  // with the 2-byte prefix
    };
    const Row rows[] = {
        {"count bytes' low bits", Avc1(0xF1, {12}, 0x11, {4}, b.Take()), true, true, {14}, {6}},
        {"a set of 254 bytes is kept", Avc1(0xE1, {254}, 1, {4}), true, true, {256}, {6}},
        {"a longer sequence set", Avc1(0xE1, {255}, 1, {4}), false},
        {"a longer picture set", Avc1(0xE1, {8}, 1, {300}), false},
        {"a set past the 'avcC': reading stops", Avc1(0xE1, {20}, 0, {}, {}, 12), true, true, {}, {}},
        // A child of size 0, larger than what is left, or shorter than a header ends the walk.
        {"child of size 0", Avc1(0xE1, {12}, 1, {4}, b.U32(0).Type("pasp").U32(1).U32(1).Take()), true, false},
        {"child too large", Avc1(0xE1, {12}, 1, {4}, b.U32(0x1000).Type("pasp").U32(1).U32(1).Take()), true, false},
        {"child of size 4", Avc1(0xE1, {12}, 1, {4}, b.U32(4).Type("pasp").U32(1).U32(1).Take()), true, false},
    };
    for (const Row& r : rows) {
        const auto box = Parse(r.entry);
        const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
        ASSERT_EQ(e != nullptr, r.entryRead) << r.what;
        if (!e)
            continue;
        std::vector<uint32_t> sps, pps;
        for (const auto& s : e->sequenceParameterSets)
            sps.push_back(s.length);
        for (const auto& s : e->pictureParameterSets)
            pps.push_back(s.length);
        EXPECT_EQ(std::tuple(e->width, e->hasAvcC, sps, pps), std::tuple(1920, r.hasAvcC, r.spsLengths, r.ppsLengths))
            << r.what;
    }
    const auto box = Parse(rows[0].entry);
    const auto* e = md::BoxAs<md::Mp4Avc1Entry>(box.get());
    EXPECT_EQ(std::tuple(e->profileIndication, e->levelIndication, e->lengthSizeMinusOne), std::tuple(100, 40, 3));
    const auto& set = e->sequenceParameterSets[0].bytes;  // the set behind its two-byte length
    EXPECT_EQ(Bytes(set.begin(), set.begin() + 15),
              (Bytes{0, 12, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0}));
    // An 'stsd' whose entry is absent has no entry, nor any after it.
    b.BeginFull("stsd", 0, 0).U32(2).Bytes(rows[2].entry).Bytes(mdtest::VisualEntry("cvid", 16, 16)).End();
    const auto stsd = Parse(b.Take());
    ASSERT_TRUE(md::BoxAs<md::Mp4StsdBox>(stsd.get()));
    EXPECT_FALSE(md::BoxAs<md::Mp4StsdBox>(stsd.get())->entries);
}

TEST(SampleEntry, H263AmrAndFixedParts)
{
    // 'd263' then 'bitr'; without the 'bitr' no bit rates.
    BoxBuilder b;
    b.Begin("d263").Type("FFMP").U8(1).U8(10).U8(2).End().Begin("bitr").U32(64000).U32(128000).End();
    for (const bool bitr : {true, false}) {
        const Bytes children = bitr ? b.Take() : b.Begin("d263").Type("FFMP").U8(1).U8(10).U8(2).End().Take();
        const auto box = Parse(mdtest::VisualEntry("s263", 176, 144, children));
        const auto* s263 = md::BoxAs<md::Mp4S263Entry>(box.get());
        ASSERT_TRUE(s263);
        EXPECT_EQ(std::tuple(s263->level, s263->profile, s263->avgBitrate, s263->maxBitrate),
                  std::tuple(10, 2, bitr ? 64000u : 0u, bitr ? 128000u : 0u));
    }
    // 'damr'; one byte short, all its fields stay 0.
    for (const bool whole : {true, false}) {
        b.Begin("damr").Type("FFMP").U8(2).U16(0x81FF).U8(3);
        const auto box = Parse(mdtest::SoundEntry("samr", 2, 16, 8000, (whole ? b.U8(1) : b).End().Take()));
        const auto* amr = md::BoxAs<md::Mp4AmrEntry>(box.get());
        ASSERT_TRUE(amr) << whole;
        EXPECT_EQ(std::tuple(amr->sampleRate, amr->vendor, amr->modeSet, amr->framesPerSample),
                  std::tuple(8000u, whole ? FourCC("FFMP") : 0u, whole ? 0x81FF : 0, whole ? 1 : 0));
    }
    // With a 64-bit size every field lies 8 bytes further on.
    Bytes sowt = mdtest::SoundEntry("sowt", 6, 24, 44100);
    sowt.insert(sowt.begin() + 8, {0, 0, 0, 0, 0, 0, 0, 44});
    sowt[3] = 1;
    const auto box = Parse(sowt);
    const auto* a = md::BoxAs<md::Mp4AudioSampleEntry>(box.get());
    ASSERT_TRUE(a);
    EXPECT_EQ(std::tuple(a->largeSize, a->dataReferenceIndex, a->channelCount, a->sampleSize, a->sampleRate),
              std::tuple(44u, 1, 6, 24, 44100u));
    // An entry cut inside its fixed part reads the fields it holds; without a video
    // object layer the four fields from it stay -1.
    const auto cut = Parse(b.Begin("mp4v").Zeros(6).U16(3).Zeros(16).U16(64).End().Take());
    const auto* v = md::BoxAs<md::Mp4Mp4vEntry>(cut.get());
    ASSERT_TRUE(v);
    EXPECT_EQ(std::tuple(v->dataReferenceIndex, v->width, v->height, v->esds.esDescriptor.tag, v->parWidth,
                         v->parHeight, v->interlaced, v->vopTimeIncrementResolution),
              std::tuple(3, 64, 0, -1, -1, -1, -1, -1));
    const auto sound = Parse(b.Begin("sowt").Zeros(6).U16(1).Zeros(8).U16(2).End().Take());
    ASSERT_TRUE(md::BoxAs<md::Mp4AudioSampleEntry>(sound.get()));
    EXPECT_EQ(std::tuple(md::BoxAs<md::Mp4AudioSampleEntry>(sound.get())->channelCount,
                         md::BoxAs<md::Mp4AudioSampleEntry>(sound.get())->sampleSize),
              std::tuple(2, 0));
}

}  // namespace
