// The ring buffer against a reference model of its byte FIFO and bit reader/writer, and Exp-Golomb reads from bytes.
#include "input/ring_buffer.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RingBuffer, ExpGolombFromBytes)
{
    // 0x5A 0x60 0x28 = 0101 1010 0110 0000 0010 1000: codes at bits 0 (010),
    // 3 (1), 7 (00110 across the byte boundary), 8 (011) and 16 (00101).
    const uint8_t bytes[] = {0x5A, 0x60, 0x28};
    const int32_t codes[][4] = {{0, 3, 1, 1}, {3, 1, 0, 0}, {7, 5, 5, 3}, {8, 3, 2, -1}, {16, 5, 4, -2}};
    for (const auto& c : codes) {
        uint32_t ue = 99;
        int32_t se = 99;
        EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, uint32_t(c[0]), ue), c[1]) << c[0];
        EXPECT_EQ(ReadSeBytes(bytes, sizeof bytes, uint32_t(c[0]), se), c[1]) << c[0];
        EXPECT_EQ(std::pair(ue, se), std::pair(uint32_t(c[2]), c[3])) << c[0];
    }
    // No leading 1 inside the array (bits 21..23 are zero), an offset past it: -1, value untouched.
    uint32_t ue = 77;
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 21, ue) + ReadUeBytes(bytes, sizeof bytes, 0xFFFFFFFFu, ue), -2);
    EXPECT_EQ(ue, 77u);
    // A 43-zero code filling all 88 bits (the most read): far above 32 bits, saturates.
    const Bytes huge = {0, 0, 0, 0, 0, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ReadUeBytes(huge.data(), huge.size(), 0, ue), 87);
    EXPECT_EQ(ue, 0xFFFFFFFFu);
}

// Reference model: the unread bits of stored bytes, plus the bits written into a byte not yet complete.
struct BitModel {
    int capacity;
    std::deque<bool> unread = {}, history = {};  // history: bits consumed since the mark
    std::vector<bool> pending = {};
    bool marked = false;
    size_t maxSpan = 0;  // most bytes held between the mark and the write index

    size_t Stored() const { return unread.size() / 8; }
    bool Aligned() const { return unread.size() % 8 == 0; }
    bool Full() const { return int(Stored()) == capacity - 1; }
    void PutBits(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0 && !Full(); --i) {
            pending.push_back((v >> i) & 1);
            if (pending.size() == 8) {
                unread.insert(unread.end(), pending.begin(), pending.end());
                pending.clear();
                maxSpan = std::max(maxSpan, (history.size() + unread.size()) / 8);
            }
        }
    }
    uint32_t PeekBits(size_t n, size_t from = 0) const
    {
        uint32_t v = 0;
        for (size_t i = from; i < from + n && i < unread.size(); ++i)
            v = v << 1 | unread[i];
        return v;
    }
    uint32_t GetBits(size_t n)
    {
        const uint32_t v = PeekBits(n);
        for (size_t i = 0; i < n && !unread.empty(); ++i) {
            if (marked)
                history.push_back(unread.front());
            unread.pop_front();
        }
        return v;
    }
    uint8_t ByteAt(size_t i) const { return static_cast<uint8_t>(PeekBits(8, i * 8)); }
};

