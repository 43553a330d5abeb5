#include "audio/caf.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "es/alac_config.h"
#include "es/audio_headers.h"

namespace md {
namespace {

constexpr uint32_t kFileHeaderSize = 8;  // 'caff', mFileVersion (16 bits), mFileFlags (16 bits)
constexpr uint32_t kFileVersion = 1;
constexpr uint32_t kChunkHeaderSize = 12;
constexpr uint32_t kDescSize = 32;
constexpr uint32_t kPaktHeaderSize = 24;  // mNumberPackets, mNumberValidFrames (64 bits), priming, remainder (32)
constexpr uint32_t kChanHeaderSize = 12;  // mChannelLayoutTag, mChannelBitmap, mNumberChannelDescriptions
constexpr uint32_t kEditCountSize = 4;  // 'data' opens with mEditCount
constexpr int64_t kUnknownDataSize = -1;
constexpr int kMaxChunks = 1024;
// mChannelsPerFrame is 32 bits; a description with more channels than a 16-bit count holds is taken as damaged.
constexpr uint32_t kMaxChannels = 0xFFFF;
// The most frames a duration is computed from: 2^39 keeps frames / rate x 10^7 within 64 bits at any rate, and is
// over a month of audio at 192 kHz.
constexpr int64_t kMaxFrames = int64_t(1) << 39;

// mFormatFlags of 'lpcm'.
constexpr uint32_t kLinearPcmIsFloat = 1 << 0;
constexpr uint32_t kLinearPcmIsLittleEndian = 1 << 1;
// mChannelLayoutTag for a layout given by mChannelBitmap, whose bits are the WAVEFORMATEXTENSIBLE speaker bits.
constexpr uint32_t kChannelLayoutUseBitmap = 1 << 16;
// The ALAC magic cookie, alone or after a 'frma' atom and the 'alac' atom header.
constexpr uint32_t kAlacWrappedOffset = 24;

struct Description {
    double rate;
    uint32_t formatId;
    uint32_t flags;
    uint32_t bytesPerPacket;
    uint32_t framesPerPacket;
    uint32_t channels;
    uint32_t bits;
};

struct CafChunks {
    bool desc = false;
    Description d{};
    bool data = false;
    uint64_t dataStart = 0;  // the first packet, after the edit count
    uint64_t dataBytes = 0;
    bool pakt = false;
    int64_t validFrames = 0;
    uint32_t channelMask = 0;
    uint8_t cookie[kAlacWrappedOffset + kAlacConfigSize] = {};
    uint32_t cookieBytes = 0;
};

bool IsCaf(Bytes b)
{
    return Has(b, 0, kFileHeaderSize + 4) && std::memcmp(b.data(), "caff", 4) == 0 &&
           Be16(b.data() + 4) == kFileVersion && std::memcmp(b.data() + kFileHeaderSize, "desc", 4) == 0;
}

// Walks the chunks from the first one after the file header: to the end of the file, a chunk that runs past it, or
// a 'data' chunk of unknown size (the last chunk of the file).
CafChunks WalkChunks(ZPMP::InputStream& input)
{
    CafChunks c;
    const uint64_t fileSize = input.Size();
    uint64_t pos = kFileHeaderSize;
    for (int n = 0; n < kMaxChunks && pos + kChunkHeaderSize <= fileSize; ++n) {
        uint8_t h[kChunkHeaderSize] = {};
        if (ZPMP::ReadAt(input, pos, h, sizeof h) != sizeof h)
            break;
        const uint32_t type = Be32(h);
        const int64_t size = int64_t(Be64(h + 4));
        const uint64_t body = pos + kChunkHeaderSize;
        const uint64_t available = fileSize - body;
        if (type == FourCC("data")) {
            // A size of -1 runs to the end of the file; a size past the end is cut to the file (a file cut short).
            if (size < int64_t{kEditCountSize} && size != kUnknownDataSize)
                break;
            const uint64_t stated = size == kUnknownDataSize ? available : uint64_t(size);
            const uint64_t bytes = stated < available ? stated : available;
            c.data = bytes >= kEditCountSize;
            c.dataStart = body + kEditCountSize;
            c.dataBytes = c.data ? bytes - kEditCountSize : 0;
            if (size == kUnknownDataSize)
                break;
        }
        if (size < 0 || uint64_t(size) > available)
            break;  // only 'data' may have an unknown size; no way past a chunk longer than the file
        if (type == FourCC("desc") && size >= kDescSize) {
            uint8_t d[kDescSize] = {};
            c.desc = ZPMP::ReadAt(input, body, d, sizeof d) == sizeof d;
            c.d = {std::bit_cast<double>(Be64(d)),
                   Be32(d + 8),
                   Be32(d + 12),
                   Be32(d + 16),
                   Be32(d + 20),
                   Be32(d + 24),
                   Be32(d + 28)};
        } else if (type == FourCC("pakt") && size >= kPaktHeaderSize) {
            uint8_t p[kPaktHeaderSize] = {};
            c.pakt = ZPMP::ReadAt(input, body, p, sizeof p) == sizeof p;
            c.validFrames = int64_t(Be64(p + 8));
        } else if (type == FourCC("chan") && size >= kChanHeaderSize) {
            uint8_t p[kChanHeaderSize] = {};
            if (ZPMP::ReadAt(input, body, p, sizeof p) == sizeof p && Be32(p) == kChannelLayoutUseBitmap)
                c.channelMask = Be32(p + 4);
        } else if (type == FourCC("kuki")) {
            const uint32_t want = uint32_t(size < int64_t(sizeof c.cookie) ? size : int64_t(sizeof c.cookie));
            c.cookieBytes = ZPMP::ReadAt(input, body, c.cookie, want);
        }
        pos = body + uint64_t(size);
    }
    return c;
}

// The sample rate of 'desc' in whole Hz, rounded; 0 for one that is not finite or out of 1 Hz .. 2^32 - 1 Hz.
uint32_t RateOf(double rate)
{
    if (!std::isfinite(rate) || rate < 1 || rate >= 4294967295.0)
        return 0;
    return uint32_t(std::llround(rate));
}

// The AAC variants by format ID, with their MPEG-4 audio object types.
uint32_t AacObjectType(uint32_t formatId)
{
    switch (formatId) {
    case FourCC("aac "): return 2;  // AAC LC
    case FourCC("aach"): return 5;  // HE-AAC: SBR
    case FourCC("aacp"): return 29;  // HE-AAC v2: PS
    case FourCC("aacl"): return 23;  // ER AAC LD
    case FourCC("aace"):  // ER AAC ELD, alone, with SBR and v2
    case FourCC("aacf"):
    case FourCC("aacg"): return 39;
    default: return 0;
    }
}

// The ALAC bit depth from the magic cookie; 0 when it is not there.
uint32_t AlacBitDepth(const CafChunks& c)
{
    const bool wrapped =
        c.cookieBytes >= kAlacWrappedOffset + kAlacConfigSize && std::memcmp(c.cookie + 4, "frma", 4) == 0;
    const uint32_t at = wrapped ? kAlacWrappedOffset : 0;
    AlacConfig config;
    return c.cookieBytes >= at && ParseAlacConfig(Bytes(c.cookie + at, c.cookieBytes - at), config) ? config.bitDepth
                                                                                                     : 0;
}

// MPEG audio, AC-3 and E-AC-3: the codec's own parameters from the first packet, which opens the data.
void ReadFirstPacket(ZPMP::InputStream& input, const CafChunks& c, StreamRecord& r)
{
    uint8_t p[64] = {};
    const uint32_t n =
        c.data ? ZPMP::ReadAt(input, c.dataStart, p, uint32_t(c.dataBytes < sizeof p ? c.dataBytes : sizeof p)) : 0;
    AudioFormat format{};
    if (r.codec == StreamCodec::Mpeg1Audio) {
        if (IsValidMpegAudioHeader(p, n) && ReadMpegAudioRecord(p, n, r.audio))
            r.codec = (p[1] & 0x08) ? StreamCodec::Mpeg1Audio : StreamCodec::Mpeg2Audio;
        return;
    }
    if (n < 2 || !IsAc3Sync(p))
        return;
    Ac3Info ac3{};
    Eac3Info eac3{};
    uint32_t words = 0;
    if (r.codec == StreamCodec::Ac3 && ParseAc3Header(p, n, format, ac3, words)) {
        SetAudioFormat(r.audio, format);
        r.audio.codecSpecific[0] = ac3.acmod;
        r.audio.codecSpecific[2] = ac3.lfeon;
        r.audio.codecSpecific[4] = ac3.bsid;
    } else if (r.codec == StreamCodec::Eac3 && ParseEac3Header(p, n, format, eac3)) {
        SetAudioFormat(r.audio, format);
        r.audio.codecSpecific[0] = eac3.acmod;
        r.audio.codecSpecific[2] = eac3.lfeon;
        r.audio.codecSpecific[4] = eac3.bsid;
    }
}

// The record's codec and the fields that depend on it.
void Describe(ZPMP::InputStream& input, const CafChunks& c, StreamRecord& r)
{
    const Description& d = c.d;
    AudioParams& a = r.audio;
    switch (d.formatId) {
    case FourCC("lpcm"):
        r.codec = (d.flags & kLinearPcmIsFloat)          ? StreamCodec::PcmFloat
                  : (d.flags & kLinearPcmIsLittleEndian) ? StreamCodec::PcmLittleEndian
                                                         : StreamCodec::Lpcm;
        a.bitsPerSample = d.bits;
        break;
    case FourCC("alaw"): r.codec = StreamCodec::Alaw, a.bitsPerSample = 8; break;
    case FourCC("ulaw"): r.codec = StreamCodec::Mulaw, a.bitsPerSample = 8; break;
    case FourCC("ima4"): r.codec = StreamCodec::Adpcm, a.bitsPerSample = 4; break;
    case FourCC("alac"): r.codec = StreamCodec::Alac, a.bitsPerSample = AlacBitDepth(c); break;
    case FourCC(".mp1"): r.codec = StreamCodec::Mpeg1Audio, a.codecSpecific[0] = 0; break;
    case FourCC(".mp2"): r.codec = StreamCodec::Mpeg1Audio, a.codecSpecific[0] = 1; break;
    case FourCC(".mp3"): r.codec = StreamCodec::Mpeg1Audio, a.codecSpecific[0] = 2; break;
    case FourCC("ac-3"): r.codec = StreamCodec::Ac3; break;
    case FourCC("ec-3"): r.codec = StreamCodec::Eac3; break;
    case FourCC("opus"): r.codec = StreamCodec::Opus; break;
    case FourCC("flac"): r.codec = StreamCodec::Flac, a.bitsPerSample = d.bits; break;
    case FourCC("samr"): r.codec = StreamCodec::AmrNb; break;
    case FourCC("sawb"): r.codec = StreamCodec::AmrWb; break;
    default:
        if (const uint32_t type = AacObjectType(d.formatId); type != 0) {
            r.codec = StreamCodec::Aac;
            a.codecSpecific[0] = type;
        } else {
            // A format the record has no code for (as WAV's unmapped format tags): listed, not described.
            r.codec = StreamCodec::VfwVideo;
        }
        break;
    }
    const bool framed =
        r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Ac3 || r.codec == StreamCodec::Eac3;
    if (framed)
        ReadFirstPacket(input, c, r);
}

}  // namespace

bool ProbeCaf(const ProbeInput& input) { return IsCaf(input.head); }

uint32_t CafDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    uint8_t head[kFileHeaderSize + 4] = {};
    if (!IsCaf(Bytes(head, ZPMP::ReadAt(*input, 0, head, sizeof head))))
        return 0;
    const CafChunks c = WalkChunks(*input);
    const uint32_t rate = RateOf(c.d.rate);
    if (!c.desc || rate == 0 || c.d.channels == 0 || c.d.channels > kMaxChannels)
        return 1;

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->audio.channels = c.d.channels;
    r->audio.sampleRate = rate;
    r->audio.channelMask = c.channelMask;
    r->audio.blockAlign = c.d.bytesPerPacket != 0 ? c.d.bytesPerPacket : 1;
    Describe(*input, c, *r);

