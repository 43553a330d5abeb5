#include "audio/dts.h"

#include <algorithm>
#include <vector>

#include "audio/id3.h"
#include "audio/sampled_duration.h"
#include "es/audio_headers.h"

namespace md {
namespace {

// Stored bytes read for a core header: 16 bytes of the 16-bit form even from 14-bit words.
constexpr uint32_t kStoredHeaderBytes = 20;
constexpr uint32_t kHeaderBytes = 16;
// Core frames in a row that make a file DTS (fewer when the file ends first).
constexpr uint32_t kConfirmFrames = 4;
// The stretch of the file whose frames are counted; no core frame is shorter than 96 bytes.
constexpr uint32_t kSampleBytes = 512 * 1024;
constexpr uint32_t kMaxFrames = kSampleBytes / 96 + 1;

struct DtsRun {
    DtsWordForm form = DtsWordForm::None;
    uint32_t frames = 0;  // whole frames, their extension substreams included
    uint32_t headers = 0;  // core headers read, a last frame cut short by the end of the bytes included
    bool reachedEnd = false;  // the run stopped at the end of the bytes, not at bytes that are no frame
    bool hd = false;  // DTS-HD substreams follow the core frames
    FrameSample sample;
    DtsCoreHeader first{};
    uint32_t firstBytes = 0;  // the stored bytes of the first frame, its substream included
};

// The core frames from the start of b on, in the word form of the first one, up to maxFrames.
DtsRun WalkDtsFrames(Bytes b, uint32_t maxFrames)
{
    DtsRun run;
    run.form = DtsCoreSync(b.data(), static_cast<uint32_t>(std::min<size_t>(b.size(), kStoredHeaderBytes)));
    if (run.form == DtsWordForm::None)
        return run;
    size_t pos = 0;
    for (uint32_t n = 0; n < maxFrames; ++n) {
        const size_t left = b.size() - pos;
        if (left < kStoredHeaderBytes) {
            run.reachedEnd = true;
            break;
        }
        const uint8_t* p = b.data() + pos;
        uint8_t h[kHeaderBytes] = {};
        DtsCoreHeader core{};
        if (DtsCoreSync(p, kStoredHeaderBytes) != run.form ||
            !ParseDtsCoreHeader(h, DtsWordsToBe16(p, kStoredHeaderBytes, run.form, h, kHeaderBytes), core))
            break;
        ++run.headers;
        uint64_t bytes = DtsStoredBytes(core.frameBytes, run.form);
        // A DTS-HD extension substream right after the core belongs to its frame.
        const uint32_t hd =
            run.form == DtsWordForm::Be16 && bytes < left
                ? DtsHdSubstreamBytes(p + bytes, static_cast<uint32_t>(std::min<size_t>(left - bytes, 16)))
                : 0;
        bytes += hd;
        if (bytes > left) {
            run.reachedEnd = true;  // a last frame cut short
            break;
        }
        if (n == 0)
            run.first = core, run.firstBytes = uint32_t(bytes);
        run.hd = run.hd || hd != 0;
        ++run.frames;
        pos += bytes;
        run.sample.samples += core.samples;
        run.sample.bytes = pos;
    }
    run.reachedEnd = run.reachedEnd || pos == b.size();
    return run;
}

size_t LeadingZeros(Bytes b)
{
    return static_cast<size_t>(std::find_if(b.begin(), b.end(), [](uint8_t x) { return x != 0; }) - b.begin());
}

// Whether a run is long enough to make the file DTS: several frames in a row, or two core headers at least in a
// run that ends with the file (the last frame may be cut short).
bool Confirmed(const DtsRun& run, bool endsWithFile)
{
    return run.frames >= kConfirmFrames || (endsWithFile && run.reachedEnd && run.headers >= 2);
}

}  // namespace

bool ProbeDts(const ProbeInput& input)
{
    const DtsRun run = WalkDtsFrames(input.head.subspan(LeadingZeros(input.head)), kConfirmFrames);
    return Confirmed(run, input.headOffset + input.head.size() >= input.fileSize);
}

uint32_t DtsDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    const AudioHead audio = ReadAudioHead(*input, kSampleBytes);
    const uint64_t audioStart = audio.start;
    const Bytes head = audio.View();
    if (head.empty())
        return 0;
    if (WantsTags())
        ReadFrameFileTags(*input, audioStart, m_tags, m_cover, audio.FileStart());
    const size_t zeros = LeadingZeros(head);
    DtsRun run = WalkDtsFrames(head.subspan(zeros), kMaxFrames);
    const bool endsWithFile = audioStart + head.size() >= fileSize;
    if (run.frames == 0 || !Confirmed(run, endsWithFile))
        return 0;
    run.sample.wholeStream = run.reachedEnd && endsWithFile;

    const DtsCoreHeader& c = run.first;
    const uint32_t rate = c.sampleRate;
    SetSampledDuration(m_times, run.sample, rate, fileSize - audioStart - zeros,
                       uint32_t(SamplesToUnits(c.samples, rate)));
    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = run.hd ? StreamCodec::TsAudioDtsHd : StreamCodec::Dts;
    r->audio.channels = c.channels;
    r->audio.sampleRate = rate;
    r->audio.channelMask = c.channelMask;
    // The bit rate the frames take, substreams included (RATE states the core's nominal one, or none).
    if (run.sample.samples != 0 && rate != 0)
        r->audio.bytesPerSecond = uint32_t(run.sample.bytes * rate / run.sample.samples);
    r->audio.blockAlign = run.firstBytes;
    const bool littleEndian = run.form == DtsWordForm::Le16 || run.form == DtsWordForm::Le14;
    r->audio.codecSpecific[0] = littleEndian ? kDtsReversedSync : 0;
    r->audio.codecSpecific[2] = c.lfe;  // where AC-3 records keep lfeon
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
