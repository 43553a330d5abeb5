// Sample-table queries: chunk mapping, decode and composition times, fragment
// runs (synthetic and from muxed files) and hostile tables. Expected values are
// worked out by hand from the tables written here, or taken from ffprobe.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "mp4/mp4_box.h"
#include "mp4/sample_table.h"
#include "support/box_builder.h"
#include "support/files.h"

namespace {

using md::FourCC;
using md::Mp4Box;
using mdtest::BoxBuilder;

constexpr int32_t kMax = 0x7FFFFFFF;

// A full box of version 0 whose payload is the given u32 words; table boxes
// start with their entry count, which may claim more entries than follow.
void PutWords(BoxBuilder& b, const char* type, const std::vector<uint32_t>& words, uint8_t version = 0)
{
    b.BeginFull(type, version, 0);
    for (uint32_t w : words)
        b.U32(w);
    b.End();
}

// Version 0: times, track ID, reserved, duration, then 60 bytes not read.
void PutTkhd(BoxBuilder& b, uint32_t trackId)
{
    std::vector<uint32_t> words(20, 0);
    words[2] = trackId;
    PutWords(b, "tkhd", words);
}

// A 'trak' with tkhd, mdhd and an 'stbl' that tables() fills.
template <class Tables>
void PutTrak(BoxBuilder& b, uint32_t trackId, uint32_t timeScale, Tables tables)
{
    b.Begin("trak");
    PutTkhd(b, trackId);
    b.Begin("mdia");
    PutWords(b, "mdhd", {0, 0, timeScale, 0, 0x55C40000});
    b.Begin("minf").Begin("stbl");
    tables(b);
    b.End().End().End().End();
}

template <class Tables>
std::unique_ptr<Mp4Box> Trak(Tables tables, uint32_t timeScale = 1000)
{
    BoxBuilder b;
    PutTrak(b, 1, timeScale, tables);
    const std::vector<uint8_t> bytes = b.Take();
    auto trak = md::ParseBox(bytes.data(), bytes.size());
    EXPECT_TRUE(trak && trak->firstChild);
    return trak;
}

std::unique_ptr<Mp4Box> ParseList(const std::vector<uint8_t>& bytes)
{
    return md::ParseBoxList(bytes.data(), bytes.size()).first;
}

std::vector<const Mp4Box*> Tracks(const Mp4Box* root)
{
    std::vector<const Mp4Box*> tracks;
    const Mp4Box* moov = md::FindBox(root, FourCC("moov"));
    for (const Mp4Box* b = moov ? moov->firstChild.get() : nullptr; b != nullptr; b = b->next.get())
        if (b->type == FourCC("trak"))
            tracks.push_back(b);
    return tracks;
}

// 'stsz' with per-sample sizes 1, 2, ..., n.
std::vector<uint32_t> StszOneToN(uint32_t n)
{
    std::vector<uint32_t> words = {0, n};
    for (uint32_t k = 1; k <= n; ++k)
        words.push_back(k);
    return words;
}

// stsc entries (first chunk, samples per chunk, description): chunks 1-2 hold 10
// samples, 3-4 hold 5, 5 onwards 2.
const std::vector<uint32_t> kThreeRuns = {3, 1, 10, 1, 3, 5, 1, 5, 2, 1};

TEST(SampleTable, ChunkOffsetsFollowStscRuns)
{
    // Chunk c lies at c x 1000 and sample k is k bytes long: a sample lies at its
    // chunk's offset plus the sizes of the samples before it in that chunk.
    auto trak = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", kThreeRuns);
        PutWords(b, "stco", {7, 1000, 2000, 3000, 4000, 5000, 6000, 7000});
        PutWords(b, "stsz", StszOneToN(40));
    });
    const Mp4Box* c = trak->firstChild.get();
    const std::pair<int32_t, uint32_t> offsets[] = {
        {1, 1000}, {5, 1010}, {11, 2000}, {20, 2135}, {21, 3000}, {23, 3043}, {26, 4000},
        {32, 5031}, {36, 7035},  // chunks 5 and 7 hold two samples each
        {37, 0},                 // chunk 8 is not in 'stco'
        {0, 0},   {-5, 0},
    };
    for (auto [n, offset] : offsets)
        EXPECT_EQ(md::GetSampleOffset(c, n), offset) << n;
    EXPECT_EQ(md::GetSampleOffset(c, 23, nullptr), 3043u);  // no fragments: the same tables
    EXPECT_EQ(md::GetSampleSize(c, 40), 40u);
    EXPECT_EQ(md::GetSampleSize(c, 41), 0u);
    EXPECT_EQ(md::GetSampleCount(c), 40u);

    // 'co64' offsets above 4 GiB contribute their low 32 bits; with both tables
    // 'stco' decides, even for a chunk that only 'co64' holds.
    auto wide = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", kThreeRuns);
        PutWords(b, "co64", {3, 1, 1000, 1, 2000, 1, 3000});
        PutWords(b, "stsz", StszOneToN(40));
    });
    EXPECT_EQ(md::GetSampleOffset(wide->firstChild.get(), 23), 3043u);
    auto both = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", kThreeRuns);
        PutWords(b, "stco", {3, 1000, 2000, 3000});
        PutWords(b, "co64", {4, 0, 91000, 0, 92000, 0, 93000, 0, 94000});
        PutWords(b, "stsz", StszOneToN(40));
    });
    EXPECT_EQ(md::GetSampleOffset(both->firstChild.get(), 23), 3043u);
    EXPECT_EQ(md::GetSampleOffset(both->firstChild.get(), 26), 0u);

    // A constant sample size applies to every sample number.
    auto constant = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", kThreeRuns);
        PutWords(b, "stco", {3, 1000, 2000, 3000});
        PutWords(b, "stsz", {100, 40});
    });
    EXPECT_EQ(md::GetSampleOffset(constant->firstChild.get(), 23), 3200u);
    EXPECT_EQ(md::GetSampleSize(constant->firstChild.get(), 1000), 100u);
}

