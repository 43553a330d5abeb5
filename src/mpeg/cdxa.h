// RIFF/CDXA files: the raw CD sectors of a VCD or SVCD copied into a RIFF
// container. Both the probe and the time range scan need to know one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace md {

// A raw Mode 2 sector: 24 bytes of sync, header and subheader, 2324 bytes of user
// data (Mode 2 Form 2), 4 bytes of error detection.
constexpr uint32_t kRawSectorSize = 2352;
constexpr uint32_t kRawSectorUserDataOffset = 24;
// The RIFF header up to the first byte of the "data" chunk.
constexpr uint64_t kCdxaDataOffset = 44;
// MPEG-1 program_mux_rate of at most 3528 (x 50 bytes/s) with its marker bits:
// the 24 bits of bytes 9..11 of a pack header below this value mark a VCD.
constexpr uint32_t kVcdMuxRateLimit = 0x801B92;
// The bytes ProbeCdxa needs: 50 raw sectors.
constexpr uint32_t kCdxaProbeSize = 50 * kRawSectorSize;

// 3 (VCD) or 4 (SVCD) when buf, the first n bytes of a file, is a RIFF/CDXA file
// whose raw sectors carry MPEG-1 (with a VCD mux rate) or MPEG-2 pack headers; 0
// otherwise.
int32_t ProbeCdxa(const uint8_t* buf, size_t n) noexcept;

}  // namespace md
