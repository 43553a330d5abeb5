// The sample-table queries over the box tree read from arbitrary bytes: for
// every track of the movie, each query at the edges of its sample numbering
// (below 1, the first samples, around the 'stsz' count and the fragment-aware
// total, the largest number) and the track duration and frame-duration
// estimate. Checked against the tables the tree holds: the decode time at the
// last 'stts' sample is the 32-bit sum of every entry's count x delta, and the
// dominant delta holds at least as many samples as any other delta.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "input/memory_input_stream.h"
#include "mp4/mp4_box.h"
#include "mp4/sample_table.h"
#include "fuzz_check.h"

namespace {

// Sample numbers worth asking about for a track of count samples.
std::vector<int64_t> Numbers(uint64_t count)
{
    std::vector<int64_t> numbers = {-1, 0, std::numeric_limits<int32_t>::max()};
    for (int64_t n = 1; n <= 40; ++n)
        numbers.push_back(n);
    for (int64_t d = -2; d <= 2; ++d)
        numbers.push_back(static_cast<int64_t>(std::min<uint64_t>(count, 1u << 30)) + d);
    return numbers;
}

void CheckStts(const md::Mp4Box* children)
{
    const auto* stts = md::FindBoxAs<md::Mp4SttsBox>(children, md::FourCC("stts"));
    if (stts == nullptr)
        return;
    const size_t entries = std::min<size_t>({stts->entryCount, stts->sampleCount.size(), stts->sampleDelta.size()});
    uint64_t samples = 0;
    uint32_t sum = 0;
    std::map<uint32_t, uint64_t> perDelta;
    for (size_t i = 0; i < entries; ++i) {
        samples += stts->sampleCount[i];
        sum += stts->sampleCount[i] * stts->sampleDelta[i];
        if (i < 100)
            perDelta[stts->sampleDelta[i]] += stts->sampleCount[i];
    }
    // Tables of a few thousand samples only: the query walks them one by one.
    if (samples >= 1 && samples <= 100000)
        Check(md::GetSampleTime(children, static_cast<int32_t>(samples - 1)) == sum);
    uint64_t most = 0;
    for (const auto& [delta, total] : perDelta)
        most = std::max(most, total);
    const uint32_t dominant = md::GetDominantSampleDelta(children);
    if (most == 0)
        Check(dominant == 0);
    else
        Check(perDelta.count(dominant) == 1 && perDelta[dominant] == most);
}

void QueryTrack(const md::Mp4Box* trak, const md::Mp4Box* root)
{
    const md::Mp4Box* children = trak->firstChild.get();
    const int32_t timeScale = md::GetMediaTimeScale(children);
    const uint32_t count = md::GetSampleCount(children);
    const uint64_t total = md::GetTotalSampleCount(children, root);
    Check(total >= count);
    for (int64_t number : Numbers(count)) {
        const auto n = static_cast<int32_t>(number);
        md::GetSampleSize(children, n);
        md::GetSampleOffset(children, n);
        md::GetSampleTime(children, n);
        md::GetCompositionOffset(children, n);
    }
    for (int64_t number : Numbers(total)) {
        const auto n = static_cast<int32_t>(number);
        md::GetSampleOffset(children, n, root);
        md::GetSampleTime(children, n, root);
        md::GetCompositionOffset(children, n, root);
    }
    CheckStts(children);
    md::GetTrackDuration(trak, root);
    md::EstimateFrameDuration(children, root, timeScale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    md::MemoryInputStream stream(data, size);
    const std::unique_ptr<md::Mp4Box> root = md::ReadMp4Stream(stream);
    const uint32_t trakType = md::FourCC("trak");
    // Tracks of every 'moov' and any 'trak' at the top level.
    int tracks = 0;
    for (const md::Mp4Box* top = root.get(); top != nullptr && tracks < 16; top = top->next.get()) {
        if (top->type == trakType) {
            QueryTrack(top, root.get());
            ++tracks;
        }
        if (top->type != md::FourCC("moov"))
            continue;
        for (const md::Mp4Box* b = top->firstChild.get(); b != nullptr && tracks < 16; b = b->next.get()) {
            if (b->type == trakType) {
                QueryTrack(b, root.get());
                ++tracks;
            }
        }
    }
    return 0;
}
