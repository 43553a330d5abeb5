// The video record of a bare elementary stream, which only extensions describe: the base behaviour reports the kind
// of such a file and nothing more.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/stream_record.h"
#include "input/input_stream.h"

namespace md {

// From the first 128 KiB of the stream: MPEG-1 video (kind 10) by the rule of MPEG-1 system streams, MPEG-2 video (11)
// and H.264 (17) by the transport-stream rules, MPEG-4 Visual (12) from its video object layer, HEVC (18) from its
// parameter sets. extensions: the MD_EXT_* bits in effect (H.264 profiles, MPEG-2 frame rate extensions). Null when
// the kind is none of these or no record can be built.
std::unique_ptr<StreamRecord> DescribeElementaryVideo(ZPMP::InputStream& input, uint32_t kind, uint32_t extensions);

}  // namespace md
