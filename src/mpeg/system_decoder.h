// System stream decoders: they take the bytes of an MPEG-1 system stream
// (ISO/IEC 11172-1) or an MPEG-2 program stream (ISO/IEC 13818-1) in pieces of
// any size, split them into packs, system headers and PES packets, collect each
// elementary stream's payload with the presentation times of its packets, and
// then walk one stream's collected bytes unit by unit (sequence headers, GOPs,
// pictures, VOPs, VOLs, audio frames), giving each unit the presentation time
// of the packet it came from. The time range scan uses them to find the first
// and the last presentation times of a file.
//
// Use: BeginStream, then Feed pieces; between feeds TakeVideo / TakeAudio a
// stream's bytes and call NextUnit until it returns 0; EndStream. Every buffer
// is a fixed-capacity RingBuffer: callers take a stream's bytes between feeds so
// that no stream buffer fills up (payload that would not fit is dropped).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "input/ring_buffer.h"

namespace md {

// Unit types NextUnit reports.
enum MuxUnitType : uint32_t {
    kUnitNone = 0,
    kUnitGop = 1,
    kUnitPicture = 2,
    kUnitSequenceEnd = 3,
    kUnitSequenceHeader = 4,
    kUnitVop = 5,  // MPEG-4 Visual video object plane
    kUnitVol = 6,  // MPEG-4 Visual video object layer
    kUnitAudioFrame = 9,
};

// The coding of an audio stream index.
enum AudioCoding : int32_t {
    kAudioCodingNone = 0,
    kAudioCodingAc3 = 1,
    kAudioCodingMpeg = 2,
    kAudioCodingLpcm = 4,
    kAudioCodingDts = 5,
};

struct MuxUnitInfo {
    uint32_t type;               // MuxUnitType
    uint32_t remapped;           // 1 when the packet's stream id was remapped
    uint32_t offset;             // of the unit's first byte in the taken data
    int64_t time;                // presentation time, 100-ns units; -1 when none
    uint32_t pictureCodingType;  // pictures: picture_coding_type (1 I, 2 P, 3 B)
};

// The state machine, the stream buffers and time queues and the unit walk that
// both decoders share; they differ in the pack header and the packet syntax.
class CMpegMuxDec {
public:
    static constexpr int32_t kAudioStreams = 32;  // stream_id 0xC0..0xDF and the private-stream-1 sub-streams
    static constexpr int32_t kVideoStreams = 16;  // stream_id 0xE0..0xEF
    static constexpr int32_t kTimeQueueSize = 100;
    // Input buffer capacity of the decoders the time range scan uses.
    static constexpr int32_t kDefaultCapacity = 204800;

    // capacity: of the input buffer, of every stream buffer and of the unit buffer.
    explicit CMpegMuxDec(int32_t capacity);
    CMpegMuxDec(const CMpegMuxDec&) = delete;
    CMpegMuxDec& operator=(const CMpegMuxDec&) = delete;
    virtual ~CMpegMuxDec();

    // Starts a pass: clears the parse state, the stream buffers, the time queues
    // and the audio frame lock (not the first-seen MPEG audio values) and creates
    // a new input buffer.
    virtual void BeginStream();
    // Diagnostic text on stderr while the flag is not 0.
    virtual void SetTrace(uint32_t flag);
    // Appends the bytes to the input buffer and runs the state machine as far as
    // the data allows. Returns 0 when it stopped to wait for more data.
    virtual uint32_t Feed(const uint8_t* bytes, uint32_t count);
    // Moves the collected bytes of audio / video stream `index` into destination
    // (and into the unit buffer for NextUnit). Returns the bytes moved: 0 when the
    // stream has no buffer or no bytes. Bytes beyond the destination are dropped.
    virtual uint32_t TakeAudio(int32_t index, std::span<uint8_t> destination);
    virtual uint32_t TakeVideo(int32_t index, std::span<uint8_t> destination);
    // Frees the stream buffers and the input buffer.
    virtual void EndStream();
    // Moves to the next system start code (pack, system header, program end or
    // PES packet) of the input buffer and consumes it: 0x1BA, 0x1BB, 0x1B9 or
    // 0x1BC..0x1FF; -1 when the input holds none yet.
    virtual int32_t NextStartCode();
    // State handlers for a system header and a PES packet whose start codes were
    // consumed; 1 when the machine can go on, 0 when it waits for more data.
    virtual uint32_t ParseSystemHeader();
    virtual uint32_t ParsePacket();
    virtual void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The next unit of the taken bytes; 0 at their end.
    virtual uint32_t NextUnit(MuxUnitInfo& unit);
    // Lowest video stream index (0..15) that has a buffer, -1 when none.
    virtual int32_t FirstVideoStream();
    // Audio stream index of the latest audio packet, -1 before the first.
    virtual int32_t CurrentAudioStream();
    // Frame size in bytes of the current audio stream's coding, -1 when unknown.
    virtual int32_t AudioUnitSize();
    // Stream-id remapping: while on, the video stream_id set here is read as
    // 0xE0, the audio stream_id as 0xC0 and the private-stream-1 sub-stream id as
    // the first of its range (0x80 or 0xA0).
    virtual void SetStreamRemap(bool on);
    virtual void SetVideoStreamId(uint32_t id);
    virtual void SetAudioStreamIds(uint32_t id, uint32_t subStreamId);

