#include "input/byte_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

TEST(ByteWindow, EmptyBeforeAllocate)
{
    ByteWindow w;
    EXPECT_EQ(w.WritePointer(), nullptr);
    uint32_t available = 123;
    EXPECT_EQ(w.ReadPointer(available), nullptr);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(w.Capacity(), 0u);
    EXPECT_EQ(w.Reserve(), 0u);
    EXPECT_FALSE(w.Commit(0));  // 0 + 0 >= capacity 0
    EXPECT_FALSE(w.Consume(1));
    EXPECT_TRUE(w.Consume(0));
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
}

TEST(ByteWindow, AllocateZeroFillsAndStoresSizes)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    EXPECT_EQ(w.Capacity(), 100u);
    EXPECT_EQ(w.Reserve(), 20u);
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
    const uint8_t* p = w.WritePointer();
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p[i], 0) << i;
}

TEST(ByteWindow, CommitOfExactlyTheFreeSpaceFails)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 10));
    EXPECT_FALSE(w.Commit(100));
    EXPECT_EQ(w.WriteOffset(), 0u);
    EXPECT_TRUE(w.Commit(99));
    EXPECT_EQ(w.WriteOffset(), 99u);
    EXPECT_FALSE(w.Commit(1));  // 99 + 1 >= 100: a window never fills completely
    EXPECT_EQ(w.WriteOffset(), 99u);
    EXPECT_FALSE(w.Commit(0xFFFFFFFFu));  // no wrap-around in the test
    EXPECT_EQ(w.WriteOffset(), 99u);
}

TEST(ByteWindow, ReadPointerShowsCommittedBytes)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(64, 8));
    std::memcpy(w.WritePointer(), "abcdef", 6);
    ASSERT_TRUE(w.Commit(6));
    uint32_t available = 0;
    const uint8_t* r = w.ReadPointer(available);
    ASSERT_EQ(available, 6u);
    EXPECT_EQ(std::memcmp(r, "abcdef", 6), 0);
    EXPECT_EQ(w.WritePointer(), r + 6);
}

TEST(ByteWindow, ConsumeMoreThanAvailableFailsAndChangesNothing)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 10));
    ASSERT_TRUE(w.Commit(30));
    ASSERT_TRUE(w.Consume(10));
    EXPECT_FALSE(w.Consume(21));
    EXPECT_EQ(w.ReadOffset(), 10u);
    EXPECT_EQ(w.WriteOffset(), 30u);
    EXPECT_TRUE(w.Consume(20));
    EXPECT_EQ(w.ReadOffset(), 30u);
}

TEST(ByteWindow, ConsumeZeroFillsTheConsumedBytes)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 10));
    uint8_t* base = w.WritePointer();
    std::memset(base, 0xAB, 40);
    ASSERT_TRUE(w.Commit(40));
    ASSERT_TRUE(w.Consume(15));
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(base[i], 0) << i;
    for (int i = 15; i < 40; ++i)
        EXPECT_EQ(base[i], 0xAB) << i;
}

TEST(ByteWindow, NoMoveWhileWriteOffsetPlusReserveIsBelowCapacity)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    ASSERT_TRUE(w.Commit(79));  // 79 + 20 = 99 < 100
    ASSERT_TRUE(w.Consume(10));
    EXPECT_EQ(w.ReadOffset(), 10u);
    EXPECT_EQ(w.WriteOffset(), 79u);
}

TEST(ByteWindow, UnreadBytesMoveToTheStartWhenReserveReachesCapacity)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    uint8_t* base = w.WritePointer();
    for (int i = 0; i < 80; ++i)
        base[i] = static_cast<uint8_t>(i + 1);
    ASSERT_TRUE(w.Commit(80));  // 80 + 20 = 100: the edge of the test (>=)
    ASSERT_TRUE(w.Consume(10));
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 70u);
    uint32_t available = 0;
    const uint8_t* r = w.ReadPointer(available);
    EXPECT_EQ(r, base);
    ASSERT_EQ(available, 70u);
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(r[i], i + 11) << i;
    EXPECT_EQ(w.WritePointer(), base + 70);
}

TEST(ByteWindow, ConsumingEverythingNearTheEndRewindsToZero)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(50, 10));
    ASSERT_TRUE(w.Commit(45));
    ASSERT_TRUE(w.Consume(45));
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
    // Consume(0) also applies the move test.
    ASSERT_TRUE(w.Commit(41));
    ASSERT_TRUE(w.Consume(0));
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 41u);
}

TEST(ByteWindow, FreeZeroesEverything)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    ASSERT_TRUE(w.Commit(30));
    ASSERT_TRUE(w.Consume(5));
    w.Free();
    EXPECT_EQ(w.WritePointer(), nullptr);
    EXPECT_EQ(w.Capacity(), 0u);
    EXPECT_EQ(w.Reserve(), 0u);
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
    w.Free();  // twice is harmless
}

TEST(ByteWindow, AllocateAgainResetsOffsets)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    std::memset(w.WritePointer(), 0xFF, 50);
    ASSERT_TRUE(w.Commit(50));
    ASSERT_TRUE(w.Consume(5));
    ASSERT_TRUE(w.Allocate(200, 30));
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
    EXPECT_EQ(w.Capacity(), 200u);
    EXPECT_EQ(w.Reserve(), 30u);
    EXPECT_EQ(w.WritePointer()[0], 0);
}

TEST(ByteWindow, ClearResetsOffsetsOnly)
{
    ByteWindow w;
    ASSERT_TRUE(w.Allocate(100, 20));
    ASSERT_TRUE(w.Commit(30));
    ASSERT_TRUE(w.Consume(5));
    w.Clear();
    EXPECT_EQ(w.ReadOffset(), 0u);
    EXPECT_EQ(w.WriteOffset(), 0u);
    EXPECT_EQ(w.Capacity(), 100u);
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
