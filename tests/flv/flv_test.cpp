// Flash Video built tag by tag: onMetaData against malformed AMF0, the codec headers the conformance files do not
// carry, and the demultiplexer's walk and its walk back through PreviousTagSize.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "flv/amf0.h"
#include "flv/flv_demux.h"
#include "flv/flv_tags.h"
#include "input/memory_input_stream.h"
#include "support/bit_writer.h"
#include "support/files.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

using mdtest::Append;
using mdtest::Be;
using mdtest::ByteVec;

ByteVec Cat(std::initializer_list<ByteVec> parts)
{
    ByteVec out;
    for (const ByteVec& p : parts)
        Append(out, p);
    return out;
}

// AMF0 pieces: a property name (no marker), typed values, the object end marker.
ByteVec Name(std::string_view s) { return Cat({Be(s.size(), 2), ByteVec(s.begin(), s.end())}); }
ByteVec Str(std::string_view s) { return Cat({{2}, Name(s)}); }
ByteVec Num(double v) { return Cat({{0}, Be(std::bit_cast<uint64_t>(v), 8)}); }
ByteVec Bool(bool v) { return {1, uint8_t(v)}; }
const ByteVec kEnd = {0, 0, 9};
ByteVec Prop(std::string_view name, const ByteVec& value) { return Cat({Name(name), value}); }
// onMetaData as an ECMA array of the given properties, with or without its end marker.
ByteVec OnMetaData(std::initializer_list<ByteVec> props, bool end = true)
{
    ByteVec b = Cat({Str("onMetaData"), {8}, Be(props.size(), 4)});
    for (const ByteVec& p : props)
        Append(b, p);
    if (end)
        Append(b, kEnd);
    return b;
}

md::FlvMetadata Meta(const ByteVec& body, bool expected = true)
{
    md::FlvMetadata m;
    EXPECT_EQ(md::ReadOnMetaData(body, m), expected);
    return m;
}

TEST(FlvAmf0, OnMetaDataRules)
{
    const ByteVec width = Prop("width", Num(640));
    const ByteVec height = Prop("height", Num(360));
    // Well formed, every skipped type on the way: string, null, date, long string, reference, typed object, strict
    // array, a nested object holding a number of the same name (not a top-level value).
    ByteVec skipped = Cat({Prop("creator", Str("x")), Prop("n", {5}), Prop("d", Cat({{11}, ByteVec(10)})),
                           Prop("l", Cat({{12}, Be(3, 4), {'a', 'b', 'c'}})), Prop("r", {7, 0, 1}),
                           Prop("t", Cat({{16}, Name("Cls"), Prop("a", Num(1)), kEnd})),
                           Prop("s", Cat({{10}, Be(2, 4), Num(1), Bool(true)})),
                           Prop("o", Cat({{3}, Prop("height", Num(1)), kEnd}))});
    md::FlvMetadata m = Meta(OnMetaData({Prop("duration", Num(12.5)), skipped, width, height,
                                         Prop("framerate", Num(29.97)), Prop("stereo", Bool(true))}));
    EXPECT_EQ(std::tuple(*m.duration, *m.width, *m.height, *m.frameRate, *m.stereo),
              std::tuple(12.5, 640.0, 360.0, 29.97, true));

    // An object in place of the ECMA array; a NaN is no value.
    m = Meta(Cat({Str("onMetaData"), {3}, Prop("duration", Num(NAN)), width, kEnd}));
    EXPECT_FALSE(m.duration.has_value());
    EXPECT_EQ(m.width, 640.0);

    // Malformed input: the values before the fault are kept, none after it.
    ByteVec nested = Cat({Prop("o", ByteVec{3})});  // properly closed, but deeper than the bound
    for (int i = 0; i < md::kMaxAmf0Depth + 4; ++i)
        nested = Cat({Prop("o", Cat({{3}, nested, kEnd}))});
    ByteVec many = Cat({{10}, Be(md::kMaxAmf0Values + 10, 4)});  // more values than the bound, each a null
    many.resize(many.size() + md::kMaxAmf0Values + 10, 5);
    ByteVec shallow = Cat({Prop("o", Cat({{3}, Prop("p", Cat({{3}, kEnd})), kEnd}))});
    struct Case {
        const char* what;
        ByteVec body;
        bool widthRead, heightRead;
    } cases[] = {
        {"objects nested past the depth bound", OnMetaData({width, nested, height}), true, false},
        {"objects nested within the bound", OnMetaData({width, shallow, height}), true, true},
        {"more values than the count bound", OnMetaData({width, Prop("a", many), height}), true, false},
        {"a string length past the data", OnMetaData({width, Prop("s", Cat({{2}, Be(60000, 2), {'a'}})), height}), true,
         false},
        {"a strict array counting more values than bytes", OnMetaData({width, Prop("a", Cat({{10}, Be(~0u, 4)}))}),
         true, false},
        {"an unsupported type (AMF3)", OnMetaData({width, Prop("a", {17, 1}), height}), true, false},
        {"the array without its end marker", OnMetaData({width, height}, false), true, true},
        {"a number cut short", Cat({OnMetaData({width}, false), Name("height"), {0, 0x40, 0x76}}), true, false},
    };
    for (const Case& c : cases) {
        m = Meta(c.body);
        EXPECT_EQ(std::tuple(m.width.has_value(), m.height.has_value()), std::tuple(c.widthRead, c.heightRead))
            << c.what;
    }
    Meta(Cat({Str("onCuePoint"), {8}, Be(1, 4), width, kEnd}), false);
    Meta(Cat({{2}, Be(200, 2), {'o', 'n'}}), false);
}

