#include "tools/report.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <tuple>
#include <utility>

#include "platform/text.h"
#include "tools/module_host.h"

namespace md::tool {
namespace {

// Why a file cannot be examined, or empty when it is a regular file we may read.
// The type is checked before opening so that a FIFO never blocks the tool.
std::string Unreadable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

const char* VideoFormatName(uint32_t format)
{
    switch (format) {
    case VF_MPEG1: return "mpeg1";
    case VF_MPEG2: return "mpeg2";
    case VF_MPEG4: return "mpeg4";
    case VF_H264: return "h264";
    case VF_H263: return "h263";
    case VF_CINEPAK: return "cinepak";
    case VF_MJPEG: return "mjpeg";
    case VF_H264_MVC: return "h264-mvc";
    case VF_HEVC: return "hevc";
    case VF_VP8: return "vp8";
    case VF_VP9: return "vp9";
    case VF_AV1: return "av1";
    case VF_FFV1: return "ffv1";
    case VF_PRORES: return "prores";
    case VF_THEORA: return "theora";
    case VF_WMV: return "wmv";
    case VF_VC1: return "vc1";
    case VF_VP6: return "vp6";
    case VF_FLV1: return "flv1";
    case VF_DV: return "dv";
    case VF_DNXHD: return "dnxhd";
    case VF_HUFFYUV: return "huffyuv";
    case VF_RAW: return "raw";
    case VF_MSMPEG4: return "msmpeg4";
    case VF_JPEG2000: return "jpeg2000";
    case VF_SCREEN: return "screen";
    default: return "other";
    }
}

const char* AudioFormatName(uint32_t format)
{
    switch (format) {
    case AF_MPEG1: return "mpeg1";
    case AF_MPEG2: return "mpeg2";
    case AF_AC3: return "ac3";
    case AF_PCM_BE: return "pcm-be";
    case AF_DTS: return "dts";
    case AF_AAC: return "aac";
    case AF_AMR: return "amr";
    case AF_PCM_LE: return "pcm-le";
    case AF_MP3: return "mp3";
    case AF_VORBIS: return "vorbis";
    case AF_TRUEHD: return "truehd";
    case AF_DTSHD: return "dtshd";
    case AF_EAC3: return "eac3";
    case AF_OPUS: return "opus";
    case AF_FLAC: return "flac";
    case AF_PCM_FLOAT: return "pcm-float";
    case AF_ALAW: return "alaw";
    case AF_MULAW: return "mulaw";
    case AF_SPEEX: return "speex";
    case AF_ADPCM: return "adpcm";
    case AF_ALAC: return "alac";
    case AF_AMR_WB: return "amr-wb";
    case AF_WMA: return "wma";
    case AF_WMA_PRO: return "wma-pro";
    case AF_WMA_LOSSLESS: return "wma-lossless";
    case AF_WMA_VOICE: return "wma-voice";
    case AF_NELLYMOSER: return "nellymoser";
    default: return "other";
    }
}

// 25 → "25", 29.97002997 → "29.97".
std::string FormatRate(double fps)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", fps);
    std::string s = buf;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

bool IsZero(const RecordingTime& t)
{
    const RecordingTime zero{};
    return std::memcmp(&t, &zero, sizeof t) == 0;
}

template <typename T>
std::optional<T> Query(HRESULT (IMediaDetect5::*getter)(T*), IMediaDetect5& d)
{
    T value{};
    return SUCCEEDED((d.*getter)(&value)) ? std::optional<T>(value) : std::nullopt;
}

// Lists the programs of a transport stream and selects the first video and
// audio stream of the first program that has any. A selection the detector
// cannot make with both streams is tried with each alone. With MD_EXT_TS_CODECS
// the subtitle PIDs are listed too, and the program's audio PIDs are tried in
// turn until one is described.
void SelectFirstProgram(IMediaDetect5& detector, FileReport& r, uint32_t extensions)
{
    const bool tsCodecs = r.kind == MK_MPEG2_TRANSPORT && (extensions & MD_EXT_TS_CODECS) != 0;
    // A DirecTV file has one program, listed under PMT PID 0.
    std::vector<uint32_t> pmtPids(1, 0);
    if (r.kind == MK_MPEG2_TRANSPORT) {
        uint32_t count = 0;
        if (FAILED(detector.GetTransportPrograms(&count, nullptr, 0)) || count == 0)
            return;
        pmtPids.resize(count);
        if (FAILED(detector.GetTransportPrograms(&count, pmtPids.data(), 0)))
            return;
        pmtPids.resize(std::min<size_t>(count, pmtPids.size()));
    }
    for (uint32_t pmtPid : pmtPids) {
        std::array<uint32_t, 16> video{};
        std::array<uint32_t, 16> audio{};
        int32_t videoCount = 0;
        int32_t audioCount = 0;
        if (FAILED(detector.GetStreamLists(pmtPid, &videoCount, video.data(), &audioCount, audio.data(), 0)))
            continue;
        FileReport::Program p;
        p.pmtPid = pmtPid;
        p.video.assign(video.begin(), video.begin() + std::clamp(videoCount, 0, 16));
        p.audio.assign(audio.begin(), audio.begin() + std::clamp(audioCount, 0, 16));
        r.programs.push_back(std::move(p));
    }
    uint32_t subtitleCount = 0;
    std::array<uint32_t, 16> subtitles{};
    if (tsCodecs && SUCCEEDED(detector.GetSubtitleTracks(&subtitleCount, subtitles.data(), 0)))
        r.subtitlePids.assign(subtitles.begin(), subtitles.begin() + std::min<uint32_t>(subtitleCount, 16));
    for (const FileReport::Program& p : r.programs) {
        if (p.video.empty() && p.audio.empty())
            continue;
        const uint32_t v = p.video.empty() ? 0 : p.video[0];
        AudioInfo described{};
        for (size_t i = 0; tsCodecs && i < p.audio.size(); ++i) {
            const StreamSelection s{v, 0, p.audio[i], 0};
            if (SUCCEEDED(detector.SelectTransportProgram(&s, 0, nullptr, nullptr)) &&
                SUCCEEDED(detector.GetAudioInfo(&described)))
                return;
        }
        const uint32_t a = p.audio.empty() ? 0 : p.audio[0];
        for (const StreamSelection s : {StreamSelection{v, 0, a, 0}, StreamSelection{v, 0, 0, 0},
                                        StreamSelection{0, 0, a, 0}}) {
            if ((s.videoId != 0 || s.audioId != 0) &&
                SUCCEEDED(detector.SelectTransportProgram(&s, 0, nullptr, nullptr)))
                return;
        }
        return;
    }
}

// The kinds whose streams are listed as tracks: Matroska and the multi-stream container families (a DV file carries
// one or two audio pairs).
bool ListsTracks(uint32_t kind)
{
    switch (kind) {
    case MK_MATROSKA:
    case MK_WEBM:
    case MK_OGG:
    case MK_AVI:
    case MK_FLV:
    case MK_ASF:
    case MK_MXF:
    case MK_DV: return true;
    default: return false;
    }
}

// Lists the tracks of a Matroska file and selects its first video and audio track.
void SelectFirstTracks(IMediaDetect5& detector, FileReport& r)
{
    int32_t videoCount = 0;
    int32_t audioCount = 0;
    uint32_t subtitleCount = 0;
    if (FAILED(detector.GetStreamLists(0, &videoCount, nullptr, &audioCount, nullptr, 0)) ||
        FAILED(detector.GetSubtitleTracks(&subtitleCount, nullptr, 0)))
        return;
    std::array<std::vector<uint32_t>, 3> tracks{std::vector<uint32_t>(std::max(videoCount, 0)),
                                                std::vector<uint32_t>(std::max(audioCount, 0)),
                                                std::vector<uint32_t>(subtitleCount)};
    detector.GetStreamLists(0, &videoCount, tracks[0].data(), &audioCount, tracks[1].data(), 0);
    detector.GetSubtitleTracks(&subtitleCount, tracks[2].data(), 0);
    const StreamSelection s{tracks[0].empty() ? 0 : tracks[0][0], 0, tracks[1].empty() ? 0 : tracks[1][0], 0};
    detector.SelectMatroskaTracks(&s, 0, 0, nullptr, nullptr, nullptr);
    r.tracks = std::move(tracks);
}

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
}

std::string Seconds(int64_t time100ns)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f s", double(time100ns) / 1e7);
    return buf;
}

