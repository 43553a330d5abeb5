// Builders of synthetic Matroska files for tests: an EBML element writer whose
// master elements get their sizes when closed, and a whole-file builder from a
// small description of tracks, clusters and cues.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mdtest {

// EBML and Matroska element IDs, written with their length marker bits.
namespace mkvid {
constexpr uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067, kSeekHead = 0x114D9B74, kSeek = 0x4DBB,
                   kSeekId = 0x53AB, kSeekPosition = 0x53AC, kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1,
                   kDuration = 0x4489, kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7, kTrackType = 0x83,
                   kCodecId = 0x86, kCodecPrivate = 0x63A2, kDefaultDuration = 0x23E383, kFlagDefault = 0x88,
                   kLanguage = 0x22B59C, kName = 0x536E, kVideo = 0xE0, kPixelWidth = 0xB0, kPixelHeight = 0xBA,
                   kDisplayWidth = 0x54B0, kDisplayHeight = 0x54BA, kAudio = 0xE1, kSamplingFrequency = 0xB5,
                   kChannels = 0x9F, kBitDepth = 0x6264, kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3,
                   kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1, kCluster = 0x1F43B675,
                   kTimecode = 0xE7, kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1, kBlockDuration = 0x9B,
                   kReferenceBlock = 0xFB, kVoid = 0xEC;
}  // namespace mkvid

class EbmlBuilder {
public:
    // Opens a master element; its 8-byte size is written by End().
    EbmlBuilder& Begin(uint32_t id);
    EbmlBuilder& End();

    // Unsigned integer in the fewest bytes, or in exactly width bytes.
    EbmlBuilder& UInt(uint32_t id, uint64_t value, int width = 0);
    EbmlBuilder& Float(uint32_t id, double value);  // 8-byte IEEE 754
    EbmlBuilder& String(uint32_t id, std::string_view text);
    EbmlBuilder& Binary(uint32_t id, std::span<const uint8_t> bytes);
    EbmlBuilder& Raw(std::span<const uint8_t> bytes);
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

private:
    void Id(uint32_t id);
    void Size(uint64_t size, int width);
    std::vector<uint8_t> m_bytes;
    std::vector<size_t> m_open;  // offsets of the size fields of open masters
};

// A (Simple)Block body: track number (1 byte), relative timecode, flags, data.
std::vector<uint8_t> BlockBody(uint8_t track, int16_t relativeTimecode, uint8_t flags, std::span<const uint8_t> data);

struct MkvTrack {
    uint64_t number = 1;
    uint64_t type = 1;  // 1 video, 2 audio, 17 subtitle
    std::string codecId{};
    std::vector<uint8_t> codecPrivate{};
    std::optional<uint64_t> defaultDuration{};
    std::optional<uint64_t> flagDefault{};
    std::optional<std::string> language{};
    std::optional<std::string> name{};
    // Video, 720x576 unless set.
    uint64_t pixelWidth = 720, pixelHeight = 576;
    std::optional<uint64_t> displayWidth{}, displayHeight{};
    // Audio, 48 kHz stereo unless set.
    double samplingFrequency = 48000;
    uint64_t channels = 2;
    uint64_t bitDepth = 0;
};

struct MkvFrame {
    uint8_t track = 1;
    int16_t relativeTimecode = 0;
    bool keyframe = true;
    std::vector<uint8_t> data;  // the frame bytes
    bool blockGroup = false;  // a BlockGroup (with a ReferenceBlock when not a keyframe)
};

struct MkvCluster {
    uint64_t timecode = 0;
    std::vector<MkvFrame> frames;
};

struct MkvLayout {
    std::string docType = "matroska";
    double duration = 0;
    std::vector<MkvTrack> tracks{};
    std::vector<MkvCluster> clusters{};
    size_t padding = 0;  // bytes of a Void element closing the segment
};

// EBML header, then a segment: SeekHead, Info (TimecodeScale 1 ms), Tracks, the
// clusters, Cues (one cue point per cluster, for track 1), the padding.
std::vector<uint8_t> MatroskaFile(const MkvLayout& layout);

}  // namespace mdtest