// ---- Codec headers -------------------------------------------------------------------------------------------------

struct Picture {
    bool described = false;
    uint32_t codec = 0, width = 0, height = 0;
    double fps = 0;
    uint32_t fieldOrder = 0;
};
Picture DescribeVideo(const ByteVec& data)
{
    md::FlvVideoTag tag;
    md::StreamCodec codec{};
    Picture p;
    if (!md::ReadVideoTag(data, tag) || !md::VideoCodecOf(tag, codec))
        return p;
    auto r = md::NewStreamRecord();
    r->codec = codec;
    p.described = md::DescribeVideoTag(tag, *r, true);
    p.codec = uint32_t(r->codec), p.width = r->video.width, p.height = r->video.height, p.fps = r->frameRate;
    p.fieldOrder = r->fieldOrder;
    return p;
}

ByteVec AvcConfig(const ByteVec& sps)
{
    return Cat({{1, sps[1], 0, sps[3], 0xFF, 0xE1}, Be(sps.size(), 2), sps, {1, 0, 2, 0x68, 0xCE}});
}

// n bytes of a corpus file from skip bytes after the first occurrence of marker.
ByteVec CorpusBytes(const char* file, std::string_view marker, size_t skip, size_t n)
{
    const ByteVec all = md::test::ReadFileBytes(md::test::TestDataDir() / file);
    const auto at = std::search(all.begin(), all.end(), marker.begin(), marker.end(),
                                [](uint8_t a, char b) { return a == uint8_t(b); });
    EXPECT_TRUE(all.end() - at >= std::ptrdiff_t(skip + n)) << file;
    return all.end() - at >= std::ptrdiff_t(skip + n)
               ? ByteVec(at + std::ptrdiff_t(skip), at + std::ptrdiff_t(skip + n))
               : ByteVec{};
}

