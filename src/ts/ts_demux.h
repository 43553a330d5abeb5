// Demultiplexer of MPEG-2 transport streams (ISO/IEC 13818-1) of 188-, 192- and
// 204-byte packets. Parse reads the Program Association and Program Map Tables,
// describes the selected video and audio PIDs from their first PES payloads,
// measures the time range of both from PES timestamps near the start and the end
// of the file, and estimates the bit rate of H.264 video. The accessors then list
// the programs and their streams, and FindKeyframeTime finds the presentation
// time of the first key picture after a byte position.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "mediadetect/records.h"
#include "demux/demux.h"
#include "demux/tag_list.h"
#include "input/ring_buffer.h"
#include "ts/ts_packet.h"
#include "ts/ts_sdt.h"

namespace md {

class TSDemux : public CPDemux {
public:
    // First-pass chunk: 4000 packets of 188 bytes.
    static constexpr uint32_t kChunkSize = 4000 * kTsPacketSize;
    static constexpr uint32_t kVideoRingSize = 2048;
    // Held video bytes from which the stream headers are taken.
    static constexpr uint32_t kVideoHeldBytes = 940;

    TSDemux();
    ~TSDemux() override;

    // The host's four selection words, in host order. Always succeeds.
    void SetSelection(int32_t videoPid, int32_t videoStreamType, int32_t audioPid, int32_t audioStreamType);

    // Reads from the stream's current position. Appends the video and audio
    // records of the selection to streams (when given). 1 on success; 0 for a
    // missing stream, a failed allocation, no sync in the first chunk or a read
    // of 0 bytes in any pass (records appended before stay in the list).
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    uint32_t ParsePackets(const uint8_t*, uint32_t, PacketList*, uint8_t*) override { return 0; }
    uint32_t ParseBuffer(const uint8_t*, uint32_t, StreamList*) override { return 1; }
    void Reset(int64_t) override {}
    bool HasContainerAspect() override { return false; }

    // False when no program is known; otherwise the count and, when pmtPids is
    // given (room for kTsMaxPrograms), the PMT PID of every program in table order.
    bool GetProgramList(uint32_t& count, uint32_t* pmtPids) const;
    // The video and audio PIDs of the program with this PMT PID (0: the first
    // program), in entry order; each array, when given, needs room for
    // kTsMaxStreams. False when no program is known; true with nothing written
    // for a PMT PID not in the table.
    bool GetProgramStreams(uint32_t pmtPid, int32_t& videoCount, uint32_t* videoPids, int32_t& audioCount,
                           uint32_t* audioPids) const;
    // The PIDs of the DVB subtitle and teletext streams of every program, in table
    // and entry order, at most kTsMaxStreams (pids, when given, needs that room).
    // Only PMTs read with MD_EXT_TS_CODECS mark such streams. False when no
    // program is known.
    bool GetSubtitlePids(uint32_t& count, uint32_t* pids) const;
    // The measured times (100-ns units) and frame durations. startTime becomes
    // the smaller of the known first times and is left alone when neither is known.
    void GetTimeRange(TimeRangeInfo& out) const;
    void HasRegistrationDescriptor(uint8_t& flag) const { flag = m_registrationDescriptor; }
    // With MD_EXT_TAGS: the service_name and service_provider the SDT gives the program that lists pid (a video or
    // audio PID; any other value: the first program), into a cleared list. The SDT is read from the packets of
    // the first pass.
    void ServiceTags(int32_t pid, TagList& tags) const;
    // The PTS (100-ns units) of the first key picture of the selected video PID
    // after a byte position. Needs a video record from Parse.
    bool FindKeyframeTime(ZPMP::InputStream* input, int64_t position, int64_t& time);

private:
    // First pass: PSI and stream records. audioByteRate receives the audio byte
    // rate the bit-rate estimate uses.
    bool ReadTables(StreamList* streams, uint32_t& audioByteRate);
    void ExaminePacket(const uint8_t* packet, StreamList* streams, uint32_t& audioByteRate);
    bool FirstPassDone() const;
    // Second pass: PTS range near the start and the end of the file.
    bool MeasureTimeRange();
    // Third pass: bit rate of the H.264 records.
    bool EstimateH264BitRates(StreamList& streams, uint32_t audioByteRate);
    uint32_t Stride() const { return kTsPacketSize + uint32_t(m_strideExtra > 0 ? m_strideExtra : 0); }

    // Record builders over the packets of the selected PIDs.
    std::unique_ptr<StreamRecord> HandleVideoPacket(const uint8_t* packet);
    std::unique_ptr<StreamRecord> HandleAudioPacket(const uint8_t* packet);

    PatAssembler m_pat;
    std::unique_ptr<TsSelection> m_selection;
    uint8_t m_videoHeaderSeen = 0;
    uint8_t m_mpeg1 = 0;  // no extension start code follows the sequence header
    std::array<uint8_t, 192> m_videoSide{};
    uint32_t m_videoSideCount = 0;
    uint8_t m_audioStarted = 0;
    std::array<uint8_t, 2 * 184> m_audioBuffer{};  // previous and current payload
    uint32_t m_audioCount = 0;
    ZPMP::InputStream* m_input = nullptr;  // not owned
    uint8_t m_videoRecordDone = 0;
    uint8_t m_audioRecordDone = 0;
    // The held video bytes gave no record; examining them again gives none either.
    uint8_t m_videoHeldRejected = 0;
    int32_t m_strideExtra = -1;  // 0, 4 or 16 once the packet size is known
    uint8_t m_patParsed = 0;
    TsProgramTable m_programs{};
    int64_t m_videoDuration = 0;  // 100-ns units
    int64_t m_audioDuration = 0;
    TsTimes m_times;
    std::unique_ptr<RingBuffer> m_videoRing;
    uint8_t m_registrationDescriptor = 0;
    std::vector<TsService> m_services;  // from the SDT (MD_EXT_TAGS)
    uint8_t m_sdtParsed = 0;
};

}  // namespace md
