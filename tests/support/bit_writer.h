// MSB-first bit writer for building bitstreams in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mdtest {

class BitWriter {
public:
    // Appends the low `bits` bits of value, most significant first (bits <= 64).
    void Put(uint64_t value, unsigned bits);
    void PutBit(bool bit) { Put(bit ? 1 : 0, 1); }
    // Appends whole bytes; the writer must be byte-aligned.
    void PutBytes(std::span<const uint8_t> bytes);
    // Fills the current byte with zero (or one) bits.
    void AlignZero();
    void AlignOnes();

    bool Aligned() const { return m_bitCount % 8 == 0; }
    size_t BitCount() const { return m_bitCount; }
    // The bytes written so far; a partial last byte has its unwritten bits zero.
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> Take();

private:
    std::vector<uint8_t> m_bytes;
    size_t m_bitCount = 0;
};

}  // namespace mdtest
