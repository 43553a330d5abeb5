#include "audio/adts.h"

#include <algorithm>
#include <vector>

#include "audio/end_tags.h"
#include "audio/frame_run.h"
#include "audio/id3.h"
#include "es/adts_header.h"
#include "es/audio_headers.h"

namespace md {
namespace {

struct AdtsFormat {
    using Frame = AdtsHeader;
    static bool Parse(const uint8_t* p, size_t len, Frame& f) { return ParseAdtsHeader(p, len, f); }
    static uint32_t Bytes(const Frame& f) { return f.frameBytes; }
    static uint32_t BitRate(const Frame& f) { return AdtsFrameBitRate(f); }
    // One stream keeps its ID, profile, sampling rate and channel configuration.
    static bool Same(const Frame& a, const Frame& b)
    {
        return a.mpegVersion == b.mpegVersion && a.objectType == b.objectType &&
               a.samplingIndex == b.samplingIndex && a.channelConfiguration == b.channelConfiguration;
    }
};

// Two frames in a row where the tags end; four further in, where a sync may be a chance pattern in other bytes.
constexpr uint32_t kRunAtStart = 2;
constexpr uint32_t kRunElsewhere = 4;
constexpr size_t kSearchBytes = 64 * 1024;
constexpr FrameRunRule kStartRule{kRunAtStart, kRunAtStart, 1};
constexpr FrameRunRule kSearchRule{kRunAtStart, kRunElsewhere, kSearchBytes};

// ffprobe's bit rate of an ADTS file: the running mean of its first 50 frames, which its reader takes one by one.
// Parse reads the search and 50 frames of at most 8191 bytes after the tags.
constexpr uint32_t kSampleFrames = 50;
constexpr uint32_t kHeadBytes = kSearchBytes + kSampleFrames * 8192;

bool EndsFile(const ProbeInput& input) { return input.headOffset + input.head.size() >= input.fileSize; }

}  // namespace

bool ProbeAdtsStart(const ProbeInput& input)
{
    size_t offset = 0;
    return FindFrameRun<AdtsFormat>(input.head, EndsFile(input), kStartRule, offset);
}

bool ProbeAdts(const ProbeInput& input)
{
    size_t offset = 0;
    return FindFrameRun<AdtsFormat>(input.head, EndsFile(input), kSearchRule, offset);
}

uint32_t AdtsDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    const AudioHead head = ReadAudioHead(*input, kHeadBytes);
    const uint64_t tagsEnd = head.start;
    const Bytes b = head.View();
    size_t at = 0;
    AdtsHeader first{};
    if (!FindFrameRun<AdtsFormat>(b, tagsEnd + b.size() >= fileSize, kSearchRule, at) ||
        !ParseAdtsHeader(b.data() + at, b.size() - at, first))
        return 0;
    const uint64_t audioStart = tagsEnd + at;
    // The tags at the start come from the head, those at the end from the tail the end search read.
    const EndTail tail = ReadEndTail(*input, audioStart);
    const uint64_t audioEnd = AudioEndBeforeTags(*input, audioStart, tail);
    if (WantsTags())
        ReadFrameFileTags(*input, audioStart, m_tags, m_cover, head.FileStart(), &tail);
    const uint64_t audioBytes = audioEnd - std::min(audioStart, audioEnd);
    const uint32_t bitRate = SampleBitRate<AdtsFormat>(b, at, kSampleFrames, 1);

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = StreamCodec::Aac;
    SetAudioFormat(r->audio, {first.channels, first.sampleRate, bitRate / 8, 1, 0});
    r->audio.codecSpecific[0] = first.objectType;
    r->audio.channelMask = AacChannelConfigurationMask(first.channelConfiguration);
    const uint32_t frameDuration = static_cast<uint32_t>(SamplesToUnits(first.samples, first.sampleRate));
    if (bitRate != 0) {
        m_times.SetAudio(SamplesToUnits(audioBytes * 8, bitRate), frameDuration);
        m_times.estimated = true;
    }
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
