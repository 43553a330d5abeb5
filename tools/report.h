// What the tool learns about one file through the detector's interfaces, and
// its two printed forms: aligned text and one JSON object.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "mediadetect/mediadetect.h"
#include "tools/time_table.h"

namespace md::tool {

// What examining one file cost, asked for with --stats: the wall time of the whole examination and, for a remote
// path, the requests the module sent and the body bytes it received.
struct ExamineStats {
    double seconds = 0;
    std::optional<RemoteStats> remote;  // absent for a local file
};

struct FileReport {
    std::string file;
    std::string error;  // empty when the file was examined
    std::optional<ExamineStats> stats;  // only when ExamineOptions::stats asks for it
    uint32_t kind = 0;
    uint32_t extensions = 0;  // the MD_EXT_* bits in effect
    std::optional<VideoInfo> video;
    std::optional<AudioInfo> audio;
    std::optional<MpegAudioLayerInfo> mpegAudio;
    std::optional<MultiChannelInfo> multiChannel;
    std::optional<uint32_t> codecHeader1Length;
    std::optional<uint32_t> codecHeader2Length;
    uint8_t encoderMarker = 0;
    std::optional<int64_t> firstVideoTime;
    uint32_t fieldCoding = 0;
    // MP4 files: the flags and the camera's thumbnail length.
    std::optional<Mp4Flags> mp4Flags;
    uint32_t thumbnailLength = 0;
    uint32_t videoRotation = 0;  // clockwise degrees; only with MD_EXT_MP4
    // The camera's recording date; absent when the detector reports it all zero.
    std::optional<RecordingTime> recordingTime;
    // The thumbnail bytes, read only when ExamineOptions::thumbnail asks for them.
    std::vector<uint8_t> thumbnail;
    // The program stream's time table, built only when ExamineOptions::timeTable asks for it.
    std::optional<TimeTable> timeTable;
    // Transport streams: the programs (PMT PID, video PIDs, audio PIDs); the
    // streams described are the first program's first video and audio stream.
    struct Program {
        uint32_t pmtPid = 0;
        std::vector<uint32_t> video;
        std::vector<uint32_t> audio;
    };
    std::vector<Program> programs;
    // Transport streams with MD_EXT_TS_CODECS: the DVB subtitle and teletext PIDs of every program.
    std::vector<uint32_t> subtitlePids;
    // Matroska files: the track numbers; the first video and audio track are described.
    std::optional<std::array<std::vector<uint32_t>, 3>> tracks;  // video, audio, subtitle
    // MXF files: the operational pattern ("OP1a", "OP-Atom"); empty when the file names none.
    std::string mxfPattern;
    // 100-ns units; both absent when the module could not measure the file's
    // time (a failed query or a negative duration), the range also without a duration.
    std::optional<int64_t> duration;
    std::optional<TimeRangeInfo> timeRange;
    // Files of the container families (kinds 19 on): whether the duration is estimated rather than stated or counted.
    std::optional<bool> durationEstimated;
    // With MD_EXT_TAGS: the file's tags (key, value), in the detector's order.
    std::optional<std::vector<std::pair<std::string, std::string>>> tags;
};

// Options of one examination.
struct ExamineOptions {
    uint32_t hint = 0;                    // container hint given to the detector before the open
    uint32_t extensions = 0;              // MD_EXT_* bits turned on before the open
    std::optional<int64_t> reopenOffset;  // describe the streams from this byte offset
    bool thumbnail = false;               // also read an MP4 camera file's thumbnail bytes
    bool timeTable = false;               // also build the time table (presentation time -> byte position)
    bool stats = false;                   // also measure the wall time, and the requests and bytes of a remote path
};

// Whether the path names a remote object (http://, https:// or s3://, the scheme in any case) rather than a local
// file. Such a path goes to the module as it is when MD_EXT_REMOTE is on; without it, it is a (missing) file name
// like any other.
bool IsRemotePath(std::string_view path);
// An s3:// path that names a prefix to list rather than one object: a bucket alone, or a path ending in '/'.
bool IsRemotePrefix(std::string_view path);
// "<reason>" of the detector's last failed remote open (MDI_REMOTE_ERROR), or empty when it has none.
std::string RemoteError(IMediaDetect5& detector);

// Opens the file with the detector and collects every record it offers.
FileReport Examine(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options);

class ModuleHost;
// Examines the file with a new detector object of the module, given the
// container hint and the extensions first. A new object for every file: an
// object keeps some values (the first video time, the MP4 thumbnail) from one
// open to the next. Safe to call from several threads at once.
FileReport ExamineWithNewDetector(const ModuleHost& host, const std::string& file, const ExamineOptions& options);

const char* KindName(uint32_t kind);
// "mpeg2 720x576 16:9 25 fps top-field-first 8000 kb/s"
std::string DescribeVideo(const VideoInfo& v);
// "ac3 6 ch 48000 Hz 448 kb/s mask 0x3f"
std::string DescribeAudio(const AudioInfo& a, const std::optional<MpegAudioLayerInfo>& mpeg,
                          const std::optional<MultiChannelInfo>& multi);
// "video audio moov-first cpgd-uuid camera recorded 2014-11-28 06:13:20 thumbnail 5120 bytes"
std::string DescribeMp4(const FileReport& r);
// "3 requests  1179648 bytes fetched  45.2 ms" (the wall time alone for a local file)
std::string DescribeStats(const ExamineStats& s);
// "start 0.540 s  duration 12.345 s"
std::string DescribeTime(const FileReport& r);
// "2014-11-28 06:13:20" with separator ' ', "2014-11-28T06:13:20" with 'T'.
std::string FormatRecordingTime(const RecordingTime& t, char separator);

// The report as aligned text lines (the file name padded to width); the tags with common keys only, or with
// allTags every tag.
std::string FormatText(const FileReport& r, size_t width, bool allTags = false);
nlohmann::ordered_json ToJson(const FileReport& r);
// Prints the report: aligned text on standard output (an error on standard
// error instead) or one JSON line on standard output.
void PrintReport(const FileReport& r, bool json, size_t width, bool allTags = false);

// Writes text to stdout or stderr and flushes it, so that reports and messages on
// the two streams appear in the order they were written.
void Write(std::FILE* to, std::string_view text);

}  // namespace md::tool
