// Ogg files (RFC 3533): logical streams of Vorbis, Opus, FLAC, Speex and Theora, each opened by a BOS page whose
// first packet is the codec's identification header, multiplexed page by page; chained files put one such group of
// streams (a link) after another. Pages are framed and their CRC checked here; a page that fails is skipped.
#pragma once

#include "demux/file_demux.h"

namespace md {

// An Ogg page at the start of the file, whole, with a valid CRC and the BOS flag.
bool ProbeOgg(const ProbeInput& input);

class OggDemux final : public FileDemux {
public:
    // One record per logical stream of the first link with a known codec, in the order of their BOS pages; the
    // stream id is the serial number, or for serial 0 the smallest id from 1 up that no other listed stream uses.
    // The times come from the granule positions: each stream lasts from its first sample (the granule position of
    // its first data page less the samples of the packets that page completes, where they can be counted without
    // decoding: Opus, Speex and Theora; else 0) to the last granule position the reads see, Opus less its pre-skip.
    // The head is walked as far as the streams' starts need (up to 512 KiB where the tail starts in a link the
    // walk has not reached), the end from the last 64 KiB. A chained file lasts the sum of the links the reads saw,
    // each as long as its longest stream; the times are marked estimated when links may have been missed: the
    // tail holds pages of a stream whose BOS page no read saw, or starts in a link other than the head's last one
    // after bytes no walk took.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
