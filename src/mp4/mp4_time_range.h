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

// Fills range from the tree whose first top-level box is root. hasVideo and
// hasAudio: whether the open found a video and an audio stream; only those
// tracks are measured. False without a 'moov' or without a 'trak' in it; range
// is zero-filled first. With variableRates the video frame duration follows
// GetVariableFrameDuration, as the record's does.
bool ScanMp4TimeRange(const Mp4Box* root, bool hasVideo, bool hasAudio, TimeRangeInfo& range,
                      bool variableRates = false);

}  // namespace md
