#include "support/ps_builders.h"

#include <fstream>

#include <nlohmann/json.hpp>

namespace mdtest {
namespace {

// A number or a numeric string ("0x1e0", "48000"); 0 when absent.
uint32_t ToU32(const nlohmann::json& j, const char* key)
{
    const auto v = j.value(key, nlohmann::json());
    if (v.is_number_integer())
        return v.get<uint32_t>();
    return v.is_string() ? static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0)) : 0;
}

// "a:b" or "a/b".
std::pair<uint64_t, uint64_t> Ratio(const std::string& s)
{
    const size_t sep = s.find_first_of(":/");
    if (sep == std::string::npos)
        return {0, 0};
    return {std::stoull(s.substr(0, sep)), std::stoull(s.substr(sep + 1))};
}

}  // namespace

std::vector<ReferenceStream> ReadFfprobeStreams(const std::filesystem::path& json)
{
    std::vector<ReferenceStream> out;
    std::ifstream in(json);
    const auto doc = in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    if (doc.is_discarded() || !doc.contains("streams"))
        return out;
    for (const auto& s : doc["streams"]) {
        ReferenceStream r;
        r.codecType = s.value("codec_type", "");
        r.codecName = s.value("codec_name", "");
        r.id = ToU32(s, "id"), r.width = ToU32(s, "width"), r.height = ToU32(s, "height");
        const auto dar = Ratio(s.value("display_aspect_ratio", ""));
        r.darX = static_cast<uint32_t>(dar.first), r.darY = static_cast<uint32_t>(dar.second);
        const auto rate = Ratio(s.value("r_frame_rate", ""));
        r.frameRate = rate.second != 0 ? double(rate.first) / double(rate.second) : 0.0;
        r.fieldOrder = s.value("field_order", "");
        r.sampleRate = ToU32(s, "sample_rate"), r.channels = ToU32(s, "channels");
        if (s.contains("start_pts") && s["start_pts"].is_number_integer())
            r.startPts = s["start_pts"].get<int64_t>();
        out.push_back(r);
    }
    return out;
}

}  // namespace mdtest
