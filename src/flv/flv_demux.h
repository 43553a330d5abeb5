// Flash Video files: the 9-byte "FLV" version 1 header, PreviousTagSize0 of 0, then tags (audio 8, video 9, script
// data 18), each followed by its PreviousTagSize. The streams are described from the first audio and video tags
// of the head (the first 512 KiB) and the onMetaData script tag; the duration is the metadata's, else the latest
// tag timestamp found walking back from the end of the file through PreviousTagSize (in its last 64 KiB).
#pragma once

#include "demux/file_demux.h"

namespace md {

// The stream ids of the records: the tag types (FLV has at most one video and one audio stream).
constexpr uint32_t kFlvVideoStreamId = 9;
constexpr uint32_t kFlvAudioStreamId = 8;

bool ProbeFlv(const ProbeInput& input);

class FlvDemux final : public FileDemux {
public:
    // One record per stream, in the order of their first tags: from the tags (AVC, HEVC and AV1 configuration
    // records, picture headers, sound flags, the AudioSpecificConfig, the MP3 frame header), with onMetaData
    // filling what they leave open (the size of a codec without a picture header, the frame rate where neither the
    // codec nor the tag timestamps give it) and describing a stream the header flags announce but whose first tag
    // lies past the head. 1 for an FLV file.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
