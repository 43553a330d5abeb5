// MSB-first bit writing for building bitstreams in tests, and Bits(), which writes a list of fields the way the
// standards' syntax tables give them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace mdtest {

class BitWriter {
public:
    // Appends the low `bits` bits of value, most significant first (bits <= 64).
    void Put(uint64_t value, unsigned bits);
    void PutBit(bool bit) { Put(bit ? 1 : 0, 1); }
    // ue(v) and se(v), the Exp-Golomb codes of ISO/IEC 14496-10 9.1: leading zeros, then value + 1.
    void PutUe(uint64_t v) { Put(0, unsigned(std::bit_width(v + 1)) - 1), Put(v + 1, unsigned(std::bit_width(v + 1))); }
    void PutSe(int64_t value) { PutUe(value > 0 ? uint64_t(2 * value - 1) : uint64_t(-2 * value)); }
    // Fills the current byte with zero (or one) bits.
    void AlignZero() { Put(0, (8 - m_bitCount % 8) % 8); }
    void AlignOnes() { Put(0xFF, (8 - m_bitCount % 8) % 8); }
    // The bytes written so far; a partial last byte has its unwritten bits zero.
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> Take()
    {
        m_bitCount = 0;
        return std::exchange(m_bytes, {});
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_bitCount = 0;
};

// A NAL unit's payload with emulation_prevention_three_byte inserted wherever two zero bytes meet a byte <= 3
// (ISO/IEC 14496-10 7.4.1, ITU-T H.265 7.4.2).
inline std::vector<uint8_t> EscapeRbsp(const std::vector<uint8_t>& rbsp)
{
    std::vector<uint8_t> out;
    for (uint8_t b : rbsp) {
        if (out.size() >= 2 && out[out.size() - 1] == 0 && out[out.size() - 2] == 0 && b <= 3)
            out.push_back(3);
        out.push_back(b);
    }
    return out;
}

// Writes space-separated fields "n:value" (value in n bits) or "ue:value"; values are decimal, 0x hexadecimal or 0b
// binary. Zero bits fill the last byte. Bits("32:0x1B3 12:720 12:576") is 00 00 01 B3 2D 02 40.
std::vector<uint8_t> Bits(std::string_view fields);

}  // namespace mdtest
