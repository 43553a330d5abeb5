// DV frames built block by block: what ParseDvFrame describes of each, or "-" for a frame it does not.
#include "es/dv_dif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/dv_builders.h"

namespace {

using mdtest::AauxSource;
using mdtest::DvFrame;
using Frame = std::vector<uint8_t>;

constexpr AauxSource k48k16{0, 0, 0, 0};  // one channel per audio block: CH1 in the first half
constexpr AauxSource k48k16Second{0, 0, 0, 1};  // CH2 in the second
constexpr AauxSource k32k12Pair{2, 1, 1, 0};  // two channels per audio block, 12-bit non-linear at 32 kHz
const std::array<std::optional<AauxSource>, 4> kStereo = {k48k16, k48k16Second};

// "height frameBytes aspect scan", then each audio stream's "rate/channels/bits"; "-" when not described.
std::string Describe(const Frame& frame)
{
    md::DvFrameInfo i;
    if (!md::ParseDvFrame(frame, i))
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%u %u %u:%u %c", i.height, i.frameBytes, i.aspectX, i.aspectY,
                  i.interlaced ? 'i' : 'p');
    std::string out = text;
    for (uint32_t k = 0; k < i.audioStreams; ++k) {
        std::snprintf(text, sizeof text, " %u/%u/%u", i.audio[k].sampleRate, i.audio[k].channels,
                      i.audio[k].bitsPerSample);
        out += text;
    }
    return out;
}

Frame Patched(Frame f, size_t at, uint8_t value) { return f[at] = value, f; }
Frame Emptied(Frame f, size_t block) { return std::fill_n(f.begin() + ptrdiff_t(block) + 3, 77, 0xFF), f; }

