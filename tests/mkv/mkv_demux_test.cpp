// The Matroska demultiplexer on synthetic files, values by hand from the Matroska element definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "input/memory_input_stream.h"
#include "mkv/ebml_reader.h"
#include "mkv/mkv_demux.h"
#include "mkv/probe_matroska.h"
#include "support/bit_writer.h"
#include "support/files.h"
#include "support/mkv_builders.h"

namespace {

namespace fs = std::filesystem;
namespace id = mdtest::mkvid;
using namespace md;
using mdtest::MkvTrack;

struct Demuxed {
    MKVDemux demux;
    StreamList streams;
    uint32_t result = 0;
    const StreamRecord* Find(StreamClass c, uint32_t number) const
    {
        for (uint32_t i = 0; i < streams.Count(); ++i)
            if (streams.At(i)->streamClass == c && streams.At(i)->streamId == number)
                return streams.At(i);
        return nullptr;
    }
};

// Parses bytes with the extensions, after selecting video and audio track numbers when given.
std::unique_ptr<Demuxed> Demux(std::vector<uint8_t> bytes, std::optional<std::pair<uint32_t, uint32_t>> select = {},
                               uint32_t extensions = 0)
{
    auto d = std::make_unique<Demuxed>();
    d->demux.SetExtensions(extensions);
    if (select)
        d->demux.SelectTracks(select->first, 0, select->second, 0);
    MemoryInputStream input(std::move(bytes));
    d->result = d->demux.Parse(&input, &d->streams);
    return d;
}

MkvTrack Track(uint64_t number, uint64_t type, std::string codecId)
{
    return {.number = number, .type = type, .codecId = std::move(codecId)};
}

// The extensions the rules of MD_EXT_MATROSKA_CODECS are checked under: none, every other one, and that bit.
constexpr uint32_t kCodecBitMasks[] = {0u, MD_EXT_ALL & ~MD_EXT_MATROSKA_CODECS, MD_EXT_MATROSKA_CODECS};

// The one record the selected track of file gets with MD_EXT_MATROSKA_CODECS, after checking that it gets none
// without that bit (with no extension, or with every other one); null when the bit gives no single record.
std::unique_ptr<Demuxed> WithTheCodecBitOnly(const std::vector<uint8_t>& file, std::pair<uint32_t, uint32_t> select,
                                             const char* what)
{
    for (const uint32_t mask : kCodecBitMasks) {
        auto d = Demux(file, select, mask);
        const bool bit = mask == MD_EXT_MATROSKA_CODECS;
        EXPECT_EQ(std::pair(d->result, d->streams.Count()), std::pair(1u, bit ? 1u : 0u)) << what << " " << mask;
        if (bit)
            return d->streams.Count() == 1 ? std::move(d) : nullptr;
    }
    return nullptr;
}

std::vector<uint8_t> File(std::vector<MkvTrack> tracks)
{
    return mdtest::MatroskaFile({.duration = 1000, .tracks = std::move(tracks)});
}

TEST(MkvDemuxTracks, RecordsByTrackEntry)
{
    const auto displayed = [](uint64_t x, uint64_t y) {
        return MkvTrack{.codecId = "V_MPEG2", .displayWidth = x, .displayHeight = y};
    };
    const MkvTrack sbr{.type = 2, .codecId = "A_AAC", .codecPrivate = {0x2B, 0x92, 0x08, 0x00}};  // object type 5 (SBR)
    MkvTrack vorbis{.type = 2, .codecId = "A_VORBIS", .codecPrivate = {2, 30, 0xFF, 45}};  // Xiph: 30, 300, 7
    vorbis.codecPrivate.resize(4 + 337);
    struct Row {
        const char* what;
        MkvTrack track;
        StreamCodec codec;
        uint32_t a = 0, b = 0, c = 0;  // video: aspectX, aspectY; audio: codecSpecific[0..2] (b 0: not checked)
    };
    // Display aspect: 100 X / Y = 133 snaps to 4:3 (177 to 16:9, 125 stays: the extended codecs' pixel sizes).
    const Row rows[] = {
        {"640:480 snaps to 4:3", displayed(640, 480), StreamCodec::Mpeg2Video, 4, 3},
        // The AAC object type from the CodecID ("LC" is found before "SBR") or the CodecPrivate.
        {"AAC CodecPrivate", sbr, StreamCodec::Aac, 5, 4, 0x0008922B},  // its length, its bytes (little-endian)
        {"Vorbis header sizes", vorbis, StreamCodec::Vorbis, 30, 300, 7},
    };
    for (const Row& r : rows) {
        const bool video = r.track.type == 1;
        auto d = Demux(File({r.track}), std::pair(video ? 1u : 0u, video ? 0u : 1u));
        ASSERT_EQ(d->streams.Count(), 1u) << r.what;
        const StreamRecord* s = d->streams.At(0);
        const auto& words = s->audio.codecSpecific;
        if (video) {
            EXPECT_EQ(std::tuple(s->codec, s->video.aspectX, s->video.aspectY), std::tuple(r.codec, r.a, r.b))
                << r.what;
        } else {
            EXPECT_EQ(std::tuple(s->codec, words[0], r.b ? words[1] : 0u, r.b ? words[2] : 0u),
                      std::tuple(r.codec, r.a, r.b, r.c))
                << r.what;
        }
    }

    // Unknown CodecIDs get no record; a track not selected has class, number and codec only. Without
    // DefaultDuration a frame lasts 33366666 ns (29.97 fps); FlagDefault defaults to 1.
    const MkvTrack asp{.number = 2, .codecId = "V_MPEG4/ISO/ASP", .defaultDuration = 40000000, .flagDefault = 0};
    const MkvTrack aac{.number = 5,
                       .type = 2,
                       .codecId = "A_AAC",
                       .defaultDuration = 23219955,
                       .samplingFrequency = 44100.9,
                       .bitDepth = 16};
    // Track names become UTF-16 of at most 255 code units, a surrogate pair never cut.
    const MkvTrack sub{.number = 6, .type = 17, .codecId = "S_TEXT/ASS", .codecPrivate = {'[', 'S', ']'},
                       .name = "\xC3\x9C\xF0\x9F\x98\x80"};  // U+00DC U+1F600
    MkvTrack srt = Track(8, 17, "S_TEXT/UTF8");
    srt.name = std::string(254, 'a') + "\xF0\x9F\x98\x80";
    auto d = Demux(File({Track(1, 1, "V_MPEG1"), asp, Track(4, 1, "V_VP8"), Track(3, 2, "A_FLAC"), aac, sub,
                         Track(7, 17, "S_VOBSUB"), srt}),
                   std::pair(1u, 5u));
    ASSERT_EQ(d->streams.Count(), 5u);
    const auto name = [&](uint32_t id) {
        return std::u16string(d->Find(StreamClass::Subtitle, id)->Subtitle().trackName);
    };
    EXPECT_EQ(name(6), u"\u00DC\U0001F600");
    EXPECT_EQ(name(8), std::u16string(254, u'a'));
    const StreamRecord* v = d->Find(StreamClass::Video, 1);
    const StreamRecord* other = d->Find(StreamClass::Video, 2);
    const StreamRecord* a = d->Find(StreamClass::Audio, 5);
    const StreamRecord* s = d->Find(StreamClass::Subtitle, 6);
    ASSERT_TRUE(v && other && a && s);
    TimeRangeInfo range;
    d->demux.GetTimeRange(range);
    EXPECT_EQ(std::tuple(v->video.frameDuration, v->video.width, v->defaultFlag, range.videoFrameDuration),
              std::tuple(33366666, 720u, 1, 333666u));
    EXPECT_DOUBLE_EQ(v->frameRate, 29.97);
    EXPECT_EQ(std::tuple(other->codec, other->video.width, other->frameRate),
              std::tuple(StreamCodec::Mpeg4Video, 0u, 0.0));
    EXPECT_EQ(std::tuple(a->audio.sampleRate, a->audio.channels, a->audio.bitsPerSample, range.audioFrameDuration),
              std::tuple(44100u, 2u, 16u, 232199u));  // 44100.9 truncated; DefaultDuration / 100
    EXPECT_EQ(s->codec, StreamCodec::Ass);
}

// The first frame of a selected MPEG-2 video track: its sequence and picture headers.
TEST(MkvDemuxMeasure, FirstFrameHeaders)
{
    std::vector<uint8_t> es = test::ReadFileBytes(test::TestDataDir() / "es_mpeg2video_720x480_16x9_29.97i_tff.m2v");
    es.resize(std::min<size_t>(es.size(), 65536));
    const mdtest::MkvLayout layout{.tracks = {Track(1, 1, "V_MPEG2")}, .clusters = {{0, {{1, 0, true, es}}}}};
    const auto d = Demux(mdtest::MatroskaFile(layout), std::pair(1u, 0u));
    const StreamRecord* v = d->Find(StreamClass::Video, 1);
    ASSERT_TRUE(v && v->extraData1Length > 4 && v->extraData2Length > 4);
    EXPECT_EQ(std::memcmp(v->extraData1, "\0\0\1\xB3", 4), 0);  // sequence header
    EXPECT_EQ(std::memcmp(v->extraData2, "\0\0\1\0", 4), 0);  // picture header
}

// A memory input that counts how often each byte has been handed out, and keeps the stretches announced to it.
struct CountingInput : MemoryInputStream {
    explicit CountingInput(std::vector<uint8_t>&& bytes) : MemoryInputStream(std::move(bytes)), times(Size()) {}
    uint64_t Read(void* buffer, uint32_t count) override
    {
        const uint64_t from = Position(), got = MemoryInputStream::Read(buffer, count);
        for (uint64_t i = from; i < from + got; ++i)
            ++times[i];
        return got;
    }
    void WillRead(uint64_t start, uint64_t end) override { announced.emplace_back(start, end); }
    std::vector<int> times;
    std::vector<std::pair<uint64_t, uint64_t>> announced;
};

// 40 clusters, one a second: a 60000-byte video keyframe at +0 ms, ten 2000-byte audio frames at +20, +120 ..
// +920 ms. The searches (audio start from the first cluster, end times from the last, bit-rate samples over a
// quarter of the file each) find the frames from the element heads: of the video frames only the first is read
// whole (its headers complete the MPEG-2 record), the others are skipped past their first 4 KiB. Whichever
// clusters a sample holds, the rates are 60000 bytes a second of video and 2000 bytes per 100 ms of audio.
TEST(MkvDemuxMeasure, SearchesSkipPayloads)
{
    constexpr size_t kVideoFrame = 60000;
    mdtest::MkvLayout layout{.duration = 40000, .tracks = {Track(1, 1, "V_MPEG2"), Track(2, 2, "A_MPEG/L2")}};
    for (uint64_t i = 0; i < 40; ++i) {
        layout.clusters.push_back({i * 1000, {{1, 0, true, std::vector<uint8_t>(kVideoFrame, 0xEE)}}});
        for (int16_t t = 20; t < 1000; t += 100)
            layout.clusters.back().frames.push_back({2, t, true, std::vector<uint8_t>(2000, 0xAA)});
    }
    const std::vector<uint8_t> file = mdtest::MatroskaFile(layout);
    CountingInput input{std::vector<uint8_t>(file)};
    MKVDemux demux;
    demux.SelectTracks(1, 0, 2, 0);
    StreamList streams;
    ASSERT_TRUE(demux.Parse(&input, &streams) == 1 && streams.Count() == 2);
    TimeRangeInfo range;
    demux.GetTimeRange(range);  // 100-ns units
    // MPEG audio keeps the measured bit rate in its third word as well.
    EXPECT_EQ(std::tuple(streams.At(0)->video.bitRate, streams.At(1)->audio.bytesPerSecond,
                         streams.At(1)->audio.codecSpecific[2], range.videoFirstTime, range.audioFirstTime,
                         range.videoEndTime, range.audioEndTime),
              std::tuple(480000u, 20000u, 160000u, 0, 200000, 390000000, 399200000));
    // The video frames are the runs of 0xEE; bytes read past the first 4 KiB of each but the first.
    std::vector<size_t> readInside;
    for (size_t p = 0; p + kVideoFrame <= file.size(); ++p) {
        if (file[p] != 0xEE || !std::all_of(&file[p], &file[p] + kVideoFrame, [](uint8_t c) { return c == 0xEE; }))
            continue;
        readInside.push_back(
            size_t(std::count_if(&input.times[p + 4096], &input.times[p] + kVideoFrame, [](int n) { return n > 0; })));
        p += kVideoFrame;
    }
    ASSERT_EQ(readInside.size(), 40u);
    EXPECT_EQ(readInside[0], kVideoFrame - 4096);
    EXPECT_EQ(std::vector<size_t>(readInside.begin() + 1, readInside.end()), std::vector<size_t>(39, 0));
    // Each cluster whose every frame is wanted (the last one for the end times, those of the bit-rate samples) is
    // announced whole before its heads are walked, so a remote stream fetches it in one go.
    const uint8_t clusterId[] = {0x1F, 0x43, 0xB6, 0x75};
    const auto last = std::find_end(file.begin(), file.end(), std::begin(clusterId), std::end(clusterId));
    bool lastAnnounced = false;
    for (const auto& [start, end] : input.announced) {
        ElementHeader cluster;
        ASSERT_LT(start, file.size());
        ASSERT_EQ(ReadElementHeader(Bytes(&file[start], file.size() - start), cluster), HeaderRead::Ok);
        EXPECT_TRUE(std::equal(std::begin(clusterId), std::end(clusterId), &file[start]));
        EXPECT_EQ(end, start + cluster.TotalSize());
        lastAnnounced = lastAnnounced || start == uint64_t(last - file.begin());
    }
    EXPECT_TRUE(lastAnnounced);
}

// A cluster at Timecode 1000: an unlaced SimpleBlock, the three lacings, and a BlockGroup with BlockDuration
// and ReferenceBlock; each block's frames are made of one filler byte.
TEST(MkvDemuxPackets, LacingSplitsAndSync)
{
    std::vector<uint8_t> xiph = {2, 0xFF, 45, 20};  // 3 frames: 300, 20, the rest (7)
    xiph.resize(4 + 327, 0x33);
    std::vector<uint8_t> fixed = {1};  // 2 frames of 4
    fixed.resize(1 + 8, 0x44);
    std::vector<uint8_t> ebml = {2, 0x8A, 0x80 | (63 + 2)};  // 10, then +2: 12, the rest (5)
    ebml.resize(3 + 27, 0x55);
    mdtest::EbmlBuilder b;
    b.Begin(id::kCluster).UInt(id::kTimecode, 1000);
    b.Binary(id::kSimpleBlock, mdtest::BlockBody(1, 0, 0x80, std::vector<uint8_t>(10, 0x11)));
    b.Binary(id::kSimpleBlock, mdtest::BlockBody(2, 5, 0x82, xiph));
    b.Binary(id::kSimpleBlock, mdtest::BlockBody(2, 6, 0x04, fixed));
    b.Binary(id::kSimpleBlock, mdtest::BlockBody(2, 7, 0x06, ebml));
    b.Begin(id::kBlockGroup).Binary(id::kBlock, mdtest::BlockBody(1, -3, 0, std::vector<uint8_t>(6, 0x66)));
    b.UInt(id::kBlockDuration, 40).UInt(id::kReferenceBlock, 0xFD).End().End();
    const std::vector<uint8_t> cluster = b.Take();
    const auto size = static_cast<uint32_t>(cluster.size());
    // track, pts (-1 for a laced frame after the first), keyframe, size, duration, filler
    using Frame = std::tuple<uint32_t, int64_t, bool, uint32_t, uint32_t, uint8_t>;
    const std::vector<Frame> expected = {{1, 1000, true, 10, 0, 0x11},  {2, 1005, true, 300, 0, 0x33},
                                         {2, -1, true, 20, 0, 0x33},    {2, -1, true, 7, 0, 0x33},
                                         {2, 1006, false, 4, 0, 0x44},  {2, -1, false, 4, 0, 0x44},
                                         {2, 1007, false, 10, 0, 0x55}, {2, -1, false, 12, 0, 0x55},
                                         {2, -1, false, 5, 0, 0x55},    {1, 997, false, 6, 40, 0x66}};
    MKVDemux demux;
    PacketList packets;
    uint8_t lost = 9;
    EXPECT_EQ(demux.ParsePackets(cluster.data(), size, &packets, &lost), size);
    EXPECT_EQ(lost, 0);
    ASSERT_EQ(packets.Count(), expected.size());
    for (uint32_t i = 0; i < packets.Count(); ++i) {
        const PacketRecord& p = *packets.At(i);
        const auto [track, pts, keyframe, length, duration, filler] = expected[i];
        EXPECT_EQ(std::tuple(p.streamId, p.ptsPresent, p.pts, p.keyframe, p.packetLength, p.blockDuration),
                  std::tuple(track, uint64_t(pts >= 0), pts, uint8_t(keyframe), length, duration))
            << i;
        EXPECT_TRUE(std::all_of(p.packet, p.packet + p.packetLength, [&](uint8_t c) { return c == filler; }));
    }

    // After a cluster, Cues are skipped (also across a split); bytes that are no element lose sync, and the
    // next cluster is still found.
    const std::vector<uint8_t> cues = mdtest::EbmlBuilder().Begin(id::kCues).UInt(id::kCuePoint, 0).End().Take();
    const std::vector<uint8_t> junk(7, 0);
    for (const auto& [between, lostSync, split] :
         {std::tuple(cues, 0, size_t(0)), std::tuple(cues, 0, size + cues.size() - 1),
          std::tuple(junk, 1, size_t(0))}) {
        std::vector<uint8_t> buffer = cluster;
        buffer.insert(buffer.end(), between.begin(), between.end());
        buffer.insert(buffer.end(), cluster.begin(), cluster.end());
        demux.Reset(0);
        packets.Clear();
        const uint32_t first = uint32_t(split ? split : buffer.size());
        EXPECT_EQ(demux.ParsePackets(buffer.data(), first, &packets, &lost), first);
        if (split != 0) {
            const uint32_t rest = uint32_t(buffer.size() - split);
            EXPECT_EQ(demux.ParsePackets(buffer.data() + split, rest, &packets, &lost), rest);
        }
        EXPECT_EQ(lost, lostSync) << split;
        EXPECT_EQ(packets.Count(), 2 * expected.size()) << split;
    }
    // After a reset the parse starts out of sync: bytes before the first cluster are passed over, not a loss.
    std::vector<uint8_t> late = junk;
    late.insert(late.end(), cluster.begin(), cluster.end());
    demux.Reset(0);
    packets.Clear();
    EXPECT_EQ(demux.ParsePackets(late.data(), uint32_t(late.size()), &packets, &lost), late.size());
    EXPECT_EQ(std::pair(int(lost), size_t(packets.Count())), std::pair(0, expected.size()));
}

// Reads of exactly one head buffer come back a byte short: the frame searches then give way to the chunked reader.
struct ShortHeadReads : MemoryInputStream {
    using MemoryInputStream::MemoryInputStream;
    uint64_t Read(void* buffer, uint32_t count) override
    {
        return MemoryInputStream::Read(buffer, count == 4096 ? count - 1 : count);
    }
};

// The records and times of a parse with tracks 1 and 2 selected, as bytes.
std::vector<uint8_t> Measured(MemoryInputStream& input)
{
    MKVDemux demux;
    demux.SelectTracks(1, 0, 2, 0);
    StreamList streams;
    std::vector<uint8_t> out(1, uint8_t(demux.Parse(&input, &streams)));
    TimeRangeInfo range{};
    demux.GetTimeRange(range);
    const auto append = [&out](const void* p, size_t n) {
        out.insert(out.end(), (const uint8_t*)p, (const uint8_t*)p + n);
    };
    append(&range, sizeof range);
    for (uint32_t i = 0; i < streams.Count(); ++i)
        append(streams.At(i), sizeof(StreamRecord));
    return out;
}

// The DocType "matroska" with NUL bytes after it, or none (the EBML default), makes a Matroska file only with the
// header extension; another DocType never does.
TEST(MkvDocType, PaddedOrMissingDocTypeWithTheHeaderExtension)
{
    using namespace std::string_literals;
    const std::optional<std::string> plain = "matroska", padded = "matroska\0\0"s, none, other = "matroskb";
    for (const auto& [docType, base, extended] : {std::tuple(plain, true, true), std::tuple(padded, false, true),
                                                   std::tuple(none, false, true), std::tuple(other, false, false)}) {
        const std::vector<uint8_t> file =
            mdtest::MatroskaFile({.duration = 1000, .tracks = {Track(1, 1, "V_MPEG2")}, .docType = docType});
        for (const bool lenient : {false, true}) {
            MemoryInputStream probed{std::vector<uint8_t>(file)}, parsed{std::vector<uint8_t>(file)};
            MKVDemux demux;
            demux.SetExtensions(lenient ? uint32_t(MD_EXT_MATROSKA_HEADER) : 0u);
            StreamList streams;
            const bool want = lenient ? extended : base;
            EXPECT_EQ(ProbeMatroskaStream(probed, lenient), want ? int32_t(MK_MATROSKA_PROBED) : 0) << docType.has_value();
            EXPECT_EQ(demux.Parse(&parsed, &streams), want ? 1u : 0u) << docType.has_value() << lenient;
        }
    }
}

// The WebM codecs get records in WebM files (read only with MD_EXT_WEBM) or with MD_EXT_MATROSKA_CODECS, the other
// extended codecs only with the latter. Channels, rates and bits come from the codec's own header: OpusHead (RFC
// 7845 5.1; decoded at 48 kHz whatever the track says) and FLAC STREAMINFO; the display size defaults to the pixels.
TEST(MkvExtendedCodecs, RecordsByBitAndDocType)
{
    const std::vector<uint8_t> opusHead = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 6, 0x38, 0x01, 0x44, 0xAC,
                                           0,   0,   0,   0,   1,   4,   2,   0,   1, 2, 3,    4,    5};
    // 96000 Hz (0x17700 in 20 bits), 6 channels (101), 24 bits (10111): 17 70 0B 70.
    std::vector<uint8_t> flac = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x17, 0x70,
                                 0x0B, 0x70};
    flac.resize(8 + 34);
    std::vector<uint8_t> bitmapInfo(40);
    std::memcpy(&bitmapInfo[16], "FFV1", 4);  // biCompression
    const std::vector<MkvTrack> tracks = {
        {.number = 1, .codecId = "V_VP9", .pixelWidth = 640, .pixelHeight = 360},
        {.number = 2, .type = 2, .codecId = "A_OPUS", .codecPrivate = opusHead, .samplingFrequency = 44100},
        {.number = 3, .type = 2, .codecId = "A_FLAC", .codecPrivate = flac},
        {.number = 4, .codecId = "V_MS/VFW/FOURCC", .codecPrivate = bitmapInfo},
        {.number = 5, .type = 17, .codecId = "S_HDMV/PGS"},
        {.number = 6, .codecId = "V_MPEGH/ISO/HEVC"},
        {.number = 7, .type = 2, .codecId = "A_EAC3"}};
    using Listed = std::vector<std::pair<uint32_t, StreamCodec>>;
    const Listed base = {{4, StreamCodec::VfwVideo}};
    const Listed webm = {{1, StreamCodec::Vp9}, {2, StreamCodec::Opus}, {4, StreamCodec::VfwVideo}};
    const Listed all = {{1, StreamCodec::Vp9}, {2, StreamCodec::Opus}, {3, StreamCodec::Flac}, {4, StreamCodec::Ffv1},
                        {5, StreamCodec::Pgs}, {6, StreamCodec::Hevc}, {7, StreamCodec::Eac3}};
    const uint32_t kWebm = MD_EXT_WEBM, kCodecs = MD_EXT_MATROSKA_CODECS;
    for (const auto& [docType, mask, listed] :
         {std::tuple("matroska", 0u, base), std::tuple("matroska", kWebm, base), std::tuple("webm", 0u, Listed{}),
          std::tuple("webm", kWebm, webm), std::tuple("webm", kCodecs, Listed{}), std::tuple("matroska", kCodecs, all),
          std::tuple("webm", kWebm | kCodecs, all)}) {
        const auto file = mdtest::MatroskaFile({.duration = 1000, .tracks = tracks, .docType = docType});
        MemoryInputStream probed{std::vector<uint8_t>(file)};
        const bool matroska = std::string_view(docType) == "matroska";
        const int32_t kind = matroska ? int32_t(MK_MATROSKA_PROBED) : (mask & kWebm) ? int32_t(MK_WEBM) : 0;
        EXPECT_EQ(ProbeMatroskaStream(probed, false, (mask & kWebm) != 0), kind) << docType << mask;
        for (const auto& [video, audio] : {std::pair(1u, 2u), std::pair(4u, 3u)}) {
            MKVDemux demux;
            demux.SetExtensions(mask);
            demux.SelectTracks(video, 0, audio, 0);
            MemoryInputStream input{std::vector<uint8_t>(file)};
            StreamList streams;
            EXPECT_EQ(demux.Parse(&input, &streams), kind != 0 ? 1u : 0u);
            Listed got;
            for (uint32_t i = 0; i < streams.Count(); ++i)
                got.emplace_back(streams.At(i)->streamId, streams.At(i)->codec);
            EXPECT_EQ(got, listed) << docType << mask;
            if (listed != all)
                continue;
            // The pixels 640x360 snap to 16:9; the FFV1 track's 720x576 (the builder's) stays.
            const StreamRecord& v = *streams.At(video == 1 ? 0 : 3);
            const AudioParams& a = streams.At(audio - 1)->audio;
            // Opus mapping family 1 with six channels is 5.1 in the Vorbis order: FL FC FR BL BR LFE.
            EXPECT_EQ(std::tuple(v.video.aspectX, v.video.aspectY, v.progressive, a.sampleRate, a.channels,
                                 a.bitsPerSample, a.channelMask),
                      video == 1 ? std::tuple(16u, 9u, uint8_t(1), 48000u, 6u, 0u, 0x3Fu)
                                 : std::tuple(720u, 576u, uint8_t(1), 96000u, 6u, 24u, 0u));  // 125: no snap
        }
    }
}

