#include "ts/ring_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <random>
#include <vector>

namespace md {
namespace {

std::vector<uint8_t> ReadBytes(RingBuffer& rb, size_t n)
{
    std::vector<uint8_t> out(n);
    out.resize(rb.Read(out.data(), n));
    return out;
}

void WriteBytes(RingBuffer& rb, const std::vector<uint8_t>& bytes) { rb.Write(bytes.data(), bytes.size()); }

TEST(RingBuffer, CountWrapsAndFullBufferLooksEmpty)
{
    RingBuffer rb(8);
    EXPECT_EQ(rb.Count(), 0u);
    EXPECT_TRUE(rb.IsBitEmpty());
    WriteBytes(rb, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(rb.Count(), 7u);
    EXPECT_TRUE(rb.IsFull());  // the bit writer stops at capacity - 1 bytes
    WriteBytes(rb, {8});
    EXPECT_EQ(rb.Count(), 0u);  // exactly capacity bytes: indistinguishable from empty
    EXPECT_TRUE(rb.IsBitEmpty());
    EXPECT_EQ(rb.GetBits(8), 0u);
    EXPECT_TRUE(ReadBytes(rb, 4).empty());

    // Fill across the end of the array and read it back in order.
    RingBuffer wrap(8);
    WriteBytes(wrap, {0, 0, 0, 0, 0});
    EXPECT_EQ(ReadBytes(wrap, 5).size(), 5u);
    WriteBytes(wrap, {10, 11, 12, 13, 14, 15});  // occupies slots 5,6,7,0,1,2
    EXPECT_EQ(wrap.Count(), 6u);
    EXPECT_FALSE(wrap.IsFull());
    EXPECT_EQ(*wrap.ReadPointer(), 10);
    std::vector<uint8_t> peeked(3);
    EXPECT_EQ(wrap.Peek(peeked.data(), 3), 3u);
    EXPECT_EQ(peeked, (std::vector<uint8_t>{10, 11, 12}));
    EXPECT_EQ(wrap.Count(), 6u);
    EXPECT_EQ(ReadBytes(wrap, 2), (std::vector<uint8_t>{10, 11}));
    std::vector<uint8_t> all(16);
    EXPECT_EQ(wrap.ReadAll(all.data()), 4u);
    all.resize(4);
    EXPECT_EQ(all, (std::vector<uint8_t>{12, 13, 14, 15}));
    EXPECT_EQ(wrap.Count(), 0u);
    // Read asks for more than is there.
    WriteBytes(wrap, {7, 8});
    EXPECT_EQ(ReadBytes(wrap, 100), (std::vector<uint8_t>{7, 8}));
}

TEST(RingBuffer, OversizedWriteOverwritesButStaysInsideTheArray)
{
    // 20 bytes into 8 slots: slot i ends holding the last byte written there, and
    // the write index ends at 20 mod 8 = 4, so 4 bytes count as buffered: 16..19.
    RingBuffer rb(8);
    std::vector<uint8_t> src(20);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i);
    rb.Write(src.data(), src.size());
    EXPECT_EQ(rb.Count(), 4u);
    EXPECT_EQ(ReadBytes(rb, 8), (std::vector<uint8_t>{16, 17, 18, 19}));

    // Unread bytes are overwritten, not guarded.
    RingBuffer over(4);
    WriteBytes(over, {1, 2, 3});
    WriteBytes(over, {4, 5});  // slot 3, then slot 0
    EXPECT_EQ(over.Count(), 1u);
    EXPECT_EQ(ReadBytes(over, 4), (std::vector<uint8_t>{5}));  // slot 0, rewritten
}

TEST(RingBuffer, DegenerateCapacitiesHoldNothing)
{
    for (int32_t cap : {0, -1, -1000, std::numeric_limits<int32_t>::min()}) {
        RingBuffer rb(cap);
        const uint8_t bytes[] = {0, 0, 1, 0xB3};
        rb.Write(bytes, sizeof bytes);
        rb.PutBits(0xFFFF, 16);
        EXPECT_EQ(rb.Count(), 0u);
        EXPECT_EQ(rb.ReadPointer(), nullptr);
        EXPECT_TRUE(rb.IsFull());
        EXPECT_TRUE(rb.IsBitEmpty());
        uint8_t out[4] = {};
        EXPECT_EQ(rb.Read(out, 4), 0u);
        EXPECT_EQ(rb.Peek(out, 4), 0u);
        EXPECT_EQ(rb.ReadAll(out), 0u);
        EXPECT_EQ(rb.SkipToStartCode(), 0u);
        EXPECT_EQ(rb.SkipToByte(0), 0u);
        EXPECT_EQ(rb.GetBits(32), 0u);
        EXPECT_EQ(rb.PeekBits(8), 0u);
        EXPECT_FALSE(rb.MoreRbspData());
        EXPECT_EQ(rb.ReadUe(), 0u);
        rb.Mark();
        rb.Rewind();
        rb.Clear();
    }
    // Capacity 1: the bit writer is always full and a byte write leaves Count 0.
    RingBuffer one(1);
    one.PutBits(1, 1);
    one.Write(std::vector<uint8_t>{9}.data(), 1);
    EXPECT_EQ(one.Count(), 0u);
    EXPECT_EQ(one.GetBits(8), 0u);
}

TEST(RingBuffer, BitWriterAndReader)
{
    // 12 bits then 4 bits make two whole bytes, read back in the same order.
    RingBuffer rb(16);
    rb.PutBits(0xABC, 12);
    EXPECT_EQ(rb.Count(), 1u);  // 0xAB stored, 0xC pending
    rb.PutBits(0xD, 4);
    EXPECT_EQ(rb.Count(), 2u);
    std::vector<uint8_t> two(2);
    EXPECT_EQ(rb.Peek(two.data(), 2), 2u);
    EXPECT_EQ(two, (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(rb.PeekBits(16), 0xABCDu);
    EXPECT_EQ(rb.GetBits(16), 0xABCDu);

    // Only the low n bits of the value are written.
    rb.PutBits(0xFFFFFF01, 8);
    rb.PutBits(0xF0, 4);  // 0000
    rb.PutBits(0x3, 4);   // 0011
    EXPECT_EQ(rb.GetBits(8), 0x01u);
    EXPECT_EQ(rb.GetBits(8), 0x03u);

    // A byte write while bits are pending goes through the bit writer.
    RingBuffer mixed(16);
    mixed.PutBits(1, 1);
    const uint8_t ff = 0xFF;
    mixed.Write(&ff, 1);      // 1 1111111|1
    mixed.PutBits(0, 7);      // ...1 0000000
    EXPECT_EQ(mixed.GetBits(16), 0xFF80u);

    // 32-bit values and reads that cross several bytes.
    RingBuffer wide(16);
    wide.PutBits(0x80000001u, 32);
    wide.PutBits(0x5, 3);  // 101
    wide.PutBits(0x1F, 5);
    EXPECT_EQ(wide.GetBits(1), 1u);
    EXPECT_EQ(wide.GetBits(32), 0x3u);  // 30 zeros, 1, then the first bit of 101
    EXPECT_EQ(wide.GetBits(7), 0x3Fu);  // 01 then 11111

    // The bit writer keeps one slot free: 32 bits into a capacity-4 buffer store 3 bytes.
    RingBuffer small(4);
    small.PutBits(0x11223344, 32);
    EXPECT_EQ(small.Count(), 3u);
    EXPECT_TRUE(small.IsFull());
    EXPECT_EQ(small.GetBits(24), 0x112233u);
}

TEST(RingBuffer, GetBitsReturnsOnlyTheBitsLeft)
{
    RingBuffer rb(8);
    const uint8_t b = 0xB5;  // 1011 0101
    rb.Write(&b, 1);
    EXPECT_EQ(rb.GetBits(3), 0x5u);   // 101
    EXPECT_EQ(rb.PeekBits(8), 0x15u);  // the remaining 10101, not shifted up
    EXPECT_EQ(rb.GetBits(8), 0x15u);
    EXPECT_TRUE(rb.IsBitEmpty());
    EXPECT_EQ(rb.GetBits(8), 0u);
    EXPECT_EQ(rb.GetBits(0), 0u);
    EXPECT_EQ(rb.GetBits(-5), 0u);

    // A byte read while bits are left starts at the next byte.
    RingBuffer skip(8);
    WriteBytes(skip, {0xF0, 0x42});
    EXPECT_EQ(skip.GetBits(2), 0x3u);
    EXPECT_EQ(ReadBytes(skip, 1), (std::vector<uint8_t>{0x42}));

    // Clear drops the bit state of both directions.
    RingBuffer clr(8);
    clr.PutBits(0x7, 3);
    WriteBytes(clr, {0xAA});
    clr.GetBits(1);
    clr.Clear();
    EXPECT_TRUE(clr.IsBitEmpty());
    EXPECT_EQ(clr.Count(), 0u);
    WriteBytes(clr, {0x3C});  // no pending bits any more: stored as is
    EXPECT_EQ(clr.GetBits(8), 0x3Cu);
}

TEST(RingBuffer, MarkRewindAndSkipToByte)
{
    RingBuffer rb(8);
    WriteBytes(rb, {1, 2, 3, 4, 5});
    rb.Mark();
    EXPECT_EQ(ReadBytes(rb, 3), (std::vector<uint8_t>{1, 2, 3}));
    rb.Rewind();
    EXPECT_EQ(rb.Count(), 5u);
    EXPECT_EQ(rb.SkipToByte(4), 3u);
    EXPECT_EQ(*rb.ReadPointer(), 4);
    EXPECT_EQ(rb.SkipToByte(4), 0u);  // already on it
    EXPECT_EQ(rb.SkipToByte(9), 2u);  // absent: every byte passed
    EXPECT_EQ(rb.Count(), 0u);

    // The search wraps at the end of the array.
    RingBuffer w(6);
    WriteBytes(w, {0, 0, 0, 0});
    ReadBytes(w, 4);
    WriteBytes(w, {7, 8, 9, 10});  // slots 4,5,0,1
    EXPECT_EQ(w.SkipToByte(10), 3u);
    EXPECT_EQ(ReadBytes(w, 2), (std::vector<uint8_t>{10}));
}

TEST(RingBuffer, SkipToStartCode)
{
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t skipped;
        uint32_t left;  // Count afterwards
    };
    const Case cases[] = {
        {{0x12, 0x00, 0x00, 0x01, 0xB3}, 1, 4},
        {{0x12, 0x34, 0x00, 0x00}, 2, 2},               // a 00 with fewer than 4 bytes left
        {{0x12, 0x00, 0x05, 0x06}, 1, 3},               // the same with no prefix at all
        {{0x00, 0x00, 0x01, 0xB3}, 0, 4},
        {{0x00, 0x00, 0x00, 0x01, 0xB8}, 1, 4},          // the prefix is the last two zeros
        {{0x00, 0x12, 0x00, 0x00, 0x01, 0x00}, 2, 4},
        {{0x00, 0x05, 0x01, 0x07, 0x08, 0x09}, 6, 0},    // 05 01 is no prefix; nothing found
        {{0x00, 0xAA, 0x01, 0x00, 0x00, 0x01}, 3, 3},    // last 3 bytes: stops on their 00
        {{0x00, 0x05, 0x06, 0x00, 0x00, 0x07}, 3, 3},    // 00 00 before the last byte counts
        {{0x11, 0x22, 0x33}, 3, 0},
        {{}, 0, 0},
    };
    for (const Case& c : cases) {
        RingBuffer rb(32);
        WriteBytes(rb, c.bytes);
        EXPECT_EQ(rb.SkipToStartCode(), c.skipped) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(rb.Count(), c.left) << ::testing::PrintToString(c.bytes);
    }

    // A prefix split across the end of the array.
    RingBuffer w(8);
    WriteBytes(w, {0, 0, 0, 0, 0, 0});
    ReadBytes(w, 6);
    WriteBytes(w, {0x55, 0x00, 0x00, 0x01, 0xB5});  // slots 6,7,0,1,2
    EXPECT_EQ(w.SkipToStartCode(), 1u);
    EXPECT_EQ(w.GetBits(32), 0x000001B5u);
}

// Writes a string of '0'/'1' characters with the bit writer.
void PutBitString(RingBuffer& rb, const char* bits)
{
    for (const char* p = bits; *p; ++p)
        if (*p == '0' || *p == '1')
            rb.PutBits(*p == '1', 1);
}

TEST(RingBuffer, ExpGolomb)
{
    struct Case {
        const char* bits;
        uint32_t ue;
        int32_t se;
    };
    // ue(v) codeNum from the bit string; se(v) maps 0,1,2,3,4 to 0,1,-1,2,-2.
    const Case cases[] = {
        {"1", 0, 0},           {"010", 1, 1},          {"011", 2, -1},     {"00100", 3, 2},
        {"00101", 4, -2},      {"0001000", 7, 4},      {"0001110", 13, 7}, {"000010111", 22, -11},
    };
    for (const Case& c : cases) {
        RingBuffer ue(16);
        PutBitString(ue, c.bits);
        PutBitString(ue, "1010 1");  // trailer, must be untouched
        ue.PutBits(0, 8);
        EXPECT_EQ(ue.ReadUe(), c.ue) << c.bits;
        EXPECT_EQ(ue.GetBits(5), 0x15u) << c.bits;

        RingBuffer se(16);
        PutBitString(se, c.bits);
        se.PutBits(0, 16);
        EXPECT_EQ(se.ReadSe(), c.se) << c.bits;
    }

    // Largest 32-bit code: 31 zeros, 1, 31 ones = 2^31 - 1 + 2^31 - 1.
    RingBuffer big(32);
    big.PutBits(0, 31);
    big.PutBits(1, 1);
    big.PutBits(0x7FFFFFFF, 31);
    big.PutBits(0xA5, 8);
    big.PutBits(0, 1);  // complete the last byte
    EXPECT_EQ(big.ReadUe(), 0xFFFFFFFEu);
    EXPECT_EQ(big.GetBits(8), 0xA5u);

    // 33 leading zeros are still read (67-bit code); the value does not fit 32 bits.
    RingBuffer z33(32);
    z33.PutBits(0, 32);
    z33.PutBits(0, 1);
    z33.PutBits(1, 1);
    z33.PutBits(0, 32);
    z33.PutBits(0, 1);
    z33.PutBits(0xA5, 8);
    z33.PutBits(0, 5);
    EXPECT_EQ(z33.ReadUe(), 0xFFFFFFFFu);
    EXPECT_EQ(z33.GetBits(8), 0xA5u);

    // A 34th zero ends the read with 0, leaving the rest of the stream.
    RingBuffer z34(32);
    z34.PutBits(0, 32);
    z34.PutBits(0, 2);
    z34.PutBits(0x5, 3);  // 101
    z34.PutBits(0, 3);
    EXPECT_EQ(z34.ReadUe(), 0u);
    EXPECT_EQ(z34.GetBits(3), 0x5u);

    // An empty buffer reads as zeros: the 34-zero limit ends the read.
    RingBuffer empty(8);
    EXPECT_EQ(empty.ReadUe(), 0u);
    EXPECT_EQ(empty.ReadSe(), 0);
}

TEST(RingBuffer, MoreRbspData)
{
    auto check = [](const char* bits, int skip) {
        RingBuffer rb(8);
        PutBitString(rb, bits);
        rb.GetBits(skip);
        return rb.MoreRbspData();
    };
    EXPECT_FALSE(check("10000000", 0));
    EXPECT_TRUE(check("01000000", 0));
    EXPECT_TRUE(check("11000000", 0));
    EXPECT_TRUE(check("10100000", 0));
    EXPECT_TRUE(check("00000000 10000000", 0));  // more than 8 bits left
    EXPECT_FALSE(check("01011000", 4));           // 1000 left: stop bit and padding
    EXPECT_TRUE(check("01010100", 4));            // 0100 left
    EXPECT_TRUE(check("11110000", 4));            // 0000 left: the next bit is 0
    EXPECT_FALSE(check("11111110", 6));           // "10" left
    EXPECT_FALSE(check("11111111", 6));           // "11": fewer than 3 bits left
    EXPECT_FALSE(check("11111101", 7));           // a lone 1
    EXPECT_FALSE(check("11111111", 8));           // nothing left
    EXPECT_FALSE(check("10000000 1", 0));         // a pending write bit is not counted
    // The last bit is never examined: "1000 0001" reads as stop bit plus padding.
    EXPECT_FALSE(check("10000001", 0));
    EXPECT_TRUE(check("10000010", 0));
    // Data wrapped past the end of the array counts as nothing left.
    RingBuffer w(4);
    PutBitString(w, "00000000 00000000 00000000");
    w.GetBits(24);
    PutBitString(w, "01000000 01000000");  // write index wraps to 1, read index is 3
    EXPECT_FALSE(w.MoreRbspData());
}

TEST(RingBuffer, ExpGolombFromBytes)
{
    // 0x5A 0x60 = 0101 1010 0110 0000.
    const uint8_t bytes[] = {0x5A, 0x60};
    uint32_t ue = 99;
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 0, ue), 3);  // 010
    EXPECT_EQ(ue, 1u);
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 3, ue), 1);  // 1
    EXPECT_EQ(ue, 0u);
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 5, ue), 3);  // 010
    EXPECT_EQ(ue, 1u);
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 7, ue), 5);  // 00110 across the byte boundary
    EXPECT_EQ(ue, 5u);
    int32_t se = 99;
    EXPECT_EQ(ReadSeBytes(bytes, sizeof bytes, 7, se), 5);  // codeNum 5 → +3
    EXPECT_EQ(se, 3);
    EXPECT_EQ(ReadSeBytes(bytes, sizeof bytes, 0, se), 3);  // codeNum 1 → +1
    EXPECT_EQ(se, 1);
    const uint8_t minus[] = {0x60};  // 011 → codeNum 2 → -1
    EXPECT_EQ(ReadSeBytes(minus, 1, 0, se), 3);
    EXPECT_EQ(se, -1);
    const uint8_t minus2[] = {0x28};  // 00101 → codeNum 4 → -2
    EXPECT_EQ(ReadSeBytes(minus2, 1, 0, se), 5);
    EXPECT_EQ(se, -2);

    // Bits 12..15 of 0x5A60 are zero: no leading 1 inside the array.
    ue = 77;
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 12, ue), -1);
    EXPECT_EQ(ue, 77u);
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 16, ue), -1);
    EXPECT_EQ(ReadUeBytes(bytes, sizeof bytes, 0xFFFFFFFFu, ue), -1);
    EXPECT_EQ(ReadUeBytes(nullptr, 0, 0, ue), -1);
    // The code's value bits run past the array.
    const uint8_t cut[] = {0x01};  // 0000 0001 then 7 value bits missing
    EXPECT_EQ(ReadUeBytes(cut, 1, 0, ue), -1);

    // Only the first 11 bytes are searched, however long the array.
    std::vector<uint8_t> longer(16, 0);
    longer[10] = 0x01;  // bit 87 is a 1
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 87, ue), 1);
    EXPECT_EQ(ue, 0u);
    longer[10] = 0x02;  // "10" at bits 86..87: code "1" at 86
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 86, ue), 1);
    longer[10] = 0x00;
    longer[11] = 0x80;  // the leading 1 at bit 88 is out of reach
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 80, ue), -1);
    longer[10] = 0x01;  // leading 1 at bit 87, one value bit at 88: out of reach
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 86, ue), -1);
    EXPECT_EQ(ReadUeBytes(longer.data(), longer.size(), 88, ue), -1);

    // A 43-zero code filling all 88 bits: far above 32 bits, saturates.
    std::vector<uint8_t> huge(11, 0xFF);
    for (int i = 0; i < 5; ++i)
        huge[size_t(i)] = 0;
    huge[5] = 0x1F;  // bits 40..42 zero, bit 43 is the leading 1, 43 value bits of 1 follow
    EXPECT_EQ(ReadUeBytes(huge.data(), huge.size(), 0, ue), 87);
    EXPECT_EQ(ue, 0xFFFFFFFFu);
    // m = 2^44 - 1 is odd: a large negative value.
    EXPECT_EQ(ReadSeBytes(huge.data(), huge.size(), 0, se), 87);
    EXPECT_LE(se, -std::numeric_limits<int32_t>::max());
}

