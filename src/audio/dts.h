// DTS files (ETSI TS 102 114): core frames back to back, each header's FSIZE giving where the next starts, in any
// of the four word forms (16-bit big- or little-endian, 14-bit big- or little-endian as on audio CDs). In 16-bit
// big-endian streams a DTS-HD extension substream (SYNCEXTSSH 64 58 20 25) may follow each core frame. ID3v2 tags
// may open the file, and zero bytes before the first frame are passed over.
#pragma once

#include "demux/file_demux.h"

namespace md {

// A run of DTS core frames in one word form at the start of the audio: several in a row, or a shorter run ending
// with the file.
bool ProbeDts(const ProbeInput& input);

class DtsDemux final : public FileDemux {
public:
    // One audio record (stream id 1) from the first core frame: channels and speakers from AMODE and LFF, the
    // rate, the bit rate of the frames. A core followed by DTS-HD substreams is named DTS-HD
    // (StreamCodec::TsAudioDtsHd), described by its core. The duration counts the frames in the first 512 KiB and
    // extrapolates over the rest of the file by their mean size. 1 when the frames run as the probe asks.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