// The HEVC decoder configuration record (ISO/IEC 14496-15 8.3.3.1) of an MP4 file: the body of its 'hvcC' box.
std::vector<uint8_t> HevcConfiguration(const std::vector<uint8_t>& mp4)
{
    const uint8_t type[] = {'h', 'v', 'c', 'C'};
    const auto at = std::search(mp4.begin(), mp4.end(), std::begin(type), std::end(type));
    if (at - mp4.begin() < 4 || mp4.end() - at < 4)
        return {};
    const size_t size = size_t(at[-4]) << 24 | size_t(at[-3]) << 16 | size_t(at[-2]) << 8 | at[-1];
    return std::vector<uint8_t>(at + 4, at - 4 + long(std::min<size_t>(size, size_t(mp4.end() - at) + 4)));
}

// With MD_EXT_MATROSKA_CODECS (and only with it) the video of HEVC and Motion JPEG tracks: size, rate and
// display aspect from the track (the display size defaults to the pixels), and what the CodecPrivate adds: an HEVC
// configuration's VPS, SPS and PPS as the codec headers, profile (1 Main) and level (general_level_idc 60, level
// 2) from its SPS.
TEST(MkvExtendedCodecs, VideoRecordsFromTheTrack)
{
    const std::vector<uint8_t> hvcC =
        HevcConfiguration(test::ReadFileBytes(test::TestDataDir() / "mp4_hevc_320x240_25fps_aac_48k_stereo.mp4"));
    struct Row {
        const char* what;
        MkvTrack track;
        StreamCodec codec;
        uint32_t aspectX, aspectY, profile = 0, level = 0;
        const char* headers = "";  // NAL unit types behind the start codes of the two header areas
    };
    const Row rows[] = {
        {"HEVC", {.codecId = "V_MPEGH/ISO/HEVC", .codecPrivate = hvcC, .defaultDuration = 40000000,
                  .pixelWidth = 320, .pixelHeight = 240}, StreamCodec::Hevc, 4, 3, 1, 60, "32 33 / 34"},
        {"Motion JPEG shown at 16:9", {.codecId = "V_MJPEG", .defaultDuration = 40000000, .pixelWidth = 320,
                                       .pixelHeight = 240, .displayWidth = 640, .displayHeight = 360},
         StreamCodec::Jpeg, 16, 9},
    };
    // The NAL unit types (bits 1-6 of the first header byte) after each start code of an area.
    const auto types = [](const uint8_t* area, int32_t length) {
        std::string out;
        for (int32_t i = 0; i + 4 < length; ++i)
            if (area[i] == 0 && area[i + 1] == 0 && area[i + 2] == 0 && area[i + 3] == 1)
                out += (out.empty() ? "" : " ") + std::to_string(area[i + 4] >> 1 & 0x3F);
        return out;
    };
    for (const Row& r : rows) {
        const auto file = mdtest::MatroskaFile({.duration = 1000, .tracks = {r.track}});
        const auto d = WithTheCodecBitOnly(file, {1, 0}, r.what);
        if (!d)
            continue;
        const StreamRecord& v = *d->streams.At(0);
        const std::string headers =
            types(v.extraData1, v.extraData1Length) + " / " + types(v.extraData2, v.extraData2Length);
        EXPECT_EQ(std::tuple(v.codec, v.video.width, v.video.height, v.frameRate, v.video.aspectX, v.video.aspectY,
                             v.video.profile, v.video.level, v.progressive),
                  std::tuple(r.codec, 320u, 240u, 25.0, r.aspectX, r.aspectY, r.profile, r.level, uint8_t(1)))
            << r.what;
        EXPECT_EQ(headers, r.headers[0] ? std::string(r.headers) : " / ") << r.what;
    }
}

