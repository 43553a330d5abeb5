// System stream decoders: when a packet is complete, pack_stuffing_length,
// private-stream-1 sub-streams and their frame walk, the MPEG audio frame lock,
// the hand-out of packet times to units and the bound of the time queues.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "mpeg/system_decoder.h"
#include "support/ps_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;

constexpr int32_t kCapacity = 204800;

// 100-ns units of a 90 kHz time.
int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }

ByteVec IPicture(uint16_t temporalReference = 0)
{
    return Concat({mdtest::PictureHeaderFields(temporalReference, 1), mdtest::SliceStart()});
}

struct Walk {
    uint32_t taken = 0;
    std::vector<md::MuxUnitInfo> units;
};

Walk TakeAndWalk(md::CMpegMuxDec& decoder, bool video, int32_t index)
{
    Walk walk;
    std::vector<uint8_t> work(600000);
    walk.taken = video ? decoder.TakeVideo(index, work) : decoder.TakeAudio(index, work);
    md::MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0)
        walk.units.push_back(unit);
    return walk;
}

void Feed(md::CMpegMuxDec& decoder, const ByteVec& bytes)
{
    decoder.Feed(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(SystemDecoderTest, PacketWaitsForTheNextStartCodeAndStuffingIsSkipped)
{
    md::MPEG2SystemDec_c decoder(kCapacity);
    decoder.BeginStream();
    // pack_stuffing_length 7, the stuffing bytes shaped like an audio packet:
    // they must be passed over, not read as a packet.
    ByteVec header = mdtest::Mpeg2PackHeader(0, 25200, 0, 7);
    const uint8_t fake[7] = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x01, 0xFF};
    std::copy(std::begin(fake), std::end(fake), header.end() - 7);
    const ByteVec es = Concat({mdtest::SequenceHeaders({}), mdtest::GopHeaderFlags(false), IPicture()});
    Feed(decoder, Concat({header, mdtest::PesPacket(0xE0, es, 90000)}));
    EXPECT_EQ(TakeAndWalk(decoder, true, 0).taken, 0u);  // no start code after the packet yet
    EXPECT_EQ(decoder.FirstVideoStream(), -1);

    Feed(decoder, mdtest::Mpeg2PackHeader(3600, 25200));
    const Walk walk = TakeAndWalk(decoder, true, 0);
    EXPECT_EQ(walk.taken, es.size());
    EXPECT_EQ(decoder.FirstVideoStream(), 0);
    EXPECT_EQ(decoder.CurrentAudioStream(), -1);
    ASSERT_EQ(walk.units.size(), 3u);
    EXPECT_EQ(walk.units[0].type, md::kUnitSequenceHeader);
    EXPECT_EQ(walk.units[1].type, md::kUnitGop);
    EXPECT_EQ(walk.units[2].type, md::kUnitPicture);
    EXPECT_EQ(walk.units[2].pictureCodingType, 1u);
    // Headers before the picture share the packet's time; the picture takes it.
    for (const auto& unit : walk.units)
        EXPECT_EQ(unit.time, Units(90000));
    EXPECT_EQ(walk.units[1].offset, mdtest::SequenceHeaders({}).size());
    EXPECT_EQ(walk.units[2].offset, mdtest::SequenceHeaders({}).size() + mdtest::GopHeaderFlags(false).size());
}

// DVD audio: sub-stream 0x89 is dropped; an AC-3 sub-stream's PTS goes to the
// stream of the audio packet before it, so the first packet's time is lost;
// the frames are then walked at a fixed step from the latest time.
TEST(SystemDecoderTest, PrivateStream1SubStreamsAndFixedStepFrames)
{
    md::MPEG2SystemDec_c decoder(kCapacity);
    decoder.BeginStream();
    // 48 kHz, frmsizecod 20: 192 kbit/s, 384 words (768 bytes) a frame.
    const ByteVec frame = mdtest::Ac3FrameStart(0, 20, 8, 2, false, 768);
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x89, frame), 90000)}));
    EXPECT_EQ(decoder.CurrentAudioStream(), -1);
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, frame), 90000)}));
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, frame), 92880)}));
    Feed(decoder, mdtest::Mpeg2PackHeader(0, 25200));
    EXPECT_EQ(decoder.CurrentAudioStream(), 0);
    EXPECT_EQ(decoder.AudioCodingOf(0), md::kAudioCodingAc3);
    EXPECT_EQ(decoder.AudioUnitSize(), 768);

    const Walk walk = TakeAndWalk(decoder, false, 0);
    EXPECT_EQ(walk.taken, 2 * frame.size());
    // Two frames: the second packet's time, then one AC-3 frame duration on,
    // (24000 bytes/s x 10240) / (2 x 384 words) = 320000.
    ASSERT_EQ(walk.units.size(), 2u);
    EXPECT_EQ(walk.units[0].type, md::kUnitAudioFrame);
    EXPECT_EQ(walk.units[0].offset, 0u);
    EXPECT_EQ(walk.units[0].time, Units(92880));
    EXPECT_EQ(walk.units[1].offset, 768u);
    EXPECT_EQ(walk.units[1].time, Units(92880) + 320000);
}