TEST(SampleTable, DecodeTimesCompositionOffsetsAndConversions)
{
    auto ntsc = Trak([](BoxBuilder& b) {
        PutWords(b, "stts", {1, 300, 1001});
        PutWords(b, "stsz", {1, 300});
    }, 30000);
    const Mp4Box* c = ntsc->firstChild.get();
    EXPECT_EQ(md::GetSampleTime(c, 0), 1001u);  // end of the first sample
    EXPECT_EQ(md::GetSampleTime(c, 299), 300300u);
    EXPECT_EQ(md::GetMediaTimeScale(c), 30000);
    EXPECT_EQ(md::GetTrackDuration(ntsc.get(), nullptr), 100100000);  // 300300 / 30000 s

    auto mixed = Trak([](BoxBuilder& b) { PutWords(b, "stts", {3, 10, 1000, 5, 2000, 10, 1000}); });
    c = mixed->firstChild.get();
    EXPECT_EQ(md::GetSampleTime(c, 11), 14000u);  // 10 x 1000 + 2 x 2000
    EXPECT_EQ(md::GetSampleTime(c, 24), 30000u);
    EXPECT_EQ(md::GetDominantSampleDelta(c), 1000u);  // 20 samples against 5
    // An entry of delta 0 gives a time of 0, so the next entry answers from the
    // same position.
    auto zero = Trak([](BoxBuilder& b) { PutWords(b, "stts", {2, 5, 0, 5, 100}); });
    EXPECT_EQ(md::GetSampleTime(zero->firstChild.get(), 2), 300u);

    // Dominant delta: the first group wins a tie, all-zero totals give 0, and
    // only the first 100 entries vote (100 single samples of 700 against 50
    // entries of 100 samples of 900 after them).
    auto tie = Trak([](BoxBuilder& b) { PutWords(b, "stts", {2, 10, 2000, 10, 1000}); });
    EXPECT_EQ(md::GetDominantSampleDelta(tie->firstChild.get()), 2000u);
    auto empty = Trak([](BoxBuilder& b) { PutWords(b, "stts", {2, 0, 1000, 0, 2000}); });
    EXPECT_EQ(md::GetDominantSampleDelta(empty->firstChild.get()), 0u);
    std::vector<uint32_t> many = {150};
    for (int i = 0; i < 150; ++i)
        many.insert(many.end(), {i < 100 ? 1u : 100u, i < 100 ? 700u : 900u});
    auto limited = Trak([&](BoxBuilder& b) { PutWords(b, "stts", many); });
    EXPECT_EQ(md::GetDominantSampleDelta(limited->firstChild.get()), 700u);

    // Composition offsets count samples from 0; version 1 offsets are signed.
    auto ctts = Trak([](BoxBuilder& b) { PutWords(b, "ctts", {4, 1, 0, 2, 1024, 1, 512, 1, 0xFFFFFC00}, 1); });
    c = ctts->firstChild.get();
    for (auto [n, offset] : {std::pair{0, 0}, {2, 1024}, {3, 512}, {4, -1024}, {5, 0}})
        EXPECT_EQ(md::GetCompositionOffset(c, n), offset) << n;

    EXPECT_EQ(md::MediaTo100ns(1001, 30000), 333666);
    EXPECT_EQ(md::MediaTo100nsRounded(1001, 30000), 333667);
    EXPECT_EQ(md::MediaTo100ns(-1001, 30000), -333666);
    EXPECT_EQ(md::MediaTo100ns(kMax, 1), 21474836470000000);
    EXPECT_EQ(md::MediaTo100ns(5, 0), 0);
    EXPECT_EQ(md::MediaTo100nsRounded(5, 0), 0);
}