// With MD_EXT_MATROSKA_CODECS (and only with it) PCM, ALAC and TrueHD tracks get records. PCM: a block is one sample
// of each channel in whole bytes, at the track's rate, whatever rate the frames measure (two 100-byte frames 10 ms
// apart); ALAC: rate, channels and bit depth from the magic cookie (ALACSpecificConfig) where it reads; TrueHD: the
// major sync after the 4-byte head of the first access unit, else the track's values.
TEST(MkvExtendedCodecs, PcmAlacAndTrueHdRecords)
{
    // frameLength 4096, compatibleVersion, bitDepth, pb 40, mb 10, kb 14, 6 channels, maxRun 255, maxFrameBytes,
    // avgBitRate, sampleRate 96000 (00 01 77 00).
    const auto cookie = [](uint8_t version, uint8_t depth, uint8_t channels = 6) {
        return std::vector<uint8_t>{0, 0, 0x10, 0, version, depth, 40, 10, 14, channels, 0, 255,
                                    0, 0, 0,    0, 0,       0,     0,  0,  0,  1, 0x77, 0};
    };
    std::vector<uint8_t> wrapped = {0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};  // atom size, type, version, flags
    const std::vector<uint8_t> inner = cookie(0, 20);
    wrapped.insert(wrapped.end(), inner.begin(), inner.end());
    // An access unit head, then a TrueHD major sync (F8 72 6F BA): rate code 1 (96 kHz) in the top nibble of byte
    // 4; 8ch_presentation_channel_assignment 15 (L, R, C, LFE, Ls, Rs) in the low 13 bits of bytes 6-7.
    const std::vector<uint8_t> majorSync = {0xF8, 0x72, 0x6F, 0xBA, 0x10, 0, 0x00, 0x0F, 0, 0, 0, 0};
    std::vector<uint8_t> accessUnit = {0x10, 0x20, 0, 0};
    accessUnit.insert(accessUnit.end(), majorSync.begin(), majorSync.end());
    const auto track = [](const char* codecId, double rate, uint64_t channels, uint64_t bits,
                          std::vector<uint8_t> codecPrivate = {}) {
        return MkvTrack{.type = 2,
                        .codecId = codecId,
                        .codecPrivate = std::move(codecPrivate),
                        .samplingFrequency = rate,
                        .channels = channels,
                        .bitDepth = bits};
    };
    struct Row {
        const char* what;
        MkvTrack track;
        std::vector<uint8_t> frame;  // the first frame; a second one follows 10 ms later
        StreamCodec codec;
        uint32_t rate, channels, bits, blockAlign = 0, bytesPerSecond = 0, layout = 0, lfe = 0;
    };
    const std::vector<uint8_t> bytes(100, 0x5A);
    const Row rows[] = {
        {"A_PCM/INT/BIG 20 bits", track("A_PCM/INT/BIG", 48000, 2, 20), bytes, StreamCodec::Lpcm, 48000, 2, 20, 6,
         288000},
        {"A_PCM/FLOAT/IEEE 64 bits", track("A_PCM/FLOAT/IEEE", 96000, 1, 64), bytes, StreamCodec::PcmFloat, 96000, 1,
         64, 8, 768000},
        {"PCM without BitDepth: no block", track("A_PCM/INT/LIT", 48000, 2, 0), bytes, StreamCodec::PcmLittleEndian,
         48000, 2, 0},
        {"ALAC cookie in an 'alac' atom", track("A_ALAC", 44100, 2, 16, wrapped), bytes, StreamCodec::Alac, 96000, 6,
         20},
        {"ALAC compatibleVersion 1", track("A_ALAC", 44100, 2, 16, cookie(1, 24)), bytes, StreamCodec::Alac, 44100, 2,
         16},
        {"ALAC mono", track("A_ALAC", 44100, 2, 16, cookie(0, 16, 1)), bytes, StreamCodec::Alac, 96000, 1, 16},
        {"ALAC of 9 channels: more than it carries", track("A_ALAC", 44100, 2, 16, cookie(0, 16, 9)), bytes,
         StreamCodec::Alac, 44100, 2, 16},
        {"ALAC bitDepth 12", track("A_ALAC", 44100, 2, 16, cookie(0, 12)), bytes, StreamCodec::Alac, 44100, 2, 16},
        {"ALAC cookie a byte short", track("A_ALAC", 44100, 2, 16, std::vector(wrapped.begin() + 13, wrapped.end())),
         bytes, StreamCodec::Alac, 44100, 2, 16},
        {"TrueHD major sync", track("A_TRUEHD", 48000, 2, 24), accessUnit, StreamCodec::TsAudio83, 96000, 6, 24, 0, 0,
         7, 1},
        {"TrueHD sync not after the head", track("A_TRUEHD", 48000, 2, 24), majorSync, StreamCodec::TsAudio83, 48000, 2,
         24},
    };
    for (const Row& r : rows) {
        const mdtest::MkvLayout layout{
            .duration = 1000, .tracks = {r.track}, .clusters = {{0, {{1, 0, true, r.frame}, {1, 10, true, bytes}}}}};
        const std::vector<uint8_t> file = mdtest::MatroskaFile(layout);
        const auto d = WithTheCodecBitOnly(file, {0, 1}, r.what);
        if (!d)
            continue;
        const StreamRecord& s = *d->streams.At(0);
        const AudioParams& a = s.audio;
        EXPECT_EQ(std::tuple(s.codec, a.sampleRate, a.channels, a.bitsPerSample),
                  std::tuple(r.codec, r.rate, r.channels, r.bits))
            << r.what;
        if (r.codec != StreamCodec::Alac && r.codec != StreamCodec::TsAudio83) {
            EXPECT_EQ(std::tuple(a.blockAlign, a.bytesPerSecond), std::tuple(r.blockAlign, r.bytesPerSecond))
                << r.what;
        }
        EXPECT_EQ(std::tuple(a.codecSpecific[0], a.codecSpecific[2]), std::tuple(r.layout, r.lfe)) << r.what;
    }
}