    // The coding of audio stream `index` (AudioCoding), 0 when not known.
    int32_t AudioCodingOf(int32_t index) const;

protected:
    enum ParseState : uint32_t {
        kStateSearching = 0,  // looking for a pack start code
        kStateDispatch = 1,   // looking for the next system start code
        kStateProgramEnd = 2,
        kStatePackHeader = 5,
        kStateSystemHeader = 6,
        kStatePacket = 7,
    };

    struct TimeEntry {
        int64_t time = -1;    // 100-ns units; -1 once handed out
        uint32_t count = 0;   // the stream buffer's byte count when the packet arrived
        uint8_t remapped = 0; // video: the packet's stream id was remapped
    };
    struct StreamSlot {
        std::unique_ptr<RingBuffer> buffer;  // created on the stream's first packet
        std::array<TimeEntry, kTimeQueueSize> queue{};
    };
    // A private-stream-1 sub-stream's frame walk: its sub-stream header gives the
    // number of frames that start in the packet and where the first one starts.
    struct SubStreamRecord {
        bool fresh = true;  // the next packet starts a new walk
        int32_t framesLeft = 0;
        int32_t unitOffset = 0;
    };

    // The pack header handler, the start code consumed: 1 to go on, 0 to wait.
    virtual uint32_t ParsePackHeader() = 0;
    // Parses one complete PES packet: packet[0..3] is its start code, size is
    // 6 + PES_packet_length; id is the stream id after remapping.
    virtual void DecodePacket(const uint8_t* packet, uint32_t size, uint8_t id, bool remapped) = 0;

    // Queues a presentation time for a stream of one kind; the kind's write
    // position grows to the last entry, which later times overwrite.
    void QueueTime(StreamSlot& slot, int32_t& position, int64_t time, bool remapped);
    // The stream's buffer (created when missing), or null when it cannot be made.
    RingBuffer* StreamBuffer(StreamSlot& slot);
    // Appends payload to the stream's buffer when it fits.
    void AppendPayload(StreamSlot& slot, const uint8_t* bytes, uint32_t count);
    // Consumes n bytes of the input.
    void SkipInput(uint32_t n);
    // The state a consumed system start code leads to.
    void Dispatch(int32_t code);

    int32_t m_capacity;
    uint32_t m_trace = 0;
    uint32_t m_state = kStateSearching;
    std::unique_ptr<RingBuffer> m_input;
    std::unique_ptr<uint8_t[]> m_packet;  // one whole PES packet: 6 + 65535 bytes
    uint8_t m_packetId = 0;               // stream id of the packet being read, after remapping
    bool m_packetRemapped = false;

    std::array<StreamSlot, kAudioStreams> m_audio;
    std::array<StreamSlot, kVideoStreams> m_video;
    int32_t m_audioQueuePosition = 0;  // shared by the audio and private-stream-1 queues
    int32_t m_videoQueuePosition = 0;
    std::array<int32_t, kAudioStreams> m_audioCoding{};
    std::array<SubStreamRecord, 8> m_subStreams{};
    int32_t m_currentAudio = -1;
    int32_t m_currentVideo = -1;

    // The taken bytes and the unit walk over them.
    std::unique_ptr<RingBuffer> m_unit;
    uint32_t m_unitOffset = 0;
    uint32_t m_takenCount = 0;
    int32_t m_takenIndex = -1;
    bool m_takenVideo = false;
    bool m_mpeg4Video = false;  // VOPs and VOLs instead of MPEG-1/2 video units

