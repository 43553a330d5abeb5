#include "mp4/mp4_time_range.h"

#include <algorithm>
#include <cstdint>

#include "input/bytes.h"
#include "mp4/m4_demux.h"
#include "mp4/sample_table.h"

namespace md {

namespace {

constexpr uint64_t kOneSecond = 10'000'000;  // in 100-ns units

// The first direct child of box with the given type.
const Mp4Box* ChildOfType(const Mp4Box* box, uint32_t type)
{
    for (const Mp4Box* child = box != nullptr ? box->firstChild.get() : nullptr; child != nullptr;
         child = child->next.get())
        if (child->type == type)
            return child;
    return nullptr;
}

uint32_t ToFrameDuration(int64_t duration)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(duration, 0, UINT32_MAX));
}

// The 'tkhd' duration of a track with an edit list, in 100-ns units: the time its
// edits present (an encoder's priming or a B-picture delay that an edit skips is
// left out), in the movie's time scale. -1 without an 'edts', without either
// header, or when the duration is 0 (a fragmented file's) or all ones (unknown).
int64_t EditedTrackDuration(const Mp4Box* trak, const Mp4Box* root)
{
    if (trak == nullptr || ChildOfType(trak, FourCC("edts")) == nullptr)
        return -1;
    const auto* tkhd = FindBoxAs<Mp4TkhdBox>(trak->firstChild.get(), FourCC("tkhd"));
    const auto* mvhd = FindBoxAs<Mp4MvhdBox>(root, FourCC("mvhd"));
    if (tkhd == nullptr || mvhd == nullptr || mvhd->timeScale == 0)
        return -1;
    const uint64_t unknown = tkhd->version == 1 ? UINT64_MAX : UINT32_MAX;
    if (tkhd->duration == 0 || tkhd->duration == unknown || tkhd->duration > uint64_t(INT64_MAX) / kOneSecond)
        return -1;
    return static_cast<int64_t>(tkhd->duration * kOneSecond / mvhd->timeScale);
}

int64_t TrackEnd(const Mp4Box* trak, const Mp4Box* root, Mp4TimeRules rules)
{
    const int64_t edited = rules.editLists ? EditedTrackDuration(trak, root) : -1;
    return edited >= 0 ? edited : GetTrackDuration(trak, root);
}

}  // namespace

const Mp4Box* FindTrackByHandler(const Mp4Box* root, uint32_t handlerType)
{
    const Mp4Box* found = nullptr;
    const Mp4Box* moov = FindBox(root, FourCC("moov"));
    for (const Mp4Box* trak = moov != nullptr ? moov->firstChild.get() : nullptr; trak != nullptr;
         trak = trak->next.get()) {
        if (trak->type == FourCC("trak") && TrackHandlerType(trak) == handlerType)
            found = trak;
    }
    return found;
}

Mp4TimeRules Mp4TimeRulesOf(uint32_t extensions)
{
    return {.variableRates = (extensions & MD_EXT_FRAME_RATES) != 0,
            .editLists = (extensions & MD_EXT_TIME_RANGES) != 0};
}

bool ScanMp4TimeRange(const Mp4Box* root, bool hasVideo, bool hasAudio, TimeRangeInfo& range, Mp4TimeRules rules)
{
    range = TimeRangeInfo{};
    const Mp4Box* moov = FindBox(root, FourCC("moov"));
    if (moov == nullptr || ChildOfType(moov, FourCC("trak")) == nullptr)
        return false;

    if (hasVideo) {
        const Mp4Box* trak = FindTrackByHandler(root, FourCC("vide"));
        const Mp4Box* children = trak != nullptr ? trak->firstChild.get() : nullptr;
        range.videoEndTime = TrackEnd(trak, root, rules);
        const int32_t timeScale = GetMediaTimeScale(children);
        if (timeScale > 0) {
            const auto delta = static_cast<int32_t>(GetDominantSampleDelta(children));
            int64_t duration = MediaTo100nsRounded(delta, timeScale);
            if (rules.variableRates) {
                const int64_t variable = GetVariableFrameDuration(children, root, timeScale, duration);
                if (variable > 0)
                    duration = variable;
            }
            if (duration < 1)
                duration = EstimateFrameDuration(children, root, timeScale);
            range.videoFrameDuration = ToFrameDuration(duration);
        }
    }
    if (hasAudio) {
        const Mp4Box* trak = FindTrackByHandler(root, FourCC("soun"));
        const Mp4Box* children = trak != nullptr ? trak->firstChild.get() : nullptr;
        range.audioEndTime = TrackEnd(trak, root, rules);
        const int32_t timeScale = GetMediaTimeScale(children);
        if (timeScale > 0) {
            // The decode time at the end of the second sample.
            const auto time = static_cast<int32_t>(GetSampleTime(children, 1, root));
            int64_t duration = MediaTo100nsRounded(time, timeScale);
            if (duration < 1)
                duration = EstimateFrameDuration(children, root, timeScale);
            range.audioFrameDuration = ToFrameDuration(duration);
        }
    }
    return true;
}

}  // namespace md
