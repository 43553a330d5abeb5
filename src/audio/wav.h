// WAV files: RIFF WAVE, RF64 and BW64 (EBU Tech 3306 / ITU-R BS.2088: a 'ds64' chunk holds the 64-bit sizes) and
// Sony Wave64 (GUID chunk ids, 64-bit sizes, chunks aligned to 8 bytes). The chunks are walked by their sizes
// (odd sizes padded) up to 'data'; 'fmt ' may stand anywhere before it.
#pragma once

#include "demux/file_demux.h"

namespace md {

bool ProbeWav(const ProbeInput& input);

class WavDemux final : public FileDemux {
public:
    // One audio record (stream id 1) from 'fmt ' -- MPEG audio, AC-3 and DTS from their first frame in 'data' --
    // and the duration from the data size (RF64: the 'ds64' size; a size of 0 or 0xFFFFFFFF runs to the end of the
    // file) over the byte rate, or a 'fact' sample count for compressed data. 1 for a WAV file, even one without
    // 'fmt ' (then no record).
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
