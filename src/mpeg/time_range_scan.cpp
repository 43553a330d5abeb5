#include "mpeg/time_range_scan.h"

#include <algorithm>
#include <memory>
#include <new>

#include "es/audio_headers.h"
#include "es/mpeg_video.h"
#include "es/pes.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"
#include "mpeg/cdxa.h"
#include "mpeg/system_decoder.h"

namespace md {

namespace {

constexpr uint32_t kUserDataSize = 2324;     // Mode 2 Form 2 user data, and the block size of other files
constexpr uint32_t kWorkSize = 600000;       // taken stream bytes
constexpr uint32_t kFeedsBeforeStop = 3001;
constexpr int32_t kMaxEndPasses = 40;
constexpr uint64_t kDefaultEndWindow = 500000;
constexpr uint32_t kByteRateSample = 512000;
constexpr int64_t kOneSecond = 10000000;

std::unique_ptr<CMpegMuxDec> MakeDecoder(bool mpeg1, bool mpeg4, ProgramStreamTimeRules rules)
{
    if (mpeg1)
        return std::unique_ptr<CMpegMuxDec>(new (std::nothrow) MPEG1SystemDec_c(CMpegMuxDec::kDefaultCapacity));
    auto* decoder = new (std::nothrow) MPEG2SystemDec_c(CMpegMuxDec::kDefaultCapacity);
    if (decoder != nullptr) {
        decoder->SetMpeg4Video(mpeg4);
        decoder->SetSubStreamTiming(rules.subStreamTiming);
    }
    return std::unique_ptr<CMpegMuxDec>(decoder);
}

// The pieces fed to a decoder: raw sectors of a RIFF/CDXA file (only the user
// data of Form 2 video and audio sectors), else 2324-byte blocks. The file is
// read 28 pieces at a time and the pieces are cut from that: the same pieces as
// reading each one on its own (the last one of the file may be short), in a
// twenty-eighth of the reads.
class BlockReader {
public:
    BlockReader(ZPMP::InputStream& input, bool cdxa)
        : m_input(input), m_cdxa(cdxa), m_piece(cdxa ? kRawSectorSize : kUserDataSize),
          m_chunk(new (std::nothrow) uint8_t[kPiecesPerRead * kRawSectorSize])
    {
    }

    // The next piece: false at the end of the data (a read of 0 bytes, or a
    // short sector) or without memory. data is empty for a sector that is
    // skipped; rawBytes is what was read from the file.
    bool Next(Bytes& data, uint32_t& rawBytes)
    {
        data = {};
        rawBytes = 0;
        if (!m_chunk)
            return false;
        if (m_at == m_size) {
            m_size = ZPMP::ReadFully(m_input, m_chunk.get(), kPiecesPerRead * m_piece);
            m_at = 0;
        }
        const uint8_t* piece = m_chunk.get() + m_at;
        rawBytes = std::min(m_piece, m_size - m_at);
        m_at += rawBytes;
        if (!m_cdxa) {
            data = Bytes(piece, rawBytes);
            return rawBytes > 0;
        }
        if (rawBytes < kRawSectorSize)
            return false;
        if (IsMediaSector(piece))
            data = Bytes(piece + kRawSectorUserDataOffset, kUserDataSize);
        return true;
    }

private:
    static constexpr uint32_t kPiecesPerRead = 28;

    // Sync pattern 00 FF x10 00, mode 2, and a submode with Form 2 (bit 5) and
    // video (bit 1) or audio (bit 2).
    static bool IsMediaSector(const uint8_t* s)
    {
        if (s[0] != 0 || s[11] != 0)
            return false;
        for (int i = 1; i <= 10; ++i)
            if (s[i] != 0xFF)
                return false;
        const uint8_t submode = s[18];
        return s[15] == 2 && (submode & 0x20) != 0 && (submode & 0x06) != 0;
    }

