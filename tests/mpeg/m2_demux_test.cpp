// The MPEG-2 program stream demultiplexer on synthetic forms: MPEG-4 in PS, DVD-VR, DVD sub-streams, clock resets.
#include "mpeg/m2_demux.h"

#include <gtest/gtest.h>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "support/audio_files.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;
using mdtest::Concat;

// One 2048-byte MPEG-2 pack holding the packets.
ByteVec Pack(std::initializer_list<std::span<const uint8_t>> packets) { return mdtest::Mpeg2Pack(0, packets); }

ByteVec VideoEs(const mdtest::SequenceFields& seq)
{
    return Concat({mdtest::SequenceHeaders(seq), mdtest::GopHeaderFlags(true), mdtest::PictureHeaderFields(0, 1),
                   mdtest::PictureCodingExtension(true), mdtest::SliceStart()});
}

ByteVec VideoPack(const mdtest::SequenceFields& seq) { return Pack({mdtest::PesPacket(0xE0, VideoEs(seq), 90000)}); }

ByteVec Mp2Frame() { return mdtest::MpegAudioFrame(2, 10, 1, 0, 576); }  // Layer II, 48 kHz, 192 kbit/s, stereo
ByteVec AudioPack(uint64_t pts = 91000) { return Pack({mdtest::PesPacket(0xC0, Mp2Frame(), pts)}); }

// {Parse result, start time, video start time, container aspect}
std::tuple<uint32_t, int64_t, int64_t, bool> ParseBytes(const ByteVec& bytes, StreamList& list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    M2Demux demux;
    const uint32_t ret = demux.Parse(&in, &list);
    return {ret, demux.StartTime(), demux.VideoStartTime(), demux.HasContainerAspect()};
}

const StreamRecord* Video(const StreamList& list) { return list.First(StreamClass::Video); }
uint32_t Size(const ByteVec& b) { return static_cast<uint32_t>(b.size()); }

// No sequence extension: MPEG-1. MPEG-4 Visual keeps its VOS as configuration; square pels give the aspect.
TEST(M2Demux, VideoRecords)
{
    mdtest::SequenceFields mpeg1;  // 720 x 576 as in every row here
    mpeg1.extension = false;
    StreamList list1, list;
    ASSERT_EQ(std::get<0>(ParseBytes(Concat({VideoPack(mpeg1), AudioPack()}), list1)), 1u);
    EXPECT_EQ(Video(list1)->codec, StreamCodec::Mpeg1Video);
    const ByteVec mpeg4 = mdtest::DvdVideoPack(0, mdtest::Mpeg4VisualStream(352, 288), 90000);
    ASSERT_EQ(std::get<0>(ParseBytes(Concat({mpeg4, AudioPack()}), list)), 1u);
    const StreamRecord* v = Video(list);
    EXPECT_EQ(std::tuple(v->codec, v->video.profile, v->video.level, v->video.aspectX, v->video.aspectY, v->progressive,
                         Be32(v->extraData1)),
              std::tuple(StreamCodec::Mpeg4Video, 2u, 1u, 352u, 288u, uint8_t(1), 0x1B0u));
}

