// PES packet headers of MPEG-1 system streams (ISO/IEC 11172-1) and MPEG-2
// program streams (ISO/IEC 13818-1), the system header, and PTS fields.
//
// The header functions return a length: 0 when more data is needed to decide, 4
// when no valid packet starts here (the caller skips the 4-byte start code), and
// otherwise the length of the whole packet or header.
#pragma once

#include <cstdint>

namespace md {

struct PesInfo {
    uint32_t payloadOffset;  // from the packet start
    uint32_t packetLength;   // 6 + PES_packet_length
    uint64_t ptsPresent;     // 0 or 1
    int64_t pts;             // 90 kHz, 33 bits; -1 when present but malformed
};

// A 5-byte PTS field: '001x' in the top nibble (x = 1 when a DTS follows), the
// three parts of the 33-bit value, and marker bits at the end of bytes 2 and 4
// (the one in byte 0 is not checked). -1 when the field is malformed or len < 5.
int64_t ReadPts(const uint8_t* p, uint32_t len);

// Length of the system header at p (00 00 01 BB) after checking its markers and
// stream entries; 0 / 4 / length as above.
uint32_t SystemHeaderLength(const uint8_t* p, uint32_t len);

// The header of an MPEG-1 packet at p (00 00 01 id): stuffing, STD buffer
// fields and timestamps. Returns the packet length on success and fills info;
// 0 / 4 as above. Packets of stream 0xBF (private stream 2) are not examined:
// their payload starts at byte 6.
uint32_t ParseMpeg1PesHeader(const uint8_t* p, uint32_t len, PesInfo& info);

// The header of an MPEG-2 PES packet at p. Packets of the stream ids that have
// no header extension (0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF) carry
// their payload from byte 6. A PES_header_data_length that runs past the packet
// makes the packet invalid (4).
uint32_t ParseMpeg2PesHeader(const uint8_t* p, uint32_t len, PesInfo& info);

}  // namespace md
