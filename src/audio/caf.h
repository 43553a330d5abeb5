// Apple Core Audio Format files: the header 'caff', version 1, then chunks of a four-character type and a signed
// 64-bit big-endian size. 'desc' comes first (the audio description: a 64-bit float sample rate, the format ID and
// flags, bytes and frames per packet, channels, bits per channel); 'data' holds the packets after a 32-bit edit
// count, and a size of -1 (a file still being written) runs to the end of the file; 'pakt' holds the packet table
// with the number of valid frames; 'chan' the channel layout; 'kuki' the codec's magic cookie.
#pragma once

#include "demux/file_demux.h"

namespace md {

bool ProbeCaf(const ProbeInput& input);

class CafDemux final : public FileDemux {
public:
    // One audio record (stream id 1) from 'desc': linear PCM (float and little-endian by the format flags), A-law,
    // mu-law, IMA ADPCM, AAC in its variants (the audio object type from the format ID), ALAC (the bit depth from its
    // cookie), MPEG audio, AC-3 and E-AC-3 (their first frame at the start of the data), Opus, FLAC and AMR; another
    // format is listed but not described. The speaker mask from a 'chan' channel bitmap. The duration is the
    // valid frames of 'pakt', else the whole packets of the data times the frames per packet, over the rate. 1 for
    // a CAF file, even one without a usable 'desc' (then no record).
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
