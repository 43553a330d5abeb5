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
        : m_data(data), m_size(size), m_path(std::move(path))
    {
    }
    explicit MemoryInputStream(std::span<const uint8_t> data, std::string path = "memory")
        : MemoryInputStream(data.data(), data.size(), std::move(path))
    {
    }
    // Owns its bytes.
    explicit MemoryInputStream(std::vector<uint8_t>&& owned, std::string path = "memory")
        : m_owned(std::move(owned)), m_data(m_owned.data()), m_size(m_owned.size()), m_path(std::move(path))
    {
    }

    MemoryInputStream(const MemoryInputStream&) = delete;
    MemoryInputStream& operator=(const MemoryInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override
    {
        ++m_reads;
        if (m_position >= m_size || count == 0)
            return 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_size - m_position));
        std::memcpy(buffer, m_data + m_position, n);
        m_position += n;
        m_bytesRead += n;
        return n;
    }

    int32_t Seek(uint64_t position) override
    {
        ++m_seeks;
        if (position <= uint64_t(INT64_MAX))
            m_position = position;
        return 0;
    }

    uint64_t Size() override { return m_size; }
    void GetPath(std::string& path) override { path = m_path; }

    uint64_t BytesRead() const { return m_bytesRead; }
    uint64_t Reads() const { return m_reads; }
    uint64_t Seeks() const { return m_seeks; }
    uint64_t Position() const { return m_position; }
    void ResetCounters() { m_bytesRead = m_reads = m_seeks = 0; }

private:
    std::vector<uint8_t> m_owned;
    const uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
    std::string m_path;
    uint64_t m_position = 0;
    uint64_t m_bytesRead = 0;
    uint64_t m_reads = 0;
    uint64_t m_seeks = 0;
};

}  // namespace md
