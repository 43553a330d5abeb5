#include "support/directv_builders.h"

#include <algorithm>

namespace mdtest {

ByteVec DtvPacket(uint16_t scid, bool framing, const DtvFlags& flags, std::span<const uint8_t> payload)
{
    ByteVec out;
    out.push_back(uint8_t((framing ? 0x80 : 0) | (flags.start ? 0x40 : 0) | (flags.clear ? 0x20 : 0) |
                          (flags.control ? 0x10 : 0) | ((scid >> 8) & 0x0F)));
    out.push_back(uint8_t(scid));
    out.push_back(uint8_t(flags.type & 0x0F));
    Append(out, payload.first(std::min(payload.size(), kDtvPayloadSize)));
    out.resize(kDtvPacketSize, 0xAA);
    return out;
}

void DirecTvWriter::Packet(uint16_t scid, const DtvFlags& flags, std::span<const uint8_t> payload)
{
    Append(m_bytes, DtvPacket(scid, m_framing, flags, payload));
    m_framing = !m_framing;
}

void DirecTvWriter::Table(std::span<const uint8_t> section, bool clear)
{
    ByteVec first{0x00};  // pointer field
    Append(first, section.first(std::min<size_t>(section.size(), kDtvPayloadSize - 1)));
    Packet(1, DtvFlags{true, clear}, first);
    for (size_t off = kDtvPayloadSize - 1; off < section.size(); off += kDtvPayloadSize)
        Packet(1, DtvFlags{false, clear}, section.subspan(off, std::min(kDtvPayloadSize, section.size() - off)));
}

void DirecTvWriter::Pes(uint16_t scid, std::span<const uint8_t> pes, const DtvFlags& flags)
{
    for (size_t off = 0; off < pes.size(); off += kDtvPayloadSize) {
        DtvFlags f = flags;
        f.start = flags.start && off == 0;
        Packet(scid, f, pes.subspan(off, std::min(kDtvPayloadSize, pes.size() - off)));
    }
}

void DirecTvWriter::TimeReference(uint16_t scid, uint32_t value, uint8_t byte5)
{
    const ByteVec payload{0xC3, 0x7D, byte5, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                          uint8_t(value)};
    Packet(scid, DtvFlags{false, true, false, 0}, payload);
}

void DirecTvWriter::Filler(size_t count, uint16_t scid)
{
    for (size_t k = 0; k < count; ++k)
        Packet(scid, DtvFlags{false}, {});
}

ByteVec DtvVideoPes(std::span<const uint8_t> es, uint64_t pts)
{
    ByteVec pes = PesPacket(0xE0, es, pts);
    pes[4] = pes[5] = 0;  // PES_packet_length 0
    return pes;
}

ByteVec DtvUserDataTime(uint32_t time)
{
    const uint32_t mid = (time >> 15) & 0x7FFF;
    const uint32_t low = time & 0x7FFF;
    return {0x00, 0x00, 0x01, 0xB2, 0x00, 0x02, uint8_t(time >> 30), uint8_t(0x80 | mid >> 8), uint8_t(mid),
            uint8_t(0x80 | low >> 8), uint8_t(low)};
}

ByteVec LanguageDescriptor(const char (&code)[4])
{
    return {10, 4, uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), 0x00};
}

}  // namespace mdtest
