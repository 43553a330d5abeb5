// Builders of whole synthetic MP4 files for the demultiplexer and field-order
// tests: sample entries, H.264 parameter sets and slice headers, MPEG-4 Visual
// layer and picture headers, and a file of tracks whose samples lie in one
// 'mdat'. A test states the fields it cares about; the builders write the rest
// as ISO/IEC 14496-12, -10 and -2 lay them out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/bit_writer.h"

namespace mdtest {

using Bytes8 = std::vector<uint8_t>;

// ---- H.264 ------------------------------------------------------------------------

void PutUe(BitWriter& w, uint64_t v);
void PutSe(BitWriter& w, int64_t v);

struct AvcSpsFields {
    uint32_t profileIdc = 100;
    uint32_t widthMbsMinus1 = 119;        // 1920
    uint32_t heightMapUnitsMinus1 = 67;   // 1088 for frames
    bool frameMbsOnly = true;
    bool mbAdaptiveFrameField = false;
    uint32_t cropBottom = 4;              // 1088 -> 1080 for frames
    uint32_t log2MaxFrameNumMinus4 = 0;
    uint32_t pocType = 0;
    uint32_t log2MaxPocLsbMinus4 = 2;
    bool vui = false;
    bool aspectInfo = false;
    uint32_t aspectIdc = 0;
    uint16_t sarWidth = 0;   // with aspectIdc 255
    uint16_t sarHeight = 0;
};
// The SPS NAL unit (header byte 0x67, emulation prevention applied).
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
// A slice NAL unit: the slice header up to delta_pic_order_cnt_bottom, then
// filler bytes standing in for the rest of the slice.
Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f);
// NAL units each preceded by its 4-byte length, as MP4 samples store them.
Bytes8 LengthPrefixed(const std::vector<Bytes8>& nalUnits);

// ---- MPEG-4 Visual ------------------------------------------------------------------

// Video object layer (00 00 01 20) of a rectangular picture, as decoder-specific
// info. aspectInfo 15 writes parWidth:parHeight.
Bytes8 Mpeg4Vol(uint32_t width, uint32_t height, uint16_t timeIncrementResolution, bool interlaced,
                uint8_t aspectInfo = 1, uint8_t parWidth = 0, uint8_t parHeight = 0);
// An I-VOP header (00 00 01 B6) up to top_field_first, then filler. timeIncrementBits
// is the width of vop_time_increment.
Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst);
// group_of_vop header (00 00 01 B3) with a zero time code.
Bytes8 Mpeg4GovHeader();

// ---- Sample entries -------------------------------------------------------------------

Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps,
                 uint8_t profileIndication = 100);
Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate = 0);
// 'mp4a' with an 'esds' of the given objectTypeIndication and decoder-specific info.
Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType,
                 uint32_t avgBitrate, std::span<const uint8_t> dsi);
// A sound entry with only the fixed fields ('twos', 'sowt', 'raw ', '.mp3', 'samr', ...).
Bytes8 SoundEntry(const char (&type)[5], uint16_t channels, uint16_t sampleSize, uint32_t sampleRate);
// A visual entry with only the fixed fields ('cvid', 'jpeg', 'hvc1', ...).
Bytes8 VisualEntry(const char (&type)[5], uint16_t width, uint16_t height);
// 's263' with its 'd263' box.
Bytes8 S263Entry(uint16_t width, uint16_t height, uint8_t level, uint8_t profile);

// ---- Files ----------------------------------------------------------------------------

struct Mp4TrackLayout {
    std::string handler = "vide";  // four characters
    Bytes8 sampleEntry;            // empty: the track gets an 'stsd' without entries
    uint32_t trackId = 1;
    uint32_t timeScale = 25000;
    uint32_t sampleDelta = 1000;   // one 'stts' entry covering every sample
    std::vector<Bytes8> samples;   // stored in one chunk
};

struct Mp4FileLayout {
    std::vector<Mp4TrackLayout> tracks;
    bool moovFirst = true;
    uint64_t creationTime = 0;  // 'mvhd', seconds since 1904
    Bytes8 moovExtra;           // boxes appended to 'moov' after the tracks
    Bytes8 topExtra;            // top-level boxes after 'ftyp'
};

// ftyp, [topExtra], then moov and mdat in the order asked for. Each track's
// samples form one chunk in the 'mdat'; the chunk offsets point at them.
Bytes8 Mp4File(const Mp4FileLayout& layout);
// Offset of a track's first sample in a file built from layout.
uint64_t Mp4FirstSampleOffset(const Mp4FileLayout& layout, size_t track);

// The maker text camera files carry in their 'OLYM', '©inf' and 'TAGS' boxes.
inline constexpr char kCameraMaker[] = "OLYMPUS DIGITAL CAMERA";
// A top-level 'uuid' box of the given extended type holding an 'OLYM' box with makerText.
Bytes8 UuidWithOlym(const char (&userType)[5], const char* makerText);
// A camera file: one 640x480 'jpeg' video track, a "cpgd" 'uuid' naming the
// maker, a 'moov'/'udta'/'thmb' with the thumbnail bytes, and the 'mvhd'
// creation time given.
Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail);
// The thumbnail as a camera file hands it out: its first four bytes become the
// JPEG start-of-image and quantisation-table markers FF D8 FF DB.
Bytes8 MarkedThumbnail(Bytes8 bytes);

}  // namespace mdtest
