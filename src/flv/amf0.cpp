#include "flv/amf0.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "tags/tag_keys.h"

namespace md {
namespace {

constexpr std::string_view kOnMetaData = "onMetaData";

std::string_view AsText(Bytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

// Skips AMF0 values within the depth and value-count bounds. Every skip consumes at least one byte or fails, and
// every value counts against the budget, so a skip ends within the data whatever it holds.
class Amf0Skipper {
public:
    explicit Amf0Skipper(ByteReader& in) : m_in(in) {}

    // The value after a type marker already read.
    bool Value(Amf0Type type, int depth)
    {
        if (++m_values > kMaxAmf0Values || depth > kMaxAmf0Depth)
            return false;
        switch (type) {
        case Amf0Type::Number: return m_in.Skip(8);
        case Amf0Type::Boolean: return m_in.Skip(1);
        case Amf0Type::String: return m_in.Skip(m_in.U16()) && m_in.ok();
        case Amf0Type::Object: return Properties(depth);
        case Amf0Type::Null:
        case Amf0Type::Undefined:
        case Amf0Type::Unsupported: return true;
        case Amf0Type::Reference: return m_in.Skip(2);
        case Amf0Type::EcmaArray: return m_in.Skip(4) && Properties(depth);  // the count; the end marker closes it
        case Amf0Type::StrictArray: return StrictArray(depth);
        case Amf0Type::Date: return m_in.Skip(10);  // a double and a 16-bit time zone
        case Amf0Type::LongString:
        case Amf0Type::XmlDocument: return m_in.Skip(m_in.U32()) && m_in.ok();
        case Amf0Type::TypedObject: return m_in.Skip(m_in.U16()) && m_in.ok() && Properties(depth);
        default: return false;  // movie clips, record sets, AMF3 and unknown markers have no length to skip by
        }
    }

    // Name-value pairs up to the empty name and the object end marker.
    bool Properties(int depth)
    {
        for (;;) {
            const uint16_t nameLength = m_in.U16();
            m_in.Skip(nameLength);
            const auto type = static_cast<Amf0Type>(m_in.U8());
            if (!m_in.ok())
                return false;  // no end marker before the end of the data
            if (nameLength == 0 && type == Amf0Type::ObjectEnd)
                return true;
            if (!Value(type, depth + 1))
                return false;
        }
    }

private:
    bool StrictArray(int depth)
    {
        const uint32_t count = m_in.U32();
        if (!m_in.ok() || count > m_in.Remaining())  // each value takes at least its type marker
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            const auto type = static_cast<Amf0Type>(m_in.U8());
            if (!m_in.ok() || !Value(type, depth + 1))
                return false;
        }
        return true;
    }

    ByteReader& m_in;
    uint32_t m_values = 0;
};

void Keep(std::string_view name, double value, FlvMetadata& m)
{
    if (!std::isfinite(value))
        return;
    if (name == "duration")
        m.duration = value;
    else if (name == "width")
        m.width = value;
    else if (name == "height")
        m.height = value;
    else if (name == "framerate")
        m.frameRate = value;
    else if (name == "videocodecid")
        m.videoCodecId = value;
    else if (name == "audiocodecid")
        m.audioCodecId = value;
    else if (name == "audiosamplerate")
        m.audioSampleRate = value;
    else if (name == "audiosamplesize")
        m.audioSampleSize = value;
}

// The values that describe the streams, the duration and the file size: not tags.
bool DescribesStreams(std::string_view name)
{
    static constexpr std::string_view kNames[] = {
        "duration",       "width",           "height",       "videodatarate", "framerate",   "videocodecid",
        "audiodatarate",  "audiosamplerate", "audiosamplesize", "stereo",     "audiocodecid", "filesize"};
    for (const std::string_view n : kNames)
        if (n == name)
            return true;
    return false;
}

void ListValue(std::string_view name, std::string value, TagList* tags)
{
    if (tags == nullptr || name.empty() || DescribesStreams(name))
        return;
    tags->Set(IsCommonKey(name) ? std::string(name) : "flv:" + std::string(name), value);
}

}  // namespace

bool ReadOnMetaData(Bytes body, FlvMetadata& metadata, TagList* tags)
{
    ByteReader in(body);
    if (static_cast<Amf0Type>(in.U8()) != Amf0Type::String)
        return false;
    const Bytes name = in.Span(in.U16());
    if (!in.ok() || AsText(name) != kOnMetaData)
        return false;
    const auto type = static_cast<Amf0Type>(in.U8());
    if (type == Amf0Type::EcmaArray)
        in.Skip(4);  // the stated count, which writers get wrong: the end marker closes the array
    else if (type != Amf0Type::Object)
        return true;

    Amf0Skipper skip(in);
    while (in.ok()) {
        const std::string_view key = AsText(in.Span(in.U16()));
        const auto valueType = static_cast<Amf0Type>(in.U8());
        if (!in.ok() || (key.empty() && valueType == Amf0Type::ObjectEnd))
            break;  // the end of the data (an array without its end marker) or the end marker
        if (valueType == Amf0Type::Number) {
            const uint64_t bits = in.U64();
            const double value = std::bit_cast<double>(bits);
            if (in.ok())
                Keep(key, value, metadata);
            // Integers as ffprobe shows them: rounded, without a fraction.
            char text[32];
            if (in.ok() && std::isfinite(value) && std::fabs(value) < 1e18) {
                std::snprintf(text, sizeof text, "%.0f", value);
                ListValue(key, text, tags);
            }
        } else if (valueType == Amf0Type::Boolean) {
            const uint8_t value = in.U8();
            if (in.ok() && key == "stereo")
                metadata.stereo = value != 0;
            if (in.ok())
                ListValue(key, value != 0 ? "true" : "false", tags);
        } else if (valueType == Amf0Type::String) {
            const Bytes value = in.Span(in.U16());
            if (in.ok())
                ListValue(key, std::string(AsText(value)), tags);
        } else if (!skip.Value(valueType, 1)) {
            break;
        }
    }
    return true;
}

}  // namespace md
