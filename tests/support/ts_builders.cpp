#include "support/ts_builders.h"

namespace mdtest {

namespace {

void Put16(ByteVec& s, unsigned hi, size_t v) { Append(s, ByteVec{uint8_t(hi | v >> 8), uint8_t(v)}); }

// Fills in section_length (bytes after it, CRC included; syntax indicator set) and appends the CRC.
ByteVec Finish(ByteVec section)
{
    section[1] = uint8_t(0xB0 | ((section.size() + 1) >> 8 & 0x0F));
    section[2] = uint8_t(section.size() + 1);
    PutBe(section, Crc32Mpeg2(section), 4);
    return section;
}

}  // namespace

ByteVec PatSection(const std::vector<std::pair<uint16_t, uint16_t>>& programs)
{
    // table_id, section_length, transport_stream_id 1, version 0 current, section 0 of 0.
    ByteVec s{0x00, 0, 0, 0x00, 0x01, 0xC1, 0x00, 0x00};
    for (const auto& [number, pid] : programs) {
        Put16(s, 0, number);
        Put16(s, 0xE0, pid);
    }
    return Finish(std::move(s));
}

ByteVec PmtSection(uint16_t programNumber, const std::vector<PmtStream>& streams, const ByteVec& programInfo)
{
    ByteVec s{0x02, 0, 0, uint8_t(programNumber >> 8), uint8_t(programNumber), 0xC1, 0x00, 0x00};
    Put16(s, 0xE0, streams.empty() ? 0x1FFF : streams.front().pid);  // PCR_PID
    Put16(s, 0xF0, programInfo.size());
    Append(s, programInfo);
    for (const PmtStream& e : streams) {
        s.push_back(e.streamType);
        Put16(s, 0xE0, e.pid);
        Put16(s, 0xF0, e.descriptors.size());
        Append(s, e.descriptors);
    }
    return Finish(std::move(s));
}

}  // namespace mdtest
