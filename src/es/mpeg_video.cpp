#include "es/mpeg_video.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "es/bit_reader.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/ring_buffer.h"

namespace md {

namespace {

// frame_rate_code 1..8 (ISO/IEC 13818-2 Table 6-4).
constexpr std::array<MpegFrameRate, 8> kFrameRates = {{
    {417083, 23.976},
    {416666, 24.0},
    {400000, 25.0},
    {333667, 29.97},
    {333333, 30.0},
    {200000, 50.0},
    {166833, 59.94},
    {166666, 60.0},
}};

// pel_aspect_ratio 1..14 (ISO/IEC 11172-2 2.4.3.2): height / width of a pel.
constexpr std::array<float, 14> kPelAspect = {
    1.0f,    0.6735f, 0.7031f, 0.7615f, 0.8055f, 0.8437f, 0.8935f,
    0.9375f, 0.9815f, 1.0255f, 1.0695f, 1.125f,  1.1575f, 1.2015f,
};

bool LookupPelAspect(uint32_t code, float& out)
{
    if (code < 1 || code > kPelAspect.size())
        return false;
    out = kPelAspect[code - 1];
    return true;
}

// aspect_ratio_information (ISO/IEC 13818-2 Table 6-3); the reserved codes 5..15
// count as 4:3.
void Mpeg2DisplayAspect(uint32_t code, uint32_t& x, uint32_t& y)
{
    switch (code) {
    case 1: x = 1; y = 1; break;
    case 3: x = 16; y = 9; break;
    case 4: x = 221; y = 100; break;
    default: x = 4; y = 3; break;
    }
}

}  // namespace

uint32_t SequenceHeaderLength(const uint8_t* p, uint32_t len)
{
    if (p == nullptr || len < 12)
        return 0;
    // load_intra_quantiser_matrix is bit 1 of byte 11; the 64-byte matrix follows
    // from bit 0, so load_non_intra_quantiser_matrix is bit 0 of byte 11 without
    // it and bit 0 of byte 75 with it.
    if ((p[11] & 0x02) == 0)
        return (p[11] & 0x01) ? 76 : 12;
    if (len < 76)
        return 0;
    return (p[75] & 0x01) ? 140 : 76;
}

bool ParseSequenceHeader(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info, uint32_t mode)
{
    if (len < 12 || !IsStartCodeAt(p, len, 0xB3))
        return false;
    const uint32_t headerLength = SequenceHeaderLength(p, len);
    if (headerLength == 0 || headerLength > len)
        return false;
    if ((p[10] & 0x20) == 0)  // marker_bit
        return false;

    const uint32_t width = Be16(p + 4) >> 4;    // horizontal_size_value
    const uint32_t height = Be24(p + 4) & 0xFFF; // vertical_size_value
    const uint32_t aspectCode = p[7] >> 4;
    uint32_t rateCode = p[7] & 0x0F;
    if (rateCode >= 9)
        rateCode &= 0x07;  // codes 9..15 are read as 1..7
    MpegFrameRate rate{};
    if (aspectCode == 0 || !LookupFrameRate(rateCode, rate))
        return false;

    uint32_t aspectX = 4;
    uint32_t aspectY = 3;
    if (mode == kAspectMpeg1) {
        // The reserved pel_aspect_ratio 15 has no ratio: not a usable header.
        float pel = 0;
        if (!LookupPelAspect(aspectCode, pel))
            return false;
        aspectX = width;
        aspectY = static_cast<uint32_t>(static_cast<float>(height) * pel);
    } else if (mode == kAspectMpeg2) {
        Mpeg2DisplayAspect(aspectCode, aspectX, aspectY);
    }

    const uint32_t bitRateValue = Be24(p + 8) >> 6;  // 18 bits
    const uint32_t vbvValue = (uint32_t(p[10] & 0x1F) << 5) | (p[11] >> 3);
    uint32_t vbvSize = vbvValue * 2048;
    if ((p[11] & 0x04) && vbvSize >= 40961)  // constrained_parameters_flag
        vbvSize = 40960;
    if (vbvSize < 20000)
        vbvSize = 40960;

    info.width = width;
    info.height = height;
    info.vbvBufferSize = vbvSize;
    info.frameDuration = rate.duration;
    info.frameRate = rate.fps;
    info.statedFrameDuration = static_cast<uint32_t>(rate.duration * 9 / 1000);
    info.bitRate = bitRateValue == 0x3FFFF ? 0 : bitRateValue * 400;
    info.aspectX = aspectX;
    info.aspectY = aspectY;
    info.reserved[0] = 0;
    info.reserved[1] = 0;
    info.headerLength = static_cast<int32_t>(headerLength);
    std::memcpy(info.header, p, headerLength);
    return true;
}

bool ReadFrameRateExtension(const uint8_t* p, uint32_t len, uint32_t& numerator, uint32_t& denominator)
{
    numerator = denominator = 1;
    if (len < 10 || !IsStartCodeAt(p, len, 0xB5) || (p[4] >> 4) != 1)
        return false;
    // low_delay (1), frame_rate_extension_n (2), frame_rate_extension_d (5)
    numerator = ((p[9] >> 5) & 0x03) + 1;
    denominator = (p[9] & 0x1F) + 1;
    return true;
}

bool ApplySequenceExtension(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info, bool rateExtension)
{
    if (len < 14 || !IsStartCodeAt(p, len, 0xB5) || (p[4] >> 4) != 1)
        return false;
    uint32_t numerator = 1, denominator = 1;
    if (rateExtension && ReadFrameRateExtension(p, len, numerator, denominator) && numerator != denominator) {
        info.frameRate = info.frameRate * numerator / denominator;
        info.frameDuration = info.frameDuration * denominator / numerator;
        info.statedFrameDuration = info.statedFrameDuration * denominator / numerator;
    }
    const uint32_t horizontalExt = (uint32_t(p[5] & 0x01) << 1) | (p[6] >> 7);
    const uint32_t verticalExt = (p[6] >> 5) & 0x03;
    const uint32_t bitRateExt = (uint32_t(p[6] & 0x1F) << 7) | (p[7] >> 1);
    info.profile = p[4] & 0x07;  // bits 6..4 of profile_and_level_indication
    info.level = p[5] >> 4;      // bits 3..0
    info.width += horizontalExt << 12;
    info.height += verticalExt << 12;
    info.bitRate += bitRateExt * (uint32_t(1) << 18) * 400u;  // wraps as 32-bit arithmetic
    return true;
}

bool ReadProgressiveSequence(const uint8_t* p, uint32_t len, uint8_t& progressive)
{
    progressive = 1;
    if (len < 6 || !IsStartCodeAt(p, len, 0xB5))
        return false;
    progressive = (p[5] >> 3) & 1;
    return true;
}

bool ReadDisplaySize(const uint8_t* p, uint32_t len, uint32_t& width, uint32_t& height)
{
    if (p == nullptr)
        return true;
    for (uint32_t i = 0; Has(len, i, 5); ++i) {
        if (!IsStartCodeAt(p + i, len - i, 0xB5) || (p[i + 4] >> 4) != 2)
            continue;
        // extension id, video_format (3), colour_description (1), then the three
        // colour bytes when colour_description is set.
        const uint32_t off = i + 5 + ((p[i + 4] & 1) ? 3 : 0);
        if (!Has(len, off, 4))
            return false;
        const uint32_t v = Be32(p + off);
        width = v >> 18;             // display_horizontal_size
        height = (v >> 3) & 0x3FFF;  // after marker_bit: display_vertical_size
        return true;
    }
    return true;
}

bool FindEncoderMarker(const uint8_t* p, uint32_t len, uint8_t& flag)
{
    flag = 0;
    if (p == nullptr)
        return false;
    for (uint32_t i = 0; Has(len, i, 5); ++i) {
        if (!IsStartCodeAt(p + i, len - i, 0xB5) || (p[i + 4] != 0x2B && p[i + 4] != 0x21))
            continue;
        // colour_primaries at +5, transfer_characteristics at +6; 11 is xvYCC.
        if (Has(len, i, 7) && p[i + 6] == 11)
            flag = 1;
        break;
    }
    return flag != 0;
}

bool ReadGopFlags(const uint8_t* p, uint32_t len, uint8_t& closedGop, uint8_t& brokenLink)
{
    if (p == nullptr)
        return false;
    for (uint32_t i = 0; Has(len, i, 8); ++i) {
        if (!IsStartCodeAt(p + i, len - i, 0xB8))
            continue;
        // time_code is 25 bits from byte 4; closed_gop and broken_link follow.
        closedGop = (p[i + 7] >> 6) & 1;
        brokenLink = (p[i + 7] >> 5) & 1;
        return true;
    }
    return false;
}

bool ReadTemporalReference(const uint8_t* p, uint32_t len, uint32_t& value)
{
    if (p == nullptr)
        return false;
    for (uint32_t i = 0; Has(len, i, 9); ++i) {
        if (!IsStartCodeAt(p + i, len - i, 0x00))
            continue;
        value = (uint32_t(p[i + 4]) << 2) | (p[i + 5] >> 6);
        return true;
    }
    return false;
}

bool ReadFieldOrder(const uint8_t* p, uint32_t len, uint32_t& order, uint8_t& progressiveFrame)
{
    if (len < 8 || !IsStartCodeAt(p, len, 0xB5))
        return false;
    const uint32_t pictureStructure = p[6] & 0x03;
    const uint32_t topFieldFirst = p[7] >> 7;
    switch (pictureStructure) {
    case 1: order = 1; break;  // top field
    case 2: order = 2; break;  // bottom field
    case 3: order = topFieldFirst ? 1 : 2; break;
    default: order = 0; break;
    }
    progressiveFrame = len >= 9 ? p[8] >> 7 : 0;
    return true;
}

bool ParseVolHeader(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info)
{
    if (p == nullptr || len == 4)
        return false;
    // video_object_layer_start_code 00 00 01 20..2F, with bytes after it.
    uint32_t vol = 0;
    for (;; ++vol) {
        if (!Has(len, vol, 5))
            return false;
        if (IsStartCodeAt(p + vol, len - vol) && (p[vol + 3] & 0xF0) == 0x20)
            break;
    }
    int32_t headerLength = -1;
    for (uint32_t j = vol + 4; Has(len, j, 4); ++j) {
        if (IsStartCodeAt(p + j, len - j) && (p[j + 3] == 0xB3 || p[j + 3] == 0xB6)) {
            headerLength = j <= uint32_t(std::numeric_limits<int32_t>::max()) ? static_cast<int32_t>(j) : -1;
            break;
        }
    }

    // The VOL fields end within about 25 bytes; the reader gets the first 256.
    const uint32_t bodyLength = std::min<uint32_t>(len - vol - 4, 256);
    RingBuffer rb(static_cast<int32_t>(bodyLength) + 1);
    if (rb.Capacity() == 0)
        return false;
    rb.Write(p + vol + 4, bodyLength);

    rb.GetBits(1);  // random_accessible_vol
    rb.GetBits(8);  // video_object_type_indication
    uint32_t verid = 1;
    if (rb.GetBits(1)) {  // is_object_layer_identifier
        verid = rb.GetBits(4);  // video_object_layer_verid
        rb.GetBits(3);          // video_object_layer_priority
    }
    const uint32_t aspectInfo = rb.GetBits(4);
    if (aspectInfo == 15) {  // extended_PAR
        rb.GetBits(8);       // par_width
        rb.GetBits(8);       // par_height
    }
    bool vbvParameters = false;
    uint32_t firstHalfBitRate = 0, latterHalfBitRate = 0, firstHalfVbv = 0, latterHalfVbv = 0;
    if (rb.GetBits(1)) {  // vol_control_parameters
        rb.GetBits(2);    // chroma_format
        rb.GetBits(1);    // low_delay
        if (rb.GetBits(1)) {
            vbvParameters = true;
            firstHalfBitRate = rb.GetBits(15);
            rb.GetBits(1);
            latterHalfBitRate = rb.GetBits(15);
            rb.GetBits(1);
            firstHalfVbv = rb.GetBits(15);
            rb.GetBits(1);
            latterHalfVbv = rb.GetBits(3);
            rb.GetBits(11);  // first_half_vbv_occupancy
            rb.GetBits(1);
            rb.GetBits(15);  // latter_half_vbv_occupancy
            rb.GetBits(1);
        }
    }
    const uint32_t shape = rb.GetBits(2);  // video_object_layer_shape
    if (shape == 3 && verid != 1)
        rb.GetBits(4);  // video_object_layer_shape_extension
    rb.GetBits(1);
    const uint32_t resolution = rb.GetBits(16);  // vop_time_increment_resolution
    rb.GetBits(1);
    bool rateRead = false;
    double fps = 29.97;
    const bool fixedRate = rb.GetBits(1);
    if (fixedRate) {
        const uint32_t increment = rb.GetBits(std::bit_width(resolution));
        if (increment != 0) {
            fps = static_cast<double>(resolution) / increment;
            rateRead = true;
        }
    }
    uint32_t width = 720;
    uint32_t height = 480;
    if (shape == 0) {  // rectangular
        rb.GetBits(1);
        width = rb.GetBits(13);  // video_object_layer_width
        rb.GetBits(1);
        height = rb.GetBits(13);  // video_object_layer_height
        rb.GetBits(1);
    }

    uint32_t aspectX = 0;
    uint32_t aspectY = 0;
    switch (aspectInfo) {
    case 1: aspectX = 1; aspectY = 1; break;
    case 2: case 3: aspectX = 4; aspectY = 3; break;
    case 4: case 5: aspectX = 16; aspectY = 9; break;
    default: break;
    }
    const int64_t duration = rateRead ? static_cast<int64_t>(1e7 / fps) : 333667;

    info.profile = 2;
    info.level = 1;
    info.width = width;
    info.height = height;
    // Both products are 32-bit arithmetic.
    info.bitRate = vbvParameters ? ((firstHalfBitRate << 15) + latterHalfBitRate) * 400u : 2000000;
    info.vbvBufferSize = vbvParameters ? ((firstHalfVbv << 3) + latterHalfVbv) * 16384u : 16384;
    info.frameRate = fps;
    info.frameDuration = duration;
    info.statedFrameDuration = static_cast<uint32_t>(duration);
    info.aspectX = aspectX;
    info.aspectY = aspectY;
    info.reserved[0] = 0;
    info.reserved[1] = 0;
    info.reserved2 = 0;
    info.unfixedVopResolution = fixedRate ? 0 : resolution;
    info.headerLength = headerLength;
    return true;
}

bool Mpeg4VopRate(const uint8_t* p, uint32_t len, uint32_t resolution, double& fps)
{
    if (p == nullptr || resolution == 0)
        return false;
    // vop_time_increment takes the bits that (resolution - 1) needs, at least one.
    const int bits = std::max(1, int(std::bit_width(resolution - 1)));
    std::vector<uint32_t> increments;
    for (uint32_t at = FindCode(p, len, 0xB6); Has(len, at, 4) && increments.size() < 32;) {
        const uint32_t body = at + 4;
        BitReader br(p + body, std::min<uint32_t>(len - body, 8));
        br.Bits(2);  // vop_coding_type
        uint32_t seconds = 0;
        while (br.Bit() && !br.Overrun())
            ++seconds;  // modulo_time_base
        br.Bit();       // marker_bit
        const uint32_t increment = br.Bits(bits);
        if (!br.Overrun() && seconds == 0 && increment < resolution)
            increments.push_back(increment);
        at = body + FindCode(p + body, len - body, 0xB6);
    }
    std::sort(increments.begin(), increments.end());
    uint32_t step = 0;
    for (size_t i = 1; i < increments.size(); ++i)
        if (const uint32_t d = increments[i] - increments[i - 1]; d != 0 && (step == 0 || d < step))
            step = d;
    if (step == 0)
        return false;
    fps = double(resolution) / step;
    return true;
}

bool CollectHeaders(const uint8_t* p, uint32_t len, uint8_t (&area1)[kExtraDataSize], int32_t& length1,
                    uint8_t (&area2)[kExtraDataSize], int32_t& length2, uint32_t mode)
{
    const bool h264 = mode == kModeH264 || mode == kModeMvc;
    if (p == nullptr || (mode != kModeMpegVideo && !h264))
        return false;
    // Each accumulator holds at most kExtraDataSize bytes, one less than its
    // capacity, so its count is never ambiguous.
    RingBuffer acc1(static_cast<int32_t>(kExtraDataSize) + 1);
    RingBuffer acc2(static_cast<int32_t>(kExtraDataSize) + 1);
    if (acc1.Capacity() == 0 || acc2.Capacity() == 0)
        return false;
    uint32_t used1 = 0, used2 = 0;
    uint32_t units1 = 0, units2 = 0;
    auto append = [p](RingBuffer& acc, uint32_t& used, uint32_t& units, uint32_t start, uint32_t end) {
        const uint32_t n = end - start;
        if (n > kExtraDataSize - used)
            return;
        acc.Write(p + start, n);
        used += n;
        ++units;
    };

    bool ok = false;
    if (!h264) {
        uint32_t pos = NextStartCode(p, len, 0);
        while (pos < len) {
            const uint8_t code = p[pos + 3];
            if (code >= 0x01 && code <= 0xAF) {  // slice_start_code
                ok = true;
                break;
            }
            const uint32_t next = NextStartCode(p, len, pos + 4);
            if (next >= len)
                break;  // the last unit has no end inside the buffer
            const uint32_t extensionId = pos + 4 < next ? p[pos + 4] >> 4 : 0;
            if (code == 0xB3 || (code == 0xB5 && (extensionId == 1 || extensionId == 2)))
                append(acc1, used1, units1, pos, next);
            else if (code == 0x00 || (code == 0xB5 && extensionId == 8))
                append(acc2, used2, units2, pos, next);
            pos = next;
        }
    } else {
        // A unit starts one byte before its prefix, so a four-byte start code
        // 00 00 00 01 stays whole, and ends one byte before the next prefix.
        uint32_t prefix = NextStartCode(p, len, 0);
        while (prefix < len) {
            const uint32_t next = NextStartCode(p, len, prefix + 3);
            if (next >= len)
                break;
            const uint32_t nalType = p[prefix + 3] & 0x1F;
            const uint32_t start = prefix > 0 ? prefix - 1 : 0;
            const uint32_t end = next - 1;
            if (nalType == 7 || nalType == 15)
                append(acc1, used1, units1, start, end);
            else if (nalType == 8)
                append(acc2, used2, units2, start, end);
            prefix = next;
        }
        ok = units1 > 0 && units2 > 0;
    }
    if (!ok)
        return false;
    acc1.ReadAll(area1);
    acc2.ReadAll(area2);
    length1 = static_cast<int32_t>(used1);
    length2 = static_cast<int32_t>(used2);
    return true;
}

bool LookupFrameRate(uint32_t code, MpegFrameRate& out)
{
    if (code < 1 || code > kFrameRates.size())
        return false;
    out = kFrameRates[code - 1];
    return true;
}

bool SnapDisplayAspect(uint64_t X, uint64_t Y, uint32_t& x, uint32_t& y)
{
    if (Y == 0)
        return false;
    // A term too large for the ratio can still equal the other.
    const uint64_t r = X <= std::numeric_limits<uint64_t>::max() / 100 ? X * 100 / Y : 0;
    if (r == 133) {
        x = 4;
        y = 3;
    } else if (r == 177) {
        x = 16;
        y = 9;
    } else if (X == Y) {
        x = 1;
        y = 1;
    } else {
        return false;
    }
    return true;
}

void AspectFromSampleAspect(uint32_t& x, uint32_t& y, uint32_t width, uint32_t height)
{
    const uint64_t a = uint64_t(x) * width;
    const uint64_t b = uint64_t(y) * height;
    if (SnapDisplayAspect(a, b, x, y))
        return;
    x = a == b ? 1 : static_cast<uint32_t>(a);
    y = a == b ? 1 : static_cast<uint32_t>(b);
}

void AspectFromDisplaySize(uint32_t& x, uint32_t& y, uint32_t width, uint32_t height, uint32_t displayWidth,
                           uint32_t displayHeight)
{
    if (displayWidth == width && displayHeight == height)
        return;
    uint64_t a = 0;
    uint64_t b = 0;
    if (__builtin_mul_overflow(uint64_t(x) * displayHeight, uint64_t(width), &a) ||
        __builtin_mul_overflow(uint64_t(y) * height, uint64_t(displayWidth), &b))
        return;
    if (a == 0 || b == 0)
        return;
    const uint64_t g = std::gcd(a, b);
    a /= g;
    b /= g;
    if (a > std::numeric_limits<uint32_t>::max() || b > std::numeric_limits<uint32_t>::max())
        return;
    x = static_cast<uint32_t>(a);
    y = static_cast<uint32_t>(b);
}

void NormalizeFrameRate(double& fps)
{
    // The bounds are single-precision constants, compared after widening.
    auto in = [fps](float lo, float hi) { return fps >= double(lo) && fps <= double(hi); };
    auto above = [fps](float lo, float hi) { return fps > double(lo) && fps <= double(hi); };
    if (in(29.90f, 29.98f))
        fps = 29.97;
    else if (above(29.98f, 30.01f))
        fps = 30.0;
    else if (in(23.90f, 23.98f))
        fps = 23.976;
    else if (in(59.90f, 59.98f))
        fps = 59.94;
    else if (above(59.98f, 60.01f))
        fps = 60.0;
    else if (in(14.99f, 15.01f))
        fps = 15.0;
}

void ApplySequenceHeader(const SequenceHeaderInfo& info, StreamRecord& record)
{
    VideoParams& v = record.video;
    v.profile = info.profile;
    v.level = info.level;
    v.width = info.width;
    v.height = info.height;
    v.vbvBufferSize = info.vbvBufferSize;
    v.frameDuration = info.frameDuration;
    v.statedFrameDuration = info.statedFrameDuration;
    v.bitRate = info.bitRate;
    v.aspectX = info.aspectX;
    v.aspectY = info.aspectY;
    v.reserved[0] = info.reserved[0];
    v.reserved[1] = info.reserved[1];
    v.reserved[2] = info.reserved2;
    record.frameRate = info.frameRate;
}

bool FillMpeg4VisualRecord(const uint8_t* p, uint32_t len, StreamRecord& record, bool vopRate)
{
    const uint32_t first = p == nullptr ? len : FindAnyCode(p, len);
    auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    if (first >= len || !info || !ParseVolHeader(p + first, len - first, *info))
        return false;
    double fps = 0;
    if (vopRate && info->unfixedVopResolution != 0 && Mpeg4VopRate(p, len, info->unfixedVopResolution, fps)) {
        info->frameRate = fps;
        info->frameDuration = static_cast<int64_t>(1e7 / fps);
        info->statedFrameDuration = static_cast<uint32_t>(info->frameDuration);
    }
    ApplySequenceHeader(*info, record);
    const int32_t n = info->headerLength;
    if (n > 0 && uint32_t(n) <= len - first && uint32_t(n) <= kExtraDataSize) {
        record.extraData1Length = n;
        std::memcpy(record.extraData1, p + first, uint32_t(n));
    }
    record.progressive = 1;
    if (record.video.aspectX == 1 && record.video.aspectY == 1)
        AspectFromSampleAspect(record.video.aspectX, record.video.aspectY, record.video.width, record.video.height);
    return true;
}

bool FirstPictureCoding(const StreamRecord& record, uint32_t& order, uint8_t& progressiveFrame)
{
    const auto n = static_cast<uint32_t>(std::clamp<int32_t>(record.extraData2Length, 0, kExtraDataSize));
    for (uint32_t j = 0; j < n; ++j)
        if (ReadFieldOrder(record.extraData2 + j, n - j, order, progressiveFrame))
            return true;
    return false;
}

bool DescribeMpegVideo(const uint8_t* p, uint32_t len, StreamRecord& record)
{
    const uint32_t at = FindCode(p, len, 0xB3);
    if (at >= len)
        return false;
    const uint8_t* seq = p + at;
    const uint32_t seqLength = len - at;
    const auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    if (!info || !ParseSequenceHeader(seq, seqLength, *info, kAspectMpeg2))
        return false;
    const auto headerLength = static_cast<uint32_t>(info->headerLength);
    const uint8_t* ext = seq + headerLength;
    const uint32_t extLength = seqLength - headerLength;
    const bool mpeg2 = IsStartCodeAt(ext, extLength, 0xB5) && extLength >= 10 && (ext[4] >> 4) == 1;
    uint8_t progressive = 1;
    if (mpeg2) {
        ApplySequenceExtension(ext, extLength, *info);
        ReadProgressiveSequence(ext, extLength, progressive);
    } else if (!ParseSequenceHeader(seq, seqLength, *info, kAspectMpeg1)) {
        return false;
    }
    ApplySequenceHeader(*info, record);
    record.codec = mpeg2 ? StreamCodec::Mpeg2Video : StreamCodec::Mpeg1Video;
    record.progressive = progressive;
    CollectHeaders(seq, seqLength, record.extraData1, record.extraData1Length, record.extraData2,
                   record.extraData2Length, kModeMpegVideo);
    if (record.video.aspectX == 1 && record.video.aspectY == 1)
        AspectFromSampleAspect(record.video.aspectX, record.video.aspectY, record.video.width, record.video.height);
    return true;
}

}  // namespace md
