#include "support/directv_builders.h"

#include <algorithm>

namespace mdtest {

constexpr size_t kPayloadSize = 127;

void DirecTvWriter::Packet(uint16_t scid, const DtvFlags& flags, std::span<const uint8_t> payload)
{
    m_bytes.push_back(uint8_t((m_framing ? 0x80 : 0) | (flags.start ? 0x40 : 0) | (flags.clear ? 0x20 : 0) |
                              (flags.control ? 0x10 : 0) | ((scid >> 8) & 0x0F)));
    m_bytes.push_back(uint8_t(scid));
    m_bytes.push_back(uint8_t(flags.type & 0x0F));
    const size_t end = m_bytes.size() + kPayloadSize;
    Append(m_bytes, payload.first(std::min(payload.size(), kPayloadSize)));
    m_bytes.resize(end, 0xAA);
    m_framing = !m_framing;
}

void DirecTvWriter::Table(std::span<const uint8_t> section, bool clear)
{
    ByteVec first{0x00};  // pointer field
    Append(first, section.first(std::min<size_t>(section.size(), kPayloadSize - 1)));
    Packet(1, DtvFlags{true, clear}, first);
    for (size_t off = kPayloadSize - 1; off < section.size(); off += kPayloadSize)
        Packet(1, DtvFlags{false, clear}, section.subspan(off, std::min(kPayloadSize, section.size() - off)));
}

void DirecTvWriter::Pes(uint16_t scid, std::span<const uint8_t> pes, const DtvFlags& flags)
{
    for (size_t off = 0; off < pes.size(); off += kPayloadSize) {
        DtvFlags f = flags;
        f.start = flags.start && off == 0;
        Packet(scid, f, pes.subspan(off, std::min(kPayloadSize, pes.size() - off)));
    }
}

void DirecTvWriter::TimeReference(uint16_t scid, uint32_t value)
{
    const ByteVec payload{0xC3, 0x7D, 0, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    Packet(scid, DtvFlags{false, true, false, 0}, payload);
}

void DirecTvWriter::Filler(size_t count)
{
    for (size_t k = 0; k < count; ++k)
        Packet(0x0FFE, DtvFlags{false}, {});
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
    const ByteVec head{0x00, 0x00, 0x01, 0xB2, 0x00, 0x02, uint8_t(time >> 30)};
    ByteVec pes = head;
    Append(pes, ByteVec{uint8_t(0x80 | mid >> 8), uint8_t(mid), uint8_t(0x80 | low >> 8), uint8_t(low)});
    return pes;
}

ByteVec LanguageDescriptor(const char (&code)[4])
{
    return {10, 4, uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), 0x00};
}

}  // namespace mdtest
