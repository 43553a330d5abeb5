// MXF files built KLV by KLV: the header metadata's object graph, coding labels, frame layouts, operational
// patterns, durations from the material package or an index table, and broken inputs.
#include "mxf/mxf.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "mxf/mxf_metadata.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using md::StreamCodec;
using mdtest::Append;
using mdtest::Be;
using mdtest::ByteVec;
using mdtest::PutBe;

// A KLV item with a four-byte BER length (0x83 and three bytes), or the length bytes given.
ByteVec Klv(const ByteVec& key, const ByteVec& value, ByteVec ber = {})
{
    ByteVec out = key;
    if (ber.empty())
        ber = {0x83, uint8_t(value.size() >> 16), uint8_t(value.size() >> 8), uint8_t(value.size())};
    Append(out, ber);
    Append(out, value);
    return out;
}

// Labels as SMPTE registers them (06 0E 2B 34 then the bytes given, zero-filled to 16).
ByteVec Label(std::initializer_list<uint8_t> rest)
{
    ByteVec l(16, 0);
    l[0] = 0x06, l[1] = 0x0E, l[2] = 0x2B, l[3] = 0x34;
    size_t i = 4;
    for (uint8_t b : rest)
        if (i < l.size())
            l[i++] = b;
    return l;
}
ByteVec Uid(uint8_t n) { return {0xA0, 0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, n}; }

// Local set items and sets (2-byte tags and lengths); the InstanceUID first.
ByteVec Item(uint16_t tag, const ByteVec& value)
{
    ByteVec i;
    PutBe(i, tag, 2), PutBe(i, value.size(), 2);
    Append(i, value);
    return i;
}
ByteVec Batch(std::initializer_list<ByteVec> elements, uint32_t size = 16)
{
    ByteVec b;
    PutBe(b, elements.size(), 4), PutBe(b, size, 4);
    for (const ByteVec& e : elements)
        Append(b, e);
    return b;
}
ByteVec Rational(int32_t num, int32_t den) { return mdtest::Concat({Be(uint32_t(num), 4), Be(uint32_t(den), 4)}); }
ByteVec Set(uint8_t kind, uint8_t uid, std::initializer_list<std::span<const uint8_t>> items)
{
    return Klv(Label({0x02, 0x53, 0x01, 0x01, 0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, kind, 0x00}),
               mdtest::Concat({Item(0x3C0A, Uid(uid)), mdtest::Concat(items)}));
}

const ByteVec kPictureDef = Label({0x04, 0x01, 0x01, 0x01, 0x01, 0x03, 0x02, 0x02, 0x01});
const ByteVec kSoundDef = Label({0x04, 0x01, 0x01, 0x01, 0x01, 0x03, 0x02, 0x02, 0x02});
ByteVec Op(uint8_t item, uint8_t package)
{
    return Label({0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, item, package, 0x09});
}
// Picture coding labels of SMPTE RP 224.
const ByteVec kMpeg2LongGop = Label({0x04, 0x01, 0x01, 0x03, 0x04, 0x01, 0x02, 0x02, 0x01, 0x01, 0x11});
const ByteVec kD10Pal30 = Label({0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02, 0x02, 0x01, 0x02, 0x01, 0x05});

// A track (TrackID, TrackNumber, 25/1) of one Sequence of one Source Clip of duration edit units (none stated
// when negative).
std::vector<ByteVec> Track(uint8_t uid, uint32_t id, uint32_t number, const ByteVec& def, int64_t duration)
{
    const auto dur = [&] { return duration >= 0 ? Item(0x0202, Be(uint64_t(duration), 8)) : ByteVec{}; };
    return {Set(0x3B, uid,
                {Item(0x4801, Be(id, 4)), Item(0x4804, Be(number, 4)), Item(0x4B01, Rational(25, 1)),
                 Item(0x4803, Uid(uint8_t(uid + 1)))}),
            Set(0x0F, uint8_t(uid + 1), {Item(0x0201, def), dur(), Item(0x1001, Batch({Uid(uint8_t(uid + 2))}))}),
            Set(0x11, uint8_t(uid + 2), {Item(0x0201, def), dur()})};
}

