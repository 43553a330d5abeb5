// AVI files: RIFF 'AVI ' with its header list 'hdrl' and its data list 'movi', and the OpenDML extensions (an
// 'odml' list counting the frames of every RIFF, 'AVIX' RIFFs continuing the data past 1 GiB). The streams are
// described from their 'strh'/'strf' headers, and where the codec's own header says more (an MPEG-4 VOL, an H.264
// SPS, an MPEG video sequence header, a DV frame, an MPEG audio, AC-3 or DTS frame header), from the stream's first
// chunk in 'movi'. The index ('idx1', 'indx') is not read.
#pragma once

#include "demux/file_demux.h"

namespace md {

// 'RIFF' with the form type 'AVI '.
bool ProbeAvi(const ProbeInput& input);

class AviDemux final : public FileDemux {
public:
    // One record per video and audio stream, stream id = the stream's number + 1 (the number its 'movi' chunks are
    // named by); a stream whose 'strh' or 'strf' is cut short or unreadable gets none. The times: the video from the
    // frame count (the 'dmlh' total where there is one, else 'avih' dwTotalFrames) over the video stream's rate; the
    // audio from the first audio stream's 'strh' dwLength x dwScale / dwRate. 1 for an AVI file, 0 otherwise.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