// A 100-ns time in seconds for the JSON form; -1 (unknown) stays null.
nlohmann::ordered_json SecondsJson(int64_t time100ns)
{
    return time100ns < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(double(time100ns) / 1e7);
}

}  // namespace

const char* KindName(uint32_t kind)
{
    static const char* const names[] = {
        "unknown",   "mpeg1-system", "mpeg2-program",   "vcd", "svcd",        "mpeg2-program-mpeg4",
        "dvd-video", "dvd-vr",       "mpeg2-transport", "mp4", "mpeg1-video", "mpeg2-video",
        "mpeg4-video", "directv",    "matroska",        "",    "webm",        "h264-video",
        "hevc-video",  "mp3",        "adts",            "ac3", "eac3",        "dts",
        "flac",        "wav",        "aiff",            "caf", "amr",         "ogg",
        "avi",         "flv",        "asf",             "mxf", "dv",
    };
    return kind < std::size(names) ? names[kind] : "unknown";
}

// Every tag the detector lists: each asked for its sizes first, then copied.
std::vector<std::pair<std::string, std::string>> QueryTags(IMediaDetect5& detector)
{
    std::vector<std::pair<std::string, std::string>> tags;
    IMediaDetectTags* source = nullptr;
    if (FAILED(detector.QueryInterface(IID_IMediaDetectTags, reinterpret_cast<void**>(&source))))
        return tags;
    uint32_t count = 0;
    if (SUCCEEDED(source->GetTagCount(&count))) {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t keySize = 0, valueSize = 0;
            if (source->GetTag(i, nullptr, &keySize, nullptr, &valueSize) != MD_E_INSUFFICIENT_BUFFER)
                continue;
            std::string key(keySize, '\0'), value(valueSize, '\0');
            if (FAILED(source->GetTag(i, key.data(), &keySize, value.data(), &valueSize)))
                continue;
            key.resize(keySize - 1);
            value.resize(valueSize - 1);
            tags.emplace_back(std::move(key), std::move(value));
        }
    }
    source->Release();
    return tags;
}

