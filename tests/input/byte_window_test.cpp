#include "input/byte_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

TEST(ByteWindow, CommitConsumeAndMoveBoundaries)
{
    // Without storage: nothing to read or write; a commit of 0 reaches capacity 0.
    ByteWindow w;
    uint32_t available = 123;
    EXPECT_EQ(w.ReadPointer(available), nullptr);
    EXPECT_EQ(std::tuple(available, w.WritePointer()), std::tuple(0u, nullptr));
    EXPECT_EQ(std::tuple(w.Commit(0), w.Consume(1), w.Consume(0)), std::tuple(false, false, true));

    // Capacity 100, reserve 20, the bytes 1..100. A window never fills completely: write
    // offset + n must stay below the capacity. Consumed bytes are zeroed; when write offset +
    // reserve reaches the capacity the unread bytes move to the start (Consume(0) too).
    ASSERT_TRUE(w.Allocate(100, 20));
    uint8_t* base = w.WritePointer();
    for (int i = 0; i < 100; ++i)
        base[i] = static_cast<uint8_t>(i + 1);
    const struct {
        bool commit;
        uint32_t n;
        bool ok;
        uint32_t read, write;
    } steps[] = {
        {true, 100, false, 0, 0}, {true, 0xFFFFFFFF, false, 0, 0}, {true, 79, true, 0, 79},
        {false, 5, true, 5, 79},  {false, 75, false, 5, 79},       {true, 1, true, 5, 80},
        {true, 20, false, 5, 80}, {false, 5, true, 0, 70},         {true, 10, true, 0, 80},
        {false, 80, true, 0, 0},  {true, 60, true, 0, 60},         {false, 10, true, 10, 60},
        {true, 20, true, 10, 80}, {false, 0, true, 0, 70},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.commit ? w.Commit(s.n) : w.Consume(s.n), s.ok) << s.commit << " " << s.n;
        EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(s.read, s.write)) << s.commit << " " << s.n;
        EXPECT_EQ(w.ReadPointer(available), base + s.read);
        EXPECT_EQ(std::pair(available, w.WritePointer()), std::pair(s.write - s.read, base + s.write));
    }
    // Every byte consumed was zeroed (and moved as zero); the last 20 were never reached.
    EXPECT_TRUE(std::all_of(base, base + 80, [](uint8_t b) { return b == 0; }));
    for (int i = 80; i < 100; ++i)
        ASSERT_EQ(base[i], i + 1) << i;

    // Allocating again resets the offsets and zero-fills; Clear resets only the offsets; Free
    // releases everything, twice harmlessly.
    ASSERT_TRUE(w.Allocate(200, 30));
    EXPECT_EQ(std::tuple(w.ReadOffset(), w.WriteOffset(), w.Capacity(), w.Reserve(), w.Writable()),
              std::tuple(0u, 0u, 200u, 30u, 199u));
    EXPECT_TRUE(std::all_of(w.WritePointer(), w.WritePointer() + 200, [](uint8_t b) { return b == 0; }));
    ASSERT_TRUE(w.Commit(30));
    w.Clear();
    EXPECT_EQ(std::tuple(w.ReadOffset(), w.WriteOffset(), w.Capacity()), std::tuple(0u, 0u, 200u));
    w.Free();
    w.Free();
    EXPECT_EQ(std::tuple(w.WritePointer(), w.Capacity(), w.Reserve(), w.Writable()), std::tuple(nullptr, 0u, 0u, 0u));
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
