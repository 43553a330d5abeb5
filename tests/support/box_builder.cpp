#include "support/box_builder.h"


namespace mdtest {

BoxBuilder& BoxBuilder::Begin(std::string_view type)
{
    m_open.push_back({m_bytes.size(), false});
    return U32(0).Type(type);
}

BoxBuilder& BoxBuilder::BeginLarge(std::string_view type)
{
    m_open.push_back({m_bytes.size(), true});
    return U32(1).Type(type).U64(0);
}

BoxBuilder& BoxBuilder::BeginFull(std::string_view type, uint8_t version, uint32_t flags)
{
    return Begin(type).U8(version).Big(flags, 3);
}

BoxBuilder& BoxBuilder::End()
{
    const Open box = m_open.back();
    m_open.pop_back();
    const uint64_t size = m_bytes.size() - box.start;
    const size_t at = box.large ? box.start + 8 : box.start;
    const int width = box.large ? 8 : 4;
    for (int i = 0; i < width; ++i)
        m_bytes[at + i] = static_cast<uint8_t>(size >> (8 * (width - 1 - i)));
    return *this;
}

BoxBuilder& BoxBuilder::Big(uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

BoxBuilder& BoxBuilder::Le32(uint32_t v) { return U8(v).U8(v >> 8).U8(v >> 16).U8(v >> 24); }

BoxBuilder& BoxBuilder::Bytes(std::span<const uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

BoxBuilder& BoxBuilder::Zeros(size_t n)
{
    m_bytes.insert(m_bytes.end(), n, 0);
    return *this;
}

BoxBuilder& BoxBuilder::Text(std::string_view text, bool withNul)
{
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    if (withNul)
        m_bytes.push_back(0);
    return *this;
}

BoxBuilder& BoxBuilder::Type(std::string_view type)
{
    return Text(type.substr(0, 4), false);
}

std::vector<uint8_t> BoxBuilder::Take()
{
    std::vector<uint8_t> out;
    out.swap(m_bytes);
    return out;
}

}  // namespace mdtest
