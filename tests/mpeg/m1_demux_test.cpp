// The MPEG-1 system stream demultiplexer's own rules, and the start-code scan the demultiplexers share.
#include "mpeg/m1_demux.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;
using mdtest::Concat;

// One 2048-byte MPEG-1 pack holding one packet.
ByteVec Pack(const ByteVec& packet) { return mdtest::Mpeg1Pack(0, {packet}, 2048, 3528); }

// An MPEG-1 sequence header, a GOP header, the first picture and a slice.
ByteVec VideoEs(uint32_t width = 352, uint32_t height = 288, uint8_t pelCode = 8)
{
    return Concat({mdtest::VideoSequenceHeader(width, height, pelCode, 3, false), mdtest::GopHeaderFlags(true),
                   mdtest::PictureHeaderFields(0, 1), mdtest::SliceStart()});
}

ByteVec Video(uint64_t pts, const ByteVec& es = VideoEs()) { return Pack(mdtest::Mpeg1PesPacket(0xE0, es, pts)); }

// MPEG-1 Layer II, 48 kHz, 192 kbit/s, stereo.
const ByteVec kMp2Frame = mdtest::MpegAudioFrame(2, 10, 1, 0, 576);

struct Result {
    uint32_t ret = 0;
    int64_t startTime = 0;
    uint64_t bytesRead = 0;
};

Result ParseBytes(const ByteVec& bytes, StreamList& list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    M1Demux demux;
    const uint32_t ret = demux.Parse(&in, &list);
    return {ret, demux.StartTime(), in.BytesRead()};
}

TEST(M1Demux, PelAspect)
{
    // width : height x pel aspect, snapped when not wider than high: 320 : 288 x 1.125 gives 320 x 320 : 324 x 288.
    StreamList list;
    ASSERT_EQ(ParseBytes(Video(90000, VideoEs(320, 288, 12)), list).ret, 1u);
    EXPECT_EQ(std::pair(list.At(0)->video.aspectX, list.At(0)->video.aspectY), std::pair(102400u, 93312u));
}

// A video pack, then packs of audio without a frame sync up to `bytes` bytes, then, when withSync, one with a sync.
ByteVec AudioWithoutSync(size_t bytes, bool withSync)
{
    ByteVec stream = Video(90000);
    uint64_t pts = 90000;
    while (stream.size() < bytes)
        mdtest::Append(stream, Pack(mdtest::Mpeg1PesPacket(0xC0, ByteVec(1500, 0x55), pts += 2160)));
    if (withSync)
        mdtest::Append(stream, Concat({Pack(mdtest::Mpeg1PesPacket(0xC0, kMp2Frame, pts += 2160)),
                                       Pack(ByteVec(100, 0x55))}));  // keeps it out of the tail
    return stream;
}

TEST(M1Demux, ReadsOnUntilTheAudioHasASync)
{
    // The first sync in the second chunk: both are read. No sync: the scan gives up after 11 chunks with the video
    // alone. The end of the file first: the call fails, but the video record it made stays in the caller's list.
    const struct {
        ByteVec stream;
        uint32_t ret;
        uint64_t bytesRead;
        bool audio;
    } rows[] = {
        {AudioWithoutSync(M1Demux::kChunkSize + 4096, true), 1, 0, true},
        {AudioWithoutSync(11 * M1Demux::kChunkSize + 100000, false), 1, 11 * M1Demux::kChunkSize, false},
        {AudioWithoutSync(20000, false), 0, 0, false},
    };
    for (const auto& r : rows) {
        StreamList list;
        const Result result = ParseBytes(r.stream, list);
        EXPECT_EQ(std::pair(result.ret, result.bytesRead),
                  std::pair(r.ret, r.bytesRead ? r.bytesRead : r.stream.size()));
        EXPECT_EQ(std::pair(list.First(StreamClass::Video) != nullptr, list.First(StreamClass::Audio) != nullptr),
                  std::pair(true, r.audio));
        if (r.audio) {
            EXPECT_EQ(std::pair(list.First(StreamClass::Audio)->audio.sampleRate, result.startTime),
                      std::pair(48000u, int64_t(90000)));
        }
    }
}

