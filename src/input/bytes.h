// Bounds-checked byte access shared by every parser: one overflow-safe range
// test and big-endian loads that go through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace md {

using Bytes = std::span<const uint8_t>;

// True when n bytes starting at off lie inside a buffer of size bytes.
// Written so that off + n cannot wrap.
constexpr bool Has(size_t size, size_t off, size_t n) { return off <= size && n <= size - off; }
constexpr bool Has(Bytes b, size_t off, size_t n) { return Has(b.size(), off, n); }

// Unchecked loads: the caller has proved the range with Has().
constexpr uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
constexpr uint32_t Be24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
constexpr uint32_t Be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
constexpr uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }

// Little-endian loads (RIFF, ASF, CAF descriptions and the other formats born on little-endian machines).
constexpr uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
constexpr uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
constexpr uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p + 4)) << 32 | Le32(p); }

// Checked loads: 0 when the field does not lie inside the span.
constexpr uint32_t Be16At(Bytes b, size_t off) { return Has(b, off, 2) ? Be16(b.data() + off) : 0; }
constexpr uint32_t Be24At(Bytes b, size_t off) { return Has(b, off, 3) ? Be24(b.data() + off) : 0; }
constexpr uint32_t Be32At(Bytes b, size_t off) { return Has(b, off, 4) ? Be32(b.data() + off) : 0; }
constexpr uint64_t Be64At(Bytes b, size_t off) { return Has(b, off, 8) ? Be64(b.data() + off) : 0; }
constexpr uint32_t Le16At(Bytes b, size_t off) { return Has(b, off, 2) ? Le16(b.data() + off) : 0; }
constexpr uint32_t Le32At(Bytes b, size_t off) { return Has(b, off, 4) ? Le32(b.data() + off) : 0; }
constexpr uint64_t Le64At(Bytes b, size_t off) { return Has(b, off, 8) ? Le64(b.data() + off) : 0; }

// A four-character code as the big-endian u32 it is stored as.
constexpr uint32_t FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
           uint8_t(s[3]);
}

// Sequential reader over a span with a sticky failure flag: a read past the end
// returns 0 and sets failed(); Sub(n) gives a child limited to the next n bytes.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(Bytes data) : m_data(data) {}
    ByteReader(const uint8_t* p, size_t n) : m_data(p, n) {}

    bool ok() const { return !m_failed; }
    bool failed() const { return m_failed; }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_data.size() - m_pos; }
    Bytes Rest() const { return m_data.subspan(m_pos); }

    uint8_t U8() { return static_cast<uint8_t>(Take(1) ? m_data[m_pos - 1] : 0); }
    uint16_t U16() { return Take(2) ? Be16(m_data.data() + m_pos - 2) : 0; }
    uint32_t U24() { return Take(3) ? Be24(m_data.data() + m_pos - 3) : 0; }
    uint32_t U32() { return Take(4) ? Be32(m_data.data() + m_pos - 4) : 0; }
    uint64_t U64() { return Take(8) ? Be64(m_data.data() + m_pos - 8) : 0; }
    bool Skip(size_t n) { return Take(n); }
    // The next n bytes (empty and failed when fewer remain).
    Bytes Span(size_t n) { return Take(n) ? m_data.subspan(m_pos - n, n) : Bytes{}; }
    ByteReader Sub(size_t n) { return ByteReader(Span(n)); }

private:
    bool Take(size_t n)
    {
        if (m_failed || !Has(m_data.size(), m_pos, n)) {
            m_failed = true;
            return false;
        }
        m_pos += n;
        return true;
    }

    Bytes m_data;
    size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace md