// The header metadata of an OP1a file: an MPEG-2 picture track (TrackID 2, 720x288 fields, 16:9, 25 fps) and a
// 24-bit stereo 48 kHz sound track (TrackID 3) of a file package, material tracks of `duration` frames.
struct Model {
    int64_t duration = 10;
    ByteVec picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x3001, Rational(25, 1)),
                                      Item(0x3201, kMpeg2LongGop), Item(0x3203, Be(720, 4)), Item(0x3202, Be(288, 4)),
                                      Item(0x320C, {1}), Item(0x320D, Batch({Be(23, 4), Be(336, 4)}, 4)),
                                      Item(0x320E, Rational(16, 9)), Item(0x3212, {1})});
    ByteVec sound = mdtest::Concat({Item(0x3006, Be(3, 4)), Item(0x3D03, Rational(48000, 1)), Item(0x3D07, Be(2, 4)),
                                    Item(0x3D01, Be(24, 4)), Item(0x3D0A, Be(6, 2))});
    ByteVec descriptorRefs = Batch({Uid(41), Uid(42)});
    ByteVec packages = Batch({Uid(3), Uid(20)});
};
std::vector<ByteVec> Sets(const Model& m)
{
    // 0 Preface, 1 Content Storage, 2 material package, 3-8 its tracks, 9 file package, 10-15 its tracks, 16
    // Multiple Descriptor, 17 picture descriptor, 18 sound descriptor.
    std::vector<ByteVec> s = {Set(0x2F, 1, {Item(0x3B03, Uid(2)), Item(0x3B09, Op(1, 1))}),
                              Set(0x18, 2, {Item(0x1901, m.packages)}),
                              Set(0x36, 3, {Item(0x4403, Batch({Uid(4), Uid(8)}))})};
    for (const auto& t : {Track(4, 2, 0, kPictureDef, m.duration), Track(8, 3, 0, kSoundDef, m.duration)})
        s.insert(s.end(), t.begin(), t.end());
    s.push_back(Set(0x37, 20, {Item(0x4403, Batch({Uid(21), Uid(25)})), Item(0x4701, Uid(40))}));
    for (const auto& t : {Track(21, 2, 0x15010500, kPictureDef, -1), Track(25, 3, 0x16010300, kSoundDef, -1)})
        s.insert(s.end(), t.begin(), t.end());
    s.push_back(Set(0x44, 40, {Item(0x3F01, m.descriptorRefs)}));
    s.push_back(Set(0x51, 41, {m.picture}));
    s.push_back(Set(0x48, 42, {m.sound}));
    return s;
}

ByteVec PartitionPack(uint8_t kind, uint8_t status, uint64_t footer, uint64_t headerByteCount, const ByteVec& op)
{
    ByteVec v = {0, 1, 0, 3, 0, 0, 0, 1};  // MajorVersion, MinorVersion, KAGSize
    v.resize(v.size() + 16);  // ThisPartition, PreviousPartition
    PutBe(v, footer, 8), PutBe(v, headerByteCount, 8);
    v.resize(v.size() + 28);  // IndexByteCount, IndexSID, BodyOffset, BodySID
    Append(v, op);
    PutBe(v, 0, 4), PutBe(v, 16, 4);
    return Klv(Label({0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, kind, status, 0x00}), v);
}
ByteVec IndexSegment(int64_t start, int64_t duration)
{
    return Klv(Label({0x02, 0x53, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x10, 0x01, 0x00}),
               mdtest::Concat({Item(0x3F0B, Rational(25, 1)), Item(0x3F0C, Be(uint64_t(start), 8)),
                               Item(0x3F0D, Be(uint64_t(duration), 8))}));
}
const ByteVec kPrimer =
    Klv(Label({0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00}), Batch({}, 18));
ByteVec PictureElement(const ByteVec& es) { return Klv(Label({1, 2, 1, 1, 0x0D, 1, 3, 1, 0x15, 1, 5, 0}), es); }

