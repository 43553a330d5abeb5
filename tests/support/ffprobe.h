// The ffprobe reference of a media file: reference/<name>.ffprobe.json beside it (-show_format -show_streams).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace md::test {

struct FfprobeStream {
    // codec_type ("video", "audio", ...), codec_name, field_order, channel_layout.
    std::string type, codec, fieldOrder, channelLayout;
    // id: "0x1e0", a PES stream id or PID; tag: codec_tag, a transport stream_type; track: the Matroska
    // TrackNumber, MediaInfo's "ID" when its reference is there, else index + 1 (ffmpeg numbers from 1).
    uint32_t id = 0, tag = 0, track = 0, width = 0, height = 0, sampleRate = 0, channels = 0;
    uint32_t bitsPerSample = 0;  // bits_per_sample, else bits_per_raw_sample
    double aspect = 0;           // display_aspect_ratio X / Y; 0 when not given
    double frameRate = 0;        // r_frame_rate
    int32_t rotation = 0;        // the display matrix side data's "rotation" (counterclockwise degrees)
    bool attachedPicture = false;  // disposition attached_pic: a cover image, not a video stream
    std::optional<double> start, duration;  // seconds
    std::optional<int64_t> startPts;
};

struct FfprobeProgram {
    uint32_t pmtPid = 0;
    std::vector<FfprobeStream> streams;
};

struct Ffprobe {
    std::optional<double> start, duration;
    std::vector<FfprobeStream> streams;
    std::optional<std::vector<FfprobeProgram>> programs;  // with -show_programs only

    // The first stream of a codec_type, of an id; null when none.
    const FfprobeStream* First(const std::string& type) const;
    const FfprobeStream* WithId(uint32_t id) const;
};

// The reference of media; throws when it is missing or not JSON.
Ffprobe ReadFfprobe(const std::filesystem::path& media);

}  // namespace md::test
