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

// A 5-byte timestamp field of ISO/IEC 13818-1 2.4.3.7: 4-bit prefix, value
// bits 32..30, marker, 29..15, marker, 14..0, marker.
void PutTimestamp(mdtest::BitWriter& w, uint32_t prefix, uint64_t v, bool m1 = true, bool m2 = true, bool m3 = true)
{
    w.Put(prefix, 4);
    w.Put(v >> 30 & 0x7, 3);
    w.PutBit(m1);
    w.Put(v >> 15 & 0x7FFF, 15);
    w.PutBit(m2);
    w.Put(v & 0x7FFF, 15);
    w.PutBit(m3);
}

Bytes Timestamp(uint32_t prefix, uint64_t v, bool m1 = true, bool m2 = true, bool m3 = true)
{
    mdtest::BitWriter w;
    PutTimestamp(w, prefix, v, m1, m2, m3);
    return w.Take();
}

TEST(Pes, ReadPts)
{
    const uint64_t values[] = {0, 1, 0x1FFFFFFFFull, 90000ull * 3600, 0x155555555ull, 0x0AAAAAAAAull};
    for (uint64_t v : values) {
        const Bytes f = Timestamp(0x2, v);
        EXPECT_EQ(ReadPts(f.data(), 5), int64_t(v)) << v;
        const Bytes g = Timestamp(0x3, v);  // PTS of a PTS+DTS pair
        EXPECT_EQ(ReadPts(g.data(), 5), int64_t(v)) << v;
    }
    // The marker at the end of byte 0 is not checked; the other two are.
    Bytes f = Timestamp(0x2, 1234567, false, true, true);
    EXPECT_EQ(ReadPts(f.data(), 5), 1234567);
    f = Timestamp(0x2, 1234567, true, false, true);
    EXPECT_EQ(ReadPts(f.data(), 5), -1);
    f = Timestamp(0x2, 1234567, true, true, false);
    EXPECT_EQ(ReadPts(f.data(), 5), -1);
    // A DTS prefix '0001' or any other top three bits.
    f = Timestamp(0x1, 1234567);
    EXPECT_EQ(ReadPts(f.data(), 5), -1);
    f = Timestamp(0xA, 1234567);
    EXPECT_EQ(ReadPts(f.data(), 5), -1);
    f = Timestamp(0x2, 1234567);
    EXPECT_EQ(ReadPts(f.data(), 4), -1);
    EXPECT_EQ(ReadPts(nullptr, 5), -1);
}

struct Mpeg2Pes {
    uint8_t streamId = 0xE0;
    uint32_t markerBits = 0x2;  // '10'
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
    bool badPtsMarker = false;
    bool badDtsMarker = false;
    uint32_t stuffing = 0;       // extra bytes in the header data
    int headerDataLength = -1;   // override
    Bytes payload = {0xAA, 0xBB, 0xCC};
};

// An MPEG-2 PES packet per ISO/IEC 13818-1 2.4.3.6.
Bytes BuildMpeg2Pes(const Mpeg2Pes& f)
{
    mdtest::BitWriter h;
    uint32_t flags = f.pts ? (f.dts ? 3 : 2) : 0;
    h.Put(f.markerBits, 2);
    h.Put(0, 6);  // scrambling, priority, alignment, copyright, original
    h.Put(flags, 2);
    h.Put(0, 6);  // ESCR, ES_rate, DSM trick mode, additional copy info, CRC, extension
    const uint32_t dataLength = (f.pts ? 5 : 0) + (f.dts ? 5 : 0) + f.stuffing;
    h.Put(f.headerDataLength >= 0 ? uint32_t(f.headerDataLength) : dataLength, 8);
    if (f.pts)
        PutTimestamp(h, f.dts ? 0x3 : 0x2, *f.pts, true, !f.badPtsMarker, true);
    if (f.dts)
        PutTimestamp(h, 0x1, *f.dts, true, true, !f.badDtsMarker);
    for (uint32_t i = 0; i < f.stuffing; ++i)
        h.Put(0xFF, 8);
    h.PutBytes(f.payload);
    const Bytes body = h.Take();

    mdtest::BitWriter w;
    w.Put(0x000001, 24);
    w.Put(f.streamId, 8);
    w.Put(body.size(), 16);
    w.PutBytes(body);
    return w.Take();
}

