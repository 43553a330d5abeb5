// Builders of synthetic media bitstreams for tests: MPEG-1/2 pack headers, system
// headers, PES packets, DVD navigation and DVD-VR data packets, video sequence
// headers (MPEG-1/2 and MPEG-4 Visual), RIFF/CDXA files of raw sectors, SVCD pack
// sectors, transport packets of 188/192/204 bytes, DirecTV packets and MP4 boxes.
// A test states the fields it cares about; the builder writes the rest as the
// standard lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mdtest {

using ByteVec = std::vector<uint8_t>;

void Append(ByteVec& out, std::span<const uint8_t> bytes);
ByteVec Concat(std::initializer_list<std::span<const uint8_t>> parts);
// The CRC_32 of MPEG-2 PSI sections (ISO/IEC 13818-1 Annex A).
uint32_t Crc32Mpeg2(std::span<const uint8_t> data);

// Deterministic pseudo-random bytes (no 00 00 01 prefixes and no 0x47 when clean).
ByteVec RandomBytes(size_t n, uint32_t seed, bool clean = false);

// ---- MPEG program streams ------------------------------------------------------

// MPEG-1 pack header (ISO/IEC 11172-1), 12 bytes. muxRate in units of 50 bytes/s.
ByteVec Mpeg1PackHeader(uint64_t scr, uint32_t muxRate);
// MPEG-2 pack header (ISO/IEC 13818-1), 14 bytes plus stuffing (at most 7).
ByteVec Mpeg2PackHeader(uint64_t scrBase, uint32_t muxRate, uint32_t scrExtension = 0, uint8_t stuffing = 0);

struct SystemHeaderStream {
    uint8_t streamId;
    bool bufferScale;    // P-STD_buffer_bound_scale
    uint16_t bufferSize; // P-STD_buffer_size_bound (13 bits)
};
// System header (00 00 01 BB); 12 bytes plus 3 per stream.
ByteVec SystemHeader(uint32_t rateBound, uint8_t audioBound, uint8_t videoBound,
                     const std::vector<SystemHeaderStream>& streams);
// The 24-byte system header of a DVD-Video pack (video, AC-3, private 2, audio).
ByteVec DvdSystemHeader();

// MPEG-2 PES packet. Packets of the ids without a header extension (0xBC, 0xBE,
// 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF) carry the payload right after the length.
ByteVec PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {},
                  std::optional<uint64_t> dts = {});
// MPEG-1 PES packet (ISO/IEC 11172-1 packet syntax).
ByteVec Mpeg1PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts = {});
// Padding packet (0xBE) of exactly totalSize bytes (at least 6).
ByteVec PaddingPacket(size_t totalSize);
// Private stream 2 packet of PES_packet_length `length` whose first payload byte
// is subStream; the other payload bytes are zero.
ByteVec PrivateStream2Packet(uint16_t length, uint8_t subStream);
// DVD-Video navigation packets: PCI (length 980, sub-stream 0) and DSI (1018, 1).
ByteVec DvdNavPciPacket();
ByteVec DvdNavDsiPacket();
// DVD-VR real-time data packet (length 2004, sub-stream 0x50).
ByteVec DvdVrDataPacket();

// Pads pack (a pack header followed by packets) to packSize bytes with a padding
// packet; throws std::invalid_argument when 1..5 bytes would remain.
ByteVec FillPack(ByteVec pack, size_t packSize);
// A pack of packSize bytes: MPEG-2 pack header, the packets, padding.
ByteVec Mpeg2Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize = 2048,
                  uint32_t muxRate = 25200);
// The same with an MPEG-1 pack header.
ByteVec Mpeg1Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate);
// 2048-byte DVD-Video navigation pack: pack header, system header, PCI, DSI.
ByteVec DvdNavPack(uint64_t scr);
// 2048-byte DVD-VR RDI pack: pack header, system header, RDI packet.
ByteVec DvdVrRdiPack(uint64_t scr);
// A 2048-byte pack holding one video PES packet whose payload is es (padded).
ByteVec DvdVideoPack(uint64_t scr, std::span<const uint8_t> es, std::optional<uint64_t> pts = {});

// ---- Video elementary headers -------------------------------------------------

