// System stream decoders: private-stream-1 sub-streams, the audio frame lock, skipped packets and stuffing.
#include "mpeg/system_decoder.h"

#include <gtest/gtest.h>

#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using Unit = std::tuple<uint32_t, uint32_t, int64_t>;  // type, offset, time

int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }

void Feed(md::CMpegMuxDec& decoder, const ByteVec& bytes) { decoder.Feed(bytes.data(), uint32_t(bytes.size())); }

// An MPEG-2 decoder fed a pack header, the bytes and the next pack header (which completes the last packet);
// subStreamTiming as MD_EXT_TIME_RANGES sets it.
std::unique_ptr<md::MPEG2SystemDec_c> Fed(const ByteVec& bytes, bool subStreamTiming = false)
{
    auto decoder = std::make_unique<md::MPEG2SystemDec_c>(md::CMpegMuxDec::kDefaultCapacity);
    decoder->SetSubStreamTiming(subStreamTiming);
    decoder->BeginStream();
    Feed(*decoder, Concat({mdtest::Mpeg2PackHeader(0, 25200), bytes, mdtest::Mpeg2PackHeader(3600, 25200)}));
    return decoder;
}

// Takes the stream's data and walks its units.
std::pair<uint32_t, std::vector<Unit>> TakeAndWalk(md::CMpegMuxDec& decoder, bool video, int32_t index)
{
    std::vector<uint8_t> work(600000);
    const uint32_t taken = video ? decoder.TakeVideo(index, work) : decoder.TakeAudio(index, work);
    std::vector<Unit> units;
    md::MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0)
        units.emplace_back(unit.type, unit.offset, unit.time);
    return {taken, units};
}

