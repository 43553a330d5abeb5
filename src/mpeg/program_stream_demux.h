// What the two program-stream demultiplexers (MPEG-1 system streams and MPEG-2
// program streams) share: their chunked reading limits, their results, and the
// byte searches of their chunk scans.
#pragma once

#include <cstdint>

#include "es/audio_headers.h"
#include "input/bytes.h"
#include "mpeg/demux.h"

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

// Offset of the first 00 00 01 <code> in p[0..len), or len when there is none.
inline uint32_t FindCode(const uint8_t* p, uint32_t len, uint8_t code)
{
    for (uint32_t i = 0; Has(len, i, 4); ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == code)
            return i;
    return len;
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
