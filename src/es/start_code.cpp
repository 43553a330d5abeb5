#include "es/start_code.h"

#include "input/bytes.h"
#include "input/ring_buffer.h"

namespace md {

bool FindStartCode(const uint8_t*& p, uint32_t& remaining)
{
    if (p == nullptr)
        return false;
    while (remaining > 4 && !IsStartCodePrefix(p)) {
        ++p;
        --remaining;
    }
    return remaining >= 4;
}

bool FindMaskedStartCode(const uint8_t*& p, uint32_t& remaining, uint32_t pattern, uint32_t mask)
{
    if (p == nullptr)
        return false;
    while (remaining > 4 && (Be32(p) & mask) != pattern) {
        ++p;
        --remaining;
    }
    return remaining >= 4;
}

bool HasSequenceHeader(const uint8_t* p, uint32_t len, uint32_t mode)
{
    if (p == nullptr)
        return false;
    const bool h264 = mode == kModeH264 || mode == kModeMvc;
    if (mode != kModeMpegVideo && !h264)
        return false;
    for (uint32_t i = 0; i + 4 <= len; ++i) {
        if (!IsStartCodeAt(p + i, len - i))
            continue;
        const uint8_t code = p[i + 3];
        if (mode == kModeMpegVideo ? code == 0xB3 : ((code & 0x1F) == 7 || (code & 0x1F) == 15))
            return true;
    }
    return false;
}

namespace {

// slice_type (ISO/IEC 14496-10 Table 7-6) as a picture type: P and SP → 1,
// B → 2, I and SI → 0.
int SliceTypeToPictureType(uint32_t sliceType)
{
    switch (sliceType) {
    case 0: case 3: case 5: case 8: return 1;
    case 1: case 6: return 2;
    case 2: case 4: case 7: case 9: return 0;
    default: return -1;
    }
}

}  // namespace

int PictureType(const uint8_t* p, uint32_t len, uint32_t mode)
{
    if (p == nullptr)
        return -1;
    const bool h264 = mode == kModeH264 || mode == kModeMvc;
    if (mode != kModeMpegVideo && !h264)
        return -1;
    // The scan stops 3 bytes before the end: a prefix needs the byte after it.
    for (uint32_t i = 0; i + 3 < len; ++i) {
        if (!IsStartCodeAt(p + i, len - i))
            continue;
        const uint8_t code = p[i + 3];
        if (mode == kModeMpegVideo) {
            // picture_start_code, temporal_reference (10), picture_coding_type (3).
            if (code != 0x00 || !Has(len, i, 6))
                continue;
            const uint32_t type = (p[i + 5] >> 3) & 7;
            if (type >= 1 && type <= 3)
                return static_cast<int>(type) - 1;
            continue;
        }
        const uint32_t nalType = code & 0x1F;
        if (nalType == 5)
            return 3;
        if (nalType != 1)
            continue;
        // slice_header(): first_mb_in_slice ue(v), slice_type ue(v).
        const uint8_t* slice = p + i + 4;
        const uint32_t sliceLen = len - i - 4;
        uint32_t firstMb = 0;
        uint32_t sliceType = 0;
        const int n1 = ReadUeBytes(slice, sliceLen, 0, firstMb);
        if (n1 < 0 || firstMb != 0)
            continue;
        if (ReadUeBytes(slice, sliceLen, static_cast<uint32_t>(n1), sliceType) < 0)
            continue;
        const int type = SliceTypeToPictureType(sliceType);
        if (type >= 0)
            return type;
    }
    return -1;
}

}  // namespace md