TEST(FlvTags, VideoHeaders)
{
    constexpr uint32_t kFlv1 = uint32_t(md::StreamCodec::Flv1), kVp6 = uint32_t(md::StreamCodec::Vp6);
    constexpr uint32_t kScreen = uint32_t(md::StreamCodec::ScreenVideo), kH264 = uint32_t(md::StreamCodec::H264);
    constexpr uint32_t kHevc = uint32_t(md::StreamCodec::Hevc), kAv1 = uint32_t(md::StreamCodec::Av1);
    constexpr uint32_t kVp8 = uint32_t(md::StreamCodec::Vp8), kVp9 = uint32_t(md::StreamCodec::Vp9),
                       kJpeg = uint32_t(md::StreamCodec::Jpeg);
    mdtest::AvcSpsFields interlaced;
    interlaced.frameMbsOnly = false, interlaced.heightMapUnitsMinus1 = 33, interlaced.cropBottom = 2;
    // AV1 sequence header: profile 0, timing (1001/30000, equal intervals of one tick), a decoder model with one
    // operating point carrying its parameters (buffer delays of 10 bits) and an initial display delay.
    const ByteVec av1Sequence = mdtest::Bits(
        "3:0 1:0 1:0 1:1 32:1001 32:30000 1:1 1:1 1:1 5:9 32:1 5:0 5:0 1:1 5:0 12:0 5:8 1:0 1:1 10:5 10:5 1:0 1:1 4:3 "
        "4:10 4:9 11:1279 10:719 8:0");
    const ByteVec av1Config = Cat({{0x81, 0x08, 0x0C, 0}, {0x0A, uint8_t(av1Sequence.size())}, av1Sequence});
    const ByteVec hvcc = CorpusBytes("mp4_hevc_320x240_25fps_aac_48k_stereo.mp4", "hvcC", 4, 111);
    struct Case {
        const char* what;
        ByteVec data;
        Picture expected;
    } cases[] = {
        {"H.263 custom 8-bit size", Cat({{0x22}, mdtest::Bits("17:1 5:0 8:7 3:0 8:100 8:1")}), {true, kFlv1, 100, 1}},
        {"H.263 custom 16-bit size",
         Cat({{0x12}, mdtest::Bits("17:1 5:0 8:0 3:1 16:1000 16:700")}),
         {true, kFlv1, 1000, 700}},
        {"H.263 reserved size", Cat({{0x12}, mdtest::Bits("17:1 5:0 8:0 3:7 8:0")}), {false, kFlv1}},
        {"H.263 without its start code", Cat({{0x12}, mdtest::Bits("17:3 5:0 8:0 3:5")}), {false, kFlv1}},
        {"VP6 key frame, cropped 0 x 8", {0x14, 0x08, 0x00, 0x46, 15, 20, 15, 20}, {true, kVp6, 320, 232}},
        {"VP6 key frame with the partition offset",
         {0x14, 0x00, 0x01, 0x46, 0, 0, 9, 11, 9, 11},
         {true, kVp6, 176, 144}},
        {"VP6 alpha: its offset first", {0x15, 0x00, 0, 0, 9, 0x00, 0x46, 9, 11, 9, 11}, {true, kVp6, 176, 144}},
        {"VP6 inter frame: no size", {0x24, 0x00, 0x80, 0x46, 15, 20}, {false, kVp6}},
        {"VP6 interlaced key frame: top field first", {0x14, 0x00, 0x00, 0x47, 15, 20}, {true, kVp6, 320, 240, 0, 1}},
        {"screen video", {0x13, 0x30, 0xB0, 0x30, 0x78}, {true, kScreen, 176, 120}},
        {"screen video 2", {0x16, 0x30, 0xB0, 0x30, 0x78}, {true, kScreen, 176, 120}},
        {"AVC interlaced: top field first",
         Cat({{0x17, 0, 0, 0, 0}, AvcConfig(mdtest::AvcSpsNal(interlaced))}),
         {true, kH264, 1920, 1080, 0, 1}},
        {"AVC picture: no size", {0x17, 1, 0, 0, 0, 0, 0, 0, 2, 9, 0x10}, {false, kH264}},
        {"AVC configuration version 2", Cat({{0x17, 0, 0, 0, 0, 2}, AvcConfig(mdtest::AvcSpsNal({}))}), {false, kH264}},
        {"enhanced HEVC SequenceStart (timing in its VUI)",
         Cat({{0x90}, {'h', 'v', 'c', '1'}, hvcc}),
         {true, kHevc, 320, 240, 25}},
        {"enhanced HEVC coded frame: no size", Cat({{0x91}, {'h', 'v', 'c', '1'}, {0, 0, 0}, hvcc}), {false, kHevc}},
        {"AV1 timing, decoder model, operating points",
         Cat({{0x90}, {'a', 'v', '0', '1'}, av1Config}),
         {true, kAv1, 1280, 720, 30000.0 / 1001}},
        {"AV1 OBU size past its record",
         Cat({{0x90}, {'a', 'v', '0', '1'}, {0x81, 8, 0x0C, 0, 0x0A, 40, 0}}),
         {false, kAv1}},
        {"enhanced AVC SequenceStart",
         Cat({{0x90}, {'a', 'v', 'c', '1'}, AvcConfig(mdtest::AvcSpsNal(interlaced))}),
         {true, kH264, 1920, 1080, 0, 1}},
        // Pictures of these are not read: described by their codec alone.
        {"enhanced VP9", Cat({{0x91}, {'v', 'p', '0', '9'}, {0, 0, 0, 0x82}}), {true, kVp9}},
        {"enhanced VP8", Cat({{0x91}, {'v', 'p', '0', '8'}, {0, 0, 0, 0x9D}}), {true, kVp8}},
        {"JPEG", {0x11, 0xFF, 0xD8}, {true, kJpeg}},
        {"enhanced multitrack: not followed", Cat({{0x96}, {'h', 'v', 'c', '1'}, hvcc}), {}},
        {"command frame", {0x57, 0}, {}},
        {"unknown CodecID", {0x1C, 0, 0}, {}},
    };
    for (const Case& c : cases) {
        const Picture got = DescribeVideo(c.data);
        EXPECT_EQ(std::tuple(got.described, got.codec, got.width, got.height, got.fieldOrder),
                  std::tuple(c.expected.described, c.expected.codec, c.expected.width, c.expected.height,
                             c.expected.fieldOrder))
            << c.what;
        EXPECT_NEAR(got.fps, c.expected.fps, 1e-9) << c.what;
    }
}