// MPEG-1/2 video sequence header: 00 00 01 B3 and 8 bytes of fields (no
// quantiser matrices). With mpeg2, a sequence extension (00 00 01 B5, 6 bytes)
// follows.
ByteVec VideoSequenceHeader(uint32_t width, uint32_t height, uint8_t aspectCode, uint8_t frameRateCode,
                            bool mpeg2 = true, uint32_t bitRate400 = 15000);
// Group-of-pictures header (00 00 01 B8, 4 bytes of fields) and an I-picture header.
ByteVec GopHeader();
ByteVec IPictureHeader();
// MPEG-4 Visual: visual object sequence (00 00 01 B0 + profile_and_level), visual
// object (00 00 01 B5), video object (00 00 01 00), video object layer
// (00 00 01 20) for a rectangular simple-profile picture.
ByteVec Mpeg4VisualObjectSequence(uint8_t profileAndLevel = 0x01);
ByteVec Mpeg4VisualObject();
ByteVec Mpeg4VideoObject();
ByteVec Mpeg4VideoObjectLayer(uint32_t width, uint32_t height, uint16_t timeIncrementResolution = 25);
// Group of VOP header (00 00 01 B3, 18-bit time code and two flags: 3 bytes).
ByteVec Mpeg4GroupOfVop();
// Start of an I-VOP (00 00 01 B6) with a few bytes of data.
ByteVec Mpeg4IVop();
// VOS, VO, VOL, GOV and an I-VOP.
ByteVec Mpeg4VisualStream(uint32_t width, uint32_t height);

// ---- Disc images -----------------------------------------------------------------

constexpr size_t kRawSectorSize = 2352;
constexpr size_t kForm2UserDataSize = 2324;
constexpr size_t kRiffCdxaHeaderSize = 44;
// One raw Mode 2 Form 2 sector: 12 sync bytes, MSF address, mode 2, 8 subheader
// bytes, 2324 bytes of user data (padded with zeros), 4 EDC bytes.
ByteVec RawForm2Sector(uint32_t lba, std::span<const uint8_t> userData);
// A RIFF/CDXA file (44-byte header, "data" at 36) of raw sectors.
ByteVec CdxaFile(const std::vector<ByteVec>& sectorUserData);
// A VCD sector payload: a 2324-byte MPEG-1 pack (pack header, a video packet).
ByteVec VcdPackSector(uint64_t scr, uint32_t muxRate = 3528, std::span<const uint8_t> es = {});
// An SVCD sector: a 2324-byte MPEG-2 pack with one video PES packet starting at
// byte 14 holding es (or, with empty es, filler bytes).
ByteVec SvcdVideoSector(uint64_t scr, std::span<const uint8_t> es = {});
// An SVCD sector whose packet is audio (0xC0).
ByteVec SvcdAudioSector(uint64_t scr);

// ---- Transport streams -----------------------------------------------------------

// One transport packet of packetSize 188, 192 (4-byte arrival-time prefix) or 204
// (16 parity bytes). A payload shorter than 184 bytes is preceded by an
// adaptation field of stuffing; a longer one is cut.
ByteVec TsPacket(uint16_t pid, bool payloadUnitStart, uint8_t continuityCounter, std::span<const uint8_t> payload,
                 size_t packetSize = 188, uint32_t arrivalTime = 0);
// A transport packet with adaptation_field_control 2 (adaptation field only).
ByteVec TsAdaptationOnlyPacket(uint16_t pid, uint8_t continuityCounter, size_t packetSize = 188);
// count packets of a video PID carrying PES packets (a new PES every 8 packets,
// each starting with a sequence header), preceded by a PAT packet.
ByteVec TsStream(size_t packetSize, size_t count, uint16_t pid = 0x100);
// DirecTV transport packets: 130 bytes, 3-byte header whose first bit (the packet
// framing bit) alternates from packet to packet, 127 payload bytes.
ByteVec DirecTvPacket(uint16_t scid, bool framingBit, uint8_t continuityCounter, std::span<const uint8_t> payload);
ByteVec DirecTvStream(size_t count, uint32_t seed = 1);

// ---- MP4 -------------------------------------------------------------------------

// A box: 32-bit size (or size 1 and a 64-bit largesize), type, payload.
ByteVec Mp4Box(const char (&type)[5], std::span<const uint8_t> payload = {}, bool largeSize = false);
ByteVec Mp4Ftyp(const char (&brand)[5] = "isom");

}  // namespace mdtest
