#include "input/chunk_buffer.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace ZPMP {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kAlignedFrom = size_t{512} << 10;
constexpr size_t kMappedFrom = size_t{256} << 10;

}  // namespace

void ChunkBufferDeleter::operator()(uint8_t* p) const
{
    if (aligned > 0)
        std::free(p);
    else if (mapped > 0)
        munmap(p, mapped);
    else
        delete[] p;
}

ChunkBuffer NewChunkBuffer(size_t size)
{
    if (!kChunkBuffersPlain && size >= kAlignedFrom) {
        const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        if (auto* p = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, rounded))) {
            madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without huge pages the buffer still works
            return ChunkBuffer(p, ChunkBufferDeleter{rounded});
        }
    }
    return ChunkBuffer(new (std::nothrow) uint8_t[size]);
}

ChunkBuffer NewZeroedBuffer(size_t size)
{
    if (!kChunkBuffersPlain && size >= kMappedFrom) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED)
            return ChunkBuffer(static_cast<uint8_t*>(p), ChunkBufferDeleter{0, size});
    }
    return ChunkBuffer(new (std::nothrow) uint8_t[size]());
}

}  // namespace ZPMP