// Reference model of the byte FIFO and the bit reader/writer: the unread bits of
// stored bytes, plus the bits written into a byte that is not yet complete.
struct BitModel {
    explicit BitModel(int cap) : capacity(cap) {}

    size_t StoredBytes() const { return unread.size() / 8; }
    bool Aligned() const { return unread.size() % 8 == 0; }
    bool Full() const { return int(StoredBytes()) == capacity - 1; }

    void PutBit(bool b)
    {
        pending.push_back(b);
        if (pending.size() == 8) {
            unread.insert(unread.end(), pending.begin(), pending.end());
            pending.clear();
            maxSpan = std::max(maxSpan, (history.size() + unread.size()) / 8);
        }
    }
    void PutBits(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (Full())
                return;
            PutBit((v >> i) & 1);
        }
    }
    bool TakeBit()
    {
        const bool b = unread.front();
        unread.pop_front();
        if (marked)
            history.push_back(b);
        return b;
    }
    uint32_t GetBits(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n && !unread.empty(); ++i)
            v = v << 1 | TakeBit();
        return v;
    }
    uint32_t PeekBits(int n) const
    {
        uint32_t v = 0;
        for (int i = 0; i < n && size_t(i) < unread.size(); ++i)
            v = v << 1 | unread[size_t(i)];
        return v;
    }
    uint8_t ByteAt(size_t i) const
    {
        uint8_t v = 0;
        for (size_t k = 0; k < 8; ++k)
            v = static_cast<uint8_t>(v << 1 | unread[i * 8 + k]);
        return v;
    }

    int capacity;
    std::deque<bool> unread;
    std::vector<bool> pending;
    bool marked = false;
    std::deque<bool> history;  // bits consumed since the mark
    size_t maxSpan = 0;        // most bytes held between the mark and the write index
};