TEST(DvDif, FrameDescription)
{
    const Frame ntsc = DvFrame({.audio = kStereo}), hd = DvFrame({.stype = 0x14, .audio = kStereo});
    const size_t secondHalfAudio = mdtest::DifBlockOffset(false, 0, 5, 6 + 16 * 3);
    struct Case {
        const char* what;
        Frame frame;
        const char* expected;
    } cases[] = {
        {"525/60, 4:3, one channel per audio block: one stereo stream", ntsc, "480 120000 4:3 i 48000/2/16"},
        {"625/50: twelve sequences; DISP 010: 16:9", DvFrame({.pal = true, .disp = 2, .audio = kStereo}),
         "576 144000 16:9 i 48000/2/16"},
        {"DISP 111 with APT 0 (IEC 61834): 16:9; IL 0: not interlaced",
         DvFrame({.disp = 7, .interlaced = false, .audio = kStereo}), "480 120000 16:9 p 48000/2/16"},
        {"DISP 111 with APT 1 (SMPTE 314M) names no 16:9 frame", DvFrame({.apt = 1, .disp = 7, .audio = kStereo}),
         "480 120000 4:3 i 48000/2/16"},
        {"no VS, VSC or AAUX source pack: 4:3 interlaced, no audio", DvFrame({.stype = {}, .disp = {}}),
         "480 120000 4:3 i"},
        {"VS and VSC in the third VAUX block, from the second sequence on",
         Emptied(DvFrame({.disp = 2, .audio = kStereo, .vauxBlock = 2}), mdtest::DifBlockOffset(false, 0, 0, 5)),
         "480 120000 16:9 i 48000/2/16"},
        {"two channels per audio block: two pairs, the second listed though it states no mode",
         DvFrame({.audio = {k32k12Pair, AauxSource{2, 1, 1, 0xF}}}), "480 120000 4:3 i 32000/2/12 32000/2/12"},
        {"one channel per block, the second block without its pack: one channel", DvFrame({.audio = {k48k16}}),
         "480 120000 4:3 i 48000/1/16"},
        {"the first block of a pair without its pack: no stream", DvFrame({.audio = {std::nullopt, k48k16Second}}),
         "480 120000 4:3 i"},
        {"the source packs further into their halves", DvFrame({.audio = kStereo, .laterSequence = true}),
         "480 120000 4:3 i 48000/2/16"},
        {"SMP 3 (reserved): the block describes nothing", DvFrame({.audio = {AauxSource{3, 0, 1, 0}, k32k12Pair}}),
         "480 120000 4:3 i 32000/2/12"},
        {"CHN 2 (reserved): the same", DvFrame({.audio = {AauxSource{2, 1, 2, 0}, k32k12Pair}}),
         "480 120000 4:3 i 32000/2/12"},
        {"QU 3 (reserved): the same; SMP 1 and QU 2: 44.1 kHz 20-bit",
         DvFrame({.audio = {AauxSource{0, 3, 1, 0}, AauxSource{1, 2, 1, 0}}}), "480 120000 4:3 i 44100/2/20"},
        {"50 Mbps: a second channel (FSC 1), STYPE 4; two pairs of two-channel blocks, then a pair of single-channel "
         "blocks",
         DvFrame({.twoChannels = true, .stype = 4, .audio = {k32k12Pair, k32k12Pair, k48k16, k48k16Second}}),
         "480 240000 4:3 i 32000/2/12 32000/2/12 48000/2/16"},
        {"50 Mbps with a stereo pair in the first channel alone: the second channel's audio blocks state nothing "
         "(no source pack), and no stream is made up for them",
         DvFrame({.pal = true, .twoChannels = true, .stype = 4, .audio = kStereo}), "576 288000 4:3 i 48000/2/16"},
        {"STYPE of another format (DVCPRO HD), in the first sequence alone: not described",
         Frame(hd.begin(), hd.begin() + md::kDifSequenceSize), "-"},
        {"the first sequence alone: the second audio block, not reached, taken for the pair's other channel",
         Frame(ntsc.begin(), ntsc.begin() + md::kDifSequenceSize), "480 120000 4:3 i 48000/2/16"},
        {"an audio block with a bad section ID: its pack is not read", Patched(ntsc, secondHalfAudio, 0x97),
         "480 120000 4:3 i 48000/1/16"},
        {"a header block with a bad section ID", Patched(ntsc, 0, 0x5F), "-"},
        {"a subcode block out of its place", Patched(ntsc, 82, 1), "-"},
        {"a frame starting at sequence 1", Frame(ntsc.begin() + md::kDifSequenceSize, ntsc.end()), "-"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Describe(c.frame), c.expected) << c.what;
}

TEST(DvDif, RecordsAndFrameTime)
{
    md::DvFrameInfo ntsc, pal;
    ASSERT_TRUE(md::ParseDvFrame(DvFrame({.audio = kStereo}), ntsc));
    ASSERT_TRUE(md::ParseDvFrame(DvFrame({.pal = true, .twoChannels = true, .stype = 4}), pal));
    // 1001/30000 s and 1/25 s in 100-ns units, rounded.
    EXPECT_EQ(std::tuple(md::DvFrameDuration(ntsc), md::DvFrameDuration(pal)), std::tuple(333667, 400000));

    md::StreamRecord video{}, audio{};
    md::FillDvVideoRecord(pal, video);  // 50 Mbps, bottom field first
    EXPECT_EQ(std::tuple(video.codec, video.video.width, video.video.height, video.frameRate, video.fieldOrder,
                         video.progressive, video.video.bitRate),
              std::tuple(md::StreamCodec::DvVideo, 720u, 576u, 25.0, 2u, uint8_t(0), 50000000u));
    ASSERT_TRUE(md::FillDvAudioRecord(ntsc, 0, audio));
    EXPECT_EQ(std::tuple(audio.codec, audio.audio.channels, audio.audio.sampleRate, audio.audio.bitsPerSample,
                         audio.audio.blockAlign, audio.audio.bytesPerSecond),
              std::tuple(md::StreamCodec::PcmLittleEndian, 2u, 48000u, 16u, 4u, 192000u));
    EXPECT_FALSE(md::FillDvAudioRecord(ntsc, 1, audio));
    ASSERT_TRUE(md::ParseDvFrame(DvFrame({.interlaced = false}), ntsc));
    md::FillDvVideoRecord(ntsc, video);
    EXPECT_EQ(std::tuple(video.progressive, video.fieldOrder), std::tuple(uint8_t(1), 0u)) << "IL 0";
}

}  // namespace
