// The builders whose exact bytes other tests depend on, checked against values
// derived by hand from the standards' syntax tables.
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
    w.AlignZero();
    w.PutBit(true);
    w.AlignOnes();
    w.Put(0x0123456789ABCDEFull, 64);
    EXPECT_EQ(w.Take(), (ByteVec{0xBE, 0xAB, 0xC0, 0xFF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
}

TEST(StreamBuilders, PackAndPacketHeaders)
{
    // SCR 0, mux rate 3528: '0010' 000 1 | 15 zero bits 1 | 15 zero bits 1 | 1 mux(22) 1.
    // The VCD probe rule reads bytes 4..5 as 21 00 for any SCR below 2^22.
    EXPECT_EQ(Mpeg1PackHeader(0, 3528),
              (ByteVec{0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91}));
    EXPECT_EQ(Mpeg1PackHeader((1u << 22) - 1, 3528)[5], 0x00);
    EXPECT_NE(Mpeg1PackHeader(1u << 22, 3528)[5], 0x00);
    EXPECT_EQ(PesPacket(0xE0, ByteVec{0xAA}, 0x1FFFFFFFFull),
              (ByteVec{0, 0, 1, 0xE0, 0x00, 0x09, 0x85, 0x80, 0x05, 0x2F, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
    // DVD navigation packets: PCI (980 bytes, sub-stream 0), DSI (1018, 1); DVD-VR RDI (2004, 'P').
    const ByteVec nav = DvdNavPack(0);
    ASSERT_EQ(nav.size(), 2048u);
    EXPECT_EQ(ByteVec(nav.begin() + 38, nav.begin() + 45), (ByteVec{0, 0, 1, 0xBF, 0x03, 0xD4, 0x00}));
    EXPECT_EQ(ByteVec(nav.begin() + 1024, nav.begin() + 1031), (ByteVec{0, 0, 1, 0xBF, 0x03, 0xFA, 0x01}));
    const ByteVec rdi = DvdVrRdiPack(0);
    EXPECT_EQ(ByteVec(rdi.begin() + 38, rdi.begin() + 45), (ByteVec{0, 0, 1, 0xBF, 0x07, 0xD4, 0x50}));
}

}  // namespace
