// Start codes as every parser of MPEG syntax finds them: the 00 00 01 prefix
// test, the searches built on it (the prefix walk, its masked 32-bit variant and
// the memchr-driven search for a given code), the stream_id classes, and the
// per-stream-type tests for a sequence header and for the coding type of the
// first picture.
#pragma once

#include <cstdint>
#include <cstring>

#include "input/bytes.h"

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

// The start-code prefix 00 00 01 at p; the caller has checked that 3 bytes are there.
constexpr bool IsStartCodePrefix(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

// The start code 00 00 01 code at p; the caller has checked that 4 bytes are there.
constexpr bool IsStartCode(const uint8_t* p, uint8_t code) { return IsStartCodePrefix(p) && p[3] == code; }

// True when p (not null) points at 00 00 01 and 4 bytes (prefix and code) are available.
constexpr bool IsStartCodeAt(const uint8_t* p, uint32_t remaining)
{
    return p != nullptr && remaining >= 4 && IsStartCodePrefix(p);
}

// The same, and the code byte is code.
constexpr bool IsStartCodeAt(const uint8_t* p, uint32_t remaining, uint8_t code)
{
    return IsStartCodeAt(p, remaining) && p[3] == code;
}

// Offset of the first start code 00 00 01 xx in p[0..len) for which accept(xx)
// holds, or len when there is none. memchr finds the 01 of each candidate, so
// a scan over payload bytes costs little more than a pass of memchr.
template <typename Accept>
uint32_t FindCodeIf(const uint8_t* p, uint32_t len, Accept accept)
{
    for (uint32_t i = 0; Has(len, i, 4);) {
        // The 01 of a prefix starting at j >= i lies at j + 2, at most at len - 2.
        const auto* one = static_cast<const uint8_t*>(std::memchr(p + i + 2, 0x01, len - 1 - (i + 2)));
        if (one == nullptr)
            return len;
        const auto j = static_cast<uint32_t>(one - p) - 2;
        if (p[j] == 0 && p[j + 1] == 0 && accept(p[j + 3]))
            return j;
        i = j + 1;
    }
    return len;
}

// Offset of the first 00 00 01 <code> in p[0..len), or len when there is none.
inline uint32_t FindCode(const uint8_t* p, uint32_t len, uint8_t code)
{
    return FindCodeIf(p, len, [code](uint8_t c) { return c == code; });
}

// Offset of the first start code (00 00 01 xx) in p[0..len), or len.
inline uint32_t FindAnyCode(const uint8_t* p, uint32_t len)
{
    return FindCodeIf(p, len, [](uint8_t) { return true; });
}

// Offset of the first start code (00 00 01 xx) at or after from in p[0..len), or len.
inline uint32_t NextStartCode(const uint8_t* p, uint32_t len, uint32_t from)
{
    return from < len ? from + FindAnyCode(p + from, len - from) : len;
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
