// AIFF and AIFF-C files (Apple, Audio Interchange File Format 1.3 and AIFF-C draft of 1991): an IFF 'FORM' of type
// 'AIFF' or 'AIFC' whose chunks have big-endian sizes, odd sizes padded to even. The common chunk 'COMM' gives the
// channels, the sample frames, the sample size and the sample rate (an 80-bit IEEE extended float); AIFF-C adds the
// compression type after it.
#pragma once

#include "demux/file_demux.h"

namespace md {

bool ProbeAiff(const ProbeInput& input);

class AiffDemux final : public FileDemux {
public:
    // One audio record (stream id 1) from 'COMM', wherever it stands among the chunks: big-endian PCM ('NONE',
    // 'twos', 'in24', 'in32'), little-endian PCM ('sowt'), IEEE float ('fl32', 'fl64'), G.711 A-law and mu-law, IMA
    // ADPCM ('ima4', 64 frames in 34 bytes per channel); another compression type is listed but not described. The
    // duration is numSampleFrames over the rate (for 'ima4', numSampleFrames counts packets of 64 frames). 1 for an
    // AIFF file, even one without a usable 'COMM' (then no record).
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
