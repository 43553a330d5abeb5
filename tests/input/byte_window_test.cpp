#include "input/byte_window.h"

#include <gtest/gtest.h>

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
    // {commit (else consume), n, result, read offset, write offset}
    const std::tuple<bool, uint32_t, bool, uint32_t, uint32_t> steps[] = {
        {true, 100, false, 0, 0},  {true, 0xFFFFFFFF, false, 0, 0}, {true, 79, true, 0, 79},  {false, 5, true, 5, 79},
        {false, 75, false, 5, 79}, {true, 1, true, 5, 80},          {true, 20, false, 5, 80}, {false, 5, true, 0, 70},
        {true, 10, true, 0, 80},   {false, 80, true, 0, 0},         {true, 60, true, 0, 60},  {false, 10, true, 10, 60},
        {true, 20, true, 10, 80},  {false, 0, true, 0, 70}};
    for (const auto& [commit, n, ok, read, write] : steps) {
        EXPECT_EQ(commit ? w.Commit(n) : w.Consume(n), ok) << commit << " " << n;
        EXPECT_EQ(std::pair(w.ReadOffset(), w.WriteOffset()), std::pair(read, write)) << commit << " " << n;
        EXPECT_EQ(w.ReadPointer(available), base + read);
        EXPECT_EQ(std::pair(available, w.WritePointer()), std::pair(write - read, base + write));
    }
    // Every byte consumed was zeroed (and moved as zero); the last 20 were never reached.
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(base[i], i < 80 ? 0 : i + 1) << i;

    w.Free(), w.Free();  // releases everything, twice harmlessly
    EXPECT_EQ(std::tuple(w.WritePointer(), w.Capacity(), w.Reserve(), w.Writable()), std::tuple(nullptr, 0u, 0u, 0u));
}

}  // namespace
