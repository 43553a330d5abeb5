#include "support/box_builder.h"

#include <stdexcept>

namespace mdtest {

BoxBuilder& BoxBuilder::Begin(std::string_view type)
{
    m_open.push_back({m_bytes.size(), false});
    U32(0);
    return Type(type);
}

BoxBuilder& BoxBuilder::BeginLarge(std::string_view type)
{
    m_open.push_back({m_bytes.size(), true});
    U32(1);
    Type(type);
    return U64(0);
}

BoxBuilder& BoxBuilder::BeginFull(std::string_view type, uint8_t version, uint32_t flags)
{
    Begin(type);
    U8(version);
    return U24(flags);
}

BoxBuilder& BoxBuilder::End()
{
    if (m_open.empty())
        throw std::logic_error("BoxBuilder::End without an open box");
    const Open box = m_open.back();
    m_open.pop_back();
    const uint64_t size = m_bytes.size() - box.start;
    if (box.large) {
        for (int i = 0; i < 8; ++i)
            m_bytes[box.start + 8 + i] = static_cast<uint8_t>(size >> (56 - 8 * i));
    } else {
        if (size > UINT32_MAX)
            throw std::logic_error("BoxBuilder: box too large for a 32-bit size");
        PatchU32(box.start, static_cast<uint32_t>(size));
    }
    return *this;
}

BoxBuilder& BoxBuilder::U8(uint32_t v)
{
    m_bytes.push_back(static_cast<uint8_t>(v));
    return *this;
}

BoxBuilder& BoxBuilder::U16(uint32_t v) { return U8(v >> 8).U8(v); }
BoxBuilder& BoxBuilder::U24(uint32_t v) { return U8(v >> 16).U16(v); }
BoxBuilder& BoxBuilder::U32(uint32_t v) { return U16(v >> 16).U16(v); }
BoxBuilder& BoxBuilder::U64(uint64_t v) { return U32(static_cast<uint32_t>(v >> 32)).U32(static_cast<uint32_t>(v)); }
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
    if (type.size() != 4)
        throw std::invalid_argument("BoxBuilder: a box type has four bytes");
    return Text(type, false);
}

BoxBuilder& BoxBuilder::PatchU32(size_t offset, uint32_t v)
{
    if (offset + 4 > m_bytes.size())
        throw std::out_of_range("BoxBuilder::PatchU32 past the end");
    for (int i = 0; i < 4; ++i)
        m_bytes[offset + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    return *this;
}

std::vector<uint8_t> BoxBuilder::Take()
{
    if (!m_open.empty())
        throw std::logic_error("BoxBuilder::Take with open boxes");
    std::vector<uint8_t> out;
    out.swap(m_bytes);
    return out;
}

void PutVisualEntryFields(BoxBuilder& b, uint16_t width, uint16_t height)
{
    b.Zeros(6).U16(1);        // reserved, data_reference_index
    b.Zeros(16);              // pre_defined, reserved
    b.U16(width).U16(height);
    b.U32(0x00480000).U32(0x00480000);  // 72 dpi
    b.U32(0).U16(1);          // reserved, frame_count
    b.Zeros(32);              // compressorname
    b.U16(0x18).U16(0xFFFF);  // depth, pre_defined
}

void PutAudioEntryFields(BoxBuilder& b, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate)
{
    b.Zeros(6).U16(1);  // reserved, data_reference_index
    b.Zeros(8);         // reserved (version, revision, vendor)
    b.U16(channels).U16(sampleSize);
    b.U16(0).U16(0);    // pre_defined, reserved
    b.U32(sampleRate << 16);
}

std::vector<uint8_t> Descriptor(uint8_t tag, std::span<const uint8_t> payload, int lengthBytes)
{
    std::vector<uint8_t> out{tag};
    const size_t n = payload.size();
    for (int i = lengthBytes - 1; i >= 0; --i) {
        uint8_t b = static_cast<uint8_t>((n >> (7 * i)) & 0x7F);
        if (i > 0)
            b |= 0x80;
        out.push_back(b);
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> EsDescriptor(uint8_t objectType, uint32_t bufferSize, uint32_t maxBitrate, uint32_t avgBitrate,
                                  std::span<const uint8_t> dsi)
{
    std::vector<uint8_t> config{objectType, 0x15,  // streamType audio (5), upStream 0, reserved 1
                                static_cast<uint8_t>(bufferSize >> 16), static_cast<uint8_t>(bufferSize >> 8),
                                static_cast<uint8_t>(bufferSize)};
    for (uint32_t v : {maxBitrate, avgBitrate})
        for (int i = 3; i >= 0; --i)
            config.push_back(static_cast<uint8_t>(v >> (8 * i)));
    if (!dsi.empty()) {
        const auto specific = Descriptor(5, dsi);
        config.insert(config.end(), specific.begin(), specific.end());
    }
    std::vector<uint8_t> es{0x00, 0x01, 0x00};  // ES_ID 1, no optional fields
    const auto configDescriptor = Descriptor(4, config);
    es.insert(es.end(), configDescriptor.begin(), configDescriptor.end());
    const std::vector<uint8_t> sl{0x02};  // SLConfigDescriptor, predefined 2
    const auto slDescriptor = Descriptor(6, sl);
    es.insert(es.end(), slDescriptor.begin(), slDescriptor.end());
    return Descriptor(3, es);
}

}  // namespace mdtest
