// Demultiplexer of MPEG-2 program streams (ISO/IEC 13818-1) and their disc
// forms (SVCD, DVD-Video, DVD-VR, MPEG-4 video in a program stream): describes
// the first video stream (MPEG-1, MPEG-2 or MPEG-4 Visual), the first MPEG
// audio stream and the first private-stream-1 sub-stream (AC-3, DTS or LPCM),
// finds the video start time and the first audio PTS, and takes the display
// aspect ratio from a DVD-VR real-time data packet when one is present.
#pragma once

#include <cstdint>
#include <memory>

#include "es/pes.h"
#include "mpeg/program_stream_demux.h"

namespace md {

class M2Demux : public ProgramStreamDemux {
public:
    // Size of the buffer that joins a sequence header split across two video packets.
    static constexpr uint32_t kCarrySize = 2560;

    M2Demux() = default;

    // Reads from the stream's current position, chunk by chunk (at most 11),
    // until the streams the packs and system headers announce are described.
    // Appends one record per stream id to streams (which may be null): the first
    // video stream, the first MPEG audio stream, the first private-stream-1
    // sub-stream (record stream id 0xBD). 1 when a time was found and an audio or
    // a video record exists, else 0. Success lets ParsePackets run.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    // Splits packs, system headers and PES packets of the buffer into packets
    // (when given), adding the accumulated clock offset to each PTS. Stops after
    // a pack header whose system_clock_reference went backwards, and does nothing
    // until a Parse or ParseBuffer succeeds again. Returns the bytes passed; stop
    // (when given) receives the stop flag.
    uint32_t ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* stop) override;
    // Describes the streams found in a memory buffer, without times. 1 when every
    // kind of stream announced so far (video, audio) has a record.
    uint32_t ParseBuffer(const uint8_t* buffer, uint32_t length, StreamList* streams) override;
    // Restarts the clock following of ParsePackets at startTime (100-ns units).
    void Reset(int64_t startTime) override;
    // Whether a DVD-VR real-time data packet supplied the display aspect ratio.
    bool HasContainerAspect() override;


private:
    // State of one Parse call.
    struct ScanState {
        bool videoTimeFound = false;
        bool audioPtsFound = false;
        int64_t audioPts = 0;  // smallest PTS of the packets that gave audio records
    };

    // The stream discovery over one buffer. fromFile: the Parse form, which also
    // reads navigation packets, joins split sequence headers, collects the video
    // headers and records times; ParseBuffer runs it without those.
    void ScanChunk(const uint8_t* buffer, uint32_t size, bool fromFile, ScanState& s, StreamList& streams);
    void OnPesPacket(const uint8_t* packet, const PesInfo& pes, bool fromFile, ScanState& s, StreamList& streams);
    void ReadNavigationAspect(const uint8_t* packet, uint32_t available);
    std::unique_ptr<StreamRecord> BuildVideoRecord(const uint8_t* header, uint32_t length, uint32_t id,
                                                   bool useCarry);
    void KeepForNextPacket(const uint8_t* bytes, uint32_t length);
    void RewriteStoredAspect(StreamRecord& rec) const;

    uint8_t m_video = 0;        // video announced, met or described
    uint8_t m_audio = 0;        // audio or private stream 1 announced, audio met or described
    uint8_t m_parsedFlag = 0;
    int64_t m_timeOffset = 0;   // 90 kHz, added to PTS values by ParsePackets
    int64_t m_lastScr = 0;      // 27 MHz
    uint8_t m_mpeg4 = 0;        // a VOP start code 00 00 01 B6 was seen in a video packet
    uint8_t m_noExtension = 0;  // a sequence header without a sequence extension: MPEG-1 video
    uint8_t m_discontinuityPending = 0;
    uint8_t m_stop = 1;
    uint8_t m_aspectOverride = 0;
    uint32_t m_overrideX = 0;
    uint32_t m_overrideY = 0;
    std::unique_ptr<uint8_t[]> m_carry;  // kCarrySize bytes, allocated on first need
    uint32_t m_carryCount = 0;
};

}  // namespace md