    // The frames: those 'pakt' calls valid (the packets' frames less the priming and remainder frames), else
    // whole packets of a constant size in the data.
    const bool constant = c.d.bytesPerPacket != 0 && c.d.framesPerPacket != 0;
    int64_t frames = -1;
    if (c.pakt && c.validFrames > 0)
        frames = c.validFrames;
    else if (c.data && constant && c.dataBytes / c.d.bytesPerPacket <= uint64_t(kMaxFrames) / c.d.framesPerPacket)
        frames = int64_t(c.dataBytes / c.d.bytesPerPacket * c.d.framesPerPacket);
    if (frames > kMaxFrames)
        frames = -1;
    if (frames >= 0)
        m_times.SetAudio(SamplesToUnits(uint64_t(frames), rate), 0);

    // The byte rate: constant packets give it, else the data over the duration.
    if (r->audio.bytesPerSecond == 0) {
        double byteRate = 0;
        if (constant)
            byteRate = double(rate) * c.d.bytesPerPacket / c.d.framesPerPacket;
        else if (c.data && frames > 0)
            byteRate = double(c.dataBytes) * rate / double(frames);
        r->audio.bytesPerSecond = byteRate < 4294967295.0 ? uint32_t(byteRate) : 0xFFFFFFFFu;
    }
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
