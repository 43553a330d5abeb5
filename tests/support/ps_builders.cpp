#include "support/ps_builders.h"

#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "support/bit_writer.h"

namespace mdtest {
namespace {

void PutStartCode(BitWriter& w, uint8_t code) { w.Put(0x00000100u | code, 32); }

// Filler that holds no start-code prefix and no audio sync pattern.
void Fill(ByteVec& out, size_t size)
{
    if (out.size() < size)
        out.resize(size, 0x55);
}

}  // namespace

// ---- MPEG-1/2 video ---------------------------------------------------------------

ByteVec SequenceHeaders(const SequenceFields& fields)
{
    BitWriter w;
    PutStartCode(w, 0xB3);
    w.Put(fields.width & 0xFFF, 12);   // horizontal_size_value
    w.Put(fields.height & 0xFFF, 12);  // vertical_size_value
    w.Put(fields.aspectCode, 4);
    w.Put(fields.frameRateCode, 4);
    w.Put(fields.bitRate400, 18);  // bit_rate_value
    w.Put(1, 1);                 // marker_bit
    w.Put(112, 10);              // vbv_buffer_size_value
    w.Put(0, 1);                 // constrained_parameters_flag
    w.Put(fields.intraMatrix ? 1 : 0, 1);  // load_intra_quantiser_matrix
    if (fields.intraMatrix)
        for (unsigned i = 0; i < 64; ++i)
            w.Put(8 + i, 8);  // intra_quantiser_matrix, never 0
    w.Put(0, 1);  // load_non_intra_quantiser_matrix
    if (fields.extension) {
        PutStartCode(w, 0xB5);
        w.Put(1, 4);  // sequence_extension
        w.Put(fields.profileAndLevel, 8);
        w.Put(fields.progressive ? 1 : 0, 1);
        w.Put(1, 2);                          // chroma_format 4:2:0
        w.Put((fields.width >> 12) & 3, 2);     // horizontal_size_extension
        w.Put((fields.height >> 12) & 3, 2);    // vertical_size_extension
        w.Put(0, 12);                         // bit_rate_extension
        w.Put(1, 1);                          // marker_bit
        w.Put(0, 8);                          // vbv_buffer_size_extension
        w.Put(0, 1);                          // low_delay
        w.Put(0, 2);                          // frame_rate_extension_n
        w.Put(0, 5);                          // frame_rate_extension_d
        if (fields.displaySize) {
            PutStartCode(w, 0xB5);
            w.Put(2, 4);  // sequence_display_extension
            w.Put(5, 3);  // video_format: unspecified
            w.Put(fields.transferCharacteristics ? 1 : 0, 1);  // colour_description
            if (fields.transferCharacteristics) {
                w.Put(1, 8);  // colour_primaries
                w.Put(*fields.transferCharacteristics, 8);
                w.Put(1, 8);  // matrix_coefficients
            }
            w.Put(fields.displaySize->first, 14);  // display_horizontal_size
            w.Put(1, 1);                         // marker_bit
            w.Put(fields.displaySize->second, 14); // display_vertical_size
            w.AlignZero();
        }
    }
    return w.Take();
}

ByteVec GopHeaderFlags(bool closedGop)
{
    BitWriter w;
    PutStartCode(w, 0xB8);
    w.Put(0, 1);   // drop_frame_flag
    w.Put(0, 5);   // time_code_hours
    w.Put(0, 6);   // time_code_minutes
    w.Put(1, 1);   // marker_bit
    w.Put(0, 6);   // time_code_seconds
    w.Put(0, 6);   // time_code_pictures
    w.Put(closedGop ? 1 : 0, 1);
    w.Put(0, 1);   // broken_link
    w.AlignZero();
    return w.Take();
}

ByteVec PictureHeaderFields(uint16_t temporalReference, uint8_t codingType)
{
    BitWriter w;
    PutStartCode(w, 0x00);
    w.Put(temporalReference, 10);
    w.Put(codingType, 3);
    w.Put(0xFFFF, 16);  // vbv_delay
    if (codingType == 2 || codingType == 3) {
        w.Put(0, 1);  // full_pel_forward_vector
        w.Put(1, 3);  // forward_f_code
    }
    if (codingType == 3) {
        w.Put(0, 1);  // full_pel_backward_vector
        w.Put(1, 3);  // backward_f_code
    }
    w.Put(0, 1);  // extra_bit_picture
    w.AlignZero();
    return w.Take();
}

ByteVec PictureCodingExtension(bool topFieldFirst)
{
    BitWriter w;
    PutStartCode(w, 0xB5);
    w.Put(8, 4);        // picture_coding_extension
    w.Put(0xFFFF, 16);  // f_code[0..1][0..1]
    w.Put(0, 2);        // intra_dc_precision
    w.Put(3, 2);        // picture_structure: frame
    w.Put(topFieldFirst ? 1 : 0, 1);
    w.Put(0, 1);  // frame_pred_frame_dct
    w.Put(0, 1);  // concealment_motion_vectors
    w.Put(0, 1);  // q_scale_type
    w.Put(0, 1);  // intra_vlc_format
    w.Put(0, 1);  // alternate_scan
    w.Put(0, 1);  // repeat_first_field
    w.Put(1, 1);  // chroma_420_type
    w.Put(0, 1);  // progressive_frame
    w.Put(0, 1);  // composite_display_flag
    w.AlignZero();
    return w.Take();
}

ByteVec SliceStart() { return {0x00, 0x00, 0x01, 0x01, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}; }

// ---- Audio --------------------------------------------------------------------------

ByteVec MpegAudioHeader(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode)
{
    // layer field: 3 Layer I, 2 Layer II, 1 Layer III; protection_bit 1 (no CRC).
    const uint8_t b1 = static_cast<uint8_t>(0xF8 | ((4 - layer) & 3) << 1 | 1);
    const uint8_t b2 = static_cast<uint8_t>((bitrateIndex & 0xF) << 4 | (samplingIndex & 3) << 2);
    const uint8_t b3 = static_cast<uint8_t>((mode & 3) << 6);
    return {0xFF, b1, b2, b3};
}

ByteVec MpegAudioFrame(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode, size_t size)
{
    ByteVec out = MpegAudioHeader(layer, bitrateIndex, samplingIndex, mode);
    Fill(out, size);
    return out;
}

ByteVec Ac3FrameStart(uint8_t fscod, uint8_t frmsizecod, uint8_t bsid, uint8_t acmod, bool lfeon, size_t size)
{
    BitWriter w;
    w.Put(0x0B77, 16);  // syncword
    w.Put(0x1234, 16);  // crc1
    w.Put(fscod, 2);
    w.Put(frmsizecod, 6);
    w.Put(bsid, 5);
    w.Put(0, 3);  // bsmod
    w.Put(acmod, 3);
    if ((acmod & 1) && acmod != 1)
        w.Put(0, 2);  // cmixlev
    if (acmod & 4)
        w.Put(0, 2);  // surmixlev
    if (acmod == 2)
        w.Put(0, 2);  // dsurmod
    w.Put(lfeon ? 1 : 0, 1);
    w.AlignZero();
    ByteVec out = w.Take();
    Fill(out, size);
    return out;
}

ByteVec DtsFrameStart(uint8_t nblks, uint8_t sfreq, uint8_t rate, bool reversed, size_t size)
{
    BitWriter w;
    w.Put(reversed ? 0x0180FE7Fu : 0x7FFE8001u, 32);
    w.Put(1, 1);       // FTYPE: normal frame
    w.Put(31, 5);      // SHORT
    w.Put(0, 1);       // CPF
    w.Put(nblks, 7);   // NBLKS
    w.Put(1000, 14);   // FSIZE
    w.Put(9, 6);       // AMODE
    w.Put(sfreq, 4);   // SFREQ
    w.Put(rate, 5);    // RATE
    w.Put(0, 11);      // MIX, DYNF, TIMEF, AUXF, HDCD, EXT_AUDIO_ID, EXT_AUDIO, ASPF
    w.AlignZero();
    ByteVec out = w.Take();
    Fill(out, size);
    return out;
}

ByteVec AudioSubStream(uint8_t subStreamId, std::span<const uint8_t> frames)
{
    ByteVec out{subStreamId, 0x01, 0x00, 0x01};
    Append(out, frames);
    return out;
}

ByteVec LpcmSubStream(uint8_t subStreamId, uint8_t quantisation, uint8_t sampling, uint8_t channels,
                      size_t sampleBytes)
{
    ByteVec out{subStreamId, 0x01, 0x00, 0x04};
    out.push_back(0x00);  // emphasis, mute, reserved, frame number
    out.push_back(static_cast<uint8_t>((quantisation & 3) << 6 | (sampling & 3) << 4 | ((channels - 1) & 7)));
    out.push_back(0x80);  // dynamic range control
    Fill(out, out.size() + sampleBytes);
    return out;
}

// ---- Packs ------------------------------------------------------------------------------

ByteVec DvdVrDataPacketWithAspect(uint8_t byte29)
{
    ByteVec packet = DvdVrDataPacket();
    packet.at(29) = byte29;
    return packet;
}

// ---- ffprobe references -----------------------------------------------------------

namespace {

uint32_t ToU32(const nlohmann::json& j, const char* key)
{
    if (!j.contains(key))
        return 0;
    const auto& v = j[key];
    if (v.is_number_unsigned() || v.is_number_integer())
        return v.get<uint32_t>();
    if (v.is_string())
        return static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0));
    return 0;
}