bool IsRemotePath(std::string_view path)
{
    return StartsWithNoCase(path, "http://") || StartsWithNoCase(path, "https://") || StartsWithNoCase(path, "s3://");
}

bool IsRemotePrefix(std::string_view path)
{
    if (!StartsWithNoCase(path, "s3://"))
        return false;
    const std::string_view rest = path.substr(5);
    return rest.find('/') == std::string_view::npos || rest.ends_with('/');
}

std::string RemoteError(IMediaDetect5& detector)
{
    IMediaDetectInfo* info = nullptr;
    if (FAILED(detector.QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info))))
        return {};
    char reason[kRemoteErrorSize] = {};
    const bool known = SUCCEEDED(info->GetInfo(MDI_REMOTE_ERROR, reason));
    info->Release();
    return known ? std::string(reason, strnlen(reason, sizeof reason)) : std::string();
}

namespace {

// Opens the file and collects every record the detector offers: Examine without the measurement of its cost.
void ExamineFile(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options, FileReport& r);

// The requests and bytes of the detector's remote file, read once the examination is over so that they count the
// reads of every query (the duration scans and the program and track selections open the file again).
std::optional<RemoteStats> QueryRemoteStats(IMediaDetect5& detector)
{
    IMediaDetectInfo* info = nullptr;
    if (FAILED(detector.QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info))))
        return std::nullopt;
    RemoteStats stats{};
    const bool known = SUCCEEDED(info->GetInfo(MDI_REMOTE_STATS, &stats));
    info->Release();
    return known ? std::optional<RemoteStats>(stats) : std::nullopt;
}

}  // namespace

