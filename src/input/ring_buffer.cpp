#include "input/ring_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace md {

RingBuffer::RingBuffer(int32_t capacity)
{
    // The array is not cleared: its content is only ever read after being written.
    if (capacity > 0)
        m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
    m_capacity = m_data ? capacity : 0;
}

uint32_t RingBuffer::Wrap(int64_t index) const
{
    if (m_capacity < 1)
        return 0;
    const int64_t r = index % m_capacity;
    return static_cast<uint32_t>(r < 0 ? r + m_capacity : r);
}

void RingBuffer::AdvanceWrite(uint32_t n) { m_write = Wrap(int64_t(m_write) + n); }
void RingBuffer::AdvanceRead(uint32_t n) { m_read = Wrap(int64_t(m_read) + n); }

uint32_t RingBuffer::Count() const
{
    return Wrap(int64_t(m_write) - int64_t(m_read));
}

const uint8_t* RingBuffer::ReadPointer() const
{
    return m_capacity < 1 ? nullptr : m_data.get() + m_read;
}

bool RingBuffer::IsFull() const
{
    if (m_capacity < 1)
        return true;
    const int64_t w = m_write;
    const int64_t r = m_read;
    return w + 1 == r || w == m_capacity + r - 1;
}

bool RingBuffer::IsBitEmpty() const { return m_write == m_read && m_readBitsLeft == 0; }

void RingBuffer::Write(const uint8_t* src, size_t n)
{
    if (m_capacity < 1 || src == nullptr || n == 0)
        return;
    if (m_writeBits != 0) {
        for (size_t i = 0; i < n; ++i)
            PutBits(src[i], 8);
        return;
    }
    // A whole lap around the array leaves the write index where it was, so all
    // but the last lap of an oversized write can be skipped.
    const size_t cap = static_cast<size_t>(m_capacity);
    if (n > cap) {
        const size_t laps = n / cap;
        src += (laps - 1) * cap;
        n -= (laps - 1) * cap;
    }
    while (n > 0) {
        const size_t piece = std::min(n, cap - m_write);
        std::memcpy(m_data.get() + m_write, src, piece);
        AdvanceWrite(static_cast<uint32_t>(piece));
        src += piece;
        n -= piece;
    }
}

uint32_t RingBuffer::CopyOut(uint8_t* dst, uint32_t n)
{
    if (n == 0 || dst == nullptr)
        return 0;
    const uint32_t first = std::min(n, static_cast<uint32_t>(m_capacity) - m_read);
    std::memcpy(dst, m_data.get() + m_read, first);
    if (n > first)
        std::memcpy(dst + first, m_data.get(), n - first);
    AdvanceRead(n);
    return n;
}

uint32_t RingBuffer::Read(uint8_t* dst, size_t n)
{
    const uint32_t count = Count();
    return CopyOut(dst, n < count ? static_cast<uint32_t>(n) : count);
}

uint32_t RingBuffer::Peek(uint8_t* dst, size_t n)
{
    const uint32_t saved = m_read;
    const uint32_t copied = Read(dst, n);
    m_read = saved;
    return copied;
}

uint32_t RingBuffer::ReadAll(uint8_t* dst)
{
    const uint32_t copied = CopyOut(dst, Count());
    m_read = m_write;
    return copied;
}

void RingBuffer::Clear()
{
    m_write = 0;
    m_read = 0;
    m_writeBits = 0;
    m_readBitsLeft = 0;
    m_writeByte = 0;
    m_readByte = 0;
}

uint32_t RingBuffer::Find(uint8_t b, uint32_t from, uint32_t to) const
{
    while (from < to) {
        const uint32_t index = Wrap(int64_t(m_read) + from);
        const uint32_t run = std::min(to - from, static_cast<uint32_t>(m_capacity) - index);
        const uint8_t* start = m_data.get() + index;
        if (const void* hit = std::memchr(start, b, run))
            return from + static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - start);
        from += run;
    }
    return to;
}

uint32_t RingBuffer::SkipToStartCode()
{
    const uint32_t count = Count();
    // Byte o positions after the read index, o < count.
    auto at = [this](uint32_t o) { return m_data[Wrap(int64_t(m_read) + o)]; };

    uint32_t o = Find(0, 0, count);
    while (o < count) {
        if (count - o < 4)
            break;  // too few bytes for a prefix and the byte after it: stay on this 00
        // Look for a 01 from two bytes on; stop on the last byte at the latest.
        const uint32_t j = Find(1, o + 2, count - 1);
        if (at(j - 1) == 0 && at(j - 2) == 0) {
            o = j - 2;  // on the first 00 of the prefix
            break;
        }
        o = Find(0, j + 1, count);
    }
    AdvanceRead(o);
    return o;
}

uint32_t RingBuffer::SkipToByte(uint8_t b)
{
    const uint32_t o = Find(b, 0, Count());
    AdvanceRead(o);
    return o;
}

