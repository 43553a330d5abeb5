#include "flv/flv_demux.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "flv/amf0.h"
#include "flv/flv_tags.h"

namespace md {
namespace {

constexpr uint8_t kFlvVersion = 1;
constexpr uint32_t kFlvHeaderSize = 9;  // the smallest DataOffset
constexpr uint32_t kMaxHeaderSize = 1024;  // a larger DataOffset is taken for no FLV header
constexpr uint32_t kTagHeaderSize = 11;
constexpr uint32_t kPreviousTagSizeBytes = 4;
constexpr uint8_t kTypeFlagsAudio = 0x04;
constexpr uint8_t kTypeFlagsVideo = 0x01;

// TagType values; the type sits below the two reserved bits and the Filter bit (an encrypted payload).
constexpr uint8_t kAudioTag = 8;
constexpr uint8_t kVideoTag = 9;
constexpr uint8_t kScriptDataTag = 18;
constexpr uint8_t kTagTypeMask = 0x1F;
constexpr uint8_t kFilterBit = 0x20;

// Reads: the head, read in blocks as the tag walk reaches it, and the tail that the walk back covers.
constexpr uint64_t kHeadLimit = 512 * 1024;
constexpr uint64_t kHeadBlock = 64 * 1024;
constexpr uint64_t kTailLimit = 64 * 1024;
constexpr int kMaxHeadTags = 8192;
constexpr int kMaxTailTags = 8192;  // a tag takes at least 15 bytes: 64 KiB hold fewer

// The picture tags whose timestamps (milliseconds) give the frame rate, and the fewest intervals that give one
// before the metadata's.
constexpr uint32_t kRatePictures = 101;
constexpr uint32_t kMinRateIntervals = 8;

// The DataOffset of an FLV header with PreviousTagSize0 = 0 after it, or 0 when the bytes are no FLV header.
uint32_t FlvDataOffset(Bytes b)
{
    if (!Has(b, 0, kFlvHeaderSize) || std::memcmp(b.data(), "FLV", 3) != 0 || b[3] != kFlvVersion)
        return 0;
    const uint32_t dataOffset = Be32(b.data() + 5);
    if (dataOffset < kFlvHeaderSize || dataOffset > kMaxHeaderSize || !Has(b, dataOffset, kPreviousTagSizeBytes) ||
        Be32(b.data() + dataOffset) != 0)
        return 0;
    return dataOffset;
}

// The first bytes of the file, at most kHeadLimit, read as far as they are asked for.
class Head {
public:
    Head(ZPMP::InputStream& input, uint64_t fileSize) : m_input(input), m_end(std::min(fileSize, kHeadLimit)) {}

    // The bytes [pos, pos + n) that lie in the head: fewer at its end, none past it.
    Bytes At(uint64_t pos, uint64_t n)
    {
        if (pos >= m_end)
            return {};
        const uint64_t end = pos + std::min(n, m_end - pos);
        if (end > m_bytes.size())
            Grow(end);
        if (pos >= m_bytes.size())
            return {};
        return Bytes(m_bytes).subspan(size_t(pos), size_t(std::min<uint64_t>(end, m_bytes.size()) - pos));
    }

private:
    void Grow(uint64_t end)
    {
        const size_t old = m_bytes.size();
        const auto want = size_t(std::min(m_end, std::max(end, old + kHeadBlock)));
        m_bytes.resize(want);
        const uint32_t got = ZPMP::ReadAt(m_input, old, m_bytes.data() + old, uint32_t(want - old));
        m_bytes.resize(old + got);
        if (old + got < want)
            m_end = m_bytes.size();  // the stream ended before the file size said
    }

    ZPMP::InputStream& m_input;
    uint64_t m_end;
    std::vector<uint8_t> m_bytes;
};

struct TagHeader {
    uint8_t type;
    bool filtered;
    uint32_t dataSize;
    uint32_t timestamp;  // milliseconds: Timestamp with TimestampExtended as its upper 8 bits
};

TagHeader ReadTagHeader(const uint8_t* h)
{
    return {uint8_t(h[0] & kTagTypeMask), (h[0] & kFilterBit) != 0, Be24(h + 1), Be24(h + 4) | uint32_t(h[7]) << 24};
}

// The timestamps of the first picture tags, for the frame rate; a timestamp that goes back ends the sample.
struct RateSample {
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t pictures = 0;
    bool closed = false;