TEST(SampleTable, EstimateFrameDurationCountsSamplesBelowOneSecond)
{
    // Time scale 1000: samples 0-4 stay below one second, sample 5 reaches it.
    auto trak = Trak([](BoxBuilder& b) {
        PutWords(b, "stsz", {1, 11});
        PutWords(b, "ctts", {4, 3, 0, 2, 999, 1, 1000, 5, 0});
    });
    EXPECT_EQ(md::EstimateFrameDuration(trak->firstChild.get(), nullptr, 1000), 2000000);
    EXPECT_EQ(md::EstimateFrameDuration(trak->firstChild.get(), nullptr, 500), 3333333);  // 999 reaches
    EXPECT_EQ(md::EstimateFrameDuration(trak->firstChild.get(), nullptr, 0), 0);

    // The first sample reaching one second gives 0; so does a track where no
    // sample up to its last reaches it, instead of counting for ever.
    auto first = Trak([](BoxBuilder& b) {
        PutWords(b, "stsz", {1, 3});
        PutWords(b, "ctts", {1, 1, 1000});
    });
    EXPECT_EQ(md::EstimateFrameDuration(first->firstChild.get(), nullptr, 1000), 0);
    auto noCtts = Trak([](BoxBuilder& b) { PutWords(b, "stsz", {1, 0xFFFFFFFF}); });
    EXPECT_EQ(md::EstimateFrameDuration(noCtts->firstChild.get(), nullptr, 1000), 0);
    auto past = Trak([](BoxBuilder& b) {
        PutWords(b, "stsz", {1, 4});
        PutWords(b, "ctts", {2, 10, 0, 1, 5000});
    });
    EXPECT_EQ(md::EstimateFrameDuration(past->firstChild.get(), nullptr, 1000), 0);
    auto huge = Trak([](BoxBuilder& b) {
        PutWords(b, "stsz", {1, 0xFFFFFFFF});
        PutWords(b, "ctts", {0xFFFFFFFF, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0});
    });
    EXPECT_EQ(md::EstimateFrameDuration(huge->firstChild.get(), nullptr, 1000), 0);
}

// A fragmented movie at time scale 1000. Track 1 has empty tables (or, with
// moovSamples, two samples of 10 and 20 bytes in one chunk at 300, durations
// 10); track 2 is interleaved with it:
//   moof 1: traf 1 with the 64-bit base data offset 0x1'0000'0400 and a run of
//           3 samples at data offset 100, sizes 100/200/300, composition
//           offsets 0/2000/500, durations from trex (40);
//           traf 2 without base offset: 5 samples at 9000, trex size 7 and
//           duration 21;
//   moof 2: traf 1 without base offset, defaults duration 50 and size 64: a
//           run of 4 samples at data offset 5000.
struct FragmentOptions {
    bool tkhdFirst = true;
    bool trexForTrack1 = true;
    bool mvex = true;
    bool moovSamples = false;
};

