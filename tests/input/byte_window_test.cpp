#include "input/byte_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

TEST(ByteWindow, EmptyAllocatedAndFreed)
{
    ByteWindow w;
    uint32_t available = 123;
    EXPECT_EQ(w.ReadPointer(available), nullptr);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(w.WritePointer(), nullptr);
    EXPECT_FALSE(w.Commit(0));  // 0 + 0 reaches capacity 0
    EXPECT_FALSE(w.Consume(1));
    EXPECT_TRUE(w.Consume(0));

    ASSERT_TRUE(w.Allocate(100, 20));
    std::memset(w.WritePointer(), 0xFF, 50);
    ASSERT_TRUE(w.Commit(50));
    ASSERT_TRUE(w.Consume(5));
    // Allocating again resets the offsets and zero-fills.
    ASSERT_TRUE(w.Allocate(200, 30));
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(0u, 0u));
    EXPECT_EQ(std::pair(w.Capacity(), w.Reserve()), std::pair(200u, 30u));
    const uint8_t* p = w.WritePointer();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::all_of(p, p + 200, [](uint8_t b) { return b == 0; }));

    ASSERT_TRUE(w.Commit(30));
    w.Clear();  // offsets only
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(0u, 0u));
    EXPECT_EQ(w.Capacity(), 200u);
    w.Free();
    EXPECT_EQ(w.WritePointer(), nullptr);
    EXPECT_EQ(std::pair(w.Capacity(), w.Reserve()), std::pair(0u, 0u));
    w.Free();  // twice is harmless
}

TEST(ByteWindow, CommitConsumeAndMoveBoundaries)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    uint8_t* base = w.WritePointer();
    for (int i = 0; i < 100; ++i)
        base[i] = static_cast<uint8_t>(i + 1);
    // A window never fills completely: write offset + n must stay below the capacity.
    EXPECT_FALSE(w.Commit(100));
    EXPECT_FALSE(w.Commit(0xFFFFFFFFu));  // no wrap-around in the test
    ASSERT_TRUE(w.Commit(79));            // 79 + 20 = 99 < 100: no move yet
    uint32_t available = 0;
    EXPECT_EQ(w.ReadPointer(available), base);
    EXPECT_EQ(available, 79u);
    EXPECT_EQ(w.WritePointer(), base + 79);

    ASSERT_TRUE(w.Consume(5));
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(5u, 79u));
    EXPECT_TRUE(std::all_of(base, base + 5, [](uint8_t b) { return b == 0; }));  // consumed bytes are zeroed
    EXPECT_EQ(base[5], 6);
    EXPECT_FALSE(w.Consume(75));  // more than the 74 unread: nothing changes
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(5u, 79u));

    // 80 + 20 = 100 reaches the capacity: the unread bytes move to the start.
    ASSERT_TRUE(w.Commit(1));
    EXPECT_FALSE(w.Commit(20));
    ASSERT_TRUE(w.Consume(5));
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(0u, 70u));
    const uint8_t* r = w.ReadPointer(available);
    ASSERT_EQ(available, 70u);
    EXPECT_EQ(r, base);
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(r[i], i + 11) << i;

    // Consuming everything near the end rewinds to 0; Consume(0) applies the move test too.
    ASSERT_TRUE(w.Allocate(50, 10));
    ASSERT_TRUE(w.Commit(45));
    ASSERT_TRUE(w.Consume(45));
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(0u, 0u));
    ASSERT_TRUE(w.Commit(20));
    ASSERT_TRUE(w.Consume(5));  // 20 + 10 < 50: stays
    ASSERT_TRUE(w.Commit(25));
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(5u, 45u));
    ASSERT_TRUE(w.Consume(0));  // 45 + 10 reaches 50: moves
    EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(0u, 40u));
}

// The callers' pattern: read the reserve's worth, commit, parse, consume all
// but an unfinished tail. Every byte comes out once, in order.
TEST(ByteWindow, StreamingPatternKeepsBytesContiguousAndInOrder)
{
    std::vector<uint8_t> source(100000);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 7 + i / 256);

    ByteWindow w;
    constexpr uint32_t kReserve = 4096;
    ASSERT_TRUE(w.Allocate(20480, kReserve));
    std::vector<uint8_t> out;
    size_t fed = 0;
    int round = 0;
    while (fed < source.size()) {
        ASSERT_GE(w.Writable(), kReserve);
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kReserve, source.size() - fed));
        std::memcpy(w.WritePointer(), source.data() + fed, n);
        ASSERT_TRUE(w.Commit(n));
        fed += n;
        uint32_t available = 0;
        const uint8_t* r = w.ReadPointer(available);
        // Keep a tail of varying length, as a parser with a split header would.
        const uint32_t keep = fed < source.size() ? std::min<uint32_t>(available, (round++ * 37) % 3000) : 0;
        out.insert(out.end(), r, r + (available - keep));
        ASSERT_TRUE(w.Consume(available - keep));
    }
    EXPECT_EQ(out, source);
}

}  // namespace
