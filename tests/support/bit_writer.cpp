#include "support/bit_writer.h"

#include <stdexcept>
#include <utility>

namespace mdtest {

void BitWriter::Put(uint64_t value, unsigned bits)
{
    if (bits > 64)
        throw std::invalid_argument("BitWriter::Put: more than 64 bits");
    for (unsigned i = bits; i-- > 0;) {
        if (bitCount_ % 8 == 0)
            bytes_.push_back(0);
        if ((value >> i) & 1)
            bytes_.back() |= static_cast<uint8_t>(0x80u >> (bitCount_ % 8));
        ++bitCount_;
    }
}

void BitWriter::PutBytes(std::span<const uint8_t> bytes)
{
    if (!Aligned())
        throw std::logic_error("BitWriter::PutBytes: not byte-aligned");
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    bitCount_ += bytes.size() * 8;
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
    bitCount_ = 0;
    return std::exchange(bytes_, {});
}

}  // namespace mdtest
