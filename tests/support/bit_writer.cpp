#include "support/bit_writer.h"

#include <sstream>
#include <stdexcept>
#include <string>

namespace mdtest {

void BitWriter::Put(uint64_t value, unsigned bits)
{
    if (bits > 64)
        throw std::invalid_argument("BitWriter::Put: more than 64 bits");
    for (unsigned i = bits; i-- > 0; ++m_bitCount) {
        if (m_bitCount % 8 == 0)
            m_bytes.push_back(0);
        m_bytes.back() |= uint8_t(((value >> i) & 1) << (7 - m_bitCount % 8));
    }
}

std::vector<uint8_t> Bits(std::string_view fields)
{
    BitWriter w;
    std::istringstream in{std::string(fields)};
    for (std::string field; in >> field;) {
        const size_t colon = field.find(':');
        if (colon == std::string::npos)
            throw std::invalid_argument("Bits: no ':' in " + field);
        const std::string text = field.substr(colon + 1);
        const int base = text.starts_with("0x") ? 16 : text.starts_with("0b") ? 2 : 10;
        const uint64_t value = std::stoull(text.substr(base == 10 ? 0 : 2), nullptr, base);
        field.starts_with("ue:") ? w.PutUe(value) : w.Put(value, unsigned(std::stoul(field)));
    }
    w.AlignZero();
    return w.Take();
}

}  // namespace mdtest
