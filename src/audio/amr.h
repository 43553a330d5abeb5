// AMR and AMR-WB files in the storage format of RFC 4867 section 5: a magic ("#!AMR\n", "#!AMR-WB\n", or the
// multichannel "#!AMR_MC1.0\n" and "#!AMR-WB_MC1.0\n" followed by a 32-bit channel description whose low four bits
// are the channel count), then frame-blocks of 20 ms, one speech frame per channel, each frame a table-of-contents
// byte whose frame type (FT, bits 6..3) gives its size.
#pragma once

#include "demux/file_demux.h"

namespace md {

bool ProbeAmr(const ProbeInput& input);

class AmrDemux final : public FileDemux {
public:
    // One audio record (stream id 1): AMR-NB at 8 kHz or AMR-WB at 16 kHz, the channels, the bit rate of the
    // frames. The duration counts the frame-blocks of the first 512 KiB, 20 ms each, and extrapolates over the rest
    // of the file by their mean size; a frame of a reserved type ends the count (its size is unknown). 1 for an
    // AMR file.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
