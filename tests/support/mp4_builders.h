// Builders of synthetic MP4 content for tests: H.264 parameter sets and slice
// headers, MPEG-4 Visual headers, sample entries, tracks, and whole files whose
// samples lie in one 'mdat'. A test states the fields it cares about; the
// builders write the rest as ISO/IEC 14496-12, -14, -15, -10 and -2 lay them out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/box_builder.h"

namespace mdtest {

using Bytes8 = std::vector<uint8_t>;

// ---- H.264 (NAL units with emulation prevention applied) --------------------------

struct AvcSpsFields {
    uint32_t profileIdc = 100;
    uint32_t widthMbsMinus1 = 119;  // 1920
    uint32_t heightMapUnitsMinus1 = 67;  // 1088 for frames
    bool frameMbsOnly = true;
    bool mbAdaptiveFrameField = false;
    uint32_t cropBottom = 4;  // 1088 -> 1080 for frames
    uint32_t log2MaxFrameNumMinus4 = 0;
    uint32_t pocType = 0;
    uint32_t log2MaxPocLsbMinus4 = 2;
    bool vui = false;
    bool aspectInfo = false;
    uint32_t aspectIdc = 0;
    uint16_t sarWidth = 0;  // with aspectIdc 255
    uint16_t sarHeight = 0;
};
Bytes8 AvcSpsNal(const AvcSpsFields& f);

struct AvcPpsFields {
    bool bottomFieldPicOrderInFramePresent = false;
};
Bytes8 AvcPpsNal(const AvcPpsFields& f);

struct AvcSliceFields {
    bool idr = true;
    bool fieldPic = false;
    bool bottomField = false;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;  // written when the PPS says it is present
};
// The slice header up to delta_pic_order_cnt_bottom, then filler bytes.
Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f);
// NAL units each preceded by its 4-byte length, as MP4 samples store them.
Bytes8 LengthPrefixed(const std::vector<Bytes8>& nalUnits);

// ---- MPEG-4 Visual ----------------------------------------------------------------

// Video object layer (00 00 01 20) of a rectangular picture. aspectInfo 15 writes
// parWidth:parHeight.
Bytes8 Mpeg4Vol(uint32_t width, uint32_t height, uint16_t timeIncrementResolution, bool interlaced,
                uint8_t aspectInfo = 1, uint8_t parWidth = 0, uint8_t parHeight = 0);
// An I-VOP header (00 00 01 B6) up to top_field_first, then filler.
Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst);
// group_of_vop header (00 00 01 B3) with a zero time code.
Bytes8 Mpeg4GovHeader();

// ---- Sample entries ---------------------------------------------------------------

// Visual and sound sample entries: the fixed fields, then the given child boxes.
Bytes8 VisualEntry(std::string_view type, uint16_t width, uint16_t height, std::span<const uint8_t> children = {});
Bytes8 SoundEntry(std::string_view type, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate,
                  std::span<const uint8_t> children = {});
// An ES_Descriptor holding a DecoderConfigDescriptor holding dsi (none when empty).
Bytes8 EsDescriptor(uint8_t objectType, uint32_t bufferSize, uint32_t maxBitrate, uint32_t avgBitrate,
                    std::span<const uint8_t> dsi);
Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps,
                 uint8_t profileIndication = 100);
Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate = 0);
Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType, uint32_t avgBitrate,
                 std::span<const uint8_t> dsi);

// ---- Tracks and files ---------------------------------------------------------------

// A version-0 full box of u32 words: table boxes start with their entry count,
// which may claim more entries than follow.
Bytes8 WordsBox(std::string_view type, const std::vector<uint32_t>& words, uint8_t version = 0);
// A 'trak' (tkhd, mdia with mdhd, hdlr and minf) whose 'stbl' holds stblBoxes;
// with tkhdLast the 'tkhd' follows the 'mdia'.
Bytes8 Trak(uint32_t trackId, uint32_t timeScale, uint32_t duration, std::span<const uint8_t> stblBoxes,
            std::string_view handler = "vide", bool tkhdLast = false);

struct Mp4TrackLayout {
    std::string handler = "vide";
    Bytes8 sampleEntry{};  // empty: an 'stsd' without entries
    uint32_t trackId = 1;
    uint32_t timeScale = 25000;
    uint32_t sampleDelta = 1000;  // one 'stts' entry covering every sample
    std::vector<Bytes8> samples{};  // stored in one chunk
};

struct Mp4FileLayout {
    std::vector<Mp4TrackLayout> tracks{};
    bool moovFirst = true;
    uint32_t creationTime = 0;  // 'mvhd' version 0, seconds since 1904
    Bytes8 moovExtra{};  // boxes appended to 'moov' after the tracks
    Bytes8 topExtra{};  // top-level boxes after 'ftyp'
};
// ftyp, [topExtra], then moov and mdat in the order asked for.
Bytes8 Mp4File(const Mp4FileLayout& layout);

// The maker text of camera files' 'OLYM', '©inf' and 'TAGS' boxes.
inline constexpr char kCameraMaker[] = "OLYMPUS DIGITAL CAMERA";
// A top-level 'uuid' box of the given extended type holding an 'OLYM' box with makerText.
Bytes8 UuidWithOlym(std::string_view userType, std::string_view makerText);
// A camera file: a 640x480 'jpeg' track, a "cpgd" 'uuid' naming the maker, a
// 'moov'/'udta'/'thmb' with the thumbnail, and the 'mvhd' creation time given.
Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail);
// The thumbnail as a camera file hands it out: its first four bytes become FF D8 FF DB.
Bytes8 MarkedThumbnail(Bytes8 bytes);

}  // namespace mdtest