// Joint stereo Layer II: once locked, a frame whose mode_extension differs is
// not a frame; padding and protection bits may change.
TEST(SystemDecoderTest, MpegAudioLockOnTheFirstHeader)
{
    auto frame = [](uint8_t modeExtension, bool padding) {
        ByteVec f = mdtest::MpegAudioFrame(2, 10, 1, 1, 576);  // 192 kbit/s, 48 kHz: 576 bytes
        f[2] = static_cast<uint8_t>(f[2] | (padding ? 0x02 : 0));
        f[3] = static_cast<uint8_t>(f[3] | modeExtension << 4);
        return f;
    };
    md::MPEG1SystemDec_c decoder(kCapacity);
    decoder.BeginStream();
    const ByteVec es = Concat({frame(0, false), frame(0, true), frame(1, false), frame(0, false)});
    Feed(decoder, Concat({mdtest::Mpeg1PackHeader(0, 3528), mdtest::Mpeg1PesPacket(0xC0, es, 45000),
                          mdtest::Mpeg1PackHeader(0, 3528)}));
    EXPECT_EQ(decoder.CurrentAudioStream(), 0);
    const Walk walk = TakeAndWalk(decoder, false, 0);
    ASSERT_EQ(walk.units.size(), 3u);
    EXPECT_EQ(walk.units[0].offset, 0u);
    EXPECT_EQ(walk.units[1].offset, 576u);
    EXPECT_EQ(walk.units[2].offset, 3 * 576u);
    EXPECT_EQ(walk.units[0].time, Units(45000));
    EXPECT_EQ(walk.units[1].time, -1);
    EXPECT_EQ(decoder.AudioUnitSize(), 576);
}

// Two pictures in one packet: the second gets no time. A stream that receives
// more than 100 timed packets before a take keeps overwriting the last entry of
// its queue, so only the latest of the packets past the 99th keeps its time.
TEST(SystemDecoderTest, PacketTimesAndQueueBound)
{
    md::MPEG2SystemDec_c decoder(kCapacity);
    decoder.BeginStream();
    ByteVec stream = mdtest::Mpeg2PackHeader(0, 25200);
    mdtest::Append(stream, mdtest::PesPacket(0xE0, Concat({IPicture(0), IPicture(1)}), 1000));
    for (int k = 1; k < 102; ++k)
        mdtest::Append(stream, mdtest::PesPacket(0xE0, IPicture(), 1000 + 3600 * uint64_t(k)));
    mdtest::Append(stream, mdtest::Mpeg2PackHeader(0, 25200));
    Feed(decoder, stream);

    const Walk walk = TakeAndWalk(decoder, true, 0);
    ASSERT_EQ(walk.units.size(), 103u);
    EXPECT_EQ(walk.units[0].time, Units(1000));
    EXPECT_EQ(walk.units[1].time, -1);
    EXPECT_EQ(walk.units[2].time, Units(1000 + 3600));
    EXPECT_EQ(walk.units[99].time, Units(1000 + 3600 * 98));  // the 99th packet, queue entry 98
    EXPECT_EQ(walk.units[100].time, -1);
    EXPECT_EQ(walk.units[101].time, -1);
    EXPECT_EQ(walk.units[102].time, Units(1000 + 3600 * 101));
}

}  // namespace