// By default an AC-3 PTS goes to the stream of the audio packet before it and frames are walked at a fixed step.
// Sub-stream timing (MD_EXT_TIME_RANGES): a private-stream-1 packet's PTS is its own sub-stream's, the walk hands
// out the frames number_of_frame_headers counts, and an AC-3 frame lasts 1536 samples.
TEST(SystemDecoderTest, SubStreamTimingFollowsTheSubStreamHeaders)
{
    // 44.1 kHz AC-3 at 96 kbit/s (ATSC A/52 Table 5.18): frmsizecod 12 is 208 words (416 bytes), 13 the 209-word
    // (418-byte) frame with its padding word. A packet with PTS 45000 announces three frames, the first at first_access_unit_pointer 1.
    const ByteVec frames = Concat({mdtest::Ac3FrameStart(1, 12, 8, 1, false, 416),
                                   mdtest::Ac3FrameStart(1, 13, 8, 1, false, 418),
                                   mdtest::Ac3FrameStart(1, 13, 8, 1, false, 418)});
    const ByteVec timed = mdtest::PesPacket(0xBD, Concat({ByteVec{0x80, 3, 0, 1}, frames}), 45000);
    // A packet of the same sub-stream before it, without PTS or frames, so that the default rule has a stream
    // to give the PTS to.
    const ByteVec before = mdtest::PesPacket(0xBD, ByteVec{0x80, 0, 0, 1});
    const int64_t t = Units(45000), frame = 348299;  // 1536 / 44100 s
    // The legacy frame duration, (12000 x 10240) / (2 x 208), and the step of the first frame's 416 bytes.
    const int64_t legacy = 295384;
    using UnitList = std::vector<Unit>;
    const std::tuple<const char*, ByteVec, bool, UnitList> rows[] = {
        {"one packet, default: its PTS has no stream before it", timed, false, {}},
        {"one packet, sub-stream timing", timed, true,
         {{md::kUnitAudioFrame, 0, t}, {md::kUnitAudioFrame, 416, t + frame}, {md::kUnitAudioFrame, 832, t + 2 * frame}}},
        // The default walk goes one 416-byte step past the third frame, which 418-byte frames leave room for.
        {"after another packet, default", Concat({before, timed}), false,
         {{md::kUnitAudioFrame, 0, t}, {md::kUnitAudioFrame, 416, t + legacy}, {md::kUnitAudioFrame, 832, t + 2 * legacy},
          {md::kUnitAudioFrame, 1248, t + 3 * legacy}}},
        {"after another packet, sub-stream timing", Concat({before, timed}), true,
         {{md::kUnitAudioFrame, 0, t}, {md::kUnitAudioFrame, 416, t + frame}, {md::kUnitAudioFrame, 832, t + 2 * frame}}},
    };
    for (const auto& [what, bytes, timing, units] : rows)
        EXPECT_EQ(TakeAndWalk(*Fed(bytes, timing), false, 0), std::pair(uint32_t(frames.size()), units)) << what;
    // LPCM (16-bit 48 kHz stereo: 320-byte units of 1/600 s) behind its 7-byte header: first_access_unit_pointer
    // counts from the pointer's last byte, so the first unit is 4 bytes before it in the data; 3 or less is 3. A PTS
    // of 0 is a time like any other.
    for (const auto& [pointer, first, pts] :
         {std::tuple(10, 6u, 45000), std::tuple(3, 3u, 45000), std::tuple(10, 6u, 0)}) {
        const ByteVec lpcm = Concat({ByteVec{0xA0, 2, 0, uint8_t(pointer), 0, 0x01, 0x80}, ByteVec(1000, 0)});
        EXPECT_EQ(TakeAndWalk(*Fed(mdtest::PesPacket(0xBD, lpcm, uint64_t(pts)), true), false, 0).second,
                  (std::vector<Unit>{{md::kUnitAudioFrame, first, Units(pts)},
                                     {md::kUnitAudioFrame, first + 320, Units(pts) + 16666}}))
            << pointer << " " << pts;
    }
    // At 48 kHz the legacy count, (24000 x 10240) / (2 x 384), is the frame's duration; at 32 and 44.1 kHz it is not.
    EXPECT_EQ(std::tuple(md::Ac3FrameDuration(24000, 384), md::Ac3SyncframeDuration(48000),
                         md::Ac3SyncframeDuration(32000), md::Ac3SyncframeDuration(0), md::Ac3FrameDuration(24000, 0)),
              std::tuple(320000, 320000, 480000, 0, 0));
}

// Joint stereo Layer II: once locked, another mode_extension is no frame; padding and CRC bits may change. A header
// with the reserved sampling_frequency '11' before the first frame is none.
TEST(SystemDecoderTest, MpegAudioLockOnTheFirstHeader)
{
    auto frame = [](int modeExtension, bool paddingAndCrc) {
        ByteVec f = mdtest::MpegAudioFrame(2, 10, 1, 1, 576);  // 192 kbit/s, 48 kHz: 576 bytes
        f[1] = uint8_t(f[1] & ~int(paddingAndCrc)), f[2] = uint8_t(f[2] | paddingAndCrc << 1);
        f[3] = uint8_t(f[3] | modeExtension << 4);
        return f;
    };
    md::MPEG1SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    const ByteVec es = Concat({mdtest::MpegAudioFrame(2, 10, 3, 1, 4), frame(0, false), frame(0, true), frame(1, false),
                               frame(0, false)});
    Feed(decoder, Concat({mdtest::Mpeg1PackHeader(0, 3528), mdtest::Mpeg1PesPacket(0xC0, es, 45000),
                          mdtest::Mpeg1PackHeader(0, 3528)}));
    EXPECT_EQ(std::pair(decoder.CurrentAudioStream(), decoder.AudioUnitSize()), std::pair(0, -1));  // not locked yet
    EXPECT_EQ(TakeAndWalk(decoder, false, 0).second, (std::vector<Unit>{{md::kUnitAudioFrame, 4, Units(45000)},
                                                                        {md::kUnitAudioFrame, 4 + 576, -1},
                                                                        {md::kUnitAudioFrame, 4 + 3 * 576, -1}}));
    EXPECT_EQ(decoder.AudioUnitSize(), 576);
    // A payload of one byte is kept like any other: the stream split after its first byte is the same stream.
    md::MPEG1SystemDec_c split(md::CMpegMuxDec::kDefaultCapacity);
    split.BeginStream();
    Feed(split,
         Concat({mdtest::Mpeg1PackHeader(0, 3528),
                 mdtest::Mpeg1PesPacket(0xC0, ByteVec(es.begin(), es.begin() + 1), 45000),
                 mdtest::Mpeg1PesPacket(0xC0, ByteVec(es.begin() + 1, es.end())), mdtest::Mpeg1PackHeader(0, 3528)}));
    EXPECT_EQ(TakeAndWalk(split, false, 0).first, uint32_t(es.size()));
}

