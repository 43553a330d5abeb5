// System stream decoders: packet completion, stuffing, private-stream-1 sub-streams, the audio frame lock, unit times.
#include "mpeg/system_decoder.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using Unit = std::tuple<uint32_t, uint32_t, int64_t>;  // type, offset, time

int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }
const ByteVec kEnd = {0x00, 0x00, 0x01, 0xB9};

ByteVec IPicture(uint16_t tr = 0) { return Concat({mdtest::PictureHeaderFields(tr, 1), mdtest::SliceStart()}); }

void Feed(md::CMpegMuxDec& decoder, const ByteVec& bytes) { decoder.Feed(bytes.data(), uint32_t(bytes.size())); }

// An MPEG-2 decoder fed a pack header, the bytes and the next pack header (which completes the last packet).
std::unique_ptr<md::MPEG2SystemDec_c> Fed(const ByteVec& bytes, bool mpeg4 = false)
{
    auto decoder = std::make_unique<md::MPEG2SystemDec_c>(md::CMpegMuxDec::kDefaultCapacity);
    decoder->SetMpeg4Video(mpeg4);
    decoder->BeginStream();
    Feed(*decoder, Concat({mdtest::Mpeg2PackHeader(0, 25200), bytes, mdtest::Mpeg2PackHeader(3600, 25200)}));
    return decoder;
}

// An MPEG-1 decoder fed one audio packet between pack headers.
std::unique_ptr<md::MPEG1SystemDec_c> FedAudio1(const ByteVec& es, uint64_t pts)
{
    auto decoder = std::make_unique<md::MPEG1SystemDec_c>(md::CMpegMuxDec::kDefaultCapacity);
    decoder->BeginStream();
    Feed(*decoder, Concat({mdtest::Mpeg1PackHeader(0, 3528), mdtest::Mpeg1PesPacket(0xC0, es, pts),
                           mdtest::Mpeg1PackHeader(0, 3528)}));
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

// An AC-3 sub-stream's PTS goes to the stream of the audio packet before it, so the first packet's time is lost;
// the frames are then walked at a fixed step from the latest time.
TEST(SystemDecoderTest, PrivateStream1SubStreamsAndFixedStepFrames)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    // 48 kHz, frmsizecod 20: 192 kbit/s, 384 words (768 bytes) a frame.
    const ByteVec frame = mdtest::Ac3FrameStart(0, 20, 8, 2, false, 768);
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
    const auto decoder = FedAudio1(
        Concat({frame(0, false, false), frame(0, true, true), frame(1, false, false), frame(0, false, false)}), 45000);
    EXPECT_EQ(std::pair(decoder->CurrentAudioStream(), decoder->AudioUnitSize()), std::pair(0, -1));  // not locked yet
    EXPECT_EQ(TakeAndWalk(*decoder, false, 0).second, (std::vector<Unit>{{md::kUnitAudioFrame, 0, Units(45000)},
                                                                         {md::kUnitAudioFrame, 576, -1},
                                                                         {md::kUnitAudioFrame, 3 * 576, -1}}));
    EXPECT_EQ(decoder->AudioUnitSize(), 576);
}

// The locked frame size (ISO/IEC 11172-3 2.4.3.1): Layer I 4 x trunc(12 x 384000 / 44100), Layer III
// trunc(144 x 320000 / 48000).
TEST(SystemDecoderTest, LockedMpegAudioFrameSize)
{
    for (const auto& [layer, bitrateIndex, samplingIndex, size] :
         {std::tuple(1, 12, 0, 416), std::tuple(3, 14, 1, 960)}) {
        const ByteVec frame =
            mdtest::MpegAudioFrame(uint8_t(layer), uint8_t(bitrateIndex), uint8_t(samplingIndex), 0, size_t(size));
        const auto decoder = FedAudio1(Concat({frame, frame}), 0);
        EXPECT_EQ(TakeAndWalk(*decoder, false, 0).second.size(), 2u);
        EXPECT_EQ(decoder->AudioUnitSize(), size);
    }
}

