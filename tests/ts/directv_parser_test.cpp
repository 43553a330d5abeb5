#include "ts/directv_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "input/memory_input_stream.h"
#include "support/directv_builders.h"
#include "support/ps_builders.h"
#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;
using mdtest::DirecTvWriter;
using mdtest::DtvFlags;

constexpr uint16_t kVideo = 0x10;
constexpr uint16_t kAudio = 0x11;

// 90 kHz ticks to 100-ns units.
int64_t Ticks(int64_t t) { return t * 1000 / 9; }

mdtest::SequenceFields Sequence(uint8_t aspectCode)
{
    mdtest::SequenceFields f;
    f.width = 720;
    f.height = 480;
    f.aspectCode = aspectCode;
    f.frameRateCode = 4;  // 29.97 fps
    f.bitRate400 = 15000; // 6 Mbit/s
    f.profileAndLevel = 0x48;  // Main profile (4), Main level (8)
    return f;
}

// MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo.
ByteVec Mp2Pes(uint64_t pts) { return mdtest::Mpeg1PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 64), pts); }

struct ProgramShape {
    uint8_t videoType = 0x02;
    uint8_t audioType = 0x03;
    uint8_t aspectCode = 3;
    bool videoClear = true;
    bool ac3 = false;
    bool userData = true;
};

// Table, a video PES with the sequence headers, an audio PES, a time-reference
// packet, a second video and audio PES, and a user-data time.
void WriteProgram(DirecTvWriter& w, const ProgramShape& s)
{
    w.Table(mdtest::PmtSection(1, {{s.videoType, kVideo}, {s.audioType, kAudio, mdtest::LanguageDescriptor("eng")}}));
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::SequenceHeaders(Sequence(s.aspectCode)), 900000), DtvFlags{true, s.videoClear});
    if (s.ac3)  // 2/0, 48 kHz, 192 kbit/s, bsid 8, in private stream 1
        w.Pes(kAudio, mdtest::PesPacket(0xBD, mdtest::Ac3FrameStart(0, 20, 8, 2, false), 901800));
    else
        w.Pes(kAudio, Mp2Pes(901800));
    w.TimeReference(0x20, 0x12345678);
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::PictureHeaderFields(1), 903600), DtvFlags{true, s.videoClear});
    w.Pes(kAudio, s.ac3 ? mdtest::PesPacket(0xBD, mdtest::Ac3FrameStart(0, 20, 8, 2, false), 903960) : Mp2Pes(903960));
    if (s.userData)
        w.Pes(kVideo, mdtest::DtvUserDataTime(0x9234ABCD), DtvFlags{true, s.videoClear});
    w.Filler(12);
}

