// Builders of synthetic media bitstreams for tests: a test states the fields it cares about; the builder writes the
// rest as the standard lays them out.
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
// The low `bytes` bytes of v, least (Le) or most (Be) significant first; PutLe and PutBe append them to out.
ByteVec Le(uint64_t v, int bytes);
ByteVec Be(uint64_t v, int bytes);
void PutLe(ByteVec& out, uint64_t v, int bytes);
void PutBe(ByteVec& out, uint64_t v, int bytes);
// The CRC_32 of MPEG-2 PSI sections (ISO/IEC 13818-1 Annex A).
uint32_t Crc32Mpeg2(std::span<const uint8_t> data);
// Deterministic pseudo-random bytes (no 00 bytes and no 0x47 when clean).
ByteVec RandomBytes(size_t n, uint32_t seed, bool clean = false);

// ---- MPEG program streams ------------------------------------------------------

// Pack headers: MPEG-1 (12 bytes, muxRate in 50 bytes/s) and MPEG-2 (14 bytes plus at most 7 stuffing bytes).
ByteVec Mpeg1PackHeader(uint64_t scr, uint32_t muxRate);
ByteVec Mpeg2PackHeader(uint64_t scrBase, uint32_t muxRate, uint32_t scrExtension = 0, uint8_t stuffing = 0);

struct SystemHeaderStream {
    uint8_t streamId;
    bool bufferScale;  // P-STD_buffer_bound_scale
    uint16_t bufferSize;  // P-STD_buffer_size_bound (13 bits)
};
// System header (00 00 01 BB); 12 bytes plus 3 per stream.
ByteVec SystemHeader(uint32_t rateBound, uint8_t audioBound, uint8_t videoBound,
                     const std::vector<SystemHeaderStream>& streams);
// The 24-byte system header of a DVD-Video pack (video, AC-3, private 2, audio).
ByteVec DvdSystemHeader();

// PES packets, MPEG-2 (header extension) or MPEG-1 (PTS or the 0x0F byte); ids without a header extension (0xBC,
// 0xBE, 0xBF, 0xF0-0xF2, 0xF8, 0xFF) carry the payload right after the length.
ByteVec PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {});
ByteVec Mpeg1PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {});
// Private stream 2 packet of PES_packet_length `length`: subStream, then zeros.
ByteVec PrivateStream2Packet(uint16_t length, uint8_t subStream);
// DVD-VR real-time data packet (length 2004, sub-stream 'P'); byte 29 carries the display aspect nibble.
ByteVec DvdVrDataPacketWithAspect(uint8_t byte29);

// A pack of packSize bytes: header, packets, a padding packet filling the rest (throws when 1..5 bytes remain).
ByteVec Mpeg2Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize = 2048,
                  uint32_t muxRate = 25200);
ByteVec Mpeg1Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate);
// 2048-byte DVD packs: navigation (system header, PCI, DSI), DVD-VR RDI, one video PES packet holding es.
ByteVec DvdNavPack(uint64_t scr);
ByteVec DvdVrRdiPack(uint64_t scr);
ByteVec DvdVideoPack(uint64_t scr, std::span<const uint8_t> es, std::optional<uint64_t> pts = {});

// ---- MPEG-1/2 video --------------------------------------------------------------

struct SequenceFields {
    uint32_t width = 720;
    uint32_t height = 576;
    uint8_t aspectCode = 2;  // aspect_ratio_information (MPEG-1: pel_aspect_ratio)
    uint8_t frameRateCode = 3;  // 25 fps
    uint32_t bitRate400 = 15000;
    bool intraMatrix = false;  // load_intra_quantiser_matrix with 64 matrix bytes: a 76-byte header
    bool extension = true;  // a sequence_extension follows
    uint8_t profileAndLevel = 0x48;  // Main@Main
    bool progressive = false;
    // A sequence_display_extension (colour description when transferCharacteristics is given).
    std::optional<std::pair<uint32_t, uint32_t>> displaySize = {};
    std::optional<uint8_t> transferCharacteristics = {};
};

// Sequence header (vbv_buffer_size_value 112), then the extensions the fields ask for.
ByteVec SequenceHeaders(const SequenceFields& fields);
// The same for the fields given; with mpeg2 a Main@Main interlaced sequence extension follows.
ByteVec VideoSequenceHeader(uint32_t width, uint32_t height, uint8_t aspectCode, uint8_t frameRateCode,
                            bool mpeg2 = true);
