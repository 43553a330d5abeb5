// Fixed-capacity byte FIFO with an MSB-first bit writer and bit reader over the
// same storage, start-code search, a saved read position and Exp-Golomb reads.
//
// The stream parsers collect elementary-stream and system-stream bytes here before
// handing them to the header parsers. Its observable behaviour is deliberately
// simple and has a few corners callers must know:
//  - Count() is (write - read) mod capacity, so a buffer holding exactly
//    `capacity` bytes reports 0 and looks empty to the readers; keep the fill
//    below the capacity.
//  - Write() does not test for free space; writing more than the free space
//    overwrites unread bytes (only the bit writer stops at capacity - 1 bytes).
//  - GetBits() returns only the bits that were there when the data runs out.
// Every index is kept reduced modulo the capacity, so no sequence of calls can
// touch memory outside the array. A capacity below 1 gives a buffer that holds
// nothing: writes are dropped and reads find no data. The same happens when the
// array cannot be allocated; Capacity() then reports 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace md {

class RingBuffer {
public:
    explicit RingBuffer(int32_t capacity);
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    int32_t Capacity() const { return m_capacity; }

    // Buffered bytes: (write - read + capacity) mod capacity (0 when full).
    uint32_t Count() const;
    // The byte at the read index. Contiguous only up to the end of the array;
    // callers that pass it with Count() to a parser rely on the data not having
    // wrapped. Null for a buffer of capacity below 1.
    const uint8_t* ReadPointer() const;
    // The bit writer's full test: write + 1 == read or write == capacity + read - 1.
    bool IsFull() const;
    // True when write index == read index and no read bits are left.
    bool IsBitEmpty() const;

    // Appends n bytes. With pending write bits each byte goes through PutBits(b, 8);
    // otherwise the bytes are copied and the write index wraps. Free space is not
    // tested.
    void Write(const uint8_t* src, size_t n);
    // Copies min(n, Count()) bytes and advances the read index; returns the count.
    // The bit reader's current byte is left alone.
    uint32_t Read(uint8_t* dst, size_t n);
    // Like Read but leaves the read index where it was.
    uint32_t Peek(uint8_t* dst, size_t n);
    // Copies all buffered bytes (dst must hold Count() bytes); the read index ends
    // on the write index. Returns the count.
    uint32_t ReadAll(uint8_t* dst);
    // Empties the buffer and drops the pending bit state of both directions.
    void Clear();

    // Saves / restores the read index.
    void Mark() { m_mark = m_read; }
    void Rewind() { m_read = m_mark; }

    // Moves the read index to the next 00 00 01 prefix; returns the bytes skipped.
    // At a 00 byte with fewer than 4 bytes left the search stops on that byte.
    // With no prefix found every buffered byte is passed.
    uint32_t SkipToStartCode();
    // Moves the read index to the next byte equal to b (or past all buffered
    // bytes); returns the bytes skipped.
    uint32_t SkipToByte(uint8_t b);

    // Writes the low n bits of value, most significant first (n is 1..32; below 1
    // does nothing, above 32 counts as 32). Bits that do not fit are dropped.
    void PutBits(uint32_t value, int n);
    // Reads n bits, most significant first; n below 1 gives 0. When the data runs
    // out the bits gathered so far are returned, unshifted. A request above 32
    // bits consumes all of them and returns the low 32.
    uint32_t GetBits(int n);
    // GetBits without consuming: restores the read index and the bit reader state.
    uint32_t PeekBits(int n);

    // H.264 more_rbsp_data(): whether anything but the rbsp_stop_one_bit and its
    // trailing zero bits is left. Counts write - read without wrap correction.
    bool MoreRbspData();

    // ue(v): at most 33 leading zero bits (a 34th gives 0). Values above
    // 0xFFFFFFFF saturate.
    uint32_t ReadUe();
    // se(v) from ue(v) k: (k + 1) / 2, negated when k is even.
    int32_t ReadSe();

private:
    void AdvanceWrite(uint32_t n);
    void AdvanceRead(uint32_t n);
    uint32_t Wrap(int64_t index) const;
    // The first offset in [from, to) after the read index whose byte is b, else
    // to; to must not pass Count(). Searches each contiguous run with memchr.
    uint32_t Find(uint8_t b, uint32_t from, uint32_t to) const;
    uint32_t CopyOut(uint8_t* dst, uint32_t n);

    std::unique_ptr<uint8_t[]> m_data;
    int32_t m_capacity = 0;
    uint32_t m_write = 0;
    uint32_t m_read = 0;
    uint32_t m_writeBits = 0;   // bits held in m_writeByte (0..7)
    uint8_t m_writeByte = 0;    // pending write byte, filled from the top
    uint8_t m_readByte = 0;     // byte the bit reader takes bits from, shifted left
    uint32_t m_readBitsLeft = 0;
    uint32_t m_mark = 0;
};

// ue(v) read straight from a byte array, starting at bitOffset (bit 0 is the most
// significant bit of bytes[0]). The code and its leading zeros must lie inside
// the first min(length, 11) bytes. Returns the code length in bits (2z + 1) and
// stores 2^z - 1 + the z bits after the leading 1 in value (saturating at
// 0xFFFFFFFF); returns -1 and leaves value alone when the code does not fit.
int ReadUeBytes(const uint8_t* bytes, size_t length, uint32_t bitOffset, uint32_t& value);
// se(v) from the same code: with m = 2^z + the z bits, m / 2, negated when m is
// odd. Returns the code length in bits, or -1 as ReadUeBytes.
int ReadSeBytes(const uint8_t* bytes, size_t length, uint32_t bitOffset, int32_t& value);

}  // namespace md