TEST(FlvTags, AudioHeaders)
{
    using md::StreamCodec;
    struct Sound {
        bool described = false;
        StreamCodec codec{};
        uint32_t channels = 0, rate = 0, bits = 0, objectType = 0;
    };
    const auto describe = [](const ByteVec& data) {
        md::FlvAudioTag tag;
        Sound s;
        if (!md::ReadAudioTag(data, tag) || !md::AudioCodecOf(tag, s.codec))
            return s;
        auto r = md::NewStreamRecord();
        r->codec = s.codec;
        s.described = md::DescribeAudioTag(tag, *r);
        s.codec = r->codec, s.channels = r->audio.channels, s.rate = r->audio.sampleRate;
        s.bits = r->audio.bitsPerSample, s.objectType = r->audio.codecSpecific[0];
        return s;
    };
    struct Case {
        const char* what;
        ByteVec data;
        Sound expected;
    } cases[] = {
        {"PCM 5.5 kHz 8-bit mono", {0x00, 0x80}, {true, StreamCodec::PcmLittleEndian, 1, 5512, 8}},
        {"ADPCM: the code size of the packet", {0x1A, 0x40}, {true, StreamCodec::Adpcm, 1, 22050, 3}},
        {"MPEG 2.5 in MP3 8 kHz", {0xEE, 0xFF, 0xE3, 0x18, 0xC0}, {true, StreamCodec::Mpeg2Audio, 1, 8000, 0, 2}},
        {"MP3 8 kHz", {0xEE, 0x55}, {false, StreamCodec::Mpeg1Audio, 1, 8000}},
        {"Nellymoser 16 kHz mono", {0x4F}, {true, StreamCodec::Nellymoser, 1, 16000}},
        {"Nellymoser 8 kHz mono", {0x5F}, {true, StreamCodec::Nellymoser, 1, 8000}},
        {"Nellymoser at the flags' rate", {0x6A}, {true, StreamCodec::Nellymoser, 1, 22050}},
        {"G.711 A-law: 8 kHz whatever SoundRate says", {0x73}, {true, StreamCodec::Alaw, 2, 8000, 8}},
        {"G.711 mu-law", {0x82}, {true, StreamCodec::Mulaw, 1, 8000, 8}},
        {"Speex: 16 kHz mono", {0xB6}, {true, StreamCodec::Speex, 1, 16000}},
        {"AAC raw frame: the flags until the sequence header",
         {0xAF, 1, 0x21, 0x10},
         {false, StreamCodec::Aac, 2, 44100}},
        {"HE-AAC: the SBR rate", {0xAF, 0, 0x2B, 0x09, 0x80}, {true, StreamCodec::Aac, 1, 48000, 0, 5}},
        {"AAC explicit rate (index 15)",
         {0xAF, 0, 0x17, 0x80, 0x3E, 0x81, 0x00},
         {true, StreamCodec::Aac, 2, 32002, 0, 2}},
        {"AAC channelConfiguration 0 (a program_config_element's): the flags' channels stand",
         {0xAF, 0, 0x12, 0x00},
         {true, StreamCodec::Aac, 2, 44100, 0, 2}},
        {"AAC configuration cut short", {0xAF, 0, 0x12}, {false, StreamCodec::Aac, 2, 44100}},
        {"enhanced audio: not described", {0x9F, 0, 'O', 'p', 'u', 's'}, {}},
    };
    for (const Case& c : cases) {
        const Sound s = describe(c.data);
        const Sound& e = c.expected;
        EXPECT_EQ(std::tuple(s.described, s.codec, s.channels, s.rate, s.bits, s.objectType),
                  std::tuple(e.described, e.codec, e.channels, e.rate, e.bits, e.objectType))
            << c.what;
    }
}

