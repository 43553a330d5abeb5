#include "support/stream_builders.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "support/bit_writer.h"
#include "support/mp4_builders.h"
#include "support/ts_builders.h"

namespace mdtest {
namespace {

ByteVec Text(std::string_view s) { return ByteVec(s.begin(), s.end()); }

// A 33-bit clock in 3, 15 and 15 bits, each followed by a marker bit.
void PutClock(BitWriter& w, uint64_t t)
{
    w.Put(t >> 30 & 7, 3), w.PutBit(true), w.Put(t >> 15 & 0x7FFF, 15), w.PutBit(true), w.Put(t, 15), w.PutBit(true);
}

// A PTS field: '0010', the clock.
ByteVec Pts(uint64_t t)
{
    BitWriter w;
    w.Put(2, 4), PutClock(w, t);
    return w.Take();
}

// program_stream_map, padding, private_stream_2, ECM, EMM, directory, DSMCC, H.222.1 type E.
bool NoHeaderExtension(uint8_t id)
{
    return id == 0xBC || id == 0xBE || id == 0xBF || (id >= 0xF0 && id <= 0xF2) || id == 0xF8 || id == 0xFF;
}

// Start code, stream id, PES_packet_length, the parts.
ByteVec Packet(uint8_t streamId, std::initializer_list<std::span<const uint8_t>> parts)
{
    ByteVec body = Concat(parts);
    if (body.size() > 0xFFFF)
        throw std::invalid_argument("PES packet longer than 65535 bytes");
    return Concat({ByteVec{0x00, 0x00, 0x01, streamId, uint8_t(body.size() >> 8), uint8_t(body.size())}, body});
}

// es, then filler up to size bytes.
ByteVec Padded(std::span<const uint8_t> es, size_t size, uint8_t filler = 0xFF)
{
    if (es.size() > size)
        throw std::invalid_argument("payload does not fit");
    ByteVec out(es.begin(), es.end());
    out.resize(size, filler);
    return out;
}

ByteVec FillPack(ByteVec pack, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize)
{
    for (auto p : packets)
        Append(pack, p);
    const size_t rest = packSize - std::min(pack.size(), packSize);
    if (pack.size() > packSize || (rest > 0 && rest < 6))
        throw std::invalid_argument("pack contents do not fit the pack size");
    return rest == 0 ? pack : Concat({pack, Packet(0xBE, {ByteVec(rest - 6, 0xFF)})});
}

}  // namespace

void Append(ByteVec& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

ByteVec Concat(std::initializer_list<std::span<const uint8_t>> parts)
{
    ByteVec out;
    for (auto p : parts)
        Append(out, p);
    return out;
}

void PutLe(ByteVec& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void PutBe(ByteVec& out, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(v >> (8 * i)));
}

ByteVec Le(uint64_t v, int bytes)
{
    ByteVec b;
    PutLe(b, v, bytes);
    return b;
}

ByteVec Be(uint64_t v, int bytes)
{
    ByteVec b;
    PutBe(b, v, bytes);
    return b;
}

ByteVec WaveFormatEx(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t blockAlign,
                     uint16_t bits, std::span<const uint8_t> extra)
{
    return Concat({Le(tag, 2), Le(channels, 2), Le(rate, 4), Le(byteRate, 4), Le(blockAlign, 2), Le(bits, 2),
                   Le(extra.size(), 2), extra});
}

ByteVec BitmapInfoHeader(uint32_t width, int32_t height, const char* fourCC, std::span<const uint8_t> extra)
{
    return Concat({Le(40 + extra.size(), 4), Le(width, 4), Le(uint32_t(height), 4), Le(1, 2), Le(24, 2),
                   ByteVec(fourCC, fourCC + 4), ByteVec(20), extra});
}

uint32_t Crc32Mpeg2(std::span<const uint8_t> data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : data) {
        crc ^= uint32_t(b) << 24;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

ByteVec RandomBytes(size_t n, uint32_t seed, bool clean)
{
    ByteVec out(n);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ (uint64_t(seed) * 0xBF58476D1CE4E5B9ull);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const auto b = uint8_t(x >> 24);
        out[i] = !clean ? b : b == 0x00 ? 0x80 : b == 0x47 ? 0x48 : b;
    }
    return out;
}

// ---- MPEG program streams ----------------------------------------------------------

ByteVec Mpeg1PackHeader(uint64_t scr, uint32_t muxRate)
{
    BitWriter w;  // '0010' system_clock_reference, marker, program_mux_rate, marker
    w.Put(0x1BA, 32), w.Put(2, 4), PutClock(w, scr), w.PutBit(true), w.Put(muxRate, 22), w.PutBit(true);
    return w.Take();
}

ByteVec Mpeg2PackHeader(uint64_t scrBase, uint32_t muxRate, uint32_t scrExtension, uint8_t stuffing)
{
    if (stuffing > 7)
        throw std::invalid_argument("pack_stuffing_length above 7");
    BitWriter w;  // '01' system_clock_reference, program_mux_rate, markers, reserved, pack_stuffing_length
    w.Put(0x1BA, 32), w.Put(1, 2), PutClock(w, scrBase), w.Put(scrExtension, 9), w.PutBit(true);
    w.Put(muxRate, 22), w.Put(3, 2), w.Put(0x1F, 5), w.Put(stuffing, 3), w.Put(~0ull, 8 * stuffing);
    return w.Take();
}

ByteVec SystemHeader(uint32_t rateBound, uint8_t audioBound, uint8_t videoBound,
                     const std::vector<SystemHeaderStream>& streams)
{
    BitWriter w;
    w.Put(0x1BB, 32), w.Put(6 + 3 * streams.size(), 16);  // header_length
    w.PutBit(true), w.Put(rateBound, 22), w.PutBit(true), w.Put(audioBound, 6);
    w.Put(0b0011, 4);  // fixed_flag, CSPS_flag, system_audio_lock_flag, system_video_lock_flag
    w.PutBit(true), w.Put(videoBound, 5), w.PutBit(true), w.Put(0x7F, 7);  // packet_rate_restriction, reserved
    for (const auto& s : streams)
        w.Put(s.streamId, 8), w.Put(3, 2), w.PutBit(s.bufferScale), w.Put(s.bufferSize, 13);
    return w.Take();
}

ByteVec DvdSystemHeader()
{
    return SystemHeader(25200, 1, 1, {{0xE0, true, 232}, {0xBD, true, 58}, {0xBF, true, 2}, {0xC0, false, 32}});
}

ByteVec PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts)
{
    if (NoHeaderExtension(streamId))
        return Packet(streamId, {payload});
    // '10', data_alignment_indicator, original_or_copy; PTS_DTS_flags; PES_header_data_length.
    const ByteVec header{0x85, uint8_t(pts ? 0x80 : 0x00), uint8_t(pts ? 5 : 0)};
    return Packet(streamId, {header, pts ? Pts(*pts) : ByteVec{}, payload});
}

ByteVec Mpeg1PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts)
{
    if (NoHeaderExtension(streamId))
        return Packet(streamId, {payload});
    return Packet(streamId, {pts ? Pts(*pts) : ByteVec{0x0F}, payload});
}

