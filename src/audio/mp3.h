// MPEG audio files (.mp3, .mp2, .mpa): optional ID3v2 tags, then MPEG audio frames of any layer (MPEG-1, MPEG-2 at
// the lower sampling frequencies, MPEG-2.5), then optional APEv2, Lyrics3 v2 and ID3v1 tags. The first frame may be
// a Xing/Info or VBRI header frame (an encoder's summary: frame count, byte count) rather than audio.
#pragma once

#include "demux/file_demux.h"

namespace md {

// A run of frames where the ID3v2 tags end (or at the start of the file): tried before the base tests, as no base
// kind starts with an MPEG audio sync.
bool ProbeMp3Start(const ProbeInput& input);

// A run of frames found by a sync search in the first 64 KiB after the tags (more frames in a row are asked for
// away from the start).
bool ProbeMp3(const ProbeInput& input);

class Mp3Demux final : public FileDemux {
public:
    // One audio record (stream id 1) from the first frame of the run the probe finds: MPEG-1 audio, or MPEG-2 audio
    // for MPEG-2 and MPEG-2.5, the bit rate the average a Xing or VBRI header states. The duration: the frame count
    // of a Xing/Info or VBRI header, else the audio bytes (the tags left out) over the mean bit rate of the first
    // frames (estimated). 0 when no run of frames is found.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
