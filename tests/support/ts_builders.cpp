#include "support/ts_builders.h"

#include <algorithm>

namespace mdtest {

namespace {

// Fills in section_length (bytes after it, CRC included) and appends the CRC.
ByteVec Finish(ByteVec section)
{
    const size_t length = section.size() - 3 + 4;
    section[1] = uint8_t(0xB0 | ((length >> 8) & 0x0F));  // section_syntax_indicator, '0', reserved
    section[2] = uint8_t(length);
    const uint32_t crc = Crc32Mpeg2(section);
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(uint8_t(crc >> shift));
    return section;
}

}  // namespace

ByteVec PatSection(const std::vector<std::pair<uint16_t, uint16_t>>& programs)
{
    // table_id, section_length (later), transport_stream_id 1, version 0 current,
    // section_number 0, last_section_number 0.
    ByteVec s{0x00, 0, 0, 0x00, 0x01, 0xC1, 0x00, 0x00};
    for (const auto& [number, pid] : programs) {
        s.push_back(uint8_t(number >> 8));
        s.push_back(uint8_t(number));
        s.push_back(uint8_t(0xE0 | (pid >> 8)));
        s.push_back(uint8_t(pid));
    }
    return Finish(std::move(s));
}

ByteVec PmtSection(uint16_t programNumber, const std::vector<PmtStream>& streams, const ByteVec& programInfo)
{
    const uint16_t pcrPid = streams.empty() ? 0x1FFF : streams.front().pid;
    ByteVec s{0x02, 0, 0, uint8_t(programNumber >> 8), uint8_t(programNumber), 0xC1, 0x00, 0x00,
              uint8_t(0xE0 | (pcrPid >> 8)), uint8_t(pcrPid), uint8_t(0xF0 | (programInfo.size() >> 8)),
              uint8_t(programInfo.size())};
    Append(s, programInfo);
    for (const PmtStream& e : streams) {
        s.push_back(e.streamType);
        s.push_back(uint8_t(0xE0 | (e.pid >> 8)));
        s.push_back(uint8_t(e.pid));
        s.push_back(uint8_t(0xF0 | (e.descriptors.size() >> 8)));
        s.push_back(uint8_t(e.descriptors.size()));
        Append(s, e.descriptors);
    }
    return Finish(std::move(s));
}

void TsWriter::Section(uint16_t pid, std::span<const uint8_t> section)
{
    ByteVec payload{0x00};
    Append(payload, section);
    payload.resize(184, 0xFF);
    Append(m_bytes, TsPacket(pid, true, NextCc(pid), payload, m_packetSize));
}

void TsWriter::Pes(uint16_t pid, std::span<const uint8_t> pes)
{
    for (size_t off = 0; off < pes.size(); off += 184) {
        const auto part = pes.subspan(off, std::min<size_t>(184, pes.size() - off));
        Append(m_bytes, TsPacket(pid, off == 0, NextCc(pid), part, m_packetSize));
    }
}

}  // namespace mdtest