// ---- Files ---------------------------------------------------------------------------------------------------------

ByteVec Tag(uint8_t type, uint32_t ms, const ByteVec& data, int64_t statedSize = -1)
{
    return Cat({{type},
                Be(statedSize < 0 ? data.size() : uint64_t(statedSize), 3),
                Be(ms & 0xFFFFFF, 3),
                {uint8_t(ms >> 24)},
                {0, 0, 0},
                data});
}

// The header (flags: 4 audio, 1 video), PreviousTagSize0, and each tag followed by its size.
ByteVec FlvFile(uint8_t flags, const std::vector<ByteVec>& tags)
{
    ByteVec f = {'F', 'L', 'V', 1, flags, 0, 0, 0, 9, 0, 0, 0, 0};
    for (const ByteVec& t : tags)
        Append(f, Cat({t, Be(t.size(), 4)}));
    return f;
}

const ByteVec kH263Picture = Cat({{0x12}, mdtest::Bits("17:1 5:1 8:0 3:5 2:0")});  // 320x240
ByteVec Video(uint32_t ms) { return Tag(9, ms, kH263Picture); }
ByteVec Audio(uint32_t ms) { return Tag(8, ms, {0x3E, 0, 0, 0, 0}); }  // PCM 44.1 kHz 16-bit mono
ByteVec Script(const ByteVec& body) { return Tag(18, 0, body); }

struct Described {
    uint32_t result = 0;
    std::vector<uint32_t> ids;
    uint32_t width = 0, height = 0, rate = 0;
    double fps = 0;
    int64_t duration = -1;  // 100-ns units from the start to the later end; -1: unknown
};

Described Parse(const ByteVec& file)
{
    md::MemoryInputStream in(file.data(), file.size());
    md::FlvDemux demux;
    md::StreamList streams;
    Described d;
    d.result = demux.Parse(&in, &streams);
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const md::StreamRecord& r = *streams.At(i);
        d.ids.push_back(r.streamId);
        if (r.streamClass == md::StreamClass::Video)
            d.width = r.video.width, d.height = r.video.height, d.fps = r.frameRate;
        else
            d.rate = r.audio.sampleRate;
    }
    const TimeRangeInfo& t = demux.Times().range;
    if (t.startTime >= 0 && std::max(t.videoEndTime, t.audioEndTime) >= 0)
        d.duration = std::max(t.videoEndTime, t.audioEndTime) - t.startTime;
    return d;
}

