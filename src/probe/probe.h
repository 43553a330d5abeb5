// The container probe: decides the MediaKind of a file from its first 512 KiB
// and, for program streams, from a further sequential scan. Every function here
// is a pure function of (buffer) or (stream) and can be tested on its own; none
// throws, and none allocates beyond the driver's buffer and the packet-scan
// window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "input/input_stream.h"
#include "mpeg/cdxa.h"  // ProbeCdxa, the RIFF/CDXA buffer test

// Size of the first read that serves every buffer test.
constexpr uint32_t kProbeBufferSize = 0x80000;
// SVCD phase of ProbeMpeg2Pack: 8 sectors of 2324 bytes (Mode 2 Form 2 user data).
constexpr uint32_t kSvcdSectorSize = 2324;
constexpr uint32_t kSvcdGroupSize = 8 * kSvcdSectorSize;

// The driver: runs the tests in a fixed order (the order is the tie-break)
// and returns the media kind 0..15 (with extensions, 0..34: the container families of probe/families.h are tried
// before the base tests when known by a signature, after them when found by a sync search). A null stream or a
// failed allocation gives 0.
// extensions: the MD_EXT_* bits the host turned on.
int32_t ProbeMediaKind(ZPMP::InputStream* stream, uint32_t containerHint, uint32_t extensions = 0) noexcept;

// Buffer tests: buf holds the n bytes of the first read.
int32_t ProbeTransport(const uint8_t* buf, size_t n) noexcept;  // 8 or 0
int32_t ProbeDirecTV(const uint8_t* buf, size_t n) noexcept;    // 13 or 0
// 10, 11, 12 or 0; with MD_EXT_ANNEXB_ES also MPEG-4 Visual from its first header, 17 (H.264) and 18 (HEVC).
int32_t ProbeElementary(const uint8_t* buf, size_t n, uint32_t extensions = 0) noexcept;

// ProbeMp4Atoms' answer when it met both a 'moov' and an 'mdat' box. It is the
// test's own code, not a MediaKind: the driver reports such a file as MK_MP4.
constexpr int32_t kMp4BoxesFound = 14;

// Stream tests: they re-read the stream.
int32_t ProbeMp4Atoms(ZPMP::InputStream& stream) noexcept;                 // kMp4BoxesFound or 0
int32_t ProbeMatroska(ZPMP::InputStream& stream, uint32_t extensions = 0) noexcept; // 15, 16 (WebM) or 0
int32_t ProbeMpeg1Pack(ZPMP::InputStream& stream, uint64_t pack) noexcept; // 3 or 1
// 2, 4, 5, 6 or 7 (0 when its window cannot be allocated). The SVCD phase reads
// into scratch, which must hold kSvcdGroupSize bytes; the driver lends its buffer.
int32_t ProbeMpeg2Pack(ZPMP::InputStream& stream, uint64_t pack, std::span<uint8_t> scratch) noexcept;
// The same with a scratch buffer of its own.
int32_t ProbeMpeg2Pack(ZPMP::InputStream& stream, uint64_t pack) noexcept;