TEST(M2Demux, DvdVrDataPacketOverridesAspect)
{
    // The high nibble of byte 29 of a 2004-byte private stream 2 packet starting with 'P': 0 is 4:3, 1, 2, 11 and 13
    // 16:9, 4, 6, 7 and 8 14:9; 16:9 masks the stored aspect code with 3, the others with 2. DVD-Video navigation
    // packets carry no aspect.
    const auto vr = [](int nibble) {
        return Pack({mdtest::DvdSystemHeader(), mdtest::DvdVrDataPacketWithAspect(uint8_t(nibble << 4))});
    };
    // {leading pack, stored aspect code, container aspect, aspect, stored code after the mask}
    std::vector<std::tuple<ByteVec, uint8_t, bool, uint32_t, uint32_t, int>> rows = {
        {vr(1), 2, true, 16, 9, 2}, {vr(0), 3, true, 4, 3, 2}, {mdtest::DvdNavPack(0), 3, false, 16, 9, 3}};
    for (const int nibble : {2, 11, 13})
        rows.emplace_back(vr(nibble), 3, true, 16, 9, 3);
    for (const int nibble : {4, 6, 7, 8})
        rows.emplace_back(vr(nibble), 3, true, 14, 9, 2);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [first, headerCode, container, x, y, storedCode] = rows[i];
        StreamList list;
        mdtest::SequenceFields seq;
        seq.aspectCode = headerCode;
        const auto [ret, start, videoStart, gotContainer] =
            ParseBytes(Concat({first, VideoPack(seq), AudioPack()}), list);
        const StreamRecord* v = Video(list);
        ASSERT_EQ(std::pair(ret, gotContainer), std::pair(1u, container)) << "row " << i;
        EXPECT_EQ(std::tuple(v->video.aspectX, v->video.aspectY, v->extraData1[7] >> 4, v->extraData1[7] & 0x0F),
                  std::tuple(x, y, storedCode, 3))  // frame_rate_code kept
            << "row " << i;
    }
}

TEST(M2Demux, AudioRecordsAndStartTimes)
{
    // A subpicture first (not kept, not timed), then DTS on 0x88 (RATE 24): reversed sync, header size, sub-stream id.
    const ByteVec subpicture = Concat({ByteVec{0x20}, ByteVec(199, 0x55)});
    const ByteVec dts = mdtest::AudioSubStream(0x88, mdtest::DtsFrameStart(15, 13, 24));
    StreamList list;
    const auto [ret, start, videoStart, container] = ParseBytes(
        Concat({Pack({mdtest::PesPacket(0xBD, subpicture, 80000)}), Pack({mdtest::PesPacket(0xBD, dts, 90000)})}),
        list);
    ASSERT_EQ(std::pair(ret, list.Count()), std::pair(1u, 1u));
    const StreamRecord* a = list.At(0);
    EXPECT_EQ(std::tuple(a->codec, a->audio.bytesPerSecond, a->audio.codecSpecific[0], a->audio.codecSpecific[1],
                         a->audio.codecSpecific[2], start),
              std::tuple(StreamCodec::Dts, 1536000u / 8, 0u, 4u, 0x88u, int64_t(90000)));
    // LPCM: its 7-byte header (16-bit 48 kHz stereo); the record's first word marks LPCM, the second the sub-stream.
    StreamList lpcm;
    ParseBytes(Pack({mdtest::PesPacket(0xBD, Concat({ByteVec{0xA1, 1, 0, 4, 0, 0x01, 0x80}, ByteVec(960)}), 90000)}),
               lpcm);
    ASSERT_EQ(lpcm.Count(), 1u);
    EXPECT_EQ(std::tuple(lpcm.At(0)->codec, lpcm.At(0)->audio.channels, lpcm.At(0)->audio.sampleRate,
                         lpcm.At(0)->audio.codecSpecific[0], lpcm.At(0)->audio.codecSpecific[1]),
              std::tuple(StreamCodec::Lpcm, 2u, 48000u, 7u, 0xA1u));
    // A frame header is looked for while 11 bytes remain: a sub-stream of one 11-byte AC-3 header is described.
    for (const size_t bytes : {11, 10}) {
        StreamList ac3;
        ParseBytes(Pack({mdtest::PesPacket(
                       0xBD, mdtest::AudioSubStream(0x80, mdtest::Ac3FrameStart(0, 20, 8, 2, false, bytes)), 90000)}),
                   ac3);
        EXPECT_EQ(ac3.Count(), bytes == 11 ? 1u : 0u) << bytes;
    }
}

