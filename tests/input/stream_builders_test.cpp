// The synthetic bitstream builders, checked against values derived by hand from
// the standards' syntax tables.
#include "support/stream_builders.h"

#include <gtest/gtest.h>

#include "support/bit_writer.h"

namespace {

using namespace mdtest;

TEST(BitWriter, WritesMostSignificantBitFirst)
{
    BitWriter w;
    w.Put(0b101, 3);
    w.Put(0b11110, 5);
    w.Put(0xABC, 12);
    EXPECT_FALSE(w.Aligned());
    w.AlignZero();
    EXPECT_EQ(w.Bytes(), (ByteVec{0xBE, 0xAB, 0xC0}));
    w.PutBit(true);
    w.AlignOnes();
    w.Put(0x0123456789ABCDEFull, 64);
    EXPECT_EQ(w.BitCount(), 24u + 8 + 64);
    EXPECT_EQ(w.Take(), (ByteVec{0xBE, 0xAB, 0xC0, 0xFF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(w.BitCount(), 0u);
}

TEST(StreamBuilders, Mpeg1PackHeaderAtVcdParameters)
{
    // SCR 0, mux rate 3528: '0010' 000 1 | 15 zero bits 1 | 15 zero bits 1 | 1 mux(22) 1
    EXPECT_EQ(Mpeg1PackHeader(0, 3528),
              (ByteVec{0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91}));
    // The largest SCR below 2^22 keeps bytes 4..5 at 21 00.
    const ByteVec h = Mpeg1PackHeader((1u << 22) - 1, 3528);
    EXPECT_EQ(h[4], 0x21);
    EXPECT_EQ(h[5], 0x00);
    EXPECT_NE(Mpeg1PackHeader(1u << 22, 3528)[5], 0x00);
}

TEST(StreamBuilders, Mpeg2PackHeaderFieldsAndMarkers)
{
    // SCR base 0x1_2345_6789 (33 bits), extension 0x55, mux rate 25200.
    const ByteVec h = Mpeg2PackHeader(0x123456789ull, 25200, 0x55);
    ASSERT_EQ(h.size(), 14u);
    EXPECT_EQ(h[4] & 0xC0, 0x40);
    EXPECT_TRUE(h[4] & 0x04);
    EXPECT_TRUE(h[6] & 0x04);
    EXPECT_TRUE(h[8] & 0x04);
    EXPECT_TRUE(h[9] & 0x01);
    const uint64_t scr = (uint64_t(h[4] & 0x38) << 27) | (uint64_t(h[4] & 0x03) << 28) | (uint64_t(h[5]) << 20) |
                         (uint64_t(h[6] & 0xF8) << 12) | (uint64_t(h[6] & 0x03) << 13) | (uint64_t(h[7]) << 5) |
                         (h[8] >> 3);
    EXPECT_EQ(scr, 0x123456789ull);
    EXPECT_EQ(((h[8] & 0x03) << 7) | (h[9] >> 1), 0x55);
    EXPECT_EQ((uint32_t(h[10]) << 14) | (uint32_t(h[11]) << 6) | (h[12] >> 2), 25200u);
    EXPECT_EQ(h[13], 0xF8);
}

TEST(StreamBuilders, DvdPacksAre2048BytesWithTheirPackets)
{
    const ByteVec nav = DvdNavPack(0);
    ASSERT_EQ(nav.size(), 2048u);
    EXPECT_EQ(ByteVec(nav.begin() + 14, nav.begin() + 20), (ByteVec{0, 0, 1, 0xBB, 0x00, 0x12}));
    EXPECT_EQ(ByteVec(nav.begin() + 38, nav.begin() + 45), (ByteVec{0, 0, 1, 0xBF, 0x03, 0xD4, 0x00}));
    EXPECT_EQ(ByteVec(nav.begin() + 1024, nav.begin() + 1031), (ByteVec{0, 0, 1, 0xBF, 0x03, 0xFA, 0x01}));
    const ByteVec rdi = DvdVrRdiPack(0);
    ASSERT_EQ(rdi.size(), 2048u);
    EXPECT_EQ(ByteVec(rdi.begin() + 38, rdi.begin() + 45), (ByteVec{0, 0, 1, 0xBF, 0x07, 0xD4, 0x50}));
    EXPECT_EQ(DvdVideoPack(0, ByteVec{1, 2, 3}, 90000).size(), 2048u);
}

TEST(StreamBuilders, PesPacketWithPts)
{
    const ByteVec pes = PesPacket(0xE0, ByteVec{0xAA}, 0x1FFFFFFFFull);
    EXPECT_EQ(pes, (ByteVec{0, 0, 1, 0xE0, 0x00, 0x09, 0x85, 0x80, 0x05, 0x2F, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
    EXPECT_THROW(PaddingPacket(5), std::invalid_argument);
    EXPECT_EQ(PaddingPacket(6), (ByteVec{0, 0, 1, 0xBE, 0, 0}));
}

TEST(StreamBuilders, SequenceHeaderFields)
{
    const ByteVec s = VideoSequenceHeader(720, 576, 3, 3, false);
    ASSERT_EQ(s.size(), 12u);
    EXPECT_EQ(ByteVec(s.begin(), s.begin() + 8), (ByteVec{0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x33}));
    const ByteVec s2 = VideoSequenceHeader(720, 576, 3, 3, true);
    ASSERT_EQ(s2.size(), 22u);
    EXPECT_EQ(ByteVec(s2.begin() + 12, s2.begin() + 17), (ByteVec{0, 0, 1, 0xB5, 0x14}));
    EXPECT_EQ(Mpeg4GroupOfVop().size(), 7u);
}

TEST(StreamBuilders, TransportPacketsOfEachSize)
{
    const ByteVec payload(10, 0x33);
    const ByteVec p188 = TsPacket(0x1234 & 0x1FFF, true, 5, payload);
    ASSERT_EQ(p188.size(), 188u);
    EXPECT_EQ(p188[0], 0x47);
    EXPECT_EQ(p188[1], 0x40 | 0x12);
    EXPECT_EQ(p188[2], 0x34);
    EXPECT_EQ(p188[3], 0x35);
    EXPECT_EQ(p188[4], 183 - 10);
    EXPECT_EQ(p188[187], 0x33);
    const ByteVec p192 = TsPacket(0x100, false, 0, ByteVec(184, 1), 192, 0x12345);
    ASSERT_EQ(p192.size(), 192u);
    EXPECT_EQ(ByteVec(p192.begin(), p192.begin() + 5), (ByteVec{0x00, 0x01, 0x23, 0x45, 0x47}));
    EXPECT_EQ(TsPacket(0x100, false, 0, payload, 204).size(), 204u);
    EXPECT_EQ(TsStream(204, 30).size(), 30u * 204);
}

TEST(StreamBuilders, CdxaLayout)
{
    const ByteVec file = CdxaFile({VcdPackSector(0), VcdPackSector(1200)});
    ASSERT_EQ(file.size(), 44u + 2 * 2352);
    EXPECT_EQ(ByteVec(file.begin(), file.begin() + 4), (ByteVec{'R', 'I', 'F', 'F'}));
    EXPECT_EQ(ByteVec(file.begin() + 8, file.begin() + 12), (ByteVec{'C', 'D', 'X', 'A'}));
    EXPECT_EQ(ByteVec(file.begin() + 36, file.begin() + 40), (ByteVec{'d', 'a', 't', 'a'}));
    EXPECT_EQ(ByteVec(file.begin() + 68, file.begin() + 72), (ByteVec{0, 0, 1, 0xBA}));
    EXPECT_EQ(ByteVec(file.begin() + 68 + 2352, file.begin() + 72 + 2352), (ByteVec{0, 0, 1, 0xBA}));
    EXPECT_EQ(VcdPackSector(0).size(), 2324u);
    EXPECT_EQ(SvcdVideoSector(0).size(), 2324u);
}

TEST(StreamBuilders, DirecTvFramingBitAlternates)
{
    const ByteVec s = DirecTvStream(4);
    ASSERT_EQ(s.size(), 520u);
    EXPECT_TRUE(s[0] & 0x80);
    EXPECT_FALSE(s[130] & 0x80);
    EXPECT_TRUE(s[260] & 0x80);
    EXPECT_FALSE(s[390] & 0x80);
}

TEST(StreamBuilders, Mp4Boxes)
{
    EXPECT_EQ(Mp4Box("free", ByteVec{7}), (ByteVec{0, 0, 0, 9, 'f', 'r', 'e', 'e', 7}));
    const ByteVec large = Mp4Box("mdat", ByteVec{7}, true);
    EXPECT_EQ(large, (ByteVec{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 17, 7}));
}

}  // namespace
