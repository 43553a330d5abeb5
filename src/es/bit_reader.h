// An MSB-first bit reader over a byte span, for the header parsers that read a
// whole syntax structure and then ask once whether it fitted. Reads past the end
// give zero bits and set Overrun(); nothing is ever read outside the span.
#pragma once

#include <cstddef>
#include <cstdint>

namespace md {

class BitReader {
public:
    BitReader(const uint8_t* data, size_t length) : m_data(data), m_bits(data == nullptr ? 0 : length * 8) {}

    // n bits (0..32), most significant first.
    uint32_t Bits(int n)
    {
        uint32_t value = 0;
        for (int i = 0; i < n; ++i)
            value = value << 1 | Bit();
        return value;
    }

    uint32_t Bit()
    {
        if (m_at >= m_bits) {
            m_overrun = true;
            return 0;
        }
        const uint32_t bit = m_data[m_at / 8] >> (7 - m_at % 8) & 1;
        ++m_at;
        return bit;
    }

    void Skip(size_t n)
    {
        if (n > m_bits - m_at)
            m_overrun = true, m_at = m_bits;
        else
            m_at += n;
    }

    // ue(v). More than 31 leading zero bits do not fit 32 bits: the read counts as an overrun.
    uint32_t Ue()
    {
        int zeros = 0;
        while (Bit() == 0) {
            if (m_overrun || ++zeros > 31) {
                m_overrun = true;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t(1) << zeros) - 1 + Bits(zeros));
    }

    // se(v): k = ue(v) maps to (k + 1) / 2, negated when k is even.
    int32_t Se()
    {
        const uint32_t k = Ue();
        const int64_t magnitude = (int64_t(k) + 1) / 2;
        return static_cast<int32_t>(k % 2 ? magnitude : -magnitude);
    }

    bool Overrun() const { return m_overrun; }
    size_t BitsLeft() const { return m_bits - m_at; }

private:
    const uint8_t* m_data;
    size_t m_bits;
    size_t m_at = 0;
    bool m_overrun = false;
};

}  // namespace md
