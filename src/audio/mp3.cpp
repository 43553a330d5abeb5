#include "audio/mp3.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/end_tags.h"
#include "audio/frame_run.h"
#include "audio/id3.h"
#include "es/audio_headers.h"

namespace md {
namespace {

struct MpegAudioFormat {
    using Frame = MpegAudioFrame;
    static bool Parse(const uint8_t* p, size_t len, Frame& f) { return ParseMpegAudioFrame(p, len, f); }
    static uint32_t Bytes(const Frame& f) { return f.frameBytes; }
    static uint32_t BitRate(const Frame& f) { return f.bitRate; }
    // One stream keeps its version, layer and sampling rate, and mono stays mono (the other channel modes may
    // change from frame to frame: an encoder picks joint or plain stereo per frame).
    static bool Same(const Frame& a, const Frame& b)
    {
        return a.version == b.version && a.layerIndex == b.layerIndex && a.sampleRate == b.sampleRate &&
               (a.channelMode == 3) == (b.channelMode == 3);
    }
};

// Three frames in a row where the tags end; six further in, where a sync may be a chance pattern in other bytes.
constexpr uint32_t kRunAtStart = 3;
constexpr uint32_t kRunElsewhere = 6;
constexpr size_t kSearchBytes = 64 * 1024;
constexpr FrameRunRule kStartRule{kRunAtStart, kRunAtStart, 1};
constexpr FrameRunRule kSearchRule{kRunAtStart, kRunElsewhere, kSearchBytes};

// Parse reads this much after the tags: the search, and the frames of the bit-rate sample after it (50 frames of
// at most 2881 bytes and the rest of their 1024-byte block).
constexpr uint32_t kHeadBytes = 256 * 1024;
constexpr uint32_t kSampleFrames = 50;
constexpr size_t kSampleBlockBytes = 1024;

bool EndsFile(const ProbeInput& input) { return input.headOffset + input.head.size() >= input.fileSize; }

// What a Xing/Info or VBRI header frame states.
struct VbrHeader {
    bool found = false;
    bool constantRate = false;  // "Info": LAME's mark of a constant-rate file
    uint32_t frames = 0;        // 0: not stated
    uint32_t bytes = 0;         // 0: not stated
};

constexpr uint32_t kXingFrames = 0x1, kXingBytes = 0x2;

// The Xing/Info header stands after the side information of a Layer III frame (17 or 32 bytes for MPEG-1, 9 or 17
// for the lower rates, mono first), after the CRC where there is one; VBRI 32 bytes after the header.
VbrHeader ReadVbrHeader(Bytes frame, const MpegAudioFrame& f)
{
    VbrHeader h;
    if (f.layerIndex != 2)
        return h;
    const bool mono = f.channelMode == 3;
    const size_t side = f.version == MpegAudioVersion::Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    for (const size_t at : {4 + side + (f.crc ? 2 : 0), 4 + side}) {
        if (!Has(frame, at, 8))
            continue;
        const uint8_t* x = frame.data() + at;
        const bool info = std::memcmp(x, "Info", 4) == 0;
        if (!info && std::memcmp(x, "Xing", 4) != 0)
            continue;
        const uint32_t flags = Be32(x + 4);
        size_t field = at + 8;
        h.found = true;
        h.constantRate = info;
        if (flags & kXingFrames) {
            h.frames = Be32At(frame, field);
            field += 4;
        }
        if (flags & kXingBytes)
            h.bytes = Be32At(frame, field);
        return h;
    }
    constexpr size_t kVbri = 4 + 32;
    if (Has(frame, kVbri, 18) && std::memcmp(frame.data() + kVbri, "VBRI", 4) == 0) {
        h.found = true;
        h.bytes = Be32(frame.data() + kVbri + 10);   // after version, delay and quality
        h.frames = Be32(frame.data() + kVbri + 14);
    }
    return h;
}

// The bytes of a frame of this stream at its lowest or highest bit rate (bitrate_index 1, or 14 with padding).
uint32_t FrameBytesAt(const uint8_t* header, uint8_t bitrateAndPadding)
{
    const uint8_t h[4] = {header[0], header[1], uint8_t((header[2] & 0x0C) | bitrateAndPadding), header[3]};
    MpegAudioFrame f{};
    return ParseMpegAudioFrame(h, sizeof h, f) ? f.frameBytes : 0;
}

// Whether a stated frame count (and byte count) can be this stream's: every frame holds between the lowest and
// the highest bit rate's bytes. The frames are checked against the stated bytes where those are plausible (a file
// cut short keeps the count its header states), else against the audio bytes of the file; a count of 0, or one
// more frames than the bytes can hold, is not.
struct StatedCounts {
    bool frames = false;
    bool bytes = false;
};
StatedCounts CheckCounts(const VbrHeader& h, const uint8_t* header, uint64_t audioBytes)
{
    StatedCounts ok;
    const uint64_t smallest = FrameBytesAt(header, 0x10), largest = FrameBytesAt(header, 0xE2);
    if (h.frames == 0 || smallest == 0)
        return ok;
    ok.bytes = h.bytes != 0 && h.bytes >= h.frames * smallest && h.bytes <= h.frames * largest;
    ok.frames = ok.bytes || h.frames * smallest <= audioBytes;
    return ok;
}

// blockAlign: the frame length where every frame has it, else 1: a variable rate, or the padding slot that the
// rates of the 44.1 kHz family need now and then.
uint32_t BlockAlign(const MpegAudioFrame& f, bool variable)
{
    return variable || f.sampleRate % 11025 == 0 ? 1 : f.frameBytes;
}

}  // namespace

bool ProbeMp3Start(const ProbeInput& input)
{
    size_t offset = 0;
    return FindFrameRun<MpegAudioFormat>(input.head, EndsFile(input), kStartRule, offset);
}

bool ProbeMp3(const ProbeInput& input)
{
    size_t offset = 0;
    return FindFrameRun<MpegAudioFormat>(input.head, EndsFile(input), kSearchRule, offset);
}

uint32_t Mp3Demux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    const AudioHead head = ReadAudioHead(*input, kHeadBytes);
    const uint64_t tagsEnd = head.start;
    const Bytes b = head.View();
    size_t at = 0;
    if (!FindFrameRun<MpegAudioFormat>(b, tagsEnd + b.size() >= fileSize, kSearchRule, at))
        return 0;
    MpegAudioFrame first{};
    if (!ParseMpegAudioFrame(b.data() + at, b.size() - at, first))
        return 0;
    const uint8_t* header = b.data() + at;
    const uint64_t audioStart = tagsEnd + at;
    // The tags at the start come from the head, those at the end from the tail the end search read.
    const EndTail tail = ReadEndTail(*input, audioStart);
    const uint64_t audioEnd = AudioEndBeforeTags(*input, audioStart, tail);
    if (WantsTags())
        ReadFrameFileTags(*input, audioStart, m_tags, m_cover, head.FileStart(), &tail);
    const uint64_t audioBytes = audioEnd - std::min(audioStart, audioEnd);

