// The ring buffer against a reference model of its byte FIFO and bit reader and
// writer, under random operations; the corners callers must know; the start-code
// search and the Exp-Golomb reads.
#include "input/ring_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <random>
#include <vector>

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(RingBuffer& rb, size_t n)
{
    Bytes out(n);
    out.resize(rb.Read(out.data(), n));
    return out;
}

void WriteBytes(RingBuffer& rb, const Bytes& bytes) { rb.Write(bytes.data(), bytes.size()); }

// Writes a string of '0'/'1' characters with the bit writer (other characters are skipped).
void PutBitString(RingBuffer& rb, const char* bits)
{
    for (const char* p = bits; *p; ++p)
        if (*p == '0' || *p == '1')
            rb.PutBits(*p == '1', 1);
}

// The corners a caller must know, which the model test below stays clear of.
TEST(RingBuffer, FullWritesOversizedWritesAndDegenerateCapacities)
{
    // Exactly capacity bytes: indistinguishable from empty; the bit writer stops at capacity - 1.
    RingBuffer rb(8);
    WriteBytes(rb, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(std::pair(rb.Count(), rb.IsFull()), std::pair(7u, true));
    WriteBytes(rb, {8});
    EXPECT_EQ(std::tuple(rb.Count(), rb.IsBitEmpty()), std::tuple(0u, true));
    EXPECT_EQ(rb.GetBits(8), 0u);
    EXPECT_TRUE(ReadBytes(rb, 4).empty());

    // 20 bytes into 8 slots: slot i ends holding the last byte written there, and the write
    // index ends at 20 mod 8 = 4, so 4 bytes count as buffered: 16..19. Unread bytes are
    // overwritten, not guarded.
    RingBuffer over(8);
    Bytes src(20);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i);
    WriteBytes(over, src);
    EXPECT_EQ(ReadBytes(over, 8), (Bytes{16, 17, 18, 19}));
    RingBuffer small(4);
    WriteBytes(small, {1, 2, 3});
    WriteBytes(small, {4, 5});  // slot 3, then slot 0
    EXPECT_EQ(ReadBytes(small, 4), (Bytes{5}));

    // GetBits returns what is left, unshifted; a byte read while bits are left starts at the next byte.
    RingBuffer bits(8);
    WriteBytes(bits, {0xB5, 0x42, 0xF0});  // 1011 0101
    EXPECT_EQ(bits.GetBits(3), 0x5u);
    EXPECT_EQ(ReadBytes(bits, 1), (Bytes{0x42}));
    EXPECT_EQ(bits.GetBits(0) + bits.GetBits(-5), 0u);
    // The rest of 0xB5 (10101) and 0xF0: 13 bits, not shifted up to 16.
    EXPECT_EQ(bits.PeekBits(16), 0x15F0u);
    EXPECT_EQ(bits.GetBits(16), 0x15F0u);
    EXPECT_TRUE(bits.IsBitEmpty());

    // Capacities below 1 hold nothing and every call is harmless; capacity 1 is
    // always full for the bit writer and a byte write leaves Count 0.
    for (int32_t cap : {0, -1, std::numeric_limits<int32_t>::min(), 1}) {
        RingBuffer d(cap);
        const uint8_t bytes[] = {0, 0, 1, 0xB3};
        d.Write(bytes, sizeof bytes);
        d.PutBits(0xFFFF, 16);
        EXPECT_EQ(std::tuple(d.Count(), d.ReadPointer() == nullptr, d.IsFull()), std::tuple(0u, cap < 1, true));
        uint8_t out[4] = {};
        EXPECT_EQ(d.Read(out, 4) + d.Peek(out, 4) + d.ReadAll(out) + d.SkipToStartCode() + d.SkipToByte(0), 0u);
        EXPECT_EQ(std::tuple(d.GetBits(32), d.MoreRbspData(), d.ReadUe()), std::tuple(0u, false, 0u));
        d.Mark(), d.Rewind(), d.Clear();
    }
}