ByteVec PrivateStream2Packet(uint16_t length, uint8_t subStream)
{
    ByteVec body(length, 0x00);
    if (length > 0)
        body[0] = subStream;
    return Packet(0xBF, {body});
}

ByteVec DvdVrDataPacketWithAspect(uint8_t byte29)
{
    ByteVec packet = PrivateStream2Packet(2004, 0x50);
    packet.at(29) = byte29;
    return packet;
}

ByteVec Mpeg2Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate)
{
    return FillPack(Mpeg2PackHeader(scr, muxRate), packets, packSize);
}

ByteVec Mpeg1Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate)
{
    return FillPack(Mpeg1PackHeader(scr, muxRate), packets, packSize);
}

ByteVec DvdNavPack(uint64_t scr)
{
    return Mpeg2Pack(scr, {DvdSystemHeader(), PrivateStream2Packet(980, 0x00), PrivateStream2Packet(1018, 0x01)});
}

ByteVec DvdVrRdiPack(uint64_t scr) { return Mpeg2Pack(scr, {DvdSystemHeader(), DvdVrDataPacketWithAspect(0)}); }

ByteVec DvdVideoPack(uint64_t scr, std::span<const uint8_t> es, std::optional<uint64_t> pts)
{
    return Mpeg2Pack(scr, {PesPacket(0xE0, Padded(es, 2048 - 14 - 9 - (pts ? 5 : 0)), pts)});
}