FileReport Examine(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options)
{
    FileReport r;
    r.file = file;
    const auto start = std::chrono::steady_clock::now();
    ExamineFile(detector, file, options, r);
    if (options.stats) {
        ExamineStats stats;
        stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (IsRemotePath(file) && (options.extensions & MD_EXT_REMOTE) != 0)
            stats.remote = QueryRemoteStats(detector);
        r.stats = stats;
    }
    return r;
}

namespace {

void ExamineFile(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options, FileReport& r)
{
    // A remote path is the module's to reach; a local one is checked first, so that a FIFO never blocks the tool.
    const bool remote = IsRemotePath(file) && (options.extensions & MD_EXT_REMOTE) != 0;
    if (!remote) {
        r.error = Unreadable(file);
        if (!r.error.empty())
            return;
    }
    HRESULT hr = detector.OpenFileA(file.c_str(), &r.kind);
    if (FAILED(hr)) {
        r.error = "cannot open: " + DescribeHresult(hr);
        if (const std::string reason = remote ? RemoteError(detector) : std::string(); !reason.empty())
            r.error += ": " + reason;
        return;
    }
    if (options.reopenOffset) {
        hr = detector.ReopenProgramStream(*options.reopenOffset, nullptr, nullptr);
        if (FAILED(hr)) {
            r.error = "cannot re-open at offset " + std::to_string(*options.reopenOffset) + ": " +
                      DescribeHresult(hr);
            return;
        }
    }
    if (r.kind == MK_MPEG2_TRANSPORT || r.kind == MK_DIRECTV)
        SelectFirstProgram(detector, r, options.extensions);
    else if (ListsTracks(r.kind))
        SelectFirstTracks(detector, r);
    r.video = Query(&IMediaDetect5::GetVideoInfo, detector);
    r.audio = Query(&IMediaDetect5::GetAudioInfo, detector);
    // A negative duration means the file's time could not be measured (a
    // transport stream without PES, say): then neither value is reported.
    r.duration = Query(&IMediaDetect5::GetDuration, detector);
    if (r.duration && *r.duration < 0)
        r.duration.reset();
    if (r.duration)
        r.timeRange = Query(&IMediaDetect5::GetTimeRangeInfo, detector);
    r.mpegAudio = Query(&IMediaDetect5::GetMpegAudioLayerInfo, detector);
    r.multiChannel = Query(&IMediaDetect5::GetMultiChannelInfo, detector);

    IMediaDetectInfo* info = nullptr;
    if (SUCCEEDED(detector.QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
        auto headers = std::make_unique<CodecHeaderInfo>();
        if (SUCCEEDED(info->GetInfo(MDI_CODEC_HEADERS, headers.get()))) {
            r.codecHeader1Length = headers->header1Length;
            r.codecHeader2Length = headers->header2Length;
        }
        info->GetInfo(MDI_ENCODER_MARKER, &r.encoderMarker);
        int64_t firstVideoTime = -1;
        if (SUCCEEDED(info->GetInfo(MDI_FIRST_VIDEO_TIME, &firstVideoTime)))
            r.firstVideoTime = firstVideoTime;
        info->GetInfo(MDI_FIELD_CODING, &r.fieldCoding);
        info->GetInfo(MDI_EXTENSIONS, &r.extensions);
        uint8_t estimated = 0;
        if (r.kind >= MK_MP3 && SUCCEEDED(info->GetInfo(MDI_DURATION_ESTIMATED, &estimated)))
            r.durationEstimated = estimated != 0;
        char pattern[16] = {};
        if (r.kind == MK_MXF && SUCCEEDED(info->GetInfo(MDI_MXF_PATTERN, pattern)))
            r.mxfPattern.assign(pattern, strnlen(pattern, sizeof pattern));
        if (r.kind == MK_MP4) {
            Mp4Flags flags{};
            for (const Mp4FlagInfoId& f : kMp4FlagInfoIds)
                info->GetInfo(f.id, &(flags.*f.flag));
            r.mp4Flags = flags;
            info->GetInfo(MDI_THUMBNAIL_LENGTH, &r.thumbnailLength);
            uint32_t rotation = 0;
            if (SUCCEEDED(info->GetInfo(MDI_VIDEO_ROTATION, &rotation)))
                r.videoRotation = rotation;
            RecordingTime date{};
            if (SUCCEEDED(info->GetInfo(MDI_RECORDING_TIME, &date)) && !IsZero(date))
                r.recordingTime = date;
        } else if (r.extensions & MD_EXT_TAGS) {
            info->GetInfo(MDI_THUMBNAIL_LENGTH, &r.thumbnailLength);  // the cover picture's
        }
        // A camera file's thumbnail, else the cover; the picture is read only here.
        if (options.thumbnail && r.thumbnailLength > 0) {
            std::vector<uint8_t> bytes(r.thumbnailLength);
            if (SUCCEEDED(info->GetInfo(MDI_THUMBNAIL, bytes.data())))
                r.thumbnail = std::move(bytes);
        }
        info->Release();
    }
    if (r.extensions & MD_EXT_TAGS)
        r.tags = QueryTags(detector);
    if (options.timeTable)
        r.timeTable = BuildTimeTable(detector, file);
}

}  // namespace

FileReport ExamineWithNewDetector(const ModuleHost& host, const std::string& file, const ExamineOptions& options)
{
    std::string error;
    IMediaDetect5* detector = host.CreateDetector(error);
    if (!detector) {
        FileReport r;
        r.file = file;
        r.error = error;
        return r;
    }
    IMediaDetectInfo* info = nullptr;
    if (SUCCEEDED(detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
        info->SetInfo(MDI_CONTAINER_HINT, &options.hint);
        info->SetInfo(MDI_EXTENSIONS, &options.extensions);
        info->Release();
    }
    FileReport r = Examine(*detector, file, options);
    detector->Release();
    return r;
}

std::string DescribeVideo(const VideoInfo& v)
{
    std::string s = VideoFormatName(v.format);
    s += " " + std::to_string(v.width) + "x" + std::to_string(v.height);
    if (v.aspectX != 0 && v.aspectY != 0)
        s += " " + std::to_string(v.aspectX) + ":" + std::to_string(v.aspectY);
    if (v.frameRate > 0 && std::isfinite(v.frameRate))
        s += " " + FormatRate(v.frameRate) + " fps";
    static const char* const orders[] = {"progressive", "top-field-first", "bottom-field-first"};
    s += " ";
    s += v.fieldOrder < 3 ? orders[v.fieldOrder] : "field-order-" + std::to_string(v.fieldOrder);
    if (v.bitRate != 0)
        s += " " + std::to_string(v.bitRate / 1000) + " kb/s";
    return s;
}

std::string DescribeAudio(const AudioInfo& a, const std::optional<MpegAudioLayerInfo>& mpeg,
                          const std::optional<MultiChannelInfo>& multi)
{
    std::string s = AudioFormatName(a.format);
    if (mpeg)
        s += " layer " + std::to_string(mpeg->layer);
    s += " " + std::to_string(a.channels) + " ch " + std::to_string(a.sampleRate) + " Hz";
    if (a.bitsPerSample != 0)
        s += " " + std::to_string(a.bitsPerSample) + " bit";
    if (a.bitRate != 0)
        s += " " + std::to_string(a.bitRate / 1000) + " kb/s";
    if (multi) {
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%x", multi->channelMask);
        s += std::string(" mask ") + mask;
    }
    return s;
}

std::string FormatRecordingTime(const RecordingTime& t, char separator)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u%c%02u:%02u:%02u", unsigned(t.year), unsigned(t.month),
                  unsigned(t.day), separator, unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    return buf;
}

std::string DescribeMp4(const FileReport& r)
{
    std::string s;
    const auto add = [&s](const std::string& words) {
        if (!s.empty())
            s += ' ';
        s += words;
    };
    if (r.mp4Flags) {
        const struct {
            uint8_t Mp4Flags::*flag;
            const char* name;
        } words[] = {{&Mp4Flags::hasVideo, "video"},
                     {&Mp4Flags::hasAudio, "audio"},
                     {&Mp4Flags::moovFirst, "moov-first"},
                     {&Mp4Flags::cpgdUuid, "cpgd-uuid"},
                     {&Mp4Flags::cameraFile, "camera"}};
        for (const auto& w : words)
            if ((*r.mp4Flags).*w.flag != 0)
                add(w.name);
    }
    if (r.recordingTime)
        add("recorded " + FormatRecordingTime(*r.recordingTime, ' '));
    if (r.thumbnailLength > 0)
        add("thumbnail " + std::to_string(r.thumbnailLength) + " bytes");
    if (r.videoRotation != 0)
        add("rotated " + std::to_string(r.videoRotation));
    return s.empty() ? "none" : s;
}

std::string DescribeStats(const ExamineStats& s)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f ms", s.seconds * 1e3);
    if (!s.remote)
        return seconds;
    return std::to_string(s.remote->requests) + " requests  " + std::to_string(s.remote->bytesFetched) +
           " bytes fetched  " + seconds;
}

