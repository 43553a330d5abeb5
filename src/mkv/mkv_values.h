// The limits and value conversions the parts of the Matroska demultiplexer share:
// the segment walk (mkv_demux.cpp), the track records (mkv_tracks.cpp), the frame
// searches (mkv_frame_search.cpp), the measurements (mkv_measure.cpp) and the
// cluster and block parser (mkv_blocks.cpp).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "input/bytes.h"

namespace md::mkv {

// Bytes read per chunk of a frame search, and the most a whole scan (start, end
// or first frame of one track) reads before it gives up. A track with no frames
// would otherwise make every cue point's search read to the end of the file.
constexpr uint32_t kSearchChunk = 0x200000;
constexpr uint64_t kScanBudget = 0x4000000;
// Largest cluster ParsePackets assembles; a larger one is taken for damage.
constexpr uint64_t kMaxClusterSize = 0x2000000;

constexpr size_t kMaxElementHead = 12;

// A value of any range as int64, saturating; NaN reads 0.
inline int64_t SaturateToInt64(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (v <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

inline uint32_t SaturateToUInt32(double v)
{
    if (!(v > 0))
        return 0;
    return v >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(v);
}

inline uint32_t ToUInt32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

// An unsigned big-endian integer of up to 8 bytes.
inline uint64_t ReadUnsigned(Bytes b)
{
    uint64_t v = 0;
    for (size_t i = 0; i < b.size() && i < 8; ++i)
        v = v << 8 | b[i];
    return v;
}

}  // namespace md::mkv
