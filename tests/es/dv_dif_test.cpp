// DV frames built block by block: the frame start the probe takes, the system, the display shape and scan of the
// VAUX source control pack, and the audio streams the AAUX source packs make, with the blocks or packs that are
// wrong or missing.
#include "es/dv_dif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/dv_builders.h"

namespace {

using mdtest::AauxSource;
using mdtest::DvFrame;
using mdtest::DvFrameFields;

struct Described {
    bool ok = false;
    bool pal = false;
    uint32_t frameBytes = 0, height = 0, aspectX = 0, aspectY = 0;
    bool interlaced = false;
    uint32_t streams = 0;
    md::DvAudioStream first{}, second{};
};

Described Describe(const std::vector<uint8_t>& frame)
{
    md::DvFrameInfo info;
    Described d;
    d.ok = md::ParseDvFrame(frame, info);
    if (!d.ok)
        return d;
    d.pal = info.system625, d.frameBytes = info.frameBytes, d.height = info.height;
    d.aspectX = info.aspectX, d.aspectY = info.aspectY, d.interlaced = info.interlaced;
    d.streams = info.audioStreams, d.first = info.audio[0], d.second = info.audio[1];
    return d;
}

auto Tie(const Described& d)
{
    return std::tuple(d.ok, d.pal, d.frameBytes, d.height, d.aspectX, d.aspectY, d.interlaced, d.streams,
                      d.first.sampleRate, d.first.channels, d.first.bitsPerSample, d.second.sampleRate,
                      d.second.channels, d.second.bitsPerSample);
}

constexpr AauxSource k48k16{0, 0, 0, 0};  // one channel per audio block: CH1 in the first half
constexpr AauxSource k48k16Second{0, 0, 0, 1};  // CH2 in the second
constexpr AauxSource k32k12Pair{2, 1, 1, 0};  // two channels per audio block, 12-bit non-linear at 32 kHz
constexpr AauxSource k32k12NoInfo{2, 1, 1, 0xF};  // the second pair, AUDIO MODE "no information"

DvFrameFields Ntsc48k()
{
    DvFrameFields f;
    f.audio = {k48k16, k48k16Second};
    return f;
}

TEST(DvDif, FrameDescription)
{
    const md::DvAudioStream stereo48{48000, 2, 16}, none{};
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> frame;
        Described expected;
    } cases[] = {
        {"525/60, 4:3, one channel per audio block: one stereo stream",
         [] { return DvFrame(Ntsc48k()); },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"625/50: twelve sequences",
         [] {
             auto f = Ntsc48k();
             f.pal = true;
             return DvFrame(f);
         },
         {true, true, 144000, 576, 4, 3, true, 1, stereo48, none}},
        {"DISP 010: 16:9",
         [] {
             auto f = Ntsc48k();
             f.disp = 2;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 16, 9, true, 1, stereo48, none}},
        {"DISP 111 with APT 0 (IEC 61834): 16:9",
         [] {
             auto f = Ntsc48k();
             f.disp = 7;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 16, 9, true, 1, stereo48, none}},
        {"DISP 111 with APT 1 (SMPTE 314M) names no 16:9 frame",
         [] {
             auto f = Ntsc48k();
             f.disp = 7, f.apt = 1;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"DISP 011 (16:9 letterbox in a 4:3 frame): 4:3",
         [] {
             auto f = Ntsc48k();
             f.disp = 3;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"IL 0: not interlaced",
         [] {
             auto f = Ntsc48k();
             f.interlaced = false;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, false, 1, stereo48, none}},
        {"no VSC pack: 4:3 interlaced",
         [] {
             auto f = Ntsc48k();
             f.disp.reset();
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"two channels per audio block: two stereo pairs, the second one listed though it states no mode",
         [] {
             DvFrameFields f;
             f.audio = {k32k12Pair, k32k12NoInfo};
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 2, {32000, 2, 12}, {32000, 2, 12}}},
        {"one channel per block and no second block: one channel",
         [] {
             DvFrameFields f;
             f.audio = {k48k16};
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, {48000, 1, 16}, none}},
        {"the source packs further into their halves",
         [] {
             auto f = Ntsc48k();
             f.laterSequence = true;
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"no AAUX source pack: no audio",
         [] { return DvFrame({}); },
         {true, false, 120000, 480, 4, 3, true, 0, none, none}},
        {"SMP 3 (reserved): the block describes nothing",
         [] {
             DvFrameFields f;
             f.audio = {AauxSource{3, 0, 1, 0}, k32k12Pair};
             return DvFrame(f);
         },
         {true, false, 120000, 480, 4, 3, true, 1, {32000, 2, 12}, none}},
        {"50 Mbps: a second channel (FSC 1), STYPE 4, two pairs of single-channel blocks",
         [] {
             DvFrameFields f;
             f.twoChannels = true, f.stype = 4;
             f.audio = {k48k16, k48k16Second, k48k16, k48k16Second};
             return DvFrame(f);
         },
         {true, false, 240000, 480, 4, 3, true, 2, stereo48, stereo48}},
        {"STYPE of another format (DVCPRO HD): not described",
         [] {
             auto f = Ntsc48k();
             f.stype = 0x14;
             return DvFrame(f);
         },
         {}},
        {"the first sequence alone: the second audio block, not reached, taken for the pair's other channel",
         [] {
             auto frame = DvFrame(Ntsc48k());
             frame.resize(md::kDifSequenceSize);
             return frame;
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"a header block with a bad section ID",
         [] {
             auto frame = DvFrame(Ntsc48k());
             frame[0] = 0x5F;
             return frame;
         },
         {}},
        {"VAUX blocks with a bad section ID: their packs are not read",
         [] {
             auto f = Ntsc48k();
             f.disp = 2;
             auto frame = DvFrame(f);
             // The first sequence's VAUX packs emptied, the other sequences' VAUX blocks marked section 7.
             std::fill_n(frame.begin() + 240 + 3, 77, 0xFF);
             for (int s = 1; s < 10; ++s)
                 frame[mdtest::DifBlockOffset(false, 0, s, 3)] = 0xF7;
             return frame;
         },
         {true, false, 120000, 480, 4, 3, true, 1, stereo48, none}},
        {"an audio block with a bad section ID: its pack is not read",
         [] {
             auto frame = DvFrame(Ntsc48k());
             frame[mdtest::DifBlockOffset(false, 0, 5, 6 + 16 * 3)] = 0x97;  // the second half's pack, as video
             return frame;
         },
         {true, false, 120000, 480, 4, 3, true, 1, {48000, 1, 16}, none}},
        {"a subcode block out of its place",
         [] {
             auto frame = DvFrame(Ntsc48k());
             frame[82] = 1;
             return frame;
         },
         {}},
        {"a frame starting at sequence 1",
         [] {
             auto frame = DvFrame(Ntsc48k());
             return std::vector<uint8_t>(frame.begin() + md::kDifSequenceSize, frame.end());
         },
         {}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> frame = c.frame();
        EXPECT_EQ(Tie(Describe(frame)), Tie(c.expected)) << c.what;
    }

    // The probe's test: a frame start, and no longer one once the first VAUX block is marked otherwise.
    auto frame = DvFrame(Ntsc48k());
    EXPECT_TRUE(md::IsDvFrameStart(frame));
    frame[mdtest::DifBlockOffset(false, 0, 0, 3)] = 0x97;
    EXPECT_FALSE(md::IsDvFrameStart(frame));
}

TEST(DvDif, RecordsAndFrameTime)
{
    md::DvFrameInfo ntsc, pal;
    ASSERT_TRUE(md::ParseDvFrame(DvFrame(Ntsc48k()), ntsc));
    auto f = Ntsc48k();
    f.pal = true, f.disp = 2;
    ASSERT_TRUE(md::ParseDvFrame(DvFrame(f), pal));
    // 1001/30000 s and 1/25 s in 100-ns units.
    EXPECT_EQ(std::tuple(md::DvFrameDuration(ntsc), md::DvFrameDuration(pal)), std::tuple(333667, 400000));

    md::StreamRecord video{}, audio{};
    md::FillDvVideoRecord(pal, video);
    EXPECT_EQ(std::tuple(video.codec, video.video.width, video.video.height, video.video.aspectX, video.video.aspectY,
                         video.frameRate, video.fieldOrder, video.progressive),
              std::tuple(md::StreamCodec::DvVideo, 720u, 576u, 16u, 9u, 25.0, 2u, uint8_t(0)));
    md::FillDvVideoRecord(ntsc, video);
    EXPECT_NEAR(video.frameRate, 29.97, 0.001);

    ASSERT_TRUE(md::FillDvAudioRecord(ntsc, 0, audio));
    EXPECT_EQ(std::tuple(audio.codec, audio.audio.channels, audio.audio.sampleRate, audio.audio.bitsPerSample,
                         audio.audio.blockAlign, audio.audio.bytesPerSecond),
              std::tuple(md::StreamCodec::PcmLittleEndian, 2u, 48000u, 16u, 4u, 192000u));
    EXPECT_FALSE(md::FillDvAudioRecord(ntsc, 1, audio));
}

}  // namespace
