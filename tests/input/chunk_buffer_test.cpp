// Chunk buffers: every byte of the size asked for is usable, and a mapped buffer
// starts on a huge-page boundary and covers the size (its end cut at the right place).
#include "input/chunk_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(ChunkBuffer, EveryByteUsableAndMappedBuffersAlignedAndLargeEnough)
{
    constexpr size_t kHugePage = size_t{2} << 20;
    for (const size_t size : {size_t{1}, size_t{4096}, size_t{752000}, size_t{1} << 20, kHugePage, kHugePage + 1,
                              3 * kHugePage - 7}) {
        ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(size);
        ASSERT_NE(buffer, nullptr) << size;
        std::memset(buffer.get(), 0xA5, size);
        EXPECT_EQ(buffer[size - 1], 0xA5) << size;
        const size_t mapped = buffer.get_deleter().mapped;
        if (!ZPMP::kChunkBuffersOnHeap && size >= (size_t{1} << 20)) {
            EXPECT_GT(mapped, 0u) << size;
        }
        if (mapped > 0) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.get()) % kHugePage, 0u) << size;
            EXPECT_EQ(mapped % kHugePage, 0u) << size;
            EXPECT_GE(mapped, size);
            EXPECT_LT(mapped - size, kHugePage) << size;
        }
    }
}
