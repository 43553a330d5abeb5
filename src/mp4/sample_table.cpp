// Sample-table queries over a box tree. Internally sample numbers are 64-bit so
// that no count read from the file can overflow the comparisons; 32-bit results
// (offsets, media times) are wrap-around sums in uint32_t.
#include "mp4/sample_table.h"

#include <algorithm>
#include <array>
#include <vector>

namespace md {
namespace {

constexpr uint32_t kStsz = FourCC("stsz");
constexpr uint32_t kStsc = FourCC("stsc");
constexpr uint32_t kStco = FourCC("stco");
constexpr uint32_t kCo64 = FourCC("co64");
constexpr uint32_t kStts = FourCC("stts");
constexpr uint32_t kCtts = FourCC("ctts");
constexpr uint32_t kMdhd = FourCC("mdhd");
constexpr uint32_t kTkhd = FourCC("tkhd");
constexpr uint32_t kMvex = FourCC("mvex");
constexpr uint32_t kTrex = FourCC("trex");
constexpr uint32_t kMoof = FourCC("moof");
constexpr uint32_t kTraf = FourCC("traf");
constexpr uint32_t kTfhd = FourCC("tfhd");
constexpr uint32_t kTrun = FourCC("trun");

constexpr int64_t kOneSecond = 10'000'000;  // in 100-ns units
constexpr size_t kDominantDeltaEntries = 100;
// Shortest frame duration a variable-rate track's dominant sample delta may give
// (1000 fps); a shorter one does not describe the track.
constexpr int64_t kShortestFrameDuration = 10000;

// Entries of a table that the record really holds: the stored count, cut to the
// shortest of its arrays.
template <class... Arrays>
size_t HeldEntries(uint32_t entryCount, const Arrays&... arrays)
{
    size_t held = entryCount;
    ((held = std::min(held, arrays.size())), ...);
    return held;
}

// Sum of the first k elements of an array (those it holds), 32-bit wrap-around.
uint32_t SumFirst(const std::vector<uint32_t>& array, uint64_t k)
{
    const size_t end = static_cast<size_t>(std::min<uint64_t>(k, array.size()));
    uint32_t sum = 0;
    for (size_t i = 0; i < end; ++i)
        sum += array[i];
    return sum;
}

// ---- Sample tables ----------------------------------------------------------------

// Sum of the sizes of samples first..last (1-based, inclusive), 32-bit
// wrap-around; samples outside the table count 0.
uint32_t SampleSizesBetween(const Mp4StszBox& stsz, uint64_t first, uint64_t last)
{
    if (first < 1 || first > last)
        return 0;
    if (stsz.sampleSize != 0)
        return static_cast<uint32_t>(last - first + 1) * stsz.sampleSize;
    const uint64_t end = std::min<uint64_t>({last, stsz.sampleCount, stsz.entrySize.size()});
    uint32_t sum = 0;
    for (uint64_t k = first; k <= end; ++k)
        sum += stsz.entrySize[static_cast<size_t>(k - 1)];
    return sum;
}

// Offset of chunk (1-based) from 'stco', or from 'co64' only when there is no
// 'stco'; 0 when the chunk is not in the table.
uint32_t ChunkOffset(const Mp4Box* children, uint64_t chunk)
{
    if (const Mp4Box* box = FindBox(children, kStco)) {
        const auto* stco = BoxAs<Mp4StcoBox>(box);
        if (stco == nullptr || chunk < 1 || chunk > stco->entryCount)
            return 0;
        return TableAt(stco->chunkOffset, chunk - 1);
    }
    const auto* co64 = FindBoxAs<Mp4Co64Box>(children, kCo64);
    if (co64 == nullptr || chunk < 1 || chunk > co64->entryCount)
        return 0;
    return static_cast<uint32_t>(TableAt(co64->chunkOffset, chunk - 1));
}

uint32_t TableSampleOffset(const Mp4Box* children, int64_t n)
{
    if (n < 1)
        return 0;
    const auto* stsc = FindBoxAs<Mp4StscBox>(children, kStsc);
    if (stsc == nullptr)
        return 0;  // no chunk, so no offset
    const size_t entries = HeldEntries(stsc->entryCount, stsc->firstChunk, stsc->samplesPerChunk);
    if (entries == 0)
        return 0;

    // Find the stsc entry whose run of chunks holds sample n; acc counts the
    // samples before that run and always stays below n.
    const uint64_t sample = static_cast<uint64_t>(n);
    uint64_t acc = 0;
    size_t i = 0;
    for (; i + 1 < entries; ++i) {
        if (stsc->firstChunk[i + 1] < stsc->firstChunk[i])
            return 0;  // chunk numbers going backwards describe no layout
        const uint64_t run = uint64_t(stsc->firstChunk[i + 1] - stsc->firstChunk[i]) * stsc->samplesPerChunk[i];
        if (sample - acc <= run)
            break;
        acc += run;
    }
    const uint32_t perChunk = stsc->samplesPerChunk[i];
    if (perChunk == 0)
        return 0;
    const uint64_t chunksIn = (sample - acc - 1) / perChunk;
    const uint64_t chunk = stsc->firstChunk[i] + chunksIn;
    acc += chunksIn * perChunk;  // samples before that chunk

    uint32_t offset = ChunkOffset(children, chunk);
    if (offset != 0)
        if (const auto* stsz = FindBoxAs<Mp4StszBox>(children, kStsz))
            offset += SampleSizesBetween(*stsz, acc + 1, sample - 1);
    return offset;
}

uint32_t TableSampleTime(const Mp4Box* children, int64_t n)
{
    const auto* stts = FindBoxAs<Mp4SttsBox>(children, kStts);
    if (stts == nullptr)
        return 0;
    const size_t entries = HeldEntries(stts->entryCount, stts->sampleCount, stts->sampleDelta);
    int64_t before = 0;
    uint32_t t = 0;
    for (size_t i = 0; i < entries; ++i) {
        const uint32_t count = stts->sampleCount[i];
        const uint32_t delta = stts->sampleDelta[i];
        if (n < before + count) {
            // Sample n (from 0) is in this entry: the time at its end. A result of
            // 0 (a zero delta) does not end the walk: the next entry is tried
            // with the same position.
            const uint32_t result = static_cast<uint32_t>(n - before + 1) * delta + t;
            if (result != 0)
                return result;
        } else {
            before += count;
            t += count * delta;
        }
    }
    return 0;
}

int32_t TableCompositionOffset(const Mp4Box* children, int64_t n)
{
    const auto* ctts = FindBoxAs<Mp4CttsBox>(children, kCtts);
    if (ctts == nullptr)
        return 0;
    const size_t entries = HeldEntries(ctts->entryCount, ctts->sampleCount, ctts->sampleOffset);
    int64_t acc = 0;
    for (size_t i = 0; i < entries; ++i) {
        acc += ctts->sampleCount[i];
        if (n <= acc - 1)
            return static_cast<int32_t>(ctts->sampleOffset[i]);
    }
    return 0;
}

// ---- Fragment runs ------------------------------------------------------------------

// The track ID of a track whose child list starts with 'tkhd'; 0 otherwise.
uint32_t TrackIdOf(const Mp4Box* children)
{
    if (children == nullptr || children->type != kTkhd)
        return 0;
    const auto* tkhd = BoxAs<Mp4TkhdBox>(children);
    return tkhd != nullptr ? tkhd->trackId : 0;
}

bool HasMovieExtends(const Mp4Box* root) { return FindBox(root, kMvex) != nullptr; }

// The 'trex' of the track among the children of 'mvex', or null.
const Mp4TrexBox* FindTrex(const Mp4Box* root, uint32_t trackId)
{
    const Mp4Box* mvex = FindBox(root, kMvex);
    if (mvex == nullptr)
        return nullptr;
    for (const Mp4Box* b = mvex->firstChild.get(); b != nullptr; b = b->next.get()) {
        if (b->type != kTrex)
            continue;
        const auto* trex = BoxAs<Mp4TrexBox>(b);
        if (trex != nullptr && trex->trackId == trackId)
            return trex;
    }
    return nullptr;
}

// Calls visit(tfhd, trun) for every run of the track, in file order, until visit
// returns false. Each 'moof' after the first is searched from the next sibling
// of the one before, so the walk only moves forward and ends.
template <class Visit>
void ForEachTrackRun(const Mp4Box* root, uint32_t trackId, Visit&& visit)
{
    for (const Mp4Box* moof = FindBox(root, kMoof); moof != nullptr; moof = FindBox(moof->next.get(), kMoof)) {
        for (const Mp4Box* traf = moof->firstChild.get(); traf != nullptr; traf = traf->next.get()) {
            if (traf->type != kTraf)
                continue;
            const auto* tfhd = FindBoxAs<Mp4TfhdBox>(traf->firstChild.get(), kTfhd);
            if (tfhd == nullptr || tfhd->trackId != trackId)
                continue;
            for (const Mp4Box* b = traf->firstChild.get(); b != nullptr; b = b->next.get()) {
                const auto* trun = b->type == kTrun ? BoxAs<Mp4TrunBox>(b) : nullptr;
                if (trun != nullptr && !visit(*tfhd, *trun))
                    return;
            }
        }
    }
}

uint64_t RunSampleTotal(const Mp4Box* root, uint32_t trackId)
{
    uint64_t total = 0;
    ForEachTrackRun(root, trackId, [&](const Mp4TfhdBox&, const Mp4TrunBox& trun) {
        total += trun.sampleCount;
        return true;
    });
    return total;
}

// Sum of the durations of the first k samples of a run, 32-bit wrap-around.
uint32_t RunDurations(const Mp4TfhdBox& tfhd, const Mp4TrunBox& trun, const Mp4TrexBox& trex, uint64_t k)
{
    if (trun.flags & kTrunSampleDuration)
        return SumFirst(trun.sampleDuration, k);
    const uint32_t each =
        (tfhd.flags & kTfhdDefaultSampleDuration) ? tfhd.defaultSampleDuration : trex.defaultSampleDuration;
    return static_cast<uint32_t>(k) * each;
}

// Sum of the sizes of the first k samples of a run, 32-bit wrap-around.
uint32_t RunSizes(const Mp4TfhdBox& tfhd, const Mp4TrunBox& trun, const Mp4TrexBox& trex, uint64_t k)
{
    if (trun.flags & kTrunSampleSize)
        return SumFirst(trun.sampleSize, k);
    const uint32_t each = (tfhd.flags & kTfhdDefaultSampleSize) ? tfhd.defaultSampleSize : trex.defaultSampleSize;
    return static_cast<uint32_t>(k) * each;
}

// What the fragment-aware forms need before they look at the runs: sample n
// must lie beyond the 'stsz' samples, within the track's total, and the track
// needs an ID and a 'trex'. The tables-only form answers when n is within the
// 'stsz' samples or the movie has no 'mvex' (tablesOnly), 0 otherwise.
struct FragmentLookup {
    bool tablesOnly = false;
    uint32_t trackId = 0;
    const Mp4TrexBox* trex = nullptr;  // null: the answer is 0
    int64_t stszCount = 0;
};

FragmentLookup PrepareFragmentLookup(const Mp4Box* children, int64_t n, const Mp4Box* root)
{
    FragmentLookup f;
    f.stszCount = GetSampleCount(children);
    if (n <= f.stszCount || !HasMovieExtends(root)) {
        f.tablesOnly = true;
        return f;
    }
    f.trackId = TrackIdOf(children);
    if (f.trackId == 0)
        return f;  // no fragment samples: n lies beyond the total
    if (static_cast<uint64_t>(n) > GetTotalSampleCount(children, root))
        return f;
    f.trex = FindTrex(root, f.trackId);
    return f;
}

uint32_t SampleOffsetAt(const Mp4Box* children, int64_t n, const Mp4Box* root)
{
    const FragmentLookup f = PrepareFragmentLookup(children, n, root);
    if (f.tablesOnly)
        return TableSampleOffset(children, n);
    if (f.trex == nullptr)
        return 0;
    int64_t before = f.stszCount;
    uint32_t result = 0;
    ForEachTrackRun(root, f.trackId, [&](const Mp4TfhdBox& tfhd, const Mp4TrunBox& trun) {
        if (n > before + trun.sampleCount) {
            before += trun.sampleCount;
            return true;
        }
        // Without a base data offset the run's data offset is a file offset.
        uint32_t base = (tfhd.flags & kTfhdBaseDataOffset) ? static_cast<uint32_t>(tfhd.baseDataOffset) : 0;
        if (trun.flags & kTrunDataOffset)
            base += trun.dataOffset;
        result = base + RunSizes(tfhd, trun, *f.trex, static_cast<uint64_t>(n - before - 1));
        return false;
    });
    return result;
}

uint32_t SampleTimeAt(const Mp4Box* children, int64_t n, const Mp4Box* root)
{
    // Samples are numbered from 0: sample n is in the fragment runs when n is at
    // or beyond the 'stsz' count.
    const int64_t stszCount = GetSampleCount(children);
    if (n < stszCount || !HasMovieExtends(root))
        return TableSampleTime(children, n);
    const FragmentLookup f = PrepareFragmentLookup(children, n + 1, root);  // n + 1: counted from 1
    if (f.trex == nullptr)
        return 0;
    // The time at the end of the tables' last sample, then whole runs, then the
    // run that holds sample n up to and including it.
    int64_t before = stszCount;
    uint32_t t = stszCount > 0 ? TableSampleTime(children, stszCount - 1) : 0;
    ForEachTrackRun(root, f.trackId, [&](const Mp4TfhdBox& tfhd, const Mp4TrunBox& trun) {
        if (n >= before + trun.sampleCount) {
            t += RunDurations(tfhd, trun, *f.trex, trun.sampleCount);
            before += trun.sampleCount;
            return true;
        }
        t += RunDurations(tfhd, trun, *f.trex, static_cast<uint64_t>(n - before + 1));
        return false;
    });
    return t;  // n is within the total, so a run held it
}

int32_t CompositionOffsetAt(const Mp4Box* children, int64_t n, const Mp4Box* root)
{
    const FragmentLookup f = PrepareFragmentLookup(children, n, root);
    if (f.tablesOnly)
        return TableCompositionOffset(children, n);
    if (f.trex == nullptr)
        return 0;
    int64_t before = f.stszCount;
    int32_t result = 0;
    ForEachTrackRun(root, f.trackId, [&](const Mp4TfhdBox&, const Mp4TrunBox& trun) {
        if (n > before + trun.sampleCount) {
            before += trun.sampleCount;
            return true;
        }
        if (trun.flags & kTrunSampleCompositionTimeOffset)
            result = static_cast<int32_t>(TableAt(trun.sampleCompositionTimeOffset, n - before - 1));
        return false;
    });
    return result;
}

// The first sample number k (counting from 0, up to the track's total count)
// whose composition offset reaches one second, as the fragment-aware
// GetCompositionOffset(k, root) gives it; false when there is none. Walks
// entries and runs rather than samples, so a huge count costs nothing.
bool FirstSampleReachingOneSecond(const Mp4Box* children, const Mp4Box* root, int32_t timeScale, uint64_t& k)
{
    auto reaches = [timeScale](uint32_t offset) {
        return MediaTo100ns(static_cast<int32_t>(offset), timeScale) >= kOneSecond;
    };
    const uint64_t stszCount = GetSampleCount(children);
    const uint64_t total = GetTotalSampleCount(children, root);
    const bool fragments = HasMovieExtends(root);

    // Samples 0..stsz count answer from 'ctts' (all samples when there is no
    // 'mvex'); a sample beyond its entries has offset 0.
    const uint64_t tableEnd = fragments ? stszCount + 1 : total + 1;
    if (const auto* ctts = FindBoxAs<Mp4CttsBox>(children, kCtts)) {
        const size_t entries = HeldEntries(ctts->entryCount, ctts->sampleCount, ctts->sampleOffset);
        uint64_t first = 0;
        for (size_t i = 0; i < entries && first < tableEnd; ++i) {
            if (ctts->sampleCount[i] != 0 && reaches(ctts->sampleOffset[i])) {
                k = first;
                return true;
            }
            first += ctts->sampleCount[i];
        }
    }
    if (!fragments || total <= stszCount)
        return false;

    // Run samples stsz count + 1 .. total: their per-sample offsets, when the
    // run carries them.
    const uint32_t trackId = TrackIdOf(children);
    if (trackId == 0 || FindTrex(root, trackId) == nullptr)
        return false;
    uint64_t before = stszCount;
    bool found = false;
    ForEachTrackRun(root, trackId, [&](const Mp4TfhdBox&, const Mp4TrunBox& trun) {
        if (trun.flags & kTrunSampleCompositionTimeOffset) {
            const auto& offsets = trun.sampleCompositionTimeOffset;
            const size_t end = static_cast<size_t>(std::min<uint64_t>(trun.sampleCount, offsets.size()));
            for (size_t m = 0; m < end; ++m) {
                if (reaches(offsets[m])) {
                    k = before + 1 + m;
                    found = true;
                    return false;
                }
            }
        }
        before += trun.sampleCount;
        return true;
    });
    return found;
}

}  // namespace

int32_t GetMediaTimeScale(const Mp4Box* children)
{
    const auto* mdhd = FindBoxAs<Mp4MdhdBox>(children, kMdhd);
    return mdhd != nullptr ? static_cast<int32_t>(mdhd->timeScale) : 0;
}

uint32_t GetSampleCount(const Mp4Box* children)
{
    const auto* stsz = FindBoxAs<Mp4StszBox>(children, kStsz);
    return stsz != nullptr ? stsz->sampleCount : 0;
}

uint64_t GetTotalSampleCount(const Mp4Box* children, const Mp4Box* root)
{
    uint64_t total = GetSampleCount(children);
    const uint32_t trackId = TrackIdOf(children);
    if (root != nullptr && trackId >= 1)
        total += RunSampleTotal(root, trackId);
    return total;
}

uint32_t GetSampleSize(const Mp4Box* children, int32_t n)
{
    const auto* stsz = FindBoxAs<Mp4StszBox>(children, kStsz);
    if (stsz == nullptr)
        return 0;
    if (stsz->sampleSize != 0)
        return stsz->sampleSize;
    if (n < 1 || static_cast<uint32_t>(n) > stsz->sampleCount)
        return 0;
    return TableAt(stsz->entrySize, static_cast<uint64_t>(n) - 1);
}

uint32_t GetSampleOffset(const Mp4Box* children, int32_t n) { return TableSampleOffset(children, n); }

uint32_t GetSampleOffset(const Mp4Box* children, int32_t n, const Mp4Box* root)
{
    return SampleOffsetAt(children, n, root);
}

uint32_t GetSampleTime(const Mp4Box* children, int32_t n) { return TableSampleTime(children, n); }

uint32_t GetSampleTime(const Mp4Box* children, int32_t n, const Mp4Box* root)
{
    return SampleTimeAt(children, n, root);
}

int32_t GetCompositionOffset(const Mp4Box* children, int32_t n) { return TableCompositionOffset(children, n); }

int32_t GetCompositionOffset(const Mp4Box* children, int32_t n, const Mp4Box* root)
{
    return CompositionOffsetAt(children, n, root);
}

uint32_t GetDominantSampleDelta(const Mp4Box* children)
{
    const auto* stts = FindBoxAs<Mp4SttsBox>(children, kStts);
    if (stts == nullptr)
        return 0;
    const size_t entries =
        std::min(HeldEntries(stts->entryCount, stts->sampleCount, stts->sampleDelta), kDominantDeltaEntries);

    // Groups of equal deltas in order of first appearance, with their sample totals.
    struct Group {
        uint32_t delta = 0;
        uint64_t total = 0;
    };
    std::array<Group, kDominantDeltaEntries> groups{};
    size_t groupCount = 0;
    for (size_t i = 0; i < entries; ++i) {
        size_t g = 0;
        while (g < groupCount && groups[g].delta != stts->sampleDelta[i])
            ++g;
        if (g == groupCount)
            groups[groupCount++].delta = stts->sampleDelta[i];
        groups[g].total += stts->sampleCount[i];
    }
    const Group* best = nullptr;
    for (size_t g = 0; g < groupCount; ++g)
        if (best == nullptr || groups[g].total > best->total)
            best = &groups[g];
    return best != nullptr && best->total != 0 ? best->delta : 0;
}

SampleDurationSpread GetSampleDurationSpread(const Mp4Box* children, const Mp4Box* root)
{
    // Distinct durations with their sample counts; past kMaxGroups distinct
    // values the rest only count toward the totals.
    constexpr size_t kMaxGroups = 64;
    struct Group {
        uint32_t delta = 0;
        uint64_t samples = 0;
    };
    std::array<Group, kMaxGroups> groups{};
    size_t groupCount = 0;
    size_t last = 0;  // the group the previous duration went to
    SampleDurationSpread spread;
    // The duration of the samples seen so far between the first and the latest
    // one (the latest may be the track's last, so it joins them only when
    // another sample follows).
    bool haveInner = false;
    uint32_t innerDelta = 0;
    uint32_t latestDelta = 0;
    auto noteInner = [&](uint32_t delta) {
        if (!haveInner) {
            haveInner = true;
            innerDelta = delta;
        } else if (delta != innerDelta) {
            spread.innerDurationsVary = true;
        }
    };
    auto add = [&](uint32_t delta, uint64_t count) {
        if (count == 0)
            return;
        if (spread.samples >= 2)
            noteInner(latestDelta);  // the previous latest sample was not the last
        // Of this run, every sample but the track's first and the run's last.
        if (count - 1 > (spread.samples == 0 ? 1u : 0u))
            noteInner(delta);
        latestDelta = delta;
        spread.samples += count;
        spread.total += uint64_t(delta) * count;
        if (last >= groupCount || groups[last].delta != delta) {
            last = 0;
            while (last < groupCount && groups[last].delta != delta)
                ++last;
            if (last == groupCount) {
                if (groupCount == kMaxGroups)
                    return;
                groups[groupCount++].delta = delta;
            }
        }
        groups[last].samples += count;
    };

    if (const auto* stts = FindBoxAs<Mp4SttsBox>(children, kStts)) {
        const size_t entries = HeldEntries(stts->entryCount, stts->sampleCount, stts->sampleDelta);
        for (size_t i = 0; i < entries; ++i)
            add(stts->sampleDelta[i], stts->sampleCount[i]);
    }
    const uint32_t trackId = TrackIdOf(children);
    const Mp4TrexBox* trex = root != nullptr && trackId != 0 ? FindTrex(root, trackId) : nullptr;
    if (trex != nullptr) {
        ForEachTrackRun(root, trackId, [&](const Mp4TfhdBox& tfhd, const Mp4TrunBox& trun) {
            if (trun.flags & kTrunSampleDuration) {
                const size_t held =
                    static_cast<size_t>(std::min<uint64_t>(trun.sampleCount, trun.sampleDuration.size()));
                for (size_t i = 0; i < held; ++i)
                    add(trun.sampleDuration[i], 1);
            } else {
                add((tfhd.flags & kTfhdDefaultSampleDuration) ? tfhd.defaultSampleDuration
                                                              : trex->defaultSampleDuration,
                    trun.sampleCount);
            }
            return true;
        });
    }
    for (size_t g = 0; g < groupCount; ++g) {
        if (groups[g].samples > spread.dominantSamples) {
            spread.dominantSamples = groups[g].samples;
            spread.dominantDelta = groups[g].delta;
        }
    }
    return spread;
}

int64_t MediaTo100ns(int32_t v, int32_t timeScale)
{
    if (timeScale == 0)
        return 0;
    return int64_t(v) * kOneSecond / timeScale;
}

int64_t MediaTo100nsRounded(int32_t v, int32_t timeScale)
{
    if (timeScale == 0)
        return 0;
    return (int64_t(v) * kOneSecond + (int64_t(timeScale) + 1) / 2) / timeScale;
}

int64_t GetVariableFrameDuration(const Mp4Box* children, const Mp4Box* root, int32_t timeScale, int64_t baseDuration)
{
    const SampleDurationSpread spread = GetSampleDurationSpread(children, root);
    if (spread.samples == 0 || timeScale <= 0)
        return 0;
    const int64_t dominant = MediaTo100nsRounded(static_cast<int32_t>(spread.dominantDelta), timeScale);
    if (!spread.innerDurationsVary && dominant >= kShortestFrameDuration)
        return baseDuration > 0 ? 0 : dominant;
    const double mean = static_cast<double>(spread.total) * 1e7 / timeScale / static_cast<double>(spread.samples);
    return mean >= 1 && mean < 1e15 ? static_cast<int64_t>(mean + 0.5) : 0;
}

int64_t GetTrackDuration(const Mp4Box* trak, const Mp4Box* root)
{
    if (trak == nullptr)
        return 0;
    const Mp4Box* children = trak->firstChild.get();
    const int32_t timeScale = GetMediaTimeScale(children);
    if (timeScale == 0)
        return 0;
    const uint64_t total = GetTotalSampleCount(children, root);
    const int64_t last = static_cast<int64_t>(std::min<uint64_t>(total, INT64_MAX)) - 1;
    // The media time is a 32-bit sum, read as signed like every media value.
    return MediaTo100ns(static_cast<int32_t>(SampleTimeAt(children, last, root)), timeScale);
}

int64_t EstimateFrameDuration(const Mp4Box* children, const Mp4Box* root, int32_t timeScale)
{
    if (timeScale == 0 || GetSampleCount(children) == 0)
        return 0;
    uint64_t k = 0;
    if (!FirstSampleReachingOneSecond(children, root, timeScale, k) || k == 0)
        return 0;
    return kOneSecond / static_cast<int64_t>(k);
}

}  // namespace md
