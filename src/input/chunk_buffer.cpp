#include "input/chunk_buffer.h"

#include <new>

#include <sys/mman.h>

namespace ZPMP {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMappedFrom = size_t{512} << 10;

// size rounded up to whole huge pages, mapped on a huge-page boundary; null on failure.
uint8_t* MapAligned(size_t size, size_t& mapped)
{
    mapped = (size + kHugePage - 1) / kHugePage * kHugePage;
    // Map one huge page more and cut the ends off, so that the rest starts on a boundary.
    void* raw = mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    if (const size_t tail = start + kHugePage - aligned; tail > 0)
        munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    auto* p = reinterpret_cast<uint8_t*>(aligned);
    madvise(p, mapped, MADV_HUGEPAGE);  // advice only: without huge pages the buffer still works
    return p;
}

}  // namespace

void ChunkBufferDeleter::operator()(uint8_t* p) const
{
    if (mapped > 0)
        munmap(p, mapped);
    else
        delete[] p;
}

ChunkBuffer NewChunkBuffer(size_t size)
{
    if (!kChunkBuffersOnHeap && size >= kMappedFrom) {
        size_t mapped = 0;
        if (uint8_t* p = MapAligned(size, mapped))
            return ChunkBuffer(p, ChunkBufferDeleter{mapped});
    }
    return ChunkBuffer(new (std::nothrow) uint8_t[size]);
}

}  // namespace ZPMP