std::string DescribeTime(const FileReport& r)
{
    std::string s;
    if (r.timeRange && r.timeRange->startTime >= 0)  // -1: no stream's start is known
        s += "start " + Seconds(r.timeRange->startTime);
    if (r.duration)
        s += std::string(s.empty() ? "" : "  ") + "duration " + Seconds(*r.duration);
    if (r.duration && r.durationEstimated.value_or(false))
        s += " (estimated)";
    return s;
}

std::string FormatText(const FileReport& r, size_t width, bool allTags)
{
    std::string s = r.file + std::string(width > r.file.size() ? width - r.file.size() : 0, ' ') + "  ";
    s += (r.kind < 10 ? " " : "") + std::to_string(r.kind) + "  " + KindName(r.kind) + "\n";
    if (r.video)
        s += "    video  " + DescribeVideo(*r.video) + "\n";
    if (r.audio)
        s += "    audio  " + DescribeAudio(*r.audio, r.mpegAudio, r.multiChannel) + "\n";
    if (r.mp4Flags)
        s += "    mp4    " + DescribeMp4(r) + "\n";
    if (!r.mxfPattern.empty())
        s += "    mxf    operational pattern " + r.mxfPattern + "\n";
    for (const FileReport::Program& p : r.programs) {
        s += r.kind == MK_DIRECTV ? "    scids   video" : "    program " + Hex(p.pmtPid) + "  video";
        for (uint32_t pid : p.video)
            s += " " + Hex(pid);
        s += "  audio";
        for (uint32_t pid : p.audio)
            s += " " + Hex(pid);
        s += "\n";
    }
    if (!r.subtitlePids.empty()) {
        s += "    subtitles";
        for (uint32_t pid : r.subtitlePids)
            s += " " + Hex(pid);
        s += "\n";
    }
    if (r.tracks) {
        static const char* const names[] = {"video", "audio", "subtitle"};
        s += "    tracks";
        for (size_t i = 0; i < 3; ++i) {
            s += std::string("  ") + names[i];
            for (uint32_t t : (*r.tracks)[i])
                s += " " + std::to_string(t);
        }
        s += "\n";
    }
    if (r.duration)
        s += "    time   " + DescribeTime(r) + "\n";
    for (const auto& [key, value] : r.tags.value_or(std::vector<std::pair<std::string, std::string>>{})) {
        // The common keys have no prefix: "title"; the others name their tag system: "id3:TBPM".
        if (!allTags && key.find(':') != std::string::npos)
            continue;
        // One line a tag: line breaks and tabs in a value are shown escaped.
        std::string shown;
        for (const char c : value)
            shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
        s += "    tag    " + key + ": " + shown + "\n";
    }
    if (r.timeTable && r.timeTable->error.empty()) {
        s += "    index  " + std::to_string(r.timeTable->entries.size()) + " key pictures\n";
        for (const auto& [time, position] : r.timeTable->entries) {
            char line[96];
            std::snprintf(line, sizeof line, "    key    %12.3f s  at byte %lld\n", double(time) / 1e7,
                          static_cast<long long>(position));
            s += line;
        }
    }
    if (r.stats)
        s += "    stats  " + DescribeStats(*r.stats) + "\n";
    return s;
}

