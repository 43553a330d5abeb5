// The ring buffer and its bit reader driven by the input: the first byte picks
// the capacity, then every byte is an operation and the bytes after it its
// arguments (a count, bits to write, or the data to append). What holds for any
// sequence of calls is checked as it runs: a write with room keeps every byte, a
// peek and the read after it copy the same bytes, reads never give more than
// asked or held, and the byte-array Exp-Golomb reads stay inside their array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "input/ring_buffer.h"
#include "fuzz_check.h"

namespace {

class Ops {
public:
    Ops(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Done() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    // Up to n input bytes for a Write; fewer at the end of the input.
    const uint8_t* Take(size_t& n)
    {
        n = std::min(n, m_size - m_at);
        const uint8_t* p = m_data + m_at;
        m_at += n;
        return p;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // Exp-Golomb codes straight from the bytes, at every bit offset of the first bytes.
    for (uint32_t bit = 0; bit < 64 && bit < size * 8; ++bit) {
        uint32_t ue = 0;
        int32_t se = 0;
        const int ueLength = md::ReadUeBytes(data, size, bit, ue);
        const int seLength = md::ReadSeBytes(data, size, bit, se);
        Check(ueLength == seLength);
        // The code and its leading zeros lie inside the first min(size, 11) bytes.
        Check(ueLength == -1 || (ueLength % 2 == 1 && bit + uint32_t(ueLength) <= std::min<size_t>(size, 11) * 8));
    }

    Ops ops(data, size);
    // Capacities from 0 (a buffer that holds nothing) to 4096.
    const uint8_t c = ops.Byte();
    const int32_t capacity = c < 8 ? int32_t(c) - 1 : int32_t(c) * 16;
    md::RingBuffer ring(capacity);
    std::vector<uint8_t> a(8192);
    std::vector<uint8_t> b(8192);
    while (!ops.Done()) {
        const uint8_t op = ops.Byte();
        const uint8_t arg = ops.Byte();
        switch (op % 16) {
        case 0:
        case 1: {
            size_t n = arg;
            const uint8_t* p = ops.Take(n);
            const uint32_t held = ring.Count();
            ring.Write(p, n);
            // With room to spare every byte is kept.
            if (capacity > 0 && held + n + 1 < uint32_t(capacity))
                Check(ring.Count() == held + n);
            break;
        }
        case 2: {
            const uint32_t held = ring.Count();
            const uint32_t got = ring.Read(a.data(), arg * 16u);
            Check(got <= arg * 16u && got <= held);
            break;
        }
        case 3: {
            const uint32_t peeked = ring.Peek(a.data(), arg * 16u);
            const uint32_t read = ring.Read(b.data(), arg * 16u);
            Check(peeked == read && std::memcmp(a.data(), b.data(), read) == 0);
            break;
        }
        case 4: {
            const uint32_t held = ring.Count();
            Check(ring.ReadAll(a.data()) == held);
            break;
        }
        case 5:
            ring.Clear();
            Check(ring.Count() == 0);
            break;
        case 6: ring.Mark(); break;
        case 7: ring.Rewind(); break;
        case 8: {
            const uint32_t held = ring.Count();
            Check(ring.SkipToStartCode() <= held);
            break;
        }
        case 9: {
            const uint32_t held = ring.Count();
            Check(ring.SkipToByte(arg) <= held);
            break;
        }
        case 10: {
            const uint32_t high = ops.Byte();
            const uint32_t middle = ops.Byte();
            const uint32_t low = ops.Byte();
            ring.PutBits(high << 24 | middle << 8 | low, arg % 40 - 2);
            break;
        }
        case 11: ring.GetBits(arg % 40 - 2); break;
        case 12: {
            const int n = arg % 33;
            const uint32_t peeked = ring.PeekBits(n);
            Check(ring.GetBits(n) == peeked);
            break;
        }
        case 13: ring.MoreRbspData(); break;
        case 14: ring.ReadUe(); break;
        default: ring.ReadSe(); break;
        }
    }
    return 0;
}