TEST(Pes, Mpeg2Header)
{
    PesInfo info{};
    // With a PTS: 9 fixed bytes + 5 header data bytes.
    Mpeg2Pes f;
    f.pts = 0x123456789ull;
    Bytes b = BuildMpeg2Pes(f);
    ASSERT_EQ(b.size(), 17u);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 17u);
    EXPECT_EQ(info.packetLength, 17u);
    EXPECT_EQ(info.payloadOffset, 14u);
    EXPECT_EQ(info.ptsPresent, 1u);
    EXPECT_EQ(info.pts, 0x123456789);
    // More bytes after the packet do not matter; fewer mean "need more".
    Bytes longer = b;
    longer.resize(40, 0x55);
    EXPECT_EQ(ParseMpeg2PesHeader(longer.data(), uint32_t(longer.size()), info), 17u);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), 16, info), 0u);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), 5, info), 0u);

    // No PTS, and a PTS followed by stuffing in the header data.
    f = Mpeg2Pes{};
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 12u);
    EXPECT_EQ(info.payloadOffset, 9u);
    EXPECT_EQ(info.ptsPresent, 0u);
    f.pts = 90000;
    f.stuffing = 3;
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.payloadOffset, 17u);
    EXPECT_EQ(info.pts, 90000);

    // PTS and DTS; a DTS with a broken marker rejects the packet.
    f = Mpeg2Pes{};
    f.pts = 3600;
    f.dts = 0;
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.payloadOffset, 19u);
    EXPECT_EQ(info.pts, 3600);
    f.badDtsMarker = true;
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 4u);

    // PTS only, with the marker at the end of byte 11 broken: the packet stands,
    // the PTS reads -1.
    f = Mpeg2Pes{};
    f.pts = 3600;
    f.badPtsMarker = true;
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.ptsPresent, 1u);
    EXPECT_EQ(info.pts, -1);
    // PTS only with byte 9's marker cleared: rejected.
    f.badPtsMarker = false;
    b = BuildMpeg2Pes(f);
    b[9] &= 0xFE;
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 4u);

    // '01' instead of '10' in byte 6; header data running past the packet.
    f = Mpeg2Pes{};
    f.markerBits = 0x1;
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 4u);
    f = Mpeg2Pes{};
    f.headerDataLength = 4;  // 9 + 4 > 12
    b = BuildMpeg2Pes(f);
    EXPECT_EQ(ParseMpeg2PesHeader(b.data(), uint32_t(b.size()), info), 4u);
    // A packet shorter than 9 bytes.
    const Bytes tiny = {0, 0, 1, 0xE0, 0, 2, 0x80, 0x00};
    EXPECT_EQ(ParseMpeg2PesHeader(tiny.data(), uint32_t(tiny.size()), info), 4u);

    // Stream ids without a header extension: payload at 6, bytes not examined.
    for (uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF}) {
        const Bytes pad = {0, 0, 1, id, 0, 4, 0x00, 0x00, 0x00, 0x00};
        EXPECT_EQ(ParseMpeg2PesHeader(pad.data(), uint32_t(pad.size()), info), 10u) << int(id);
        EXPECT_EQ(info.payloadOffset, 6u);
        EXPECT_EQ(info.ptsPresent, 0u);
    }
}

struct Mpeg1Pes {
    uint8_t streamId = 0xC0;
    uint32_t stuffing = 0;
    bool stdBuffer = false;
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
    bool badPtsMarker = false;
    Bytes payload = {0x11, 0x22};
};

// An MPEG-1 packet per ISO/IEC 11172-1 2.4.3.3.
Bytes BuildMpeg1Pes(const Mpeg1Pes& f)
{
    mdtest::BitWriter h;
    for (uint32_t i = 0; i < f.stuffing; ++i)
        h.Put(0xFF, 8);
    if (f.stdBuffer) {
        h.Put(0x1, 2);
        h.PutBit(true);   // STD_buffer_scale
        h.Put(46, 13);    // STD_buffer_size
    }
    if (f.pts && f.dts) {
        PutTimestamp(h, 0x3, *f.pts, true, !f.badPtsMarker, true);
        PutTimestamp(h, 0x1, *f.dts);
    } else if (f.pts) {
        PutTimestamp(h, 0x2, *f.pts, true, !f.badPtsMarker, true);
    } else {
        h.Put(0x0F, 8);
    }
    h.PutBytes(f.payload);
    const Bytes body = h.Take();
    mdtest::BitWriter w;
    w.Put(0x000001, 24);
    w.Put(f.streamId, 8);
    w.Put(body.size(), 16);
    w.PutBytes(body);
    return w.Take();
}