    ZPMP::InputStream& m_input;
    bool m_cdxa;
    uint32_t m_piece;
    std::unique_ptr<uint8_t[]> m_chunk;
    uint32_t m_size = 0;  // bytes of the last read
    uint32_t m_at = 0;    // where the next piece starts in them
};

// Where a stream's bytes are taken to: a take holds what was fed since the last
// one, so no more than the file's size.
struct WorkBuffer {
    explicit WorkBuffer(ZPMP::InputStream& input)
        : size(ZPMP::ChunkCapacity(input, kWorkSize)), data(new (std::nothrow) uint8_t[size])
    {
    }
    std::span<uint8_t> Span() const { return {data.get(), size}; }
    uint32_t size;
    std::unique_ptr<uint8_t[]> data;
};

// The longest video frame a file's frame duration is believed, in 100-ns units.
constexpr int32_t kLongestCodedFrame = 600000;

// frame_rate_code to the frame duration in 100-ns units; a forbidden or
// reserved code counts as code 4 (29.97 Hz).
int32_t FrameDurationOfRateCode(uint32_t code)
{
    constexpr uint32_t kCode2997 = 4;
    MpegFrameRate rate{};
    if (!LookupFrameRate(code, rate))
        LookupFrameRate(kCode2997, rate);
    return static_cast<int32_t>(rate.duration);
}

// Frame duration in 100-ns units of the audio frame at the start of bytes, by
// the stream's coding; 0 when its header cannot be read. syncframeSamples: an
// AC-3 frame lasts its 1536 samples (else the legacy count of Ac3FrameDuration).
uint32_t AudioFrameDurationAt(int32_t coding, Bytes bytes, bool syncframeSamples)
{
    const uint8_t* p = bytes.data();
    const auto n = static_cast<uint32_t>(bytes.size());
    switch (coding) {
    case kAudioCodingMpeg:
        return n < 32 ? 0 : static_cast<uint32_t>(MpegAudioFrameDuration(p));
    case kAudioCodingLpcm:
        return 16666;
    case kAudioCodingAc3:
        for (uint32_t i = 0; Has(n, i, 11); ++i) {
            if (!IsAc3Sync(p + i))
                continue;
            AudioFormat format{};
            Ac3Info info{};
            uint32_t frameWords = 0;
            if (!ParseAc3Header(p + i, n - i, format, info, frameWords))
                return 0;
            if (syncframeSamples)
                return static_cast<uint32_t>(Ac3SyncframeDuration(format.sampleRate));
            return static_cast<uint32_t>(Ac3FrameDuration(format.bytesPerSecond, frameWords));
        }
        return 0;
    case kAudioCodingDts:
        for (uint32_t i = 0; Has(n, i, 11); ++i) {
            if (!IsDtsSync(p + i))
                continue;
            AudioFormat format{};
            DtsInfo info{};
            int64_t duration = 0;
            if (!ParseDtsHeader(p + i, n - i, format, info, duration))
                return 0;
            return static_cast<uint32_t>(std::clamp<int64_t>(duration, 0, UINT32_MAX));
        }
        return 0;
    default:
        return 0;
    }
}

// The unit's bytes in the taken data.
Bytes UnitBytes(const uint8_t* work, uint32_t taken, const MuxUnitInfo& unit)
{
    return unit.offset < taken ? Bytes(work + unit.offset, taken - unit.offset) : Bytes{};
}

// ---- Start of the file ------------------------------------------------------------

struct StartVideoState {
    int64_t currentTime = -1;
    bool lastGopClosed = false;
    bool rateExtension = false;  // frame_rate_extension_n and _d apply
};

// Walks the taken video units; true when the video is described.
bool StartVideoUnits(CMpegMuxDec& decoder, bool mpeg4, const uint8_t* work, uint32_t taken, StartVideoState& s,
                     ScanStartResult& r)
{
    MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0) {
        const Bytes bytes = UnitBytes(work, taken, unit);
        if (mpeg4) {
            if (unit.type == kUnitVol && r.videoFrameDuration == -1) {
                SequenceHeaderInfo info{};
                if (ParseVolHeader(bytes.data(), static_cast<uint32_t>(bytes.size()), info)) {
                    r.videoFrameDuration = static_cast<int32_t>(std::clamp<int64_t>(info.frameDuration, 0, INT32_MAX));
                    r.videoByteRate = info.bitRate / 8;
                }
            }
            if (unit.time >= 0)
                s.currentTime = unit.time;
            if (unit.type != kUnitVop)
                continue;
            // vop_coding_type 0 (I-VOP) in the top two bits of the byte after the start code.
            if (bytes.size() >= 5 && bytes[4] < 64 && s.currentTime >= 0)
                r.videoFirstTime = r.videoFirstTime < 0 ? s.currentTime : std::min(r.videoFirstTime, s.currentTime);
            if (r.videoFrameDuration > 0)
                return true;
            r.videoFrameDuration = 0;
            continue;
        }

        if (unit.type == kUnitSequenceHeader && bytes.size() >= 11) {
            r.videoFrameDuration = FrameDurationOfRateCode(bytes[7] & 0x0F);
            // The sequence extension follows the header and its quantiser matrices.
            const uint32_t n = static_cast<uint32_t>(bytes.size()), headerLength = SequenceHeaderLength(bytes.data(), n);
            uint32_t numerator = 1, denominator = 1;
            if (s.rateExtension && headerLength != 0 &&
                ReadFrameRateExtension(bytes.data() + headerLength, n - headerLength, numerator, denominator))
                r.videoFrameDuration = static_cast<int32_t>(int64_t(r.videoFrameDuration) * denominator / numerator);
            const uint32_t bitRateValue = uint32_t(bytes[8]) << 10 | uint32_t(bytes[9]) << 2 | uint32_t(bytes[10] >> 6);
            r.videoByteRate = bitRateValue * 400 / 8;
        } else if (unit.type == kUnitGop) {
            uint8_t closedGop = 0;
            uint8_t brokenLink = 0;
            if (ReadGopFlags(bytes.data(), static_cast<uint32_t>(bytes.size()), closedGop, brokenLink))
                s.lastGopClosed = closedGop != 0;
        }
        if (unit.time >= 0)
            s.currentTime = unit.time;
        if (unit.type != kUnitPicture || s.currentTime < 0)
            continue;
        // In a closed GOP the first picture in stream order is displayed
        // temporal_reference frames after the GOP starts.
        int64_t time = s.currentTime;
        uint32_t temporalReference = 0;
        if (s.lastGopClosed &&
            ReadTemporalReference(bytes.data(), static_cast<uint32_t>(bytes.size()), temporalReference) &&
            temporalReference != 0)
            time = std::max<int64_t>(0, time - int64_t(temporalReference) * std::max(r.videoFrameDuration, 0));
        r.videoFirstTime = r.videoFirstTime < 0 ? time : std::min(r.videoFirstTime, time);
        if (r.videoFrameDuration > 0)
            return true;
        r.videoFrameDuration = 0;
    }
    return false;
}

// Walks the taken audio units up to the first one with a time; true when the
// audio frame duration is known.
bool StartAudioUnits(CMpegMuxDec& decoder, bool mpeg1, int32_t index, const uint8_t* work, uint32_t taken,
                     int32_t& coding, bool syncframeSamples, ScanStartResult& r)
{
    MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0) {
        if (unit.type != kUnitAudioFrame || unit.time < 0)
            continue;
        if (coding == kAudioCodingNone)
            coding = mpeg1 ? kAudioCodingMpeg : decoder.AudioCodingOf(index);
        const uint32_t duration = AudioFrameDurationAt(coding, UnitBytes(work, taken, unit), syncframeSamples);
        r.audioFirstTime = r.audioFirstTime < 0 ? unit.time : std::min(r.audioFirstTime, unit.time);
        if (duration == 0)
            return false;
        r.audioFrameDuration = duration;
        return true;
    }
    return false;
}

