// Sample-table queries over tables written here, answers by hand from ISO/IEC 14496-12.
#include <gtest/gtest.h>

#include <vector>

#include "mp4/mp4_box.h"
#include "mp4/sample_table.h"
#include "support/mp4_builders.h"

namespace {

using md::FourCC;
using md::Mp4Box;
using mdtest::BoxBuilder;
using mdtest::Bytes8;
using W = std::vector<uint32_t>;

constexpr int32_t kMax = 0x7FFFFFFF;
constexpr uint32_t kU32 = 0xFFFFFFFF;

Bytes8 Box(const char* type, const W& words, uint8_t version = 0) { return mdtest::WordsBox(type, words, version); }

Bytes8 Join(const std::vector<Bytes8>& boxes)
{
    Bytes8 out;
    for (const Bytes8& b : boxes)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

enum class Q { Offset, Size, Count, Time, Ctts, Dominant, Estimate, Duration };

// Asks one question of a 'trak'; for Estimate n is the time scale.
int64_t Ask(Q q, const Mp4Box* trak, int32_t n, const Mp4Box* root)
{
    const Mp4Box* c = trak->firstChild.get();
    switch (q) {
    case Q::Offset: return md::GetSampleOffset(c, n, root);
    case Q::Size: return md::GetSampleSize(c, n);
    case Q::Count: return root ? int64_t(md::GetTotalSampleCount(c, root)) : md::GetSampleCount(c);
    case Q::Time: return md::GetSampleTime(c, n, root);
    case Q::Ctts: return md::GetCompositionOffset(c, n, root);
    case Q::Dominant: return md::GetDominantSampleDelta(c);
    case Q::Estimate: return md::EstimateFrameDuration(c, root, n);
    case Q::Duration: return md::GetTrackDuration(trak, root);
    }
    return -1;
}

using Answers = std::vector<std::pair<int32_t, int64_t>>;  // (n, answer)

struct Row {
    const char* what;
    std::vector<Bytes8> tables;
    Q q;
    Answers answers;
};

TEST(SampleTable, QueriesOverHandBuiltTables)
{
    // stsc: chunks 1-2 hold 10 samples, 3-4 hold 5, 5 on 2; chunk c at c x 1000; sample k is k bytes.
    const Bytes8 stsc = Box("stsc", {3, 1, 10, 1, 3, 5, 1, 5, 2, 1});
    W oneTo40 = {0, 40};
    for (uint32_t k = 1; k <= 40; ++k)
        oneTo40.push_back(k);
    const Bytes8 sizes = Box("stsz", oneTo40);
    const std::vector<Bytes8> runs = {stsc, Box("stco", {7, 1000, 2000, 3000, 4000, 5000, 6000, 7000}), sizes};
    const std::vector<Bytes8> mixed = {Box("stts", {3, 10, 1000, 5, 2000, 10, 1000})};
    const Bytes8 ctts = Box("ctts", {4, 1, 0, 2, 1024, 1, 512, 1, 0xFFFFFC00}, 1);
    const std::vector<Bytes8> leading = {Box("stsz", {1, 11}), Box("ctts", {4, 3, 0, 2, 999, 1, 1000, 5, 0})};
    const std::vector<Bytes8> big = {Box("stsc", {0x80000000, 1, 0x80000000, 1}), Box("stco", {0x80000000, 1000, 2000}),
                                     Box("stsz", {0, 0xFFFFFFFF, 5, 6, 7}), Box("ctts", {0xFFFFFFFF, 2, 7})};
    const std::vector<Bytes8> hugeTimes = {
        Box("stts", {0x80000000, 0xFFFFFFFF, 10, 0xFFFFFFFF, 10, 0xFFFFFFFF, 20, 0xFFFFFFFF, 20, 0xFFFFFFFF, 20})};
    const std::vector<Bytes8> wrap = {Box("stsc", {1, 1, 0x80000000, 1}), Box("stco", {1, 0xFFFFFF00}),
                                      Box("stsz", {2, kU32})};
    const Row rows[] = {
        // Chunk offset plus the sizes before it in the chunk: 1000 + 1..4, 2000 + 11..19, 3000 + 21 + 22, 5000 + 31.
        // Sample n is n bytes; none before the first or past the last; a constant size holds for every n.
        {"stsz sizes", {sizes}, Q::Size, {{1, 1}, {2, 2}, {40, 40}, {0, 0}, {41, 0}}},
        {"stsz of one size", {Box("stsz", {7, 3})}, Q::Size, {{1, 7}, {9, 7}}},
        {"stsc runs", runs, Q::Offset, {{1, 1000}, {5, 1010}, {11, 2000}, {20, 2135}, {23, 3043}, {36, 7035}, {37, 0}, {0, 0}}},
        // Decode times: the time at the end of sample n, counted from 0.
        // Sample n ends at its own entry's delta, also the last one of an entry.
        {"10 x 1000 + 2 x 2000", mixed, Q::Time, {{9, 10000}, {10, 12000}, {11, 14000}, {14, 20000}, {24, 30000}}},
        // Composition offsets count samples from 0; version 1 offsets are signed.
        {"ctts", {ctts}, Q::Ctts, {{0, 0}, {2, 1024}, {3, 512}, {4, -1024}, {5, 0}}},
        // Estimate (n: the time scale): 10^7 / samples whose offset stays below one second.
        {"samples 0-4 below 1 s at 1000, 0-2 at 500", leading, Q::Estimate, {{1000, 2000000}, {500, 3333333}, {0, 0}}},
        // Counts far beyond what the boxes hold: only the held entries count.
        {"held entries; sizes past the array count 0", big, Q::Offset, {{3, 1011}, {kMax, 1018}}},
        {"constant size over 2^31 samples wraps: 0xFFFFFF00 + 0x81 x 2", wrap, Q::Offset, {{0x82, 2}}},
        {"dominant totals do not wrap", hugeTimes, Q::Dominant, {{0, 20}}},
        {"co64 without stco: the low 32 bits", {Box("stsc", {1, 1, 1, 1}), Box("co64", {2, 1, 0x10, 0, 0x20}),
                                               Box("stsz", {5, 2})}, Q::Offset, {{1, 0x10}, {2, 0x20}, {3, 0}}},
        {"stco before co64", {Box("stsc", {1, 1, 1, 1}), Box("co64", {1, 0, 0x99}), Box("stco", {1, 0x30}),
                              Box("stsz", {5, 1})}, Q::Offset, {{1, 0x30}}},
    };
    for (const Row& r : rows) {
        const Bytes8 bytes = mdtest::Trak(1, 1000, 0, Join(r.tables));
        const auto trak = md::ParseBox(bytes.data(), bytes.size());
        ASSERT_TRUE(trak);
        for (const auto& [n, expected] : r.answers)
            EXPECT_EQ(Ask(r.q, trak.get(), n, nullptr), expected) << r.what << ", n " << n;
    }
    EXPECT_EQ(md::GetTotalSampleCount(nullptr, nullptr), 0u);
    EXPECT_EQ(md::EstimateFrameDuration(nullptr, nullptr, 1000), 0);
}

// Time scale 1000. Track 1: empty tables (or two samples of 10 and 20 bytes at 300); moof 1: base offset
// 0x1'0000'0400, a run of 3 at data offset 100, sizes 100/200/300, ctts 0/2000/500, trex duration 40; track 2
// 5 samples at 9000, trex size 7, duration 21; moof 2: track 1 defaults duration 50, size 64, 4 samples at 5000,
// ctts 3000/0/0/0.
struct Movie {
    bool trexForTrack1 = true;
    bool moovSamples = false;
};

Bytes8 FragmentedMovie(const Movie& m)
{
    const std::vector<Bytes8> samples = {Box("stts", {1, 2, 10}), Box("ctts", {1, 2, 0}), Box("stsc", {1, 1, 2, 1}),
                                         Box("stsz", {0, 2, 10, 20}), Box("stco", {1, 300})};
    BoxBuilder b;
    b.Begin("moov").Bytes(mdtest::Trak(1, 1000, 0, m.moovSamples ? Join(samples) : Box("stsz", {0, 0})));
    b.Bytes(mdtest::Trak(2, 1000, 0, Box("stsz", {0, 0}))).Begin("mvex");
    b.Bytes(m.trexForTrack1 ? Box("trex", {1, 1, 40, 0, 0}) : Bytes8{}).Bytes(Box("trex", {2, 1, 21, 7, 0}));
    b.End().End();
    b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x000001).U32(1).U64(0x100000400).End();
    b.BeginFull("trun", 0, 0x000A01).U32(3).U32(100).U32(100).U32(0).U32(200).U32(2000).U32(300).U32(500).End();
    b.End().Begin("traf").Bytes(Box("tfhd", {2})).BeginFull("trun", 0, 0x000001).U32(5).U32(9000).End().End().End();
    b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x00001A).U32(1).U32(1).U32(50).U32(64).End();
    b.BeginFull("trun", 0, 0x000801).U32(4).U32(5000).U32(3000).U32(0).U32(0).U32(0).End().End().End();
    return b.Take();
}

