#include "es/pes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "support/bit_writer.h"

namespace md {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Len(const Bytes& b) { return uint32_t(b.size()); }

// A 5-byte timestamp field of ISO/IEC 13818-1 2.4.3.7: 4-bit prefix, value
// bits 32..30, marker, 29..15, marker, 14..0, marker.
void PutTimestamp(mdtest::BitWriter& w, uint32_t prefix, uint64_t v, bool m1 = true, bool m2 = true, bool m3 = true)
{
    w.Put(prefix, 4), w.Put(v >> 30 & 0x7, 3), w.PutBit(m1);
    w.Put(v >> 15 & 0x7FFF, 15), w.PutBit(m2), w.Put(v & 0x7FFF, 15), w.PutBit(m3);
}

Bytes Timestamp(uint32_t prefix, uint64_t v, bool m1 = true, bool m2 = true, bool m3 = true)
{
    mdtest::BitWriter w;
    PutTimestamp(w, prefix, v, m1, m2, m3);
    return w.Take();
}

// 00 00 01, stream_id, PES_packet_length, then the body.
Bytes Packet(uint8_t streamId, mdtest::BitWriter& body)
{
    const Bytes b = body.Take();
    mdtest::BitWriter w;
    w.Put(0x000001, 24), w.Put(streamId, 8), w.Put(b.size(), 16);
    w.PutBytes(b);
    return w.Take();
}

TEST(Pes, ReadPts)
{
    for (uint64_t v : {0ull, 0x1FFFFFFFFull, 0x155555555ull, 0x0AAAAAAAAull}) {
        EXPECT_EQ(ReadPts(Timestamp(0x2, v).data(), 5), int64_t(v)) << v;
        EXPECT_EQ(ReadPts(Timestamp(0x3, v).data(), 5), int64_t(v)) << v;  // PTS of a PTS+DTS pair
    }
    // The marker at the end of byte 0 is not checked; the other two are.
    EXPECT_EQ(ReadPts(Timestamp(0x2, 1234567, false, true, true).data(), 5), 1234567);
    EXPECT_EQ(ReadPts(Timestamp(0x2, 1234567, true, false, true).data(), 5), -1);
    EXPECT_EQ(ReadPts(Timestamp(0x2, 1234567, true, true, false).data(), 5), -1);
    // A DTS prefix '0001' or any other top three bits; too short.
    EXPECT_EQ(ReadPts(Timestamp(0x1, 1234567).data(), 5), -1);
    EXPECT_EQ(ReadPts(Timestamp(0xA, 1234567).data(), 5), -1);
    EXPECT_EQ(ReadPts(Timestamp(0x2, 1234567).data(), 4), -1);
    EXPECT_EQ(ReadPts(nullptr, 5), -1);
}

struct Mpeg2Pes {
    uint32_t markerBits = 0x2;  // '10'
    std::optional<uint64_t> pts = {}, dts = {};
    bool badPtsMarker = false, badDtsMarker = false;
    uint32_t stuffing = 0;      // extra bytes in the header data
    int headerDataLength = -1;  // override
};

// An MPEG-2 PES packet per ISO/IEC 13818-1 2.4.3.6 with a 3-byte payload.
Bytes BuildMpeg2Pes(const Mpeg2Pes& f)
{
    mdtest::BitWriter h;
    h.Put(f.markerBits, 2), h.Put(0, 6);              // scrambling .. original
    h.Put(f.pts ? (f.dts ? 3 : 2) : 0, 2), h.Put(0, 6);  // PTS_DTS_flags, ESCR .. extension
    const uint32_t dataLength = (f.pts ? 5 : 0) + (f.dts ? 5 : 0) + f.stuffing;
    h.Put(f.headerDataLength >= 0 ? uint32_t(f.headerDataLength) : dataLength, 8);
    if (f.pts)
        PutTimestamp(h, f.dts ? 0x3 : 0x2, *f.pts, true, !f.badPtsMarker, true);
    if (f.dts)
        PutTimestamp(h, 0x1, *f.dts, true, true, !f.badDtsMarker);
    for (uint32_t i = 0; i < f.stuffing; ++i)
        h.Put(0xFF, 8);
    h.PutBytes(Bytes{0xAA, 0xBB, 0xCC});
    return Packet(0xE0, h);
}

TEST(Pes, Mpeg2Header)
{
    PesInfo info{};
    auto parse = [&](const Bytes& b, uint32_t len = 0) {
        return ParseMpeg2PesHeader(b.data(), len ? len : Len(b), info);
    };
    // With a PTS: 9 fixed bytes + 5 header data bytes.
    Bytes b = BuildMpeg2Pes({.pts = 0x123456789ull});
    ASSERT_EQ(b.size(), 17u);
    EXPECT_EQ(parse(b), 17u);
    EXPECT_EQ(info.packetLength, 17u);
    EXPECT_EQ(info.payloadOffset, 14u);
    EXPECT_EQ(info.ptsPresent, 1u);
    EXPECT_EQ(info.pts, 0x123456789);
    // More bytes after the packet do not matter; fewer mean "need more".
    Bytes longer = b;
    longer.resize(40, 0x55);
    EXPECT_EQ(parse(longer), 17u);
    EXPECT_EQ(parse(b, 16), 0u);
    EXPECT_EQ(parse(b, 5), 0u);

    // Payload offsets without a PTS, with stuffing after it, with a DTS too.
    const struct {
        Mpeg2Pes f;
        uint32_t payloadOffset;
        int64_t pts;
    } ok[] = {
        {{}, 9, 0},
        {{.pts = 90000, .stuffing = 3}, 17, 90000},
        {{.pts = 3600, .dts = 0}, 19, 3600},
        // PTS only with the marker at the end of byte 11 broken: the packet stands, the PTS reads -1.
        {{.pts = 3600, .badPtsMarker = true}, 14, -1},
    };
    for (const auto& c : ok) {
        b = BuildMpeg2Pes(c.f);
        EXPECT_EQ(parse(b), Len(b)) << c.payloadOffset;
        EXPECT_EQ(info.payloadOffset, c.payloadOffset);
        EXPECT_EQ(info.ptsPresent, c.f.pts ? 1u : 0u);
        if (c.f.pts) {
            EXPECT_EQ(info.pts, c.pts) << c.payloadOffset;
        }
    }

    // Invalid: a DTS with a broken marker, '01' instead of '10' in byte 6,
    // header data running past the packet (9 + 4 > 12), a packet shorter than 9
    // bytes, byte 9's PTS marker cleared.
    for (const Mpeg2Pes& bad : {Mpeg2Pes{.pts = 3600, .dts = 0, .badDtsMarker = true}, Mpeg2Pes{.markerBits = 1},
                                Mpeg2Pes{.headerDataLength = 4}})
        EXPECT_EQ(parse(BuildMpeg2Pes(bad)), 4u);
    EXPECT_EQ(parse(Bytes{0, 0, 1, 0xE0, 0, 2, 0x80, 0x00}), 4u);
    b = BuildMpeg2Pes({.pts = 3600});
    b[9] &= 0xFE;
    EXPECT_EQ(parse(b), 4u);

    // Stream ids without a header extension: payload at 6, bytes not examined.
    for (uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF}) {
        EXPECT_EQ(parse(Bytes{0, 0, 1, id, 0, 4, 0x00, 0x00, 0x00, 0x00}), 10u) << int(id);
        EXPECT_EQ(info.payloadOffset, 6u);
        EXPECT_EQ(info.ptsPresent, 0u);
    }
}