// ---- End of the file --------------------------------------------------------------

struct EndVideoState {
    int64_t greatest = -1;
    int32_t remembered = 0;  // temporal_reference (MPEG-4: VOP count) of the greatest time
    int32_t later = -1;      // largest temporal_reference without a time after it
    uint64_t pictures = 0;   // counted over all passes
    int32_t vopCount = 0;    // VOPs since the last I-VOP
    bool found = false;
    enum { kNone, kHeaderTime, kExtrapolate } pending = kNone;
    int64_t pendingTime = -1;
};

struct EndAudioState {
    int64_t greatest = -1;
    int64_t framesWithoutTime = 0;
    bool found = false;
};

void RememberPicture(EndVideoState& v, int32_t temporalReference)
{
    v.remembered = temporalReference;
    v.later = -1;
}

// The frames after the remembered picture, as frame durations to add.
int64_t FramesAfterRemembered(const EndVideoState& v)
{
    return v.later >= v.remembered ? int64_t(v.later) - v.remembered + 1 : 1;
}

void EndVideoUnits(CMpegMuxDec& decoder, bool mpeg4, int32_t frameDuration, const uint8_t* work, uint32_t taken,
                   EndVideoState& v)
{
    MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0) {
        const Bytes bytes = UnitBytes(work, taken, unit);
        if (mpeg4) {
            if (unit.time >= 0)
                v.greatest = std::max<int64_t>(unit.time, 0);
            if (unit.type != kUnitVop || bytes.size() < 5)
                continue;
            if (bytes[4] < 64) {  // I-VOP
                v.vopCount = 0;
                v.remembered = 0;
                v.later = 0;
                v.found = true;
            } else if (unit.time >= 0) {
                v.remembered = v.vopCount;
            } else {
                v.later = v.vopCount;
            }
            ++v.vopCount;
            continue;
        }

        if (unit.type == kUnitSequenceHeader || unit.type == kUnitGop) {
            if (unit.time >= 0) {
                v.greatest = std::max(v.greatest, unit.time);
                v.found = true;
                v.pending = EndVideoState::kHeaderTime;
                v.pendingTime = unit.time;
            } else if (v.found && v.pending == EndVideoState::kNone) {
                v.pending = EndVideoState::kExtrapolate;
            }
            continue;
        }
        if (unit.type != kUnitPicture)
            continue;

        uint32_t value = 0;
        ReadTemporalReference(bytes.data(), static_cast<uint32_t>(bytes.size()), value);
        const auto temporalReference = static_cast<int32_t>(value);
        int64_t time = unit.time;
        const auto pending = v.pending;
        v.pending = EndVideoState::kNone;
        if (pending == EndVideoState::kHeaderTime) {
            if (time < 0)
                time = v.pendingTime;
            RememberPicture(v, temporalReference);
        } else if (pending == EndVideoState::kExtrapolate && time < 0) {
            // The GOP starts where the display of the remembered one ends.
            time = v.greatest + FramesAfterRemembered(v) * frameDuration;
            RememberPicture(v, temporalReference);
            time += int64_t(temporalReference) * frameDuration;
            v.greatest = std::max(v.greatest, time);
            ++v.pictures;
            continue;
        }
        if (time >= 0) {
            if (time > v.greatest) {
                v.greatest = time;
                RememberPicture(v, temporalReference);
            }
            if (v.pictures > 2)
                v.found = true;
        } else if (temporalReference > v.remembered) {
            v.later = std::max(v.later, temporalReference);
        }
        ++v.pictures;
    }
}

