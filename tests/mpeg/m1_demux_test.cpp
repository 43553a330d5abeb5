#include "mpeg/m1_demux.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "support/files.h"
#include "support/ps_builders.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

constexpr uint32_t kVcdMuxRate = 3528;

// One 2048-byte MPEG-1 pack holding one packet.
ByteVec Pack(const ByteVec& packet, uint64_t scr = 0) { return mdtest::Mpeg1Pack(scr, {packet}, 2048, kVcdMuxRate); }

// Video elementary stream: an MPEG-1 sequence header (pel aspect code 8 unless
// stated), optionally a GOP header, the first picture and a slice.
ByteVec VideoEs(uint8_t frameRateCode, std::optional<bool> closedGop, uint16_t temporalReference,
                uint32_t width = 352, uint32_t height = 288, uint8_t pelCode = 8)
{
    mdtest::SequenceFields seq;
    seq.width = width;
    seq.height = height;
    seq.aspectCode = pelCode;
    seq.frameRateCode = frameRateCode;
    seq.extension = false;
    ByteVec es = mdtest::SequenceHeaders(seq);
    if (closedGop)
        mdtest::Append(es, mdtest::GopHeaderFlags(*closedGop));
    mdtest::Append(es, mdtest::PictureHeaderFields(temporalReference, 1));
    mdtest::Append(es, mdtest::SliceStart());
    return es;
}

// MPEG-1 Layer II, 48 kHz, 192 kbit/s, stereo.
ByteVec Mp2Frame() { return mdtest::MpegAudioFrame(2, 10, 1, 0, 576); }

struct Result {
    uint32_t ret = 0;
    int64_t startTime = 0;
    int64_t videoStartTime = 0;
    uint64_t bytesRead = 0;
};

Result ParseBytes(const ByteVec& bytes, StreamList& list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    M1Demux demux;
    Result r;
    r.ret = demux.Parse(&in, &list);
    r.startTime = demux.StartTime();
    r.videoStartTime = demux.VideoStartTime();
    r.bytesRead = in.BytesRead();
    return r;
}

TEST(M1Demux, CorpusAndRealWorldSystemStreamsMatchFfprobe)
{
    // The VCD files carry pel_aspect_ratio 8 (0.9375, 625 lines) and 12 (1.125,
    // 525 lines): 288 x 0.9375 = 270 and 240 x 1.125 = 270. The pair is wider
    // than high, so it stays unreduced. The 320x240 file has square pels.
    struct Case {
        std::filesystem::path media;
        uint32_t aspectX, aspectY;  // 0: not checked
    };
    const auto data = test::TestDataDir();
    std::vector<Case> cases = {
        {data / "mpg1_mpeg1video_320x240_30fps_mp2_44k_stereo.mpg", 320, 240},
        {data / "vcd_mpeg1video_352x240_4x3_29.97fps_mp2_44k_stereo.mpg", 352, 270},
        {data / "vcd_mpeg1video_352x288_4x3_25fps_mp2_44k_stereo.mpg", 352, 270},
    };
    const auto real = test::RealWorldDir();
    for (const char* name : {"mpeg1ps_352x288_oddpar.mpg", "mpeg1ps_480x360_mp2.mpg"})
        if (!real.empty() && std::filesystem::exists(real / name))
            cases.push_back({real / name, 0, 0});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.media.filename().string());
        const auto reference = c.media.parent_path() / "reference" / (c.media.filename().string() + ".ffprobe.json");
        const auto video = mdtest::FirstReferenceStream(reference, "video");
        const auto audio = mdtest::FirstReferenceStream(reference, "audio");
        ASSERT_TRUE(video && audio);

        // Real files go through the file stream, the corpus through memory.
        StreamList list;
        M1Demux demux;
        uint32_t ret = 0;
        if (c.media.parent_path() == real) {
            MSFileInputStream in(c.media.wstring().c_str());
            ASSERT_TRUE(in.IsOpen());
            ret = demux.Parse(&in, &list);
        } else {
            const auto bytes = test::ReadFileBytes(c.media);
            MemoryInputStream in(bytes.data(), bytes.size());
            ret = demux.Parse(&in, &list);
        }
        ASSERT_EQ(ret, 1u);
        ASSERT_EQ(list.Count(), 2u);

        const StreamRecord* v = list.First(StreamClass::Video);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, StreamCodec::Mpeg1Video);
        EXPECT_EQ(v->streamId, video->id & 0xFF);
        EXPECT_EQ(std::pair(v->video.width, v->video.height), std::pair(video->width, video->height));
        EXPECT_NEAR(v->frameRate, video->frameRate, 0.001);
        EXPECT_EQ(v->progressive, 1);
        EXPECT_EQ(v->extraData1Length, 12);  // no quantiser matrices in these files
        EXPECT_EQ(Be32(v->extraData1), 0x000001B3u);
        if (c.aspectX != 0) {
            EXPECT_EQ(std::pair(v->video.aspectX, v->video.aspectY), std::pair(c.aspectX, c.aspectY));
        }

        const StreamRecord* a = list.First(StreamClass::Audio);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
        EXPECT_EQ(a->streamId, audio->id & 0xFF);
        EXPECT_EQ(std::pair(a->audio.sampleRate, a->audio.channels), std::pair(audio->sampleRate, audio->channels));
        EXPECT_EQ(a->audio.codecSpecific[0], 1u);  // ffprobe: mp2, Layer II

        // The first presentation time of each stream.
        ASSERT_TRUE(video->startPts && audio->startPts);
        EXPECT_EQ(demux.VideoStartTime(), *video->startPts);
        EXPECT_EQ(demux.StartTime(), std::min(*video->startPts, *audio->startPts));
        EXPECT_TRUE(demux.Parsed());
    }
}

