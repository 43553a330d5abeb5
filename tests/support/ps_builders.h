// Builders of the elementary-stream pieces that program-stream tests put into
// PES packets (MPEG video sequence, GOP, picture and slice headers with chosen
// fields; MPEG audio, AC-3, DTS and DVD LPCM frame and sub-stream headers), and
// a reader of the ffprobe reference dumps the corpus tests compare against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/stream_builders.h"

namespace mdtest {

// ---- MPEG-1/2 video (ISO/IEC 11172-2, 13818-2) ----------------------------------

struct SequenceFields {
    uint32_t width = 720;
    uint32_t height = 576;
    uint8_t aspectCode = 2;     // aspect_ratio_information (MPEG-1: pel_aspect_ratio)
    uint8_t frameRateCode = 3;  // 25 fps
    uint32_t bitRate400 = 15000;
    bool intraMatrix = false;   // load_intra_quantiser_matrix with 64 matrix bytes: a 76-byte header
    bool extension = true;      // a sequence_extension follows
    uint8_t profileAndLevel = 0x48;  // Main@Main
    bool progressive = false;
    // A sequence_display_extension (with a colour description when
    // transferCharacteristics is given) after the sequence extension.
    std::optional<std::pair<uint32_t, uint32_t>> displaySize;
    std::optional<uint8_t> transferCharacteristics;
};

// Sequence header, then the extensions the fields ask for.
ByteVec SequenceHeaders(const SequenceFields& fields);
// group_of_pictures_header with the given closed_gop flag.
ByteVec GopHeaderFlags(bool closedGop);
// picture_header: temporal_reference and picture_coding_type (1 I, 2 P, 3 B).
ByteVec PictureHeaderFields(uint16_t temporalReference, uint8_t codingType = 1);
// picture_coding_extension of a frame picture with top_field_first.
ByteVec PictureCodingExtension(bool topFieldFirst);
// A slice start code (00 00 01 01) and a few bytes of slice data.
ByteVec SliceStart();

// ---- Audio ------------------------------------------------------------------------

// The 4-byte MPEG audio frame header: ID 1 (MPEG-1), layer 1..3, no CRC.
// bitrateIndex and samplingIndex as in ISO/IEC 11172-3; mode 0..3.
ByteVec MpegAudioHeader(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode);
// An MPEG audio frame: the header and filler bytes up to size.
ByteVec MpegAudioFrame(uint8_t layer, uint8_t bitrateIndex, uint8_t samplingIndex, uint8_t mode, size_t size);
// The start of an AC-3 sync frame (ATSC A/52): syncword, crc1, fscod and
// frmsizecod, bsid and bsmod 0, acmod and its mix levels (0), lfeon; then filler.
ByteVec Ac3FrameStart(uint8_t fscod, uint8_t frmsizecod, uint8_t bsid, uint8_t acmod, bool lfeon, size_t size = 64);
// The start of a DTS core frame (ETSI TS 102 114): sync, FTYPE 1, SHORT 31,
// CPF 0, NBLKS, FSIZE, AMODE 9, SFREQ, RATE; then filler. reversed writes the
// sync as 01 80 FE 7F.
ByteVec DtsFrameStart(uint8_t nblks, uint8_t sfreq, uint8_t rate, bool reversed = false, size_t size = 64);
// Private-stream-1 payload of a DVD audio sub-stream: sub_stream_id,
// number_of_frame_headers 1, first_access_unit_pointer, then the frames.
ByteVec AudioSubStream(uint8_t subStreamId, std::span<const uint8_t> frames);
// Private-stream-1 payload of a DVD LPCM sub-stream: the 4-byte sub-stream
// header, emphasis/mute/frame byte, quantisation (0 16, 1 20, 2 24 bits),
// sampling (0 48 kHz, 1 96 kHz), channels, dynamic range, then sample bytes.
ByteVec LpcmSubStream(uint8_t subStreamId, uint8_t quantisation, uint8_t sampling, uint8_t channels,
                      size_t sampleBytes = 64);

// ---- Packs --------------------------------------------------------------------------

// A DVD-VR real-time data packet (private stream 2, length 2004, 'P') whose
// byte 29 (counted from the packet start) carries the display aspect nibble.
ByteVec DvdVrDataPacketWithAspect(uint8_t byte29);

// ---- ffprobe references -----------------------------------------------------------

struct ReferenceStream {
    std::string codecType;  // "video", "audio", "data"
    std::string codecName;
    uint32_t id = 0;  // "0x1e0" -> 0x1E0
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t darX = 0;  // display_aspect_ratio
    uint32_t darY = 0;
    double frameRate = 0;  // r_frame_rate
    std::string fieldOrder;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    std::optional<int64_t> startPts;
};

// The streams of an ffprobe -show_streams JSON dump (empty when unreadable).
std::vector<ReferenceStream> ReadFfprobeStreams(const std::filesystem::path& json);
// The first stream of a codec type ("video", "audio").
std::optional<ReferenceStream> FirstReferenceStream(const std::filesystem::path& json, const std::string& type);

}  // namespace mdtest