std::string ToString(const nlohmann::json& j, const char* key)
{
    return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

// "a:b" or "a/b".
std::pair<uint64_t, uint64_t> Ratio(const std::string& s)
{
    const size_t sep = s.find_first_of(":/");
    if (sep == std::string::npos)
        return {0, 0};
    return {std::stoull(s.substr(0, sep)), std::stoull(s.substr(sep + 1))};
}

}  // namespace

std::vector<ReferenceStream> ReadFfprobeStreams(const std::filesystem::path& json)
{
    std::vector<ReferenceStream> out;
    std::ifstream in(json);
    if (!in)
        return out;
    const auto doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.contains("streams"))
        return out;
    for (const auto& s : doc["streams"]) {
        ReferenceStream r;
        r.codecType = ToString(s, "codec_type");
        r.codecName = ToString(s, "codec_name");
        r.id = ToU32(s, "id");
        r.width = ToU32(s, "width");
        r.height = ToU32(s, "height");
        const auto dar = Ratio(ToString(s, "display_aspect_ratio"));
        r.darX = static_cast<uint32_t>(dar.first);
        r.darY = static_cast<uint32_t>(dar.second);
        const auto rate = Ratio(ToString(s, "r_frame_rate"));
        r.frameRate = rate.second != 0 ? double(rate.first) / double(rate.second) : 0.0;
        r.fieldOrder = ToString(s, "field_order");
        r.sampleRate = ToU32(s, "sample_rate");
        r.channels = ToU32(s, "channels");
        if (s.contains("start_pts") && s["start_pts"].is_number_integer())
            r.startPts = s["start_pts"].get<int64_t>();
        out.push_back(r);
    }
    return out;
}

std::optional<ReferenceStream> FirstReferenceStream(const std::filesystem::path& json, const std::string& type)
{
    for (const auto& s : ReadFfprobeStreams(json))
        if (s.codecType == type)
            return s;
    return std::nullopt;
}

}  // namespace mdtest