TEST(M1Demux, VideoRecordFromSyntheticSequenceHeader)
{
    const ByteVec es = VideoEs(3, true, 0);
    StreamList list;
    ASSERT_EQ(ParseBytes(Pack(mdtest::Mpeg1PesPacket(0xE2, es, 90000)), list).ret, 1u);
    ASSERT_EQ(list.Count(), 1u);
    const StreamRecord* v = list.At(0);
    EXPECT_EQ(v->streamClass, StreamClass::Video);
    EXPECT_EQ(v->streamId, 0xE2u);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg1Video);
    EXPECT_EQ(std::pair(v->video.width, v->video.height), std::pair(352u, 288u));
    EXPECT_EQ(v->frameRate, 25.0);
    EXPECT_EQ(v->progressive, 1);
    EXPECT_EQ(v->encoderMarker, 0);
    // Sequence-level headers: the 12-byte sequence header up to the GOP header;
    // picture-level: the picture header up to the slice.
    EXPECT_EQ(ByteVec(v->extraData1, v->extraData1 + v->extraData1Length), ByteVec(es.begin(), es.begin() + 12));
    EXPECT_EQ(ByteVec(v->extraData2, v->extraData2 + v->extraData2Length), mdtest::PictureHeaderFields(0, 1));
}

TEST(M1Demux, VideoStartTimeAndStartTime)
{
    const int64_t pts = 900000;
    struct Case {
        uint8_t frameRateCode;
        std::optional<bool> closedGop;
        uint16_t temporalReference;
        int64_t expected;
    } cases[] = {
        // 25 fps: 3600 ticks per frame; two frames are shown before the first coded one.
        {3, true, 2, pts - 7200},
        // The leading pictures of an open GOP are not shown at a stream start.
        {3, false, 2, pts},
        // No GOP header counts as closed; 29.97 fps: trunc(90000 / 29.97) = 3003.
        {4, std::nullopt, 1, pts - 3003},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "tr " << c.temporalReference << " rate " << int(c.frameRateCode));
        const ByteVec stream = mdtest::Concat(
            {Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(c.frameRateCode, c.closedGop, c.temporalReference), pts)),
             Pack(mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), pts + 50000))});
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_EQ(r.videoStartTime, c.expected);
        EXPECT_EQ(r.startTime, c.expected);  // the audio starts later
    }

    // A later video packet with an earlier PTS lowers the start time but not
    // the published video start time; audio PTS values of every audio stream
    // count, and one below every video time wins.
    const struct {
        ByteVec stream;
        int64_t start;
    } mixed[] = {
        {mdtest::Concat({Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, false, 0), 900000)),
                         Pack(mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), 905000)),
                         Pack(mdtest::Mpeg1PesPacket(0xE0, ByteVec(100, 0x55), 898200)),
                         Pack(mdtest::Mpeg1PesPacket(0xC1, Mp2Frame(), 899000))}),
         898200},
        {mdtest::Concat({Pack(mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), 880000)),
                         Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, false, 0), 900000))}),
         880000},
    };
    for (const auto& m : mixed) {
        StreamList list;
        const Result r = ParseBytes(m.stream, list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_EQ(r.videoStartTime, 900000);
        EXPECT_EQ(r.startTime, m.start);
    }
}

