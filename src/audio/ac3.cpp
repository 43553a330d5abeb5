#include "audio/ac3.h"

#include <algorithm>
#include <vector>

#include "audio/id3.h"
#include "audio/sampled_duration.h"
#include "es/audio_headers.h"

namespace md {
namespace {

// The bytes of a syncframe read for its description: syncinfo and bsi up to the chanmap of a dependent substream.
constexpr uint32_t kHeaderBytes = 16;
// No syncframe is shorter: it holds at least its header.
constexpr uint32_t kMinFrameBytes = kHeaderBytes;
// The highest bsid of AC-3 (A/52 4.4.2.1); E-AC-3 has 11 to 16.
constexpr uint32_t kMaxAc3Bsid = 8;
// Syncframes in a row that make a file AC-3 or E-AC-3 (fewer when the file ends first).
constexpr uint32_t kConfirmFrames = 4;
// The stretch of the file whose frames are counted.
constexpr uint32_t kSampleBytes = 512 * 1024;
constexpr uint32_t kMaxFrames = kSampleBytes / kMinFrameBytes + 1;
// Samples of an AC-3 syncframe: six blocks of 256.
constexpr uint32_t kAc3FrameSamples = 1536;
constexpr uint32_t kEac3DependentSubstream = 1, kEac3ReservedStreamType = 3;

struct SyncFrame {
    bool eac3 = false;
    bool swapped = false;  // 77 0B: byte-swapped 16-bit words
    uint32_t bytes = 0;
    bool program = false;  // an AC-3 frame or an independent E-AC-3 frame of substream 0: the program's next frame
    bool dependent = false;  // an E-AC-3 dependent substream frame, adding channels to the program frame before it
    uint32_t samples = 0;  // the program's samples the frame carries
    AudioFormat format{};
    uint32_t acmod = 0, lfeon = 0, bsid = 0, chanmap = 0;
};

// The syncframe whose syncword opens p, AC-3 or E-AC-3 by its bsid; false for a reserved fscod, frmsizecod or
// strmtyp, another bsid, or fewer than kHeaderBytes bytes.
bool ReadSyncFrame(const uint8_t* p, size_t left, SyncFrame& f)
{
    f = {};
    if (left < kHeaderBytes || !IsAc3Sync(p))
        return false;
    // The header in stream order: a byte-swapped stream exchanges the bytes of every 16-bit word.
    f.swapped = p[0] == 0x77;
    uint8_t h[kHeaderBytes];
    for (uint32_t i = 0; i < kHeaderBytes; ++i)
        h[i] = p[f.swapped ? i ^ 1 : i];
    if ((h[5] >> 3) <= kMaxAc3Bsid) {
        Ac3Info info{};
        uint32_t words = 0;
        if (!ParseAc3Header(h, kHeaderBytes, f.format, info, words) || words == 0)
            return false;
        f.bytes = words * 2;
        f.program = true;
        f.samples = kAc3FrameSamples;
        f.acmod = info.acmod, f.lfeon = info.lfeon, f.bsid = info.bsid;
        return true;
    }
    Eac3Info info{};
    if (!ParseEac3Header(h, kHeaderBytes, f.format, info) || info.strmtyp == kEac3ReservedStreamType ||
        info.frameBytes < kMinFrameBytes)
        return false;
    f.eac3 = true;
    f.bytes = info.frameBytes;
    f.dependent = info.strmtyp == kEac3DependentSubstream;
    f.program = !f.dependent && info.substreamid == 0;
    f.samples = f.program ? info.blocks * 256 : 0;
    f.acmod = info.acmod, f.lfeon = info.lfeon, f.bsid = info.bsid, f.chanmap = info.chanmap;
    return true;
}

struct SyncRun {
    uint32_t frames = 0;  // whole frames
    uint32_t headers = 0;  // frame headers read, a last frame cut short by the end of the bytes included
    bool ac3 = false, eac3 = false;
    bool reachedEnd = false;  // the run stopped at the end of the bytes, not at bytes that are no frame
    FrameSample sample;
    bool haveProgram = false;
    SyncFrame program;  // the first program frame
    uint32_t chanmap = 0;  // the channel maps of the dependent frames that follow it
};

// The syncframes from the start of b on, each where the one before says, up to maxFrames.
SyncRun WalkSyncFrames(Bytes b, uint32_t maxFrames)
{
    SyncRun run;
    size_t pos = 0;
    bool firstGroup = false;  // in the frames of the first program frame
    bool swapped = false;  // every frame of a run is in the same byte order
    for (uint32_t n = 0; n < maxFrames; ++n) {
        const size_t left = b.size() - pos;
        if (left < kHeaderBytes) {
            run.reachedEnd = true;
            break;
        }
        SyncFrame f;
        if (!ReadSyncFrame(b.data() + pos, left, f) || (n > 0 && f.swapped != swapped))
            break;
        ++run.headers;
        if (f.bytes > left) {
            run.reachedEnd = true;  // a last frame cut short
            break;
        }
        ++run.frames;
        pos += f.bytes;
        run.ac3 = run.ac3 || !f.eac3;
        run.eac3 = run.eac3 || f.eac3;
        run.sample.samples += f.samples;
        run.sample.bytes = pos;
        swapped = f.swapped;
        if (f.program) {
            firstGroup = !run.haveProgram;
            if (!run.haveProgram)
                run.program = f, run.haveProgram = true;
        } else if (f.dependent && firstGroup) {
            run.chanmap |= f.chanmap;
        }
    }
    run.reachedEnd = run.reachedEnd || pos == b.size();
    return run;
}

size_t LeadingZeros(Bytes b)
{
    return static_cast<size_t>(std::find_if(b.begin(), b.end(), [](uint8_t x) { return x != 0; }) - b.begin());
}

// Whether a run is long enough to make the file AC-3 or E-AC-3: several frames in a row, or two frame headers at
// least in a run that ends with the file (the last frame may be cut short).
bool Confirmed(const SyncRun& run, bool endsWithFile)
{
    return run.frames >= kConfirmFrames || (endsWithFile && run.reachedEnd && run.headers >= 2);
}

// The run at the start of the probe's bytes (after zero bytes), when it is long enough to count.
bool FindRun(const ProbeInput& input, SyncRun& run)
{
    run = WalkSyncFrames(input.head.subspan(LeadingZeros(input.head)), kConfirmFrames);
    return Confirmed(run, input.headOffset + input.head.size() >= input.fileSize);
}

}  // namespace

bool ProbeAc3(const ProbeInput& input)
{
    SyncRun run;
    return FindRun(input, run) && !run.eac3;
}

bool ProbeEac3(const ProbeInput& input)
{
    SyncRun run;
    return FindRun(input, run) && run.eac3;
}

uint32_t Ac3Demux::Parse(ZPMP::InputStream* input, StreamList* streams)
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
    SyncRun run = WalkSyncFrames(head.subspan(zeros), kMaxFrames);
    const bool endsWithFile = audioStart + head.size() >= fileSize;
    if (!run.haveProgram || !Confirmed(run, endsWithFile))
        return 0;
    run.sample.wholeStream = run.reachedEnd && endsWithFile;

    const SyncFrame& f = run.program;
    const uint32_t rate = f.format.sampleRate;
    SetSampledDuration(m_times, run.sample, rate, fileSize - audioStart - zeros,
                       uint32_t(SamplesToUnits(f.samples, rate)));
    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = run.eac3 ? StreamCodec::Eac3 : StreamCodec::Ac3;
    SetAudioFormat(r->audio, f.format);
    r->audio.codecSpecific[0] = f.acmod;
    r->audio.codecSpecific[2] = f.lfeon;
    r->audio.codecSpecific[4] = f.bsid;
    if (run.eac3) {
        // E-AC-3 states no bit rate: that of the program's frames, dependent substreams included.
        if (run.sample.samples != 0)
            r->audio.bytesPerSecond = uint32_t(run.sample.bytes * rate / run.sample.samples);
        // The speakers of the program: those of the independent substream and those the dependent ones add or
        // replace.
        if (run.chanmap != 0) {
            uint32_t channels = 0;
            r->audio.channelMask = Eac3ChanmapSpeakers(Eac3ChanmapOfAcmod(f.acmod, f.lfeon) | run.chanmap, channels);
            r->audio.channels = channels;
        }
    }
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