TEST(RingBuffer, SkipToStartCode)
{
    const struct {
        Bytes bytes;
        uint32_t skipped, left;  // Count afterwards
    } cases[] = {
        {{0x12, 0x00, 0x00, 0x01, 0xB3}, 1, 4},
        {{0x12, 0x34, 0x00, 0x00}, 2, 2},              // a 00 with fewer than 4 bytes left
        {{0x12, 0x00, 0x05, 0x06}, 1, 3},              // the same with no prefix at all
        {{0x00, 0x00, 0x00, 0x01, 0xB8}, 1, 4},        // the prefix is the last two zeros
        {{0x00, 0x05, 0x01, 0x07, 0x08, 0x09}, 6, 0},  // 05 01 is no prefix; nothing found
        {{0x00, 0xAA, 0x01, 0x00, 0x00, 0x01}, 3, 3},  // last 3 bytes: stops on their 00
        {{0x00, 0x05, 0x06, 0x00, 0x00, 0x07}, 3, 3},  // 00 00 before the last byte counts
        {{}, 0, 0},
    };
    for (const auto& c : cases) {
        RingBuffer rb(32);
        WriteBytes(rb, c.bytes);
        EXPECT_EQ(rb.SkipToStartCode(), c.skipped) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(rb.Count(), c.left) << ::testing::PrintToString(c.bytes);
    }

    // With at least three non-zero bytes at the end the search finds the first
    // 00 00 01 or passes everything; the data wraps in the array.
    std::mt19937 rng(7);
    for (int round = 0; round < 5000; ++round) {
        const int cap = 8 + int(rng() % 40);
        RingBuffer rb(cap);
        const Bytes pad(rng() % size_t(cap), 0xEE);  // moves the indexes inside the array
        WriteBytes(rb, pad);
        ReadBytes(rb, pad.size());
        Bytes data(3 + rng() % size_t(cap - 4));
        for (size_t i = 0; i < data.size(); ++i) {
            const uint32_t r = rng() % 4;
            data[i] = i + 3 >= data.size() ? uint8_t(1 + rng() % 255) : r == 0 ? 0x00 : r == 1 ? 0x01 : uint8_t(rng());
        }
        WriteBytes(rb, data);
        size_t expect = data.size();
        for (size_t i = 0; i + 2 < data.size() && expect == data.size(); ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
                expect = i;
        ASSERT_EQ(rb.SkipToStartCode(), expect) << ::testing::PrintToString(data);
        ASSERT_EQ(rb.Count(), data.size() - expect);
    }
}

TEST(RingBuffer, ExpGolombLimitsAndMoreRbspData)
{
    // Largest 32-bit code: 31 zeros, 1, 31 ones = 2^31 - 1 + 2^31 - 1. 33 leading zeros are still
    // read (a 67-bit code); the value saturates. A 34th zero ends the read with 0, leaving the
    // rest. An empty buffer reads as zeros: the 34-zero limit ends the read.
    RingBuffer big(32), z33(32), z34(32), empty(8);
    big.PutBits(0, 31), big.PutBits(1, 1), big.PutBits(0x7FFFFFFF, 31), big.PutBits(0xA5, 8), big.PutBits(0, 1);
    EXPECT_EQ(big.ReadUe(), 0xFFFFFFFEu);
    EXPECT_EQ(big.GetBits(8), 0xA5u);
    z33.PutBits(0, 32), z33.PutBits(1, 2), z33.PutBits(0, 32), z33.PutBits(0, 1), z33.PutBits(0xA5, 8);
    z33.PutBits(0, 5);
    EXPECT_EQ(z33.ReadUe(), 0xFFFFFFFFu);
    EXPECT_EQ(z33.GetBits(8), 0xA5u);
    z34.PutBits(0, 32), z34.PutBits(0, 2), z34.PutBits(0x5, 3), z34.PutBits(0, 3);
    EXPECT_EQ(z34.ReadUe(), 0u);
    EXPECT_EQ(z34.GetBits(3), 0x5u);
    EXPECT_EQ(std::pair(empty.ReadUe(), empty.ReadSe()), std::pair(0u, 0));

    const struct {
        const char* bits;
        int skip;
        bool more;
    } rbsp[] = {
        {"10000000", 0, false},
        {"01000000", 0, true},
        {"10100000", 0, true},
        {"00000000 10000000", 0, true},  // more than 8 bits left
        {"01011000", 4, false},          // 1000 left: stop bit and padding
        {"01010100", 4, true},           // 0100 left
        {"11110000", 4, true},           // 0000 left: the next bit is 0
        {"11111110", 6, false},          // "10" left
        {"11111111", 6, false},          // "11": fewer than 3 bits left
        {"11111111", 8, false},          // nothing left
        {"10000000 1", 0, false},        // a pending write bit is not counted
        {"10000001", 0, false},          // the last bit is never examined
        {"10000010", 0, true},
    };
    for (const auto& c : rbsp) {
        RingBuffer rb(8);
        PutBitString(rb, c.bits);
        rb.GetBits(c.skip);
        EXPECT_EQ(rb.MoreRbspData(), c.more) << c.bits << " skip " << c.skip;
    }
    // Data wrapped past the end of the array counts as nothing left.
    RingBuffer w(4);
    PutBitString(w, "00000000 00000000 00000000");
    w.GetBits(24);
    PutBitString(w, "01000000 01000000");  // write index wraps to 1, read index is 3
    EXPECT_FALSE(w.MoreRbspData());
}

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
    // No leading 1 inside the array (bits 21..23 are zero), offsets past it, value bits that run
    // past it (0000 0001 and 7 missing), and beyond the first 11 bytes: -1, value untouched.
    Bytes longer(16, 0);
    longer[10] = 0x01;  // bit 87 is a 1
    const uint8_t cut[] = {0x01};
    uint32_t ue = 77;
    for (uint32_t offset : {21u, 24u, 0xFFFFFFFFu})
        EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, offset, ue), -1) << offset;
    EXPECT_EQ(ReadUeBytes(nullptr, 0, 0, ue) + ReadUeBytes(cut, 1, 0, ue), -2);
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 86, ue), -1);  // one value bit at 88: out of reach
    EXPECT_EQ(ue, 77u);
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 87, ue), 1);
    EXPECT_EQ(ue, 0u);
    longer[10] = 0x00, longer[11] = 0x80;  // the leading 1 at bit 88 is out of reach
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 80, ue), -1);

    // A 43-zero code filling all 88 bits: far above 32 bits, saturates; for
    // se(v), m = 2^44 - 1 is odd: a large negative value.
    Bytes huge(11, 0xFF);
    std::fill(huge.begin(), huge.begin() + 5, 0);
    huge[5] = 0x1F;  // bits 40..42 zero, bit 43 is the leading 1, 43 value bits of 1 follow
    int32_t se = 0;
    EXPECT_EQ(ReadUeBytes(huge.data(), huge.size(), 0, ue), 87);
    EXPECT_EQ(ReadSeBytes(huge.data(), huge.size(), 0, se), 87);
    EXPECT_EQ(ue, 0xFFFFFFFFu);
    EXPECT_LE(se, -std::numeric_limits<int32_t>::max());
}

