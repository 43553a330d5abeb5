// What the two program-stream demultiplexers (MPEG-1 system streams and MPEG-2
// program streams) share: their chunked reading limits, their results, and the
// byte searches of their chunk scans.
#pragma once

#include <cstdint>
#include <cstring>

#include "es/audio_headers.h"
#include "input/bytes.h"
#include "demux/demux.h"

namespace md {

class ProgramStreamDemux : public CPDemux {
public:
    // Read size of one chunk, the number of chunks one Parse reads at most, and
    // the bytes a chunk scan needs left to look at the next unit.
    static constexpr uint32_t kChunkSize = 655360;
    static constexpr uint32_t kMaxChunks = 11;
    static constexpr uint32_t kScanReserve = 140;

    // Results of the last Parse. Times are 90 kHz ticks.
    // Set when a Parse succeeded.
    bool Parsed() const { return m_parsed != 0; }
    // The smaller of the first audio PTS and the video start time; 0 until known.
    int64_t StartTime() const { return m_startTime; }
    // Presentation time of the first picture in display order; -1 until known.
    int64_t VideoStartTime() const { return m_videoStartTime; }

protected:
    uint8_t m_parsed = 0;
    int64_t m_startTime = 0;
    int64_t m_videoStartTime = -1;
    ZPMP::InputStream* m_input = nullptr;
};

// True when p starts with a 00 00 01 prefix and 4 bytes are there.
inline bool IsPrefixAt(const uint8_t* p, uint32_t left)
{
    return Has(left, 0, 4) && p[0] == 0 && p[1] == 0 && p[2] == 1;
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

// Offset of the first MPEG audio frame sync whose 4 header bytes are in p[0..len), or len.
inline uint32_t FindMpegAudioSync(const uint8_t* p, uint32_t len)
{
    for (uint32_t i = 0; Has(len, i, 4); ++i)
        if (IsMpegAudioSync(p + i, len - i))
            return i;
    return len;
}

}  // namespace md
