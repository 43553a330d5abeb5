// Everything the detector tells of a path, as text, to compare a remote path's answers with the file's.
#pragma once

#include <array>
#include <sstream>
#include <string>

#include "mediadetect/mediadetect.h"

namespace md::test {

template <typename T>
inline void Show(std::ostringstream& out, const char* name, HRESULT hr, const T& value)
{
    out << name << ' ' << std::hex << hr << ' ';
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    for (size_t i = 0; i < sizeof(T); ++i)
        out << int(bytes[i]) << '.';
    out << std::dec << '\n';
}

// Everything the detector tells of path, as text: the open's records, the streams a transport or Matroska file
// lists, the duration and time range.
inline std::string Describe(IMediaDetect5& d, IMediaDetectInfo& info, const std::string& path)
{
    std::ostringstream out;
    uint32_t kind = 0;
    out << "open " << std::hex << d.OpenFileA(path.c_str(), &kind) << std::dec << " kind " << kind << '\n';
    VideoInfo video{};
    Show(out, "video", d.GetVideoInfo(&video), video);
    AudioInfo audio{};
    Show(out, "audio", d.GetAudioInfo(&audio), audio);
    CodecHeaderInfo headers{};
    Show(out, "headers", info.GetInfo(MDI_CODEC_HEADERS, &headers), headers);
    std::array<uint32_t, 16> programs{};
    uint32_t count = programs.size();
    Show(out, "programs", d.GetTransportPrograms(&count, programs.data(), 0), programs);
    int32_t videoCount = 0;
    int32_t audioCount = 0;
    std::array<uint32_t, 64> ids{};
    Show(out, "streams", d.GetStreamLists(programs[0], &videoCount, ids.data(), &audioCount, ids.data() + 32, 0), ids);
    out << videoCount << ' ' << audioCount << '\n';
    int64_t duration = 0;
    Show(out, "duration", d.GetDuration(&duration), duration);
    TimeRangeInfo range{};
    Show(out, "range", d.GetTimeRangeInfo(&range), range);
    return out.str();
}

}  // namespace md::test
