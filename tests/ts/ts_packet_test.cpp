#include "ts/ts_packet.h"

#include <gtest/gtest.h>

#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

// A PTS field (ISO/IEC 13818-1 2.4.3.7): '0010', PTS[32..30], marker, PTS[29..15], marker, PTS[14..0], marker.
ByteVec PtsField(uint64_t pts, uint8_t prefix = 0x2)
{
    return {uint8_t(prefix << 4 | ((pts >> 29) & 0x0E) | 1), uint8_t(pts >> 22), uint8_t(((pts >> 14) & 0xFE) | 1),
            uint8_t(pts >> 7), uint8_t(((pts << 1) & 0xFE) | 1)};
}

ByteVec PesStart(uint16_t pid, uint64_t pts, uint8_t streamId = 0xE0)
{
    return mdtest::TsPacket(pid, true, 0, mdtest::PesPacket(streamId, ByteVec(300, 0xAA), pts));
}

TEST(TsPacket, PtsAndPesPayloadOffsets)
{
    uint64_t value = 0;
    ASSERT_TRUE(ReadPts32(PtsField(0x123456789).data(), 5, value));
    EXPECT_EQ(value, 0x23456789u);  // PTS[32] falls away

    const ByteVec pes = mdtest::PesPacket(0xE0, ByteVec(300, 0xAA), 90000);  // 14-byte header
    int32_t offset = 0;
    EXPECT_TRUE(PesPayloadOffset(mdtest::TsPacket(0x100, true, 0, pes).data(), 188, offset));
    EXPECT_EQ(offset, 4 + 14);
    // 100 PES bytes: adaptation_field_length 83, PES payload from 5 + 83 + 14.
    EXPECT_TRUE(PesPayloadOffset(mdtest::TsPacket(0x100, true, 0, std::span(pes).first(100)).data(), 188, offset));
    EXPECT_EQ(offset, 102);
    EXPECT_FALSE(PesPayloadOffset(mdtest::TsPacket(0x100, false, 1, ByteVec(50, 0xAA)).data(), 188, offset));
    EXPECT_EQ(offset, 138);  // a continuation: where its payload starts
    EXPECT_FALSE(PesPayloadOffset(mdtest::TsPacket(0x100, false, 2, ByteVec(184, 0xAA)).data(), 188, offset));
    EXPECT_EQ(offset, 4);  // no adaptation field
    EXPECT_FALSE(PesPayloadOffset(mdtest::TsPacket(0x100, false, 3, ByteVec(1, 0xAA)).data(), 188, offset));
    EXPECT_EQ(offset, 187);  // adaptation_field_length 182, one payload byte
    // PUSI with adaptation_field_length 183: no payload.
    EXPECT_FALSE(PesPayloadOffset(mdtest::TsPacket(0x100, true, 0, {}).data(), 188, offset));
    EXPECT_EQ(offset, -1);
}

TEST(TsPacket, PatEntriesLimitsAndAssembly)
{
    auto parse = [](const ByteVec& section, TsProgramTable& table) {
        return ParsePat(section.data(), uint32_t(section.size()), table);
    };
    // 33 entries are rejected as a whole, 32 accepted; a network PID entry and a repeated PMT PID add nothing.
    std::vector<std::pair<uint16_t, uint16_t>> many;
    for (uint16_t k = 1; k <= 33; ++k)
        many.emplace_back(k, uint16_t(0x100 + k));
    TsProgramTable table{};
    EXPECT_FALSE(parse(mdtest::PatSection(many), table));
    EXPECT_EQ(table.count, 0u);
    many.pop_back();
    many[0] = {0, 0x10}, many[2].second = 0x102;
    EXPECT_TRUE(parse(mdtest::PatSection(many), table));
    EXPECT_EQ(table.count, 30u);

    // A section announcing 200 bytes waits for more; a new PUSI parses the short section and drops its packet.
    ByteVec longStart(184, 0xFF);
    longStart[0] = 0x00, longStart[1] = 0x00, longStart[2] = 0xB0, longStart[3] = 200;
    ByteVec pat{0x00};
    mdtest::Append(pat, mdtest::PatSection({{1, 0x100}}));
    pat.resize(184, 0xFF);
    const ByteVec good = mdtest::TsPacket(0, true, 1, pat);
    PatAssembler assembler;
    table = {};
    EXPECT_FALSE(assembler.AssemblePat(mdtest::TsPacket(0, true, 0, longStart).data(), table));
    EXPECT_FALSE(assembler.AssemblePat(good.data(), table));
    EXPECT_TRUE(assembler.AssemblePat(good.data(), table));
    EXPECT_EQ(table.count, 1u);
}

TEST(TsPacket, ScannersKeepFirstGreatestAndLastInFileOrder)
{
    ByteVec buffer;  // PES starts of both PIDs with PTS 5000, 4000, 1000, 2000, 3000
    for (const uint64_t pts : {5000, 4000, 1000, 2000, 3000}) {
        mdtest::Append(buffer, PesStart(0x100, pts));
        mdtest::Append(buffer, PesStart(0x101, pts, 0xC0));
    }
    TsTimes times;
    times.videoFrameDuration = 400000;
    times.audioFrameDuration = 240000;
    EXPECT_TRUE(ScanPtsRange(buffer.data(), uint32_t(buffer.size()), false, 0x100, 0x101, 188, times));
    EXPECT_EQ(times.videoEndTime, 400000 + 5000 * 1000 / 9);  // the greatest
    EXPECT_EQ(times.audioEndTime, 240000 + 3000 * 1000 / 9);  // the last in file order
    // Bit rate: PES starts at PTS 0 and 90000 (175 bytes each) around nine continuations (184), other PIDs between.
    buffer = PesStart(0x100, 0);
    for (int k = 0; k < 9; ++k) {
        mdtest::Append(buffer, mdtest::TsPacket(0x100, false, uint8_t(k + 1), ByteVec(184, 0xAA)));
        mdtest::Append(buffer, PesStart(0x200, 1000000));
    }
    mdtest::Append(buffer, PesStart(0x100, 90000));
    const uint32_t n = uint32_t(buffer.size());
    EXPECT_EQ(SampleBitRate(buffer.data(), n, 0x100, 188), (2u * 175 + 9 * 184) * 8);
    EXPECT_EQ(SampleBitRate(buffer.data(), n - 188, 0x100, 188), 0u);  // a single PTS
    int64_t time = 0;
    EXPECT_TRUE(ReadPacketPts(buffer.data(), n, 0x100, 188, time));
    EXPECT_EQ(time, 10000000);  // the last PES start
}

}  // namespace
}  // namespace md
