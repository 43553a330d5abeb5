// The MPEG-1 system stream demultiplexer's own rules.
#include "mpeg/m1_demux.h"

#include <gtest/gtest.h>

#include <optional>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
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

const ByteVec kMp2Frame = mdtest::MpegAudioFrame(2, 10, 1, 0, 576);  // Layer II, 48 kHz, 192 kbit/s, stereo

// {Parse result, start time, bytes read}
std::tuple<uint32_t, int64_t, uint64_t> ParseBytes(const ByteVec& bytes, StreamList& list)
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
    const auto [ret, start, read] = ParseBytes(Video(90000, VideoEs(320, 288, 12)), list);
    ASSERT_EQ(ret, 1u);
    EXPECT_EQ(std::pair(list.At(0)->video.aspectX, list.At(0)->video.aspectY), std::pair(102400u, 93312u));
    EXPECT_EQ(start, 90000) << "video alone: its time";
    // A sequence header after other bytes of the packet is read where it starts.
    StreamList later;
    ASSERT_EQ(std::get<0>(ParseBytes(Video(90000, Concat({ByteVec(20, 0xFF), VideoEs(320, 288, 12)})), later)), 1u);
    EXPECT_EQ(std::pair(later.At(0)->video.width, later.At(0)->video.aspectX), std::pair(320u, 102400u));
    // Audio stamped before the video: the earlier time.
    StreamList both;
    EXPECT_EQ(std::get<1>(ParseBytes(Concat({Video(90000), Pack(mdtest::Mpeg1PesPacket(0xC0, kMp2Frame, 45000))}), both)),
              45000);
}

// A sequence header that a sequence_extension follows is MPEG-1 video in the base rules; with MD_EXT_MORE_CODECS it
// is MPEG-2 video, its aspect_ratio_information a display aspect and progressive_sequence read.
TEST(M1Demux, Mpeg2VideoInASystemStream)
{
    const auto es = [](uint8_t aspectCode, bool extension, bool progressive) {
        mdtest::SequenceFields seq;  // 720 x 576, 25 fps
        seq.aspectCode = aspectCode, seq.extension = extension, seq.progressive = progressive;
        return Concat({mdtest::SequenceHeaders(seq), mdtest::GopHeaderFlags(true), mdtest::PictureHeaderFields(0, 1),
                       mdtest::SliceStart()});
    };
    struct Row {
        const char* what;
        ByteVec es;
        uint32_t extensions;
        StreamCodec codec;
        uint8_t progressive;
        std::optional<std::pair<uint32_t, uint32_t>> aspect;  // checked for MPEG-2 records
    };
    const Row rows[] = {
        {"MPEG-2, base rules: MPEG-1", es(3, true, false), 0, StreamCodec::Mpeg1Video, 1, std::nullopt},
        {"MPEG-2 interlaced 16:9", es(3, true, false), MD_EXT_MORE_CODECS, StreamCodec::Mpeg2Video, 0,
         std::pair(16u, 9u)},
        {"MPEG-2 progressive 4:3", es(2, true, true), MD_EXT_MORE_CODECS, StreamCodec::Mpeg2Video, 1,
         std::pair(4u, 3u)},
        {"MPEG-1 stays MPEG-1", es(3, false, true), MD_EXT_MORE_CODECS, StreamCodec::Mpeg1Video, 1, std::nullopt},
    };
    for (const Row& row : rows) {
        const ByteVec file = Video(90000, row.es);
        MemoryInputStream in(file.data(), file.size());
        M1Demux demux;
        demux.SetExtensions(row.extensions);
        StreamList list;
        ASSERT_EQ(demux.Parse(&in, &list), 1u) << row.what;
        const StreamRecord& v = *list.At(0);
        EXPECT_EQ(std::tuple(v.codec, v.progressive, v.video.width, v.frameRate),
                  std::tuple(row.codec, row.progressive, 720u, 25.0))
            << row.what;
        if (row.aspect) {
            EXPECT_EQ(std::pair(v.video.aspectX, v.video.aspectY), *row.aspect) << row.what;
        }
    }
}

// A video pack, then packs of audio without a frame sync up to `bytes` bytes, then, when withSync, one with a sync.
ByteVec AudioWithoutSync(size_t bytes, bool withSync)
{
    ByteVec stream = Video(90000);
    uint64_t pts = 90000;
    while (stream.size() < bytes)
        mdtest::Append(stream, Pack(mdtest::Mpeg1PesPacket(0xC0, ByteVec(1500, 0x55), pts += 2160)));
    if (withSync)  // the padding pack keeps the sync out of the tail
        mdtest::Append(stream,
                       Concat({Pack(mdtest::Mpeg1PesPacket(0xC0, kMp2Frame, pts += 2160)), Pack(ByteVec(100, 0x55))}));
    return stream;
}