// With MD_EXT_MATROSKA_CODECS the first frame of an AC-3, E-AC-3 or DTS track gives what a multichannel record
// needs: AC-3 and E-AC-3 acmod, lfeon and bsid (A/52 5.4.2, E.1.2.2) in the words AC-3 records keep them in, the
// speakers of E-AC-3 dependent substreams' chanmap (Table E2.5), and a DTS core's speakers from AMODE and LFF (ETSI
// TS 102 114 5.3.1) with LFF where AC-3 keeps lfeon. Without the bit AC-3 and DTS records keep zero words and
// E-AC-3 has none.
TEST(MkvExtendedCodecs, SpeakersFromTheFirstAudioFrame)
{
    const auto frame = [](const std::string& fields, size_t size) {
        std::vector<uint8_t> bytes = mdtest::Bits(fields);
        bytes.resize(std::max(bytes.size(), size));
        return bytes;
    };
    // AC-3: syncword, crc1, fscod 0 (48 kHz), frmsizecod 30 (448 kbit/s), bsid, bsmod, acmod, then cmixlev (acmod
    // odd, not 1), surmixlev (acmod & 4), dsurmod (acmod 2) before lfeon.
    const auto ac3 = [&](uint32_t bsid, const std::string& acmodToLfe) {
        return frame("16:0x0B77 16:0 2:0 6:30 5:" + std::to_string(bsid) + " 3:0 " + acmodToLfe, 64);
    };
    // E-AC-3: syncword, strmtyp, substreamid, frmsiz 31 (64 bytes), fscod 0, numblkscod 3, acmod, lfeon, bsid 16;
    // a dependent one goes on with dialnorm, compre 0, chanmape 1 and chanmap.
    const auto eac3 = [&](uint32_t strmtyp, uint32_t acmod, uint32_t lfeon, const std::string& rest = "") {
        return frame("16:0x0B77 2:" + std::to_string(strmtyp) + " 3:0 11:31 2:0 2:3 3:" + std::to_string(acmod) +
                         " 1:" + std::to_string(lfeon) + " 5:16 " + rest,
                     64);
    };
    const std::vector<uint8_t> backPair = eac3(1, 2, 0, "5:0 1:0 1:1 16:0x0200");  // location 6: Lrs/Rrs
    std::vector<uint8_t> sevenOne = eac3(0, 7, 1);
    sevenOne.insert(sevenOne.end(), backPair.begin(), backPair.end());
    // DTS core: sync, FTYPE 1, SHORT 31, CPF 0, NBLKS 15, FSIZE 1023, AMODE 9 (3/2), SFREQ 13 (48 kHz), RATE 15,
    // MIX, DYNF, TIMEF, AUXF, HDCD, EXT_AUDIO_ID, EXT_AUDIO, ASPF, LFF 1.
    const std::vector<uint8_t> dts =
        frame("32:0x7FFE8001 1:1 5:31 1:0 7:15 14:1023 6:9 4:13 5:15 1:0 1:0 1:0 1:0 1:0 3:0 1:0 1:0 2:1", 1024);
    std::vector<uint8_t> dtsLittle = dts;  // 16-bit words little-endian
    for (size_t i = 0; i + 1 < dtsLittle.size(); i += 2)
        std::swap(dtsLittle[i], dtsLittle[i + 1]);
    struct Row {
        const char* what;
        const char* codecId;
        uint64_t trackChannels;
        std::vector<uint8_t> frame;
        uint32_t mode, lfe, bsid, mask, channels;  // with the bit; the mask and channels as the record states them
    };
    const Row rows[] = {
        {"AC-3 5.1: acmod 7, cmixlev, surmixlev, lfeon", "A_AC3", 6, ac3(6, "3:7 2:0 2:0 1:1"), 7, 1, 6, 0, 6},
        {"bsid 16 is no AC-3 syncframe", "A_AC3", 3, ac3(16, "3:2 2:0 1:1"), 0, 0, 0, 0, 3},
        // The channels the substreams carry, whatever the track says.
        {"E-AC-3 7.1: 5.1 and a dependent back pair", "A_EAC3", 6, sevenOne, 7, 1, 16, 0x63F, 8},
        {"E-AC-3 opening with a dependent syncframe", "A_EAC3", 2, backPair, 0, 0, 0, 0, 2},
        {"DTS 5.1 in little-endian words", "A_DTS", 6, dtsLittle, 0x100, 1, 0, 0x3F, 6},
        {"DTS without a core sync", "A_DTS", 6, std::vector<uint8_t>(1024, 0x7F), 0, 0, 0, 0, 6},
    };
    for (const Row& r : rows) {
        const MkvTrack track{.type = 2, .codecId = r.codecId, .channels = r.trackChannels};
        const mdtest::MkvLayout layout{.duration = 1000, .tracks = {track}, .clusters = {{0, {{1, 0, true, r.frame}}}}};
        const std::vector<uint8_t> file = mdtest::MatroskaFile(layout);
        for (const uint32_t mask : kCodecBitMasks) {
            const auto d = Demux(file, std::pair(0u, 1u), mask);
            const StreamList& streams = d->streams;
            ASSERT_EQ(d->result, 1u) << r.what;
            const bool bit = mask == MD_EXT_MATROSKA_CODECS;
            if (std::string_view(r.codecId) == "A_EAC3" && !bit) {
                EXPECT_EQ(streams.Count(), 0u) << r.what << mask;
                continue;
            }
            ASSERT_EQ(streams.Count(), 1u) << r.what;
            const AudioParams& a = streams.At(0)->audio;
            const auto got = std::tuple(a.codecSpecific[0], a.codecSpecific[2], a.codecSpecific[4], a.channelMask,
                                        a.channels);
            EXPECT_EQ(got, bit ? std::tuple(r.mode, r.lfe, r.bsid, r.mask, r.channels)
                               : std::tuple(0u, 0u, 0u, 0u, uint32_t(r.trackChannels)))
                << r.what << " " << mask;
        }
    }
}

