// Chunk buffers: every byte of the size asked for is usable, and a large buffer is
// whole huge pages on a huge-page boundary.
#include "input/chunk_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(ChunkBuffer, EveryByteUsableAndLargeBuffersWholeAlignedHugePages)
{
    constexpr size_t kHugePage = size_t{2} << 20;
    for (const size_t size : {size_t{1}, size_t{4096}, size_t{752000}, size_t{1} << 20, kHugePage, kHugePage + 1,
                              3 * kHugePage - 7}) {
        ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(size);
        ASSERT_NE(buffer, nullptr) << size;
        std::memset(buffer.get(), 0xA5, size);
        EXPECT_EQ(buffer[size - 1], 0xA5) << size;
        const size_t aligned = buffer.get_deleter().aligned;
        if (!ZPMP::kChunkBuffersPlain && size >= (size_t{1} << 20)) {
            EXPECT_GT(aligned, 0u) << size;
        }
        if (aligned > 0) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.get()) % kHugePage, 0u) << size;
            EXPECT_EQ(aligned % kHugePage, 0u) << size;
            EXPECT_GE(aligned, size);
            EXPECT_LT(aligned - size, kHugePage) << size;
        }
    }
}
