// Start-code searches shared by the MPEG demultiplexers and scans: the 00 00 01
// prefix walk, its masked 32-bit variant, the stream_id classes, and the
// per-stream-type tests for a sequence header and for the coding type of the
// first picture.
#pragma once

#include <cstdint>

namespace md {

// Stream kinds the scans below understand, numbered as the MPEG-2 stream_type
// values of their video streams.
constexpr uint32_t kModeMpegVideo = 2;   // MPEG-1/2 video
constexpr uint32_t kModeH264 = 27;       // H.264 (stream_type 0x1B)
constexpr uint32_t kModeMvc = 32;        // MVC (stream_type 0x20)

// stream_id classes of ISO/IEC 13818-1 Table 2-22.
constexpr bool IsVideoStreamId(uint32_t id) { return (id & 0xF0) == 0xE0; }
constexpr bool IsAudioStreamId(uint32_t id) { return (id & 0xE0) == 0xC0; }
constexpr bool IsPrivateStream1(uint32_t id) { return id == 0xBD; }

// True when p points at 00 00 01 and 4 bytes (prefix and code) are available.
constexpr bool IsStartCodeAt(const uint8_t* p, uint32_t remaining)
{
    return remaining >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Advances p one byte at a time while more than 4 bytes remain and p does not
// point at 00 00 01. Returns true when at least 4 bytes remain at the stop. With
// exactly 4 bytes left the walk stops without testing them, so a true result
// does not by itself mean that p is on a prefix; check with IsStartCodeAt.
bool FindStartCode(const uint8_t*& p, uint32_t& remaining);

// The same walk with the test (big-endian 32-bit value at p & mask) == pattern,
// e.g. 0x00000100/0xFFFFFF00 for any MPEG start code, or 0x000001/0x00FFFFFF for
// a byte followed by an H.264 three-byte prefix.
bool FindMaskedStartCode(const uint8_t*& p, uint32_t& remaining, uint32_t pattern, uint32_t mask);

// Mode 2: a 00 00 01 B3 sequence header start code occurs; modes 27 and 32: a
// NAL unit of type 7 (SPS) or 15 (subset SPS) occurs. Other modes: false.
bool HasSequenceHeader(const uint8_t* p, uint32_t len, uint32_t mode);

// The coding type of the first picture: -1 none, 0 I, 1 P, 2 B, 3 IDR.
// Mode 2: picture_coding_type of the first picture header with a type 1..3.
// Modes 27 and 32: the first IDR slice NAL unit, or the first non-IDR slice with
// first_mb_in_slice 0, classed by slice_type.
int PictureType(const uint8_t* p, uint32_t len, uint32_t mode);

}  // namespace md