// A DTS sub-stream has six channels whatever its core header says; with MD_EXT_MORE_CODECS the header's AMODE and
// LFF give the channels and speakers, the LFE flag taking the word of AC-3's lfeon and the sub-stream id the next.
TEST(M2Demux, DtsSubStreamChannels)
{
    const auto core = [](uint32_t amode, uint32_t lff) { return mdtest::DtsCoreStart(15, 1023, amode, 13, lff); };
    struct Row {
        const char* what;
        ByteVec frame;
        uint32_t extensions;
        uint32_t channels, mask, word2, word3;
    };
    const Row rows[] = {
        {"stereo, base", core(2, 0), 0, 6, 0, 0x88, 0},
        {"stereo", core(2, 0), MD_EXT_MORE_CODECS, 2, 0x3, 0, 0x88},
        {"5.1: C L R SL SR and LFE", core(9, 1), MD_EXT_MORE_CODECS, 6, 0x3F, 1, 0x88},
        {"user-defined AMODE: the fixed description", core(16, 0), MD_EXT_MORE_CODECS, 6, 0, 0x88, 0},
        {"the 01 80 FE 7F sync: the fixed description", mdtest::DtsFrameStart(15, 13, 24, true), MD_EXT_MORE_CODECS, 6,
         0, 0x88, 0},
    };
    for (const Row& row : rows) {
        const ByteVec file = Pack({mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x88, row.frame), 90000)});
        MemoryInputStream in(file.data(), file.size());
        M2Demux demux;
        demux.SetExtensions(row.extensions);
        StreamList list;
        ASSERT_EQ(demux.Parse(&in, &list), 1u) << row.what;
        const AudioParams& a = list.At(0)->audio;
        EXPECT_EQ(std::tuple(a.channels, a.channelMask, a.codecSpecific[2], a.codecSpecific[3]),
                  std::tuple(row.channels, row.mask, row.word2, row.word3))
            << row.what;
    }
}

TEST(M2Demux, SequenceHeaderSplitAcrossVideoPackets)
{
    // A 76-byte sequence header (with an intra quantiser matrix) whose first 12 bytes end the first video packet.
    mdtest::SequenceFields seq;
    seq.aspectCode = 3, seq.intraMatrix = true, seq.progressive = true;
    const ByteVec seqBytes = mdtest::SequenceHeaders(seq);
    const ByteVec es = VideoEs(seq);
    StreamList list;
    const auto [ret, start, videoStart, container] =
        ParseBytes(Concat({Pack({mdtest::PesPacket(0xE0, Concat({ByteVec(20, 0x55), std::span(es).first(12)}), 90000)}),
                           AudioPack(85000), Pack({mdtest::PesPacket(0xE0, std::span(es).subspan(12), 93600)})}),
                   list);
    const StreamRecord* v = Video(list);
    ASSERT_TRUE(ret == 1 && v != nullptr);
    EXPECT_EQ(std::tuple(v->codec, v->video.width, v->video.height, v->video.aspectX, v->progressive),
              std::tuple(StreamCodec::Mpeg2Video, 720u, 576u, 16u, uint8_t(1)));
    EXPECT_EQ(ByteVec(v->extraData1, v->extraData1 + v->extraData1Length), seqBytes);
    // The video start is the time of the packet that completed the header.
    EXPECT_EQ(std::pair(videoStart, start), std::pair(int64_t(93600), int64_t(85000)));
}

// A video stream seen without its sequence header keeps the scan going, for at most 11 chunks of 640 KiB: a
// sequence header at the start of the 11th is read, one at the start of the 12th is not.
TEST(M2Demux, TheScanReadsElevenChunks)
{
    const ByteVec picture = Pack({mdtest::PesPacket(0xE0, mdtest::PictureHeaderFields(0, 1), 90000)});
    for (const uint32_t chunk : {11u, 12u}) {
        ByteVec file = Concat({picture, AudioPack()});
        file.resize(size_t{M2Demux::kChunkSize} * (chunk - 1), 0);
        mdtest::Append(file, VideoPack({}));
        StreamList list;
        const uint32_t parsed = std::get<0>(ParseBytes(file, list));
        EXPECT_EQ(std::pair(parsed, Video(list) != nullptr), std::pair(1u, chunk == 11)) << chunk;
    }
}