// group_of_pictures_header with time code 0; picture_header (coding type 1 I, 2 P, 3 B); picture_coding_extension
// of a frame picture; a slice start code with a few data bytes.
ByteVec GopHeaderFlags(bool closedGop = true);
ByteVec PictureHeaderFields(uint16_t temporalReference = 0, uint8_t codingType = 1);
ByteVec PictureCodingExtension(bool topFieldFirst);
ByteVec SliceStart();

// ---- MPEG-4 Visual ---------------------------------------------------------------

// Group of VOP header (time code 0, closed_gov); the start of an I-VOP; VOS, VO, a simple-profile rectangular VOL
// (time resolution 25, no fixed rate), GOV and an I-VOP.
ByteVec Mpeg4GroupOfVop();
ByteVec Mpeg4IVop();
ByteVec Mpeg4VisualStream(uint32_t width, uint32_t height);

// ---- Audio -------------------------------------------------------------------------

// An MPEG-1 audio frame (no CRC) of `size` bytes: header (indices as in ISO/IEC 11172-3), then filler.
ByteVec MpegAudioFrame(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode, size_t size);
// The start of an AC-3 sync frame (ATSC A/52), bsmod 0 and mix levels 0, then filler.
ByteVec Ac3FrameStart(uint8_t fscod, uint8_t frmsizecod, uint8_t bsid, uint8_t acmod, bool lfeon, size_t size = 64);
// The start of a DTS core frame (ETSI TS 102 114), AMODE 9; reversed writes the sync as 01 80 FE 7F.
ByteVec DtsFrameStart(uint8_t nblks, uint8_t sfreq, uint8_t rate, bool reversed = false);
// Private-stream-1 payload of a DVD audio sub-stream: id, one frame header, first_access_unit_pointer, frames.
ByteVec AudioSubStream(uint8_t subStreamId, std::span<const uint8_t> frames);

// ---- Windows media descriptions -------------------------------------------------------

// WAVEFORMATEX: wFormatTag, nChannels, nSamplesPerSec, nAvgBytesPerSec, nBlockAlign, wBitsPerSample, cbSize, then
// the extra bytes.
ByteVec WaveFormatEx(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t blockAlign,
                     uint16_t bits, std::span<const uint8_t> extra = {});
// BITMAPINFOHEADER (biSize 40 plus the extra bytes, biPlanes 1, biBitCount 24, biCompression fourCC), then the
// extra bytes.
ByteVec BitmapInfoHeader(uint32_t width, int32_t height, const char* fourCC, std::span<const uint8_t> extra = {});

// ---- Disc images -------------------------------------------------------------------

// A RIFF/CDXA file of raw Mode 2 Form 2 sectors, each of at most 2324 bytes of user data.
ByteVec CdxaFile(const std::vector<ByteVec>& sectorUserData);
// 2324-byte sector payloads: a VCD MPEG-1 pack with one video packet; SVCD MPEG-2 packs with one video (PES at
// byte 14 holding es, or filler) or audio (0xC0) packet.
ByteVec VcdPackSector(uint64_t scr, uint32_t muxRate = 3528, std::span<const uint8_t> es = {});
ByteVec SvcdVideoSector(uint64_t scr, std::span<const uint8_t> es = {});
ByteVec SvcdAudioSector(uint64_t scr);

// ---- Transport streams, DirecTV ------------------------------------------------------

// One transport packet of 188, 192 (arrival-time prefix) or 204 (16 parity bytes) bytes; a payload under 184
// bytes follows adaptation-field stuffing, a longer one is cut.
ByteVec TsPacket(uint16_t pid, bool payloadUnitStart, uint8_t continuityCounter, std::span<const uint8_t> payload,
                 size_t packetSize = 188, uint32_t arrivalTime = 0);
// A PAT, a PMT and count - 2 packets of video PID 0x100 (a PES packet with a sequence header every 8 packets).
ByteVec TsStream(size_t packetSize, size_t count);
// 130-byte DirecTV packets: a 3-byte header whose packet framing bit alternates, 127 random bytes.
ByteVec DirecTvStream(size_t count, uint32_t seed = 1);

}  // namespace mdtest