TEST(M1Demux, ParsePacketsSplitsPesPackets)
{
    const ByteVec video = mdtest::Mpeg1PesPacket(0xE0, VideoEs(), 90000);
    const ByteVec audio = mdtest::Mpeg1PesPacket(0xC0, kMp2Frame),
                  last = mdtest::Mpeg1PesPacket(0xC0, kMp2Frame, 93600);
    const ByteVec head = Concat(
        {mdtest::Mpeg1PackHeader(0, 3528), mdtest::SystemHeader(3528, 1, 1, {{0xE0, true, 46}, {0xC0, false, 32}})});
    const ByteVec junk = {0x12, 0x00, 0x00};
    ByteVec buffer = Concat({head, video, junk, audio, last});
    buffer.resize(buffer.size() - 10);  // the last packet is cut short

    M1Demux demux;
    PacketList packets;
    uint8_t stop = 0x7E;
    const uint32_t consumed = demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), &packets, &stop);
    const size_t videoAt = head.size(), audioAt = videoAt + video.size() + junk.size();
    EXPECT_EQ(std::pair(consumed, stop), std::pair(uint32_t(audioAt + audio.size()), uint8_t(0x7E)));  // stop untouched
    ASSERT_EQ(packets.Count(), 2u);
    const PacketRecord* v = packets.At(0);
    const PacketRecord* a = packets.At(1);
    // Payload after the packet header and the PTS field, or the 0x0F "no timestamps" byte.
    EXPECT_EQ(std::tuple(v->streamId, v->ptsPresent, v->pts, v->packet, v->packetLength, v->payloadOffset),
              std::tuple(0xE0u, uint64_t(1), int64_t(90000), buffer.data() + videoAt, uint32_t(video.size()), 11u));
    EXPECT_EQ(std::tuple(a->streamId, a->ptsPresent, a->packet, a->payloadOffset),
              std::tuple(0xC0u, uint64_t(0), buffer.data() + audioAt, 7u));
    EXPECT_FALSE(demux.LastUnitWasSystemHeader());

    // Without a list the same bytes are passed; a system header as the last unit; 16 bytes are never enough.
    EXPECT_EQ(demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, nullptr), consumed);
    ByteVec tail = head;
    tail.resize(tail.size() + 20, 0x55);
    demux.ParsePackets(tail.data(), static_cast<uint32_t>(tail.size()), nullptr, nullptr);
    EXPECT_TRUE(demux.LastUnitWasSystemHeader());
    EXPECT_EQ(demux.ParsePackets(buffer.data() + videoAt, 16, &packets, nullptr), 0u);
    EXPECT_EQ(packets.Count(), 2u);
}

// The first 00 00 01 <code> found by looking at every position.
uint32_t NaiveFind(const std::vector<uint8_t>& b, int code)
{
    for (uint32_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (code < 0 || b[i + 3] == code))
            return i;
    return static_cast<uint32_t>(b.size());
}

TEST(StartCodeScan, AgreesWithAPositionByPositionSearch)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        // Few distinct byte values so that prefixes, near-prefixes and runs of zeros are common.
        std::vector<uint8_t> b(rng() % 40);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() % 4);
        const auto len = static_cast<uint32_t>(b.size());
        for (int code : {0, 1, 2, 3})
            ASSERT_EQ(FindCode(b.data(), len, static_cast<uint8_t>(code)), NaiveFind(b, code)) << round;
        ASSERT_EQ(FindAnyCode(b.data(), len), NaiveFind(b, -1)) << round;
    }
    const std::vector<uint8_t> tail = {9, 0, 0, 1, 0xB3};  // a prefix in the last four bytes; one cut by the end
    EXPECT_EQ(std::pair(FindCode(tail.data(), 5, 0xB3), FindCode(tail.data(), 4, 0xB3)), std::pair(1u, 4u));
}

}  // namespace
}  // namespace md