// ---- MPEG-1/2 video ----------------------------------------------------------------

ByteVec SequenceHeaders(const SequenceFields& f)
{
    BitWriter w;
    w.Put(0x1B3, 32), w.Put(f.width & 0xFFF, 12), w.Put(f.height & 0xFFF, 12);
    w.Put(f.aspectCode, 4), w.Put(f.frameRateCode, 4), w.Put(f.bitRate400, 18), w.PutBit(true);  // marker_bit
    w.Put(112, 10), w.PutBit(false), w.PutBit(f.intraMatrix);  // vbv_buffer_size_value, constrained_parameters_flag
    for (unsigned i = 0; f.intraMatrix && i < 64; ++i)
        w.Put(8 + i, 8);  // intra_quantiser_matrix, never 0
    w.PutBit(false);  // load_non_intra_quantiser_matrix
    if (f.extension) {
        // sequence_extension: profile_and_level, progressive_sequence, chroma_format 4:2:0, size
        // extensions, bit_rate_extension 0, marker, vbv_buffer_size_extension, low_delay, frame rate extension.
        w.Put(0x1B5, 32), w.Put(1, 4), w.Put(f.profileAndLevel, 8), w.PutBit(f.progressive), w.Put(1, 2);
        w.Put(f.width >> 12 & 3, 2), w.Put(f.height >> 12 & 3, 2), w.Put(0, 12), w.PutBit(true), w.Put(0, 16);
    }
    if (f.extension && f.displaySize) {
        // sequence_display_extension: video_format 5, colour_description, then primaries and matrix 1.
        w.Put(0x1B5, 32), w.Put(2, 4), w.Put(5, 3), w.PutBit(f.transferCharacteristics.has_value());
        if (f.transferCharacteristics)
            w.Put(1, 8), w.Put(*f.transferCharacteristics, 8), w.Put(1, 8);
        w.Put(f.displaySize->first, 14), w.PutBit(true), w.Put(f.displaySize->second, 14), w.AlignZero();
    }
    return w.Take();
}

ByteVec VideoSequenceHeader(uint32_t width, uint32_t height, uint8_t aspectCode, uint8_t frameRateCode, bool mpeg2)
{
    return SequenceHeaders({.width = width,
                            .height = height,
                            .aspectCode = aspectCode,
                            .frameRateCode = frameRateCode,
                            .extension = mpeg2});
}

// Time code 0 with its marker bit (byte 5), closed_gop (bit 6 of byte 7), broken_link 0.
ByteVec GopHeaderFlags(bool closedGop) { return {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, uint8_t(closedGop ? 0x40 : 0)}; }

ByteVec PictureHeaderFields(uint16_t temporalReference, uint8_t codingType)
{
    BitWriter w;  // vbv_delay; full_pel_forward_vector, forward_f_code; backward ones; extra_bit_picture
    w.Put(0x100, 32), w.Put(temporalReference, 10), w.Put(codingType, 3), w.Put(0xFFFF, 16);
    w.Put(1, codingType == 2 || codingType == 3 ? 4 : 0), w.Put(1, codingType == 3 ? 4 : 0), w.PutBit(false);
    w.AlignZero();
    return w.Take();
}

// Extension id 8, f_codes 15, intra_dc_precision 0, frame picture, top_field_first, chroma_420_type 1.
ByteVec PictureCodingExtension(bool tff) { return {0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF3, uint8_t(tff ? 0x81 : 1), 0}; }

ByteVec SliceStart() { return {0x00, 0x00, 0x01, 0x01, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}; }

// ---- MPEG-4 Visual -----------------------------------------------------------------

// Time code 0 with its marker, closed_gov 1, broken_link 0, next_start_code.
ByteVec Mpeg4GroupOfVop() { return {0x00, 0x00, 0x01, 0xB3, 0x00, 0x10, 0x27}; }

