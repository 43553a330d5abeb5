// Pack checkers: pack boundaries, the exclusion rule, the video and key flags, the clock across an SCR reset.
#include <gtest/gtest.h>

#include "es/mpeg_video.h"
#include "mpeg/pack_check.h"
#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;

ByteVec GopAndIPicture(uint16_t temporalReference = 0)
{
    return Concat(
        {mdtest::GopHeaderFlags(true), mdtest::PictureHeaderFields(temporalReference, 1), mdtest::SliceStart()});
}

ByteVec PPicture() { return Concat({mdtest::PictureHeaderFields(3, 2), mdtest::SliceStart()}); }

TEST(PackCheckTest, Mpeg2PacksEntriesExclusionAndFinalPack)
{
    // Video then audio in one pack: MPEG-2 clears its video and key flags. A program_stream_directory packet (0xFF)
    // excludes its pack. The last buffer of a file: the open pack is emitted; the walk stops 16 bytes before the end.
    const ByteVec audio = mdtest::PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 200), 93600);
    const ByteVec a = mdtest::Mpeg2Pack(1000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 90000), audio});
    const ByteVec c =
        mdtest::Mpeg2Pack(3000, {mdtest::PesPacket(0xE0, PPicture(), 97200), mdtest::PesPacket(0xFF, ByteVec(8))});
    const ByteVec d = Concat(
        {mdtest::Mpeg2PackHeader(4000, 25200), mdtest::PesPacket(0xE0, GopAndIPicture(), 100800), ByteVec(20, 0)});
    const ByteVec buffer = Concat({a, c, d});
    const auto length = static_cast<uint32_t>(buffer.size());
    md::Mpeg2PackCheck checker;
    checker.SetInspect(true);
    md::PackEntryList entries;
    EXPECT_EQ(checker.ScanPacks(buffer.data(), length, &entries, true), length - 16);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::tuple(entries[0].offset, entries[0].video, entries[0].audio, entries[0].key, entries[0].scrBase),
              std::tuple(0u, 0, 1, 0, 1000u));
    EXPECT_EQ(std::tuple(entries[1].offset, entries[1].length, entries[1].video, entries[1].key, entries[1].videoTime),
              std::tuple(a.size() + c.size(), d.size(), 1, 1, (100800 - 90000) * 1000 / 9));
}

// After 10 s the SCR falls back and the PTS restart at 1 s: the clock offset carries the times on, across two calls.
TEST(PackCheckTest, Mpeg2ClockResetKeepsTimesRising)
{
    for (const uint64_t resetScr : {0, 450000}) {  // a clock that falls to 0, and one that goes back
        SCOPED_TRACE(resetScr);
        const ByteVec file = Concat({mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)}),
                                     mdtest::Mpeg2Pack(900000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 990000)}),
                                     mdtest::Mpeg2Pack(resetScr, {mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)}),
                                     mdtest::Mpeg2PackHeader(resetScr + 3600, 25200), ByteVec(20, 0)});
        md::Mpeg2PackCheck checker;
        checker.SetInspect(true);
        md::PackEntryList entries;
        const uint32_t consumed = checker.ScanPacks(file.data(), 2 * 2048 + 100, &entries, false);  // rest comes again
        EXPECT_EQ(consumed, 2 * 2048u);
        checker.ScanPacks(file.data() + consumed, static_cast<uint32_t>(file.size() - consumed), &entries, false);
        ASSERT_EQ(entries.size(), 3u);
        // 10 s; then the clock offset 900000 ticks with the first video PTS counting as 0: (900000 + 90000) ticks.
        EXPECT_EQ(std::tuple(entries[0].videoTime, entries[1].videoTime, entries[2].videoTime),
                  std::tuple(0, 100000000, 110000000));
    }
}

TEST(PackCheckTest, KeyPictureInPes)
{
    // A P-picture met before the GOP header decides: not key. An I-picture without a GOP: key, not closed. Not video,
    // or not all there: cleared outputs.
    // {PES packet, bytes cut off its end, key, closed_gop, temporal_reference}
    const std::tuple<ByteVec, uint32_t, bool, int, uint32_t> rows[] = {
        {mdtest::PesPacket(0xE0, Concat({PPicture(), GopAndIPicture()})), 0, false, 0, 0},
        {mdtest::PesPacket(0xE0, Concat({mdtest::PictureHeaderFields(0, 1), mdtest::SliceStart()})), 0, true, 0, 0},
        {mdtest::PesPacket(0xE0, GopAndIPicture(2), 90000), 0, true, 1, 2},
        {mdtest::PesPacket(0xC0, GopAndIPicture(2)), 0, false, 0, 0},
        {mdtest::PesPacket(0xE0, GopAndIPicture()), 1, false, 0, 0}};
    for (const auto& [packet, cut, want, wantClosed, wantTr] : rows) {
        uint8_t key = 9, closed = 9;
        uint32_t tr = 9;
        const bool got =
            md::KeyPictureInPes(packet.data(), static_cast<uint32_t>(packet.size()) - cut, key, closed, tr);
        EXPECT_EQ(std::tuple(got, int(key), int(closed), tr), std::tuple(want, int(want), wantClosed, wantTr))
            << packet.size();
    }
}

// KeyPictureInPes against a byte walk on random packets of start code bytes (00 00 00 01, codes at the very end).
TEST(PackCheckTest, KeyPictureSearchAgreesWithByteWalk)
{
    const auto byteWalk = [](const ByteVec& p) {
        for (size_t j = 6; j + 4 <= p.size(); ++j) {
            if (p[j] != 0 || p[j + 1] != 0 || p[j + 2] != 1 || (p[j + 3] != 0xB8 && p[j + 3] != 0x00))
                continue;
            const auto rest = static_cast<uint32_t>(p.size() - j);
            uint8_t closed = 0, broken = 0;
            uint32_t tr = 0;
            if (p[j + 3] == 0x00)
                return std::tuple(rest >= 8 && (p[j + 5] >> 3 & 7) == 1, 0, 0u);
            md::ReadGopFlags(&p[j], rest, closed, broken), md::ReadTemporalReference(&p[j], rest, tr);
            return std::tuple(true, int(closed), tr);
        }
        return std::tuple(false, 0, 0u);
    };
    const uint8_t alphabet[] = {0x00, 0x00, 0x00, 0x01, 0xB8, 0x08, 0x10, 0xFF};
    uint32_t seed = 12345, keys = 0;
    for (int n = 0; n < 5000; ++n) {
        ByteVec p = {0, 0, 1, 0xE0, 0, uint8_t(5 + n % 40)};
        for (int k = 0; k < 5 + n % 40; ++k, seed = seed * 1103515245 + 12345)
            p.push_back(alphabet[seed >> 16 & 7]);
        uint8_t key = 9, closed = 9;
        uint32_t tr = 9;
        md::KeyPictureInPes(p.data(), static_cast<uint32_t>(p.size()), key, closed, tr);
        ASSERT_EQ(std::tuple(key == 1, int(closed), tr), byteWalk(p)) << ::testing::PrintToString(p);
        keys += key;
    }
    EXPECT_GT(keys, 100u);  // hits as well as misses
}

}  // namespace