// Clusters of uneven sizes across the 2 MiB chunks and the bit-rate budgets, whole and cut short.
TEST(MkvDemuxMeasure, WalkFindsWhatTheChunkedReaderFinds)
{
    mdtest::MkvLayout layout{.duration = 60000, .tracks = {Track(1, 1, "V_MPEG2"), Track(2, 2, "A_AC3")}};
    uint32_t seed = 7;
    const auto next = [&seed](uint32_t n) { return (seed = seed * 1103515245u + 12345u) >> 8 & (n - 1); };
    for (uint64_t i = 0; i < 60; ++i) {
        layout.clusters.push_back({i * 1000, {}});
        for (int16_t t = 0; t < 1000; t += 200) {
            layout.clusters.back().frames.push_back({1, t, t == 0, std::vector<uint8_t>(1000 + next(0x20000), 0xEE)});
            layout.clusters.back().frames.push_back(
                {2, int16_t(t + 10), true, std::vector<uint8_t>(next(0x800), 0xAA)});
        }
    }
    const std::vector<uint8_t> file = mdtest::MatroskaFile(layout);
    for (const size_t size : {file.size(), file.size() * 2 / 3, file.size() - 1}) {
        MemoryInputStream whole{std::vector<uint8_t>(file.begin(), file.begin() + size)};
        ShortHeadReads chunked{std::vector<uint8_t>(file.begin(), file.begin() + size)};
        EXPECT_EQ(Measured(whole), Measured(chunked)) << size;
    }
}