// vop_coding_type 0 (I), modulo_time_base 0, vop_time_increment 0 (5 bits), vop_coded, vop_quant 8.
ByteVec Mpeg4IVop() { return {0x00, 0x00, 0x01, 0xB6, 0x10, 0x61, 0x1F, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}; }

ByteVec Mpeg4VisualStream(uint32_t width, uint32_t height)
{
    // VOS, VO, video object, VOL, GOV, I-VOP.
    return Concat({ByteVec{0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x00}, Mpeg4Vol(width, height, 25, false),
                   Mpeg4GroupOfVop(), Mpeg4IVop()});
}

// ---- Audio ---------------------------------------------------------------------------

ByteVec MpegAudioFrame(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode, size_t size)
{
    // ID 1; layer field 3 Layer I, 2 Layer II, 1 Layer III; protection_bit 1 (no CRC). Filler 0x55 holds no sync.
    const ByteVec header = {0xFF, uint8_t(0xF8 | ((4 - layer) & 3) << 1 | 1),
                            uint8_t((bitrateIndex & 0xF) << 4 | (samplingIndex & 3) << 2), uint8_t((mode & 3) << 6)};
    return Padded(header, std::max(size, header.size()), 0x55);
}

ByteVec Ac3FrameStart(uint8_t fscod, uint8_t frmsizecod, uint8_t bsid, uint8_t acmod, bool lfeon, size_t size)
{
    BitWriter w;  // syncword, crc1, fscod, frmsizecod, bsid, bsmod 0, acmod; cmixlev, surmixlev, dsurmod as present
    w.Put(0x0B77, 16), w.Put(0x1234, 16), w.Put(fscod, 2), w.Put(frmsizecod, 6), w.Put(bsid, 5), w.Put(0, 3);
    w.Put(acmod, 3), w.Put(0, (acmod & 1) && acmod != 1 ? 2 : 0), w.Put(0, acmod & 4 ? 2 : 0);
    w.Put(0, acmod == 2 ? 2 : 0), w.PutBit(lfeon), w.AlignZero();
    return Padded(w.Bytes(), std::max(size, w.Bytes().size()), 0x55);
}

ByteVec DtsFrameStart(uint8_t nblks, uint8_t sfreq, uint8_t rate, bool reversed)
{
    BitWriter w;
    w.Put(reversed ? 0x0180FE7Fu : 0x7FFE8001u, 32);
    w.Put(1, 1), w.Put(31, 5), w.Put(0, 1), w.Put(nblks, 7), w.Put(1000, 14);  // FTYPE, SHORT, CPF, NBLKS, FSIZE
    w.Put(9, 6), w.Put(sfreq, 4), w.Put(rate, 5), w.Put(0, 11);  // AMODE, SFREQ, RATE, flags
    return Padded(w.Bytes(), 64, 0x55);
}

ByteVec AudioSubStream(uint8_t id, std::span<const uint8_t> frames) { return Concat({ByteVec{id, 1, 0, 1}, frames}); }

// ---- Disc images -----------------------------------------------------------------------

ByteVec CdxaFile(const std::vector<ByteVec>& sectorUserData)
{
    const auto size = uint32_t(sectorUserData.size() * 2352);
    const auto bcd = [](uint32_t v) { return uint8_t((v / 10) << 4 | (v % 10)); };
    // "fmt ": user and group id 0, attributes 0x1555, 'XA', file number 1, 7 reserved bytes.
    ByteVec out = Concat({Text("RIFF"), Le(36 + size, 4), Text("CDXAfmt "), Le(16, 4),
                          ByteVec{0, 0, 0, 0, 0x55, 0x15, 'X', 'A', 1, 0, 0, 0, 0, 0, 0, 0}, Text("data"), Le(size, 4)});
    for (uint32_t k = 0, f = 150; k < sectorUserData.size(); ++k, ++f) {
        // Sync, the MSF address (BCD, 150 sectors on), mode 2, the subheader twice (file 1, channel 1, submode
        // 0x64: Form 2 real-time data, coding 0x0F), user data, EDC.
        const ByteVec header{0, bcd(f / 4500), bcd(f / 75 % 60), bcd(f % 75), 2, 1, 1, 0x64, 0x0F, 1, 1, 0x64, 0x0F};
        Append(out, Concat({ByteVec{0}, ByteVec(10, 0xFF), header, Padded(sectorUserData[k], 2324, 0), Le(0, 4)}));
    }
    return out;
}