struct Mpeg1Pes {
    uint32_t stuffing = 0;
    bool stdBuffer = false;
    std::optional<uint64_t> pts = {}, dts = {};
    bool badPtsMarker = false;
};

// An MPEG-1 audio packet per ISO/IEC 11172-1 2.4.3.3 with a 2-byte payload.
Bytes BuildMpeg1Pes(const Mpeg1Pes& f)
{
    mdtest::BitWriter h;
    for (uint32_t i = 0; i < f.stuffing; ++i)
        h.Put(0xFF, 8);
    if (f.stdBuffer)
        h.Put(0x1, 2), h.PutBit(true), h.Put(46, 13);  // STD_buffer_scale, STD_buffer_size
    if (f.pts)
        PutTimestamp(h, f.dts ? 0x3 : 0x2, *f.pts, true, !f.badPtsMarker, true);
    if (f.dts)
        PutTimestamp(h, 0x1, *f.dts);
    if (!f.pts)
        h.Put(0x0F, 8);
    h.PutBytes(Bytes{0x11, 0x22});
    return Packet(0xC0, h);
}

TEST(Pes, Mpeg1Header)
{
    PesInfo info{};
    auto parse = [&](const Bytes& b, uint32_t len = 0) {
        return ParseMpeg1PesHeader(b.data(), len ? len : Len(b), info);
    };
    const struct {
        Mpeg1Pes f;
        uint32_t payloadOffset;
    } ok[] = {
        {{.stuffing = 3, .stdBuffer = true, .pts = 0x1ABCDEF01ull}, 6 + 3 + 2 + 5},
        {{}, 7},  // 0x0F: no timestamps
        {{.pts = 5, .dts = 2}, 16},
    };
    for (const auto& c : ok) {
        const Bytes b = BuildMpeg1Pes(c.f);
        EXPECT_EQ(parse(b), Len(b)) << c.payloadOffset;
        EXPECT_EQ(info.payloadOffset, c.payloadOffset);
        EXPECT_EQ(info.ptsPresent, c.f.pts ? 1u : 0u);
        if (c.f.pts) {
            EXPECT_EQ(info.pts, int64_t(*c.f.pts)) << c.payloadOffset;
        }
    }
    EXPECT_EQ(parse(BuildMpeg1Pes({.pts = 5, .dts = 2, .badPtsMarker = true})), 4u);

    // Private stream 2: payload at 6 whatever follows.
    EXPECT_EQ(parse(Bytes{0, 0, 1, 0xBF, 0, 3, 0x80, 0x90, 0xFF}), 9u);
    EXPECT_EQ(info.payloadOffset, 6u);

    const Bytes invalid[] = {
        {0, 0, 1, 0xC0, 0, 3, 0xFF, 0x80, 0x00},              // bit 7 set after the stuffing
        {0, 0, 1, 0xC0, 0, 3, 0xFF, 0x10, 0x00},              // timestamp nibble 0x1
        {0, 0, 1, 0xC0, 0, 3, 0xFF, 0xFF, 0xFF, 0x0F},        // stuffing up to the end of the packet
        {0, 0, 1, 0xC0, 0, 3, 0x21, 0x00, 0x01, 0x00, 0x01},  // a PTS that runs past it
        {0, 0, 1, 0xC0, 0, 2, 0x40, 0x00},                    // an STD buffer field with nothing after it
        {0, 0, 1, 0xC0, 0, 0, 0x0F},                          // PES_packet_length 0
    };
    for (const Bytes& b : invalid)
        EXPECT_EQ(parse(b), 4u) << testing::PrintToString(b);
    // More than is available, and fewer than 6 bytes.
    const Bytes b = BuildMpeg1Pes({});
    EXPECT_EQ(parse(b, Len(b) - 1), 0u);
    EXPECT_EQ(parse(b, 5), 0u);
    EXPECT_EQ(info.packetLength, 0u);  // cleared
}