// Private-stream-1 sub-stream ids: AC-3 0x80..0x87, DTS 0x88, LPCM 0xA0..0xA8; others are dropped.
TEST(SystemDecoderTest, PrivateStream1SubStreamIds)
{
    const int32_t none = md::kAudioCodingNone, ac3 = md::kAudioCodingAc3, dts = md::kAudioCodingDts,
                  lpcm = md::kAudioCodingLpcm;
    const std::tuple<uint8_t, int32_t, int32_t> rows[] = {{0x7F, -1, none}, {0x87, 7, ac3},  {0x88, 0, dts},
                                                          {0x89, -1, none}, {0xA0, 0, lpcm}, {0xA8, 8, lpcm},
                                                          {0xA9, -1, none}};
    for (const auto& [sub, index, coding] : rows) {
        const auto decoder = Fed(mdtest::PesPacket(0xBD, mdtest::AudioSubStream(sub, ByteVec(64, 0x55)), 90000));
        EXPECT_EQ(std::tuple(sub, decoder->CurrentAudioStream(), decoder->AudioCodingOf(std::max(index, 0))),
                  std::tuple(sub, index, coding));
    }
}

// Map (0xBC) and directory (0xFF) packets are passed over by their length: audio written inside is not read.
TEST(SystemDecoderTest, MapAndDirectoryPacketsAreSkippedWhole)
{
    const ByteVec audio = mdtest::PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 576), 90000);
    const auto wrapped = [&](uint8_t id) { return Concat({ByteVec{0, 0, 1, id, 0, uint8_t(audio.size())}, audio}); };
    for (const auto& [packet, taken] :
         {std::pair(wrapped(0xBC), 0u), std::pair(wrapped(0xFF), 0u), std::pair(audio, 576u)})
        EXPECT_EQ(TakeAndWalk(*Fed(packet), false, 0).first, taken) << int(packet[3]);
}

// Pack stuffing shaped like an audio packet is passed over; a packet is complete once the next start code is in.
TEST(SystemDecoderTest, PacketWaitsForTheNextStartCodeAndStuffingIsSkipped)
{
    ByteVec header = mdtest::Mpeg2PackHeader(0, 25200, 0, 7);
    const ByteVec fake = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x01, 0xFF};
    std::copy(fake.begin(), fake.end(), header.end() - 7);
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    const ByteVec es = Concat({mdtest::PictureHeaderFields(0, 1), mdtest::SliceStart()});
    Feed(decoder, Concat({header, mdtest::PesPacket(0xE0, es, 90000)}));
    EXPECT_EQ(TakeAndWalk(decoder, true, 0).first, 0u);
    Feed(decoder, mdtest::Mpeg2PackHeader(3600, 25200));
    const uint32_t taken = TakeAndWalk(decoder, true, 0).first;
    EXPECT_EQ(std::tuple(taken, decoder.FirstVideoStream(), decoder.CurrentAudioStream()),
              std::tuple(es.size(), 0, -1));
}

}  // namespace
