#include "es/pes.h"

#include "input/bytes.h"

namespace md {

int64_t ReadPts(const uint8_t* p, uint32_t len)
{
    if (p == nullptr || len < 5)
        return -1;
    if ((p[0] & 0xE0) != 0x20 || (p[2] & 1) == 0 || (p[4] & 1) == 0)
        return -1;
    return static_cast<int64_t>(ReadTimestamp33(p));
}

uint32_t SystemHeaderLength(const uint8_t* p, uint32_t len)
{
    if (p == nullptr || len < 6)
        return kPesNeedMore;
    const uint32_t length = 6 + Be16(p + 4);  // 6 + header_length
    if (length < 12)
        return kPesSkipStartCode;
    if (length > len)
        return kPesNeedMore;
    // The marker_bits before and after rate_bound (byte 6 bit 7, byte 8 bit 0)
    // and after system_video_lock_flag (byte 10 bit 5).
    if ((p[6] & 0x80) == 0 || (p[8] & 0x01) == 0 || (p[10] & 0x20) == 0)
        return kPesSkipStartCode;
    if ((length - 12) % 3 != 0)
        return kPesSkipStartCode;
    for (uint32_t i = 12; i < length; i += 3) {
        const uint8_t id = p[i];
        if (id != 0xB8 && id != 0xB9 && id < 0xBC)
            return kPesSkipStartCode;
    }
    return length;
}

uint32_t ParseMpeg1PesHeader(const uint8_t* p, uint32_t len, PesInfo& info)
{
    info = PesInfo{};
    if (p == nullptr || len < 6)
        return kPesNeedMore;
    const uint32_t packetLength = 6 + Be16(p + 4);  // 6 + PES_packet_length
    if (packetLength > len)
        return kPesNeedMore;
    if (p[3] == 0xBF) {
        info.payloadOffset = 6;
        info.packetLength = packetLength;
        return packetLength;
    }
    if (packetLength < 7)
        return kPesSkipStartCode;

    uint32_t i = 6;
    while (i < packetLength && p[i] == 0xFF)  // stuffing_byte
        ++i;
    if (i >= packetLength || (p[i] & 0x80) != 0)
        return kPesSkipStartCode;
    if ((p[i] & 0xC0) == 0x40) {  // '01' STD_buffer_scale STD_buffer_size
        i += 2;
        if (i >= packetLength)
            return kPesSkipStartCode;
    }

    const uint8_t marker = p[i];
    uint32_t payload = 0;
    bool hasPts = false;
    if (marker == 0x0F) {
        payload = i + 1;
    } else if ((marker >> 4) == 0x2) {  // '0010' PTS
        payload = i + 5;
        hasPts = true;
    } else if ((marker >> 4) == 0x3) {  // '0011' PTS DTS
        payload = i + 10;
        hasPts = true;
    } else {
        return kPesSkipStartCode;
    }
    if (payload > packetLength)
        return kPesSkipStartCode;

    int64_t pts = 0;
    if (hasPts) {
        pts = ReadPts(p + i, packetLength - i);
        if (pts < 0)
            return kPesSkipStartCode;
    }
    info.payloadOffset = payload;
    info.packetLength = packetLength;
    info.ptsPresent = hasPts ? 1 : 0;
    info.pts = pts;
    return packetLength;
}

uint32_t ParseMpeg2PesHeader(const uint8_t* p, uint32_t len, PesInfo& info)
{
    info = PesInfo{};
    if (p == nullptr || len < 6)
        return kPesNeedMore;
    const uint32_t packetLength = 6 + Be16(p + 4);
    if (packetLength > len)
        return kPesNeedMore;
    if (HasNoPesHeaderExtension(p[3])) {
        info.payloadOffset = 6;
        info.packetLength = packetLength;
        return packetLength;
    }
    if (packetLength < 9 || (p[6] & 0xC0) != 0x80)
        return kPesSkipStartCode;

    const uint32_t ptsDtsFlags = p[7] >> 6;
    const uint32_t headerDataLength = p[8];  // PES_header_data_length
    if (ptsDtsFlags == 2) {
        if (packetLength < 10 || (p[9] & 1) == 0)
            return kPesSkipStartCode;
    } else if (ptsDtsFlags == 3) {
        if (headerDataLength < 1 || packetLength < 19 || (p[9] >> 4) != 0x3)
            return kPesSkipStartCode;
        for (uint32_t k : {9u, 11u, 13u, 14u, 16u, 18u})
            if ((p[k] & 1) == 0)
                return kPesSkipStartCode;
    }
    const uint32_t payload = 9 + headerDataLength;
    if (payload > packetLength)
        return kPesSkipStartCode;

    info.payloadOffset = payload;
    info.packetLength = packetLength;
    info.ptsPresent = (p[7] & 0x80) ? 1 : 0;
    if (info.ptsPresent)
        info.pts = ReadPts(p + 9, packetLength - 9);
    return packetLength;
}

}  // namespace md
