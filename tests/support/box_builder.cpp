#include "support/box_builder.h"

namespace mdtest {

BoxBuilder& BoxBuilder::Begin(std::string_view type, bool large)
{
    m_open.emplace_back(m_bytes.size(), large);
    U32(large ? 1 : 0).Type(type);
    return large ? U64(0) : *this;
}

BoxBuilder& BoxBuilder::BeginFull(std::string_view t, uint8_t v, uint32_t f) { return Begin(t).U8(v).Big(f, 3); }

BoxBuilder& BoxBuilder::End()
{
    const auto [start, large] = m_open.back();
    m_open.pop_back();
    const uint64_t size = m_bytes.size() - start;
    const int width = large ? 8 : 4;
    for (int i = 0; i < width; ++i)
        m_bytes[start + (large ? 8 : 0) + i] = static_cast<uint8_t>(size >> (8 * (width - 1 - i)));
    return *this;
}

BoxBuilder& BoxBuilder::Big(uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

}  // namespace mdtest
