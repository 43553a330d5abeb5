// ASF files (WMV, WMA): every description sits in the Header Object that opens the file. Its objects are walked
// by their sizes: File Properties (the play duration, the preroll, the broadcast flag), Stream Properties (a
// BITMAPINFOHEADER for video, a WAVEFORMATEX for audio) and, inside the Header Extension Object, Extended Stream
// Properties (AvgTimePerFrame, and the Stream Properties of hidden streams) and the Metadata and Metadata Library
// objects (AspectRatioX/Y, the pixel aspect of a stream). Where no AvgTimePerFrame is stated, the first data packets
// after the Header Object give the video's frame rate by their presentation times.
#pragma once

#include "demux/file_demux.h"

namespace md {

// The most of a Header Object that is read; a longer one is described from its first kMaxAsfHeaderBytes.
constexpr uint32_t kMaxAsfHeaderBytes = 1 << 20;

// True when the head opens with the Header Object GUID and its 30-byte start is whole.
bool ProbeAsf(const ProbeInput& input);

class AsfDemux final : public FileDemux {
public:
    // One record per Stream Properties Object of a video or audio stream, in header order (stream id: the ASF
    // stream number, 1..127; a number seen twice is described once), the video frame rates (AvgTimePerFrame; the
    // first video stream's, where it states none, from its first presentation times), and the duration: play
    // duration minus preroll, unknown for a broadcast file. 1 for an ASF file, even one whose header describes
    // nothing.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