TEST(M1Demux, OnlyTheFirstAudioStreamIsDescribed)
{
    // 0xC1 comes first (Layer III, 44.1 kHz, mono), then 0xC0 (Layer II, 48 kHz).
    const ByteVec stream = mdtest::Concat({
        Pack(mdtest::Mpeg1PesPacket(0xC1, mdtest::MpegAudioFrame(3, 9, 0, 3, 400), 90000)),
        Pack(mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), 91000)),
        Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, true, 0), 95000)),
    });
    StreamList list;
    ASSERT_EQ(ParseBytes(stream, list).ret, 1u);
    ASSERT_EQ(list.Count(), 2u);
    const StreamRecord* a = list.At(0);
    EXPECT_EQ(a->streamClass, StreamClass::Audio);
    EXPECT_EQ(a->streamId, 0xC1u);
    EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
    EXPECT_EQ(std::pair(a->audio.channels, a->audio.sampleRate), std::pair(1u, 44100u));
    // Layer III, single channel, 128 kbit/s, the header FF FB 90 C0 first byte lowest.
    const uint32_t* cs = a->audio.codecSpecific;
    EXPECT_EQ((std::array{cs[0], cs[1], cs[2], cs[3]}), (std::array{2u, 3u, 128000u, 0xC090FBFFu}));
    EXPECT_EQ(list.At(1)->streamClass, StreamClass::Video);
}

// Packs of audio without a frame sync (and one video pack first) until at
// least `bytes` bytes, then, when withSync, one audio pack with a sync.
ByteVec AudioWithoutSync(size_t bytes, bool withSync)
{
    ByteVec stream = Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, true, 0), 90000));
    uint64_t pts = 90000;
    while (stream.size() < bytes)
        mdtest::Append(stream, Pack(mdtest::Mpeg1PesPacket(0xC0, ByteVec(1500, 0x55), pts += 2160)));
    if (withSync) {
        mdtest::Append(stream, Pack(mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), pts += 2160)));
        mdtest::Append(stream, Pack(ByteVec(100, 0x55)));  // keeps the last packet out of the scan's tail
    }
    return stream;
}

TEST(M1Demux, AudioWithoutSyncKeepsReading)
{
    // The first sync lies in the second chunk: both chunks are read and the
    // audio stream is described from it.
    ByteVec stream = AudioWithoutSync(M1Demux::kChunkSize + 4096, true);
    ASSERT_LT(stream.size(), 2u * M1Demux::kChunkSize);
    StreamList list;
    Result r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, stream.size());
    const StreamRecord* a = list.First(StreamClass::Audio);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->audio.sampleRate, 48000u);
    EXPECT_EQ(r.videoStartTime, 90000);
    EXPECT_EQ(r.startTime, 90000);  // audio PTS values start at 92160

    // No sync anywhere: the scan gives up after 11 chunks with the video alone.
    stream = AudioWithoutSync(11 * M1Demux::kChunkSize + 100000, false);
    list.Clear();
    r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, 11u * M1Demux::kChunkSize);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.First(StreamClass::Audio), nullptr);

    // The end of the file comes first: the call fails, but the video record it
    // made stays in the caller's list.
    stream = AudioWithoutSync(20000, false);
    list.Clear();
    r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 0u);
    EXPECT_NE(list.First(StreamClass::Video), nullptr);
}

