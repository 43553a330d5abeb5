#include "mpeg/cdxa.h"

#include "es/start_code.h"
#include "input/bytes.h"
#include "mediadetect/records.h"

namespace md {

int32_t ProbeCdxa(const uint8_t* buf, size_t n) noexcept
{
    if (buf == nullptr || n < kCdxaProbeSize)
        return 0;
    const Bytes b(buf, n);
    if (Be32(buf) != FourCC("RIFF") || Be32(buf + 8) != FourCC("CDXA") || Be32(buf + 36) != FourCC("data"))
        return 0;
    const auto isPack = [&](size_t q) { return IsStartCode(buf + q, 0xBA); };
    for (size_t k = 0; k < 40; ++k) {
        // The RIFF header, then the 24-byte header of raw sector k.
        const size_t q = kCdxaDataOffset + kRawSectorUserDataOffset + kRawSectorSize * k;
        if (!Has(b, q, 12) || !Has(b, q + kRawSectorSize, 4))
            return 0;
        if (!isPack(q) || !isPack(q + kRawSectorSize))
            continue;
        if ((buf[q + 4] & 0xF0) == 0x20 && Be24(buf + q + 9) < kVcdMuxRateLimit)
            return MK_VCD;
        if ((buf[q + 4] & 0xC0) == 0x40)
            return MK_SVCD;
    }
    return 0;
}

}  // namespace md
