// What the two program-stream demultiplexers (MPEG-1 system streams and MPEG-2
// program streams) share: their chunked reading limits, their results, and the
// MPEG audio sync search of their chunk scans.
#pragma once

#include <cstdint>

#include "es/audio_headers.h"
#include "es/start_code.h"
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

// Offset of the first MPEG audio frame sync whose 4 header bytes are in p[0..len), or len.
inline uint32_t FindMpegAudioSync(const uint8_t* p, uint32_t len)
{
    for (uint32_t i = 0; Has(len, i, 4); ++i)
        if (IsMpegAudioSync(p + i, len - i))
            return i;
    return len;
}

}  // namespace md