TEST(M1Demux, ReadsOnUntilTheAudioHasASync)
{
    // {stream, result, bytes read (0: all), audio found}: the first sync in the second chunk; no sync, given up after
    // 11 chunks; the end of the file first (fails, but the video record it made stays in the caller's list); a sync
    // whose header names the reserved layer (no record).
    const std::tuple<ByteVec, uint32_t, uint64_t, bool> rows[] = {
        {AudioWithoutSync(M1Demux::kChunkSize + 4096, true), 1, 0, true},
        {AudioWithoutSync(11 * M1Demux::kChunkSize + 100000, false), 1, 11 * M1Demux::kChunkSize, false},
        {AudioWithoutSync(20000, false), 0, 0, false},
        {Concat({Video(90000), Pack(mdtest::Mpeg1PesPacket(0xC0, ByteVec{0xFF, 0xF9, 0xA4, 0}, 90000))}), 1, 0, false}};
    for (const auto& [stream, ret, bytesRead, audio] : rows) {
        StreamList list;
        const auto [gotRet, start, gotRead] = ParseBytes(stream, list);
        const StreamRecord* a = list.First(StreamClass::Audio);
        EXPECT_EQ(std::tuple(gotRet, gotRead, list.First(StreamClass::Video) != nullptr, a != nullptr),
                  std::tuple(ret, bytesRead ? bytesRead : stream.size(), true, audio));
        if (audio) {
            EXPECT_EQ(std::pair(a->audio.sampleRate, start), std::pair(48000u, int64_t(90000)));
        }
    }
}

TEST(M1Demux, ParsePacketsSplitsPesPackets)
{
    const ByteVec video = mdtest::Mpeg1PesPacket(0xE0, VideoEs(), 90000),
                  audio = mdtest::Mpeg1PesPacket(0xC0, kMp2Frame);
    const ByteVec head = Concat(
        {mdtest::Mpeg1PackHeader(0, 3528), mdtest::SystemHeader(3528, 1, 1, {{0xE0, true, 46}, {0xC0, false, 32}})});
    const ByteVec junk = {0x12, 0x00, 0x00};
    ByteVec buffer = Concat({head, video, junk, audio, mdtest::Mpeg1PesPacket(0xC0, kMp2Frame, 93600)});
    buffer.resize(buffer.size() - 10);  // the last packet is cut short
    M1Demux demux;
    PacketList packets;
    uint8_t stop = 0x7E;
    const uint32_t consumed = demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), &packets, &stop);
    const size_t videoAt = head.size(), audioAt = videoAt + video.size() + junk.size();
    EXPECT_EQ(std::pair(consumed, stop), std::pair(uint32_t(audioAt + audio.size()), uint8_t(0x7E)));  // stop untouched
    ASSERT_EQ(packets.Count(), 2u);
    const PacketRecord *v = packets.At(0), *a = packets.At(1);
    // Payload after the packet header and the PTS field, or the 0x0F "no timestamps" byte.
    EXPECT_EQ(std::tuple(v->streamId, v->ptsPresent, v->pts, v->packet, v->packetLength, v->payloadOffset),
              std::tuple(0xE0u, uint64_t(1), int64_t(90000), buffer.data() + videoAt, uint32_t(video.size()), 11u));
    EXPECT_EQ(std::tuple(a->streamId, a->ptsPresent, a->packet, a->payloadOffset),
              std::tuple(0xC0u, uint64_t(0), buffer.data() + audioAt, 7u));
    EXPECT_FALSE(demux.LastUnitWasSystemHeader());

    // Without a list the same bytes are passed; a system header as the last unit; 16 bytes are never enough.
    EXPECT_EQ(demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, nullptr), consumed);
    const ByteVec tail = Concat({head, ByteVec(20, 0x55)});
    demux.ParsePackets(tail.data(), static_cast<uint32_t>(tail.size()), nullptr, nullptr);
    EXPECT_TRUE(demux.LastUnitWasSystemHeader());
    EXPECT_EQ(demux.ParsePackets(buffer.data() + videoAt, 16, &packets, nullptr), 0u);
    EXPECT_EQ(packets.Count(), 2u);
}

}  // namespace
}  // namespace md
