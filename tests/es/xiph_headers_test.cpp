// The Xiph.org identification headers built field by field from their published layouts, each row a rule of the
// format; and the sample counts of Opus packets by TOC byte (RFC 6716 3.1).
#include "es/xiph_headers.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;

void PutLe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void PutBe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

ByteVec Changed(ByteVec b, size_t at, uint8_t value) { return b[at] = value, b; }
ByteVec Shortened(ByteVec b) { return b.pop_back(), b; }

ByteVec VorbisId(uint32_t version, uint8_t channels, uint32_t rate, uint8_t blocksizes, uint8_t framing)
{
    ByteVec b = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    PutLe(b, version, 4), b.push_back(channels), PutLe(b, rate, 4);
    PutLe(b, 0, 4), PutLe(b, 128000, 4), PutLe(b, 0xFFFFFFFF, 4);  // maximum, nominal, minimum (-1)
    b.push_back(blocksizes), b.push_back(framing);
    return b;
}

TEST(XiphHeaders, VorbisOpusSpeex)
{
    struct Case {
        const char* rule;
        ByteVec packet;
        bool ok;
        uint32_t channels, rate;
    } vorbis[] = {
        {"blocksizes 256 and 2048, framing bit set", VorbisId(0, 2, 44100, 0xB8, 1), true, 2, 44100},
        {"vorbis_version must be 0", VorbisId(1, 2, 44100, 0xB8, 1), false, 0, 0},
        {"audio_channels must be above 0", VorbisId(0, 0, 44100, 0xB8, 1), false, 0, 0},
        {"audio_sample_rate must be above 0", VorbisId(0, 2, 0, 0xB8, 1), false, 0, 0},
        {"the framing bit must be set", VorbisId(0, 2, 44100, 0xB8, 0), false, 0, 0},
        {"blocksize_0 may not exceed blocksize_1", VorbisId(0, 2, 44100, 0x8B, 1), false, 0, 0},
        {"blocksizes below 64 are not allowed", VorbisId(0, 2, 44100, 0x85, 1), false, 0, 0},
        {"a comment header is no identification header", Changed(VorbisId(0, 2, 44100, 0xB8, 1), 0, 3), false, 0, 0},
        {"29 bytes are too few", Shortened(VorbisId(0, 2, 44100, 0xB8, 1)), false, 0, 0},
    };
    for (const Case& c : vorbis) {
        md::VorbisIdHeader h{};
        const bool ok = md::ParseVorbisIdHeader(c.packet, h);
        EXPECT_EQ(std::tuple(ok, ok ? h.channels : 0, ok ? h.sampleRate : 0), std::tuple(c.ok, c.channels, c.rate))
            << c.rule;
        if (ok) {
            EXPECT_EQ(std::tuple(h.bitrateNominal, h.bitrateMinimum), std::tuple(128000, -1)) << c.rule;
        }
    }

    // OpusHead: magic, version, channels, pre-skip, input rate, gain, mapping family.
    const auto opusHead = [](uint8_t version, uint8_t channels, size_t size) {
        ByteVec b = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', version, channels};
        PutLe(b, 312, 2), PutLe(b, 44100, 4), PutLe(b, 0, 2), b.push_back(0);
        b.resize(size);
        return b;
    };
    md::OpusHead head{};
    ASSERT_TRUE(md::ParseOpusHead(opusHead(1, 2, 19), head));
    EXPECT_EQ(std::tuple(head.version, head.channels, head.preSkip, head.inputSampleRate, head.mappingFamily),
              std::tuple(1u, 2u, 312u, 44100u, 0u));
    EXPECT_FALSE(md::ParseOpusHead(opusHead(1, 0, 19), head)) << "no channels";
    EXPECT_FALSE(md::ParseOpusHead(opusHead(1, 2, 18), head)) << "18 bytes";
    EXPECT_TRUE(md::ParseOpusHead(opusHead(16, 2, 19), head) && head.version == 16) << "the version is the caller's";

    // The Speex header: 8-byte magic, 20-byte version string, then little-endian 32-bit fields.
    const auto speex = [](uint32_t rate, uint32_t channels, size_t size) {
        ByteVec b = {'S', 'p', 'e', 'e', 'x', ' ', ' ', ' '};
        b.resize(28, 0);
        for (uint32_t v : {1u, 80u, rate, 1u, 4u, channels, 27800u, 320u, 0u, 2u, 1u, 0u, 0u})
            PutLe(b, v, 4);
        b.resize(size);
        return b;
    };
    md::SpeexHeader sh{};
    ASSERT_TRUE(md::ParseSpeexHeader(speex(16000, 1, 80), sh));
    EXPECT_EQ(
        std::tuple(sh.sampleRate, sh.mode, sh.channels, sh.bitrate, sh.frameSize, sh.framesPerPacket, sh.extraHeaders),
        std::tuple(16000u, 1u, 1u, 27800, 320u, 2u, 1u));
    EXPECT_FALSE(md::ParseSpeexHeader(speex(0, 1, 80), sh)) << "rate 0";
    EXPECT_FALSE(md::ParseSpeexHeader(speex(16000, 0, 80), sh)) << "no channels";
    EXPECT_FALSE(md::ParseSpeexHeader(speex(16000, 1, 79), sh)) << "79 bytes";
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

TEST(XiphHeaders, TheoraIdentification)
{
    // Fields in order: VMAJ VMIN VREV, FMBW FMBH (16 bits), PICW PICH (24), PICX PICY (8), FRN FRD (32), PARN PARD
    // (24), CS (8), NOMBR (24), then QUAL (6 bits) KFGSHIFT (5) PF (2) and three reserved bits.
    struct Fields {
        uint8_t major = 3, minor = 2, revision = 1;
        uint16_t mbWidth = 20, mbHeight = 15;
        uint32_t picWidth = 320, picHeight = 240, frn = 30000, frd = 1001, parn = 8, pard = 9, bitrate = 300000;
        uint8_t shift = 6;
    };
    const auto theora = [](const Fields& f) {
        ByteVec b = {0x80, 't', 'h', 'e', 'o', 'r', 'a', f.major, f.minor, f.revision};
        PutBe(b, f.mbWidth, 2), PutBe(b, f.mbHeight, 2), PutBe(b, f.picWidth, 3), PutBe(b, f.picHeight, 3);
        b.push_back(0), b.push_back(0), PutBe(b, f.frn, 4), PutBe(b, f.frd, 4), PutBe(b, f.parn, 3),
            PutBe(b, f.pard, 3);
        b.push_back(0), PutBe(b, f.bitrate, 3), PutBe(b, uint32_t(63) << 10 | uint32_t(f.shift) << 5 | 2u << 3, 2);
        return b;
    };
    md::TheoraIdHeader h{};
    ASSERT_TRUE(md::ParseTheoraIdHeader(theora({}), h));
    EXPECT_EQ(
        std::tuple(h.versionRevision, h.pictureWidth, h.pictureHeight, h.frameRateNumerator, h.frameRateDenominator,
                   h.pixelAspectNumerator, h.pixelAspectDenominator, h.nominalBitrate, h.keyframeGranuleShift),
        std::tuple(1u, 320u, 240u, 30000u, 1001u, 8u, 9u, 300000u, 6u));
    const auto with = [](auto change) {
        Fields f;
        change(f);
        return f;
    };
    struct Case {
        const char* rule;
        Fields fields;
        bool ok;
    } cases[] = {
        {"a picture smaller than the frame", with([](Fields& f) { f.picWidth = 310, f.picHeight = 230; }), true},
        {"KFGSHIFT 31", with([](Fields& f) { f.shift = 31; }), true},
        {"a picture wider than its macroblocks", with([](Fields& f) { f.picWidth = 321; }), false},
        {"no macroblock rows", with([](Fields& f) { f.mbHeight = 0, f.picHeight = 0; }), false},
        {"major version 4", with([](Fields& f) { f.major = 4; }), false},
        {"minor version 3", with([](Fields& f) { f.minor = 3; }), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(md::ParseTheoraIdHeader(theora(c.fields), h), c.ok) << c.rule;
        EXPECT_TRUE(!c.ok || h.keyframeGranuleShift == c.fields.shift) << c.rule;
    }
    ByteVec shortPacket = theora({});
    shortPacket.pop_back();
    EXPECT_FALSE(md::ParseTheoraIdHeader(shortPacket, h)) << "41 bytes";
}

}  // namespace