ByteVec VcdPackSector(uint64_t scr, uint32_t muxRate, std::span<const uint8_t> es)
{
    return Mpeg1Pack(scr, {Mpeg1PesPacket(0xE0, Padded(es, 2324 - 12 - 7))}, 2324, muxRate);
}

ByteVec SvcdVideoSector(uint64_t scr, std::span<const uint8_t> es)
{
    return Mpeg2Pack(scr, {PesPacket(0xE0, Padded(es, 2324 - 14 - 9))}, 2324, 6972);
}

ByteVec SvcdAudioSector(uint64_t scr) { return Mpeg2Pack(scr, {PesPacket(0xC0, ByteVec(2301, 0xFF))}, 2324, 6972); }

// ---- Transport streams, DirecTV -------------------------------------------------------

ByteVec TsPacket(uint16_t pid, bool payloadUnitStart, uint8_t continuityCounter, std::span<const uint8_t> payload,
                 size_t packetSize, uint32_t arrivalTime)
{
    if (packetSize != 188 && packetSize != 192 && packetSize != 204)
        throw std::invalid_argument("packet size must be 188, 192 or 204");
    payload = payload.first(std::min<size_t>(payload.size(), 184));
    const size_t fill = 184 - payload.size();
    ByteVec adaptation{uint8_t(fill - 1), 0x00};  // adaptation_field_length, no flags, stuffing
    adaptation.resize(fill, 0xFF);
    const ByteVec header{0x47, uint8_t((payloadUnitStart ? 0x40 : 0) | (pid >> 8 & 0x1F)), uint8_t(pid),
                         uint8_t((fill ? 0x30 : 0x10) | (continuityCounter & 0xF))};
    // copy_permission_indicator 0 and arrival_time_stamp; the Reed-Solomon parity stand-in.
    return Concat({packetSize == 192 ? Be(arrivalTime & 0x3FFFFFFF, 4) : ByteVec{}, header, adaptation, payload,
                   ByteVec(packetSize == 204 ? 16 : 0, 0x77)});
}

ByteVec TsStream(size_t packetSize, size_t count)
{
    // PAT: program 1 -> PMT PID 0x1000. PMT: PCR on the video PID, one MPEG-2 video stream.
    const ByteVec psi[] = {PatSection({{1, 0x1000}}), PmtSection(1, {{0x02, 0x100}})};
    const ByteVec es = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeaderFlags(), PictureHeaderFields()});
    ByteVec out;
    for (size_t k = 0; k < count; ++k) {
        const auto atc = uint32_t(1000 * k);
        if (k < 2) {
            Append(out, TsPacket(k == 0 ? 0 : 0x1000, true, 0, Concat({ByteVec{0x00}, psi[k]}), packetSize, atc));
            continue;
        }
        const size_t index = (k - 2) % 8;  // one PES packet per 8 transport packets
        const ByteVec pes = PesPacket(0xE0, Padded(es, 8 * 184 - 14), 90000 + 3600 * ((k - 2) / 8));
        Append(out,
               TsPacket(0x100, index == 0, uint8_t(k - 2), std::span(pes).subspan(index * 184, 184), packetSize, atc));
    }
    return out;
}

ByteVec DirecTvStream(size_t count, uint32_t seed)
{
    ByteVec out;
    for (size_t k = 0; k < count; ++k) {
        // packet framing bit, bundle boundary 0, control flag 1, current field flag 0, SCID 0x123;
        // continuity counter and header designator 1.
        Append(out, ByteVec{uint8_t((k % 2 == 0 ? 0x80 : 0) | 0x21), 0x23, uint8_t(0x10 | (k & 0xF))});
        Append(out, RandomBytes(127, seed * 7919 + uint32_t(k), true));
    }
    return out;
}

}  // namespace mdtest
