// Builders of synthetic MPEG-2 transport streams: PAT and PMT sections (ISO/IEC 13818-1 2.4.4) with their
// CRC_32, and a writer of sections into transport packets of 188, 192 or 204 bytes.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "support/stream_builders.h"

namespace mdtest {

// program_association_section: (program_number, PID) entries.
ByteVec PatSection(const std::vector<std::pair<uint16_t, uint16_t>>& programs);

struct PmtStream {
    uint8_t streamType;
    uint16_t pid;
    ByteVec descriptors{};
};
// TS_program_map_section with the given ES loop and program descriptors.
ByteVec PmtSection(uint16_t programNumber, const std::vector<PmtStream>& streams, const ByteVec& programInfo = {});

class TsWriter {
public:
    explicit TsWriter(size_t packetSize = 188) : m_packetSize(packetSize) {}
    // One packet: pointer_field 0, the section, 0xFF stuffing; continuity counters run per PID.
    void Section(uint16_t pid, std::span<const uint8_t> section)
    {
        ByteVec payload{0x00};
        Append(payload, section);
        payload.resize(184, 0xFF);
        Append(m_bytes, TsPacket(pid, true, m_cc[pid]++ & 0x0F, payload, m_packetSize));
    }
    const ByteVec& Bytes() const { return m_bytes; }

private:
    size_t m_packetSize;
    ByteVec m_bytes;
    std::map<uint16_t, uint8_t> m_cc;
};

}  // namespace mdtest