void RingBuffer::PutBits(uint32_t value, int n)
{
    if (n < 1)
        return;
    if (n > 32)
        n = 32;
    const uint32_t low = value;
    value = n == 32 ? value : value << (32 - n);  // top bit of the field at bit 31
    int left = n;
    while (left > 0 && !IsFull()) {
        // The bits still to write are always the low `left` bits of the value as passed.
        if (m_writeBits == 0 && left == 8) {
            m_data[m_write] = static_cast<uint8_t>(low);
            AdvanceWrite(1);
            return;
        }
        if (m_writeBits == 0 && left > 8) {
            m_data[m_write] = static_cast<uint8_t>(value >> 24);
            AdvanceWrite(1);
            value <<= 8;
            left -= 8;
            continue;
        }
        const int k = std::min(left, 8 - static_cast<int>(m_writeBits));
        const uint32_t bits = value >> (32 - k);
        m_writeByte = static_cast<uint8_t>(m_writeByte | bits << (8 - static_cast<int>(m_writeBits) - k));
        value <<= k;
        left -= k;
        m_writeBits += static_cast<uint32_t>(k);
        if (m_writeBits == 8) {
            m_data[m_write] = m_writeByte;
            AdvanceWrite(1);
            m_writeBits = 0;
            m_writeByte = 0;
        }
    }
}

uint32_t RingBuffer::GetBits(int n)
{
    if (n < 1)
        return 0;
    uint32_t result = 0;
    int64_t wanted = n;
    while (wanted > 0 && !IsBitEmpty()) {
        if (m_readBitsLeft == 0) {
            m_readByte = m_data[m_read];
            m_readBitsLeft = 8;
            AdvanceRead(1);
        }
        const int k = static_cast<int>(std::min<int64_t>(wanted, m_readBitsLeft));
        result = result << k | static_cast<uint32_t>(m_readByte >> (8 - k));
        m_readByte = static_cast<uint8_t>(m_readByte << k);
        m_readBitsLeft -= static_cast<uint32_t>(k);
        wanted -= k;
    }
    return result;
}

uint32_t RingBuffer::PeekBits(int n)
{
    const uint32_t read = m_read;
    const uint8_t byte = m_readByte;
    const uint32_t left = m_readBitsLeft;
    const uint32_t bits = GetBits(n);
    m_read = read;
    m_readByte = byte;
    m_readBitsLeft = left;
    return bits;
}

bool RingBuffer::MoreRbspData()
{
    const int64_t left = int64_t(m_readBitsLeft) + (int64_t(m_write) - int64_t(m_read)) * 8;
    if (left < 1)
        return false;
    if (left > 8)
        return true;
    if (PeekBits(1) == 0)
        return true;
    if (left < 3)
        return false;
    // A 1 followed only by zero bits is the rbsp_stop_one_bit.
    for (int k = 2; k < left; ++k) {
        if (PeekBits(k) & 1)
            return true;
    }
    return false;
}

uint32_t RingBuffer::ReadUe()
{
    if (GetBits(1) == 1)
        return 0;
    int zeros = 1;
    while (GetBits(1) == 0) {
        if (++zeros > 33)
            return 0;
    }
    const uint32_t bits = GetBits(zeros);
    if (zeros >= 32)
        return std::numeric_limits<uint32_t>::max();
    return bits + ((uint32_t(1) << zeros) - 1);
}

int32_t RingBuffer::ReadSe()
{
    const uint32_t k = ReadUe();
    int64_t v = (int64_t(k) + 1) / 2;
    if (k % 2 == 0)
        v = -v;
    return static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max()));
}

namespace {

// The exp-Golomb code at bitOffset inside the first min(length, 11) bytes: its
// leading-zero count z and the z bits after the leading 1. False when it does not fit.
bool ReadGolombCode(const uint8_t* bytes, size_t length, uint32_t bitOffset, uint32_t& zeros, uint64_t& bits)
{
    const uint64_t limit = uint64_t(std::min<size_t>(length, 11)) * 8;
    if (bytes == nullptr)
        return false;
    auto bit = [bytes](uint64_t i) { return (bytes[i >> 3] >> (7 - (i & 7))) & 1; };
    uint64_t pos = bitOffset;
    uint32_t z = 0;
    while (pos < limit && bit(pos) == 0) {
        ++z;
        ++pos;
    }
    if (pos >= limit)
        return false;
    ++pos;  // the leading 1
    if (z > limit - pos)
        return false;
    uint64_t v = 0;
    for (uint32_t i = 0; i < z; ++i)
        v = v << 1 | bit(pos + i);
    zeros = z;  // bitOffset + 2z + 1 <= 88, so z <= 43
    bits = v;
    return true;
}

}  // namespace

int ReadUeBytes(const uint8_t* bytes, size_t length, uint32_t bitOffset, uint32_t& value)
{
    uint32_t z = 0;
    uint64_t bits = 0;
    if (!ReadGolombCode(bytes, length, bitOffset, z, bits))
        return -1;
    // z <= 43 since 2z + 1 bits fit in 88, so the sum fits in 64 bits.
    const uint64_t v = (uint64_t(1) << z) - 1 + bits;
    value = static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
    return static_cast<int>(2 * z + 1);
}

int ReadSeBytes(const uint8_t* bytes, size_t length, uint32_t bitOffset, int32_t& value)
{
    uint32_t z = 0;
    uint64_t bits = 0;
    if (!ReadGolombCode(bytes, length, bitOffset, z, bits))
        return -1;
    const uint64_t m = (uint64_t(1) << z) + bits;
    int64_t v = static_cast<int64_t>(std::min<uint64_t>(m / 2, std::numeric_limits<int32_t>::max()));
    if (m % 2 == 1)
        v = -v;
    value = static_cast<int32_t>(v);
    return static_cast<int>(2 * z + 1);
}

}  // namespace md