void EndAudioUnits(CMpegMuxDec& decoder, EndAudioState& a)
{
    MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0) {
        if (unit.type != kUnitAudioFrame)
            continue;
        if (unit.time >= 0) {
            a.greatest = std::max(a.greatest, unit.time);
            a.found = true;
            a.framesWithoutTime = 0;
        } else {
            ++a.framesWithoutTime;
        }
    }
}

// 33-bit clock of the pack header at p (10 bytes) in 90 kHz units.
int64_t PackClock(const uint8_t* p, bool mpeg1)
{
    return static_cast<int64_t>(mpeg1 ? ReadTimestamp33(p + 4) : ReadMpeg2Scr27MHz(p) / 300);
}

}  // namespace

ProgramStreamTimeRules ProgramStreamTimeRulesOf(uint32_t extensions)
{
    return {.rateExtension = (extensions & MD_EXT_FRAME_RATES) != 0,
            .subStreamTiming = (extensions & MD_EXT_TIME_RANGES) != 0,
            .endsWithoutByteRate = (extensions & MD_EXT_TIME_RANGES) != 0};
}

bool ScanStart(bool mpeg1, ZPMP::InputStream* input, bool cdxa, uint64_t cdxaDataOffset, bool mpeg4,
               ScanStartResult& result, ProgramStreamTimeRules rules)
{
    result = ScanStartResult{};
    if (input == nullptr)
        return false;
    const std::unique_ptr<CMpegMuxDec> decoder = MakeDecoder(mpeg1, mpeg4, rules);
    const WorkBuffer work(*input);
    if (!decoder || !work.data)
        return false;
    const bool mpeg4Video = mpeg4 && !mpeg1;

    input->Seek(cdxa ? cdxaDataOffset : 0);
    decoder->BeginStream();
    BlockReader reader(*input, cdxa);
    StartVideoState videoState;
    videoState.rateExtension = rules.rateExtension;
    bool videoDone = false;
    bool audioDone = false;
    int32_t audioIndex = -1;
    int32_t audioCoding = kAudioCodingNone;
    uint32_t fed = 0;
    Bytes block;
    uint32_t raw = 0;
    while (reader.Next(block, raw)) {
        if (block.empty())
            continue;
        decoder->Feed(block.data(), static_cast<uint32_t>(block.size()));
        ++fed;
        if (result.videoStreamIndex < 0)
            result.videoStreamIndex = decoder->FirstVideoStream();
        if (!videoDone && result.videoStreamIndex >= 0) {
            const uint32_t taken = decoder->TakeVideo(result.videoStreamIndex, work.Span());
            videoDone = StartVideoUnits(*decoder, mpeg4Video, work.data.get(), taken, videoState, result);
        }
        if (!audioDone) {
            const int32_t current = decoder->CurrentAudioStream();
            if (current >= 0)
                audioIndex = current;
            if (audioIndex >= 0) {
                const uint32_t taken = decoder->TakeAudio(audioIndex, work.Span());
                audioDone = StartAudioUnits(*decoder, mpeg1, audioIndex, work.data.get(), taken, audioCoding,
                                            rules.subStreamTiming, result);
            }
        }
        if (videoDone && audioDone)
            break;
        if (fed >= kFeedsBeforeStop) {
            // Enough data for a described (or absent) video stream.
            if (result.videoFrameDuration != 0)
                break;
            fed = 0;
        }
    }
    decoder->EndStream();
    return true;
}