// A file: run-in, header partition (the header byte count of the primer and the sets unless given), the body, a
// footer partition (whose offset the header states when statedFooter) with its index segments.
struct Layout {
    ByteVec runIn = {};
    uint8_t status = 4;
    ByteVec body = {};
    std::vector<ByteVec> footerIndex = {};
    bool footer = false;
    bool statedFooter = true;
    std::optional<uint64_t> headerByteCount = {};
};
ByteVec File(const std::vector<ByteVec>& sets, const Layout& l = {})
{
    ByteVec metadata = kPrimer;
    for (const ByteVec& s : sets)
        Append(metadata, s);
    const uint64_t headerPack = PartitionPack(2, 1, 0, 0, Op(1, 1)).size();
    const uint64_t footerAt = headerPack + metadata.size() + l.body.size();
    ByteVec out = l.runIn;
    Append(out, PartitionPack(2, l.status, l.footer && l.statedFooter ? footerAt : 0,
                              l.headerByteCount.value_or(metadata.size()), Op(1, 1)));
    Append(out, metadata);
    Append(out, l.body);
    if (l.footer) {
        Append(out, PartitionPack(4, 4, footerAt, 0, Op(1, 1)));
        for (const ByteVec& i : l.footerIndex)
            Append(out, i);
    }
    return out;
}

struct Parsed {
    uint32_t result = 0;
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> streams;  // class, id, codec
    uint32_t width = 0, height = 0, aspectX = 0, aspectY = 0, fieldOrder = 99, channels = 0, rate = 0, bits = 0;
    int64_t videoEnd = -1, audioEnd = -1;
    std::string pattern;
};
Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::MxfDemux demux;
    md::StreamList list;
    Parsed p;
    p.result = demux.Parse(&in, &list);
    for (uint32_t i = 0; i < list.Count(); ++i) {
        const md::StreamRecord& r = *list.At(i);
        p.streams.emplace_back(uint32_t(r.streamClass), r.streamId, uint32_t(r.codec));
        if (r.streamClass == md::StreamClass::Video && p.fieldOrder == 99)
            p.width = r.video.width, p.height = r.video.height, p.aspectX = r.video.aspectX,
            p.aspectY = r.video.aspectY, p.fieldOrder = r.fieldOrder;
        if (r.streamClass == md::StreamClass::Audio && p.channels == 0)
            p.channels = r.audio.channels, p.rate = r.audio.sampleRate, p.bits = r.audio.bitsPerSample;
    }
    p.videoEnd = demux.Times().range.videoEndTime;
    p.audioEnd = demux.Times().range.audioEndTime;
    p.pattern = demux.Pattern();
    return p;
}

constexpr uint32_t kVideo = 1, kAudio = 0;
constexpr uint32_t kMpeg2 = uint32_t(StreamCodec::Mpeg2Video), kPcm = uint32_t(StreamCodec::PcmLittleEndian);
const std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> kBoth = {{kVideo, 2, kMpeg2}, {kAudio, 3, kPcm}};

