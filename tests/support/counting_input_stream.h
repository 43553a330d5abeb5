// A ZPMP::InputStream that passes every operation to another stream and counts the reads that reach it and the
// bytes they return, so a test can tell what an open costs in reads of the file. The file input stream makes one
// positioned read of the file per Read (a seek only records the position), so Reads() is the number of positioned
// reads the file sees. The stretches announced to it (WillRead) are kept, not passed on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "input/input_stream.h"

namespace md::test {

class CountingInputStream : public ZPMP::InputStream {
public:
    // Counts the reads of inner, which the caller keeps alive.
    explicit CountingInputStream(ZPMP::InputStream& inner) : m_inner(inner) {}

    CountingInputStream(const CountingInputStream&) = delete;
    CountingInputStream& operator=(const CountingInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override
    {
        ++m_reads;
        const uint64_t got = m_inner.Read(buffer, count);
        m_bytes += got;
        return got;
    }
    int32_t Seek(uint64_t position) override { return m_inner.Seek(position); }
    uint64_t Size() override { return m_inner.Size(); }
    void GetPath(std::string& path) override { m_inner.GetPath(path); }
    void WillRead(uint64_t start, uint64_t end) override { m_announced.emplace_back(start, end); }

    uint64_t Reads() const { return m_reads; }
    uint64_t Bytes() const { return m_bytes; }
    const std::vector<std::pair<uint64_t, uint64_t>>& Announced() const { return m_announced; }

private:
    ZPMP::InputStream& m_inner;
    uint64_t m_reads = 0;
    uint64_t m_bytes = 0;
    std::vector<std::pair<uint64_t, uint64_t>> m_announced;
};

}  // namespace md::test