    void Add(uint32_t timestamp)
    {
        if (closed)
            return;
        if (pictures > 0 && timestamp < last) {
            closed = true;
            return;
        }
        first = pictures == 0 ? timestamp : first;
        last = timestamp;
        closed = ++pictures >= kRatePictures;
    }
    uint32_t Intervals() const { return pictures > 0 ? pictures - 1 : 0; }
    // Frames per second, snapped to a whole rate or its NTSC (x 1000/1001) neighbour within 0.2%: millisecond
    // timestamps cannot state such rates exactly.
    double Rate() const
    {
        if (last <= first)
            return 0;
        const double fps = 1000.0 * Intervals() / (last - first);
        const double whole = std::round(fps);
        const double ntsc = std::round(fps * 1.001) / 1.001;
        const double nearest = std::abs(fps - whole) <= std::abs(fps - ntsc) ? whole : ntsc;
        return std::abs(fps - nearest) <= fps * 0.002 ? nearest : fps;
    }
};

struct StreamState {
    std::unique_ptr<StreamRecord> record;
    bool described = false;  // a tag stated the stream's parameters
    uint32_t firstTime = 0;  // the first tag's timestamp
};

// What the walk over the tags of the head found.
struct HeadScan {
    FlvMetadata metadata;
    bool hasMetadata = false;
    StreamState video;
    StreamState audio;
    bool videoFirst = false;  // the first video tag came before the first audio tag
    RateSample rate;
    std::optional<uint32_t> firstTime;  // of the first audio or video tag
};

std::unique_ptr<StreamRecord> NewRecord(StreamClass streamClass, uint32_t streamId, StreamCodec codec)
{
    auto r = NewStreamRecord();
    if (r) {
        r->streamClass = streamClass;
        r->streamId = streamId;
        r->codec = codec;
    }
    return r;
}

void OnVideoTag(HeadScan& scan, const TagHeader& t, Bytes data)
{
    FlvVideoTag tag;
    StreamCodec codec{};
    if (!ReadVideoTag(data, tag) || !VideoCodecOf(tag, codec))
        return;
    StreamState& s = scan.video;
    if (!s.record) {
        s.record = NewRecord(StreamClass::Video, kFlvVideoStreamId, codec);
        if (!s.record)
            return;
        s.firstTime = t.timestamp;
        scan.videoFirst = !scan.audio.record;
    }
    // Tags of another codec (a stream that changes codec) describe nothing; an encrypted payload cannot.
    if (!s.described && !t.filtered && codec == s.record->codec)
        s.described = DescribeVideoTag(tag, *s.record, true);  // H.264 parameter sets of every profile
    if (tag.picture)
        scan.rate.Add(t.timestamp);
}

void OnAudioTag(HeadScan& scan, const TagHeader& t, Bytes data)
{
    FlvAudioTag tag;
    StreamCodec codec{};
    if (!ReadAudioTag(data, tag) || !AudioCodecOf(tag, codec))
        return;
    StreamState& s = scan.audio;
    if (!s.record) {
        s.record = NewRecord(StreamClass::Audio, kFlvAudioStreamId, codec);
        if (!s.record)
            return;
        s.firstTime = t.timestamp;
    }
    if (s.described || codec != s.record->codec)
        return;
    // An encrypted payload leaves the sound flags only.
    if (t.filtered)
        tag.payload = {}, tag.aacSequenceHeader = false;
    s.described = DescribeAudioTag(tag, *s.record);
}

// The walk is over when every stream the header flags announce, and every stream met, is described and the
// frame rate sample is taken (or the codec stated the rate). Flags of 0 announce nothing: the walk goes on to
// the end of the head.
bool Complete(const HeadScan& scan, uint8_t flags)
{
    const bool announced = (flags & (kTypeFlagsAudio | kTypeFlagsVideo)) != 0;
    const bool videoDone = scan.video.record
                               ? scan.video.described && (scan.video.record->frameRate > 0 || scan.rate.closed)
                               : announced && (flags & kTypeFlagsVideo) == 0;
    const bool audioDone = scan.audio.record ? scan.audio.described : announced && (flags & kTypeFlagsAudio) == 0;
    return videoDone && audioDone;
}

// The tags of the head, from the first tag on; with tags, what onMetaData lists is listed there.
HeadScan WalkHead(Head& head, uint64_t firstTag, uint8_t flags, TagList* tags)
{
    HeadScan scan;
    uint64_t pos = firstTag;
    for (int n = 0; n < kMaxHeadTags && !Complete(scan, flags); ++n) {
        const Bytes h = head.At(pos, kTagHeaderSize);
        if (h.size() < kTagHeaderSize)
            break;
        const TagHeader t = ReadTagHeader(h.data());
        // A tag that runs past the end of the file or of the head is read as far as it goes.
        const Bytes data = head.At(pos + kTagHeaderSize, t.dataSize);
        if (t.type == kScriptDataTag && !scan.hasMetadata && !t.filtered)
            scan.hasMetadata = ReadOnMetaData(data, scan.metadata, tags);
        if (t.type == kVideoTag || t.type == kAudioTag)
            scan.firstTime = scan.firstTime.value_or(t.timestamp);
        if (t.type == kVideoTag)
            OnVideoTag(scan, t, data);
        else if (t.type == kAudioTag)
            OnAudioTag(scan, t, data);
        pos += kTagHeaderSize + uint64_t(t.dataSize) + kPreviousTagSizeBytes;
    }
    return scan;
}

// A metadata number within [lo, hi], rounded, or none.
std::optional<uint32_t> Whole(const std::optional<double>& v, double lo, double hi)
{
    if (!v || !(*v >= lo && *v <= hi))
        return std::nullopt;
    return uint32_t(std::lround(*v));
}

// The SoundRate index of a sampling rate (44 kHz for the rates SoundRate cannot state).
uint8_t SoundRateIndex(uint32_t rate)
{
    for (uint8_t i = 0; i < 3; ++i)
        if (rate == FlvSoundRate(i) || (i == 0 && rate == 5500))
            return i;
    return 3;
}

// What onMetaData adds to the tags: a stream the header flags announce whose first tag lies past the head (from
// its codec id), the size where no tag gave it, the frame rate where neither the codec nor enough tag timestamps
// give it, and the sampling rate and channels where no tag stated them (AAC without its sequence header).
void FillFromMetadata(HeadScan& scan, uint8_t flags)
{
    const FlvMetadata& m = scan.metadata;
    if (!scan.video.record && (flags & kTypeFlagsVideo)) {
        FlvVideoTag tag;
        tag.codecId = uint8_t(Whole(m.videoCodecId, 1, 15).value_or(0));
        if (StreamCodec codec{}; VideoCodecOf(tag, codec))
            scan.video.record = NewRecord(StreamClass::Video, kFlvVideoStreamId, codec);
    }
    if (!scan.audio.record && (flags & kTypeFlagsAudio)) {
        FlvAudioTag tag;
        tag.soundFormat = uint8_t(Whole(m.audioCodecId, 0, 15).value_or(0xFF));
        tag.rateIndex = SoundRateIndex(Whole(m.audioSampleRate, 1000, 1000000).value_or(0));
        tag.sixteenBit = Whole(m.audioSampleSize, 0, 64).value_or(16) != 8;
        tag.stereo = m.stereo.value_or(false);
        StreamCodec codec{};
        if (AudioCodecOf(tag, codec) && (scan.audio.record = NewRecord(StreamClass::Audio, kFlvAudioStreamId, codec)))
            scan.audio.described = DescribeAudioTag(tag, *scan.audio.record);
    }
    if (StreamRecord* v = scan.video.record.get()) {
        const auto width = Whole(m.width, 1, 65535);
        const auto height = Whole(m.height, 1, 65535);
        if (v->video.width == 0 && width && height)
            SetSquarePicture(*v, *width, *height);
        const bool stated = m.frameRate && *m.frameRate > 0 && *m.frameRate <= 1000;
        if (v->frameRate <= 0)
            v->frameRate = scan.rate.Intervals() >= kMinRateIntervals || !stated ? scan.rate.Rate() : *m.frameRate;
    }
    if (StreamRecord* a = scan.audio.record.get(); a && !scan.audio.described) {
        if (const auto rate = Whole(m.audioSampleRate, 1000, 1000000))
            a->audio.sampleRate = *rate;
        if (m.stereo)
            a->audio.channels = *m.stereo ? 2 : 1;
    }
}

// The samples of one frame of the codecs whose frames have a fixed length; 0 for the others. The MP3 sound
// formats carry Layer III: 1152 samples a frame for MPEG-1, 576 for MPEG-2 and 2.5.
uint32_t SamplesPerFrame(StreamCodec codec)
{
    switch (codec) {
    case StreamCodec::Aac: return 1024;
    case StreamCodec::Mpeg1Audio: return 1152;
    case StreamCodec::Mpeg2Audio: return 576;
    default: return 0;
    }
}

// The latest timestamps of the video and audio tags found walking back from the end of the file: each
// PreviousTagSize must lead to a tag of that size inside the last kTailLimit bytes (and after the header), else
// the walk stops there.
struct TailTimes {
    std::optional<uint32_t> video;
    std::optional<uint32_t> audio;
};

TailTimes WalkBack(ZPMP::InputStream& input, uint64_t fileSize, uint64_t firstTag)
{
    TailTimes out;
    if (fileSize <= firstTag)
        return out;
    const uint64_t start = std::max(firstTag, fileSize - std::min(fileSize, kTailLimit));
    std::vector<uint8_t> tail(size_t(fileSize - start));
    if (ZPMP::ReadAt(input, start, tail.data(), uint32_t(tail.size())) != tail.size())
        return out;
    size_t end = tail.size();  // the end of the PreviousTagSize that follows the next tag back
    for (int n = 0; n < kMaxTailTags && end >= kPreviousTagSizeBytes + kTagHeaderSize; ++n) {
        const uint32_t previous = Be32(tail.data() + end - kPreviousTagSizeBytes);
        if (previous < kTagHeaderSize || previous > end - kPreviousTagSizeBytes)
            break;  // points before the window (or the file)
        const size_t at = end - kPreviousTagSizeBytes - previous;
        const TagHeader t = ReadTagHeader(tail.data() + at);
        if (uint64_t(t.dataSize) + kTagHeaderSize != previous ||
            (t.type != kAudioTag && t.type != kVideoTag && t.type != kScriptDataTag))
            break;  // no tag of that size there
        std::optional<uint32_t>& latest = t.type == kVideoTag ? out.video : out.audio;
        if (t.type != kScriptDataTag)
            latest = std::max(latest.value_or(0), t.timestamp);
        end = at;
    }
    return out;
}

constexpr int64_t kUnitsPerMillisecond = 10000;

}  // namespace

bool ProbeFlv(const ProbeInput& input) { return FlvDataOffset(input.head) != 0; }

uint32_t FlvDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    Head head(*input, fileSize);
    const Bytes header = head.At(0, kMaxHeaderSize + kPreviousTagSizeBytes);
    const uint32_t dataOffset = FlvDataOffset(header);
    if (dataOffset == 0)
        return 0;
    const uint8_t flags = header[4];
    const uint64_t firstTag = dataOffset + kPreviousTagSizeBytes;
    m_tags.Clear();
    HeadScan scan = WalkHead(head, firstTag, flags, WantsTags() ? &m_tags : nullptr);
    FillFromMetadata(scan, flags);