TEST(MxfKlv, BerLengths)
{
    struct Case {
        ByteVec bytes;
        bool ok;
        uint64_t length;
        size_t size;
    } cases[] = {
        {{0x05}, true, 5, 1},
        {{0x81, 0x80}, true, 128, 2},
        {{0x88, 0x80, 0, 0, 0, 0, 0, 0, 0}, true, uint64_t(1) << 63, 9},  // decodes; no file holds it
        {{0x89, 0, 0, 0, 0, 0, 0, 0, 0, 1}, false, 0, 0},  // more than eight length bytes
        {{0x80}, false, 0, 0},  // indefinite: not in MXF
        {{0x84, 0x00, 0x01}, false, 0, 0},  // cut short
        {{}, false, 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t length = 0;
        size_t size = 0;
        const bool ok = md::ReadBerLength(c.bytes, 0, length, size);
        EXPECT_EQ(std::tuple(ok, ok ? length : 0, ok ? size : 0), std::tuple(c.ok, c.length, c.size))
            << testing::PrintToString(c.bytes);
    }
}

TEST(Mxf, DescribesTheFilePackageAndTimesTheMaterialPackage)
{
    // The file package's tracks by TrackID; 10 frames at 25/1 from the material package; the pattern of the
    // partition pack. (The descriptors' fields: the conformance files.)
    const Parsed p = Parse(File(Sets({})));
    EXPECT_EQ(std::tuple(p.result, p.streams, p.videoEnd, p.audioEnd, p.pattern),
              std::tuple(1u, kBoth, 4000000, 4000000, std::string("OP1a")));

    // Every sound track is listed: a second one (TrackID 5) and a third whose TrackID 3 is taken, which gets the
    // next id above those given.
    std::vector<ByteVec> more = Sets({});
    more[9] = Set(0x37, 20, {Item(0x4403, Batch({Uid(21), Uid(25), Uid(50), Uid(54)})), Item(0x4701, Uid(40))});
    more[16] = Set(0x44, 40, {Item(0x3F01, Batch({Uid(41), Uid(42), Uid(58)}))});
    for (const auto& t : {Track(50, 5, 0, kSoundDef, -1), Track(54, 3, 0, kSoundDef, -1)})
        more.insert(more.end(), t.begin(), t.end());
    more.push_back(Set(0x48, 58, {Item(0x3006, Be(5, 4)), Item(0x3D07, Be(1, 4))}));
    EXPECT_EQ(Parse(File(more)).streams,
              (std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>{
                  {kVideo, 2, kMpeg2}, {kAudio, 3, kPcm}, {kAudio, 5, kPcm}, {kAudio, 6, kPcm}}));

    // A run-in of up to 64 KiB before the header partition; none longer.
    EXPECT_EQ(Parse(File(Sets({}), {.runIn = ByteVec(0x10000, 0x55)})).streams, kBoth);
    const ByteVec tooLong = File(Sets({}), {.runIn = ByteVec(0x10001, 0x55)});
    EXPECT_EQ(Parse(tooLong).result, 0u);
    EXPECT_FALSE(md::ProbeMxf({.head = tooLong}));
    EXPECT_TRUE(md::ProbeMxf({.head = File(Sets({}), {.runIn = ByteVec(100, 0x55)})}));
}

TEST(Mxf, CodingLabelsAndFrameLayouts)
{
    // Picture coding labels of SMPTE RP 224 and the codecs they name (MPEG-2, D-10 and VC-3: the conformance files).
    struct Coding {
        ByteVec label;
        StreamCodec codec;
    } codings[] = {
        {Label({0x04, 0x01, 0x01, 0x0A, 0x04, 0x01, 0x02, 0x02, 0x01, 0x32, 0x21, 0x01}),
         StreamCodec::H264},  // AVC-Intra
        {Label({0x04, 0x01, 0x01, 0x0D, 0x04, 0x01, 0x02, 0x02, 0x01, 0x31, 0x60, 0x01}),
         StreamCodec::H264},  // High 422
        {Label({0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02, 0x02, 0x02, 0x01, 0x02}),
         StreamCodec::DvVideo},  // IEC DV 625
        {Label({0x04, 0x01, 0x01, 0x07, 0x04, 0x01, 0x02, 0x02, 0x03, 0x01, 0x01, 0x03}), StreamCodec::Jpeg2000},
        {Label({0x04, 0x01, 0x01, 0x0D, 0x04, 0x01, 0x02, 0x02, 0x03, 0x06, 0x01}), StreamCodec::ProRes},  // 422 Proxy
        {Label({0x04, 0x01, 0x01, 0x0A, 0x04, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}), StreamCodec::RawVideo},
        {Label({0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02, 0x02, 0x7E}), StreamCodec::VfwVideo},  // no such scheme
    };
    for (const Coding& c : codings) {
        Model m;
        m.picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x3201, c.label)});
        EXPECT_EQ(std::get<2>(Parse(File(Sets(m))).streams.at(0)), uint32_t(c.codec))
            << testing::PrintToString(c.label);
    }
    // Without a coding label the generic container mapping of the EssenceContainer label names the codec; an
    // unknown one leaves the model's MPEG video descriptor MPEG-2.
    for (const auto& [mapping, codec] : {std::pair(0x10, StreamCodec::H264), std::pair(0x02, StreamCodec::DvVideo),
                                         std::pair(0x05, StreamCodec::RawVideo), std::pair(0x11, StreamCodec::DnxHd),
                                         std::pair(0x7F, StreamCodec::Mpeg2Video)}) {
        Model m;
        const ByteVec container = Label({0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, uint8_t(mapping), 0x01});
        m.picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x3004, container)});
        EXPECT_EQ(std::get<2>(Parse(File(Sets(m))).streams.at(0)), uint32_t(codec)) << mapping;
    }
    // Sound coding labels: uncompressed (01 7E: big-endian) and A-law.
    const Coding sounds[] = {
        {Label({0x04, 0x01, 0x01, 0x01, 0x04, 0x02, 0x02, 0x01, 0x01}), StreamCodec::PcmLittleEndian},
        {Label({0x04, 0x01, 0x01, 0x07, 0x04, 0x02, 0x02, 0x01, 0x7E}), StreamCodec::Lpcm},
        {Label({0x04, 0x01, 0x01, 0x04, 0x04, 0x02, 0x02, 0x02, 0x03, 0x01, 0x01}), StreamCodec::Alaw},
    };
    for (const Coding& c : sounds) {
        Model m;
        m.sound = mdtest::Concat({Item(0x3006, Be(3, 4)), Item(0x3D06, c.label)});
        EXPECT_EQ(std::get<2>(Parse(File(Sets(m))).streams.at(1)), uint32_t(c.codec))
            << testing::PrintToString(c.label);
    }
    // A picture descriptor that states no size: none.
    Model sizeless;
    sizeless.picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x3201, kMpeg2LongGop)});
    const Parsed unsized = Parse(File(Sets(sizeless)));
    EXPECT_EQ(std::pair(unsized.width, unsized.height), std::pair(0u, 0u));
    // An AspectRatio of two positive terms is taken reduced, 1/1 too; a zero term gives none.
    for (const auto& [num, den, x] : {std::tuple(1, 1, 1u), std::tuple(32, 18, 16u), std::tuple(0, 1, 0u),
                                      std::tuple(4, 0, 0u)}) {
        Model m;
        m.picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x320E, Rational(num, den))});
        const Parsed p = Parse(File(Sets(m)));
        EXPECT_EQ(std::pair(p.aspectX, p.aspectY), std::pair(x, x == 16 ? 9u : x)) << num << "/" << den;
    }
    // A sampling rate that is not whole rounds to the nearest: 88201/2 is 44101.
    Model fractional;
    fractional.sound = mdtest::Concat({Item(0x3006, Be(3, 4)), Item(0x3D03, Rational(88201, 2)), Item(0x3D07, Be(2, 4))});
    EXPECT_EQ(Parse(File(Sets(fractional))).rate, 44101u);

    // FrameLayout, FieldDominance and the VideoLineMap: the picture height and which field comes first.
    struct FrameCase {
        uint8_t layout, dominance;
        int32_t line1, line2;
        uint32_t height, fieldOrder;
    } frames[] = {
        {0, 1, 26, 0, 288, 0},  // a full frame: progressive
        {1, 1, 23, 336, 576, 1},  // 625 lines: field 1 is on top and comes first
        {1, 2, 23, 336, 576, 2},  // field 2 first: bottom field first
        {3, 1, 21, 283, 576, 2},  // 525 lines: field 2 (line 283) is on top, field 1 first: bottom first
        {3, 2, 21, 283, 576, 1}, {4, 1, 21, 584, 576, 0},  // a segmented frame: progressive, fields stored
        {2, 1, 23, 0, 288, 0},  // one field only
    };
    for (const FrameCase& l : frames) {
        Model m;
        m.picture = mdtest::Concat(
            {Item(0x3006, Be(2, 4)), Item(0x3202, Be(288, 4)), Item(0x320C, {l.layout}), Item(0x3212, {l.dominance}),
             Item(0x320D, Batch({Be(uint32_t(l.line1), 4), Be(uint32_t(l.line2), 4)}, 4)), Item(0x3201, kD10Pal30)});
        const Parsed p = Parse(File(Sets(m)));
        EXPECT_EQ(std::tuple(p.height, p.fieldOrder), std::tuple(l.height, l.fieldOrder)) << int(l.layout);
    }
    // The picture size: the sampled area, else the displayed one, else the stored one (0: not stated); field
    // layouts state each field's lines.
    struct SizeCase {
        uint32_t stored, sampled, display;  // width: the height + 640
        uint8_t layout;
        uint32_t height;
        const char* what;
    } sizes[] = {
        {544, 540, 540, 1, 1080, "MPEG-2 1080i: each field stored in 544 lines, sampled in 540"},
        {304, 304, 288, 1, 608, "D-10: the 32 VBI lines the codec carries are sampled, not shown"},
        {1088, 0, 1080, 0, 1080, "no sampled area: the displayed one"},
        {1088, 0, 0, 0, 1088, "the stored area alone"},
    };
    for (const SizeCase& c : sizes) {
        ByteVec items = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x320C, {c.layout})});
        for (const auto& [heightTag, widthTag, lines] : {std::tuple(0x3202, 0x3203, c.stored),
                                                         std::tuple(0x3204, 0x3205, c.sampled),
                                                         std::tuple(0x3208, 0x3209, c.display)})
            if (lines != 0)
                Append(items, mdtest::Concat({Item(uint16_t(heightTag), Be(lines, 4)),
                                              Item(uint16_t(widthTag), Be(lines + 640, 4))}));
        Model m;
        m.picture = items;
        const Parsed p = Parse(File(Sets(m)));
        const uint32_t lines = c.layout == 1 ? c.height / 2 : c.height;
        EXPECT_EQ(std::pair(p.width, p.height), std::pair(lines + 640, c.height)) << c.what;
    }
    // A field height is doubled only while the frame height fits in 32 bits.
    for (const auto& [stored, height] : {std::pair(0x7FFFFFFFu, 0xFFFFFFFEu), std::pair(0x80000000u, 0x80000000u)}) {
        Model m;
        m.picture = mdtest::Concat({Item(0x3006, Be(2, 4)), Item(0x3202, Be(stored, 4)), Item(0x320C, {1})});
        EXPECT_EQ(Parse(File(Sets(m))).height, height) << stored;
    }

    // Interlaced MPEG-2: the first picture's top_field_first decides over the descriptor.
    const ByteVec bottomFirst = mdtest::Concat({mdtest::SequenceHeaders({}), mdtest::PictureHeaderFields(),
                                                mdtest::PictureCodingExtension(false), mdtest::SliceStart()});
    EXPECT_EQ(Parse(File(Sets({}), {.body = PictureElement(bottomFirst)})).fieldOrder, 2u);
}

