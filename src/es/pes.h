// PES packet headers of MPEG-1 system streams (ISO/IEC 11172-1) and MPEG-2
// program streams (ISO/IEC 13818-1), the system header, and PTS fields.
//
// The header functions return a length: kPesNeedMore when more data is needed to
// decide, kPesSkipStartCode when no valid packet starts here (the caller skips
// the 4-byte start code), and otherwise the length of the whole packet or header.
#pragma once

#include <cstdint>

namespace md {

constexpr uint32_t kPesNeedMore = 0;
constexpr uint32_t kPesSkipStartCode = 4;

struct PesInfo {
    uint32_t payloadOffset;  // from the packet start
    uint32_t packetLength;   // 6 + PES_packet_length
    uint64_t ptsPresent;     // 0 or 1
    int64_t pts;             // 90 kHz, 33 bits; -1 when present but malformed
};

// The stream_ids whose PES packets carry no header extension, only
// PES_packet_length and payload (ISO/IEC 13818-1 2.4.3.7): program_stream_map,
// padding_stream, private_stream_2, ECM, EMM, DSMCC_stream, ITU-T H.222.1 type E
// and program_stream_directory.
constexpr bool HasNoPesHeaderExtension(uint32_t streamId)
{
    switch (streamId) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return true;
    default:
        return false;
    }
}

// The 33-bit value of a 5-byte timestamp field, the layout of PTS, DTS and the
// MPEG-1 pack header's SCR: bits 32..30 in bits 3..1 of byte 0, bits 29..15 in
// bytes 1-2 and bits 14..0 in bytes 3-4, each part followed by a marker bit.
// Nothing is checked; the caller has made sure that 5 bytes are there.
constexpr uint64_t ReadTimestamp33(const uint8_t* p)
{
    return uint64_t(p[0] >> 1 & 0x07) << 30 | uint64_t(p[1]) << 22 | uint64_t(p[2] >> 1) << 15 |
           uint64_t(p[3]) << 7 | uint64_t(p[4] >> 1);
}

// system_clock_reference of the MPEG-2 pack header at p (00 00 01 BA, at least 10
// bytes): SCR_base (33 bits) and SCR_extension (9 bits); markers not checked.
constexpr void ReadMpeg2Scr(const uint8_t* p, uint64_t& base, uint64_t& extension)
{
    base = uint64_t(p[4] >> 3 & 0x07) << 30 | uint64_t(p[4] & 0x03) << 28 | uint64_t(p[5]) << 20 |
           uint64_t(p[6] >> 3) << 15 | uint64_t(p[6] & 0x03) << 13 | uint64_t(p[7]) << 5 | uint64_t(p[8] >> 3);
    extension = uint64_t(p[8] & 0x03) << 7 | uint64_t(p[9] >> 1);
}

// The same clock in 27 MHz units: SCR_base x 300 + SCR_extension.
constexpr uint64_t ReadMpeg2Scr27MHz(const uint8_t* p)
{
    uint64_t base = 0;
    uint64_t extension = 0;
    ReadMpeg2Scr(p, base, extension);
    return base * 300 + extension;
}

// A 5-byte PTS field: '001x' in the top nibble (x = 1 when a DTS follows), the
// three parts of the 33-bit value, and marker bits at the end of bytes 2 and 4
// (the one in byte 0 is not checked). -1 when the field is malformed or len < 5.
int64_t ReadPts(const uint8_t* p, uint32_t len);

// Length of the system header at p (00 00 01 BB) after checking its markers and
// stream entries; kPesNeedMore / kPesSkipStartCode / length as above.
uint32_t SystemHeaderLength(const uint8_t* p, uint32_t len);

// The header of an MPEG-1 packet at p (00 00 01 id): stuffing, STD buffer
// fields and timestamps. Returns the packet length on success and fills info;
// kPesNeedMore / kPesSkipStartCode as above. Packets of stream 0xBF (private stream 2) are not examined:
// their payload starts at byte 6.
uint32_t ParseMpeg1PesHeader(const uint8_t* p, uint32_t len, PesInfo& info);

// The header of an MPEG-2 PES packet at p. Packets of the stream ids that have
// no header extension (HasNoPesHeaderExtension) carry their payload from byte 6. A PES_header_data_length that runs past the packet
// makes the packet invalid (kPesSkipStartCode).
uint32_t ParseMpeg2PesHeader(const uint8_t* p, uint32_t len, PesInfo& info);

}  // namespace md
