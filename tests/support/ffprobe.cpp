#include "support/ffprobe.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace md::test {
namespace {

using nlohmann::json;

json ReadJson(const std::filesystem::path& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("no reference " + path.string());
    return json::parse(in);
}

std::string Text(const json& j, const char* key) { return j.contains(key) ? j[key].get<std::string>() : ""; }

uint32_t Hex(const json& j, const char* key)
{
    return j.contains(key) ? uint32_t(std::stoul(Text(j, key), nullptr, 16)) : 0;
}

// "30000/1001", "16:9", "48000" or "1.5": the quotient; 0 when absent or over 0.
double Number(const json& j, const char* key)
{
    const std::string s = Text(j, key);
    const size_t sep = s.find_first_of("/:");
    const double den = sep == std::string::npos ? 1 : std::stod(s.substr(sep + 1));
    return s.empty() || den == 0 ? 0 : std::stod(s.substr(0, sep)) / den;
}

std::optional<double> Seconds(const json& j, const char* key)
{
    return j.contains(key) ? std::optional(std::stod(Text(j, key))) : std::nullopt;
}

FfprobeStream ReadStream(const json& s)
{
    FfprobeStream r;
    r.type = Text(s, "codec_type"), r.codec = Text(s, "codec_name"), r.fieldOrder = Text(s, "field_order");
    r.channelLayout = Text(s, "channel_layout");
    r.id = Hex(s, "id"), r.tag = Hex(s, "codec_tag");
    r.track = s.value("index", 0) + 1;
    r.width = s.value("width", 0u), r.height = s.value("height", 0u), r.channels = s.value("channels", 0u);
    r.aspect = Number(s, "display_aspect_ratio"), r.frameRate = Number(s, "r_frame_rate");
    r.sampleRate = uint32_t(Number(s, "sample_rate"));
    r.bitsPerSample = s.value("bits_per_sample", 0u) ? s.value("bits_per_sample", 0u)
                                                     : uint32_t(Number(s, "bits_per_raw_sample"));
    r.start = Seconds(s, "start_time"), r.duration = Seconds(s, "duration");
    for (const json& side : s.value("side_data_list", json::array()))
        if (side.contains("rotation"))
            r.rotation = side["rotation"].get<int32_t>();
    r.attachedPicture = s.contains("disposition") && s["disposition"].value("attached_pic", 0) == 1;
    if (s.contains("start_pts"))
        r.startPts = s["start_pts"].get<int64_t>();
    return r;
}

template <class T>
const FfprobeStream* Find(const std::vector<FfprobeStream>& streams, T FfprobeStream::*field, const T& value)
{
    const auto it = std::ranges::find(streams, value, field);
    return it == streams.end() ? nullptr : &*it;
}

}  // namespace

const FfprobeStream* Ffprobe::First(const std::string& type) const { return Find(streams, &FfprobeStream::type, type); }
const FfprobeStream* Ffprobe::WithId(uint32_t id) const { return Find(streams, &FfprobeStream::id, id); }

Ffprobe ReadFfprobe(const std::filesystem::path& media)
{
    const std::filesystem::path base = media.parent_path() / "reference" / media.filename();
    const json j = ReadJson(base.string() + ".ffprobe.json");
    Ffprobe r;
    if (j.contains("format"))
        r.start = Seconds(j["format"], "start_time"), r.duration = Seconds(j["format"], "duration");
    for (const json& s : j.value("streams", json::array()))
        r.streams.push_back(ReadStream(s));
    if (j.contains("programs")) {
        r.programs.emplace();
        for (const json& p : j["programs"]) {
            r.programs->push_back({p["pmt_pid"].get<uint32_t>(), {}});
            for (const json& s : p["streams"])
                r.programs->back().streams.push_back(ReadStream(s));
        }
    }
    // MediaInfo lists a Matroska file's tracks after its "General" entry, in ffprobe's order.
    if (media.extension() == ".mkv" && std::filesystem::exists(base.string() + ".mediainfo.json")) {
        const json info = ReadJson(base.string() + ".mediainfo.json");
        const json tracks = info.contains("media") ? info["media"].value("track", json::array()) : json::array();
        for (size_t i = 0; i < r.streams.size() && i + 1 < tracks.size(); ++i)
            if (tracks[i + 1].contains("ID"))
                r.streams[i].track = uint32_t(std::stoul(tracks[i + 1]["ID"].get<std::string>()));
    }
    return r;
}

}  // namespace md::test