// Private-stream-1 sub-stream ids: AC-3 0x80..0x87, DTS 0x88, LPCM 0xA0..0xA8; others are dropped.
TEST(SystemDecoderTest, PrivateStream1SubStreamIds)
{
    const int32_t none = md::kAudioCodingNone, ac3 = md::kAudioCodingAc3, dts = md::kAudioCodingDts;
    const int32_t lpcm = md::kAudioCodingLpcm;
    const struct {
        uint8_t sub;
        int32_t index, coding;
    } rows[] = {{0x7F, -1, none}, {0x87, 7, ac3},  {0x88, 0, dts},  {0x89, -1, none},
                {0xA0, 0, lpcm},  {0xA8, 8, lpcm}, {0xA9, -1, none}};
    for (const auto& r : rows) {
        const auto decoder = Fed(mdtest::PesPacket(0xBD, mdtest::AudioSubStream(r.sub, ByteVec(64, 0x55)), 90000));
        EXPECT_EQ(std::pair(decoder->CurrentAudioStream(), decoder->AudioCodingOf(std::max(r.index, 0))),
                  std::pair(r.index, r.coding))
            << int(r.sub);
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
    for (const auto& [packet, taken] : cases)
        EXPECT_EQ(TakeAndWalk(*Fed(packet), false, 0).first, taken) << int(packet[3]);
}

TEST(SystemDecoderTest, PacketWaitsForTheNextStartCodeAndStuffingIsSkipped)
{
    md::MPEG2SystemDec_c decoder(md::CMpegMuxDec::kDefaultCapacity);
    decoder.BeginStream();
    // pack_stuffing_length 7, the stuffing bytes shaped like an audio packet: passed over, not read as a packet.
    ByteVec header = mdtest::Mpeg2PackHeader(0, 25200, 0, 7);
    const ByteVec fake = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x01, 0xFF};
    std::copy(fake.begin(), fake.end(), header.end() - 7);
    const ByteVec es = Concat({mdtest::VideoSequenceHeader(720, 576, 2, 3), mdtest::GopHeaderFlags(false), IPicture()});
    Feed(decoder, Concat({header, mdtest::PesPacket(0xE0, es, 90000)}));
    EXPECT_EQ(TakeAndWalk(decoder, true, 0).first, 0u);  // no start code after the packet yet
    EXPECT_EQ(decoder.FirstVideoStream(), -1);

    Feed(decoder, mdtest::Mpeg2PackHeader(3600, 25200));
    const uint32_t taken = TakeAndWalk(decoder, true, 0).first;
    EXPECT_EQ(std::tuple(taken, decoder.FirstVideoStream(), decoder.CurrentAudioStream()),
              std::tuple(es.size(), 0, -1));

    // Input is dropped only when the buffer is full: with capacity C, C + 17 bytes (pack header, packet, end code)
    // in two feeds; the first leaves room for the last byte, which completes the packet.
    const ByteVec picture = IPicture();
    const ByteVec stream = Concat({mdtest::Mpeg2PackHeader(0, 25200), mdtest::PesPacket(0xE0, picture, 90000), kEnd});
    md::MPEG2SystemDec_c small(static_cast<int32_t>(stream.size() - 17));
    small.BeginStream();
    small.Feed(stream.data(), static_cast<uint32_t>(stream.size() - 1));
    small.Feed(stream.data() + stream.size() - 1, 1);
    EXPECT_EQ(TakeAndWalk(small, true, 0).first, picture.size());
}

// In MPEG-4 Visual mode the video units are video object layers (00 00 01 20..2F) and VOPs; the visual object
// sequence and video object start codes are not units.
TEST(SystemDecoderTest, Mpeg4VisualUnits)
{
    for (const auto& [code, type] : {std::pair(0x1Fu, md::kUnitVop), std::pair(0x20u, md::kUnitVol),
                                     std::pair(0x2Fu, md::kUnitVol), std::pair(0x30u, md::kUnitVop)}) {
        const ByteVec code4 = {0x00, 0x00, 0x01, uint8_t(code), 0x00, 0x8C};
        const ByteVec es = Concat({mdtest::Mpeg4VisualObjectSequence(), code4, mdtest::Mpeg4IVop()});
        const std::vector<Unit> walked = TakeAndWalk(*Fed(mdtest::PesPacket(0xE0, es, 90000), true), true, 0).second;
        ASSERT_FALSE(walked.empty());
        EXPECT_EQ(std::get<0>(walked[0]), type) << code;
    }
}

// Two pictures in one packet: the second gets no time. A stream that receives
// more than 100 timed packets before a take keeps overwriting the last entry of
// its queue, so only the latest of the packets past the 99th keeps its time.
TEST(SystemDecoderTest, PacketTimesAndQueueBound)
{
    ByteVec stream = mdtest::PesPacket(0xE0, Concat({IPicture(0), IPicture(1)}), 1000);
    for (int k = 1; k < 102; ++k)
        mdtest::Append(stream, mdtest::PesPacket(0xE0, IPicture(), 1000 + 3600 * uint64_t(k)));
    const std::vector<Unit> units = TakeAndWalk(*Fed(stream), true, 0).second;
    ASSERT_EQ(units.size(), 103u);
    auto time = [&](size_t k) { return std::get<2>(units[k]); };
    EXPECT_EQ((std::vector{time(0), time(1), time(2), time(99), time(100), time(101), time(102)}),
              (std::vector<int64_t>{Units(1000), -1, Units(1000 + 3600), Units(1000 + 3600 * 98), -1, -1,
                                    Units(1000 + 3600 * 101)}));  // the 99th packet is queue entry 98
}

}  // namespace
