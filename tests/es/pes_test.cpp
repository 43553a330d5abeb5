// PES packet headers (ISO/IEC 11172-1 2.4.3.3, 13818-1 2.4.3.6) and PTS fields, as rows of hand-built packets.
#include "es/pes.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;
using mdtest::Timestamp;

uint32_t Len(const ByteVec& b) { return uint32_t(b.size()); }

// 00 00 01 id, PES_packet_length, then the parts.
ByteVec Packet(uint8_t id, std::initializer_list<std::span<const uint8_t>> parts)
{
    const ByteVec body = mdtest::Concat(parts);
    return mdtest::Concat({ByteVec{0, 0, 1, id, uint8_t(body.size() >> 8), uint8_t(body.size())}, body});
}

// A timestamp whose marker bit in byte `at` is cleared.
ByteVec BrokenMarker(ByteVec b, size_t at) { return b.at(at) &= 0xFE, b; }

TEST(Pes, HeaderTable)
{
    const ByteVec payload = {0xAA, 0xBB, 0xCC};
    constexpr int64_t kNoPts = -2;
    const struct {
        int mpeg;
        ByteVec bytes;
        uint32_t result, payloadOffset;
        int64_t pts;
    } rows[] = {
        // MPEG-2: '10' flags, PTS_DTS_flags, PES_header_data_length, then the header data.
        {2, Packet(0xE0, {ByteVec{0x80, 0x80, 5}, Timestamp(2, 0x123456789), payload}), 17, 14, 0x123456789},
        // A broken marker in the last PTS byte leaves the packet standing without a PTS; in the first it does not.
        {2, Packet(0xE0, {ByteVec{0x80, 0x80, 5}, BrokenMarker(Timestamp(2, 3600), 2), payload}), 17, 14, -1},
        {2, Packet(0xE0, {ByteVec{0x80, 0x80, 5}, BrokenMarker(Timestamp(2, 3600), 0), payload}), 4, 0, kNoPts},
        // MPEG-1: stuffing, STD buffer fields ('01' scale size), then a PTS or PTS and DTS.
        {1, Packet(0xC0, {ByteVec{0xFF, 0xFF, 0xFF, 0x60, 0x2E}, Timestamp(2, 0x1ABCDEF01), payload}), 19, 16,
         0x1ABCDEF01},
        {1, Packet(0xC0, {BrokenMarker(Timestamp(3, 5), 2), Timestamp(1, 2)}), 4, 0, kNoPts},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        PesInfo info{1, 1, 1, 1};
        const uint32_t result = r.mpeg == 1 ? ParseMpeg1PesHeader(r.bytes.data(), Len(r.bytes), info)
                                            : ParseMpeg2PesHeader(r.bytes.data(), Len(r.bytes), info);
        // The record is cleared first and filled only for a packet.
        EXPECT_EQ(std::tuple(result, info.packetLength, info.payloadOffset, info.ptsPresent, info.pts),
                  std::tuple(r.result, r.result > 4 ? r.result : 0, r.payloadOffset, r.pts == kNoPts ? 0u : 1u,
                             r.pts == kNoPts ? 0 : r.pts))
            << "row " << i;
    }
}

// Random packets parsed at their exact length: every result is 0, 4 or a packet length that fits.
TEST(Pes, RandomInputStaysInBounds)
{
    std::mt19937 rng(77);
    const uint8_t ids[] = {0xE0, 0xC0, 0xBD, 0xBF, 0xBE, 0xBB, 0xF0};
    for (int round = 0; round < 50000; ++round) {
        ByteVec b(rng() % 48);
        for (auto& v : b)
            v = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        if (b.size() >= 6)
            b[0] = 0, b[1] = 0, b[2] = 1, b[3] = ids[rng() % sizeof ids], b[4] = 0, b[5] = uint8_t(rng() % 48);
        const uint8_t* p = b.empty() ? nullptr : b.data();
        const uint32_t n = Len(b);
        PesInfo info{};
        for (int which = 0; which < 2; ++which) {
            const uint32_t r = which ? ParseMpeg2PesHeader(p, n, info) : ParseMpeg1PesHeader(p, n, info);
            if (r != 0 && r != 4) {
                ASSERT_TRUE(r <= n && info.packetLength == r && info.payloadOffset <= r);
                ASSERT_LT(info.pts, int64_t(1) << 33);
            }
        }
        const uint32_t s = SystemHeaderLength(p, n);
        ASSERT_TRUE(s == 0 || s == 4 || (s >= 12 && s <= n));
        ASSERT_LT(ReadPts(p, n), int64_t(1) << 33);
    }
}

}  // namespace
}  // namespace md