// Damaged files: the walk over the element heads finds what the chunked reader finds (crashes, hangs and runaway
// allocations: the fuzz targets).
TEST(MkvDemuxRobustness, DamagedFilesWalkAsTheChunkedReaderReads)
{
    std::vector<std::vector<uint8_t>> inputs;
    for (const fs::path& dir : {test::TestDataDir(), test::RealWorldDir()})
        for (const fs::path& f : test::MediaFiles(dir))
            if (f.extension() == ".mkv" || f.extension() == ".mka" || f.extension() == ".webm")
                inputs.push_back(test::ReadFileBytes(f));
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (const std::vector<uint8_t>& input : inputs) {
        // Damage, mostly in the headers, on the smaller inputs: the large ones carry the same structures.
        for (int round = 0; round < 12 && input.size() < 0x40000; ++round) {
            std::vector<uint8_t> damaged = input;
            const size_t limit = round % 2 ? damaged.size() : std::min<size_t>(damaged.size(), 4096);
            for (int k = 0; k < 6; ++k)
                damaged[next() % limit] ^= static_cast<uint8_t>(1u << (next() % 8));
            MemoryInputStream whole{std::vector<uint8_t>(damaged)};
            ShortHeadReads chunked{std::vector<uint8_t>(damaged)};
            EXPECT_EQ(Measured(whole), Measured(chunked)) << "round " << round;
        }
    }
}

}  // namespace
