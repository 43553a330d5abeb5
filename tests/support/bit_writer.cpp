#include "support/bit_writer.h"

#include <stdexcept>
#include <utility>

namespace mdtest {

void BitWriter::Put(uint64_t value, unsigned bits)
{
    if (bits > 64)
        throw std::invalid_argument("BitWriter::Put: more than 64 bits");
    for (unsigned i = bits; i-- > 0;) {
        if (m_bitCount % 8 == 0)
            m_bytes.push_back(0);
        if ((value >> i) & 1)
            m_bytes.back() |= static_cast<uint8_t>(0x80u >> (m_bitCount % 8));
        ++m_bitCount;
    }
}

void BitWriter::PutBytes(std::span<const uint8_t> bytes)
{
    if (!Aligned())
        throw std::logic_error("BitWriter::PutBytes: not byte-aligned");
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    m_bitCount += bytes.size() * 8;
}

void BitWriter::AlignZero()
{
    while (!Aligned())
        PutBit(false);
}

void BitWriter::AlignOnes()
{
    while (!Aligned())
        PutBit(true);
}

std::vector<uint8_t> BitWriter::Take()
{
    m_bitCount = 0;
    return std::exchange(m_bytes, {});
}

}  // namespace mdtest