std::vector<uint8_t> FragmentedMovie(const FragmentOptions& o)
{
    BoxBuilder b;
    b.Begin("ftyp").Type("isom").U32(0x200).Type("isom").End();
    b.Begin("moov").Begin("trak");
    if (o.tkhdFirst)
        PutTkhd(b, 1);
    b.Begin("mdia");
    PutWords(b, "mdhd", {0, 0, 1000, 0, 0});
    b.Begin("minf").Begin("stbl");
    if (o.moovSamples) {
        PutWords(b, "stts", {1, 2, 10});
        PutWords(b, "ctts", {1, 2, 0});
        PutWords(b, "stsc", {1, 1, 2, 1});
        PutWords(b, "stsz", {0, 2, 10, 20});
        PutWords(b, "stco", {1, 300});
    } else {
        PutWords(b, "stts", {0});
        PutWords(b, "stsz", {0, 0});
    }
    b.End().End().End();  // stbl, minf, mdia
    if (!o.tkhdFirst)
        PutTkhd(b, 1);
    b.End();  // trak
    PutTrak(b, 2, 1000, [](BoxBuilder& t) { PutWords(t, "stsz", {0, 0}); });
    if (o.mvex) {
        b.Begin("mvex");
        if (o.trexForTrack1)
            PutWords(b, "trex", {1, 1, 40, 0, 0});
        PutWords(b, "trex", {2, 1, 21, 7, 0});
        b.End();
    }
    b.End();  // moov

    b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x000001).U32(1).U64(0x100000400).End();
    b.BeginFull("trun", 0, 0x000A01).U32(3).U32(100).U32(100).U32(0).U32(200).U32(2000).U32(300).U32(500).End();
    b.End().Begin("traf");
    PutWords(b, "tfhd", {2});
    b.BeginFull("trun", 0, 0x000001).U32(5).U32(9000).End();
    b.End().End();
    b.Begin("mdat").Zeros(16).End();
    b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x000018).U32(1).U32(50).U32(64).End();
    b.BeginFull("trun", 0, 0x000001).U32(4).U32(5000).End();
    b.End().End();
    b.Begin("mdat").Zeros(16).End();
    return b.Take();
}

