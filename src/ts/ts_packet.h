// Packet-level operations of the MPEG-2 transport stream demultiplexer
// (ISO/IEC 13818-1): packet size and sync search, the packet walk, Program
// Association and Program Map Table parsing with stream classification, PES
// header and payload location, PTS reading, and the scanners that collect
// timestamps and bit rates over a buffer of packets.
//
// Everything here works on packets that lie in a caller's buffer; nothing reads
// a file or allocates. The state these operations keep (program table, PAT
// section assembly, time range) is held in the records below, which TSDemux
// owns. Every packet handed to an operation is a whole 188-byte packet starting
// at its sync byte; buffers are walked at a stride of 188, 192 or 204 bytes.
// Timestamps are the low 32 bits of the 33-bit PTS.
#pragma once

#include <array>
#include <cstdint>

namespace md {

constexpr uint32_t kTsPacketSize = 188;
constexpr uint8_t kTsSyncByte = 0x47;
constexpr uint32_t kTsNullPid = 0x1FFF;
constexpr uint32_t kTsMaxPrograms = 32;
constexpr uint32_t kTsMaxStreams = 16;
// Bytes the sync search needs beyond the position it tests (8 packets of 204).
constexpr uint32_t kTsSyncWindow = 1632;

// One elementary stream of a Program Map Table.
struct TsElementaryStream {
    uint32_t pid;
    uint32_t streamType;
    uint8_t isVideo;
    uint8_t isAudio;
    // With MD_EXT_TS_CODECS: the descriptor that makes private data (stream_type
    // 6) a subtitle stream, kTsDvbSubtitleTag or kTsTeletextTag; else 0.
    uint8_t subtitleTag;
};

constexpr uint8_t kTsDvbSubtitleTag = 0x59;  // DVB subtitling_descriptor
constexpr uint8_t kTsTeletextTag = 0x56;     // DVB teletext_descriptor
// The stream_type PES private data carrying E-AC-3 (DVB enhanced_AC-3_descriptor)
// is described with: the ATSC E-AC-3 stream_type.
constexpr uint32_t kTsEac3StreamType = 0x87;
// The stream_type PES private data registered as Opus (registration_descriptor
// format_identifier "Opus") is described with: the format_identifier itself,
// which no 8-bit stream_type can be. Opus has no stream_type of its own.
constexpr uint32_t kTsOpusStreamType = 0x4F707573;

// The channels an Opus audio descriptor states (extension_descriptor 0x7F with
// the user-defined descriptor_tag_extension 0x80, channel_config_code, as the
// Opus-in-TS draft, wiki.xiph.org/OpusTS, defines it): code 0 two mono
// channels (family 255, no layout); 1..8 that many channels in the Vorbis order
// (family 0 for one or two, 1 above); 0x81 the channel_count and mapping_family
// that follow. Other codes, or no descriptor, leave channels 0.
struct TsOpusLayout {
    uint32_t channels = 0;
    uint32_t mappingFamily = 0;
};

struct TsProgram {
    uint32_t pmtPid;
    uint32_t videoCount;   // stored entries classed as video
    uint32_t audioCount;   // stored entries classed as audio
    uint32_t streamCount;  // entries the PMT listed, stored or not
    std::array<TsElementaryStream, kTsMaxStreams> streams;
    uint8_t pmtParsed;
    uint32_t programNumber;  // the PAT's, which the SDT calls service_id
};

struct TsProgramTable {
    uint32_t count;
    std::array<TsProgram, kTsMaxPrograms> programs;
};

// The streams a host wants described. A PID below 1 means none wanted. The
// stream types are the host's until a parsed PMT lists the PID.
struct TsSelection {
    int32_t videoPid;
    int32_t audioPid;
    int32_t videoStreamType;
    int32_t audioStreamType;
    TsOpusLayout audioOpusLayout = {};  // from the PMT, for an audio stream of kTsOpusStreamType
};

// Timestamps the scanners collect and the frame durations the record builders
// set. Times are raw 90 kHz values until their stream is found, then 100-ns
// units; -1 until seen (frame durations: until a record sets them).
struct TsTimes {
    int64_t videoFirstTime = -1;
    int64_t audioFirstTime = -1;
    int64_t videoEndTime = -1;
    int64_t audioEndTime = -1;
    uint32_t videoPtsCount = 0;
    int64_t videoFrameDuration = -1;  // 100-ns units
    int64_t audioFrameDuration = -1;
    // The first times as raw 90 kHz values, kept when they are converted (-1 before).
    int64_t videoFirstTicks = -1;
    int64_t audioFirstTicks = -1;
};

// How ScanPtsRange reads timestamps beyond its base rules (MD_EXT_TIME_RANGES).
struct TsRangeRules {
    // Timestamps compare as 32-bit values modulo 2^32, so the first and last stay
    // in presentation order across a wrap; an end time below the stream's first
    // time gains 2^32 ticks.
    bool unwrap = false;
    // The buffer is the last the scan gets (it reaches the file's start or end):
    // a stream of which any timestamp was seen counts as found.
    bool lastWindow = false;
};

// stream_type classes: 1, 2, 0x1B, 0x20 video; 3, 4, 0x0F, 0x11, 0x80, 0x81,
// 0x83, 0x85, 0x86, 0xA2 audio.
bool IsTsVideoStreamType(uint32_t streamType);
bool IsTsAudioStreamType(uint32_t streamType);
// The same with the extensions (MD_EXT_* bits) a host turned on: MD_EXT_TS_CODECS
// adds 0x24 (HEVC) video and 0x87 (E-AC-3) and kTsOpusStreamType audio,
// MD_EXT_MORE_CODECS 0x10 (MPEG-4 Visual) video and 0x82 (DTS) audio.
bool IsTsVideoStreamType(uint32_t streamType, uint32_t extensions);
bool IsTsAudioStreamType(uint32_t streamType, uint32_t extensions);

// Packet size and first sync: the first position i (while i < length - 1632)
// holding 0x47 with 0x47 again at i + 188k, else i + 192k, else i + 204k for k
// = 1..5. strideExtra receives 0, 4 or 16. False when no position passes.
bool FindTsSync(const uint8_t* buffer, uint32_t length, uint32_t& position, int32_t& strideExtra);

// Header length of a packet (4 with adaptation_field_control 1, 5 +
// adaptation_field_length with 3), or 0 when it carries no payload field (AFC
// 0 or 2). The length may reach or pass 188, leaving no payload.
uint32_t TsHeaderLength(const uint8_t* packet);
inline uint32_t TsPid(const uint8_t* packet) { return uint32_t(packet[1] & 0x1F) << 8 | packet[2]; }
inline bool TsPayloadUnitStart(const uint8_t* packet) { return (packet[1] & 0x40) != 0; }
inline bool TsTransportError(const uint8_t* packet) { return (packet[1] & 0x80) != 0; }

// Walks the packets of a buffer from position: a byte other than 0x47 moves one
// byte on (resync), a packet with transport_error_indicator set is stepped over,
// every other packet goes to visit, which returns false to stop the walk. The
// walk goes on while at least minRemaining (>= 188) bytes remain. Returns the
// position where it stopped.
template <typename Visit>
uint32_t WalkTsPackets(const uint8_t* buffer, uint32_t length, uint32_t position, uint32_t stride,
                       uint32_t minRemaining, Visit&& visit)
{
    while (position <= length && length - position >= minRemaining) {
        const uint8_t* packet = buffer + position;
        if (packet[0] != kTsSyncByte) {
            ++position;
            continue;
        }
        const bool goOn = TsTransportError(packet) || visit(packet);
        position += stride;
        if (!goOn)
            break;
    }
    return position;
}

// A PTS or DTS field (five bytes): '001' in the top bits of byte 0 and marker
// bits at bit 0 of bytes 2 and 4. value receives the low 32 bits of the 33-bit
// timestamp. False for a malformed field or fewer than 5 bytes.
bool ReadPts32(const uint8_t* p, uint32_t length, uint64_t& value);

// Length of the PES header at p (start code to first payload byte): 6 for the
// stream_ids without optional header, else 9 + PES_header_data_length (byte 8
// of the buffer). 0 when no 00 00 01 lies in the first length - 4 bytes, the
// buffer is shorter than 6 bytes, or byte 8 is not there.
uint32_t PesHeaderLength(const uint8_t* p, uint32_t length);

// Whether a PES header starts in this packet (length >= 188, sync byte first).
// offset is set to -1 first; for a PES start it receives the offset of the PES
// payload, and for a packet continuing a PES (no payload_unit_start_indicator)
// the offset of the packet payload (the result is then false).
bool PesPayloadOffset(const uint8_t* packet, uint32_t length, int32_t& offset);

// The elementary-stream bytes of a packet: with payload_unit_start_indicator the
// payload must be a PES start and the bytes after its PES header are returned
// (possibly none); without it, the whole packet payload. False when the packet
// carries none of either kind. pesStart tells which case applied.
bool TsPesPayload(const uint8_t* packet, const uint8_t*& data, uint32_t& length, bool& pesStart);

// The PTS of a packet that starts a PES packet: payload_unit_start_indicator,
// a payload that is a PES start with an optional header (inside the packet) and
// PTS_DTS_flags announcing a PTS. headerLength receives the packet header length.
// ptsRead tells whether the PTS field itself was well formed.
bool PacketPesPts(const uint8_t* packet, uint32_t& headerLength, uint64_t& pts, bool& ptsRead);

// Program Association Table section beginning with table_id (length bytes
// collected): adds a program for each PMT PID not yet in the table. Entries
// lying beyond the collected bytes are not read.
bool ParsePat(const uint8_t* section, uint32_t length, TsProgramTable& table);

// Collects a PAT section from the packets of PID 0 and parses it.
class PatAssembler {
public:
    // True once a section was parsed successfully (see ParsePat).
    bool AssemblePat(const uint8_t* packet, TsProgramTable& table);

private:
    static constexpr uint32_t kBufferSize = 4096;
    static constexpr uint32_t kGiveUp = 3908;

