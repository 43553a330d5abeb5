#include "support/bit_writer.h"

#include <bit>
#include <stdexcept>
#include <string>
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

void BitWriter::PutUe(uint64_t value)
{
    const auto bits = static_cast<unsigned>(std::bit_width(value + 1));
    Put(0, bits - 1);  // leading zeros, then value + 1 in bits bits
    Put(value + 1, bits);
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

std::vector<uint8_t> Bits(std::string_view fields)
{
    BitWriter w;
    while (!fields.empty()) {
        const size_t end = std::min(fields.find(' '), fields.size());
        const std::string field(fields.substr(0, end));
        fields.remove_prefix(std::min(end + 1, fields.size()));
        const size_t colon = field.find(':');
        if (field.empty())
            continue;
        if (colon == std::string::npos)
            throw std::invalid_argument("Bits: no ':' in " + field);
        const std::string width = field.substr(0, colon);
        std::string text = field.substr(colon + 1);
        const bool negative = text.starts_with('-');
        text.erase(0, negative ? 1 : 0);
        const int base = text.starts_with("0x") ? 16 : text.starts_with("0b") ? 2 : 10;
        text.erase(0, base == 10 ? 0 : 2);
        const uint64_t magnitude = std::stoull(text, nullptr, base);
        const int64_t value = negative ? -int64_t(magnitude) : int64_t(magnitude);
        if (width == "ue")
            w.PutUe(uint64_t(value));
        else if (width == "se")
            w.PutSe(value);
        else
            w.Put(uint64_t(value), unsigned(std::stoul(width)));
    }
    w.AlignZero();
    return w.Take();
}

}  // namespace mdtest
