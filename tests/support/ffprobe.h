// The ffprobe reference of a media file (reference/<name>.ffprobe.json beside
// it, from ffprobe -show_format -show_streams [-show_programs]).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace md::test {

struct FfprobeStream {
    std::string type;   // codec_type: "video", "audio", "subtitle", "data"
    std::string codec;  // codec_name
    uint32_t id = 0;    // "0x1e0": PES stream id or PID
    uint32_t tag = 0;   // codec_tag: a transport stream_type
    // Matroska TrackNumber: MediaInfo's "ID" when its reference is there, else
    // index + 1 (ffmpeg's muxer numbers tracks from 1 in stream order).
    uint32_t track = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    double aspect = 0;     // display_aspect_ratio X / Y; 0 when not given
    double frameRate = 0;  // r_frame_rate
    std::string fieldOrder;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;  // bits_per_sample, else bits_per_raw_sample
    std::string channelLayout;
    std::optional<double> start;     // seconds
    std::optional<double> duration;  // seconds
    std::optional<int64_t> startPts;
};

struct FfprobeProgram {
    uint32_t pmtPid = 0;
    std::vector<FfprobeStream> streams;
};

struct Ffprobe {
    bool readable = false;  // ffprobe could read the file ("format" is present)
    std::optional<double> start;
    std::optional<double> duration;
    std::vector<FfprobeStream> streams;
    std::optional<std::vector<FfprobeProgram>> programs;  // with -show_programs only

    const FfprobeStream* First(const std::string& type) const;
    const FfprobeStream* WithId(uint32_t id) const;
};

// The reference of media; throws when it is missing or not JSON.
Ffprobe ReadFfprobe(const std::filesystem::path& media);

}  // namespace md::test
