// Demultiplexer of MPEG-1 system streams (ISO/IEC 11172-1), also used for the
// video-CD form: describes the first video stream and the first MPEG audio
// stream, and finds the presentation time of the first picture in display
// order and the first audio PTS.
#pragma once

#include <cstdint>
#include <memory>

#include "es/pes.h"
#include "mpeg/program_stream_demux.h"

namespace md {

// A video record for the MPEG-1 sequence header at h, len bytes from h on; null when it does not parse.
std::unique_ptr<StreamRecord> BuildMpeg1VideoRecord(const uint8_t* h, uint32_t len, uint32_t id);

class M1Demux : public ProgramStreamDemux {
public:
    // Video timing before a sequence header gave a frame rate.
    static constexpr double kDefaultFrameRate = 29.97;
    static constexpr int64_t kDefaultFrameTicks = 3003;

    M1Demux() = default;

    // Reads from the stream's current position, chunk by chunk, until the first
    // video and audio streams met are described (at most 11 chunks). Appends at
    // most one video record (codec 0) and one MPEG audio record (codec 9) to
    // streams, which may be null. 1 when a video start time or an audio PTS was
    // found; 0 otherwise, and 0 when the end of the stream came before the scan
    // had what it looks for.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    // Splits packs, system headers and PES packets; appends one record per PES
    // packet to packets (when given) and returns the bytes passed. stop is not
    // written.
    uint32_t ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* stop) override;
    uint32_t ParseBuffer(const uint8_t* buffer, uint32_t length, StreamList* streams) override;
    void Reset(int64_t startTime) override;
    bool HasContainerAspect() override;

    // Whether the last unit ParsePackets met was a system header.
    bool LastUnitWasSystemHeader() const { return m_systemHeader != 0; }

private:
    // State of one Parse call.
    struct ScanState;

    void ScanChunk(const uint8_t* chunk, uint32_t size, ScanState& s, StreamList& streams);
    void OnAudioPacket(const uint8_t* packet, uint32_t id, const PesInfo& pes, ScanState& s, StreamList& streams);
    void OnVideoPacket(const uint8_t* packet, uint32_t available, uint32_t id, const PesInfo& pes,
                       ScanState& s, StreamList& streams);

    uint8_t m_videoDescribed = 0;
    uint8_t m_audioDescribed = 0;
    uint8_t m_parsedOnce = 0;
    uint8_t m_systemHeader = 0;
};

}  // namespace md
