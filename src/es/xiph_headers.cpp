#include "es/xiph_headers.h"

#include <cstring>
#include <iterator>

namespace md {
namespace {

constexpr size_t kVorbisIdSize = 30;
constexpr size_t kOpusHeadSize = 19;
constexpr size_t kSpeexHeaderSize = 80;
constexpr size_t kTheoraIdSize = 42;

// Vorbis blocksizes are powers of two from 64 (2^6) to 8192 (2^13), the short one no longer than the long one.
constexpr uint32_t kVorbisMinBlockExponent = 6;
constexpr uint32_t kVorbisMaxBlockExponent = 13;

// No Opus packet decodes to more than 120 ms (RFC 6716 3.2.5): 5760 samples at 48 kHz.
constexpr uint32_t kOpusMaxPacketSamples = 5760;

bool StartsWith(Bytes b, const char* magic, size_t n) { return b.size() >= n && std::memcmp(b.data(), magic, n) == 0; }

}  // namespace

bool ParseVorbisIdHeader(Bytes packet, VorbisIdHeader& out)
{
    if (packet.size() < kVorbisIdSize || !StartsWith(packet, "\x01vorbis", 7))
        return false;
    const uint8_t* p = packet.data();
    const uint32_t version = Le32(p + 7);
    const uint32_t channels = p[11];
    const uint32_t rate = Le32(p + 12);
    const uint32_t block0 = p[28] & 0x0F, block1 = p[28] >> 4;
    const bool framing = (p[29] & 1) != 0;
    if (version != 0 || channels == 0 || rate == 0 || !framing || block0 < kVorbisMinBlockExponent ||
        block1 > kVorbisMaxBlockExponent || block0 > block1)
        return false;
    out = {channels, rate, int32_t(Le32(p + 16)), int32_t(Le32(p + 20)), int32_t(Le32(p + 24))};
    return true;
}

bool ParseOpusHead(Bytes packet, OpusHead& out)
{
    if (packet.size() < kOpusHeadSize || !StartsWith(packet, "OpusHead", 8) || packet[9] == 0)
        return false;
    const uint8_t* p = packet.data();
    out = {p[8], p[9], Le16(p + 10), Le32(p + 12), p[18]};
    return true;
}

uint32_t OpusChannelMask(uint32_t mappingFamily, uint32_t channels)
{
    constexpr uint32_t kVorbisOrderMasks[9] = {0, 0, 0, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
    return mappingFamily == 1 && channels < std::size(kVorbisOrderMasks) ? kVorbisOrderMasks[channels] : 0;
}

uint32_t OpusPacketSamples(Bytes packet)
{
    if (packet.empty())
        return 0;
    // The TOC byte: config (5 bits) picks the mode and frame size, c (2 bits) the frame count.
    const uint32_t config = packet[0] >> 3, code = packet[0] & 3;
    static constexpr uint32_t kSilk[4] = {480, 960, 1920, 2880};  // 10, 20, 40, 60 ms
    static constexpr uint32_t kHybrid[2] = {480, 960};  // 10, 20 ms
    static constexpr uint32_t kCelt[4] = {120, 240, 480, 960};  // 2.5, 5, 10, 20 ms
    const uint32_t frame = config < 12 ? kSilk[config & 3] : config < 16 ? kHybrid[config & 1] : kCelt[config & 3];
    uint32_t frames = code == 0 ? 1 : 2;
    if (code == 3) {
        if (packet.size() < 2)
            return 0;
        frames = packet[1] & 0x3F;  // M, the frame count of a code 3 packet
    }
    const uint32_t samples = frame * frames;
    return samples <= kOpusMaxPacketSamples ? samples : 0;
}

bool ParseSpeexHeader(Bytes packet, SpeexHeader& out)
{
    if (packet.size() < kSpeexHeaderSize || !StartsWith(packet, "Speex   ", 8))
        return false;
    const uint8_t* p = packet.data();
    const uint32_t rate = Le32(p + 36), channels = Le32(p + 48);
    if (rate == 0 || channels == 0)
        return false;
    out = {rate, Le32(p + 40), channels, int32_t(Le32(p + 52)), Le32(p + 56), Le32(p + 64), Le32(p + 68)};
    return true;
}

bool ParseTheoraIdHeader(Bytes packet, TheoraIdHeader& out)
{
    if (packet.size() < kTheoraIdSize || !StartsWith(packet, "\x80theora", 7))
        return false;
    const uint8_t* p = packet.data();
    const uint32_t major = p[7], minor = p[8];
    const uint32_t frameWidth = uint32_t(Be16(p + 10)) * 16, frameHeight = uint32_t(Be16(p + 12)) * 16;
    const uint32_t pictureWidth = Be24(p + 14), pictureHeight = Be24(p + 17);
    if (major != 3 || minor != 2 || frameWidth == 0 || frameHeight == 0 || pictureWidth > frameWidth ||
        pictureHeight > frameHeight)
        return false;
    out = {p[9],         pictureWidth, pictureHeight,
           Be32(p + 22), Be32(p + 26), Be24(p + 30),
           Be24(p + 33), Be24(p + 37), uint32_t(Be16(p + 40) >> 5 & 0x1F)};
    return true;
}

}  // namespace md
