// The stream builders (support/stream_builders.h) and a reader of the ffprobe
// reference dumps the corpus tests compare against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/stream_builders.h"

namespace mdtest {

struct ReferenceStream {
    std::string codecType;  // "video", "audio", "data"
    std::string codecName;
    uint32_t id = 0;  // "0x1e0" -> 0x1E0
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t darX = 0;  // display_aspect_ratio
    uint32_t darY = 0;
    double frameRate = 0;  // r_frame_rate
    std::string fieldOrder;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    std::optional<int64_t> startPts;
};

// The streams of an ffprobe -show_streams JSON dump (empty when unreadable).
std::vector<ReferenceStream> ReadFfprobeStreams(const std::filesystem::path& json);

}  // namespace mdtest
