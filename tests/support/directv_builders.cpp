#include "support/directv_builders.h"

#include <algorithm>

namespace mdtest {

constexpr size_t kPayloadSize = 127;

void DirecTvWriter::Packet(uint16_t scid, const DtvFlags& flags, std::span<const uint8_t> payload)
{
    const int head = (m_framing ? 8 : 0) | (flags.start ? 4 : 0) | (flags.clear ? 2 : 0);
    Append(m_bytes, ByteVec{uint8_t(head << 4 | (scid >> 8 & 0x0F)), uint8_t(scid), uint8_t(flags.type & 0x0F)});
    const size_t end = m_bytes.size() + kPayloadSize;
    Append(m_bytes, payload.first(std::min(payload.size(), kPayloadSize)));
    m_bytes.resize(end, 0xAA);
    m_framing = !m_framing;
}

void DirecTvWriter::Table(std::span<const uint8_t> section, bool clear)
{
    ByteVec withPointer{0x00};
    Append(withPointer, section);
    Pes(1, withPointer, DtvFlags{true, clear});
}

void DirecTvWriter::Pes(uint16_t scid, std::span<const uint8_t> pes, const DtvFlags& flags)
{
    for (size_t off = 0; off < pes.size(); off += kPayloadSize)
        Packet(scid, {flags.start && off == 0, flags.clear, flags.type},
               pes.subspan(off, std::min(kPayloadSize, pes.size() - off)));
}

void DirecTvWriter::TimeReference(uint16_t scid, uint32_t value)
{
    Packet(scid, {false, true, 0}, Concat({ByteVec{0xC3, 0x7D, 0}, Be(value, 4)}));
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
    const uint32_t mid = (time >> 15) & 0x7FFF, low = time & 0x7FFF;
    return {0x00, 0x00, 0x01, 0xB2, 0x00, 0x02, uint8_t(time >> 30), uint8_t(0x80 | mid >> 8), uint8_t(mid),
            uint8_t(0x80 | low >> 8), uint8_t(low)};
}

}  // namespace mdtest
