// The linear read window through which whole-file scanners feed file data to
// their parsers: read into WritePointer(), Commit() the count, parse from
// ReadPointer(), Consume() what was parsed. When the unread bytes come within the
// reserve of the end of the storage they are moved back to its start, so the
// unread bytes are always one contiguous run.
#pragma once

#include <cstdint>

#include "input/chunk_buffer.h"

class ByteWindow {
public:
    ByteWindow() = default;
    ByteWindow(const ByteWindow&) = delete;
    ByteWindow& operator=(const ByteWindow&) = delete;

    // Frees any old storage, allocates capacity zero-filled bytes and sets both
    // offsets to 0. False when the allocation fails (the window is then empty).
    bool Allocate(uint32_t capacity, uint32_t reserve);
    // Releases the storage and zeroes every field.
    void Free();

    // Where the next bytes are written; null without storage.
    uint8_t* WritePointer() const { return m_data ? m_data.get() + m_write : nullptr; }
    // Adds n to the write offset; fails (nothing changes) when write offset + n
    // reaches the capacity, so a window never fills completely.
    bool Commit(uint32_t n);
    // The first unread byte and the number of unread bytes.
    uint8_t* ReadPointer(uint32_t& available) const
    {
        available = m_write - m_read;
        return m_data ? m_data.get() + m_read : nullptr;
    }
    // Zero-fills and drops the first n unread bytes; then, when write offset +
    // reserve reaches the capacity, moves the unread bytes to the start. Fails
    // (nothing changes) when n exceeds the unread bytes.
    bool Consume(uint32_t n);
    // Both offsets to 0.
    void Clear() { m_read = m_write = 0; }

    uint32_t ReadOffset() const { return m_read; }
    uint32_t WriteOffset() const { return m_write; }
    uint32_t Capacity() const { return m_capacity; }
    uint32_t Reserve() const { return m_reserve; }
    // Bytes that may still be written before Commit refuses (capacity - write - 1).
    uint32_t Writable() const { return m_write < m_capacity ? m_capacity - m_write - 1 : 0; }

private:
    // Owned storage. Free() releases it, and so does the destructor, so a caller
    // that forgets Free() does not leak.
    ZPMP::ChunkBuffer m_data;
    uint32_t m_read = 0;
    uint32_t m_write = 0;
    uint32_t m_capacity = 0;
    uint32_t m_reserve = 0;
};