    uint32_t ParseAndClear(TsProgramTable& table);

    uint32_t m_expected = 0;   // section_length of the pending section
    uint32_t m_collected = 0;  // bytes collected from table_id on
    std::array<uint8_t, kBufferSize> m_buffer{};
};

// ES descriptors of a PMT entry: registration_descriptor (tag 5) sets
// registration; the DVB AC-3 descriptor (tag 0x6A) makes the stream type 0x81.
// With MD_EXT_TS_CODECS in extensions, on private data (stream_type 6) the DVB
// enhanced_AC-3_descriptor (tag 0x7A) makes the stream type 0x87, a
// registration_descriptor "Opus" makes it kTsOpusStreamType with the layout of
// its Opus audio descriptor in opusLayout, and a subtitling or teletext
// descriptor sets subtitleTag to its tag.
void ParseEsDescriptors(const uint8_t* p, uint32_t length, uint32_t& streamType, uint8_t& registration,
                        uint32_t extensions = 0, uint8_t* subtitleTag = nullptr, TsOpusLayout* opusLayout = nullptr);

// Program Map Table section read from a single packet of the program's PMT PID.
// Stores at most 16 streams, classifies them, and updates the stream types of
// a selection (when given) whose PIDs it lists. False for a packet without
// payload or a table_id other than 2. extensions: the MD_EXT_* bits that widen
// the classes (IsTsVideoStreamType) and the descriptors read (ParseEsDescriptors).
bool ParsePmt(TsProgram& program, const uint8_t* packet, TsSelection* selection, uint8_t& registration,
              uint32_t extensions = 0);

// A video PID >= 1 asks whether a parsed program lists that PID as video;
// otherwise an audio PID >= 1 asks the same for audio.
bool IsProgramStream(const TsProgramTable& table, int32_t videoPid, int32_t audioPid);

// PES timestamps of video PID A and audio PID B (either -1 for none) over a
// buffer. From the start of the file the first (smallest) times are kept; video
// counts as found after two PES starts (the count carries over between calls),
// audio after one. From the end the greatest video time is kept (found after five
// PES starts) and the last audio time in buffer order (found after one). Found
// times are converted to 100-ns units (end times plus one frame duration); times
// of a stream not found stay raw. True when every stream asked for was found.
// rules: see TsRangeRules; the default is the base behaviour.
bool ScanPtsRange(const uint8_t* buffer, uint32_t length, bool fromStart, int32_t pidA, int32_t pidB, uint32_t stride,
                  TsTimes& times, const TsRangeRules& rules = {});

// Bits per second of a PID from its payload bytes and the span of its PTS
// values in the buffer; 0 when the span is below one 100-ns unit.
uint64_t SampleBitRate(const uint8_t* buffer, uint32_t length, int32_t pid, uint32_t stride);

// The PTS of the last PES start of the PID in the buffer, in 100-ns units.
bool ReadPacketPts(const uint8_t* buffer, uint32_t length, int32_t pid, uint32_t stride, int64_t& time);

}  // namespace md