// Random bit and byte writes, reads, peeks, searches, Exp-Golomb reads, marks, rewinds, clears against the model.
void RunDifferential(int capacity, uint32_t seed)
{
    SCOPED_TRACE(::testing::Message() << "capacity " << capacity << " seed " << seed);
    std::mt19937 rng(seed);
    auto rnd = [&rng](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    RingBuffer rb(capacity);
    BitModel m{capacity};
    Bytes buf(size_t(capacity) + 64);

    for (int step = 0; step < 20000; ++step) {
        const uint32_t op = rnd(0, 13);
        const int bits = int(rnd(1, 32));
        size_t n = rnd(0, uint32_t(capacity) + 2);
        if (op <= 1) {
            const uint32_t v = static_cast<uint32_t>(rng());
            rb.PutBits(v, bits);
            m.PutBits(bits == 32 ? v : v & ((1u << bits) - 1), bits);
        } else if (op == 2) {
            if (m.pending.empty())  // byte writes do not test for room: stay within it
                n = std::min(n, size_t(capacity) - 1 - m.Stored());
            for (size_t i = 0; i < n; ++i)
                buf[i] = static_cast<uint8_t>(rnd(0, 2) == 0 ? 0 : rnd(0, 3) == 0 ? 1 : rng());
            rb.Write(buf.data(), n);
            for (size_t i = 0; i < n; ++i)
                m.PutBits(buf[i], 8);
        } else if (op <= 4) {
            ASSERT_EQ(rb.GetBits(bits), m.GetBits(size_t(bits))) << "GetBits " << bits;
        } else if (op == 5) {
            ASSERT_EQ(rb.PeekBits(bits), m.PeekBits(size_t(bits))) << "PeekBits " << bits;
        } else if (op == 6) {
            // ue(v) / se(v) only when a whole code of at most 31 leading zeros is there.
            size_t z = 0;
            while (z < m.unread.size() && !m.unread[z])
                ++z;
            if (z > 31 || m.unread.size() < 2 * z + 1)
                continue;
            const uint64_t valueBits = m.GetBits(2 * z + 1) & ((uint64_t(1) << z) - 1);
            const uint32_t code = static_cast<uint32_t>((uint64_t(1) << z) - 1 + valueBits);
            const int64_t mag = (int64_t(code) + 1) / 2;
            if (rnd(0, 1)) {
                ASSERT_EQ(rb.ReadUe(), code);
            } else {
                ASSERT_EQ(rb.ReadSe(), code % 2 ? mag : -mag);
            }
        } else if (op == 7) {
            if (rnd(0, 20) == 0)
                rb.Clear(), m.unread.clear(), m.pending.clear(), m.marked = false;
        } else if (!m.Aligned()) {
            continue;  // the byte-level operations below start on a byte boundary
        } else if (op <= 9) {
            const size_t expect = std::min(n, m.Stored());
            ASSERT_EQ(op == 9 ? rb.Peek(buf.data(), n) : rb.Read(buf.data(), n), expect);
            for (size_t i = 0; i < expect; ++i)
                ASSERT_EQ(buf[i], m.ByteAt(i)) << "byte " << i;
            if (op == 8)
                m.GetBits(expect * 8);
        } else if (op == 10 && m.Stored() > 0) {
            // Look for a byte that is present, or one that may be absent.
            const uint8_t target = rnd(0, 1) ? m.ByteAt(rnd(0, uint32_t(m.Stored() - 1))) : uint8_t(rng());
            size_t skip = 0;
            while (skip < m.Stored() && m.ByteAt(skip) != target)
                ++skip;
            ASSERT_EQ(rb.SkipToByte(target), skip);
            m.GetBits(skip * 8);
        } else if (op == 13) {
            // The byte-by-byte scan: from a 00 (with at least four bytes from it) to the next 01 from two bytes
            // on, or the last byte; stop when 00 00 stand before it, else go on after it.
            const size_t count = m.Stored();
            size_t o = 0;
            while (o < count) {
                if (m.ByteAt(o) != 0) {
                    ++o;
                    continue;
                }
                if (count - o < 4)
                    break;
                size_t j = o + 2;
                while (count - j > 1 && m.ByteAt(j) != 1)
                    ++j;
                if (m.ByteAt(j - 1) == 0 && m.ByteAt(j - 2) == 0) {
                    o = j - 2;
                    break;
                }
                o = j + 1;
            }
            ASSERT_EQ(rb.SkipToStartCode(), o);
            m.GetBits(o * 8);
        } else if (op == 11) {
            rb.Mark();
            m.marked = true, m.history.clear(), m.maxSpan = m.Stored();
        } else if (op == 12 && m.marked && m.maxSpan <= size_t(capacity) - 1) {
            rb.Rewind();
            m.unread.insert(m.unread.begin(), m.history.begin(), m.history.end());
            m.history.clear();
        }
        ASSERT_EQ(std::tuple(rb.Count(), rb.IsFull(), rb.IsBitEmpty()),
                  std::tuple(m.Stored(), m.Full(), m.unread.empty()))
            << "after op " << op;
        if (m.Aligned() && m.Stored() > 0) {
            ASSERT_EQ(*rb.ReadPointer(), m.ByteAt(0));
        }
    }
}

TEST(RingBuffer, MatchesBitQueueModel)
{
    uint32_t seed = 1;
    for (int cap : {1, 2, 3, 5, 8, 17, 64, 300})
        RunDifferential(cap, seed++);
}

}  // namespace
}  // namespace md
