#include "ts/ts_packet.h"

#include <gtest/gtest.h>

#include "mediadetect/records.h"
#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

ByteVec PesStart(uint16_t pid, uint64_t pts, uint8_t streamId = 0xE0)
{
    return mdtest::TsPacket(pid, true, 0, mdtest::PesPacket(streamId, ByteVec(300, 0xAA), pts));
}

TEST(TsPacket, PtsAndPesPayloadOffsets)
{
    uint64_t value = 0;
    ASSERT_TRUE(ReadPts32(mdtest::Mpeg1PesPacket(0xE0, {}, 0x123456789).data() + 6, 5, value));
    EXPECT_EQ(value, 0x23456789u);  // PTS[32] falls away

    const ByteVec pes = mdtest::PesPacket(0xE0, ByteVec(300, 0xAA), 90000);  // 14-byte header
    // {packet, a PES header in it, the offset}: 100 PES bytes take adaptation_field_length 83 (5 + 83 + 14); a
    // continuation gives where its payload starts (none: 4; one byte: 187); PUSI with 183 adaptation bytes: -1.
    const std::tuple<ByteVec, bool, int32_t> rows[] = {
        {mdtest::TsPacket(0x100, true, 0, pes), true, 4 + 14},
        {mdtest::TsPacket(0x100, true, 0, std::span(pes).first(100)), true, 102},
        {mdtest::TsPacket(0x100, false, 2, ByteVec(184, 0xAA)), false, 4},
        {mdtest::TsPacket(0x100, false, 3, ByteVec(1, 0xAA)), false, 187},
        {mdtest::TsPacket(0x100, true, 0, {}), false, -1},
    };
    for (const auto& [packet, found, at] : rows) {
        int32_t offset = 0;
        EXPECT_EQ(std::pair(PesPayloadOffset(packet.data(), 188, offset), offset), std::pair(found, at)) << at;
    }
    // The PTS of a PES header that starts the packet; one whose PTS the packet's end cuts is not read, though the
    // bytes after the packet would complete it.
    for (const size_t inPacket : {pes.size(), size_t{12}}) {
        const ByteVec bytes = mdtest::Concat(
            {mdtest::TsPacket(0x100, true, 0, std::span(pes).first(inPacket)), std::span(pes).subspan(inPacket)});
        uint32_t header = 0;
        uint64_t pts = 0;
        bool ptsRead = false;
        EXPECT_TRUE(PacketPesPts(bytes.data(), header, pts, ptsRead));
        EXPECT_EQ(std::tuple(header, ptsRead, pts), inPacket == 12 ? std::tuple(176u, false, uint64_t{0})
                                                                    : std::tuple(4u, true, uint64_t{90000}))
            << inPacket;
    }
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
    // A section cut right after its last entry (the CRC_32 lost) still gives that entry.
    const ByteVec one = mdtest::PatSection({{1, 0x100}});
    table = {};
    EXPECT_TRUE(ParsePat(one.data(), uint32_t(one.size()) - 4, table) && table.count == 1u);

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
    // A PUSI packet whose adaptation_field_control is '10' (adaptation field only) carries no section.
    ByteVec adaptationOnly = good;
    adaptationOnly[3] = uint8_t((adaptationOnly[3] & 0xCF) | 0x20);
    EXPECT_FALSE(PatAssembler().AssemblePat(adaptationOnly.data(), table));
}

