// The DirecTV parser on synthetic streams of 130-byte packets; values from the bytes written (PTS in 90 kHz).
#include "ts/directv_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "input/memory_input_stream.h"
#include "support/directv_builders.h"
#include "support/stream_builders.h"
#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;
using mdtest::DirecTvWriter;
using mdtest::DtvFlags;

constexpr uint16_t kVideo = 0x10;
constexpr uint16_t kAudio = 0x11;

int64_t Ticks(int64_t t) { return t * 1000 / 9; }  // 90 kHz to 100 ns

// MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo; or AC-3 2/0, 48 kHz, bsid 8 in private stream 1.
ByteVec AudioPes(bool ac3, uint64_t pts)
{
    return ac3 ? mdtest::PesPacket(0xBD, mdtest::Ac3FrameStart(0, 20, 8, 2, false), pts)
               : mdtest::Mpeg1PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 64), pts);
}

struct Shape {
    uint8_t videoType = 0x02;
    uint8_t audioType = 0x03;
    bool videoClear = true;
    bool ac3 = false;
    uint8_t aspectCode = 3;  // aspect_ratio_information
};

// Table, a 720x480 16:9 video PES with the sequence headers (PTS 10 s), an audio PES (10.02 s), a time-reference
// packet, a second video (10.04 s) and audio PES (10.044 s), and a user-data time.
ByteVec Program(const Shape& s = {})
{
    DirecTvWriter w;
    w.Table(mdtest::PmtSection(1, {{s.videoType, kVideo}, {s.audioType, kAudio}}));
    const DtvFlags video{true, s.videoClear};
    const mdtest::SequenceFields sequence{
        .height = 480, .aspectCode = s.aspectCode, .frameRateCode = 4, .displaySize = {},
        .transferCharacteristics = {}};
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::SequenceHeaders(sequence), 900000), video);
    w.Pes(kAudio, AudioPes(s.ac3, 901800));
    w.TimeReference(0x20, 0x12345678);
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::PictureHeaderFields(1), 903600), video);
    w.Pes(kAudio, AudioPes(s.ac3, 903960));
    w.Pes(kVideo, mdtest::DtvUserDataTime(0x9234ABCD), video);
    w.Filler(12);
    return w.Bytes();
}

uint32_t ParseWith(CDirecTVParser& parser, const ByteVec& bytes, StreamList* list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    return parser.Parse(&in, list);
}

// Parses with both streams selected.
uint32_t ParseSelected(const ByteVec& bytes, StreamList& list, TimeRangeInfo& range)
{
    CDirecTVParser parser;
    parser.SelectVideoScid(kVideo);
    parser.SelectAudioScid(kAudio);
    const uint32_t ret = ParseWith(parser, bytes, &list);
    parser.GetTimeRange(range);
    return ret;
}

TEST(DirecTVParser, RecordsAndTimesByProgramShape)
{
    struct Row {
        const char* what;
        Shape shape;
        uint32_t aspectX, aspectY;  // 0: no video record
        StreamCodec audioCodec;
        uint32_t audioWord, audioWord2, audioFrame;  // codecSpecific[0]: Layer II 1, acmod 2/0 2; [2]: the bit rate,
                                                     // lfeon; 100-ns units
    };
    const Row rows[] = {
        {"16:9", {}, 16, 9, StreamCodec::Mpeg1Audio, 1, 192000, 240000},  // 1152 samples at 48 kHz
        {"4:3", {.aspectCode = 2}, 4, 3, StreamCodec::Mpeg1Audio, 1, 192000, 240000},
        {"2.21:1", {.aspectCode = 4}, 221, 100, StreamCodec::Mpeg1Audio, 1, 192000, 240000},
        {"square samples: 1:1", {.aspectCode = 1}, 1, 1, StreamCodec::Mpeg1Audio, 1, 192000, 240000},
        {"scrambled video", {.videoClear = false}, 0, 0, StreamCodec::Mpeg1Audio, 1, 192000, 240000},
        {"H.264 video (0xCB)", {.videoType = 0xCB}, 0, 0, StreamCodec::Mpeg1Audio, 1, 192000, 240000},
        {"AC-3 (0xC1)", {.audioType = 0xC1, .ac3 = true}, 16, 9, StreamCodec::Ac3, 2, 0, 320000},  // 1536 samples
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        StreamList list;
        TimeRangeInfo range{};
        ASSERT_EQ(ParseSelected(Program(r.shape), list, range), 1u);
        const StreamRecord* video = list.First(StreamClass::Video);
        const StreamRecord* audio = list.First(StreamClass::Audio);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(std::tuple(list.Count(), video ? video->video.aspectX : 0u, video ? video->video.aspectY : 0u),
                  std::tuple(r.aspectX != 0 ? 2u : 1u, r.aspectX, r.aspectY));
        EXPECT_EQ(std::tuple(audio->codec, audio->streamId, audio->audio.channels, audio->audio.sampleRate,
                             audio->audio.codecSpecific[0], audio->audio.codecSpecific[2], range.audioFrameDuration),
                  std::tuple(r.audioCodec, uint32_t(kAudio), 2u, 48000u, r.audioWord, r.audioWord2, r.audioFrame));
        // Video times come from clear packets, with or without a record; the end is the user-data time.
        const bool clear = r.shape.videoClear;
        EXPECT_EQ(std::tuple(range.videoFirstTime, range.videoEndTime, range.audioFirstTime, range.audioEndTime,
                             range.startTime),
                  std::tuple(clear ? 100000000 : -1, clear ? Ticks(0x9234ABCD) : -1, 100200000, 100440000,
                             clear ? 100000000 : 100200000));
    }
}

