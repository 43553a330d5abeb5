#include "input/memory_input_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(MemoryInputStream, ReadsSeeksAndCounts)
{
    std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    md::MemoryInputStream s(bytes.data(), bytes.size(), "mem.bin");
    EXPECT_EQ(s.Size(), 10u);
    uint8_t buf[8] = {};
    EXPECT_EQ(s.Read(buf, 4), 4u);
    EXPECT_EQ(buf[3], 4);
    EXPECT_EQ(s.Seek(8), 0);
    EXPECT_EQ(s.Read(buf, 8), 2u);
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(s.Read(buf, 8), 0u);
    EXPECT_EQ(s.Seek(100), 0);  // past the end succeeds
    EXPECT_EQ(s.Read(buf, 1), 0u);
    EXPECT_EQ(s.BytesRead(), 6u);
    EXPECT_EQ(s.Reads(), 4u);
    EXPECT_EQ(s.Seeks(), 2u);
    std::string path;
    s.GetPath(path);
    EXPECT_EQ(path, "mem.bin");
}

TEST(MemoryInputStream, NegativePositionIsRefusedLikeTheFile)
{
    md::MemoryInputStream s(std::vector<uint8_t>{1, 2, 3, 4});
    uint8_t b = 0;
    ASSERT_EQ(s.Seek(2), 0);
    EXPECT_EQ(s.Seek(static_cast<uint64_t>(-1)), 0);
    ASSERT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, 3);
}

}  // namespace
