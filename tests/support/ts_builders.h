// Builders of synthetic MPEG-2 transport streams for the demultiplexer tests:
// PAT and PMT sections (ISO/IEC 13818-1 2.4.4) with their CRC_32, and a writer
// that lays sections and PES packets into transport packets of 188, 192 or 204
// bytes with running continuity counters.
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
    // One packet: pointer_field 0, the section, 0xFF stuffing.
    void Section(uint16_t pid, std::span<const uint8_t> section);
    // A PES packet split over packets of pid; the last one is filled up by
    // adaptation-field stuffing.
    void Pes(uint16_t pid, std::span<const uint8_t> pes);
    const ByteVec& Bytes() const { return m_bytes; }

private:
    uint8_t NextCc(uint16_t pid) { return m_cc[pid]++ & 0x0F; }

    size_t m_packetSize;
    ByteVec m_bytes;
    std::map<uint16_t, uint8_t> m_cc;
};

}  // namespace mdtest