    // MPEG audio frame lock.
    bool m_locked = false;
    uint32_t m_lockedHeader = 0;  // bits 16, 9, 8 and 3..0 cleared
    int32_t m_lockedFrameSize = 0;
    int32_t m_firstLayer = -1;
    int32_t m_firstSamplesPerFrame = -1;
    int32_t m_firstBitRate = -1;
    int32_t m_firstSampleRate = -1;

    // Fixed frame sizes (bytes) and time steps (100-ns units) of the sub-stream codings.
    int32_t m_lpcmUnitSize = 0;
    int32_t m_ac3UnitSize = 0;
    int64_t m_ac3TimeStep = 0;
    int32_t m_dtsUnitSize = 0;  // the DTS header gives no size: one unit per packet time
    int64_t m_dtsTimeStep = 0;
    bool m_ac3Settled = false;
    bool m_dtsSettled = false;
    bool m_subStreamTiming = false;  // set by MPEG2SystemDec_c::SetSubStreamTiming

    bool m_remap = false;
    uint32_t m_remapVideoId = 0;
    uint32_t m_remapAudioId = 0;
    uint32_t m_remapSubStreamId = 0;

private:
    uint32_t Take(StreamSlot* slot, int32_t index, bool video, std::span<uint8_t> destination);
    uint32_t NextVideoUnit(MuxUnitInfo& unit);
    uint32_t NextMpegAudioUnit(MuxUnitInfo& unit);
    uint32_t NextFixedAudioUnit(MuxUnitInfo& unit);
    bool CountsAsMpegAudioFrame(uint32_t header);
    // Hands out the time of the last queue entry at or before the unit offset.
    int64_t TimeAt(StreamSlot& slot, int32_t position, bool markUsed) const;
    // At the end of the taken bytes: the latest entry moves to the front.
    void CarryLatestEntry(StreamSlot& slot, int32_t& position);
};

// MPEG-1 system streams: pack headers of ISO/IEC 11172-1 and the MPEG-1 packet
// syntax; audio streams 0xC0..0xDF and video streams 0xE0..0xEF.
class MPEG1SystemDec_c : public CMpegMuxDec {
public:
    explicit MPEG1SystemDec_c(int32_t capacity) : CMpegMuxDec(capacity) {}

protected:
    uint32_t ParsePackHeader() override;
    void DecodePacket(const uint8_t* packet, uint32_t size, uint8_t id, bool remapped) override;
};

// MPEG-2 program streams: MPEG-2 pack headers and PES packets, with the DVD
// private-stream-1 sub-streams AC-3 (0x80..0x87), DTS (0x88) and LPCM
// (0xA0..0xA8), and an MPEG-4 Visual video mode.
class MPEG2SystemDec_c : public CMpegMuxDec {
public:
    explicit MPEG2SystemDec_c(int32_t capacity) : CMpegMuxDec(capacity) {}
    // Video units are MPEG-4 Visual VOPs and VOLs.
    void SetMpeg4Video(bool on) { m_mpeg4Video = on; }
    // Private stream 1 timed as its sub-stream headers give it: a packet's PTS is
    // the time of the sub-stream it carries (the sub-stream id follows the PES
    // header; by default the time goes to the audio stream of the packet before,
    // so that the first packet's time is lost); a walk of fixed-size frames hands
    // out as many as the number_of_frame_headers fields count (by default one
    // more); an AC-3 frame steps the time by its 1536 samples.
    void SetSubStreamTiming(bool on) { m_subStreamTiming = on; }

protected:
    uint32_t ParsePackHeader() override;
    void DecodePacket(const uint8_t* packet, uint32_t size, uint8_t id, bool remapped) override;

private:
    // time: the packet's PTS (-1 for none), queued for the sub-stream with
    // sub-stream timing.
    void DecodePrivateStream1(const uint8_t* payload, uint32_t size, int64_t time);
};

// Frame duration in 100-ns units of an AC-3 frame as the time range scan counts
// it: (average bytes per second x 10,240) / (2 x frame size in 16-bit words).
// This is the frame's duration at 48 kHz only.
int64_t Ac3FrameDuration(uint32_t bytesPerSecond, uint32_t frameWords);

// Duration in 100-ns units of an AC-3 syncframe, six audio blocks of 256
// samples (ATSC A/52), at sampleRate, rounded; 0 for a rate of 0.
int64_t Ac3SyncframeDuration(uint32_t sampleRate);

}  // namespace md
