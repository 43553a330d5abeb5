// Ogg pages (RFC 3533 6): the capture pattern "OggS", stream structure version 0, the header type flags, a 64-bit
// granule position, the logical stream's serial number, the page sequence number, a CRC-32 over the whole page and
// the segment table whose lacing values give the body's length and its packet boundaries (a lacing value below 255
// ends a packet). All fields are little-endian.
#pragma once

#include <cstdint>

#include "input/bytes.h"

namespace md {

constexpr uint32_t kOggHeaderSize = 27;
constexpr size_t kOggCrcOffset = 22;
constexpr size_t kOggSegmentCountOffset = 26;
constexpr uint32_t kOggMaxPageSize = kOggHeaderSize + 255 + 255 * 255;  // 65307 bytes

// header_type flags.
constexpr uint8_t kOggContinued = 0x01;  // the first packet continues one from the page before
constexpr uint8_t kOggBos = 0x02;  // the first page of a logical stream
constexpr uint8_t kOggEos = 0x04;  // the last page of a logical stream

struct OggPage {
    uint8_t flags = 0;
    int64_t granule = -1;  // -1: no packet ends on the page
    uint32_t serial = 0;
    uint32_t sequence = 0;
    Bytes lacing;  // the segment table
    Bytes body;
    uint32_t size = 0;  // header, segment table and body

    bool Bos() const { return (flags & kOggBos) != 0; }
    bool Eos() const { return (flags & kOggEos) != 0; }
    bool Continued() const { return (flags & kOggContinued) != 0; }
};

enum class OggPageStatus {
    Ok,
    NotAPage,  // no capture pattern, or a version other than 0
    Truncated,  // the header, segment table or body runs past the bytes given
    BadCrc,  // a whole page whose CRC does not match: not to be trusted
};

// The page at the start of b; page points into b.
OggPageStatus ReadOggPage(Bytes b, OggPage& page);

// The page checksum: CRC-32 with the generator polynomial 0x04C11DB7, initial value 0, no reflection and no final
// complement, over the page with its CRC field taken as zero. crcOffset: where the CRC field lies in b (the bytes
// there count as zero), or past b's end for none.
uint32_t OggCrc(Bytes b, size_t crcOffset = kOggCrcOffset);

// The packets a page completes: the number of lacing values below 255.
uint32_t OggPacketsEnding(const OggPage& page);

// Walks the packets of a page in order: each call gives the next packet's bytes on this page and whether it ends
// here (else it continues on the next page). The first one continues a packet of the page before when the page
// says so.
class OggPacketWalk {
public:
    explicit OggPacketWalk(const OggPage& page) : m_page(page) {}
    // False when no packet is left.
    bool Next(Bytes& packet, bool& complete);

private:
    const OggPage& m_page;
    size_t m_segment = 0;
    size_t m_offset = 0;
};

}  // namespace md