// Sync is a 0x47 with five more one stride apart: 188 bytes, 192 (timestamped) or 204 (Reed-Solomon parity).
TEST(TsPacket, SyncNeedsSixPacketsInARow)
{
    for (const uint32_t size : {188u, 192u, 204u}) {
        for (const uint32_t more : {5u, 4u}) {
            ByteVec b(2000, 0x00);
            for (uint32_t k = 0; k <= more; ++k)
                b[10 + size * k] = 0x47;
            uint32_t position = 0;
            int32_t extra = -1;
            EXPECT_EQ(FindTsSync(b.data(), 2000, position, extra), more == 5) << size << " " << more;
            EXPECT_EQ(std::pair(position, extra), more == 5 ? std::pair(10u, int32_t(size) - 188) : std::pair(0u, -1));
        }
    }
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

// The classes of a PMT's entries without and with the extensions that widen them: HEVC and E-AC-3 (either as
// stream_type 0x87 or as private data with the DVB enhanced_AC-3_descriptor), DVB subtitles and teletext (private
// data with their descriptors), MPEG-4 Visual and DTS.
TEST(TsPacket, ExtendedStreamClasses)
{
    const ByteVec registration{0x05, 0x04, 'H', 'E', 'V', 'C'};
    const std::vector<mdtest::PmtStream> entries = {
        {0x24, 0x100, registration},          {0x06, 0x101, {0x0A, 0x04, 'f', 'r', 'e', 0, 0x7A, 0x01, 0x80}},
        {0x06, 0x102, {0x59, 0x00}},          {0x06, 0x103, {0x56, 0x00}},
        {0x87, 0x104},                        {0x10, 0x105},
        {0x82, 0x106},                        {0x06, 0x107, {0x6A, 0x00}},
        {0x06, 0x108},                        {0x1B, 0x109, {0x59, 0x00}},  // subtitles only as private data
    };
    struct Want {
        uint32_t streamType;
        uint8_t video, audio, subtitleTag;
    };
    const Want base[] = {{0x24, 0, 0, 0}, {0x06, 0, 0, 0}, {0x06, 0, 0, 0}, {0x06, 0, 0, 0}, {0x87, 0, 0, 0},
                         {0x10, 0, 0, 0}, {0x82, 0, 0, 0}, {0x81, 0, 1, 0}, {0x06, 0, 0, 0}, {0x1B, 1, 0, 0}};
    const Want extended[] = {{0x24, 1, 0, 0}, {0x87, 0, 1, 0}, {0x06, 0, 0, 0x59}, {0x06, 0, 0, 0x56},
                             {0x87, 0, 1, 0}, {0x10, 1, 0, 0}, {0x82, 0, 1, 0},    {0x81, 0, 1, 0},
                             {0x06, 0, 0, 0}, {0x1B, 1, 0, 0}};
    mdtest::TsWriter w;
    w.Section(0x20, mdtest::PmtSection(1, entries));
    for (const uint32_t extensions : {0u, uint32_t(MD_EXT_TS_CODECS | MD_EXT_MORE_CODECS)}) {
        TsProgram program{};
        uint8_t registered = 0;
        ASSERT_TRUE(ParsePmt(program, w.Bytes().data(), nullptr, registered, extensions));
        ASSERT_EQ(program.streamCount, entries.size());
        EXPECT_EQ(registered, 1);
        const Want* want = extensions ? extended : base;
        for (size_t i = 0; i < entries.size(); ++i) {
            const TsElementaryStream& s = program.streams[i];
            EXPECT_EQ(std::tuple(s.pid, s.streamType, s.isVideo, s.isAudio, s.subtitleTag),
                      std::tuple(entries[i].pid, want[i].streamType, want[i].video, want[i].audio, want[i].subtitleTag))
                << "entry " << i << " extensions " << extensions;
        }
        EXPECT_EQ(std::tuple(program.videoCount, program.audioCount), extensions ? std::tuple(3u, 4u) : std::tuple(1u, 1u));
    }
}

// Private data registered as Opus is Opus audio with MD_EXT_TS_CODECS (its stream type the format_identifier), its
// channels from the Opus audio descriptor: extension_descriptor 0x7F, descriptor_tag_extension 0x80,
// channel_config_code (and for 0x81 the channel_count and mapping_family that follow).
TEST(TsPacket, OpusPrivateDataAndItsChannels)
{
    const ByteVec opus{0x05, 0x04, 'O', 'p', 'u', 's'};
    const auto config = [](std::initializer_list<uint8_t> body) {
        ByteVec d{0x7F, uint8_t(body.size() + 1), 0x80};
        d.insert(d.end(), body);
        return d;
    };
    struct Row {
        const char* rule;
        ByteVec descriptors;
        uint32_t extensions, streamType, channels, family;
    };
    const Row rows[] = {
        {"stereo", mdtest::Concat({opus, config({2})}), MD_EXT_TS_CODECS, kTsOpusStreamType, 2, 0},
        {"code 0: dual mono", mdtest::Concat({opus, config({0})}), MD_EXT_TS_CODECS, kTsOpusStreamType, 2, 255},
        {"code 0x81: count and family stated", mdtest::Concat({opus, config({0x81, 3, 255})}), MD_EXT_TS_CODECS,
         kTsOpusStreamType, 3, 255},
        {"code 0x81 cut short", mdtest::Concat({opus, config({0x81, 3})}), MD_EXT_TS_CODECS, kTsOpusStreamType, 0, 0},
        {"a code this reader does not know", mdtest::Concat({opus, config({0x88})}), MD_EXT_TS_CODECS,
         kTsOpusStreamType, 0, 0},
        {"the audio descriptor first, 7.1 in the Vorbis order", mdtest::Concat({config({8}), opus}), MD_EXT_TS_CODECS,
         kTsOpusStreamType, 8, 1},
        {"no audio descriptor", opus, MD_EXT_TS_CODECS, kTsOpusStreamType, 0, 0},
        {"another extension tag", mdtest::Concat({opus, ByteVec{0x7F, 0x02, 0x81, 0x06}}), MD_EXT_TS_CODECS,
         kTsOpusStreamType, 0, 0},
        {"another format_identifier", mdtest::Concat({ByteVec{0x05, 0x04, 'O', 'p', 'u', 'z'}, config({6})}),
         MD_EXT_TS_CODECS, 0x06, 0, 0},
        {"without the extension: private data", mdtest::Concat({opus, config({6})}), 0, 0x06, 0, 0},
    };
    for (const Row& row : rows) {
        uint32_t streamType = 0x06;
        uint8_t registration = 0, subtitleTag = 0;
        TsOpusLayout layout;
        ParseEsDescriptors(row.descriptors.data(), uint32_t(row.descriptors.size()), streamType, registration,
                           row.extensions, &subtitleTag, &layout);
        const bool audio = IsTsAudioStreamType(streamType, row.extensions);
        EXPECT_EQ(std::tuple(streamType, layout.channels, layout.mappingFamily, audio),
                  std::tuple(row.streamType, row.channels, row.family, row.streamType == kTsOpusStreamType))
            << row.rule;
    }
    // A PMT hands the layout to the selection whose audio PID it lists.
    mdtest::TsWriter w;
    w.Section(0x20, mdtest::PmtSection(1, {{0x1B, 0x100}, {0x06, 0x101, mdtest::Concat({opus, config({6})})}}));
    TsProgram program{};
    TsSelection selection{0x100, 0x101, 0, 0};
    uint8_t registered = 0;
    ASSERT_TRUE(ParsePmt(program, w.Bytes().data(), &selection, registered, MD_EXT_TS_CODECS));
    EXPECT_EQ(std::tuple(uint32_t(selection.audioStreamType), selection.audioOpusLayout.channels, program.audioCount),
              std::tuple(kTsOpusStreamType, 6u, 1u));
}

// Timestamp rules with extensions: across a wrap of the 32-bit values the first and last stay in presentation
// order and the end passes 2^32 ticks; the last window takes a stream seen fewer times than the base rule asks.
TEST(TsPacket, RangeRulesUnwrapAndTakeShortStreams)
{
    constexpr int64_t kWrap = int64_t(1) << 32;
    ByteVec buffer;  // video PTS 2^32 - 9000, 2^32 - 5400, 1800, 5400: 0.1 s before the wrap to 0.06 s after it
    for (const int64_t pts : {kWrap - 9000, kWrap - 5400, int64_t(1800), int64_t(5400)})
        mdtest::Append(buffer, PesStart(0x100, uint64_t(pts)));
    const uint32_t n = uint32_t(buffer.size());
    struct Case {
        bool unwrap;
        int64_t first, end;  // 100-ns units; the end adds the 40 ms frame
    };
    for (const Case& c : {Case{false, 1800 * 1000 / 9, 400000 + (kWrap - 5400) * 1000 / 9},
                          Case{true, (kWrap - 9000) * 1000 / 9, 400000 + (kWrap + 5400) * 1000 / 9}}) {
        TsRangeRules rules;
        rules.unwrap = c.unwrap;
        rules.lastWindow = true;  // four PES starts where the end search wants five
        TsTimes times;
        times.videoFrameDuration = 400000;
        ASSERT_TRUE(ScanPtsRange(buffer.data(), n, true, 0x100, -1, 188, times, rules));
        ASSERT_TRUE(ScanPtsRange(buffer.data(), n, false, 0x100, -1, 188, times, rules));
        EXPECT_EQ(std::tuple(times.videoFirstTime, times.videoEndTime), std::tuple(c.first, c.end)) << c.unwrap;
    }
    // The start search counts PES starts across its windows: one in each of two windows finds the first time.
    TsTimes across;
    const ByteVec one = PesStart(0x100, 1800);
    EXPECT_FALSE(ScanPtsRange(one.data(), uint32_t(one.size()), true, 0x100, -1, 188, across));
    EXPECT_TRUE(ScanPtsRange(one.data(), uint32_t(one.size()), true, 0x100, -1, 188, across));
    // Without the last-window rule four PES starts leave the end unfound and raw.
    TsTimes times;
    EXPECT_FALSE(ScanPtsRange(buffer.data(), n, false, 0x100, -1, 188, times, TsRangeRules{true, false}));
    EXPECT_EQ(times.videoEndTime, 5400);
}

}  // namespace
}  // namespace md
