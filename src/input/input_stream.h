// The byte stream through which every reader of a media file reads.
#pragma once

#include <cstdint>
#include <string>

namespace ZPMP {

// An abstract byte stream over one file. One stream per operation; never shared
// between threads. The virtual operations below are in slot order.
class InputStream {
public:
    // Reads up to count bytes into buffer; returns the number read (0 at end of
    // file or on error).
    virtual uint64_t Read(void* buffer, uint32_t count) = 0;
    // Moves to an absolute byte position; 0 on success, 1 when the stream has no
    // open file.
    virtual int32_t Seek(uint64_t position) = 0;
    // The size of the file in bytes; 0 when the stream has no open file.
    virtual uint64_t Size() = 0;
    // Stores the path of the file, in the ANSI code page, in path.
    virtual void GetPath(std::string& path) = 0;
    virtual ~InputStream() = default;
    // A hint after the slots above: the bytes from start to end are about to be
    // read in order, some of them perhaps skipped. A stream whose every fetch
    // costs a round trip fetches them in as few requests as it may; a file
    // ignores it.
    virtual void WillRead(uint64_t start, uint64_t end)
    {
        (void)start;
        (void)end;
    }
};

// Reads until count bytes are in or the stream ends (a stream may hand out
// fewer bytes than asked at a time); returns the number read.
inline uint32_t ReadFully(InputStream& input, uint8_t* buffer, uint32_t count)
{
    uint32_t total = 0;
    while (total < count) {
        const uint64_t got = input.Read(buffer + total, count - total);
        if (got == 0)
            break;
        total += static_cast<uint32_t>(got < count - total ? got : count - total);
    }
    return total;
}

// The size of a buffer for reads of up to chunkSize bytes: chunkSize, or the
// whole stream where that is smaller. No read returns more than the stream
// holds, so a small file is read the same way without a large buffer.
inline uint32_t ChunkCapacity(InputStream& input, uint32_t chunkSize)
{
    const uint64_t size = input.Size();
    return size > 0 && size < chunkSize ? static_cast<uint32_t>(size) : chunkSize;
}

// Reads up to count bytes from position on; 0 when the position cannot be reached.
inline uint32_t ReadAt(InputStream& input, uint64_t position, uint8_t* buffer, uint32_t count)
{
    return input.Seek(position) == 0 ? ReadFully(input, buffer, count) : 0;
}

}  // namespace ZPMP
