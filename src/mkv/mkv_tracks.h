// Track records: the CodecID tables, and one stream record per track entry with
// what the codec's CodecPrivate gives (mkv_tracks.cpp).
#pragma once

#include <memory>

#include "demux/stream_record.h"
#include "mkv/mkv_demux.h"

namespace md {

// A track record being built, with what the measurements need beside it.
struct MKVDemux::TrackInfo {
    std::unique_ptr<StreamRecord> record;
    double timecodeScale = 1.0;  // TrackTimecodeScale
};

namespace mkv {

// The PCM codecs (A_PCM/...), whose byte rate the track's own values give.
bool IsPcm(StreamCodec codec);

// The video codecs only extensions describe, whose frames carry no start-code headers.
bool IsExtendedVideo(StreamCodec codec);

}  // namespace mkv
}  // namespace md
