// System stream decoders: when a packet is complete, pack_stuffing_length,
// private-stream-1 sub-streams and their frame walk, the MPEG audio frame lock,
// the hand-out of packet times to units and the bound of the time queues.
#include "mpeg/system_decoder.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using Unit = std::tuple<uint32_t, uint32_t, int64_t>;  // type, offset, time

// 100-ns units of a 90 kHz time.
int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }

ByteVec IPicture(uint16_t temporalReference = 0)
{
    return Concat({mdtest::PictureHeaderFields(temporalReference, 1), mdtest::SliceStart()});
}

void Feed(md::CMpegMuxDec& decoder, const ByteVec& bytes)
{
    decoder.Feed(bytes.data(), static_cast<uint32_t>(bytes.size()));
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

// DVD audio: sub-stream 0x89 is dropped; an AC-3 sub-stream's PTS goes to the
// stream of the audio packet before it, so the first packet's time is lost;
// the frames are then walked at a fixed step from the latest time.
TEST(SystemDecoderTest, PrivateStream1SubStreamsAndFixedStepFrames)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    // 48 kHz, frmsizecod 20: 192 kbit/s, 384 words (768 bytes) a frame.
    const ByteVec frame = mdtest::Ac3FrameStart(0, 20, 8, 2, false, 768);
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x89, frame), 90000)}));
    EXPECT_EQ(decoder.CurrentAudioStream(), -1);
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, frame), 90000)}));
    Feed(decoder, mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, frame), 92880)}));
    Feed(decoder, mdtest::Mpeg2PackHeader(0, 25200));
    EXPECT_EQ(std::tuple(decoder.CurrentAudioStream(), decoder.AudioCodingOf(0), decoder.AudioUnitSize()),
              std::tuple(0, int32_t(md::kAudioCodingAc3), 768));

    // Two frames: the second packet's time, then one AC-3 frame duration on,
    // (24000 bytes/s x 10240) / (2 x 384 words) = 320000.
    const auto [taken, units] = TakeAndWalk(decoder, false, 0);
    EXPECT_EQ(taken, 2 * frame.size());
    EXPECT_EQ(units, (std::vector<Unit>{{md::kUnitAudioFrame, 0, Units(92880)},
                                        {md::kUnitAudioFrame, 768, Units(92880) + 320000}}));
    EXPECT_EQ(md::Ac3FrameDuration(24000, 0), 0);
}

// Joint stereo Layer II: once locked, a frame whose mode_extension differs is
// not a frame; padding and protection bits may change.
TEST(SystemDecoderTest, MpegAudioLockOnTheFirstHeader)
{
    auto frame = [](uint8_t modeExtension, bool padding, bool crc) {
        ByteVec f = mdtest::MpegAudioFrame(2, 10, 1, 1, 576);  // 192 kbit/s, 48 kHz: 576 bytes
        f[1] = static_cast<uint8_t>(f[1] & (crc ? 0xFE : 0xFF));
        f[2] = static_cast<uint8_t>(f[2] | (padding ? 0x02 : 0));
        f[3] = static_cast<uint8_t>(f[3] | modeExtension << 4);
        return f;
    };
    md::MPEG1SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    const ByteVec es =
        Concat({frame(0, false, false), frame(0, true, true), frame(1, false, false), frame(0, false, false)});
    Feed(decoder, Concat({mdtest::Mpeg1PackHeader(0, 3528), mdtest::Mpeg1PesPacket(0xC0, es, 45000),
                          mdtest::Mpeg1PackHeader(0, 3528)}));
    EXPECT_EQ(std::pair(decoder.CurrentAudioStream(), decoder.AudioUnitSize()), std::pair(0, -1));  // not locked yet
    EXPECT_EQ(TakeAndWalk(decoder, false, 0).second,
              (std::vector<Unit>{{md::kUnitAudioFrame, 0, Units(45000)},
                                 {md::kUnitAudioFrame, 576, -1},
                                 {md::kUnitAudioFrame, 3 * 576, -1}}));
    EXPECT_EQ(decoder.AudioUnitSize(), 576);

}

// The locked frame size: Layer I 4 x trunc(12 x bit rate / rate), Layers II and III trunc(144 x bit rate / rate)
// (ISO/IEC 11172-3 2.4.3.1); the rates from the bit-rate table, including its 320 kbit/s entries.
TEST(SystemDecoderTest, LockedMpegAudioFrameSize)
{
    const struct {
        uint8_t layer, bitrateIndex, samplingIndex;
        int32_t size;
    } rows[] = {{1, 12, 0, 416}, {2, 10, 0, 626}, {2, 13, 2, 1440}, {3, 14, 1, 960}};
    for (const auto& r : rows) {
        md::MPEG1SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
        decoder.BeginStream();
        const ByteVec frame = mdtest::MpegAudioFrame(r.layer, r.bitrateIndex, r.samplingIndex, 0, size_t(r.size));
        Feed(decoder, Concat({mdtest::Mpeg1PackHeader(0, 3528), mdtest::Mpeg1PesPacket(0xC0, Concat({frame, frame}), 0),
                              mdtest::Mpeg1PackHeader(0, 3528)}));
        EXPECT_EQ(TakeAndWalk(decoder, false, 0).second.size(), 2u) << int(r.layer);
        EXPECT_EQ(decoder.AudioUnitSize(), r.size) << int(r.layer) << " " << int(r.bitrateIndex);
    }
}

