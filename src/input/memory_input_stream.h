// A ZPMP::InputStream over bytes in memory, for tests, fuzzers and benchmarks.
// Behaves as MSFileInputStream does on a file of the same bytes: a seek past the
// end succeeds and the next read returns 0; a position that is negative as a
// signed value is refused and leaves the read position where it was. Counts the
// bytes read, the reads and the seeks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "input/input_stream.h"

namespace md {

class MemoryInputStream : public ZPMP::InputStream {
public:
    // A view of bytes the caller keeps alive.
    MemoryInputStream(const uint8_t* data, size_t size, std::string path = "memory")
        : data_(data), size_(size), path_(std::move(path))
    {
    }
    explicit MemoryInputStream(std::span<const uint8_t> data, std::string path = "memory")
        : MemoryInputStream(data.data(), data.size(), std::move(path))
    {
    }
    // Owns its bytes.
    explicit MemoryInputStream(std::vector<uint8_t>&& owned, std::string path = "memory")
        : owned_(std::move(owned)), data_(owned_.data()), size_(owned_.size()), path_(std::move(path))
    {
    }

    MemoryInputStream(const MemoryInputStream&) = delete;
    MemoryInputStream& operator=(const MemoryInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override
    {
        ++reads_;
        if (position_ >= size_ || count == 0)
            return 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - position_));
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        bytesRead_ += n;
        return n;
    }

    int32_t Seek(uint64_t position) override
    {
        ++seeks_;
        if (position <= uint64_t(INT64_MAX))
            position_ = position;
        return 0;
    }

    uint64_t Size() override { return size_; }
    void GetPath(std::string& path) override { path = path_; }

    uint64_t BytesRead() const { return bytesRead_; }
    uint64_t Reads() const { return reads_; }
    uint64_t Seeks() const { return seeks_; }
    uint64_t Position() const { return position_; }
    void ResetCounters() { bytesRead_ = reads_ = seeks_ = 0; }

private:
    std::vector<uint8_t> owned_;
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    std::string path_;
    uint64_t position_ = 0;
    uint64_t bytesRead_ = 0;
    uint64_t reads_ = 0;
    uint64_t seeks_ = 0;
};

}  // namespace md