bool ScanEnd(bool mpeg1, ZPMP::InputStream* input, int32_t videoFrameDuration, uint32_t audioFrameDuration,
             bool cdxa, uint64_t cdxaDataOffset, int32_t videoStreamIndex, uint32_t videoByteRate, bool mpeg4,
             ScanEndResult& result, ProgramStreamTimeRules rules)
{
    result = ScanEndResult{};
    if (input == nullptr)
        return false;
    const std::unique_ptr<CMpegMuxDec> decoder = MakeDecoder(mpeg1, mpeg4, rules);
    const WorkBuffer work(*input);
    if (!decoder || !work.data)
        return false;
    const bool mpeg4Video = mpeg4 && !mpeg1;

    const uint64_t size = input->Size();
    const uint64_t usable = size - std::min<uint64_t>(size, 100);
    // A quarter second of video data, or 500,000 bytes.
    const uint64_t window = std::min<uint64_t>(usable, videoByteRate > 0 ? videoByteRate / 4 : kDefaultEndWindow);
    uint64_t distance = window;
    bool videoDone = videoFrameDuration == 0 || videoStreamIndex < 0;
    bool audioDone = audioFrameDuration == 0;
    EndVideoState video;
    EndAudioState audio;
    int32_t audioIndex = -1;

    for (int32_t pass = 0; pass < kMaxEndPasses && !(videoDone && audioDone); ++pass) {
        uint64_t position = size - distance;
        if (cdxa)
            position = position / kRawSectorSize * kRawSectorSize + cdxaDataOffset;
        input->Seek(position);
        input->WillRead(position, size);
        decoder->BeginStream();
        BlockReader reader(*input, cdxa);
        Bytes block;
        uint32_t raw = 0;
        // Each pass reads from its start on to the end of the file: the window
        // plus all that the earlier passes read.
        for (uint64_t read = 0; read < distance && reader.Next(block, raw);) {
            read += raw;
            if (block.empty())
                continue;
            decoder->Feed(block.data(), static_cast<uint32_t>(block.size()));
            if (!videoDone) {
                const uint32_t taken = decoder->TakeVideo(videoStreamIndex, work.Span());
                EndVideoUnits(*decoder, mpeg4Video, videoFrameDuration, work.data.get(), taken, video);
            }
            if (!audioDone) {
                const int32_t current = decoder->CurrentAudioStream();
                if (current >= 0)
                    audioIndex = current;
                if (audioIndex >= 0) {
                    decoder->TakeAudio(audioIndex, work.Span());
                    EndAudioUnits(*decoder, audio);
                }
            }
        }
        videoDone = videoDone || video.found;
        audioDone = audioDone || audio.found;
        distance = std::min<uint64_t>(size, uint64_t(pass + 2) * window);
    }
    decoder->EndStream();

    if (audio.found)
        result.audioEndTime = audio.greatest + (audio.framesWithoutTime + 1) * int64_t(audioFrameDuration);
    if (video.found)
        result.videoEndTime = video.greatest + FramesAfterRemembered(video) * videoFrameDuration;
    return true;
}

