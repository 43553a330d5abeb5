// The ALAC magic cookie (ALACSpecificConfig) that MP4 'alac' boxes, Matroska A_ALAC tracks and CAF 'kuki' chunks
// carry: frameLength (32 bits), compatibleVersion (8), bitDepth (8), pb, mb, kb (8 each), numChannels (8), maxRun
// (16), maxFrameBytes (32), avgBitRate (32), sampleRate (32).
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/bytes.h"

namespace md {

constexpr size_t kAlacConfigSize = 24;

struct AlacConfig {
    uint32_t bitDepth = 0;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
};

// The cookie at the start of config. False when config is shorter than a cookie or states a version other than 0,
// a bit depth other than 16, 20, 24 or 32, no channels or more than eight, or no rate.
bool ParseAlacConfig(Bytes config, AlacConfig& out);

}  // namespace md