TEST(M1Demux, ParseFailsWithoutInputOrTimes)
{
    M1Demux demux;
    StreamList list;
    EXPECT_EQ(demux.Parse(nullptr, &list), 0u);
    EXPECT_EQ(demux.VideoStartTime(), -1);
    EXPECT_FALSE(demux.Parsed());

    // Video without any PTS: a record, but no time, so no success.
    const ByteVec stream = Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, true, 0)));
    const Result r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 0u);
    EXPECT_EQ(r.videoStartTime, -1);
    EXPECT_EQ(list.Count(), 1u);

    // A null list is allowed; the times are still found.
    const ByteVec timed = Pack(mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, true, 0), 4500));
    MemoryInputStream timedIn(timed.data(), timed.size());
    M1Demux other;
    EXPECT_EQ(other.Parse(&timedIn, nullptr), 1u);
    EXPECT_EQ(other.VideoStartTime(), 4500);
}

TEST(M1Demux, ParsePacketsSplitsPesPackets)
{
    const ByteVec video = mdtest::Mpeg1PesPacket(0xE0, VideoEs(3, true, 0), 90000);
    const ByteVec audio = mdtest::Mpeg1PesPacket(0xC0, Mp2Frame());
    const ByteVec last = mdtest::Mpeg1PesPacket(0xC0, Mp2Frame(), 93600);
    const ByteVec head = mdtest::Concat({mdtest::Mpeg1PackHeader(0, kVcdMuxRate),
                                         mdtest::SystemHeader(3528, 1, 1, {{0xE0, true, 46}, {0xC0, false, 32}})});
    const ByteVec junk = {0x12, 0x00, 0x00};
    ByteVec buffer = mdtest::Concat({head, video, junk, audio, last});
    buffer.resize(buffer.size() - 10);  // the last packet is cut short

    M1Demux demux;
    PacketList packets;
    uint8_t stop = 0x7E;
    const uint32_t consumed = demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), &packets, &stop);
    const size_t videoAt = head.size();
    const size_t audioAt = videoAt + video.size() + junk.size();
    EXPECT_EQ(consumed, audioAt + audio.size());  // stops at the packet that does not fit
    EXPECT_EQ(stop, 0x7E);                        // not written by this demultiplexer
    ASSERT_EQ(packets.Count(), 2u);
    const PacketRecord* v = packets.At(0);
    EXPECT_EQ(std::tuple(v->streamId, v->ptsPresent, v->pts), std::tuple(0xE0u, uint64_t(1), int64_t(90000)));
    EXPECT_EQ(v->packet, buffer.data() + videoAt);
    EXPECT_EQ(v->packetLength, video.size());
    EXPECT_EQ(v->payloadOffset, 6u + 5u);  // packet header, PTS field
    const PacketRecord* a = packets.At(1);
    EXPECT_EQ(std::pair(a->streamId, a->ptsPresent), std::pair(0xC0u, uint64_t(0)));
    EXPECT_EQ(a->packet, buffer.data() + audioAt);
    EXPECT_EQ(a->payloadOffset, 7u);  // packet header, the 0x0F "no timestamps" byte
    EXPECT_FALSE(demux.LastUnitWasSystemHeader());

    // Without a list the same bytes are passed.
    EXPECT_EQ(demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, nullptr), consumed);

    // A system header as the last unit; 16 bytes are never enough.
    ByteVec tail = head;
    tail.resize(tail.size() + 20, 0x55);
    demux.ParsePackets(tail.data(), static_cast<uint32_t>(tail.size()), nullptr, nullptr);
    EXPECT_TRUE(demux.LastUnitWasSystemHeader());
    EXPECT_EQ(demux.ParsePackets(buffer.data() + videoAt, 16, &packets, nullptr), 0u);
    EXPECT_EQ(packets.Count(), 2u);
}

}  // namespace
}  // namespace md