TEST(Mxf, OperationalPatterns)
{
    struct Case {
        ByteVec label;
        const char* text;
    } cases[] = {
        {Op(1, 1), "OP1a"},
        {Op(3, 3), "OP3c"},
        {Label({0x04, 0x01, 0x01, 0x02, 0x0D, 0x01, 0x02, 0x01, 0x10}), "OP-Atom"},
        {Op(4, 1), ""},
        {Op(1, 0), ""},
        {Label({0x04, 0x01, 0x01, 0x01, 0x0E}), ""},
    };
    for (const Case& c : cases) {
        char text[16];
        md::PatternName(c.label.data(), text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(Mxf, DurationsFromTheIndexTable)
{
    Model open;
    open.duration = -1;  // an open header: the material package states no durations
    const auto ends = [](const ByteVec& file) {
        const Parsed p = Parse(file);
        return std::tuple(p.videoEnd, p.audioEnd);
    };
    // The footer partition's index, found where the header says or searched for in the last 64 KiB.
    EXPECT_EQ(
        ends(File(Sets(open), {.status = 1, .footerIndex = {IndexSegment(0, 6), IndexSegment(6, 4)}, .footer = true})),
        std::tuple(4000000, -1));
    EXPECT_EQ(ends(File(Sets(open), {.runIn = ByteVec(40, 1),
                                     .status = 1,
                                     .footerIndex = {IndexSegment(0, 5)},
                                     .footer = true,
                                     .statedFooter = false})),
              std::tuple(2000000, -1));
    // Segments after the header metadata (a header partition's index) come first.
    EXPECT_EQ(ends(File(Sets(open), {.body = IndexSegment(0, 3), .footerIndex = {IndexSegment(0, 5)}, .footer = true})),
              std::tuple(1200000, -1));
    // A segment of another edit rate than the first adds nothing; one of constant bytes per unit states no end.
    ByteVec other = IndexSegment(0, 50);
    other[16 + 4 + 4 + 3] = 50;  // IndexEditRate 50/1
    EXPECT_EQ(ends(File(Sets(open), {.footerIndex = {IndexSegment(0, 5), other, IndexSegment(0, 0)}, .footer = true})),
              std::tuple(2000000, -1));
    // Without a picture track the index times the sound.
    Model sound = open;
    sound.descriptorRefs = Batch({Uid(42)});
    EXPECT_EQ(ends(File(Sets(sound), {.footerIndex = {IndexSegment(0, 5)}, .footer = true})), std::tuple(-1, 2000000));
}

TEST(Mxf, BrokenInputs)
{
    const auto with = [](std::vector<ByteVec> sets, size_t at, const ByteVec& inserted) {
        sets.insert(sets.begin() + ptrdiff_t(at), inserted);
        return File(sets);
    };
    const ByteVec unknownSet = Label({0x02, 0x53, 1, 1, 0x0D, 1, 1, 1, 1, 1, 0x7E});
    Model pastTheSet, missing, doubled, cycle;
    pastTheSet.sound = mdtest::Concat({Item(0x3006, Be(3, 4)), ByteVec{0x3D, 0x07, 0xFF, 0xFF, 0, 0, 0, 2}});
    missing.descriptorRefs = Batch({Uid(41), Uid(99)});
    Model otherSize;
    otherSize.descriptorRefs = Batch({Uid(41), Uid(42)}, 15);
    doubled.packages = Batch({Uid(3), Uid(20), Uid(20)});
    doubled.descriptorRefs = Batch({Uid(40), Uid(41), Uid(42)});
    cycle.duration = -1;
    std::vector<ByteVec> cycled = Sets(cycle), noStorage = Sets({});
    cycled[4] = Set(0x0F, 5, {Item(0x0201, kPictureDef), Item(0x1001, Batch({Uid(5)}))});
    noStorage.erase(noStorage.begin() + 1);
    struct Case {
        const char* what;
        ByteVec file;
        size_t streams;
        uint32_t channels;
        int64_t videoEnd;
    } cases[] = {
        {"a KLV length of 2^63 ends the header metadata before the picture descriptor",
         with(Sets({}), 17, Klv(unknownSet, {}, {0x88, 0x80, 0, 0, 0, 0, 0, 0, 0})), 0, 0, 4000000},
        {"a BER length of nine bytes ends it before the sound descriptor",
         with(Sets({}), 18, Klv(unknownSet, {}, {0x89, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 1, 0, 4000000},
        {"an item running past its set hides the items after it", File(Sets(pastTheSet)), 2, 0, 4000000},
        {"a sub-descriptor reference to nothing", File(Sets(missing)), 1, 0, 4000000},
        {"a batch of references stating 15-byte elements is not read", File(Sets(otherSize)), 0, 0, 4000000},
        {"a package listed twice, a descriptor list naming itself", File(Sets(doubled)), 2, 2, 4000000},
        {"a sequence whose component is itself: no duration", File(cycled), 2, 2, -1},
        {"a content storage reference to nothing", File(noStorage), 0, 0, -1},
        {"a header byte count past the file", File(Sets({}), {.headerByteCount = uint64_t(1) << 40}), 2, 2, 4000000},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        EXPECT_EQ(std::tuple(p.result, p.streams.size(), p.channels, p.videoEnd),
                  std::tuple(1u, c.streams, c.channels, c.videoEnd))
            << c.what;
    }

    // Cut anywhere: recognised once the partition pack key is there, no stream described twice.
    const ByteVec good = File(Sets({}));
    for (size_t n = 0; n <= good.size(); n += 7) {
        const Parsed p = Parse(ByteVec(good.begin(), good.begin() + ptrdiff_t(n)));
        EXPECT_EQ(p.result, n >= 16 ? 1u : 0u) << n;
        EXPECT_LE(p.streams.size(), 2u) << n;
    }
}

TEST(Mxf, ReadsAreBounded)
{
    // Clip-wrapped essence of 8 MiB: the head, the header metadata and 64 KiB of the first picture; with no
    // duration in the header, also the last 64 KiB for the footer's index.
    for (const int64_t duration : {10, -1}) {
        const ByteVec file = File(
            Sets({.duration = duration}),
            {.body = PictureElement(ByteVec(8 << 20, 0x11)), .footerIndex = {IndexSegment(0, 10)}, .footer = true});
        MemoryInputStream in(file.data(), file.size());
        md::MxfDemux demux;
        md::StreamList list;
        EXPECT_EQ(demux.Parse(&in, &list), 1u);
        EXPECT_EQ(demux.Times().range.videoEndTime, 4000000);
        EXPECT_LT(in.BytesRead(), 0x10000u * (duration < 0 ? 3 : 2) + 8192) << duration;
    }
}

}  // namespace

// An MPEG descriptor's bit rate and profile_and_level_indication under the dynamic tags the Primer Pack maps to
// their labels: 0x48 is Main profile (4) at Main level (8).
TEST(Mxf, MpegBitRateAndProfileUnderDynamicTags)
{
    const auto entry = [](uint16_t tag, uint8_t labelByte) {
        return mdtest::Concat({Be(tag, 2), Label({0x01, 0x01, 0x01, 0x05, 0x04, 0x01, 0x06, 0x02, 0x01, labelByte})});
    };
    ByteVec metadata =
        Klv(Label({0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00}),
            Batch({entry(0x8001, 0x0B), entry(0x8002, 0x0A)}, 18));
    Model m;
    m.picture = mdtest::Concat({m.picture, Item(0x8001, Be(50000000, 4)), Item(0x8002, {0x48})});
    for (const ByteVec& set : Sets(m))
        Append(metadata, set);
    const md::MxfDescription d = md::DescribeHeaderMetadata(md::Bytes(metadata));
    ASSERT_FALSE(d.tracks.empty());
    const md::StreamRecord& r = *d.tracks[0].record;
    EXPECT_EQ(std::tuple(r.video.bitRate, r.video.profile, r.video.level), std::tuple(50000000u, 4u, 8u));
}

// The last Identification set names the application, as ffprobe names its items; items of the wrong size or out
// of range are left out.
TEST(Mxf, IdentificationTags)
{
    const ByteVec utf16 = {0, 'F', 0, 'F', 0, 0};  // "FF" and a terminator
    const ByteVec version = {0, 5, 0, 9, 0, 1, 0, 1, 0, 2};
    const ByteVec date = {0x07, 0xDE, 7, 15, 22, 27, 37, 171};  // 171 quarter milliseconds: .684
    const ByteVec earlier = Set(0x30, 9, {Item(0x3C01, {0, 'O', 0, 'l', 0, 'd'})});
    const ByteVec latest = Set(0x30, 10,
                               {Item(0x3C01, utf16), Item(0x3C03, version), Item(0x3C06, date), Item(0x3C07, {0, 1}),
                                Item(0x3C05, Uid(7)), Item(0x3C08, {0, 'L'})});
    const ByteVec badDate = Set(0x30, 11, {Item(0x3C06, {0x07, 0xDE, 13, 15, 22, 27, 37, 0})});
    const auto tags = [](const std::vector<ByteVec>& sets) {
        ByteVec metadata = kPrimer;
        for (const ByteVec& s : sets)
            Append(metadata, s);
        md::DescribeHeaderMetadata(md::Bytes(metadata), nullptr);  // no list asked for: the set is passed over
        md::TagList list;
        md::DescribeHeaderMetadata(md::Bytes(metadata), &list);
        std::string all;
        for (size_t i = 0; i < list.Count(); ++i)
            all += (all.empty() ? "" : "|") + list.At(i).key + "=" + list.At(i).value;
        return all;
    };
    EXPECT_EQ(tags({earlier, latest}),
              "mxf:company_name=FF|mxf:product_version_num=5.9.1.1.2|mxf:application_platform=L|"
              "mxf:modification_date=2014-07-15T22:27:37.684000Z|mxf:product_uid=a0a1a2a3-0000-0000-0000-000000000007|"
              "mxf:uid=a0a1a2a3-0000-0000-0000-00000000000a");
    EXPECT_EQ(tags({badDate}), "mxf:uid=a0a1a2a3-0000-0000-0000-00000000000b") << "a 13th month";
    const ByteVec lastMoment = Set(0x30, 12, {Item(0x3C06, {0x07, 0xDE, 12, 31, 23, 59, 59, 249})});
    EXPECT_EQ(tags({lastMoment}),
              "mxf:modification_date=2014-12-31T23:59:59.996000Z|mxf:uid=a0a1a2a3-0000-0000-0000-00000000000c");
}