TEST(SampleTable, FragmentRunsContinueTheTrack)
{
    auto root = ParseList(FragmentedMovie({}));
    const Mp4Box* r = root.get();
    const auto tracks = Tracks(r);
    ASSERT_EQ(tracks.size(), 2u);
    const Mp4Box* c = tracks[0]->firstChild.get();
    EXPECT_EQ(md::GetSampleCount(c), 0u);
    EXPECT_EQ(md::GetTotalSampleCount(c, r), 7u);
    EXPECT_EQ(md::GetTotalSampleCount(c, nullptr), 0u);
    EXPECT_EQ(md::GetSampleOffset(c, 1), 0u);  // the tables alone know no sample
    EXPECT_EQ(md::GetSampleOffset(c, 1, r), 0x400u + 100);
    EXPECT_EQ(md::GetSampleOffset(c, 3, r), 0x400u + 100 + 100 + 200);
    // Without a base data offset the run's data offset is the file offset.
    EXPECT_EQ(md::GetSampleOffset(c, 4, r), 5000u);
    EXPECT_EQ(md::GetSampleOffset(c, 6, r), 5000u + 2 * 64);
    EXPECT_EQ(md::GetSampleOffset(c, 8, r), 0u);
    EXPECT_EQ(md::GetSampleTime(c, 1, r), 40u);
    EXPECT_EQ(md::GetSampleTime(c, 4, r), 170u);  // 3 x 40 + 50
    EXPECT_EQ(md::GetSampleTime(c, 7, r), 320u);
    EXPECT_EQ(md::GetSampleTime(c, 8, r), 0u);
    EXPECT_EQ(md::GetCompositionOffset(c, 2, r), 2000);
    EXPECT_EQ(md::GetCompositionOffset(c, 4, r), 0);
    EXPECT_EQ(md::GetTrackDuration(tracks[0], r), 2700000);  // sample 6 ends at 270 ms

    // Track 2's runs share the 'moof' boxes and count only for track 2.
    const Mp4Box* c2 = tracks[1]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(c2, r), 5u);
    EXPECT_EQ(md::GetSampleOffset(c2, 2, r), 9007u);
    EXPECT_EQ(md::GetSampleTime(c2, 5, r), 105u);

    // The runs continue after the samples of the 'moov' tables. Composition
    // offsets: samples 0-2 from 'ctts' (0), 3-5 from the first run (0, 2000,
    // 500), so sample 4 is the first to reach one second.
    auto withTables = ParseList(FragmentedMovie({.moovSamples = true}));
    const Mp4Box* m = Tracks(withTables.get())[0]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(m, withTables.get()), 9u);
    EXPECT_EQ(md::GetSampleOffset(m, 2, withTables.get()), 310u);
    EXPECT_EQ(md::GetSampleOffset(m, 3, withTables.get()), 0x400u + 100);
    EXPECT_EQ(md::GetSampleOffset(m, 6, withTables.get()), 5000u);
    EXPECT_EQ(md::GetCompositionOffset(m, 4, withTables.get()), 2000);
    EXPECT_EQ(md::EstimateFrameDuration(m, withTables.get(), 1000), 2500000);

    // A track whose 'tkhd' is not its first child has no fragment samples.
    auto late = ParseList(FragmentedMovie({.tkhdFirst = false}));
    const Mp4Box* l = Tracks(late.get())[0]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(l, late.get()), 0u);
    EXPECT_EQ(md::GetSampleOffset(l, 1, late.get()), 0u);

    // Without a 'trex' for the track the runs still count but answer 0;
    // without 'mvex' only the tables answer.
    auto noTrex = ParseList(FragmentedMovie({.trexForTrack1 = false}));
    const Mp4Box* n = Tracks(noTrex.get())[0]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(n, noTrex.get()), 7u);
    EXPECT_EQ(md::GetSampleOffset(n, 1, noTrex.get()), 0u);
    EXPECT_EQ(md::GetTrackDuration(Tracks(noTrex.get())[0], noTrex.get()), 0);
    auto noMvex = ParseList(FragmentedMovie({.mvex = false}));
    const Mp4Box* x = Tracks(noMvex.get())[0]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(x, noMvex.get()), 7u);
    EXPECT_EQ(md::GetSampleOffset(x, 1, noMvex.get()), 0u);
}