void RunDifferential(int capacity, uint32_t seed)
{
    SCOPED_TRACE(::testing::Message() << "capacity " << capacity << " seed " << seed);
    std::mt19937 rng(seed);
    auto rnd = [&rng](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    RingBuffer rb(capacity);
    BitModel m(capacity);
    std::vector<uint8_t> buf(size_t(capacity) + 64);

    for (int step = 0; step < 20000; ++step) {
        const uint32_t op = rnd(0, 12);
        switch (op) {
        case 0:
        case 1: {
            const int n = int(rnd(1, 32));
            const uint32_t v = static_cast<uint32_t>(rng());
            rb.PutBits(v, n);
            m.PutBits(n == 32 ? v : v & ((1u << n) - 1), n);
            break;
        }
        case 2: {
            size_t n = rnd(0, uint32_t(capacity) + 2);
            if (m.pending.empty()) {
                // Byte writes do not test for room: stay within it.
                const size_t room = size_t(capacity) - 1 - m.StoredBytes();
                n = std::min(n, room);
            }
            for (size_t i = 0; i < n; ++i)
                buf[i] = static_cast<uint8_t>(rnd(0, 2) == 0 ? 0 : rng());
            rb.Write(buf.data(), n);
            for (size_t i = 0; i < n; ++i)
                m.PutBits(buf[i], 8);
            break;
        }
        case 3:
        case 4: {
            const int n = int(rnd(1, 32));
            ASSERT_EQ(rb.GetBits(n), m.GetBits(n)) << "GetBits " << n;
            break;
        }
        case 5: {
            const int n = int(rnd(1, 32));
            ASSERT_EQ(rb.PeekBits(n), m.PeekBits(n)) << "PeekBits " << n;
            break;
        }
        case 6:
        case 7: {
            if (!m.Aligned())
                break;
            const size_t n = rnd(0, uint32_t(capacity) + 2);
            const bool peek = op == 7;
            const size_t expect = std::min(n, m.StoredBytes());
            const uint32_t got = peek ? rb.Peek(buf.data(), n) : rb.Read(buf.data(), n);
            ASSERT_EQ(got, expect);
            for (size_t i = 0; i < expect; ++i)
                ASSERT_EQ(buf[i], m.ByteAt(i)) << "byte " << i;
            if (!peek)
                m.GetBits(int(expect * 8));
            break;
        }
        case 8: {
            if (!m.Aligned() || m.StoredBytes() == 0)
                break;
            // Look for a byte that is present, or one that may be absent.
            const uint8_t target = rnd(0, 1) ? m.ByteAt(rnd(0, uint32_t(m.StoredBytes() - 1))) : uint8_t(rng());
            size_t skip = 0;
            while (skip < m.StoredBytes() && m.ByteAt(skip) != target)
                ++skip;
            ASSERT_EQ(rb.SkipToByte(target), skip);
            m.GetBits(int(skip * 8));
            break;
        }
        case 9: {
            // ue(v) / se(v) only when a whole code of at most 31 leading zeros is there.
            size_t z = 0;
            while (z < m.unread.size() && !m.unread[z])
                ++z;
            if (z > 31 || m.unread.size() < 2 * z + 1)
                break;
            const uint32_t bits = m.PeekBits(int(2 * z + 1)) & ((uint64_t(1) << z) - 1);
            const uint32_t code = static_cast<uint32_t>((uint64_t(1) << z) - 1 + bits);
            if (rnd(0, 1)) {
                ASSERT_EQ(rb.ReadUe(), code);
            } else {
                const int64_t mag = (int64_t(code) + 1) / 2;
                ASSERT_EQ(rb.ReadSe(), code % 2 ? mag : -mag);
            }
            m.GetBits(int(2 * z + 1));
            break;
        }
        case 10:
            if (m.Aligned()) {
                rb.Mark();
                m.marked = true;
                m.history.clear();
                m.maxSpan = m.StoredBytes();
            }
            break;
        case 11:
            if (m.marked && m.Aligned() && m.maxSpan <= size_t(capacity) - 1) {
                rb.Rewind();
                m.unread.insert(m.unread.begin(), m.history.begin(), m.history.end());
                m.history.clear();
            }
            break;
        case 12:
            if (rnd(0, 20) == 0) {
                rb.Clear();
                m.unread.clear();
                m.pending.clear();
                m.marked = false;
            }
            break;
        }
        ASSERT_EQ(rb.Count(), m.StoredBytes()) << "after op " << op;
        ASSERT_EQ(rb.IsFull(), m.Full()) << "after op " << op;
        ASSERT_EQ(rb.IsBitEmpty(), m.unread.empty()) << "after op " << op;
        if (m.Aligned() && m.StoredBytes() > 0) {
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

// With at least three non-zero bytes at the end, the start-code search finds the
// first 00 00 01 or passes everything; checked on data that wraps in the array.
TEST(RingBuffer, SkipToStartCodeFindsFirstPrefix)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 5000; ++round) {
        const int cap = 8 + int(rng() % 40);
        RingBuffer rb(cap);
        // Move the indexes somewhere inside the array first.
        const size_t offset = rng() % size_t(cap);
        std::vector<uint8_t> pad(offset, 0xEE);
        rb.Write(pad.data(), pad.size());
        std::vector<uint8_t> sink(pad.size());
        rb.Read(sink.data(), sink.size());

        const size_t len = 3 + rng() % size_t(cap - 4);
        std::vector<uint8_t> data(len);
        for (size_t i = 0; i + 3 < len; ++i) {
            const uint32_t r = rng() % 4;
            data[i] = r == 0 ? 0x00 : r == 1 ? 0x01 : uint8_t(rng());
        }
        for (size_t i = len - 3; i < len; ++i)
            data[i] = uint8_t(1 + rng() % 255);
        rb.Write(data.data(), data.size());

        size_t expect = len;
        for (size_t i = 0; i + 2 < len; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                expect = i;
                break;
            }
        }
        ASSERT_EQ(rb.SkipToStartCode(), expect) << ::testing::PrintToString(data);
        ASSERT_EQ(rb.Count(), len - expect);
    }
}


// Any sequence of operations, the quirky ones included (oversized writes, byte
// reads in the middle of a byte, rewinds to overwritten data), keeps every index
// inside the array; run under AddressSanitizer this catches a stray access.
TEST(RingBuffer, ArbitraryOperationsStayInBounds)
{
    std::mt19937 rng(99);
    for (int cap : {-3, 0, 1, 2, 3, 4, 7, 16}) {
        RingBuffer rb(cap);
        std::vector<uint8_t> buf(64);
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
                std::vector<uint8_t> all(rb.Count());
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
