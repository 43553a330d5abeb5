#include "mp4/mp4_time_range.h"

#include <algorithm>
#include <cstdint>

#include "input/bytes.h"
#include "mp4/m4_demux.h"
#include "mp4/sample_table.h"

namespace md {

namespace {

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

bool ScanMp4TimeRange(const Mp4Box* root, bool hasVideo, bool hasAudio, TimeRangeInfo& range, bool variableRates)
{
    range = TimeRangeInfo{};
    const Mp4Box* moov = FindBox(root, FourCC("moov"));
    if (moov == nullptr || ChildOfType(moov, FourCC("trak")) == nullptr)
        return false;

    if (hasVideo) {
        const Mp4Box* trak = FindTrackByHandler(root, FourCC("vide"));
        const Mp4Box* children = trak != nullptr ? trak->firstChild.get() : nullptr;
        range.videoEndTime = GetTrackDuration(trak, root);
        const int32_t timeScale = GetMediaTimeScale(children);
        if (timeScale > 0) {
            const auto delta = static_cast<int32_t>(GetDominantSampleDelta(children));
            int64_t duration = MediaTo100nsRounded(delta, timeScale);
            if (variableRates) {
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
        range.audioEndTime = GetTrackDuration(trak, root);
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
