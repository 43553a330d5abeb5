// What the tool learns about one file through the detector's interfaces, and
// its two printed forms: aligned text and one JSON object.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "mediadetect/mediadetect.h"

namespace md::tool {

struct FileReport {
    std::string file;
    std::string error;  // empty when the file was examined
    uint32_t kind = 0;
    std::optional<VideoInfo> video;
    std::optional<AudioInfo> audio;
    std::optional<MpegAudioLayerInfo> mpegAudio;
    std::optional<MultiChannelInfo> multiChannel;
    std::optional<uint32_t> codecHeader1Length;
    std::optional<uint32_t> codecHeader2Length;
    uint8_t encoderMarker = 0;
    std::optional<int64_t> firstVideoTime;
    uint32_t fieldCoding = 0;
    // MP4 files: has video, has audio, moov first, "cpgd" uuid, camera file,
    // and the camera's thumbnail length.
    std::optional<std::array<uint8_t, 5>> mp4Flags;
    uint32_t thumbnailLength = 0;
};

// Options of one examination.
struct ExamineOptions {
    std::optional<int64_t> reopenOffset;  // describe the streams from this byte offset
};

// Opens the file with the detector and collects every record it offers.
FileReport Examine(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options);

const char* KindName(uint32_t kind);
// "mpeg2 720x576 16:9 25 fps top-field-first 8000 kb/s"
std::string DescribeVideo(const VideoInfo& v);
// "ac3 6 ch 48000 Hz 448 kb/s mask 0x3f"
std::string DescribeAudio(const AudioInfo& a, const std::optional<MpegAudioLayerInfo>& mpeg,
                          const std::optional<MultiChannelInfo>& multi);

// The report as aligned text lines (the file name padded to width).
std::string FormatText(const FileReport& r, size_t width);
nlohmann::ordered_json ToJson(const FileReport& r);

}  // namespace md::tool
