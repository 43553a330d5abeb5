// PES packet headers (ISO/IEC 11172-1 2.4.3.3, 13818-1 2.4.3.6): timestamp markers, stuffing, and random input.
#include "es/pes.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

uint32_t Len(const ByteVec& b) { return uint32_t(b.size()); }

// A PTS/DTS field: the 4-bit prefix, the 33-bit time in three parts with their marker bits; brokenAt clears one.
ByteVec Pts(unsigned prefix, uint64_t t, int brokenAt = -1)
{
    ByteVec b = {uint8_t(prefix << 4 | (t >> 29 & 0x0E) | 1), uint8_t(t >> 22), uint8_t(t >> 14 | 1), uint8_t(t >> 7),
                 uint8_t(t << 1 | 1)};
    if (brokenAt >= 0)
        b[brokenAt] &= 0xFE;
    return b;
}

// 00 00 01 id, PES_packet_length, then the parts.
ByteVec Packet(uint8_t id, std::initializer_list<std::span<const uint8_t>> parts)
{
    const ByteVec body = mdtest::Concat(parts);
    return mdtest::Concat({ByteVec{0, 0, 1, id, uint8_t(body.size() >> 8), uint8_t(body.size())}, body});
}

TEST(Pes, TimestampMarkersAndMpeg1Stuffing)
{
    const ByteVec payload = {0xAA, 0xBB, 0xCC}, mpeg2 = {0x80, 0x80, 5};  // '10', PTS only, 5 header bytes
    constexpr int64_t kNoPacket = -2;
    ByteVec cutPts = Packet(0xE0, {ByteVec{0x80, 0x80, 0}, Pts(2, 3600)});
    cutPts[5] = 4;  // PES_packet_length ends the packet after the PTS's first byte; the buffer goes on
    // {MPEG-1, packet, result, payload offset, PTS}: a broken marker in the last PTS byte leaves the packet
    // standing without a PTS, in the first it is no packet; MPEG-1 stuffing and STD buffer fields come first.
    const std::tuple<bool, ByteVec, uint32_t, uint32_t, int64_t> rows[] = {
        {false, Packet(0xE0, {mpeg2, Pts(2, 0x123456789), payload}), 17, 14, 0x123456789},
        {false, Packet(0xE0, {mpeg2, Pts(2, 3600, 2), payload}), 17, 14, -1},
        {false, Packet(0xE0, {mpeg2, Pts(2, 3600, 0), payload}), 4, 0, kNoPacket},
        {false, cutPts, 10, 9, -1},
        {true, Packet(0xC0, {ByteVec{0xFF, 0xFF, 0xFF, 0x60, 0x2E}, Pts(2, 0x1ABCDEF01), payload}), 19, 16, 0x1ABCDEF01},
        {true, Packet(0xC0, {Pts(3, 5, 2), Pts(1, 2)}), 4, 0, kNoPacket},
    };
    for (const auto& [mpeg1, bytes, result, offset, pts] : rows) {
        PesInfo info{1, 1, 1, 1};  // cleared first, filled only for a packet
        const uint32_t r = mpeg1 ? ParseMpeg1PesHeader(bytes.data(), Len(bytes), info)
                                 : ParseMpeg2PesHeader(bytes.data(), Len(bytes), info);
        EXPECT_EQ(std::tuple(r, info.packetLength, info.payloadOffset, info.ptsPresent, info.pts),
                  std::tuple(result, result > 4 ? result : 0, offset, pts == kNoPacket ? 0u : 1u,
                             pts == kNoPacket ? 0 : pts))
            << int(bytes[3]) << " " << result;
    }
}

}  // namespace
}  // namespace md
