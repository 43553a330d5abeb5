// Raw DV files: DIF frames back to back (IEC 61834, SMPTE 314M), as camcorders write them over IEEE 1394 and tools
// store them in .dv files. The first frame describes the file; every frame has the same size.
#pragma once

#include "demux/file_demux.h"

namespace md {

// A DIF sequence header at the start of the file, followed by the blocks of its first sequence in their places.
bool ProbeDv(const ProbeInput& input);

class DvDemux final : public FileDemux {
public:
    // From the first frame: the video record (stream id 1) and one PCM record per audio stream its AAUX source
    // packs describe (ids 2, 3, ...); the duration is the whole frames of the file (its size over the frame size)
    // times the frame time. 1 for a DV file, 0 otherwise.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
