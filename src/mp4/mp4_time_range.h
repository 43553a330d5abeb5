// The time range of an MP4 / QuickTime / 3GP file from its box tree: the end
// times are the durations of the video and the audio track (sample tables and
// fragment runs), the frame durations their typical sample durations. Times
// in 100-ns units; MP4 media starts at 0.
#pragma once

#include "mediadetect/records.h"
#include "mp4/mp4_box.h"

namespace md {

// The last 'trak' of the movie whose 'mdia'/'hdlr' handler_type is handlerType
// ('vide', 'soun'); null when none.
const Mp4Box* FindTrackByHandler(const Mp4Box* root, uint32_t handlerType);

// What the time range takes beyond the sample tables (extensions).
struct Mp4TimeRules {
    // MD_EXT_FRAME_RATES: the video frame duration follows
    // GetVariableFrameDuration, as the record's does.
    bool variableRates = false;
    // MD_EXT_TIME_RANGES: a track whose edit list ('edts') maps its media ends
    // after its 'tkhd' duration, as players present it, not after all its samples.
    bool editLists = false;
};

Mp4TimeRules Mp4TimeRulesOf(uint32_t extensions);

// Fills range from the tree whose first top-level box is root. hasVideo and
// hasAudio: whether the open found a video and an audio stream; only those
// tracks are measured. False without a 'moov' or without a 'trak' in it; range
// is zero-filled first.
bool ScanMp4TimeRange(const Mp4Box* root, bool hasVideo, bool hasAudio, TimeRangeInfo& range,
                      Mp4TimeRules rules = {});

}  // namespace md