TEST(FlvDemux, StreamsAndDuration)
{
    std::vector<ByteVec> av;  // 2 s of 25 fps video and audio tags every 23 ms
    for (uint32_t ms = 0; ms <= 2000; ms += 40)
        av.push_back(Video(ms));
    for (uint32_t ms = 0; ms <= 2070; ms += 23)
        av.push_back(Audio(ms));
    std::stable_sort(av.begin(), av.end(), [](const ByteVec& a, const ByteVec& b) {
        return md::Be24(a.data() + 4) < md::Be24(b.data() + 4);
    });
    const ByteVec plain = FlvFile(5, av);
    ByteVec endOfSequence = plain;  // an AVC end-of-sequence tag stamped before the last audio tag
    Append(endOfSequence, Cat({Tag(9, 1500, {0x17, 2, 0, 0, 0}), Be(16, 4)}));
    ByteVec cut = plain;
    cut.erase(cut.end() - 3, cut.end());  // the last tag cut short: no PreviousTagSize at the end
    ByteVec outside = plain;  // the last PreviousTagSize points before the start of the file
    std::fill(outside.end() - 4, outside.end(), 0x7F);
    ByteVec noTag = plain;  // ... at bytes whose DataSize does not match
    noTag[noTag.size() - 1] += 1;
    std::vector<ByteVec> longTail = av;  // an audio tag stamped 9 s, then 100 KiB of video up to 2.86 s
    longTail.push_back(Audio(9000));
    for (uint32_t i = 0; i < 20; ++i)
        longTail.push_back(Tag(9, 2100 + 40 * i, Cat({kH263Picture, ByteVec(5000)})));
    struct Case {
        const char* what;
        ByteVec file;
        int64_t duration;
    } cases[] = {
        {"a later tag stamped earlier", endOfSequence, 20700000},
        {"a file cut short", cut, -1},
        {"a PreviousTagSize outside the file", outside, -1},
        {"a PreviousTagSize at no tag", noTag, -1},
        {"the walk back covers the last 64 KiB only", FlvFile(5, longTail), 28600000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.file).duration, c.duration) << c.what;

    // Stream ids: the tag types, in the order of the first tags. Timestamps from 5 s on: the duration runs from the
    // first tag.
    EXPECT_EQ(Parse(plain).ids, (std::vector<uint32_t>{9, 8}));
    std::vector<ByteVec> late = {Audio(5000), Video(5040), Audio(5500), Video(6040)};
    EXPECT_EQ(Parse(FlvFile(5, late)).ids, (std::vector<uint32_t>{8, 9}));
    EXPECT_EQ(Parse(FlvFile(5, late)).duration, 10400000);
}

