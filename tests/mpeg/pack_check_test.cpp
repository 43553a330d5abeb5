// Pack checkers: pack boundaries, the exclusion rule, the video and key flags
// the time table keeps, the clock following across an SCR reset in two calls
// (the unconsumed rest of the first presented again with the second).
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "mediadetect/records.h"
#include "mpeg/pack_check.h"
#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;

ByteVec GopAndIPicture(uint16_t temporalReference = 0, bool closed = true)
{
    return Concat({mdtest::GopHeaderFlags(closed), mdtest::PictureHeaderFields(temporalReference, 1),
                   mdtest::SliceStart()});
}

ByteVec PPicture() { return Concat({mdtest::PictureHeaderFields(3, 2), mdtest::SliceStart()}); }

// offset, length, SCR base and extension, video, audio, key, PTS flags, video time.
using Entry = std::tuple<uint64_t, uint32_t, uint64_t, uint64_t, int, int, int, int, int64_t>;

std::vector<Entry> Entries(const md::PackEntryList& list, const uint8_t* buffer)
{
    std::vector<Entry> out;
    for (const auto& e : list) {
        EXPECT_EQ(e.pack, buffer + e.offset);
        out.emplace_back(e.offset, e.length, e.scrBase, e.scrExtension, e.video, e.audio, e.key, e.ptsPresent,
                         e.videoTime);
    }
    return out;
}

int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }

TEST(PackCheckTest, Mpeg2PacksEntriesExclusionAndFinalPack)
{
    const ByteVec audio = mdtest::MpegAudioFrame(2, 10, 1, 0, 200);
    // Packs without padding, so that a video packet is the last of its pack.
    const ByteVec a =
        Concat({mdtest::Mpeg2PackHeader(1000, 25200, 299, 3), mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)});
    // Video followed by audio: MPEG-2 clears the pack's video and key flags; the
    // PTS flag follows the last packet, here a padding packet.
    const ByteVec b = mdtest::Mpeg2Pack(
        2000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 93600), mdtest::PesPacket(0xC0, audio, 93600)});
    // A program_stream_directory packet (0xFF) excludes the pack.
    const ByteVec c =
        mdtest::Mpeg2Pack(3000, {mdtest::PesPacket(0xE0, PPicture(), 97200), mdtest::PesPacket(0xFF, ByteVec(8))});
    // The last pack: 20 bytes of zeros follow its packet.
    const ByteVec d = Concat(
        {mdtest::Mpeg2PackHeader(4000, 25200), mdtest::PesPacket(0xE0, GopAndIPicture(), 100800), ByteVec(20, 0)});
    const ByteVec buffer = Concat({a, b, c, d});
    const auto length = static_cast<uint32_t>(buffer.size());
    const auto dAt = static_cast<uint32_t>(a.size() + b.size() + c.size());
    const std::vector<Entry> ab = {{0, a.size(), 1000, 299, 1, 0, 1, 1, 0},
                                   {a.size(), 2048, 2000, 0, 0, 1, 0, 0, Units(93600 - 90000)}};

    // The packs up to the last pack start, which is presented again with more data.
    md::Mpeg2PackCheck checker;
    checker.SetInspect(true);
    md::PackEntryList entries;
    EXPECT_EQ(checker.ScanPacks(buffer.data(), length, &entries, false), dAt);
    EXPECT_EQ(Entries(entries, buffer.data()), ab);

    // The same buffer as the last one of a file: the open pack is emitted and
    // the walk stops 16 bytes before the end.
    md::Mpeg2PackCheck last;
    last.SetInspect(true);
    entries.clear();
    EXPECT_EQ(last.ScanPacks(buffer.data(), length, &entries, true), length - 16);
    std::vector<Entry> all = ab;
    all.emplace_back(dAt, length - dAt, 4000, 0, 1, 0, 1, 1, Units(100800 - 90000));
    EXPECT_EQ(Entries(entries, buffer.data()), all);


    // A packet that is not one ('01' where '10' belongs) ends the walk: its pack comes again.
    ByteVec broken = mdtest::Mpeg2Pack(5000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 97200)});
    broken[14 + 6] = 0x45;
    const ByteVec stopped = Concat({a, broken, b});
    md::Mpeg2PackCheck stops;
    stops.SetInspect(true);
    entries.clear();
    EXPECT_EQ(stops.ScanPacks(stopped.data(), static_cast<uint32_t>(stopped.size()), &entries, false), a.size());
    EXPECT_EQ(Entries(entries, stopped.data()), std::vector<Entry>(ab.begin(), ab.begin() + 1));
}

// After 10 s the SCR falls back to 0 and the PTS restart at 1 s: the clock
// offset carries the times on, across the buffers of two calls.
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
        // Two calls, the second presenting the rest of the first again.
        const uint32_t consumed = checker.ScanPacks(file.data(), 2 * 2048 + 100, &entries, false);
        EXPECT_EQ(consumed, 2 * 2048u);
        checker.ScanPacks(file.data() + consumed, static_cast<uint32_t>(file.size() - consumed), &entries, false);
        ASSERT_EQ(entries.size(), 3u);
        // 10 s; then the clock offset 900000 ticks with the first video PTS counting as 0 after the
        // reset: (900000 + 90000) ticks.
        EXPECT_EQ((std::array{entries[0].videoTime, entries[1].videoTime, entries[2].videoTime}),
                  (std::array<int64_t, 3>{0, 100000000, 110000000}));
    }
}

TEST(PackCheckTest, KeyPictureInPes)
{
    // A P-picture met before the GOP header decides: not a key picture. An I-picture without a
    // GOP: key, not closed. Not video, or not all there: cleared outputs.
    const struct {
        ByteVec packet;
        uint32_t cut;
        bool key;
        uint8_t closed;
        uint32_t tr;
    } rows[] = {
        {mdtest::PesPacket(0xE0, Concat({PPicture(), GopAndIPicture()})), 0, false, 0, 0},
        {mdtest::PesPacket(0xE0, Concat({mdtest::PictureHeaderFields(0, 1), mdtest::SliceStart()})), 0, true, 0, 0},
        {mdtest::PesPacket(0xE0, GopAndIPicture(2, true), 90000), 0, true, 1, 2},
        {mdtest::PesPacket(0xE0, GopAndIPicture(5, false), 90000), 0, true, 0, 5},
        {mdtest::PesPacket(0xC0, GopAndIPicture(2, true)), 0, false, 0, 0},
        {mdtest::PesPacket(0xE0, GopAndIPicture()), 1, false, 0, 0},
    };
    for (const auto& r : rows) {
        uint8_t key = 9, closed = 9;
        uint32_t tr = 9;
        EXPECT_EQ(md::KeyPictureInPes(r.packet.data(), static_cast<uint32_t>(r.packet.size()) - r.cut, key, closed, tr),
                  r.key);
        EXPECT_EQ(std::tuple(key, closed, tr), std::tuple(uint8_t(r.key), r.closed, r.tr)) << (&r - rows);
    }
}

}  // namespace
