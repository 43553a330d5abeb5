// The onMetaData script data of a Flash Video file: an AMF0 string "onMetaData" followed by an ECMA array (or an
// object) of named values. Only the numbers and booleans that describe the streams and the duration are kept;
// every other value, nested ones included, is skipped within a bounded depth and value count, so no input can
// make the reader recurse or loop without end.
#pragma once

#include <cstdint>
#include <optional>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// AMF0 type markers (Action Message Format AMF0, section 2.1).
enum class Amf0Type : uint8_t {
    Number = 0,
    Boolean = 1,
    String = 2,
    Object = 3,
    MovieClip = 4,  // reserved, not supported
    Null = 5,
    Undefined = 6,
    Reference = 7,
    EcmaArray = 8,
    ObjectEnd = 9,
    StrictArray = 10,
    Date = 11,
    LongString = 12,
    Unsupported = 13,
    RecordSet = 14,  // reserved, not supported
    XmlDocument = 15,
    TypedObject = 16,
    AvmPlus = 17,  // switches to AMF3, which this reader does not read
};

// The values of onMetaData the detector uses, each as stated (unset when absent or not a finite number).
struct FlvMetadata {
    std::optional<double> duration;  // seconds
    std::optional<double> width;  // pixels
    std::optional<double> height;
    std::optional<double> frameRate;  // "framerate", frames per second
    std::optional<double> videoCodecId;  // the video tag's CodecID
    std::optional<double> audioCodecId;  // the audio tag's SoundFormat
    std::optional<double> audioSampleRate;  // Hz
    std::optional<double> audioSampleSize;  // bits
    std::optional<bool> stereo;
};

// Nesting deeper than this, or more values than this in one script tag, ends the read.
constexpr int kMaxAmf0Depth = 16;
constexpr uint32_t kMaxAmf0Values = 1 << 16;

// Reads the body of a script data tag. True when it opens with the string "onMetaData"; the values read before
// anything malformed (a length past the data, a missing end marker, an unsupported type, too deep a nesting) are
// kept in metadata. With tags, the top-level strings, numbers (rounded to an integer) and booleans ("true",
// "false") other than those that describe the streams and the duration are listed: under a common key where the
// name is one ("encoder", "title"), else "flv:<name>".
bool ReadOnMetaData(Bytes body, FlvMetadata& metadata, TagList* tags = nullptr);

}  // namespace md