ByteVec Program(const ProgramShape& s = {})
{
    DirecTvWriter w;
    WriteProgram(w, s);
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

TEST(DirecTVParser, ProgramTableRecordsAndTimes)
{
    const ByteVec bytes = Program();

    CDirecTVParser table;
    ASSERT_EQ(ParseWith(table, bytes, nullptr), 1u);
    EXPECT_EQ(table.GetVideoStreamCount(), 1u);
    EXPECT_EQ(table.GetVideoStreamScid(1), kVideo);
    EXPECT_EQ(table.GetAudioStreamCount(), 1u);
    EXPECT_EQ(table.GetAudioStreamScid(1), kAudio);
    EXPECT_EQ(table.GetStreamType(kVideo), 2);
    EXPECT_EQ(table.GetStreamType(kAudio), 3);
    EXPECT_EQ(table.GetStreamType(0x20), -1);
    ASSERT_NE(table.FindEntry(kAudio), nullptr);
    EXPECT_EQ(table.FindEntry(kAudio)->language, uint32_t('e') << 24 | uint32_t('n') << 16 | uint32_t('g') << 8);
    EXPECT_EQ(table.FindEntry(kVideo)->packetCount, 3u);
    uint32_t reference = 0;
    EXPECT_TRUE(table.GetTimeReference(reference));
    EXPECT_EQ(reference, 0x12345678u);

    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(bytes, list, range), 1u);
    ASSERT_EQ(list.Count(), 2u);
    const StreamRecord* video = list.At(0);
    const StreamRecord* audio = list.At(1);
    ASSERT_NE(video, audio);
    EXPECT_EQ(video->streamClass, StreamClass::Video);
    EXPECT_EQ(video->codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(video->streamId, kVideo);
    EXPECT_EQ(video->video.width, 720u);
    EXPECT_EQ(video->video.height, 480u);
    EXPECT_EQ(video->video.aspectX, 16u);
    EXPECT_EQ(video->video.aspectY, 9u);
    EXPECT_DOUBLE_EQ(video->frameRate, 29.97);
    EXPECT_EQ(video->video.statedFrameDuration, 3003u);
    EXPECT_EQ(video->video.bitRate, 6000000u);
    EXPECT_EQ(video->video.profile, 4u);
    EXPECT_EQ(video->video.level, 8u);
    const ByteVec sequence = mdtest::SequenceHeaders(Sequence(3));
    ASSERT_EQ(video->extraData1Length, 12);
    EXPECT_EQ(std::memcmp(video->extraData1, sequence.data(), 12), 0);

    EXPECT_EQ(audio->streamClass, StreamClass::Audio);
    EXPECT_EQ(audio->codec, StreamCodec::Mpeg1Audio);
    EXPECT_EQ(audio->streamId, kAudio);
    EXPECT_EQ(audio->audio.channels, 2u);
    EXPECT_EQ(audio->audio.sampleRate, 48000u);
    EXPECT_EQ(audio->audio.bytesPerSecond, 24000u);
    EXPECT_EQ(audio->audio.codecSpecific[0], 1u);  // Layer II
    EXPECT_EQ(audio->audio.codecSpecific[2], 192000u);

    EXPECT_EQ(range.startTime, 100000000);       // 10 s
    EXPECT_EQ(range.videoFirstTime, 100000000);
    EXPECT_EQ(range.audioFirstTime, 100200000);
    EXPECT_EQ(range.videoEndTime, Ticks(0x9234ABCD));  // the user-data time
    EXPECT_EQ(range.audioEndTime, 100440000);
    EXPECT_EQ(range.videoFrameDuration, 333667u);   // 10^7 / 29.97
    EXPECT_EQ(range.audioFrameDuration, 240000u);   // 1152 samples at 48 kHz

    // With a list but nothing selected, no record and no times.
    CDirecTVParser unselected;
    StreamList none;
    ASSERT_EQ(ParseWith(unselected, bytes, &none), 1u);
    unselected.GetTimeRange(range);
    EXPECT_EQ(none.Count(), 0u);
    EXPECT_EQ(range.videoFirstTime, -1);
    EXPECT_EQ(range.audioEndTime, -1);
    EXPECT_EQ(range.startTime, -1);
}

TEST(DirecTVParser, AlignmentSearch)
{
    ByteVec shifted(65, 0x00);
    mdtest::Append(shifted, Program());
    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(shifted, list, range), 1u);
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(range.videoFirstTime, 100000000);

    // Nine alternating framing bits need more than 1040 bytes.
    const ByteVec program = Program();
    CDirecTVParser parser;
    EXPECT_EQ(ParseWith(parser, ByteVec(program.begin(), program.begin() + 1040), nullptr), 0u);
    EXPECT_EQ(ParseWith(parser, ByteVec(program.begin(), program.begin() + 1041), nullptr), 1u);
    EXPECT_EQ(ParseWith(parser, ByteVec(4000, 0x80), nullptr), 0u);
    EXPECT_EQ(ParseWith(parser, ByteVec{}, nullptr), 0u);
}

