// Chunk buffers: every byte of the size asked for is usable, a large buffer is whole
// huge pages on a huge-page boundary, and a zeroed buffer reads zero throughout.
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

TEST(ChunkBuffer, ZeroedBuffersReadZeroAndLargeOnesAreMappings)
{
    for (const size_t size : {size_t{1}, size_t{20480}, size_t{327680}, size_t{512000}}) {
        // A heap block of the same size, dirtied and freed first, so that a buffer that
        // reused it without clearing would show the pattern.
        { ZPMP::ChunkBuffer dirty(new uint8_t[size]); std::memset(dirty.get(), 0x5A, size); }
        ZPMP::ChunkBuffer buffer = ZPMP::NewZeroedBuffer(size);
        ASSERT_NE(buffer, nullptr) << size;
        size_t nonzero = 0;
        for (size_t i = 0; i < size; ++i)
            nonzero += buffer[i] != 0;
        EXPECT_EQ(nonzero, 0u) << size;
        buffer[size - 1] = 1;
        EXPECT_EQ(buffer.get_deleter().mapped > 0, !ZPMP::kChunkBuffersPlain && size >= (size_t{256} << 10)) << size;
    }
}