// Private-stream-1 sub-stream ids: AC-3 0x80..0x87, DTS 0x88, LPCM 0xA0..0xA8; others are dropped.
TEST(SystemDecoderTest, PrivateStream1SubStreamIds)
{
    const int32_t none = md::kAudioCodingNone, ac3 = md::kAudioCodingAc3, dts = md::kAudioCodingDts,
                  lpcm = md::kAudioCodingLpcm;
    const struct {
        uint8_t sub;
        int32_t index, coding;
    } rows[] = {{0x7F, -1, none}, {0x80, 0, ac3},  {0x87, 7, ac3},    {0x88, 0, dts}, {0x89, -1, none},
                {0x9F, -1, none}, {0xA0, 0, lpcm}, {0xA8, 8, lpcm},   {0xA9, -1, none}};
    for (const auto& r : rows) {
        md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
        decoder.BeginStream();
        Feed(decoder, Concat({mdtest::Mpeg2PackHeader(0, 25200),
                              mdtest::PesPacket(0xBD, mdtest::AudioSubStream(r.sub, ByteVec(64, 0x55)), 90000),
                              mdtest::Mpeg2PackHeader(0, 25200)}));
        EXPECT_EQ(decoder.CurrentAudioStream(), r.index) << int(r.sub);
        if (r.index >= 0) {
            EXPECT_EQ(decoder.AudioCodingOf(r.index), r.coding) << int(r.sub);
        }
    }
}


// program_stream_map (0xBC) and program_stream_directory (0xFF) packets are passed over by their
// length: an audio packet written inside them is not read; on its own it is.
TEST(SystemDecoderTest, MapAndDirectoryPacketsAreSkippedWhole)
{
    const ByteVec audio = mdtest::PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 576), 90000);
    const auto wrapped = [&](uint8_t id) {
        return Concat({ByteVec{0x00, 0x00, 0x01, id, 0x00, uint8_t(audio.size())}, audio});
    };
    const std::pair<ByteVec, uint32_t> cases[] = {{wrapped(0xBC), 0}, {wrapped(0xFF), 0}, {audio, 576}};
    for (const auto& [packet, taken] : cases) {
        md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
        decoder.BeginStream();
        Feed(decoder, Concat({mdtest::Mpeg2PackHeader(0, 25200), packet, mdtest::Mpeg2PackHeader(3600, 25200)}));
        EXPECT_EQ(TakeAndWalk(decoder, false, 0).first, taken) << int(packet[3]);
    }
}

TEST(SystemDecoderTest, PacketWaitsForTheNextStartCodeAndStuffingIsSkipped)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    // pack_stuffing_length 7, the stuffing bytes shaped like an audio packet:
    // they must be passed over, not read as a packet.
    ByteVec header = mdtest::Mpeg2PackHeader(0, 25200, 0, 7);
    const ByteVec fake = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x01, 0xFF};
    std::copy(fake.begin(), fake.end(), header.end() - 7);
    const ByteVec seq = mdtest::VideoSequenceHeader(720, 576, 2, 3), gop = mdtest::GopHeaderFlags(false);
    const ByteVec es = Concat({seq, gop, IPicture()});
    Feed(decoder, Concat({header, mdtest::PesPacket(0xE0, es, 90000)}));
    EXPECT_EQ(TakeAndWalk(decoder, true, 0).first, 0u);  // no start code after the packet yet
    EXPECT_EQ(decoder.FirstVideoStream(), -1);

    // Headers before the picture share the packet's time; the picture takes it.
    Feed(decoder, mdtest::Mpeg2PackHeader(3600, 25200));
    const auto [taken, units] = TakeAndWalk(decoder, true, 0);
    EXPECT_EQ(taken, es.size());
    EXPECT_EQ(std::pair(decoder.FirstVideoStream(), decoder.CurrentAudioStream()), std::pair(0, -1));
    const int64_t t = Units(90000);
    EXPECT_EQ(units, (std::vector<Unit>{{md::kUnitSequenceHeader, 0, t},
                                        {md::kUnitGop, seq.size(), t},
                                        {md::kUnitPicture, seq.size() + gop.size(), t}}));
    md::MuxUnitInfo unit{};
    EXPECT_EQ(decoder.NextUnit(unit), 0u);  // nothing more, and no walk over an empty take
    EXPECT_EQ(TakeAndWalk(decoder, true, 0), (std::pair(0u, std::vector<Unit>{})));

    // Input is dropped only when the buffer is full. With capacity C the pack header, a packet and
    // the program end code (C + 17 bytes) come in two feeds; the first leaves room for one byte,
    // the last byte, which completes the packet.
    const ByteVec picture = IPicture();
    const ByteVec stream = Concat({mdtest::Mpeg2PackHeader(0, 25200), mdtest::PesPacket(0xE0, picture, 90000),
                                   ByteVec{0x00, 0x00, 0x01, 0xB9}});
    md::MPEG2SystemDec_c small(static_cast<int32_t>(stream.size() - 17));
    small.BeginStream();
    small.Feed(stream.data(), static_cast<uint32_t>(stream.size() - 1));
    small.Feed(stream.data() + stream.size() - 1, 1);
    EXPECT_EQ(TakeAndWalk(small, true, 0).first, picture.size());
}

