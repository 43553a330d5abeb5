// Native FLAC streams: the "fLaC" marker (after optional ID3v2 tags), then a chain of metadata blocks -- STREAMINFO
// first, then any of padding, application data, seek table, Vorbis comments, cue sheet and pictures -- ending at the
// block whose last-block flag is set; the audio frames follow it.
#pragma once

#include "demux/file_demux.h"

namespace md {

// "fLaC" followed by the header of a STREAMINFO block, at the start of the file or after its ID3v2 tags.
bool ProbeFlac(const ProbeInput& input);

// The metadata blocks are read in pieces of this size; a new piece is read only for a block header past the last
// one, so a large block's body is never read, and the Vorbis comment and picture start in a piece cost no read.
constexpr uint32_t kFlacMetadataReadBytes = 16 * 1024;

class FlacDemux final : public FileDemux {
public:
    // One audio record (stream id 1) from STREAMINFO: channels, sample rate, bits per sample, the speaker positions
    // FLAC assigns to 3 to 8 channels, and the average byte rate of the frames after the metadata. The duration is
    // STREAMINFO's total samples over the sample rate (unknown when the total is 0). The metadata blocks are walked
    // by their lengths, in pieces of kFlacMetadataReadBytes. 1 for a FLAC stream, even one cut short inside
    // STREAMINFO (then no record).
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
