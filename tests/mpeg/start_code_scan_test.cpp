#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mpeg/program_stream_demux.h"

namespace md {
namespace {

// The first 00 00 01 <code> found by looking at every position.
uint32_t NaiveFind(const std::vector<uint8_t>& b, int code)
{
    for (uint32_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (code < 0 || b[i + 3] == code))
            return i;
    return static_cast<uint32_t>(b.size());
}

TEST(StartCodeScan, AgreesWithAPositionByPositionSearch)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        // Few distinct byte values so that prefixes, near-prefixes and runs of zeros are common.
        std::vector<uint8_t> b(rng() % 40);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() % 4);
        const auto len = static_cast<uint32_t>(b.size());
        for (int code : {0, 1, 2, 3})
            ASSERT_EQ(FindCode(b.data(), len, static_cast<uint8_t>(code)), NaiveFind(b, code)) << round;
        ASSERT_EQ(FindAnyCode(b.data(), len), NaiveFind(b, -1)) << round;
    }
    const std::vector<uint8_t> tail = {9, 0, 0, 1, 0xB3};  // a prefix in the last four bytes; one cut by the end
    EXPECT_EQ(std::pair(FindCode(tail.data(), 5, 0xB3), FindCode(tail.data(), 4, 0xB3)), std::pair(1u, 4u));
}

}  // namespace
}  // namespace md