nlohmann::ordered_json ToJson(const FileReport& r)
{
    nlohmann::ordered_json j;
    j["file"] = r.file;
    // The cost of the examination, failed or not: a failed remote open has its requests too.
    const auto addStats = [&j, &r] {
        if (!r.stats)
            return;
        const std::optional<RemoteStats>& remote = r.stats->remote;
        j["stats"] = {{"requests", remote ? nlohmann::ordered_json(remote->requests) : nullptr},
                      {"bytesFetched", remote ? nlohmann::ordered_json(remote->bytesFetched) : nullptr},
                      {"seconds", r.stats->seconds}};
    };
    if (!r.error.empty()) {
        j["error"] = r.error;
        addStats();
        return j;
    }
    j["kind"] = r.kind;
    j["kindName"] = KindName(r.kind);
    if (r.extensions != 0) {  // absent in strict mode, whose output stays that of the base behaviour
        j["mode"] = "extended";
        j["extensions"] = r.extensions;
    }
    if (r.video) {
        const VideoInfo& v = *r.video;
        j["video"] = {{"format", v.format},         {"formatName", VideoFormatName(v.format)},
                      {"frameRate", v.frameRate},   {"bitRate", v.bitRate},
                      {"width", v.width},           {"height", v.height},
                      {"aspectX", v.aspectX},       {"aspectY", v.aspectY},
                      {"fieldOrder", v.fieldOrder}, {"profile", v.profile}};
    }
    if (r.audio) {
        const AudioInfo& a = *r.audio;
        j["audio"] = {{"format", a.format},       {"formatName", AudioFormatName(a.format)},
                      {"channels", a.channels},   {"sampleRate", a.sampleRate},
                      {"byteRate", a.byteRate},   {"blockAlign", a.blockAlign},
                      {"bitsPerSample", a.bitsPerSample}, {"bitRate", a.bitRate}};
    }
    if (r.mpegAudio)
        j["mpegAudio"] = {{"layer", r.mpegAudio->layer},
                          {"channelMode", r.mpegAudio->channelMode},
                          {"protectionBit", r.mpegAudio->protectionBit}};
    if (r.multiChannel)
        j["multiChannel"] = {{"lfe", r.multiChannel->lfe},
                             {"codingMode", r.multiChannel->codingMode},
                             {"channelMask", r.multiChannel->channelMask},
                             {"streamIdByte", r.multiChannel->streamIdByte}};
    if (r.codecHeader1Length)
        j["codecHeaders"] = {{"header1Length", *r.codecHeader1Length}, {"header2Length", *r.codecHeader2Length}};
    j["encoderMarker"] = r.encoderMarker;
    j["firstVideoTime"] = r.firstVideoTime ? nlohmann::ordered_json(*r.firstVideoTime) : nullptr;
    j["fieldCoding"] = r.fieldCoding;
    if (r.mp4Flags) {
        const Mp4Flags& f = *r.mp4Flags;
        j["mp4"] = {{"hasVideo", f.hasVideo != 0},
                    {"hasAudio", f.hasAudio != 0},
                    {"moovFirst", f.moovFirst != 0},
                    {"cpgdUuid", f.cpgdUuid != 0},
                    {"cameraFile", f.cameraFile != 0},
                    {"thumbnailLength", r.thumbnailLength}};
        j["mp4"]["recordingTime"] =
            r.recordingTime ? nlohmann::ordered_json(FormatRecordingTime(*r.recordingTime, 'T')) : nullptr;
        if (r.videoRotation != 0)
            j["mp4"]["rotation"] = r.videoRotation;
    }
    if (!r.mxfPattern.empty())
        j["mxf"] = {{"operationalPattern", r.mxfPattern}};
    if (!r.programs.empty()) {
        auto programs = nlohmann::ordered_json::array();
        for (const FileReport::Program& p : r.programs)
            programs.push_back({{"pmtPid", p.pmtPid}, {"video", p.video}, {"audio", p.audio}});
        j["programs"] = programs;
    }
    if (!r.subtitlePids.empty())
        j["subtitlePids"] = r.subtitlePids;
    if (r.tracks)
        j["tracks"] = {{"video", (*r.tracks)[0]}, {"audio", (*r.tracks)[1]}, {"subtitle", (*r.tracks)[2]}};
    j["duration"] = r.duration ? nlohmann::ordered_json(*r.duration) : nullptr;
    j["durationSeconds"] = r.duration ? SecondsJson(*r.duration) : nullptr;
    if (r.durationEstimated)
        j["durationEstimated"] = *r.durationEstimated;
    if (r.tags) {
        j["tags"] = nlohmann::ordered_json::object();
        for (const auto& [key, value] : *r.tags)
            j["tags"][key] = value;
    }
    j["timeRange"] = nullptr;
    if (r.timeRange) {
        // Each 100-ns value, then the same in seconds (null where the value is -1, unknown).
        const TimeRangeInfo& t = *r.timeRange;
        const std::tuple<const char*, const char*, int64_t> times[] = {
            {"startTime", "startSeconds", t.startTime},
            {"videoFirstTime", "videoFirstSeconds", t.videoFirstTime},
            {"audioFirstTime", "audioFirstSeconds", t.audioFirstTime},
            {"videoEndTime", "videoEndSeconds", t.videoEndTime},
            {"audioEndTime", "audioEndSeconds", t.audioEndTime},
            {"videoFrameDuration", "videoFrameSeconds", t.videoFrameDuration},
            {"audioFrameDuration", "audioFrameSeconds", t.audioFrameDuration}};
        j["timeRange"] = nlohmann::ordered_json::object();
        for (const auto& [name, inSeconds, value] : times)
            j["timeRange"][name] = value;
        for (const auto& [name, inSeconds, value] : times)
            j["timeRange"][inSeconds] = SecondsJson(value);
    }
    if (r.timeTable) {
        if (!r.timeTable->error.empty()) {
            j["timeTable"] = {{"error", r.timeTable->error}};
        } else {
            auto entries = nlohmann::ordered_json::array();
            for (const auto& [time, position] : r.timeTable->entries)
                entries.push_back({{"time", time}, {"timeSeconds", SecondsJson(time)}, {"position", position}});
            j["timeTable"] = {{"entries", entries}};
        }
    }
    addStats();
    return j;
}

void Write(std::FILE* to, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

void PrintReport(const FileReport& r, bool json, size_t width, bool allTags)
{
    if (json)
        Write(stdout, ToJson(r).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    else if (!r.error.empty())
        Write(stderr, "mediadetect: " + r.file + ": " + r.error + "\n");
    else
        Write(stdout, FormatText(r, width, allTags));
}

}  // namespace md::tool
