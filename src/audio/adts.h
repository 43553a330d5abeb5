// Raw AAC in ADTS frames (.aac): optional ID3v2 tags, then ADTS frames, each with its own header (with or without
// the CRC), then optional APEv2, Lyrics3 v2 and ID3v1 tags. The headers state no frame count: the duration is
// estimated from the bit rate of the first frames, as ffprobe estimates it.
#pragma once

#include "demux/file_demux.h"

namespace md {

// Two ADTS frames in a row where the ID3v2 tags end (or at the start of the file): tried before the base tests.
bool ProbeAdtsStart(const ProbeInput& input);

// A run of ADTS frames found by a sync search in the first 64 KiB after the tags (more frames in a row away from
// the start).
bool ProbeAdts(const ProbeInput& input);

class AdtsDemux final : public FileDemux {
public:
    // One audio record (stream id 1, AAC, codecSpecific[0] the audio object type) from the first frame of the run,
    // its bit rate the mean of the first 50 frames; the duration the audio bytes (the tags left out) over that bit
    // rate, marked estimated. 0 when no run of frames is found.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