TEST(SampleTable, HostileTablesAnswerNothing)
{
    // Zero samples per chunk, chunk 0, chunk numbers going backwards.
    for (const std::vector<uint32_t>& stsc : {std::vector<uint32_t>{1, 1, 0, 1}, {1, 0, 1, 1}, {2, 5, 1, 1, 2, 1, 1}}) {
        auto trak = Trak([&](BoxBuilder& b) {
            PutWords(b, "stsc", stsc);
            PutWords(b, "stco", {9, 1, 2, 3, 4, 5, 6, 7, 8, 9});
            PutWords(b, "stsz", {1, 10});
        });
        EXPECT_EQ(md::GetSampleOffset(trak->firstChild.get(), 1), 0u);
    }

    // Entry counts far beyond what the boxes hold: only the held entries count.
    auto big = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", {0x80000000, 1, 0x80000000, 1});
        PutWords(b, "stco", {0x80000000, 1000, 2000});
        PutWords(b, "stsz", {0, 0xFFFFFFFF, 5, 6, 7});
        PutWords(b, "ctts", {0xFFFFFFFF, 2, 7});
    });
    const Mp4Box* c = big->firstChild.get();
    EXPECT_EQ(md::GetSampleOffset(c, 3), 1011u);
    EXPECT_EQ(md::GetSampleOffset(c, kMax), 1018u);  // sizes past the array count 0
    EXPECT_EQ(md::GetSampleSize(c, kMax), 0u);
    EXPECT_EQ(md::GetCompositionOffset(c, 1), 7);
    EXPECT_EQ(md::GetCompositionOffset(c, kMax), 0);
    auto farChunk = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", {1, 1, 1, 1});
        PutWords(b, "stco", {0x80000000, 1000, 2000});
        PutWords(b, "stsz", {1, 10});
    });
    EXPECT_EQ(md::GetSampleOffset(farChunk->firstChild.get(), 2), 2000u);
    EXPECT_EQ(md::GetSampleOffset(farChunk->firstChild.get(), 3), 0u);
    EXPECT_EQ(md::GetSampleOffset(farChunk->firstChild.get(), kMax), 0u);

    // A constant size over 2^31 samples is one multiplication; offsets are
    // 32-bit and wrap like the file's own offset fields.
    auto constant = Trak([](BoxBuilder& b) {
        PutWords(b, "stsc", {1, 1, 0x80000000, 1});
        PutWords(b, "stco", {1, 0xFFFFFF00});
        PutWords(b, "stsz", {2, 0xFFFFFFFF});
    });
    EXPECT_EQ(md::GetSampleOffset(constant->firstChild.get(), 0x82), 2u);  // 0xFFFFFF00 + 0x81 x 2

    // Sample times with counts near 2^32 wrap as 32-bit sums; the dominant
    // delta totals do not (delta 20 holds 3 x (2^32 - 1) samples, delta 10 two).
    auto times = Trak([](BoxBuilder& b) {
        PutWords(b, "stts", {0x80000000, 0xFFFFFFFF, 10, 0xFFFFFFFF, 10, 0xFFFFFFFF, 20, 0xFFFFFFFF, 20,
                             0xFFFFFFFF, 20});
    });
    EXPECT_EQ(md::GetDominantSampleDelta(times->firstChild.get()), 20u);
    EXPECT_EQ(md::GetSampleTime(times->firstChild.get(), kMax - 1), 0xFFFFFFF6u);  // (2^31 - 1) x 10 mod 2^32

    EXPECT_EQ(md::GetTotalSampleCount(nullptr, nullptr), 0u);
    EXPECT_EQ(md::GetSampleOffset(nullptr, 1, nullptr), 0u);
    EXPECT_EQ(md::GetSampleTime(nullptr, 1, nullptr), 0u);
    EXPECT_EQ(md::GetCompositionOffset(nullptr, 1, nullptr), 0);
    EXPECT_EQ(md::GetTrackDuration(nullptr, nullptr), 0);
    EXPECT_EQ(md::EstimateFrameDuration(nullptr, nullptr, 1000), 0);
}

TEST(SampleTable, HostileRunsStayBounded)
{
    // Two runs claiming 2^32 - 1 samples each, with per-sample size and
    // composition flags but no entries, durations from 'trex' (40): the total
    // must not wrap and no query may walk the counts.
    BoxBuilder b;
    b.Begin("moov");
    PutTrak(b, 1, 1000, [](BoxBuilder& t) { PutWords(t, "stsz", {0, 0}); });
    b.Begin("mvex");
    PutWords(b, "trex", {1, 1, 40, 8, 0});
    b.End().End();
    for (int i = 0; i < 2; ++i) {
        b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x000001).U32(1).U64(4000).End();
        b.BeginFull("trun", 0, 0x000A01).U32(0xFFFFFFFF).U32(16).End();
        b.End().End();
    }
    auto root = ParseList(b.Take());
    const auto tracks = Tracks(root.get());
    ASSERT_EQ(tracks.size(), 1u);
    const Mp4Box* c = tracks[0]->firstChild.get();
    EXPECT_EQ(md::GetTotalSampleCount(c, root.get()), 0x1FFFFFFFEu);
    EXPECT_EQ(md::GetSampleOffset(c, kMax, root.get()), 4016u);  // absent sizes count 0
    EXPECT_EQ(md::GetSampleTime(c, kMax, root.get()), 0xFFFFFFD8u);  // (2^31 - 1) x 40 mod 2^32
    EXPECT_EQ(md::GetCompositionOffset(c, kMax, root.get()), 0);
    // The last sample, 2^33 - 3, ends at (2^33 - 3) x 40 = -120 modulo 2^32:
    // media times are 32-bit.
    EXPECT_EQ(md::GetTrackDuration(tracks[0], root.get()), -1200000);
}

