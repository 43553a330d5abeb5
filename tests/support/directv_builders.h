// Builders of synthetic DirecTV streams: 130-byte packets (framing toggle, start, clear and control flags,
// 12-bit SCID, packet type; 127 payload bytes), the program table on SCID 1, PES packets, time references.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "support/stream_builders.h"

namespace mdtest {

struct DtvFlags {
    bool start = true;  // a payload unit or section starts here
    bool clear = true;  // payload not scrambled
    uint8_t type = 1;  // packet type (0 auxiliary)
};

// Appends packets whose framing bit alternates, starting with 1; payloads padded with 0xAA (or cut) to 127 bytes.
class DirecTvWriter {
public:
    void Packet(uint16_t scid, const DtvFlags& flags, std::span<const uint8_t> payload);
    // A program table section on SCID 1 after pointer field 0, split over packets.
    void Table(std::span<const uint8_t> section, bool clear = true);
    // A PES packet: the first packet with the start flag, the rest without.
    void Pes(uint16_t scid, std::span<const uint8_t> pes, const DtvFlags& flags = {});
    // Auxiliary packet: C3 7D 00, then the 32-bit time reference.
    void TimeReference(uint16_t scid, uint32_t value);
    // count packets of a SCID no table lists.
    void Filler(size_t count);
    const ByteVec& Bytes() const { return m_bytes; }

private:
    bool m_framing = true;
    ByteVec m_bytes;
};

// An MPEG-2 video PES packet with PES_packet_length 0 (unbounded) and a PTS.
ByteVec DtvVideoPes(std::span<const uint8_t> es, uint64_t pts);
// A user data PES header (stream_id 0xB2) carrying a 32-bit time: byte 5 = 2, byte 6 = time >> 30, then
// two 15-bit parts each behind a marker bit.
ByteVec DtvUserDataTime(uint32_t time);

}  // namespace mdtest