TEST(FlvDemux, TagsOverMetadata)
{
    const ByteVec meta = Script(OnMetaData(
        {Prop("width", Num(640)), Prop("height", Num(480)), Prop("framerate", Num(15)), Prop("videocodecid", Num(2)),
         Prop("audiocodecid", Num(10)), Prop("audiosamplerate", Num(22050)), Prop("stereo", Bool(false))}));
    // NTSC pictures: 33 and 34 ms apart.
    std::vector<ByteVec> ntsc = {meta};
    for (uint32_t i = 0; i <= 120; ++i)
        ntsc.push_back(Video(uint32_t(std::lround(i * 1001 / 30.0))));
    std::vector<ByteVec> few = {meta, Video(0), Video(40), Video(80)};
    struct Case {
        const char* what;
        ByteVec file;
        uint32_t width, height;
        double fps;
    } cases[] = {
        {"the picture header's size, the timestamps' rate", FlvFile(1, ntsc), 320, 240, 30000.0 / 1001},
        {"too few pictures for a rate: the metadata's", FlvFile(1, few), 320, 240, 15},
        {"no video tag in the head: the metadata alone", FlvFile(1, {meta}), 640, 480, 15},
        {"no flag for video: no stream from the metadata", FlvFile(4, {meta}), 0, 0, 0},
        {"a metadata picture one line high",
         FlvFile(1, {Script(OnMetaData({Prop("width", Num(16)), Prop("height", Num(1)), Prop("framerate", Num(15)),
                                        Prop("videocodecid", Num(2))}))}),
         16, 1, 15},
        {"a metadata picture 65535 lines high, the most a height may be",
         FlvFile(1, {Script(OnMetaData(
                        {Prop("width", Num(16)), Prop("height", Num(65535)), Prop("videocodecid", Num(2))}))}),
         16, 65535, 0},
        {"one line more: no picture size",
         FlvFile(1, {Script(OnMetaData(
                        {Prop("width", Num(16)), Prop("height", Num(65536)), Prop("videocodecid", Num(2))}))}),
         0, 0, 0},
    };
    for (const Case& c : cases) {
        const Described d = Parse(c.file);
        EXPECT_EQ(std::tuple(d.width, d.height), std::tuple(c.width, c.height)) << c.what;
        EXPECT_NEAR(d.fps, c.fps, 1e-9) << c.what;
    }
    // AAC without its sequence header in the head: the metadata's rate over the flags' 44 kHz.
    EXPECT_EQ(Parse(FlvFile(4, {meta, Tag(8, 0, {0xAF, 1, 0x21})})).rate, 22050u);
    EXPECT_EQ(Parse(FlvFile(4, {meta})).rate, 22050u);

    // No audio or video tag in the 512 KiB head: the stream from the metadata, its times from 0 to the last tag's.
    EXPECT_EQ(Parse(FlvFile(1, {meta, Script(ByteVec(520 * 1024, 5)), Video(40)})).duration, 400000);

    // A first tag whose DataSize runs past the end of the file: described from what is there.
    const Described past = Parse(FlvFile(1, {Tag(9, 0, kH263Picture, 1 << 20)}));
    EXPECT_EQ(std::tuple(past.result, past.width, past.duration), std::tuple(1u, 320u, int64_t(-1)));

    // The probe and the parse take version 1 with PreviousTagSize0 = 0 only.
    const ByteVec good = FlvFile(5, {Video(0)});
    for (auto [at, value] : {std::pair{3, 2}, std::pair{12, 1}, std::pair{8, 8}}) {
        ByteVec bad = good;
        bad[size_t(at)] = uint8_t(value);
        EXPECT_FALSE(md::ProbeFlv({.head = bad}));
        EXPECT_EQ(Parse(bad).result, 0u);
    }
    EXPECT_TRUE(md::ProbeFlv({.head = good}));
}

// With a tag list, the top-level values other than the stream descriptions are listed: strings as they are,
// numbers rounded, booleans as words; common names as they are, others under "flv:".
TEST(FlvAmf0, OnMetaDataValuesAsTags)
{
    const ByteVec body = OnMetaData(
        {Prop("duration", Num(12.5)), Prop("width", Num(640)), Prop("stereo", Bool(true)), Prop("title", Str("T")),
         Prop("metadatacreator", Str("muxer")), Prop("totaldatarate", Num(421.4)), Prop("canseekontime", Bool(true)),
         Prop("nested", Cat({{3}, Prop("artist", Str("no")), kEnd})), Prop("purl", Str("")), Prop("huge", Num(1e300))});
    md::FlvMetadata m;
    md::TagList tags;
    ASSERT_TRUE(md::ReadOnMetaData(body, m, &tags));
    std::string all;
    for (size_t i = 0; i < tags.Count(); ++i)
        all += tags.At(i).key + "=" + tags.At(i).value + "|";
    EXPECT_EQ(all, "title=T|flv:metadatacreator=muxer|flv:totaldatarate=421|flv:canseekontime=true|");
    EXPECT_EQ(m.width, 640.0) << "the stream values are still read";
    // Without a list nothing changes for the metadata.
    md::FlvMetadata plain;
    ASSERT_TRUE(md::ReadOnMetaData(body, plain));
    EXPECT_EQ(plain.duration, m.duration);
}

}  // namespace