// In MPEG-4 Visual mode the video units are video object layers (00 00 01 20..2F) and VOPs; the
// visual object sequence and video object start codes are not units.
TEST(SystemDecoderTest, Mpeg4VisualUnits)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.SetMpeg4Video(true);
    decoder.BeginStream();
    const ByteVec vol = {0x00, 0x00, 0x01, 0x2F, 0x00, 0x8C};
    const ByteVec es = Concat({mdtest::Mpeg4VisualObjectSequence(), mdtest::Mpeg4VideoObject(), vol,
                               mdtest::Mpeg4IVop(), mdtest::Mpeg4IVop()});
    Feed(decoder, Concat({mdtest::Mpeg2PackHeader(0, 25200), mdtest::PesPacket(0xE0, es, 90000),
                          mdtest::Mpeg2PackHeader(0, 25200)}));
    const uint32_t at = 5 + 4;
    EXPECT_EQ(TakeAndWalk(decoder, true, 0).second,
              (std::vector<Unit>{{md::kUnitVol, at, Units(90000)},
                                 {md::kUnitVop, at + 6, -1},
                                 {md::kUnitVop, at + 6 + 13, -1}}));

    // The first unit after codes just inside and outside the video_object_layer_start_code range.
    for (const auto& [code, type] : {std::pair(0x1Fu, md::kUnitVop), std::pair(0x20u, md::kUnitVol),
                                     std::pair(0x30u, md::kUnitVop)}) {
        md::MPEG2SystemDec_c one(md::CMpegMuxDec::kDefaultCapacity);
        one.SetMpeg4Video(true);
        one.BeginStream();
        const ByteVec units = Concat({ByteVec{0x00, 0x00, 0x01, uint8_t(code), 0x00, 0x8C}, mdtest::Mpeg4IVop()});
        Feed(one, Concat({mdtest::Mpeg2PackHeader(0, 25200), mdtest::PesPacket(0xE0, units, 90000),
                          mdtest::Mpeg2PackHeader(0, 25200)}));
        const std::vector<Unit> walked = TakeAndWalk(one, true, 0).second;
        ASSERT_FALSE(walked.empty());
        EXPECT_EQ(std::get<0>(walked[0]), type) << code;
    }
}

// Two pictures in one packet: the second gets no time. A stream that receives
// more than 100 timed packets before a take keeps overwriting the last entry of
// its queue, so only the latest of the packets past the 99th keeps its time.
TEST(SystemDecoderTest, PacketTimesAndQueueBound)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    ByteVec stream = Concat({mdtest::Mpeg2PackHeader(0, 25200),
                             mdtest::PesPacket(0xE0, Concat({IPicture(0), IPicture(1)}), 1000)});
    for (int k = 1; k < 102; ++k)
        mdtest::Append(stream, mdtest::PesPacket(0xE0, IPicture(), 1000 + 3600 * uint64_t(k)));
    mdtest::Append(stream, mdtest::Mpeg2PackHeader(0, 25200));
    Feed(decoder, stream);

    const std::vector<Unit> units = TakeAndWalk(decoder, true, 0).second;
    ASSERT_EQ(units.size(), 103u);
    auto time = [&](size_t k) { return std::get<2>(units[k]); };
    EXPECT_EQ((std::vector{time(0), time(1), time(2), time(99), time(100), time(101), time(102)}),
              (std::vector<int64_t>{Units(1000), -1, Units(1000 + 3600), Units(1000 + 3600 * 98), -1, -1,
                                    Units(1000 + 3600 * 101)}));  // the 99th packet is queue entry 98
}

}  // namespace
