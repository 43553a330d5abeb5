// Demultiplexer of DirecTV transport streams: 130-byte packets, each carrying a
// 12-bit service channel id (SCID). Parse finds the packet alignment, reads the
// program table carried on SCID 1, describes one MPEG-2 video stream and one
// audio stream (MPEG audio or AC-3) from their first headers, and collects the
// first and last timestamps of both from the first and the last 520000 bytes of
// the file.
//
// The detector uses it twice: once without a stream list, to learn the program
// table, and once with the SCIDs the host selected, to obtain the video and
// audio records and the time range.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "mediadetect/records.h"
#include "demux/demux.h"

namespace md {

class CDirecTVParser : public CPDemux {
public:
    static constexpr uint32_t kPacketSize = 130;
    static constexpr uint32_t kPayloadSize = 127;
    static constexpr uint32_t kChunkSize = 520000;
    // Nine packets whose framing bit alternates mark the alignment.
    static constexpr uint32_t kAlignmentSpan = 8 * kPacketSize;
    static constexpr uint32_t kMaxTableEntries = 128;
    static constexpr uint32_t kSectionSize = 390;
    static constexpr uint32_t kPesHeaderSize = 304;
    static constexpr uint32_t kTableScid = 1;

    // Stream types of the program table after mapping (other types read 255).
    static constexpr uint8_t kTypeMpeg2Video = 2;
    static constexpr uint8_t kTypeMpegAudio = 3;
    static constexpr uint8_t kTypeAac = 15;
    static constexpr uint8_t kTypeH264 = 27;
    static constexpr uint8_t kTypeLpcm = 128;
    static constexpr uint8_t kTypeAc3 = 129;
    static constexpr uint8_t kTypeOther = 255;

    struct TableEntry {
        uint32_t scid;
        uint32_t packetCount;  // packets of this SCID met since the table was read
        uint8_t streamType;    // mapped: 2, 3, 15, 27, 128, 129 or 255
        uint32_t isVideo;      // 1 for types 2 and 27
        uint32_t language;     // ISO 639 code of a language descriptor, shifted left by 8
    };

    CDirecTVParser();

    // Reads the first 520000 bytes from the stream's current position and the
    // last 520000 bytes of the file. 1 when the first chunk was read and aligned,
    // else 0. With a list, the video and audio records of the selected SCIDs
    // are appended (each only once it was built); without a selection the times
    // of that stream are cleared.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    uint32_t ParsePackets(const uint8_t*, uint32_t, PacketList*, uint8_t*) override { return 0; }
    uint32_t ParseBuffer(const uint8_t*, uint32_t, StreamList*) override { return 1; }
    // Clears every parse state: table, records, buffers and times. The
    // selections stay.
    void Reset(int64_t startTime) override;
    bool HasContainerAspect() override { return false; }

    // The streams to describe; a SCID below 0 selects none. A selection
    // overrides the first video and audio SCIDs of the program table.
    void SelectVideoScid(int32_t scid) { m_selectedVideoScid = scid; }
    void SelectAudioScid(int32_t scid) { m_selectedAudioScid = scid; }

    // Program table queries, in table order; n counts from 1 and an n out of
    // range gives -1.
    uint32_t GetVideoStreamCount() const;
    int32_t GetVideoStreamScid(uint32_t n) const;
    // Entries without the video flag.
    uint32_t GetAudioStreamCount() const;
    int32_t GetAudioStreamScid(uint32_t n) const;
    // The mapped stream type of a SCID, or -1 when the table does not list it.
    int32_t GetStreamType(uint32_t scid) const;
    // The table entry of a SCID, or null.
    const TableEntry* FindEntry(uint32_t scid) const;

    // The time reference of the last auxiliary time-reference packet; false
    // when none was met.
    bool GetTimeReference(uint32_t& value) const;

    // The time range: start is the smaller of the known first video and audio
    // times. Times are delivered in 100-ns units (the 90 kHz values collected
    // from the stream, times 1000 / 9), as every producer of TimeRangeInfo
    // delivers them, so the detector's duration is right; unknown times are -1.
    // The frame durations are 100-ns units (-1 as an unsigned value when unknown).
    void GetTimeRange(TimeRangeInfo& out) const;

private:
    // Per elementary stream: the bytes carried from the previous packet so a
    // start code may straddle two packets, and a PES header being assembled.
    struct PayloadState {
        std::array<uint8_t, 3> carry{};
        uint32_t carryLength = 0;
        std::array<uint8_t, kPesHeaderSize> pes{};
        uint32_t pesFill = 0;
    };
    // The carry followed by a packet's payload; bytes begin..kPacketSize hold data.
    using View = std::array<uint8_t, kPacketSize>;

    void WalkPackets(const uint8_t* buffer, uint32_t length);
    // False stops the walk.
    bool HandlePacket(const uint8_t* packet);
    void HandleTablePacket(const uint8_t* packet);
    bool ParseSection(const uint8_t* section, uint32_t length);
    void HandleVideoPacket(const uint8_t* packet);
    void HandleAudioPacket(const uint8_t* packet);
    static uint32_t ComposeView(const uint8_t* packet, const PayloadState& state, View& view);
    static void UpdateCarry(PayloadState& state, const View& view, bool pesStart);
    // Returns true when a PES header was found in the view or is still being
    // assembled.
    bool CollectPesTimes(PayloadState& state, const View& view, uint32_t begin, bool video);
    void NoteTime(int64_t time, bool video);
    bool TryVideoRecord(const uint8_t* p, uint32_t length);
    bool TryAudioRecord(const uint8_t* p, uint32_t length, int32_t streamType);
    int32_t FindEntryIndex(uint32_t scid) const;

    ZPMP::InputStream* m_input = nullptr;

    uint8_t m_timeReferenceFlag = 0;
    uint32_t m_timeReference = 0;

    std::array<TableEntry, kMaxTableEntries> m_table{};
    uint32_t m_entryCount = 0;

    int32_t m_videoScid = -1;
    int32_t m_audioScid = -1;
    int64_t m_alignment = -1;
    bool m_videoSynced = false;
    bool m_audioDescribed = false;
    std::unique_ptr<StreamRecord> m_videoRecord;
    std::unique_ptr<StreamRecord> m_audioRecord;

    // 90 kHz, -1 until known.
    int64_t m_videoFirstTime = -1;
    int64_t m_videoLastTime = -1;
    int64_t m_audioFirstTime = -1;
    int64_t m_audioLastTime = -1;

    PayloadState m_video;
    PayloadState m_audio;
    std::array<uint8_t, kSectionSize> m_section{};
    uint32_t m_sectionFill = 0;
    bool m_sectionBegun = false;

    int32_t m_selectedVideoScid = -1;
    int32_t m_selectedAudioScid = -1;

    // 100-ns units, -1 until known.
    int64_t m_videoFrameDuration = -1;
    int64_t m_audioFrameDuration = -1;
};

}  // namespace md
