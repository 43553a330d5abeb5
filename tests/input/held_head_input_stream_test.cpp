// The stream that keeps the head of a file: reads inside the first read's bytes cost no read of the file, the rest
// reach it at the position the reader is at.
#include "input/held_head_input_stream.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "input/memory_input_stream.h"
#include "support/counting_input_stream.h"

namespace {

std::vector<uint8_t> Bytes(size_t n)
{
    std::vector<uint8_t> b(n);
    std::iota(b.begin(), b.end(), uint8_t(0));
    return b;
}

std::vector<uint8_t> ReadAt(ZPMP::InputStream& s, uint64_t pos, uint32_t count)
{
    std::vector<uint8_t> out(count);
    EXPECT_EQ(s.Seek(pos), 0);
    out.resize(size_t(s.Read(out.data(), count)));
    return out;
}

TEST(HeldHeadInputStream, ReadsInsideTheHeadCostNoReadOfTheFile)
{
    const std::vector<uint8_t> file = Bytes(1000);
    const auto part = [&](size_t pos, size_t n) { return std::vector<uint8_t>(file.begin() + pos, file.begin() + pos + n); };
    md::MemoryInputStream memory(file);
    md::test::CountingInputStream counted(memory);
    md::HeldHeadInputStream held(counted, 300);  // the first read brings 400 bytes; 300 of them are kept

    EXPECT_EQ(ReadAt(held, 0, 400), part(0, 400));
    EXPECT_EQ(ReadAt(held, 10, 290), part(10, 290));  // inside: from memory
    EXPECT_EQ(counted.Reads(), 1u);
    EXPECT_EQ(ReadAt(held, 200, 200), part(200, 200));  // past the kept bytes: the file, from 200
    EXPECT_EQ(counted.Reads(), 2u);
    // Reads go on where the last one ended, whether it came from memory or the file.
    ASSERT_EQ(held.Seek(0), 0);
    std::vector<uint8_t> two(50);
    EXPECT_EQ(held.Read(two.data(), 50), 50u);
    EXPECT_EQ(held.Read(two.data(), 50), 50u);
    EXPECT_EQ(two, part(50, 50));
    EXPECT_EQ(counted.Reads(), 2u);
    std::vector<uint8_t> straddling(250);  // 100..350 runs past the kept bytes: the file, from 100
    EXPECT_EQ(held.Read(straddling.data(), 250), 250u);
    EXPECT_EQ(straddling, part(100, 250));
    EXPECT_EQ(counted.Reads(), 3u);
    EXPECT_EQ(held.Size(), 1000u);
}

TEST(HeldHeadInputStream, AHeadThatIsTheWholeFileEndsReadsWhereTheFileEnds)
{
    const std::vector<uint8_t> file = Bytes(100);
    md::MemoryInputStream memory(file);
    md::test::CountingInputStream counted(memory);
    md::HeldHeadInputStream held(counted, 4096);
    EXPECT_EQ(ReadAt(held, 0, 4096).size(), 100u);
    EXPECT_EQ(ReadAt(held, 60, 4096), std::vector<uint8_t>(file.begin() + 60, file.end()));
    EXPECT_EQ(ReadAt(held, 100, 10).size(), 0u);
    EXPECT_EQ(counted.Reads(), 1u);
}

}  // namespace
