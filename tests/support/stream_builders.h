// Builders of synthetic media bitstreams for tests: a test states the fields it cares
// about; the builder writes the rest as the standard lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace mdtest {

using ByteVec = std::vector<uint8_t>;

void Append(ByteVec& out, std::span<const uint8_t> bytes);
ByteVec Concat(std::initializer_list<std::span<const uint8_t>> parts);
// The CRC_32 of MPEG-2 PSI sections (ISO/IEC 13818-1 Annex A).
uint32_t Crc32Mpeg2(std::span<const uint8_t> data);
// Deterministic pseudo-random bytes (no 00 bytes and no 0x47 when clean).
ByteVec RandomBytes(size_t n, uint32_t seed, bool clean = false);

// ---- MPEG program streams ------------------------------------------------------

// A 5-byte PTS/DTS field: the 4-bit prefix, the 33-bit time in three parts, markers.
ByteVec Timestamp(unsigned prefix, uint64_t time);
// MPEG-1 pack header, 12 bytes; muxRate in units of 50 bytes/s.
ByteVec Mpeg1PackHeader(uint64_t scr, uint32_t muxRate);
// MPEG-2 pack header, 14 bytes plus stuffing (at most 7 bytes of 0xFF).
ByteVec Mpeg2PackHeader(uint64_t scrBase, uint32_t muxRate, uint32_t scrExtension = 0, uint8_t stuffing = 0);

struct SystemHeaderStream {
    uint8_t streamId;
    bool bufferScale;     // P-STD_buffer_bound_scale
    uint16_t bufferSize;  // P-STD_buffer_size_bound (13 bits)
};
// System header (00 00 01 BB); 12 bytes plus 3 per stream.
ByteVec SystemHeader(uint32_t rateBound, uint8_t audioBound, uint8_t videoBound,
                     const std::vector<SystemHeaderStream>& streams);
// The 24-byte system header of a DVD-Video pack (video, AC-3, private 2, audio).
ByteVec DvdSystemHeader();

// MPEG-2 PES packet. Packets of the ids without a header extension (0xBC, 0xBE,
// 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF) carry the payload right after the length.
ByteVec PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {});
// MPEG-1 packet: a PTS field or the 0x0F "no timestamps" byte, then the payload.
ByteVec Mpeg1PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {});
// Padding packet (0xBE) of exactly totalSize bytes (at least 6).
ByteVec PaddingPacket(size_t totalSize);
// Private stream 2 packet of PES_packet_length `length` whose first payload byte
// is subStream; the other payload bytes are zero.
ByteVec PrivateStream2Packet(uint16_t length, uint8_t subStream);
// DVD-VR real-time data packet (length 2004, sub-stream 'P') whose byte 29
// (counted from the packet start) carries the display aspect nibble.
ByteVec DvdVrDataPacketWithAspect(uint8_t byte29);

// A pack of packSize bytes: pack header, the packets, a padding packet filling
// the rest (throws when 1..5 bytes would remain).
ByteVec Mpeg2Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize = 2048,
                  uint32_t muxRate = 25200);
ByteVec Mpeg1Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate);
// 2048-byte DVD-Video navigation pack: pack header, system header, PCI and DSI
// (length 1018, sub-stream 1).
ByteVec DvdNavPack(uint64_t scr);
// 2048-byte DVD-VR RDI pack: pack header, system header, real-time data packet.
ByteVec DvdVrRdiPack(uint64_t scr);
// A 2048-byte pack holding one video PES packet whose payload is es (padded).
ByteVec DvdVideoPack(uint64_t scr, std::span<const uint8_t> es, std::optional<uint64_t> pts = {});

// ---- MPEG-1/2 video --------------------------------------------------------------

struct SequenceFields {
    uint32_t width = 720;
    uint32_t height = 576;
    uint8_t aspectCode = 2;     // aspect_ratio_information (MPEG-1: pel_aspect_ratio)
    uint8_t frameRateCode = 3;  // 25 fps
    uint32_t bitRate400 = 15000;
    bool intraMatrix = false;        // load_intra_quantiser_matrix with 64 matrix bytes: a 76-byte header
    bool extension = true;           // a sequence_extension follows
    uint8_t profileAndLevel = 0x48;  // Main@Main
    bool progressive = false;
    // A sequence_display_extension (with a colour description when
    // transferCharacteristics is given) after the sequence extension.
    std::optional<std::pair<uint32_t, uint32_t>> displaySize = {};
    std::optional<uint8_t> transferCharacteristics = {};
};