// Two runs of 2^32 - 1 samples with size and ctts flags but no entries; trex duration 40; base 4000, offset 16.
Bytes8 HugeRuns()
{
    BoxBuilder b;
    b.Begin("moov").Bytes(mdtest::Trak(1, 1000, 0, Box("stsz", {0, 0})));
    b.Begin("mvex").Bytes(Box("trex", {1, 1, 40, 8, 0})).End().End();
    for (int i = 0; i < 2; ++i) {
        b.Begin("moof").Begin("traf").BeginFull("tfhd", 0, 0x000001).U32(1).U64(4000).End();
        b.BeginFull("trun", 0, 0x000A01).U32(0xFFFFFFFF).U32(16).End().End().End();
    }
    return b.Take();
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

TEST(SampleTable, FragmentRunsContinueTheTrack)
{
    const Bytes8 plain = FragmentedMovie({}), tables = FragmentedMovie({.moovSamples = true});
    const Bytes8 noTrex = FragmentedMovie({.trexForTrack1 = false}), huge = HugeRuns();
    using RunRow = std::tuple<const char*, const Bytes8*, size_t, Q, Answers>;  // what, movie, track, query
    const RunRow rows[] = {
        {"runs counted", &plain, 0, Q::Count, {{0, 7}}},
        // Base 0x400 + data offset 100, + 100 + 200; without a base the data offset is the file offset.
        {"run offsets", &plain, 0, Q::Offset, {{1, 0x400 + 100}, {3, 0x400 + 400}, {4, 5000}, {6, 5128}, {8, 0}}},
        // Samples from 0: the time at the end of sample n.
        {"trex 40 x 3, then tfhd 50", &plain, 0, Q::Time, {{0, 40}, {2, 120}, {3, 170}, {6, 320}, {7, 0}}},
        {"all 7 samples end at 320 ms", &plain, 0, Q::Duration, {{0, 3200000}}},
        {"track 2 trex size 7", &plain, 1, Q::Offset, {{2, 9007}}},
        {"runs after the stsz samples", &tables, 0, Q::Count, {{0, 9}}},
        {"a table sample, then the runs", &tables, 0, Q::Offset, {{2, 310}, {3, 0x400 + 100}, {6, 5000}}},
        {"sample 4 first to reach 1 s (not the later run's 3 s)", &tables, 0, Q::Estimate, {{1000, 2500000}}},
        {"no trex: runs answer 0", &noTrex, 0, Q::Offset, {{1, 0}}},
        {"2 x (2^32 - 1) does not wrap", &huge, 0, Q::Count, {{0, 0x1FFFFFFFE}}},
        {"absent sizes count 0", &huge, 0, Q::Offset, {{kMax, 4016}}},
        {"(2^33 - 2) x 40 = -80 mod 2^32", &huge, 0, Q::Duration, {{0, -800000}}},
    };
    for (const auto& [what, movie, track, q, answers] : rows) {
        const auto root = md::ParseBoxList(movie->data(), movie->size()).first;
        const auto tracks = Tracks(root.get());
        ASSERT_GT(tracks.size(), track) << what;
        for (const auto& [n, expected] : answers)
            EXPECT_EQ(Ask(q, tracks[track], n, root.get()), expected) << what << ", n " << n;
    }
    const auto root = md::ParseBoxList(plain.data(), plain.size()).first;
    EXPECT_EQ(md::GetSampleOffset(Tracks(root.get())[0]->firstChild.get(), 1), 0u);  // the tables alone
    EXPECT_EQ(md::GetTotalSampleCount(Tracks(root.get())[0]->firstChild.get(), nullptr), 0u);
}

// How the durations spread: 'stts' entries, then the runs (per-sample, tfhd default, trex default); whether the
// samples between the first and the last vary (sample order runs through the entries, then the runs).
TEST(SampleTable, DurationSpread)
{
    // 10 x 1000, 5 x 2000, 10 x 1000: 25 samples in 30000, 20 of them 1000 long.
    const Bytes8 mixed = mdtest::Trak(1, 1000, 0, Box("stts", {3, 10, 1000, 5, 2000, 10, 1000}));
    const auto spread = [](const W& stts) {
        const Bytes8 trak = mdtest::Trak(1, 1000, 0, Box("stts", stts));
        const auto root = md::ParseBoxList(trak.data(), trak.size()).first;
        return md::GetSampleDurationSpread(root->firstChild.get(), nullptr).innerDurationsVary;
    };
    const std::pair<W, bool> inner[] = {
        {{3, 1, 500, 8, 1000, 1, 3}, false},  // only the first and the last sample differ
        {{2, 1, 500, 1, 1000}, false},  // no sample between them
        {{3, 8, 1000, 1, 500, 1, 1000}, true},  // the second-to-last differs
        {{2, 2, 500, 9, 1000}, true},  // the second differs
        {{2, 9, 1000, 2, 500}, true},  // two short last samples: one of them inside
        {{3, 1, 1000, 0, 7, 9, 1000}, false},  // an entry of no samples is no sample
    };
    for (const auto& [stts, varies] : inner)
        EXPECT_EQ(spread(stts), varies) << stts[1] << " x " << stts[2] << ", " << stts[3] << " x " << stts[4];
    // A run of 3 with its own durations 9, 7, 9 after a trex default run of one 5.
    BoxBuilder b;
    b.Begin("moov").Bytes(mdtest::Trak(1, 1000, 0, Box("stsz", {0, 0})));
    b.Begin("mvex").Bytes(Box("trex", {1, 1, 5, 0, 0})).End().End();
    b.Begin("moof").Begin("traf").Bytes(Box("tfhd", {1})).Bytes(Box("trun", {1})).End().End();
    b.Begin("moof").Begin("traf").Bytes(Box("tfhd", {1}));
    b.BeginFull("trun", 0, 0x000100).U32(3).U32(9).U32(7).U32(9).End().End().End();
    const Bytes8 ownDurations = b.Take();
    using SpreadRow = std::tuple<const char*, const Bytes8*, size_t, W>;  // samples, total, delta, its samples
    const Bytes8 plain = FragmentedMovie({.moovSamples = true}), huge = HugeRuns();
    const SpreadRow rows[] = {
        {"stts entries", &mixed, 0, {25, 30000, 1000, 20}},
        // 2 x 10 in 'stts', 3 x trex 40, 4 x tfhd 50.
        {"tables and runs", &plain, 0, {9, 340, 50, 4}},
        {"per-sample durations", &ownDurations, 0, {4, 30, 9, 2}},
        {"2 x (2^32 - 1) x 40", &huge, 0, {0, 0, 40, 0}},
    };
    for (const auto& [what, movie, track, want] : rows) {
        const auto root = md::ParseBoxList(movie->data(), movie->size()).first;
        const Mp4Box* trak = movie == &mixed ? root.get() : Tracks(root.get())[track];
        const md::SampleDurationSpread s = md::GetSampleDurationSpread(trak->firstChild.get(), root.get());
        if (movie == &huge) {
            EXPECT_EQ(std::tuple(s.samples, s.total, s.dominantDelta),
                      std::tuple(0x1FFFFFFFEull, 0x1FFFFFFFEull * 40, 40u));
            continue;
        }
        // Every movie here has a differing duration inside: 2000 in 'stts', 40 among 10 and 50, 9 and 7.
        EXPECT_EQ(std::tuple(s.samples, s.total, s.dominantDelta, s.dominantSamples, s.innerDurationsVary),
                  std::tuple(uint64_t(want[0]), uint64_t(want[1]), want[2], uint64_t(want[3]), true))
            << what;
    }
}

}  // namespace