struct SysHeader {
    bool m1 = true, m2 = true, m3 = true;
    std::vector<uint8_t> streams = {0xE0, 0xC0};
    int extraBytes = 0;  // added to header_length without stream entries
};

// A system header per ISO/IEC 13818-1 2.5.3.5.
Bytes BuildSystemHeader(const SysHeader& f)
{
    mdtest::BitWriter body;
    body.PutBit(f.m1), body.Put(25200, 22), body.PutBit(f.m2);  // rate_bound
    body.Put(1, 6), body.Put(0, 2), body.Put(3, 2);             // audio_bound, fixed/CSPS, lock flags
    body.PutBit(f.m3), body.Put(1, 5), body.PutBit(false), body.Put(0x7F, 7);  // video_bound
    for (uint8_t id : f.streams)
        body.Put(id, 8), body.Put(0x3, 2), body.PutBit(true), body.Put(232, 13);
    for (int i = 0; i < f.extraBytes; ++i)
        body.Put(0xFF, 8);
    const Bytes b = body.Take();
    mdtest::BitWriter w;
    w.Put(0x000001BB, 32), w.Put(b.size(), 16);
    w.PutBytes(b);
    return w.Take();
}

TEST(Pes, SystemHeaderLength)
{
    auto length = [](const Bytes& b, uint32_t len = 0) { return SystemHeaderLength(b.data(), len ? len : Len(b)); };
    const Bytes b = BuildSystemHeader({});
    ASSERT_EQ(b.size(), 18u);
    EXPECT_EQ(length(b), 18u);
    EXPECT_EQ(length(b, 17), 0u);  // whole header not there yet
    EXPECT_EQ(length(b, 5), 0u);
    EXPECT_EQ(length(BuildSystemHeader({.streams = {0xB8, 0xB9, 0xBC, 0xBD, 0xFF}})), 27u);

    // Stream ids a system header may not list, a trailing partial entry, each
    // marker bit, header_length below the 6 fixed bytes.
    for (const SysHeader& bad : {SysHeader{.streams = {0xE0, 0xBA}}, SysHeader{.streams = {0xE0, 0x00}},
                                 SysHeader{.extraBytes = 2}, SysHeader{.m1 = false}, SysHeader{.m2 = false},
                                 SysHeader{.m3 = false}})
        EXPECT_EQ(length(BuildSystemHeader(bad)), 4u);
    EXPECT_EQ(length(Bytes{0, 0, 1, 0xBB, 0, 5, 0x80, 0, 1, 0, 0x20}), 4u);
}

