// Buffers for the large reads with which the readers scan a file (chunks of up to a
// few MiB, read straight from the file into them), and the zero-filled storage of the
// scanners' windows.
//
// A buffer of 512 KiB or more is whole huge pages on a 2 MiB boundary, offered to the
// kernel for transparent huge pages. A read into fresh memory faults in every 4 KiB
// page it writes, and where pages are cheap to clear but costly to fault in (a virtual
// machine: about 12 us a page), a 1 MiB read into fresh pages took 3 ms against 0.3 ms
// into one huge page. The blocks come from the heap, which keeps freed ones for the
// next buffer, so a process that opens many files faults them in once. Smaller buffers,
// and every buffer of a sanitized build (whose checks must see plain heap blocks), are
// plain heap arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ZPMP {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kChunkBuffersPlain = true;
#elif defined(__has_feature)
inline constexpr bool kChunkBuffersPlain =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
inline constexpr bool kChunkBuffersPlain = false;
#endif

struct ChunkBufferDeleter {
    size_t aligned = 0;  // bytes of a huge-page aligned heap block; 0 otherwise
    size_t mapped = 0;   // bytes of an anonymous mapping; 0 otherwise
    void operator()(uint8_t* p) const;
};
using ChunkBuffer = std::unique_ptr<uint8_t[], ChunkBufferDeleter>;

// A buffer of size bytes (contents undefined); null when there is no memory for it.
ChunkBuffer NewChunkBuffer(size_t size);

// A zero-filled buffer of size bytes; null when there is no memory for it. From 256 KiB
// on it is an anonymous mapping, zero pages the kernel faults in only when they are
// first touched: a window that a scan fills only at its start costs no more than those
// pages, where a zero-filled heap block (calloc of memory the heap had used before)
// would be cleared, and so faulted in, whole.
ChunkBuffer NewZeroedBuffer(size_t size);

}  // namespace ZPMP