TEST(DirecTVParser, AspectCodes)
{
    for (const auto& [code, x, y] : {std::tuple{2, 4u, 3u}, {4, 221u, 100u}, {5, 1u, 1u}, {1, 1u, 1u}}) {
        ProgramShape s;
        s.aspectCode = uint8_t(code);
        StreamList list;
        TimeRangeInfo range{};
        ASSERT_EQ(ParseSelected(Program(s), list, range), 1u);
        const StreamRecord* video = list.First(StreamClass::Video);
        ASSERT_NE(video, nullptr) << code;
        EXPECT_EQ(video->video.aspectX, x) << code;
        EXPECT_EQ(video->video.aspectY, y) << code;
    }
}

TEST(DirecTVParser, NoVideoRecordForScrambledOrH264Video)
{
    ProgramShape scrambled;
    scrambled.videoClear = false;
    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(Program(scrambled), list, range), 1u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->streamClass, StreamClass::Audio);
    EXPECT_EQ(range.videoFirstTime, -1);
    EXPECT_EQ(range.startTime, range.audioFirstTime);

    ProgramShape h264;
    h264.videoType = 0xCB;
    CDirecTVParser table;
    ASSERT_EQ(ParseWith(table, Program(h264), nullptr), 1u);
    EXPECT_EQ(table.GetVideoStreamCount(), 1u);
    EXPECT_EQ(table.GetStreamType(kVideo), 27);
    list.Clear();
    ASSERT_EQ(ParseSelected(Program(h264), list, range), 1u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->streamClass, StreamClass::Audio);
}

TEST(DirecTVParser, Ac3Audio)
{
    ProgramShape s;
    s.audioType = 0xC1;
    s.ac3 = true;
    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(Program(s), list, range), 1u);
    const StreamRecord* audio = list.First(StreamClass::Audio);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codec, StreamCodec::Ac3);
    EXPECT_EQ(audio->audio.channels, 2u);
    EXPECT_EQ(audio->audio.sampleRate, 48000u);
    EXPECT_EQ(audio->audio.codecSpecific[0], 2u);  // acmod 2/0
    EXPECT_EQ(audio->audio.codecSpecific[4], 8u);  // bsid
    EXPECT_EQ(range.audioFrameDuration, 320000u);  // 1536 samples at 48 kHz
    EXPECT_EQ(range.audioFirstTime, 100200000);
    EXPECT_EQ(range.audioEndTime, 100440000);
}

TEST(DirecTVParser, HeadersStraddlingPackets)
{
    // A PES header cut after its first 7 bytes, continued in a type-6 packet;
    // then a start code whose 00 00 ends one packet and whose 01 C0 begins the next.
    const ByteVec first = Mp2Pes(450000);
    const ByteVec second = Mp2Pes(540000);
    DirecTvWriter w;
    w.Table(mdtest::PmtSection(1, {{0x02, kVideo}, {0x03, kAudio}}));
    ByteVec a(120, 0xAA);
    a.insert(a.end(), first.begin(), first.begin() + 7);
    w.Packet(kAudio, DtvFlags{true}, a);
    w.Packet(kAudio, DtvFlags{false, true, false, 6}, ByteVec(first.begin() + 7, first.end()));
    ByteVec c(125, 0xAA);
    c.insert(c.end(), second.begin(), second.begin() + 2);
    w.Packet(kAudio, DtvFlags{true}, c);
    w.Packet(kAudio, DtvFlags{false, true, false, 6}, ByteVec(second.begin() + 2, second.end()));
    w.Filler(10);

    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(w.Bytes(), list, range), 1u);
    EXPECT_EQ(range.audioFirstTime, 50000000);
    EXPECT_EQ(range.audioEndTime, 60000000);
    EXPECT_NE(list.First(StreamClass::Audio), nullptr);
}