TEST(Pes, Mpeg1Header)
{
    PesInfo info{};
    Mpeg1Pes f;
    f.stuffing = 3;
    f.stdBuffer = true;
    f.pts = 0x1ABCDEF01ull;
    Bytes b = BuildMpeg1Pes(f);
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.payloadOffset, 6u + 3 + 2 + 5);
    EXPECT_EQ(info.ptsPresent, 1u);
    EXPECT_EQ(info.pts, 0x1ABCDEF01);

    f = Mpeg1Pes{};
    b = BuildMpeg1Pes(f);  // 0x0F: no timestamps
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.payloadOffset, 7u);
    EXPECT_EQ(info.ptsPresent, 0u);

    f.pts = 5;
    f.dts = 2;
    b = BuildMpeg1Pes(f);
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), uint32_t(b.size()), info), uint32_t(b.size()));
    EXPECT_EQ(info.payloadOffset, 16u);
    EXPECT_EQ(info.pts, 5);

    // A PTS with a broken marker rejects the packet.
    f.badPtsMarker = true;
    b = BuildMpeg1Pes(f);
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), uint32_t(b.size()), info), 4u);

    // Private stream 2: payload at 6 whatever follows.
    const Bytes ps2 = {0, 0, 1, 0xBF, 0, 3, 0x80, 0x90, 0xFF};
    EXPECT_EQ(ParseMpeg1PesHeader(ps2.data(), uint32_t(ps2.size()), info), 9u);
    EXPECT_EQ(info.payloadOffset, 6u);

    // Invalid bytes after the stuffing: bit 7 set, or a timestamp nibble 0x1.
    Bytes bad = {0, 0, 1, 0xC0, 0, 3, 0xFF, 0x80, 0x00};
    EXPECT_EQ(ParseMpeg1PesHeader(bad.data(), uint32_t(bad.size()), info), 4u);
    bad = {0, 0, 1, 0xC0, 0, 3, 0xFF, 0x10, 0x00};
    EXPECT_EQ(ParseMpeg1PesHeader(bad.data(), uint32_t(bad.size()), info), 4u);
    // Stuffing up to the end of the packet, and a PTS that runs past it.
    bad = {0, 0, 1, 0xC0, 0, 3, 0xFF, 0xFF, 0xFF, 0x0F};
    EXPECT_EQ(ParseMpeg1PesHeader(bad.data(), uint32_t(bad.size()), info), 4u);
    bad = {0, 0, 1, 0xC0, 0, 3, 0x21, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(ParseMpeg1PesHeader(bad.data(), uint32_t(bad.size()), info), 4u);
    // An STD buffer field with nothing after it.
    bad = {0, 0, 1, 0xC0, 0, 2, 0x40, 0x00};
    EXPECT_EQ(ParseMpeg1PesHeader(bad.data(), uint32_t(bad.size()), info), 4u);
    // PES_packet_length 0, more than is available, and fewer than 6 bytes.
    const Bytes empty = {0, 0, 1, 0xC0, 0, 0, 0x0F};
    EXPECT_EQ(ParseMpeg1PesHeader(empty.data(), uint32_t(empty.size()), info), 4u);
    b = BuildMpeg1Pes(Mpeg1Pes{});
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), uint32_t(b.size() - 1), info), 0u);
    EXPECT_EQ(ParseMpeg1PesHeader(b.data(), 5, info), 0u);
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
    body.PutBit(f.m1);
    body.Put(25200, 22);  // rate_bound
    body.PutBit(f.m2);
    body.Put(1, 6);       // audio_bound
    body.Put(0, 2);       // fixed_flag, CSPS_flag
    body.Put(3, 2);       // system_audio_lock_flag, system_video_lock_flag
    body.PutBit(f.m3);
    body.Put(1, 5);       // video_bound
    body.PutBit(false);   // packet_rate_restriction_flag
    body.Put(0x7F, 7);
    for (uint8_t id : f.streams) {
        body.Put(id, 8);
        body.Put(0x3, 2);
        body.PutBit(true);
        body.Put(232, 13);
    }
    for (int i = 0; i < f.extraBytes; ++i)
        body.Put(0xFF, 8);
    const Bytes b = body.Take();
    mdtest::BitWriter w;
    w.Put(0x000001BB, 32);
    w.Put(b.size(), 16);
    w.PutBytes(b);
    return w.Take();
}

TEST(Pes, SystemHeaderLength)
{
    Bytes b = BuildSystemHeader(SysHeader{});
    ASSERT_EQ(b.size(), 18u);
    EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 18u);
    EXPECT_EQ(SystemHeaderLength(b.data(), 17), 0u);  // whole header not there yet
    EXPECT_EQ(SystemHeaderLength(b.data(), 5), 0u);

    SysHeader f;
    f.streams = {0xB8, 0xB9, 0xBC, 0xBD, 0xFF};
    b = BuildSystemHeader(f);
    EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 27u);
    f.streams = {0xE0, 0xBA};  // not a stream id a system header may list
    b = BuildSystemHeader(f);
    EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 4u);
    f.streams = {0xE0, 0x00};
    b = BuildSystemHeader(f);
    EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 4u);

    f = SysHeader{};
    f.extraBytes = 2;  // a trailing partial entry
    b = BuildSystemHeader(f);
    EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 4u);

    for (int m = 0; m < 3; ++m) {
        f = SysHeader{};
        (m == 0 ? f.m1 : m == 1 ? f.m2 : f.m3) = false;
        b = BuildSystemHeader(f);
        EXPECT_EQ(SystemHeaderLength(b.data(), uint32_t(b.size())), 4u) << "marker " << m;
    }

    // header_length below the 6 fixed bytes.
    const Bytes shortHeader = {0, 0, 1, 0xBB, 0, 5, 0x80, 0, 1, 0, 0x20};
    EXPECT_EQ(SystemHeaderLength(shortHeader.data(), uint32_t(shortHeader.size())), 4u);
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
        if (b.size() >= 6) {
            b[0] = 0;
            b[1] = 0;
            b[2] = 1;
            b[3] = ids[rng() % sizeof ids];
            b[4] = 0;
            b[5] = static_cast<uint8_t>(rng() % 48);
        }
        const uint8_t* p = b.empty() ? nullptr : b.data();
        const uint32_t n = uint32_t(b.size());
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
