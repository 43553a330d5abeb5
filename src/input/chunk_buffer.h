// Buffers for the large reads with which the readers scan a file (chunks of up to a
// few MiB, read straight from the file into them).
//
// A buffer of 512 KiB or more is mapped 2 MiB-aligned and offered to the kernel for
// transparent huge pages. A read into fresh memory faults in every 4 KiB page it
// writes, and where pages are cheap to clear but costly to fault in (a virtual machine:
// about 12 us a page), a 1 MiB read into fresh pages took 3 ms against 0.3 ms into one
// huge page. Smaller buffers, and every buffer of a sanitized build (whose heap checks
// must see them), come from the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ZPMP {

// Sanitizers check heap blocks only, so their builds keep every buffer on the heap.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kChunkBuffersOnHeap = true;
#elif defined(__has_feature)
inline constexpr bool kChunkBuffersOnHeap =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
inline constexpr bool kChunkBuffersOnHeap = false;
#endif

struct ChunkBufferDeleter {
    size_t mapped = 0;  // bytes mapped; 0 for a heap buffer
    void operator()(uint8_t* p) const;
};
using ChunkBuffer = std::unique_ptr<uint8_t[], ChunkBufferDeleter>;

// A buffer of size bytes (contents undefined); null when there is no memory for it.
ChunkBuffer NewChunkBuffer(size_t size);

}  // namespace ZPMP