bool MeasureByteRate(ZPMP::InputStream& input, bool mpeg1, double& bytesPer100ns)
{
    bytesPer100ns = 0;
    const uint32_t capacity = ZPMP::ChunkCapacity(input, kByteRateSample);
    const ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(capacity);
    if (!buffer)
        return false;
    const uint32_t n = ZPMP::ReadFully(input, buffer.get(), capacity);
    const uint8_t* p = buffer.get();

    uint32_t packs = 0;
    uint64_t firstOffset = 0;
    uint64_t lastOffset = 0;
    int64_t firstClock = 0;
    int64_t running = 0;  // the clock, continued across resets
    int64_t carried = 0;  // what a reset added to the later clocks
    for (uint32_t i = 0; Has(n, i, 10); ++i) {
        if (Be32(p + i) != 0x000001BA)
            continue;
        const int64_t clock = PackClock(p + i, mpeg1);
        // A clock that falls to 0 or goes back continues from the value before.
        if (packs > 0 && (clock == 0 || clock + carried < running))
            carried = running;
        running = clock + carried;
        if (packs == 0) {
            firstOffset = i;
            firstClock = running;
        }
        lastOffset = i;
        ++packs;
    }
    if (packs < 2 || running <= firstClock)
        return false;
    const int64_t elapsed = (running - firstClock) * 1000 / 9;  // 100-ns units
    bytesPer100ns = double(lastOffset - firstOffset) / double(elapsed);
    return true;
}

