#include "ogg/ogg_page.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace md {
namespace {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;

// The remainder of each byte value shifted through the polynomial, most significant bit first.
constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ kCrcPolynomial : r << 1;
        table[i] = r;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint32_t OggCrc(Bytes b, size_t crcOffset)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const uint8_t byte = i >= crcOffset && i - crcOffset < 4 ? 0 : b[i];  // the CRC field counts as zero
        crc = (crc << 8) ^ kCrcTable[(crc >> 24) ^ byte];
    }
    return crc;
}

OggPageStatus ReadOggPage(Bytes b, OggPage& page)
{
    // A capture pattern cut short by the end of the bytes is a page cut short.
    if (b.empty())
        return OggPageStatus::Truncated;
    if (std::memcmp(b.data(), "OggS", std::min<size_t>(b.size(), 4)) != 0 || (b.size() > 4 && b[4] != 0))
        return OggPageStatus::NotAPage;
    if (b.size() < kOggHeaderSize)
        return OggPageStatus::Truncated;
    const uint8_t* p = b.data();
    const size_t segments = p[kOggSegmentCountOffset];
    if (!Has(b, kOggHeaderSize, segments))
        return OggPageStatus::Truncated;
    const Bytes lacing = b.subspan(kOggHeaderSize, segments);
    size_t bodySize = 0;
    for (uint8_t v : lacing)
        bodySize += v;
    const size_t bodyStart = kOggHeaderSize + segments;
    if (!Has(b, bodyStart, bodySize))
        return OggPageStatus::Truncated;
    const size_t size = bodyStart + bodySize;
    if (OggCrc(b.first(size)) != Le32(p + kOggCrcOffset))
        return OggPageStatus::BadCrc;
    page.flags = p[5];
    page.granule = int64_t(Le64(p + 6));
    page.serial = Le32(p + 14);
    page.sequence = Le32(p + 18);
    page.lacing = lacing;
    page.body = b.subspan(bodyStart, bodySize);
    page.size = uint32_t(size);
    return OggPageStatus::Ok;
}

uint32_t OggPacketsEnding(const OggPage& page)
{
    uint32_t n = 0;
    for (uint8_t v : page.lacing)
        n += v < 255 ? 1 : 0;
    return n;
}

bool OggPacketWalk::Next(Bytes& packet, bool& complete)
{
    if (m_segment >= m_page.lacing.size())
        return false;
    const size_t start = m_offset;
    complete = false;
    while (m_segment < m_page.lacing.size() && !complete) {
        const uint8_t v = m_page.lacing[m_segment++];
        m_offset += v;
        complete = v < 255;
    }
    packet = m_page.body.subspan(start, m_offset - start);
    return true;
}

}  // namespace md
