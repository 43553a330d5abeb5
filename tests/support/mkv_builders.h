// Builders of synthetic Matroska files for tests: an EBML writer whose masters get their sizes when closed,
// and a whole file from a small description of tracks and clusters.
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
constexpr uint32_t kCluster = 0x1F43B675, kTimecode = 0xE7, kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1,
                   kBlockDuration = 0x9B, kReferenceBlock = 0xFB, kCues = 0x1C53BB6B, kCuePoint = 0xBB;
}  // namespace mkvid

class EbmlBuilder {
public:
    // Opens a master element; its 8-byte size is written by End().
    EbmlBuilder& Begin(uint32_t id);
    EbmlBuilder& End();
    // Unsigned integer in at least width bytes; a float in 8 bytes.
    EbmlBuilder& UInt(uint32_t id, uint64_t value, int width = 1);
    EbmlBuilder& Float(uint32_t id, double value);
    EbmlBuilder& String(uint32_t id, std::string_view text)
    {
        return Binary(id, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    }
    EbmlBuilder& Binary(uint32_t id, std::span<const uint8_t> bytes);
    size_t Size() const { return m_bytes.size(); }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

private:
    EbmlBuilder& Big(uint64_t value, int width);
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
    std::optional<uint64_t> defaultDuration{}, flagDefault{};
    std::optional<std::string> name{};
    uint64_t pixelWidth = 720, pixelHeight = 576;
    std::optional<uint64_t> displayWidth{}, displayHeight{};
    double samplingFrequency = 48000;
    uint64_t channels = 2;
    uint64_t bitDepth = 0;
};

struct MkvFrame {
    uint8_t track = 1;
    int16_t relativeTimecode = 0;
    bool keyframe = true;
    std::vector<uint8_t> data;
};

struct MkvCluster { uint64_t timecode = 0; std::vector<MkvFrame> frames; };

struct MkvLayout {
    double duration = 0;
    std::vector<MkvTrack> tracks{};
    std::vector<MkvCluster> clusters{};
    std::optional<std::string> docType = "matroska";  // none: the EBML header holds no DocType
};

// EBML header, then a segment: Info (TimecodeScale 1 ms), Tracks, Cues, the clusters of SimpleBlocks.
std::vector<uint8_t> MatroskaFile(const MkvLayout& layout);

}  // namespace mdtest