// Random packets parsed at their exact length: every result is 0, 4 or a packet
// length that fits, with the payload inside the packet.
TEST(Pes, RandomInputStaysInBounds)
{
    std::mt19937 rng(77);
    const uint8_t ids[] = {0xE0, 0xC0, 0xBD, 0xBF, 0xBE, 0xBB, 0xF0};
    for (int round = 0; round < 50000; ++round) {
        Bytes b(rng() % 48);
        for (auto& v : b)
            v = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        if (b.size() >= 6)
            b[0] = 0, b[1] = 0, b[2] = 1, b[3] = ids[rng() % sizeof ids], b[4] = 0, b[5] = uint8_t(rng() % 48);
        const uint8_t* p = b.empty() ? nullptr : b.data();
        const uint32_t n = Len(b);
        PesInfo info{};
        for (int which = 0; which < 2; ++which) {
            const uint32_t r = which ? ParseMpeg2PesHeader(p, n, info) : ParseMpeg1PesHeader(p, n, info);
            if (r != 0 && r != 4) {
                ASSERT_LE(r, n);
                ASSERT_EQ(info.packetLength, r);
                ASSERT_LE(info.payloadOffset, r);
                ASSERT_LE(info.ptsPresent, 1u);
                ASSERT_LT(info.pts, int64_t(1) << 33);
            }
        }
        const uint32_t s = SystemHeaderLength(p, n);
        ASSERT_TRUE(s == 0 || s == 4 || (s >= 12 && s <= n));
        ASSERT_LT(ReadPts(p, n), int64_t(1) << 33);
    }
}

}  // namespace
}  // namespace md