// Reference model of the byte FIFO and the bit reader/writer: the unread bits of
// stored bytes, plus the bits written into a byte that is not yet complete.
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
    uint32_t PeekBits(size_t n) const
    {
        uint32_t v = 0;
        for (size_t i = 0; i < n && i < unread.size(); ++i)
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
    uint8_t ByteAt(size_t i) const
    {
        uint8_t v = 0;
        for (size_t k = 0; k < 8; ++k)
            v = static_cast<uint8_t>(v << 1 | unread[i * 8 + k]);
        return v;
    }
};

// Random bit and byte writes, reads, peeks, searches, Exp-Golomb reads, marks,
// rewinds and clears, each checked against the model.
void RunDifferential(int capacity, uint32_t seed)
{
    SCOPED_TRACE(::testing::Message() << "capacity " << capacity << " seed " << seed);
    std::mt19937 rng(seed);
    auto rnd = [&rng](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    RingBuffer rb(capacity);
    BitModel m{capacity};
    Bytes buf(size_t(capacity) + 64);

    for (int step = 0; step < 20000; ++step) {
        const uint32_t op = rnd(0, 12);
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
                buf[i] = static_cast<uint8_t>(rnd(0, 2) == 0 ? 0 : rng());
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
            if (rnd(0, 20) == 0) {
                rb.Clear();
                m.unread.clear(), m.pending.clear(), m.marked = false;
            }
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
        } else if (op == 11) {
            rb.Mark();
            m.marked = true, m.history.clear(), m.maxSpan = m.Stored();
        } else if (op == 12 && m.marked && m.maxSpan <= size_t(capacity) - 1) {
            rb.Rewind();
            m.unread.insert(m.unread.begin(), m.history.begin(), m.history.end());
            m.history.clear();
        }
        ASSERT_EQ(rb.Count(), m.Stored()) << "after op " << op;
        ASSERT_EQ(rb.IsFull(), m.Full()) << "after op " << op;
        ASSERT_EQ(rb.IsBitEmpty(), m.unread.empty()) << "after op " << op;
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

// Any sequence of operations, the quirky ones included (oversized writes, byte
// reads in the middle of a byte, rewinds to overwritten data), keeps every index
// inside the array; run under AddressSanitizer this catches a stray access.
TEST(RingBuffer, ArbitraryOperationsStayInBounds)
{
    std::mt19937 rng(99);
    for (int cap : {-3, 0, 1, 2, 3, 4, 7, 16}) {
        RingBuffer rb(cap);
        Bytes buf(64);
        for (int step = 0; step < 20000; ++step) {
            const size_t n = rng() % 40;
            for (size_t i = 0; i < n; ++i)
                buf[i] = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() % 3 == 0 ? 1 : rng());
            switch (rng() % 16) {
            case 0: rb.Write(buf.data(), n); break;
            case 1: rb.Read(buf.data(), n); break;
            case 2: rb.Peek(buf.data(), n); break;
            case 3: rb.PutBits(static_cast<uint32_t>(rng()), int(rng() % 40) - 4); break;
            case 4: rb.GetBits(int(rng() % 40) - 4); break;
            case 5: rb.PeekBits(int(rng() % 40) - 4); break;
            case 6: rb.SkipToStartCode(); break;
            case 7: rb.SkipToByte(buf[0]); break;
            case 8: rb.Mark(); break;
            case 9: rb.Rewind(); break;
            case 10: rb.MoreRbspData(); break;
            case 11: rb.ReadUe(); break;
            case 12: rb.ReadSe(); break;
            case 13: if (rng() % 50 == 0) rb.Clear(); break;
            case 14: {
                Bytes all(rb.Count());
                ASSERT_EQ(rb.ReadAll(all.data()), all.size());
                break;
            }
            case 15: {
                const uint8_t* p = rb.ReadPointer();
                if (cap > 0) {
                    ASSERT_NE(p, nullptr);
                    (void)*(volatile const uint8_t*)p;
                }
                break;
            }
            }
            ASSERT_LT(int64_t(rb.Count()), std::max(cap, 1));
        }
    }
}

}  // namespace
}  // namespace md