TEST(DirecTVParser, TimesFromFirstAndLastChunks)
{
    ProgramShape s;
    s.userData = false;
    DirecTvWriter w;
    WriteProgram(w, s);
    w.Filler(4200 - w.Size() / 130);
    // Around byte 546000: outside both 520000-byte chunks of a 1105050-byte file.
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::PictureHeaderFields(0), 90));
    w.Pes(kAudio, Mp2Pes(8000000000));
    w.Filler(8496 - w.Size() / 130);
    w.Pes(kVideo, mdtest::DtvVideoPes(mdtest::PictureHeaderFields(0), 5400000));
    w.Pes(kAudio, Mp2Pes(5401800));
    w.Filler(2);
    ByteVec bytes = w.Bytes();
    bytes.resize(bytes.size() + 50, 0x00);  // a partial packet: the last chunk is aligned at 80
    ASSERT_EQ(bytes.size(), 1105050u);

    StreamList list;
    TimeRangeInfo range{};
    ASSERT_EQ(ParseSelected(bytes, list, range), 1u);
    EXPECT_EQ(range.videoFirstTime, 100000000);
    EXPECT_EQ(range.audioFirstTime, 100200000);
    EXPECT_EQ(range.videoEndTime, 600000000);  // 60 s
    EXPECT_EQ(range.audioEndTime, 600200000);
}

TEST(DirecTVParser, ProgramTableSections)
{
    // Raw stream types and what they map to.
    const std::vector<std::pair<uint8_t, int32_t>> types = {
        {0x02, 2},    {0xC2, 2},   {0x03, 3},   {0xC3, 3},   {0x0F, 15},  {0xCF, 15}, {0x1B, 27},
        {0xCB, 27},   {0x80, 128}, {0xC0, 128}, {0x81, 129}, {0xC1, 129}, {0x06, 255}};
    std::vector<mdtest::PmtStream> entries;
    for (int round = 0; round < 2; ++round)
        for (const auto& [raw, mapped] : types)
            entries.push_back({raw, uint16_t(0x100 + entries.size())});
    const ByteVec spanning = mdtest::PmtSection(1, entries, {0x87, 2, 0x00, 0x00});
    ASSERT_GT(spanning.size(), 127u);  // two packets

    std::vector<mdtest::PmtStream> many;
    for (uint16_t i = 0; i < 80; ++i)
        many.push_back({0x02, uint16_t(0x300 + i)});

    DirecTvWriter w;
    w.Table(spanning);
    w.Table(mdtest::PmtSection(1, {{0x02, 0x200}}), false);                   // scrambled: ignored
    w.Table(mdtest::PmtSection(1, {{0x02, 0x201}}, {0x87, 9, 0x00, 0x00}));  // descriptor overruns: dropped
    w.Table(mdtest::PmtSection(1, many));                                    // over 390 bytes: dropped
    w.Filler(10);

    CDirecTVParser parser;
    ASSERT_EQ(ParseWith(parser, w.Bytes(), nullptr), 1u);
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(parser.GetStreamType(entries[i].pid), types[i % types.size()].second) << i;
    EXPECT_EQ(parser.GetVideoStreamCount(), 8u);
    EXPECT_EQ(parser.GetVideoStreamScid(1), 0x100);
    EXPECT_EQ(parser.GetVideoStreamScid(3), 0x106);
    EXPECT_EQ(parser.GetVideoStreamScid(9), -1);
    EXPECT_EQ(parser.GetVideoStreamScid(0), -1);
    EXPECT_EQ(parser.GetAudioStreamCount(), 18u);
    EXPECT_EQ(parser.GetAudioStreamScid(1), 0x102);
    EXPECT_EQ(parser.GetAudioStreamScid(18), 0x119);
    EXPECT_EQ(parser.GetAudioStreamScid(19), -1);
    EXPECT_EQ(parser.GetStreamType(0x200), -1);
    EXPECT_EQ(parser.GetStreamType(0x300), -1);
}

}  // namespace
}  // namespace md