bool ScanProgramStreamTimeRange(ZPMP::InputStream& input, uint32_t kind, TimeRangeInfo& range,
                                ProgramStreamTimeRules rules)
{
    range = TimeRangeInfo{};
    bool mpeg1 = false;
    switch (kind) {
    case MK_MPEG1_SYSTEM:
    case MK_VCD:
        mpeg1 = true;
        break;
    case MK_MPEG2_PROGRAM:
    case MK_SVCD:
    case MK_MPEG2_PROGRAM_MPEG4:
    case MK_DVD_VIDEO:
    case MK_DVD_VR:
        break;
    default:
        return false;
    }
    const bool mpeg4 = kind == MK_MPEG2_PROGRAM_MPEG4;
    const uint64_t size = input.Size();
    if (size == 0)
        return false;

    // A RIFF/CDXA file is read sector by sector from its data chunk.
    bool cdxa = false;
    {
        const std::unique_ptr<uint8_t[]> head(new (std::nothrow) uint8_t[kCdxaProbeSize]);
        if (!head)
            return false;
        input.Seek(0);
        const uint32_t n = ZPMP::ReadFully(input, head.get(), kCdxaProbeSize);
        const int32_t cdxaKind = ProbeCdxa(head.get(), n);
        cdxa = cdxaKind == MK_VCD || cdxaKind == MK_SVCD;
    }

    ScanStartResult start;
    if (!ScanStart(mpeg1, &input, cdxa, kCdxaDataOffset, mpeg4, start, rules))
        return false;

    // frame_rate_code gives at least 23.976 Hz, and a rate extension divides it by up to 32.
    const int32_t longestFrame = rules.rateExtension ? 32 * kLongestCodedFrame : kLongestCodedFrame;
    int32_t videoFrameDuration = start.videoFrameDuration;
    int64_t startTime = -1;
    if (videoFrameDuration >= 1 && videoFrameDuration <= longestFrame) {
        startTime = start.videoFirstTime;
    } else {
        if (videoFrameDuration < 0 || videoFrameDuration > longestFrame)
            videoFrameDuration = 0;
        for (const int64_t first : {start.videoFirstTime, start.audioFirstTime})
            if (first != -1 && (startTime == -1 || first < startTime))
                startTime = first;
    }

    ScanEndResult end;
    if (!ScanEnd(mpeg1, &input, videoFrameDuration, start.audioFrameDuration, cdxa, kCdxaDataOffset,
                 start.videoStreamIndex, start.videoByteRate, mpeg4, end, rules))
        return false;

    if (std::max(end.videoEndTime, end.audioEndTime) - startTime <= kOneSecond) {
        // Ends less than a second apart: compare them with an estimate from the
        // byte rate at the start, a third and two thirds of the file.
        double rates[3] = {};
        bool measured = true;
        for (int k = 0; k < 3 && measured; ++k) {
            input.Seek(size * uint64_t(k) / 3);
            if (!MeasureByteRate(input, mpeg1, rates[k])) {
                rates[k] = 0;
                measured = k == 2;
            }
        }
        // Without two packs to measure at the start or a third in, no range.
        if (!measured && !rules.endsWithoutByteRate)
            return false;
        const double mean = measured ? (rates[0] + rates[1] + rates[2]) / 3 : 0;
        if (mean != 0) {
            const int64_t estimate = startTime + static_cast<int64_t>(double(size) / mean);
            if (estimate != 0) {
                const float rv = float(end.videoEndTime) / float(estimate);
                const float ra = float(end.audioEndTime) / float(estimate);
                if ((rv > 1.2f && ra > 1.2f) || (rv < 0.8f && ra > 0.8f)) {
                    end.videoEndTime = estimate;
                    end.audioEndTime = estimate;
                }
            }
        }
    }

    range.startTime = startTime;
    range.videoFirstTime = start.videoFirstTime;
    range.audioFirstTime = start.audioFirstTime;
    range.videoEndTime = end.videoEndTime;
    range.audioEndTime = end.audioEndTime;
    range.videoFrameDuration = static_cast<uint32_t>(videoFrameDuration);
    range.audioFrameDuration = start.audioFrameDuration;
    return true;
}

bool ScanProgramStreamTimeRange(const InputSource& source, uint32_t kind, TimeRangeInfo& range,
                                ProgramStreamTimeRules rules)
{
    range = TimeRangeInfo{};
    const std::unique_ptr<ZPMP::InputStream> input = source.Open();
    if (!InputSource::IsOpen(*input))
        return false;
    return ScanProgramStreamTimeRange(*input, kind, range, rules);
}

}  // namespace md