    // A Xing/Info or VBRI frame states the frame count (itself left out) and the bytes; the average bit rate of a
    // variable-rate file is its bytes over its duration. Without one, ffprobe's estimate: the audio bytes over the
    // mean bit rate of the first frames.
    const VbrHeader vbr = ReadVbrHeader(b.subspan(at, std::min<size_t>(first.frameBytes, b.size() - at)), first);
    const StatedCounts stated = CheckCounts(vbr, header, audioBytes);
    const size_t afterFirst = at + first.frameBytes;
    MpegAudioFrame second{};
    const bool hasSecond = afterFirst < b.size() &&
                           ParseMpegAudioFrame(b.data() + afterFirst, b.size() - afterFirst, second) &&
                           MpegAudioFormat::Same(first, second);
    uint32_t bitRate = first.bitRate;
    int64_t duration = -1;
    bool variable = false;
    if (stated.frames) {
        const uint64_t samples = uint64_t(vbr.frames) * first.samples;
        duration = SamplesToUnits(samples, first.sampleRate);
        if (vbr.constantRate) {
            bitRate = hasSecond ? second.bitRate : first.bitRate;
        } else {
            const double bytes = double(stated.bytes ? vbr.bytes : audioBytes);
            bitRate = static_cast<uint32_t>(std::min(std::round(bytes * 8 * first.sampleRate / double(samples)),
                                                     double(UINT32_MAX)));
            variable = true;
        }
    } else {
        // The sample starts after a header frame: its bit rate is the encoder's choice, not the audio's.
        const size_t sampleAt = vbr.found && hasSecond ? afterFirst : at;
        const uint32_t mean = SampleBitRate<MpegAudioFormat>(b, sampleAt, kSampleFrames, kSampleBlockBytes);
        if (mean != 0) {
            bitRate = mean;
            variable = mean != first.bitRate;
            duration = SamplesToUnits(audioBytes * 8, bitRate);
            m_times.estimated = true;
        }
    }

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = first.version == MpegAudioVersion::Mpeg1 ? StreamCodec::Mpeg1Audio : StreamCodec::Mpeg2Audio;
    const AudioFormat format{first.channelMode == 3 ? 1u : 2u, first.sampleRate, bitRate / 8,
                             BlockAlign(first, variable), 0};
    SetAudioFormat(r->audio, format);
    const uint32_t headerWord =
        uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 | uint32_t(header[3]) << 24;
    SetMpegAudioWords(r->audio.codecSpecific, {first.layerIndex, first.channelMode, bitRate, headerWord});
    m_times.SetAudio(duration, static_cast<uint32_t>(SamplesToUnits(first.samples, first.sampleRate)));
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
