#include "support/stream_builders.h"

#include <algorithm>
#include <stdexcept>

#include "support/bit_writer.h"

namespace mdtest {
namespace {

void PutBe16(ByteVec& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutBe32(ByteVec& out, uint32_t v)
{
    PutBe16(out, v >> 16);
    PutBe16(out, v & 0xFFFF);
}

void PutLe16(ByteVec& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void PutLe32(ByteVec& out, uint32_t v)
{
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

void PutFourCC(ByteVec& out, const char (&s)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(s[i]));
}

void PutStartCode(BitWriter& w, uint8_t code) { w.Put(0x00000100u | code, 32); }

// A 33-bit PTS/DTS/SCR-style field: 4-bit prefix, three parts with markers.
void PutTimestamp(BitWriter& w, unsigned prefix, uint64_t ts)
{
    w.Put(prefix, 4);
    w.Put((ts >> 30) & 7, 3);
    w.Put(1, 1);
    w.Put((ts >> 15) & 0x7FFF, 15);
    w.Put(1, 1);
    w.Put(ts & 0x7FFF, 15);
    w.Put(1, 1);
}

bool HasNoPesHeaderExtension(uint8_t id)
{
    // program_stream_map, padding, private_stream_2, ECM, EMM, directory,
    // DSMCC, H.222.1 type E.
    return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xFF || id == 0xF2 ||
           id == 0xF8;
}

ByteVec PacketWithLength(uint8_t streamId, std::span<const uint8_t> body)
{
    if (body.size() > 0xFFFF)
        throw std::invalid_argument("PES packet longer than 65535 bytes");
    ByteVec out{0x00, 0x00, 0x01, streamId};
    PutBe16(out, static_cast<uint32_t>(body.size()));
    Append(out, body);
    return out;
}

// A PSI section in a transport packet payload: pointer_field, section, CRC.
ByteVec PsiPayload(ByteVec section)
{
    PutBe32(section, Crc32Mpeg2(section));
    ByteVec payload{0x00};
    Append(payload, section);
    return payload;
}

ByteVec Padded(std::span<const uint8_t> es, size_t size, uint8_t filler)
{
    if (es.size() > size)
        throw std::invalid_argument("payload does not fit");
    ByteVec out(es.begin(), es.end());
    out.resize(size, filler);
    return out;
}

}  // namespace

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

void Append(ByteVec& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

ByteVec Concat(std::initializer_list<std::span<const uint8_t>> parts)
{
    ByteVec out;
    for (auto p : parts)
        Append(out, p);
    return out;
}

ByteVec RandomBytes(size_t n, uint32_t seed, bool clean)
{
    ByteVec out(n);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ (uint64_t(seed) * 0xBF58476D1CE4E5B9ull);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        uint8_t b = uint8_t(x >> 24);
        if (clean && b == 0x00)
            b = 0x80;
        if (clean && b == 0x47)
            b = 0x48;
        out[i] = b;
    }
    return out;
}

// ---- MPEG program streams ----------------------------------------------------------

ByteVec Mpeg1PackHeader(uint64_t scr, uint32_t muxRate)
{
    BitWriter w;
    PutStartCode(w, 0xBA);
    PutTimestamp(w, 0x2, scr);  // '0010' system_clock_reference
    w.Put(1, 1);
    w.Put(muxRate, 22);
    w.Put(1, 1);
    return w.Take();
}

ByteVec Mpeg2PackHeader(uint64_t scrBase, uint32_t muxRate, uint32_t scrExtension, uint8_t stuffing)
{
    if (stuffing > 7)
        throw std::invalid_argument("pack_stuffing_length above 7");
    BitWriter w;
    PutStartCode(w, 0xBA);
    w.Put(1, 2);  // '01'
    w.Put((scrBase >> 30) & 7, 3);
    w.Put(1, 1);
    w.Put((scrBase >> 15) & 0x7FFF, 15);
    w.Put(1, 1);
    w.Put(scrBase & 0x7FFF, 15);
    w.Put(1, 1);
    w.Put(scrExtension, 9);
    w.Put(1, 1);
    w.Put(muxRate, 22);  // program_mux_rate
    w.Put(3, 2);         // two marker bits
    w.Put(0x1F, 5);      // reserved
    w.Put(stuffing, 3);  // pack_stuffing_length
    for (int i = 0; i < stuffing; ++i)
        w.Put(0xFF, 8);
    return w.Take();
}

ByteVec SystemHeader(uint32_t rateBound, uint8_t audioBound, uint8_t videoBound,
                     const std::vector<SystemHeaderStream>& streams)
{
    BitWriter w;
    PutStartCode(w, 0xBB);
    w.Put(6 + 3 * streams.size(), 16);  // header_length
    w.Put(1, 1);
    w.Put(rateBound, 22);
    w.Put(1, 1);
    w.Put(audioBound, 6);
    w.Put(0, 1);  // fixed_flag
    w.Put(0, 1);  // CSPS_flag
    w.Put(1, 1);  // system_audio_lock_flag
    w.Put(1, 1);  // system_video_lock_flag
    w.Put(1, 1);
    w.Put(videoBound, 5);
    w.Put(1, 1);     // packet_rate_restriction_flag
    w.Put(0x7F, 7);  // reserved
    for (const auto& s : streams) {
        w.Put(s.streamId, 8);
        w.Put(3, 2);
        w.Put(s.bufferScale ? 1 : 0, 1);
        w.Put(s.bufferSize, 13);
    }
    return w.Take();
}

ByteVec DvdSystemHeader()
{
    return SystemHeader(25200, 1, 1, {{0xE0, true, 232}, {0xBD, true, 58}, {0xBF, true, 2}, {0xC0, false, 32}});
}

ByteVec PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts,
                  std::optional<uint64_t> dts)
{
    if (HasNoPesHeaderExtension(streamId))
        return PacketWithLength(streamId, payload);
    BitWriter w;
    w.Put(2, 2);  // '10'
    w.Put(0, 2);  // PES_scrambling_control
    w.Put(0, 1);  // PES_priority
    w.Put(1, 1);  // data_alignment_indicator
    w.Put(0, 1);  // copyright
    w.Put(1, 1);  // original_or_copy
    const unsigned ptsDtsFlags = pts ? (dts ? 3 : 2) : 0;
    w.Put(ptsDtsFlags, 2);
    w.Put(0, 6);  // ESCR, ES_rate, DSM_trick_mode, additional_copy_info, PES_CRC, PES_extension
    w.Put(ptsDtsFlags == 3 ? 10 : ptsDtsFlags == 2 ? 5 : 0, 8);  // PES_header_data_length
    if (pts)
        PutTimestamp(w, ptsDtsFlags == 3 ? 0x3 : 0x2, *pts);
    if (pts && dts)
        PutTimestamp(w, 0x1, *dts);
    w.PutBytes(payload);
    return PacketWithLength(streamId, w.Bytes());
}

ByteVec Mpeg1PesPacket(uint8_t streamId, std::span<const uint8_t> payload, std::optional<uint64_t> pts)
{
    if (HasNoPesHeaderExtension(streamId))
        return PacketWithLength(streamId, payload);
    BitWriter w;
    if (pts)
        PutTimestamp(w, 0x2, *pts);
    else
        w.Put(0x0F, 8);
    w.PutBytes(payload);
    return PacketWithLength(streamId, w.Bytes());
}

ByteVec PaddingPacket(size_t totalSize)
{
    if (totalSize < 6)
        throw std::invalid_argument("padding packet shorter than 6 bytes");
    ByteVec body(totalSize - 6, 0xFF);
    return PacketWithLength(0xBE, body);
}

ByteVec PrivateStream2Packet(uint16_t length, uint8_t subStream)
{
    ByteVec body(length, 0x00);
    if (length > 0)
        body[0] = subStream;
    return PacketWithLength(0xBF, body);
}

ByteVec DvdNavPciPacket() { return PrivateStream2Packet(980, 0x00); }
ByteVec DvdNavDsiPacket() { return PrivateStream2Packet(1018, 0x01); }
ByteVec DvdVrDataPacket() { return PrivateStream2Packet(2004, 0x50); }

ByteVec FillPack(ByteVec pack, size_t packSize)
{
    if (pack.size() > packSize)
        throw std::invalid_argument("pack contents exceed the pack size");
    const size_t rest = packSize - pack.size();
    if (rest > 0)
        Append(pack, PaddingPacket(rest));
    return pack;
}

ByteVec Mpeg2Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate)
{
    ByteVec pack = Mpeg2PackHeader(scr, muxRate);
    for (auto p : packets)
        Append(pack, p);
    return FillPack(std::move(pack), packSize);
}

ByteVec Mpeg1Pack(uint64_t scr, std::initializer_list<std::span<const uint8_t>> packets, size_t packSize,
                  uint32_t muxRate)
{
    ByteVec pack = Mpeg1PackHeader(scr, muxRate);
    for (auto p : packets)
        Append(pack, p);
    return FillPack(std::move(pack), packSize);
}

ByteVec DvdNavPack(uint64_t scr)
{
    return Mpeg2Pack(scr, {DvdSystemHeader(), DvdNavPciPacket(), DvdNavDsiPacket()});
}

ByteVec DvdVrRdiPack(uint64_t scr) { return Mpeg2Pack(scr, {DvdSystemHeader(), DvdVrDataPacket()}); }

ByteVec DvdVideoPack(uint64_t scr, std::span<const uint8_t> es, std::optional<uint64_t> pts)
{
    const size_t payload = 2048 - 14 - 9 - (pts ? 5 : 0);
    return Mpeg2Pack(scr, {PesPacket(0xE0, Padded(es, payload, 0xFF), pts)});
}

// ---- Video elementary headers ----------------------------------------------------------

ByteVec VideoSequenceHeader(uint32_t width, uint32_t height, uint8_t aspectCode, uint8_t frameRateCode, bool mpeg2,
                            uint32_t bitRate400)
{
    BitWriter w;
    PutStartCode(w, 0xB3);
    w.Put(width, 12);         // horizontal_size_value
    w.Put(height, 12);        // vertical_size_value
    w.Put(aspectCode, 4);     // aspect_ratio_information
    w.Put(frameRateCode, 4);  // frame_rate_code
    w.Put(bitRate400, 18);    // bit_rate_value
    w.Put(1, 1);
    w.Put(112, 10);  // vbv_buffer_size_value
    w.Put(0, 1);     // constrained_parameters_flag
    w.Put(0, 1);     // load_intra_quantiser_matrix
    w.Put(0, 1);     // load_non_intra_quantiser_matrix
    if (mpeg2) {
        PutStartCode(w, 0xB5);
        w.Put(1, 4);     // extension_start_code_identifier: sequence extension
        w.Put(0x48, 8);  // profile_and_level_indication: Main@Main
        w.Put(0, 1);     // progressive_sequence
        w.Put(1, 2);     // chroma_format 4:2:0
        w.Put(0, 2);     // horizontal_size_extension
        w.Put(0, 2);     // vertical_size_extension
        w.Put(0, 12);    // bit_rate_extension
        w.Put(1, 1);
        w.Put(0, 8);  // vbv_buffer_size_extension
        w.Put(0, 1);  // low_delay
        w.Put(0, 2);  // frame_rate_extension_n
        w.Put(0, 5);  // frame_rate_extension_d
    }
    return w.Take();
}

ByteVec GopHeader()
{
    BitWriter w;
    PutStartCode(w, 0xB8);
    w.Put(0, 1);  // drop_frame_flag
    w.Put(0, 5);  // hours
    w.Put(0, 6);  // minutes
    w.Put(1, 1);  // marker
    w.Put(0, 6);  // seconds
    w.Put(0, 6);  // pictures
    w.Put(1, 1);  // closed_gop
    w.Put(0, 1);  // broken_link
    w.AlignZero();
    return w.Take();
}

ByteVec IPictureHeader()
{
    BitWriter w;
    PutStartCode(w, 0x00);
    w.Put(0, 10);       // temporal_reference
    w.Put(1, 3);        // picture_coding_type: I
    w.Put(0xFFFF, 16);  // vbv_delay
    w.Put(0, 1);        // extra_bit_picture
    w.AlignZero();
    return w.Take();
}

ByteVec Mpeg4VisualObjectSequence(uint8_t profileAndLevel) { return {0x00, 0x00, 0x01, 0xB0, profileAndLevel}; }

ByteVec Mpeg4VisualObject()
{
    BitWriter w;
    PutStartCode(w, 0xB5);
    w.Put(0, 1);  // is_visual_object_identifier
    w.Put(1, 4);  // visual_object_type: video
    w.Put(0, 1);  // video_signal_type
    w.Put(0, 1);  // next_start_code: a zero bit, then ones
    w.AlignOnes();
    return w.Take();
}

ByteVec Mpeg4VideoObject() { return {0x00, 0x00, 0x01, 0x00}; }

ByteVec Mpeg4VideoObjectLayer(uint32_t width, uint32_t height, uint16_t timeIncrementResolution)
{
    BitWriter w;
    PutStartCode(w, 0x20);
    w.Put(0, 1);   // random_accessible_vol
    w.Put(1, 8);   // video_object_type_indication: simple object
    w.Put(0, 1);   // is_object_layer_identifier
    w.Put(1, 4);   // aspect_ratio_info: square pixels
    w.Put(0, 1);   // vol_control_parameters
    w.Put(0, 2);   // video_object_layer_shape: rectangular
    w.Put(1, 1);   // marker
    w.Put(timeIncrementResolution, 16);
    w.Put(1, 1);   // marker
    w.Put(0, 1);   // fixed_vop_rate
    w.Put(1, 1);   // marker
    w.Put(width, 13);
    w.Put(1, 1);   // marker
    w.Put(height, 13);
    w.Put(1, 1);   // marker
    w.Put(0, 1);   // interlaced
    w.Put(1, 1);   // obmc_disable
    w.Put(0, 1);   // sprite_enable
    w.Put(0, 1);   // not_8_bit
    w.Put(0, 1);   // quant_type
    w.Put(1, 1);   // complexity_estimation_disable
    w.Put(1, 1);   // resync_marker_disable
    w.Put(0, 1);   // data_partitioned
    w.Put(0, 1);   // scalability
    w.Put(0, 1);   // next_start_code
    w.AlignOnes();
    return w.Take();
}

ByteVec Mpeg4GroupOfVop()
{
    BitWriter w;
    PutStartCode(w, 0xB3);
    w.Put(0, 5);  // time_code_hours
    w.Put(0, 6);  // time_code_minutes
    w.Put(1, 1);  // marker
    w.Put(0, 6);  // time_code_seconds
    w.Put(1, 1);  // closed_gov
    w.Put(0, 1);  // broken_link
    w.Put(0, 1);  // next_start_code
    w.AlignOnes();
    return w.Take();
}

ByteVec Mpeg4IVop()
{
    BitWriter w;
    PutStartCode(w, 0xB6);
    w.Put(0, 2);  // vop_coding_type: I
    w.Put(0, 1);  // modulo_time_base
    w.Put(1, 1);  // marker
    w.Put(0, 5);  // vop_time_increment (5 bits for a resolution of 25)
    w.Put(1, 1);  // marker
    w.Put(1, 1);  // vop_coded
    w.Put(0, 3);  // intra_dc_vlc_thr
    w.Put(8, 5);  // vop_quant
    w.AlignOnes();
    for (uint8_t b : {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC})
        w.Put(b, 8);
    return w.Take();
}

ByteVec Mpeg4VisualStream(uint32_t width, uint32_t height)
{
    return Concat({Mpeg4VisualObjectSequence(), Mpeg4VisualObject(), Mpeg4VideoObject(),
                   Mpeg4VideoObjectLayer(width, height), Mpeg4GroupOfVop(), Mpeg4IVop()});
}

// ---- Disc images -------------------------------------------------------------------------

ByteVec RawForm2Sector(uint32_t lba, std::span<const uint8_t> userData)
{
    if (userData.size() > kForm2UserDataSize)
        throw std::invalid_argument("sector user data above 2324 bytes");
    ByteVec s{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const uint32_t frames = lba + 150;
    auto bcd = [](uint32_t v) { return uint8_t((v / 10) << 4 | (v % 10)); };
    s.push_back(bcd(frames / (60 * 75)));
    s.push_back(bcd((frames / 75) % 60));
    s.push_back(bcd(frames % 75));
    s.push_back(0x02);  // mode 2
    for (int copy = 0; copy < 2; ++copy)
        for (uint8_t b : {0x01, 0x01, 0x64, 0x0F})  // file, channel, submode (form 2), coding
            s.push_back(b);
    Append(s, userData);
    s.resize(24 + kForm2UserDataSize, 0x00);
    s.resize(kRawSectorSize, 0x00);  // EDC
    return s;
}

ByteVec CdxaFile(const std::vector<ByteVec>& sectorUserData)
{
    const uint32_t dataSize = static_cast<uint32_t>(sectorUserData.size() * kRawSectorSize);
    ByteVec out;
    PutFourCC(out, "RIFF");
    PutLe32(out, 36 + dataSize);
    PutFourCC(out, "CDXA");
    PutFourCC(out, "fmt ");
    PutLe32(out, 16);
    PutLe16(out, 0);       // user id
    PutLe16(out, 0);       // group id
    PutLe16(out, 0x1555);  // attributes
    out.push_back('X');
    out.push_back('A');
    out.push_back(1);  // file number
    out.resize(out.size() + 7, 0);
    PutFourCC(out, "data");
    PutLe32(out, dataSize);
    for (size_t k = 0; k < sectorUserData.size(); ++k)
        Append(out, RawForm2Sector(static_cast<uint32_t>(k), sectorUserData[k]));
    return out;
}

ByteVec VcdPackSector(uint64_t scr, uint32_t muxRate, std::span<const uint8_t> es)
{
    const size_t payload = kForm2UserDataSize - 12 - 7;
    return Mpeg1Pack(scr, {Mpeg1PesPacket(0xE0, Padded(es, payload, 0xFF))}, kForm2UserDataSize, muxRate);
}

ByteVec SvcdVideoSector(uint64_t scr, std::span<const uint8_t> es)
{
    const size_t payload = kForm2UserDataSize - 14 - 9;
    return Mpeg2Pack(scr, {PesPacket(0xE0, Padded(es, payload, 0xFF))}, kForm2UserDataSize, 6972);
}

ByteVec SvcdAudioSector(uint64_t scr)
{
    const size_t payload = kForm2UserDataSize - 14 - 9;
    return Mpeg2Pack(scr, {PesPacket(0xC0, ByteVec(payload, 0xFF))}, kForm2UserDataSize, 6972);
}

// ---- Transport streams ---------------------------------------------------------------------

ByteVec TsPacket(uint16_t pid, bool payloadUnitStart, uint8_t continuityCounter, std::span<const uint8_t> payload,
                 size_t packetSize, uint32_t arrivalTime)
{
    if (packetSize != 188 && packetSize != 192 && packetSize != 204)
        throw std::invalid_argument("packet size must be 188, 192 or 204");
    ByteVec out;
    if (packetSize == 192)
        PutBe32(out, arrivalTime & 0x3FFFFFFF);  // copy_permission_indicator 0, arrival_time_stamp
    out.push_back(0x47);
    out.push_back(uint8_t((payloadUnitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F)));
    out.push_back(uint8_t(pid));
    payload = payload.first(std::min<size_t>(payload.size(), 184));
    if (payload.size() == 184) {
        out.push_back(uint8_t(0x10 | (continuityCounter & 0xF)));
    } else {
        out.push_back(uint8_t(0x30 | (continuityCounter & 0xF)));
        const size_t afLength = 183 - payload.size();
        out.push_back(uint8_t(afLength));
        if (afLength > 0) {
            out.push_back(0x00);  // no adaptation flags
            out.resize(out.size() + afLength - 1, 0xFF);
        }
    }
    Append(out, payload);
    if (packetSize == 204)
        out.resize(out.size() + 16, 0x77);  // Reed-Solomon parity stand-in
    return out;
}

ByteVec TsAdaptationOnlyPacket(uint16_t pid, uint8_t continuityCounter, size_t packetSize)
{
    ByteVec out;
    if (packetSize == 192)
        PutBe32(out, 0);
    out.push_back(0x47);
    out.push_back(uint8_t((pid >> 8) & 0x1F));
    out.push_back(uint8_t(pid));
    out.push_back(uint8_t(0x20 | (continuityCounter & 0xF)));
    out.push_back(183);
    out.push_back(0x00);
    out.resize(out.size() + 182, 0xFF);
    if (packetSize == 204)
        out.resize(out.size() + 16, 0x77);
    return out;
}

ByteVec TsStream(size_t packetSize, size_t count, uint16_t pid)
{
    ByteVec out;
    uint32_t atc = 0;
    size_t written = 0;
    auto put = [&](ByteVec packet) {
        if (written < count) {
            Append(out, packet);
            ++written;
            atc += 1000;
        }
    };
    // PAT: program 1 -> PMT PID 0x1000.
    ByteVec pat{0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00};
    put(TsPacket(0, true, 0, PsiPayload(pat), packetSize, atc));
    // PMT: PCR on the video PID, one MPEG-2 video stream.
    ByteVec pmt{0x02, 0xB0, 0x12, 0x00, 0x01, 0xC1, 0x00, 0x00, uint8_t(0xE0 | (pid >> 8)), uint8_t(pid),
                0xF0, 0x00, 0x02, uint8_t(0xE0 | (pid >> 8)), uint8_t(pid), 0xF0, 0x00};
    put(TsPacket(0x1000, true, 0, PsiPayload(pmt), packetSize, atc));

    const ByteVec es = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeader(), IPictureHeader()});
    uint8_t cc = 0;
    uint64_t pts = 90000;
    while (written < count) {
        // One PES packet per 8 transport packets.
        const size_t payloadSize = 8 * 184 - 14;
        ByteVec pes = PesPacket(0xE0, Padded(es, payloadSize, 0xFF), pts);
        pts += 3600;
        for (size_t k = 0; k < 8 && written < count; ++k) {
            put(TsPacket(pid, k == 0, cc, std::span<const uint8_t>(pes).subspan(k * 184, 184), packetSize, atc));
            cc = (cc + 1) & 0xF;
        }
    }
    return out;
}