TEST(M2Demux, ParsePacketsFollowsTheSystemClock)
{
    M2Demux demux;
    PacketList packets;
    uint8_t stop = 0;
    const ByteVec video = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 1000);
    EXPECT_EQ(demux.ParsePackets(video.data(), Size(video), &packets, &stop), 0u);  // stopped until a discovery
    StreamList list;
    const ByteVec enable = VideoPack({});
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);

    // SCR 900000 x 300, then the clock restarts (2 stuffing bytes): the call ends after the lower clock's pack header.
    const ByteVec pack1 = mdtest::Mpeg2PackHeader(900000, 25200);
    const ByteVec ac3 =
        mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x81, mdtest::Ac3FrameStart(0, 20, 8, 2, false)), 2000);
    const ByteVec pack2 = mdtest::Mpeg2PackHeader(0, 25200, 0, 2);
    const ByteVec video2 = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 3000);
    const ByteVec tail(20, 0x55);
    const ByteVec buffer = Concat({pack1, video, ac3, pack2, video2, mdtest::PesPacket(0xC0, Mp2Frame(), 4000), tail});
    uint32_t n = demux.ParsePackets(buffer.data(), Size(buffer), &packets, &stop);
    const size_t restart = pack1.size() + video.size() + ac3.size() + pack2.size();
    ASSERT_EQ(std::tuple(n, stop, packets.Count()), std::tuple(uint32_t(restart), uint8_t(1), 2u));
    const PacketRecord *p0 = packets.At(0), *p1 = packets.At(1);
    EXPECT_EQ(std::tuple(p0->streamId, p0->pts, p0->payloadOffset, p0->packetLength, p0->packet),
              std::tuple(0xE0u, int64_t(1000), 9u + 5u, Size(video), buffer.data() + pack1.size()));
    EXPECT_EQ(std::tuple(p1->streamId, p1->subStreamId, p1->pts, p1->discontinuity),
              std::tuple(0xBDu, 0x81u, int64_t(2000), uint8_t(0)));
    const uint8_t* rest = buffer.data() + restart;
    const uint32_t restLength = static_cast<uint32_t>(buffer.size() - restart);
    EXPECT_EQ(demux.ParsePackets(rest, restLength, &packets, &stop), 0u);  // stopped again

    // After a discovery the new time base follows the old one (+900000 ticks); the walk goes on while 16 bytes remain.
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);
    packets.Clear();
    n = demux.ParsePackets(rest, restLength, &packets, &stop);
    ASSERT_EQ(std::tuple(n, stop, packets.Count()), std::tuple(restLength - 16, uint8_t(0), 2u));
    EXPECT_EQ(std::tuple(packets.At(0)->pts, packets.At(0)->discontinuity, packets.At(1)->pts,
                         packets.At(1)->discontinuity, packets.At(1)->subStreamId),
              std::tuple(int64_t(903000), uint8_t(1), int64_t(904000), uint8_t(0), 0u));

    // A clock that goes down without reaching 0 is a discontinuity too; Reset drops the pending flag and restarts the
    // offset at the given time (1 s).
    const ByteVec down = Concat({mdtest::Mpeg2PackHeader(100, 25200), mdtest::Mpeg2PackHeader(50, 25200), tail});
    demux.ParsePackets(down.data(), Size(down), nullptr, &stop);
    EXPECT_EQ(stop, 1);
    demux.Reset(10000000);
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);
    packets.Clear();
    demux.ParsePackets(video2.data(), Size(video2), &packets, &stop);
    ASSERT_EQ(packets.Count(), 1u);
    EXPECT_EQ(std::pair(packets.At(0)->pts, packets.At(0)->discontinuity), std::pair(int64_t(93000), uint8_t(0)));
}

}  // namespace
}  // namespace md
