// Builders of synthetic MP4 content for tests: H.264 and MPEG-4 Visual headers, sample entries, tracks and files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/box_builder.h"

namespace mdtest {

using Bytes8 = std::vector<uint8_t>;

struct AvcSpsFields {
    uint32_t profileIdc = 100;
    uint32_t widthMbsMinus1 = 119;  // 1920
    uint32_t heightMapUnitsMinus1 = 67;  // 1088 for frames
    bool frameMbsOnly = true, mbAdaptiveFrameField = false;
    uint32_t cropBottom = 4;  // 1088 -> 1080 for frames
    uint32_t log2MaxFrameNumMinus4 = 0, pocType = 0, log2MaxPocLsbMinus4 = 2;
    bool vui = false, aspectInfo = false;
    uint32_t aspectIdc = 0;
    uint16_t sarWidth = 0, sarHeight = 0;  // with aspectIdc 255
};
struct AvcPpsFields { bool bottomFieldPicOrderInFramePresent = false; };
struct AvcSliceFields {
    bool idr = true, fieldPic = false, bottomField = false;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;  // written when the PPS says it is present
};
// NAL units with emulation prevention; a slice is its header up to delta_pic_order_cnt_bottom, then filler.
Bytes8 AvcSpsNal(const AvcSpsFields& f);
Bytes8 AvcPpsNal(const AvcPpsFields& f);
Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f);
// NAL units each preceded by its 4-byte length, as MP4 samples store them.
Bytes8 LengthPrefixed(const std::vector<Bytes8>& nalUnits);

// MPEG-4 Visual: a rectangular video object layer (aspectInfo 15 writes parWidth:parHeight), an I-VOP header
// up to top_field_first (a group_of_vop header: Mpeg4GroupOfVop in stream_builders.h).
Bytes8 Mpeg4Vol(uint32_t width, uint32_t height, uint16_t timeIncrementResolution, bool interlaced,
                uint8_t aspectInfo = 1, uint8_t parWidth = 0, uint8_t parHeight = 0);
Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst);

// Sample entries: the fixed fields, then the child boxes; mp4v and mp4a carry an 'esds' with dsi.
Bytes8 VisualEntry(std::string_view type, uint16_t width, uint16_t height, std::span<const uint8_t> children = {});
Bytes8 SoundEntry(std::string_view type, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate,
                  std::span<const uint8_t> children = {});
Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps);
// objectType: the esds objectTypeIndication (0x20 MPEG-4 Visual, 0x60-0x65 MPEG-2 video, 0x6A MPEG-1 video).
Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate = 0,
                 uint8_t objectType = 0x20);
Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType, uint32_t avgBitrate,
                 std::span<const uint8_t> dsi);

// A version-0 full box of u32 words (a table's entry count may claim more entries than follow).
Bytes8 WordsBox(std::string_view type, const std::vector<uint32_t>& words, uint8_t version = 0);
// A 'trak' (tkhd, mdia with mdhd, hdlr and minf) whose 'stbl' holds stblBoxes; with presented, an 'edts' whose
// one edit lasts that long in the movie's time scale, which is then the 'tkhd' duration.
Bytes8 Trak(uint32_t trackId, uint32_t timeScale, uint32_t duration, std::span<const uint8_t> stblBoxes,
            std::string_view handler = "vide", std::optional<uint32_t> presented = {});

struct Mp4TrackLayout {
    std::string handler = "vide";
    Bytes8 sampleEntry{};  // empty: an 'stsd' without entries
    uint32_t trackId = 1, timeScale = 25000;
    uint32_t sampleDelta = 1000;  // one 'stts' entry covering every sample
    std::vector<Bytes8> samples{};  // stored in one chunk
    std::vector<uint32_t> stts{};  // when given: the 'stts' entries (count, delta, ...) in place of that one
    std::optional<uint32_t> presented{};  // when given: an 'edts' with one edit, and this 'tkhd' duration
};
struct Mp4FileLayout {
    std::vector<Mp4TrackLayout> tracks{};
    uint32_t creationTime = 0;  // 'mvhd' version 0, seconds since 1904
    Bytes8 moovExtra{};  // boxes appended to 'moov' after the tracks
    Bytes8 topExtra{};  // top-level boxes after 'ftyp'
    bool moovOnly = false;  // the 'moov' alone, as a movie reduced to it: no 'ftyp', topExtra or 'mdat'
};
// ftyp, topExtra, moov, mdat.
Bytes8 Mp4File(const Mp4FileLayout& layout);

// The maker text of camera files' 'OLYM', '©inf' and 'TAGS' boxes.
inline constexpr char kCameraMaker[] = "OLYMPUS DIGITAL CAMERA";
// A camera file: a 640x480 'jpeg' track, a "cpgd" 'uuid' with the maker, 'udta'/'thmb', the creation time.
Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail);
// The thumbnail as a camera file hands it out: its first four bytes become FF D8 FF DB.
Bytes8 MarkedThumbnail(Bytes8 bytes);

}  // namespace mdtest
