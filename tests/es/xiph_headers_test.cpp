// The Xiph.org identification headers built field by field, and Opus packet sample counts (RFC 6716 3.1).
#include "es/xiph_headers.h"

#include <gtest/gtest.h>

#include "support/stream_builders.h"

namespace {

using mdtest::Be;
using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Le;

ByteVec Changed(ByteVec b, size_t at, uint8_t value) { return b[at] = value, b; }
ByteVec Shortened(ByteVec b, size_t size) { return b.resize(size), b; }

// Vorbis: packet type 1, "vorbis", vorbis_version, audio_channels, audio_sample_rate, the maximum, nominal and
// minimum bit rates (192000, 128000, -1), blocksize_0 and blocksize_1 (4 bits each, exponents of 2), the framing flag.
ByteVec VorbisId(uint32_t version, uint8_t channels, uint32_t rate, uint8_t blocksizes, uint8_t framing)
{
    return Concat({ByteVec{1, 'v', 'o', 'r', 'b', 'i', 's'}, Le(version, 4), ByteVec{channels}, Le(rate, 4),
                   Le(192000, 4), Le(128000, 4), Le(0xFFFFFFFF, 4), ByteVec{blocksizes, framing}});
}

TEST(XiphHeaders, VorbisOpusSpeex)
{
    const ByteVec good = VorbisId(0, 2, 44100, 0xB8, 1);  // blocksizes 256 and 2048
    struct Case {
        const char* rule;
        ByteVec packet;
    } badVorbis[] = {
        {"vorbis_version must be 0", VorbisId(1, 2, 44100, 0xB8, 1)},
        {"audio_channels must be above 0", VorbisId(0, 0, 44100, 0xB8, 1)},
        {"audio_sample_rate must be above 0", VorbisId(0, 2, 0, 0xB8, 1)},
        {"the framing bit must be set", VorbisId(0, 2, 44100, 0xB8, 0)},
        {"blocksize_0 may not exceed blocksize_1", VorbisId(0, 2, 44100, 0x8B, 1)},
        {"blocksizes below 64 are not allowed", VorbisId(0, 2, 44100, 0x85, 1)},
        {"blocksizes above 8192 are not allowed", VorbisId(0, 2, 44100, 0xE8, 1)},
        {"a comment header is no identification header", Changed(good, 0, 3)},
        {"29 bytes are too few", Shortened(good, 29)},
    };
    md::VorbisIdHeader vorbis{};
    for (const Case& c : badVorbis)
        EXPECT_FALSE(md::ParseVorbisIdHeader(c.packet, vorbis)) << c.rule;
    // Blocksizes of 64 and 8192, and equal ones, are allowed.
    for (const uint8_t blocksizes : {0xD6, 0x66})
        EXPECT_TRUE(md::ParseVorbisIdHeader(VorbisId(0, 2, 44100, blocksizes, 1), vorbis)) << int(blocksizes);
    ASSERT_TRUE(md::ParseVorbisIdHeader(good, vorbis));
    EXPECT_EQ(std::tuple(vorbis.channels, vorbis.sampleRate, vorbis.bitrateMaximum, vorbis.bitrateNominal,
                         vorbis.bitrateMinimum),
              std::tuple(2u, 44100u, 192000, 128000, -1));

    // OpusHead: magic, version, channels, pre-skip, input rate, gain, mapping family 1 and its table (23 bytes).
    const ByteVec opus = Concat({ByteVec{'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 2}, Le(312, 2), Le(44100, 4),
                                 Le(0, 2), ByteVec{1, 1, 1, 0, 1}});
    md::OpusHead head{};
    ASSERT_TRUE(md::ParseOpusHead(opus, head));
    EXPECT_EQ(std::tuple(head.version, head.channels, head.preSkip, head.inputSampleRate, head.mappingFamily),
              std::tuple(1u, 2u, 312u, 44100u, 1u));
    EXPECT_FALSE(md::ParseOpusHead(Changed(opus, 9, 0), head)) << "no channels";
    EXPECT_FALSE(md::ParseOpusHead(Shortened(opus, 18), head)) << "18 bytes";
    EXPECT_TRUE(md::ParseOpusHead(Changed(opus, 8, 16), head) && head.version == 16) << "the version is the caller's";

    // The Speex header: 8-byte magic, 20-byte version string, then little-endian 32-bit fields (80 bytes).
    const auto speex = [](uint32_t rate, uint32_t channels) {
        ByteVec b = {'S', 'p', 'e', 'e', 'x', ' ', ' ', ' '};
        b.resize(28, 0);
        for (uint32_t v : {1u, 80u, rate, 1u, 4u, channels, 27800u, 320u, 0u, 2u, 1u, 0u, 0u})
            mdtest::PutLe(b, v, 4);
        return b;
    };
    md::SpeexHeader sh{};
    ASSERT_TRUE(md::ParseSpeexHeader(speex(16000, 1), sh));
    EXPECT_EQ(
        std::tuple(sh.sampleRate, sh.mode, sh.channels, sh.bitrate, sh.frameSize, sh.framesPerPacket, sh.extraHeaders),
        std::tuple(16000u, 1u, 1u, 27800, 320u, 2u, 1u));
    EXPECT_FALSE(md::ParseSpeexHeader(speex(0, 1), sh)) << "rate 0";
    EXPECT_FALSE(md::ParseSpeexHeader(speex(16000, 0), sh)) << "no channels";
    EXPECT_FALSE(md::ParseSpeexHeader(Shortened(speex(16000, 1), 79), sh)) << "79 bytes";
}

TEST(XiphHeaders, OpusPacketSamplesByToc)
{
    const auto toc = [](uint8_t config, uint8_t code) { return uint8_t(config << 3 | code); };
    struct Case {
        const char* rule;
        ByteVec packet;
        uint32_t samples;
    } cases[] = {
        {"SILK NB 10 ms, one frame", {toc(0, 0)}, 480},
        {"SILK NB 20 ms, two equal frames", {toc(1, 1), 0}, 1920},
        {"SILK WB 60 ms, two frames: 120 ms", {toc(11, 2), 0}, 5760},
        {"Hybrid SWB 10 ms", {toc(12, 0)}, 480},
        {"Hybrid FB 20 ms", {toc(15, 0)}, 960},
        {"CELT NB 2.5 ms", {toc(16, 0)}, 120},
        {"CELT FB 5 ms", {toc(29, 0)}, 240},
        {"CELT WB 10 ms", {toc(26, 0)}, 480},
        {"CELT FB 20 ms, code 3 with three frames", {toc(31, 3), 3}, 2880},
        {"code 3: six 20 ms frames are 120 ms", {toc(31, 3), 0x86}, 5760},
        {"code 3: seven 20 ms frames are over 120 ms", {toc(31, 3), 7}, 0},
        {"code 3 without its frame count byte", {toc(31, 3)}, 0},
        {"code 3 with a frame count of 0", {toc(31, 3), 0}, 0},
        {"an empty packet", {}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(md::OpusPacketSamples(c.packet), c.samples) << c.rule;
}

// Opus mapping family 1 is the Vorbis channel order; the speaker sets of 3 to 8 channels, each as named.
TEST(XiphHeaders, OpusChannelMaskOfTheVorbisOrder)
{
    constexpr uint32_t L = 0x1, R = 0x2, C = 0x4, LFE = 0x8, BL = 0x10, BR = 0x20, BC = 0x100, SL = 0x200, SR = 0x400;
    struct Case {
        const char* rule;
        uint32_t family, channels, mask;
    } cases[] = {
        {"L C R", 1, 3, L | C | R},
        {"quadraphonic: L R, rear L R", 1, 4, L | R | BL | BR},
        {"5.0: L C R, rear L R", 1, 5, L | C | R | BL | BR},
        {"5.1: L C R, rear L R, LFE", 1, 6, L | C | R | BL | BR | LFE},
        {"6.1: L C R, side L R, rear centre, LFE", 1, 7, L | C | R | SL | SR | BC | LFE},
        {"7.1: L C R, side L R, rear L R, LFE", 1, 8, L | C | R | SL | SR | BL | BR | LFE},
        {"mono and stereo state no speakers", 1, 2, 0},
        {"family 0 (mono, stereo)", 0, 2, 0},
        {"family 1 has at most eight channels", 1, 9, 0},
        {"ambisonics", 2, 4, 0},
        {"application-defined channels", 255, 6, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(md::OpusChannelMask(c.family, c.channels), c.mask) << c.rule;
}

TEST(XiphHeaders, TheoraIdentification)
{
    // Fields in order: VMAJ VMIN VREV, FMBW FMBH (16 bits), PICW PICH (24), PICX PICY (8), FRN FRD (32), PARN PARD
    // (24), CS (8), NOMBR (24), then QUAL (6 bits) KFGSHIFT (5) PF (2) and three reserved bits.
    struct Fields {
        uint8_t major = 3, minor = 2, revision = 1;
        uint16_t mbWidth = 20, mbHeight = 15;
        uint32_t picWidth = 320, picHeight = 240;
        uint8_t shift = 6;
    };
    const auto theora = [](const Fields& f) {
        return Concat({ByteVec{0x80, 't', 'h', 'e', 'o', 'r', 'a', f.major, f.minor, f.revision}, Be(f.mbWidth, 2),
                       Be(f.mbHeight, 2), Be(f.picWidth, 3), Be(f.picHeight, 3), ByteVec{0, 0}, Be(30000, 4),
                       Be(1001, 4), Be(8, 3), Be(9, 3), ByteVec{0}, Be(300000, 3),
                       Be(uint32_t(63) << 10 | uint32_t(f.shift) << 5 | 2u << 3, 2)});
    };
    md::TheoraIdHeader h{};
    ASSERT_TRUE(md::ParseTheoraIdHeader(theora({}), h));
    EXPECT_EQ(
        std::tuple(h.versionRevision, h.pictureWidth, h.pictureHeight, h.frameRateNumerator, h.frameRateDenominator,
                   h.pixelAspectNumerator, h.pixelAspectDenominator, h.nominalBitrate, h.keyframeGranuleShift),
        std::tuple(1u, 320u, 240u, 30000u, 1001u, 8u, 9u, 300000u, 6u));
    struct Case {
        const char* rule;
        Fields fields;
        bool ok;
    } cases[] = {
        {"a picture smaller than the frame; KFGSHIFT 31", {.picWidth = 310, .picHeight = 230, .shift = 31}, true},
        {"a picture wider than its macroblocks", {.picWidth = 321}, false},
        {"a picture taller than its macroblocks", {.picHeight = 241}, false},
        {"no macroblock rows", {.mbHeight = 0, .picHeight = 0}, false},
        {"no macroblock columns", {.mbWidth = 0, .picWidth = 0}, false},
        {"major version 4", {.major = 4}, false},
        {"minor version 3", {.minor = 3}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(md::ParseTheoraIdHeader(theora(c.fields), h), c.ok) << c.rule;
        EXPECT_TRUE(!c.ok || h.keyframeGranuleShift == c.fields.shift) << c.rule;
    }
    EXPECT_FALSE(md::ParseTheoraIdHeader(Shortened(theora({}), 41), h)) << "41 bytes";
}

}  // namespace