TEST(DirecTVParser, HeadersStraddlingPackets)
{
    // A PES header cut after its first 7 bytes, continued in a type-6 packet; then
    // a start code whose 00 00 ends one packet and whose 01 C0 begins the next.
    // Before them, 7 bytes of a private stream 1 header whose byte 6 lacks the '10'
    // end a packet: already no header, so the next packet is not read as its rest.
    const ByteVec first = AudioPes(false, 450000);
    const ByteVec second = AudioPes(false, 540000);
    DirecTvWriter w;
    w.Table(mdtest::PmtSection(1, {{0x02, kVideo}, {0x03, kAudio}}));
    ByteVec broken(120, 0xAA);
    mdtest::Append(broken, ByteVec{0x00, 0x00, 0x01, 0xBD, 0x00, 0x20, 0x00});
    w.Packet(kAudio, DtvFlags{true}, broken);
    ByteVec a(120, 0xAA);
    a.insert(a.end(), first.begin(), first.begin() + 7);
    w.Packet(kAudio, DtvFlags{true}, a);
    w.Packet(kAudio, DtvFlags{false, true, 6}, ByteVec(first.begin() + 7, first.end()));
    ByteVec c(125, 0xAA);
    c.insert(c.end(), second.begin(), second.begin() + 2);
    w.Packet(kAudio, DtvFlags{true}, c);
    w.Packet(kAudio, DtvFlags{false, true, 6}, ByteVec(second.begin() + 2, second.end()));
    w.Filler(10);

    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(w.Bytes(), list, range), 1u);
    EXPECT_EQ(std::tuple(range.audioFirstTime, range.audioEndTime), std::tuple(50000000, 60000000));
    EXPECT_NE(list.First(StreamClass::Audio), nullptr);
    // Nothing selected and no list (a file reopened for its time range): the table's first audio stream is timed.
    CDirecTVParser unselected;
    ASSERT_EQ(ParseWith(unselected, w.Bytes(), nullptr), 1u);
    unselected.GetTimeRange(range);
    EXPECT_EQ(std::tuple(range.audioFirstTime, range.audioEndTime), std::tuple(50000000, 60000000));
}

TEST(DirecTVParser, ProgramTableSections)
{
    // Raw stream types and what they map to, twice over: a section spanning two packets.
    const std::vector<std::pair<uint8_t, int32_t>> types = {
        {0x02, 2},  {0xC2, 2},   {0x03, 3},   {0xC3, 3},   {0x0F, 15},  {0xCF, 15}, {0x1B, 27},
        {0xCB, 27}, {0x80, 128}, {0xC0, 128}, {0x81, 129}, {0xC1, 129}, {0x06, 255}};
    std::vector<mdtest::PmtStream> entries;
    for (int round = 0; round < 2; ++round)
        for (const auto& [raw, mapped] : types)
            entries.push_back({raw, uint16_t(0x100 + entries.size())});
    DirecTvWriter w;
    w.Table(mdtest::PmtSection(1, entries, {0x87, 2, 0x00, 0x00}));
    w.Table(mdtest::PmtSection(1, {{0x02, 0x200}}), false);  // scrambled: ignored
    w.Table(mdtest::PmtSection(1, {{0x02, 0x201}}, {0x87, 9, 0x00, 0x00}));  // descriptor overruns: dropped
    w.Filler(10);

    CDirecTVParser parser;
    ASSERT_EQ(ParseWith(parser, w.Bytes(), nullptr), 1u);
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(parser.GetStreamType(entries[i].pid), types[i % types.size()].second) << i;
    EXPECT_EQ(std::tuple(parser.GetVideoStreamCount(), parser.GetVideoStreamScid(1), parser.GetVideoStreamScid(3),
                         parser.GetVideoStreamScid(9), parser.GetVideoStreamScid(0)),
              std::tuple(8u, 0x100, 0x106, -1, -1));
    EXPECT_EQ(std::tuple(parser.GetAudioStreamCount(), parser.GetAudioStreamScid(1), parser.GetAudioStreamScid(18),
                         parser.GetAudioStreamScid(19)),
              std::tuple(18u, 0x102, 0x119, -1));
    EXPECT_EQ(parser.GetStreamType(0x200), -1);
}

}  // namespace
}  // namespace md