// ---- Muxed files ---------------------------------------------------------------------

std::unique_ptr<Mp4Box> ReadSample(const std::filesystem::path& path)
{
    return md::ReadMp4File(path.wstring().c_str());
}

struct TrackExpectation {
    uint64_t samples;
    uint32_t firstOffset;
    uint32_t secondOffset;
    uint32_t lastOffset;
    int64_t duration;
};

void CheckTrack(const Mp4Box* trak, const Mp4Box* root, const TrackExpectation& e)
{
    const Mp4Box* c = trak->firstChild.get();
    const uint64_t total = md::GetTotalSampleCount(c, root);
    EXPECT_EQ(total, e.samples);
    EXPECT_EQ(md::GetSampleOffset(c, 1, root), e.firstOffset);
    EXPECT_EQ(md::GetSampleOffset(c, 2, root), e.secondOffset);
    EXPECT_EQ(md::GetSampleOffset(c, static_cast<int32_t>(total), root), e.lastOffset);
    EXPECT_EQ(md::GetTrackDuration(trak, root), e.duration);
}

// Expected values from `ffprobe -show_packets` on each file (packet count, pos
// of the first, second and last packet, dts of the last packet), cross-checked
// by walking the 'moof'/'traf'/'trun' boxes by hand. Over fragment runs the
// track duration is the decode time at the end of sample N - 1, which is the
// last packet's dts.
TEST(SampleTable, FragmentedFiles)
{
    auto root = ReadSample(md::test::TestDataDir() / "mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4");
    ASSERT_TRUE(root);
    auto tracks = Tracks(root.get());
    ASSERT_EQ(tracks.size(), 2u);
    // Video: runs of 12, 12, 12, 12, 2 samples of 512 at 12800; last dts 25088;
    // the first packet has pts 1024, dts 0.
    CheckTrack(tracks[0], root.get(), {50, 1708, 7106, 124860, 25088LL * 10000000 / 12800});
    EXPECT_EQ(md::GetCompositionOffset(tracks[0]->firstChild.get(), 1, root.get()), 1024);
    // Audio: runs of 20, 23, 22, 23, 7 samples at 48000; last dts 99072.
    CheckTrack(tracks[1], root.get(), {95, 19894, 20095, 128436, 99072LL * 10000000 / 48000});

    const std::filesystem::path path = md::test::RealWorldDir() / "mp4_fragmented_h264_aac.mp4";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "no " << path;
    root = ReadSample(path);
    ASSERT_TRUE(root);
    tracks = Tracks(root.get());
    ASSERT_EQ(tracks.size(), 2u);
    // One fragment: 30 video samples of 1001 at 30000 (last dts 29029) and 46
    // audio samples of 1024 at 44100 (last dts 46080).
    CheckTrack(tracks[0], root.get(), {30, 1836, 39906, 87150, 29029LL * 10000000 / 30000});
    CheckTrack(tracks[1], root.get(), {46, 87769, 87787, 106016, 46080LL * 10000000 / 44100});
}

TEST(SampleTable, MovieWithInterleavedChunks)
{
    auto root = ReadSample(md::test::TestDataDir() / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4");
    ASSERT_TRUE(root);
    const auto tracks = Tracks(root.get());
    ASSERT_EQ(tracks.size(), 2u);
    // ffprobe: 50 video packets of 512 ticks at 12800 (duration_ts 25600), and
    // 95 audio packets at the positions below.
    CheckTrack(tracks[0], root.get(), {50, 48, 5446, 116412, 20000000});
    const Mp4Box* audio = tracks[1]->firstChild.get();
    EXPECT_EQ(md::GetSampleCount(audio), 95u);
    EXPECT_EQ(md::GetSampleOffset(audio, 2), 7323u);
    EXPECT_EQ(md::GetSampleOffset(audio, 95), 119043u);
    EXPECT_EQ(md::GetDominantSampleDelta(audio), 1024u);
}

}  // namespace