// Sequence header (vbv_buffer_size_value 112), then the extensions the fields ask for.
ByteVec SequenceHeaders(const SequenceFields& fields);
// The same for the fields given; with mpeg2 a Main@Main interlaced sequence extension follows.
ByteVec VideoSequenceHeader(uint32_t width, uint32_t height, uint8_t aspectCode, uint8_t frameRateCode,
                            bool mpeg2 = true);
// group_of_pictures_header with time code 0 and the given closed_gop flag.
ByteVec GopHeaderFlags(bool closedGop = true);
// picture_header: temporal_reference and picture_coding_type (1 I, 2 P, 3 B).
ByteVec PictureHeaderFields(uint16_t temporalReference = 0, uint8_t codingType = 1);
// picture_coding_extension of a frame picture with top_field_first.
ByteVec PictureCodingExtension(bool topFieldFirst);
// A slice start code (00 00 01 01) and a few bytes of slice data.
ByteVec SliceStart();

// ---- MPEG-4 Visual ---------------------------------------------------------------

// Group of VOP header (00 00 01 B3, time code 0, closed_gov).
ByteVec Mpeg4GroupOfVop();
// Start of an I-VOP (00 00 01 B6) with a few bytes of data.
ByteVec Mpeg4IVop();
// VOS, VO, a simple-profile rectangular VOL (time resolution 25, no fixed rate),
// GOV and an I-VOP.
ByteVec Mpeg4VisualStream(uint32_t width, uint32_t height);

// ---- Audio -------------------------------------------------------------------------

// An MPEG-1 audio frame (no CRC) of `size` bytes: header, then filler.
// layer 1..3; bitrateIndex and samplingIndex as in ISO/IEC 11172-3; mode 0..3.
ByteVec MpegAudioFrame(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode, size_t size);
// The start of an AC-3 sync frame (ATSC A/52): syncword, crc1, fscod and
// frmsizecod, bsid and bsmod 0, acmod and its mix levels (0), lfeon; then filler.
ByteVec Ac3FrameStart(uint8_t fscod, uint8_t frmsizecod, uint8_t bsid, uint8_t acmod, bool lfeon, size_t size = 64);
// The start of a DTS core frame (ETSI TS 102 114): sync, FTYPE 1, SHORT 31,
// CPF 0, NBLKS, FSIZE, AMODE 9, SFREQ, RATE; then filler. reversed writes the
// sync as 01 80 FE 7F.
ByteVec DtsFrameStart(uint8_t nblks, uint8_t sfreq, uint8_t rate, bool reversed = false);
// Private-stream-1 payload of a DVD audio sub-stream: sub_stream_id,
// number_of_frame_headers 1, first_access_unit_pointer, then the frames.
ByteVec AudioSubStream(uint8_t subStreamId, std::span<const uint8_t> frames);

// ---- Disc images -------------------------------------------------------------------

// A RIFF/CDXA file (44-byte header, "data" at 36) of raw Mode 2 Form 2 sectors
// (sync, MSF address, subheader, 2324 bytes of user data, EDC).
ByteVec CdxaFile(const std::vector<ByteVec>& sectorUserData);
// A VCD sector payload: a 2324-byte MPEG-1 pack holding one video packet.
ByteVec VcdPackSector(uint64_t scr, uint32_t muxRate = 3528, std::span<const uint8_t> es = {});
// An SVCD sector: a 2324-byte MPEG-2 pack with one video PES packet starting at
// byte 14 holding es (or, with empty es, filler bytes).
ByteVec SvcdVideoSector(uint64_t scr, std::span<const uint8_t> es = {});
// An SVCD sector whose packet is audio (0xC0).
ByteVec SvcdAudioSector(uint64_t scr);

// ---- Transport streams, DirecTV, MP4 ---------------------------------------------

// One transport packet of packetSize 188, 192 (4-byte arrival-time prefix) or 204
// (16 parity bytes). A payload shorter than 184 bytes is preceded by an
// adaptation field of stuffing; a longer one is cut.
ByteVec TsPacket(uint16_t pid, bool payloadUnitStart, uint8_t continuityCounter, std::span<const uint8_t> payload,
                 size_t packetSize = 188, uint32_t arrivalTime = 0);
// A PAT, a PMT and count - 2 packets of a video PID carrying PES packets (a new
// PES every 8 packets, each starting with a sequence header).
ByteVec TsStream(size_t packetSize, size_t count, uint16_t pid = 0x100);
// DirecTV packets of 130 bytes: a 3-byte header whose first bit (the packet
// framing bit) alternates from packet to packet, 127 random payload bytes.
ByteVec DirecTvStream(size_t count, uint32_t seed = 1);
// A box: 32-bit size (or size 1 and a 64-bit largesize), type, payload.
ByteVec Mp4Box(const char (&type)[5], std::span<const uint8_t> payload = {}, bool largeSize = false);

}  // namespace mdtest
