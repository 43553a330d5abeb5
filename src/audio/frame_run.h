// Runs of audio frames whose headers state their own length (MPEG audio, ADTS): how a file made of them is found
// (a frame confirmed by the frames that follow where its length says, all of one stream), and the bit rate of its
// first frames. Format is a type with
//   using Frame = ...;
//   static bool Parse(const uint8_t* p, size_t len, Frame& frame);   // a valid header at p
//   static uint32_t Bytes(const Frame& frame);                        // > 0
//   static uint32_t BitRate(const Frame& frame);
//   static bool Same(const Frame& first, const Frame& next);          // next belongs to first's stream
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/bytes.h"

namespace md {

struct FrameRunRule {
    uint32_t atStart;    // frames in a row that make a file of frames starting at its first byte
    uint32_t elsewhere;  // frames in a row found further in: a first frame may be a false sync in other bytes
    size_t searchBytes;  // how far the first frame is looked for
};

// The frames in a row from b[at] (at most want) that belong to the first one's stream; endsInside: the count
// stopped because the bytes ended, inside a frame or at its end, rather than at a frame that does not follow.
template <class Format>
uint32_t FramesInRow(Bytes b, size_t at, uint32_t want, bool& endsInside)
{
    endsInside = false;
    typename Format::Frame first{}, next{};
    if (at >= b.size() || !Format::Parse(b.data() + at, b.size() - at, first))
        return 0;
    uint32_t frames = 1;
    size_t pos = at + Format::Bytes(first);
    for (; frames < want; ++frames) {
        if (!Has(b, pos, 4)) {
            endsInside = true;
            break;
        }
        if (!Format::Parse(b.data() + pos, b.size() - pos, next) || !Format::Same(first, next))
            break;
        pos += Format::Bytes(next);
    }
    return frames;
}

// Where the first run of frames in b starts: rule.atStart frames in a row at offset 0 (or at least two there when
// endsFile and the bytes end inside the run: a short or truncated file), else rule.elsewhere frames in a row at the
// first offset below rule.searchBytes that has them. False when there is none.
template <class Format>
bool FindFrameRun(Bytes b, bool endsFile, const FrameRunRule& rule, size_t& offset)
{
    const size_t last = b.size() < rule.searchBytes ? b.size() : rule.searchBytes;
    for (size_t at = 0; at < last; ++at) {
        if (b[at] != 0xFF)
            continue;
        const uint32_t want = at == 0 ? rule.atStart : rule.elsewhere;
        bool endsInside = false;
        const uint32_t frames = FramesInRow<Format>(b, at, want, endsInside);
        if (frames >= want || (at == 0 && frames >= 2 && endsInside && endsFile)) {
            offset = at;
            return true;
        }
    }
    return false;
}

// The bit rate of the first frames from b[at], as ffprobe's parsers estimate it: a running mean updated frame by
// frame in integer arithmetic (mean += (rate - mean) / n, truncated) over the first sampleFrames frames, and over
// those after them whose headers lie in the same blocks of blockBytes counted from at (ffprobe reads MPEG audio
// files in blocks of 1024 bytes and parses all of a block). 0 when no frame is at b[at].
template <class Format>
uint32_t SampleBitRate(Bytes b, size_t at, uint32_t sampleFrames, size_t blockBytes)
{
    typename Format::Frame first{}, next{};
    if (blockBytes == 0 || at >= b.size() || !Format::Parse(b.data() + at, b.size() - at, first))
        return 0;
    int64_t mean = 0;
    size_t pos = at;
    size_t limit = b.size();
    // Each frame is at least a byte long: a block holds no more frames than it has bytes.
    const uint64_t cap = uint64_t(sampleFrames) + blockBytes;
    for (uint64_t n = 1; n <= cap; ++n) {
        if (!Has(b, pos, 4) || pos + 4 > limit || !Format::Parse(b.data() + pos, b.size() - pos, next) ||
            !Format::Same(first, next))
            break;
        mean += (int64_t(Format::BitRate(next)) - mean) / int64_t(n);
        pos += Format::Bytes(next);
        if (n == sampleFrames)
            limit = at + (pos - at + blockBytes - 1) / blockBytes * blockBytes;
    }
    return static_cast<uint32_t>(mean);
}

}  // namespace md
