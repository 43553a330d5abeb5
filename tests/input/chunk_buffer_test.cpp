// Chunk buffers: every byte of the size asked for is usable, a large buffer is whole
// huge pages on a huge-page boundary, and a zeroed buffer reads zero throughout.
#include "input/chunk_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(ChunkBuffer, EveryByteUsableAndLargeBuffersWholeAlignedHugePages)
{
    constexpr size_t kHugePage = size_t{2} << 20;
    for (const size_t size : {size_t{1}, size_t{524287}, size_t{524288}, kHugePage, kHugePage + 1}) {
        ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(size);
        ASSERT_NE(buffer, nullptr) << size;
        std::memset(buffer.get(), 0xA5, size);
        EXPECT_EQ(buffer[size - 1], 0xA5) << size;
        // From 512 KiB: the fewest whole huge pages that hold size, on a huge-page boundary.
        const size_t aligned = buffer.get_deleter().aligned;
        const bool large = !ZPMP::kChunkBuffersPlain && size >= (size_t{512} << 10);
        EXPECT_EQ(aligned, large ? (size + kHugePage - 1) / kHugePage * kHugePage : 0) << size;
        EXPECT_TRUE(!large || reinterpret_cast<uintptr_t>(buffer.get()) % kHugePage == 0) << size;
    }
}

TEST(ChunkBuffer, ZeroedBuffersReadZeroAndLargeOnesAreMappings)
{
    for (const size_t size : {size_t{1}, size_t{262143}, size_t{262144}, size_t{512000}}) {
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