ByteVec DirecTvPacket(uint16_t scid, bool framingBit, uint8_t continuityCounter, std::span<const uint8_t> payload)
{
    ByteVec out;
    // packet framing bit, bundle boundary, control flag (set), current field flag,
    // SCID (12 bits); then continuity counter and header designator.
    out.push_back(uint8_t((framingBit ? 0x80 : 0) | 0x20 | ((scid >> 8) & 0x0F)));
    out.push_back(uint8_t(scid));
    out.push_back(uint8_t(0x10 | (continuityCounter & 0xF)));
    payload = payload.first(std::min<size_t>(payload.size(), 127));
    Append(out, payload);
    out.resize(130, 0xAA);
    return out;
}

ByteVec DirecTvStream(size_t count, uint32_t seed)
{
    ByteVec out;
    for (size_t k = 0; k < count; ++k)
        Append(out, DirecTvPacket(0x123, k % 2 == 0, uint8_t(k), RandomBytes(127, seed * 7919 + uint32_t(k), true)));
    return out;
}

// ---- MP4 ---------------------------------------------------------------------------------

ByteVec Mp4Box(const char (&type)[5], std::span<const uint8_t> payload, bool largeSize)
{
    ByteVec out;
    if (largeSize) {
        PutBe32(out, 1);
        PutFourCC(out, type);
        const uint64_t size = 16 + payload.size();
        PutBe32(out, uint32_t(size >> 32));
        PutBe32(out, uint32_t(size));
    } else {
        PutBe32(out, static_cast<uint32_t>(8 + payload.size()));
        PutFourCC(out, type);
    }
    Append(out, payload);
    return out;
}

ByteVec Mp4Ftyp(const char (&brand)[5])
{
    ByteVec payload;
    PutFourCC(payload, brand);
    PutBe32(payload, 0x200);
    PutFourCC(payload, brand);
    PutFourCC(payload, "mp41");
    return Mp4Box("ftyp", payload);
}

}  // namespace mdtest
