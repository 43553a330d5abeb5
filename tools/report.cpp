#include "tools/report.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

}  // namespace

const char* KindName(uint32_t kind)
{
    static const char* const names[] = {
        "unknown",   "mpeg1-system", "mpeg2-program",   "vcd", "svcd",        "mpeg2-program-mpeg4",
        "dvd-video", "dvd-vr",       "mpeg2-transport", "mp4", "mpeg1-video", "mpeg2-video",
        "mpeg4-video", "directv",    "matroska",
    };
    return kind < std::size(names) ? names[kind] : "unknown";
}

FileReport Examine(IMediaDetect5& detector, const std::string& file, const ExamineOptions& options)
{
    FileReport r;
    r.file = file;
    r.error = Unreadable(file);
    if (!r.error.empty())
        return r;
    HRESULT hr = detector.OpenFileA(file.c_str(), &r.kind);
    if (FAILED(hr)) {
        r.error = "cannot open: " + DescribeHresult(hr);
        return r;
    }
    if (options.reopenOffset) {
        hr = detector.ReopenProgramStream(*options.reopenOffset, nullptr, nullptr);
        if (FAILED(hr)) {
            r.error = "cannot re-open at offset " + std::to_string(*options.reopenOffset) + ": " +
                      DescribeHresult(hr);
            return r;
        }
    }
    r.video = Query(&IMediaDetect5::GetVideoInfo, detector);
    r.audio = Query(&IMediaDetect5::GetAudioInfo, detector);
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
        if (r.kind == MK_MP4) {
            std::array<uint8_t, 5> flags{};
            const int32_t ids[] = {MDI_HAS_VIDEO, MDI_HAS_AUDIO, MDI_MOOV_FIRST, MDI_CPGD_UUID, MDI_CAMERA_FILE};
            for (size_t i = 0; i < flags.size(); ++i)
                info->GetInfo(ids[i], &flags[i]);
            r.mp4Flags = flags;
            info->GetInfo(MDI_THUMBNAIL_LENGTH, &r.thumbnailLength);
            RecordingTime date{};
            if (SUCCEEDED(info->GetInfo(MDI_RECORDING_TIME, &date)) && !IsZero(date))
                r.recordingTime = date;
            if (options.thumbnail && r.thumbnailLength > 0) {
                std::vector<uint8_t> bytes(r.thumbnailLength);
                if (SUCCEEDED(info->GetInfo(MDI_THUMBNAIL, bytes.data())))
                    r.thumbnail = std::move(bytes);
            }
        }
        info->Release();
    }
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
        static const char* const names[] = {"video", "audio", "moov-first", "cpgd-uuid", "camera"};
        for (size_t i = 0; i < r.mp4Flags->size(); ++i)
            if ((*r.mp4Flags)[i] != 0)
                add(names[i]);
    }
    if (r.recordingTime)
        add("recorded " + FormatRecordingTime(*r.recordingTime, ' '));
    if (r.thumbnailLength > 0)
        add("thumbnail " + std::to_string(r.thumbnailLength) + " bytes");
    return s.empty() ? "none" : s;
}

std::string FormatText(const FileReport& r, size_t width)
{
    std::string s = r.file + std::string(width > r.file.size() ? width - r.file.size() : 0, ' ') + "  ";
    s += (r.kind < 10 ? " " : "") + std::to_string(r.kind) + "  " + KindName(r.kind) + "\n";
    if (r.video)
        s += "    video  " + DescribeVideo(*r.video) + "\n";
    if (r.audio)
        s += "    audio  " + DescribeAudio(*r.audio, r.mpegAudio, r.multiChannel) + "\n";
    if (r.mp4Flags)
        s += "    mp4    " + DescribeMp4(r) + "\n";
    return s;
}

nlohmann::ordered_json ToJson(const FileReport& r)
{
    nlohmann::ordered_json j;
    j["file"] = r.file;
    if (!r.error.empty()) {
        j["error"] = r.error;
        return j;
    }
    j["kind"] = r.kind;
    j["kindName"] = KindName(r.kind);
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
        const auto& f = *r.mp4Flags;
        j["mp4"] = {{"hasVideo", f[0] != 0},  {"hasAudio", f[1] != 0},   {"moovFirst", f[2] != 0},
                    {"cpgdUuid", f[3] != 0},  {"cameraFile", f[4] != 0}, {"thumbnailLength", r.thumbnailLength}};
        j["mp4"]["recordingTime"] =
            r.recordingTime ? nlohmann::ordered_json(FormatRecordingTime(*r.recordingTime, 'T')) : nullptr;
    }
    return j;
}

}  // namespace md::tool