    StreamRecord* video = scan.video.record.get();
    StreamRecord* audio = scan.audio.record.get();
    const uint32_t videoFrame = video && video->frameRate > 0 ? uint32_t(std::lround(1e7 / video->frameRate)) : 0;
    const uint32_t audioSamples = audio ? SamplesPerFrame(audio->codec) : 0;
    const uint32_t audioFrame = audio ? uint32_t(SamplesToUnits(audioSamples, audio->audio.sampleRate)) : 0;

    // The duration onMetaData states, else the tag timestamps: from the first audio or video tag of the head to
    // the latest of each stream at the end of the file.
    const std::optional<double>& stated = scan.metadata.duration;
    if (stated && *stated > 0 && *stated < 1e9) {
        const int64_t duration = std::llround(*stated * 1e7);
        if (video)
            m_times.SetVideo(duration, videoFrame);
        if (audio)
            m_times.SetAudio(duration, audioFrame);
    } else if (video || audio) {
        const TailTimes tail = WalkBack(*input, fileSize, firstTag);
        const int64_t start = int64_t(scan.firstTime.value_or(0)) * kUnitsPerMillisecond;
        TimeRangeInfo& r = m_times.range;
        if (video && tail.video && int64_t(*tail.video) * kUnitsPerMillisecond >= start) {
            r.videoFirstTime = std::max<int64_t>(start, int64_t(scan.video.firstTime) * kUnitsPerMillisecond);
            r.videoEndTime = std::max<int64_t>(r.videoFirstTime, int64_t(*tail.video) * kUnitsPerMillisecond);
            r.videoFrameDuration = videoFrame;
            r.startTime = start;
        }
        if (audio && tail.audio && int64_t(*tail.audio) * kUnitsPerMillisecond >= start) {
            r.audioFirstTime = std::max<int64_t>(start, int64_t(scan.audio.firstTime) * kUnitsPerMillisecond);
            r.audioEndTime = std::max<int64_t>(r.audioFirstTime, int64_t(*tail.audio) * kUnitsPerMillisecond);
            r.audioFrameDuration = audioFrame;
            r.startTime = start;
        }
    }

    if (streams) {
        if (scan.videoFirst && scan.video.record)
            streams->Append(std::move(scan.video.record));
        if (scan.audio.record)
            streams->Append(std::move(scan.audio.record));
        if (scan.video.record)
            streams->Append(std::move(scan.video.record));
    }
    return 1;
}

}  // namespace md
