// PES packet headers (ISO/IEC 11172-1 2.4.3.3, 13818-1 2.4.3.6) on random input; the demultiplexers check real ones.
#include "es/pes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

uint32_t Len(const ByteVec& b) { return uint32_t(b.size()); }

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
            ASSERT_TRUE(r == 0 || r == 4 ||
                        (r <= n && info.packetLength == r && info.payloadOffset <= r && info.pts < int64_t(1) << 33));
        }
        const uint32_t s = SystemHeaderLength(p, n);
        ASSERT_TRUE(s == 0 || s == 4 || (s >= 12 && s <= n));
        ASSERT_LT(ReadPts(p, n), int64_t(1) << 33);
    }
}

}  // namespace
}  // namespace md
