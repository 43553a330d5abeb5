#include "es/audio_headers.h"

#include <array>
#include <cstddef>

#include "es/bit_reader.h"
#include "input/bytes.h"

namespace md {
namespace {

// Bounds-checked table read: false when index lies outside the table.
template <typename T, size_t N>
bool Lookup(const std::array<T, N>& table, size_t index, T& value)
{
    if (index >= N)
        return false;
    value = table[index];
    return true;
}

// ISO/IEC 11172-3 bit rates in kbit/s by bitrate_index, one row per layer
// (Layer I, II, III). Index 0 is free format, 15 is forbidden.
constexpr std::array<std::array<uint16_t, 15>, 3> kMpegAudioKbps = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
}};

// ATSC A/52 nominal bit rate (kbit/s) by frmsizecod.
constexpr std::array<uint16_t, 38> kAc3Kbps = {
    32,  32,  40,  40,  48,  48,  56,  56,  64,  64,  80,  80,  96,  96,  112, 112, 128, 128, 160,
    160, 192, 192, 224, 224, 256, 256, 320, 320, 384, 384, 448, 448, 512, 512, 576, 576, 640, 640,
};

// ATSC A/52 syncframe size in 16-bit words by fscod (48, 44.1, 32 kHz) and frmsizecod.
constexpr std::array<std::array<uint16_t, 38>, 3> kAc3FrameWords = {{
    {64,  64,  80,  80,  96,  96,  112, 112, 128, 128, 160, 160, 192,  192,  224,  224,  256,  256,  320,
     320, 384, 384, 448, 448, 512, 512, 640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69,  70,  87,  88,  104, 105, 121, 122, 139, 140, 174, 175, 208,  209,  243,  244,  278,  279,  348,
     349, 417, 418, 487, 488, 557, 558, 696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96,  96,  120, 120, 144, 144, 168,  168,  192,  192,  240,  240,  288,  288,  336,  336,  384,  384,  480,
     480, 576, 576, 672, 672, 768, 768, 960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920},
}};

constexpr std::array<uint32_t, 4> kAc3SampleRate = {48000, 44100, 32000, 48000};

// AC-3 channels by acmod, without the LFE channel.
constexpr std::array<uint8_t, 8> kAc3Channels = {2, 1, 2, 3, 3, 4, 4, 5};

// E-AC-3 custom channel map locations (ATSC A/52 Table E2.5), location k in bit 15 - k of chanmap.
constexpr uint32_t kChanmapL = 0x8000, kChanmapC = 0x4000, kChanmapR = 0x2000, kChanmapLs = 0x1000,
                   kChanmapRs = 0x0800, kChanmapCs = 0x0100, kChanmapLfe = 0x0001;

// The speakers (WAVEFORMATEXTENSIBLE bits) and channels of each chanmap location, location 0 first: L, C, R, Ls,
// Rs, Lc/Rc, Lrs/Rrs, Cs, Ts, Lsd/Rsd, Lw/Rw, Vhl/Vhr, Vhc, Lts/Rts, LFE2, LFE.
struct ChanmapLocation {
    uint32_t speakers;
    uint32_t channels;
};
constexpr std::array<ChanmapLocation, 16> kChanmapLocations = {{
    {0x1, 1}, {0x4, 1}, {0x2, 1}, {0x200, 1}, {0x400, 1}, {0x40 | 0x80, 2}, {0x10 | 0x20, 2}, {0x100, 1},
    {0x800, 1}, {0, 2}, {0, 2}, {0x1000 | 0x4000, 2}, {0x2000, 1}, {0, 2}, {0, 1}, {0x8, 1}
}};

// DTS channels and speakers by AMODE (ETSI TS 102 114 Table 5-4), surrounds as back speakers: A; A+B; L+R; L+R
// sum-difference; LT+RT; C+L+R; L+R+S; C+L+R+S; L+R+SL+SR; C+L+R+SL+SR; CL+CR+L+R+SL+SR; C+L+R+LR+RR+OV;
// CF+CR+LF+RF+LR+RR; CL+C+CR+L+R+SL+SR; CL+CR+L+R+SL1+SL2+SR1+SR2; CL+C+CR+L+R+SL+S+SR.
struct DtsLayout {
    uint32_t channels;
    uint32_t speakers;
};
constexpr std::array<DtsLayout, 16> kDtsLayouts = {{
    {1, 0x4}, {2, 0x3}, {2, 0x3}, {2, 0x3}, {2, 0x3}, {3, 0x7}, {3, 0x103}, {4, 0x107},
    {4, 0x33}, {5, 0x37}, {6, 0xF3}, {6, 0x837}, {6, 0x137}, {7, 0xF7}, {8, 0x6F3}, {8, 0x1F7}
}};
constexpr uint32_t kSpeakerLfe = 0x8, kSpeakerBackCenter = 0x100;

// ETSI TS 102 114 RATE table (bit/s); 28..31 (open, variable, lossless) count as 3840000.
constexpr std::array<uint32_t, 32> kDtsBitRate = {
    32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,  256000,  320000,  384000,
    448000,  512000,  576000,  640000,  768000,  960000,  1024000, 1152000, 1280000, 1344000, 1408000,
    1411200, 1472000, 1536000, 1920000, 2048000, 3072000, 3840000, 3840000, 3840000, 3840000,
};

uint32_t DtsSampleRate(uint32_t sfreq)
{
    switch (sfreq) {
    case 1: return 8000;
    case 2: return 16000;
    case 3: return 32000;
    case 6: return 11025;
    case 7: return 22050;
    case 8: return 44100;
    case 11: return 12000;
    case 12: return 24000;
    default: return 48000;
    }
}

// Sampling rate of an MLP/TrueHD rate nibble; 0 for reserved values.
uint32_t MlpSampleRate(uint32_t code)
{
    switch (code) {
    case 0: return 48000;
    case 1: return 96000;
    case 2: return 192000;
    case 8: return 44100;
    case 9: return 88200;
    case 10: return 176400;
    default: return 0;
    }
}

struct MlpLayout {
    uint32_t layout;
    uint8_t lfe;
    uint8_t channels;
};

// TrueHD 8ch_presentation_channel_assignment → layout; false for other values.
bool TrueHdLayout(uint32_t assignment, MlpLayout& out)
{
    switch (assignment) {
    case 1: out = {2, 0, 2}; return true;
    case 2: out = {1, 0, 1}; return true;
    case 3: out = {3, 0, 3}; return true;
    case 5: out = {2, 1, 3}; return true;
    case 7: out = {3, 1, 4}; return true;
    case 9: out = {6, 0, 4}; return true;
    case 11: out = {7, 0, 5}; return true;
    case 13: out = {6, 1, 5}; return true;
    case 15:
    case 23: out = {7, 1, 6}; return true;
    case 27: out = {18, 0, 7}; return true;
    case 31:
    case 47:
    case 79: out = {18, 1, 8}; return true;
    case 75:
    case 143: out = {16, 1, 7}; return true;
    default: return false;
    }
}

// MLP channel_arrangement 0..20 → layout.
constexpr std::array<MlpLayout, 21> kMlpLayouts = {{
    {1, 0, 1}, {2, 0, 2}, {4, 0, 3}, {6, 0, 4}, {2, 1, 3}, {4, 1, 4}, {6, 1, 5},
    {3, 0, 3}, {5, 0, 4}, {7, 0, 5}, {3, 1, 4}, {5, 1, 5}, {7, 1, 6}, {5, 0, 4},
    {7, 0, 5}, {3, 1, 4}, {5, 1, 5}, {7, 1, 6}, {6, 1, 5}, {7, 0, 5}, {7, 1, 6},
}};

}  // namespace

bool IsMpegAudioSync(const uint8_t* p, uint32_t len)
{
    return p && len >= 2 && p[0] == 0xFF && (p[1] & 0xF0) == 0xF0;
}

bool IsValidMpegAudioHeader(const uint8_t* p, uint32_t len)
{
    if (!p || len < 3)
        return false;
    const uint32_t layer = (p[1] >> 1) & 3;
    const uint32_t sampling = (p[2] >> 2) & 3;
    const uint32_t bitrateIndex = p[2] >> 4;
    return layer != 0 && sampling != 3 && bitrateIndex != 15;
}

uint32_t MpegAudioBitRate(uint32_t layerIndex, uint32_t bitrateIndex)
{
    std::array<uint16_t, 15> row{};
    uint16_t kbps = 0;
    if (!Lookup(kMpegAudioKbps, layerIndex, row) || !Lookup(row, bitrateIndex, kbps))
        return 0;
    return uint32_t(kbps) * 1000;
}

bool ParseMpegAudioFrame(const uint8_t* p, size_t len, MpegAudioFrame& frame)
{
    frame = {};
    if (!p || len < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const uint32_t versionBits = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    const uint32_t layerBits = (p[1] >> 1) & 3;    // 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
    const uint32_t bitrateIndex = p[2] >> 4;
    const uint32_t samplingIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || samplingIndex == 3)
        return false;
    // ISO/IEC 13818-3 Table 2.4.2.3: the bit rates of the lower sampling frequencies (MPEG-2.5 uses them too).
    static constexpr std::array<std::array<uint16_t, 15>, 2> kLowKbps = {{
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // Layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},      // Layers II and III
    }};
    static constexpr std::array<uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};
    frame.version = versionBits == 3 ? MpegAudioVersion::Mpeg1
                    : versionBits == 2 ? MpegAudioVersion::Mpeg2 : MpegAudioVersion::Mpeg25;
    const bool mpeg1 = frame.version == MpegAudioVersion::Mpeg1;
    frame.layerIndex = 3 - layerBits;
    frame.sampleRate = kMpeg1Rates[samplingIndex] >> (mpeg1 ? 0 : frame.version == MpegAudioVersion::Mpeg2 ? 1 : 2);
    frame.bitRate = mpeg1 ? MpegAudioBitRate(frame.layerIndex, bitrateIndex)
                          : uint32_t(kLowKbps[frame.layerIndex == 0 ? 0 : 1][bitrateIndex]) * 1000;
    frame.channelMode = p[3] >> 6;
    frame.crc = (p[1] & 1) == 0;
    const uint32_t padding = (p[2] >> 1) & 1;
    if (frame.layerIndex == 0) {
        frame.samples = 384;
        frame.frameBytes = (12 * frame.bitRate / frame.sampleRate + padding) * 4;
    } else {
        // 1152 samples a frame; Layer III at the lower frequencies has 576.
        frame.samples = frame.layerIndex == 2 && !mpeg1 ? 576 : 1152;
        frame.frameBytes = frame.samples / 8 * frame.bitRate / frame.sampleRate + padding;
    }
    return true;
}

uint32_t MpegAudioFrameBytes(const uint8_t* p, uint32_t len)
{
    MpegAudioFrame frame{};
    if (!IsMpegAudioSync(p, len) || !ParseMpegAudioFrame(p, len, frame))
        return 0;
    return frame.frameBytes;
}

uint32_t MpegAudioSampleRate(const uint8_t* p, uint32_t len)
{
    if (!p || len < 3)
        return 0;
    const bool mpeg1 = (p[1] & 0x08) != 0;  // ID bit
    switch ((p[2] >> 2) & 3) {
    case 0: return mpeg1 ? 44100 : 22050;
    case 1: return mpeg1 ? 48000 : 24000;
    case 2: return mpeg1 ? 32000 : 16000;
    default: return 44100;
    }
}

bool ParseMpegAudioHeader(const uint8_t* p, uint32_t len, AudioFormat& format, MpegAudioInfo& info)
{
    format = {};
    info = {};
    if (!p || len < 4 || !IsValidMpegAudioHeader(p, len))
        return false;

    info.channelMode = p[3] >> 6;
    format.channels = info.channelMode == 3 ? 1 : 2;
    info.headerWord = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;

    // layer field: 3 Layer I, 2 Layer II, 1 Layer III.
    info.layerIndex = 3 - ((p[1] >> 1) & 3);

    // IsValidMpegAudioHeader has ruled out the layer and bitrate_index outside the table.
    const uint32_t bitrateIndex = p[2] >> 4;
    format.sampleRate = MpegAudioSampleRate(p, len);
    info.bitRate = MpegAudioBitRate(info.layerIndex, bitrateIndex);
    format.bytesPerSecond = info.bitRate / 8;

    // At 44.1 kHz the padding_bit makes frame lengths vary, and a free-format
    // Layer III frame states no length: report 1 for both.
    if (format.sampleRate == 44100 || (info.layerIndex == 2 && bitrateIndex == 0))
        format.blockAlign = 1;
    else if (info.layerIndex == 0)
        format.blockAlign = (info.bitRate * 12 / format.sampleRate) * 4;
    else
        format.blockAlign = info.bitRate * 144 / format.sampleRate;
    format.bitsPerSample = 0;
    return true;
}

int64_t MpegAudioFrameDuration(const uint8_t* header)
{
    static constexpr double kKiloHertz[4] = {44.1, 48.0, 32.0, 0.0};
    const uint32_t layerBits = header[1] >> 1 & 0x03;  // 3 is Layer I
    const uint32_t samplingIndex = header[2] >> 2 & 0x03;
    if (kKiloHertz[samplingIndex] == 0.0)
        return 0;
    const double samples = layerBits == 3 ? 384.0 : 1152.0;
    return static_cast<int64_t>(samples * 10000.0 / kKiloHertz[samplingIndex]);
}

int64_t Frame1536Duration(uint32_t sampleRate)
{
    return static_cast<int64_t>(1e7 / (static_cast<double>(sampleRate) / 1536.0));
}

void SetAudioFormat(AudioParams& audio, const AudioFormat& format)
{
    audio.channels = format.channels;
    audio.sampleRate = format.sampleRate;
    audio.bytesPerSecond = format.bytesPerSecond;
    audio.blockAlign = format.blockAlign;
    audio.bitsPerSample = format.bitsPerSample;
}

void SetMpegAudioWords(std::span<uint32_t, 5> codecSpecific, const MpegAudioInfo& info)
{
    codecSpecific[0] = info.layerIndex;
    codecSpecific[1] = info.channelMode;
    codecSpecific[2] = info.bitRate;
    codecSpecific[3] = info.headerWord;
}

bool ReadMpegAudioRecord(const uint8_t* p, uint32_t len, AudioParams& audio)
{
    AudioFormat format{};
    MpegAudioInfo info{};
    if (!ParseMpegAudioHeader(p, len, format, info))
        return false;
    SetAudioFormat(audio, format);
    SetMpegAudioWords(audio.codecSpecific, info);
    return true;
}

bool ReadFirstFrameRecord(std::span<const uint8_t> bytes, StreamRecord& r)
{
    const auto n = static_cast<uint32_t>(bytes.size());
    for (uint32_t i = 0; i + 4 <= n; ++i) {
        const uint8_t* p = bytes.data() + i;
        const uint32_t left = n - i;
        AudioFormat format{};
        if (r.codec == StreamCodec::Mpeg1Audio && IsValidMpegAudioHeader(p, left) &&
            ReadMpegAudioRecord(p, left, r.audio)) {
            r.codec = (p[1] & 0x08) ? StreamCodec::Mpeg1Audio : StreamCodec::Mpeg2Audio;
            return true;
        }
        Ac3Info ac3{};
        uint32_t words = 0;
        if (r.codec == StreamCodec::Ac3 && IsAc3Sync(p) && ParseAc3Header(p, left, format, ac3, words)) {
            SetAudioFormat(r.audio, format);
            r.audio.codecSpecific[0] = ac3.acmod;
            r.audio.codecSpecific[2] = ac3.lfeon;
            r.audio.codecSpecific[4] = ac3.bsid;
            return true;
        }
        DtsInfo dts{};
        int64_t frameDuration = 0;
        if (r.codec == StreamCodec::Dts && IsDtsSync(p) && ParseDtsHeader(p, left, format, dts, frameDuration)) {
            SetAudioFormat(r.audio, format);
            r.audio.codecSpecific[0] = dts.flags;
            return true;
        }
    }
    return false;
}

bool ParseAc3Header(const uint8_t* p, uint32_t len, AudioFormat& format, Ac3Info& info, uint32_t& frameWords)
{
    format = {};
    info = {};
    frameWords = 0;
    if (!p || len < 8)
        return false;

    // In a byte-swapped stream every 16-bit word has its bytes exchanged, so
    // the field bytes 4/5 and 6/7 trade places.
    if (!IsAc3Sync(p))
        return false;
    const bool swapped = p[0] == 0x77;
    const uint8_t fscodByte = swapped ? p[5] : p[4];
    const uint8_t bsidByte = swapped ? p[4] : p[5];
    const uint8_t acmodByte = swapped ? p[7] : p[6];

    const uint32_t fscod = fscodByte >> 6;
    const uint32_t frmsizecod = fscodByte & 0x3F;
    uint16_t kbps = 0;
    if (!Lookup(kAc3Kbps, frmsizecod, kbps) || !Lookup(kAc3SampleRate, fscod, format.sampleRate))
        return false;
    std::array<uint16_t, 38> row{};
    uint16_t words = 0;
    if (Lookup(kAc3FrameWords, fscod, row) && Lookup(row, frmsizecod, words))
        frameWords = words;  // fscod 3 (reserved) has no row: size 0

    format.bytesPerSecond = uint32_t(kbps) * 125;
    format.blockAlign = static_cast<uint32_t>(uint64_t(format.bytesPerSecond) * 1536 / format.sampleRate);
    info.bsid = bsidByte >> 3;

    // acmod (3), then cmixlev (2) when acmod is odd and not 1, surmixlev (2)
    // when acmod & 4, dsurmod (2) when acmod is 2, then lfeon.
    const uint32_t acmod = acmodByte >> 5;
    int lfeBit = 4;
    if ((acmod & 1) != 0 && acmod != 1)
        lfeBit -= 2;
    if ((acmod & 4) != 0)
        lfeBit -= 2;
    if (acmod == 2)
        lfeBit -= 2;
    info.acmod = acmod;
    info.lfeon = (acmodByte >> lfeBit) & 1;

    uint8_t channels = 0;
    if (!Lookup(kAc3Channels, acmod, channels))
        return false;
    format.channels = channels + info.lfeon;
    format.bitsPerSample = 0;
    return true;
}

bool ParseEac3Header(const uint8_t* p, uint32_t len, AudioFormat& format, Eac3Info& info)
{
    format = {};
    info = {};
    if (!p || len < 6 || p[0] != 0x0B || p[1] != 0x77)
        return false;
    // strmtyp (2), substreamid (3), frmsiz (11); fscod (2), fscod2 or numblkscod
    // (2), acmod (3), lfeon (1); bsid (5).
    info.strmtyp = p[2] >> 6;
    info.substreamid = (p[2] >> 3) & 0x07;
    info.frameBytes = ((uint32_t(p[2] & 0x07) << 8 | p[3]) + 1) * 2;
    const uint32_t fscod = p[4] >> 6;
    const uint32_t code2 = (p[4] >> 4) & 0x03;
    info.acmod = (p[4] >> 1) & 0x07;
    info.lfeon = p[4] & 1;
    info.bsid = p[5] >> 3;
    if (info.bsid < 11 || info.bsid > 16)
        return false;
    static constexpr std::array<uint32_t, 4> kBlocks = {1, 2, 3, 6};  // numblkscod (Table E1.3)
    static constexpr std::array<uint32_t, 3> kHalfRates = {24000, 22050, 16000};  // fscod2 (Table E1.2)
    if (fscod == 3) {
        if (!Lookup(kHalfRates, code2, format.sampleRate))
            return false;
        info.blocks = 6;
    } else {
        format.sampleRate = kAc3SampleRate[fscod];
        info.blocks = kBlocks[code2];
    }
    uint8_t channels = 0;
    Lookup(kAc3Channels, info.acmod, channels);
    format.channels = channels + info.lfeon;
    format.blockAlign = info.frameBytes;
    format.bytesPerSecond =
        static_cast<uint32_t>(uint64_t(info.frameBytes) * format.sampleRate / (uint64_t(info.blocks) * 256));

    // A dependent substream may name its channels: after bsid come dialnorm (5), compre (1) and compr (8), the same
    // again for the second channel of 1+1 (acmod 0), then chanmape (1) and chanmap (16).
    if (info.strmtyp == 1) {
        BitReader r(p, len);
        r.Skip(45);  // syncinfo to bsid
        r.Skip(5);
        if (r.Bit())
            r.Skip(8);
        if (info.acmod == 0) {
            r.Skip(5);
            if (r.Bit())
                r.Skip(8);
        }
        const uint32_t chanmape = r.Bit();
        const uint32_t chanmap = r.Bits(16);
        if (chanmape && !r.Overrun())
            info.chanmap = chanmap;
    }
    return true;
}

uint32_t Eac3ChanmapOfAcmod(uint32_t acmod, uint32_t lfeon)
{
    static constexpr std::array<uint32_t, 8> kLocations = {
        kChanmapL | kChanmapR,
        kChanmapC,
        kChanmapL | kChanmapR,
        kChanmapL | kChanmapC | kChanmapR,
        kChanmapL | kChanmapR | kChanmapCs,
        kChanmapL | kChanmapC | kChanmapR | kChanmapCs,
        kChanmapL | kChanmapR | kChanmapLs | kChanmapRs,
        kChanmapL | kChanmapC | kChanmapR | kChanmapLs | kChanmapRs,
    };
    uint32_t locations = 0;
    Lookup(kLocations, acmod, locations);
    return locations | (lfeon ? kChanmapLfe : 0);
}

uint32_t Eac3ChanmapSpeakers(uint32_t chanmap, uint32_t& channels)
{
    uint32_t speakers = 0;
    channels = 0;
    for (size_t k = 0; k < kChanmapLocations.size(); ++k) {
        if ((chanmap >> (15 - k) & 1) == 0)
            continue;
        speakers |= kChanmapLocations[k].speakers;
        channels += kChanmapLocations[k].channels;
    }
    return speakers;
}

bool ParseDtsHeader(const uint8_t* p, uint32_t len, AudioFormat& format, DtsInfo& info, int64_t& frameDuration)
{
    format = {};
    info = {};
    frameDuration = 0;
    if (!p || len < 10)
        return false;
    if (!IsDtsSync(p))
        return false;
    info.flags = p[0] == 0x01 ? kDtsReversedSync : 0;

    // FTYPE(1) SHORT(5) CPF(1) NBLKS(7) FSIZE(14) AMODE(6) SFREQ(4) RATE(5)
    const uint32_t nblks = (uint32_t(p[4] & 1) << 6) | (p[5] >> 2);
    const uint32_t sfreq = (p[8] >> 2) & 0x0F;
    const uint32_t rate = (uint32_t(p[8] & 3) << 3) | (p[9] >> 5);

    uint32_t bitRate = 0;
    if (!Lookup(kDtsBitRate, rate, bitRate))
        return false;
    format.sampleRate = DtsSampleRate(sfreq);
    format.channels = 6;
    format.bytesPerSecond = bitRate / 8;
    format.blockAlign = static_cast<uint32_t>(uint64_t(format.bytesPerSecond) * 1536 / format.sampleRate);
    format.bitsPerSample = 0;

    // (NBLKS + 1) blocks of 32 samples, computed in single precision.
    const float seconds = static_cast<float>((nblks + 1) * 32) / static_cast<float>(format.sampleRate);
    frameDuration = static_cast<int64_t>(seconds * 1.0e7f);
    return true;
}

DtsWordForm DtsCoreSync(const uint8_t* p, uint32_t len)
{
    if (!p || len < 4)
        return DtsWordForm::None;
    const uint32_t word = Be32(p);
    if (word == 0x7FFE8001)
        return DtsWordForm::Be16;
    if (word == 0xFE7F0180)
        return DtsWordForm::Le16;
    // The 14-bit sync runs into a third word: 07 Fx (big-endian), Fx 07 (little-endian).
    if (len < 6)
        return DtsWordForm::None;
    if (word == 0x1FFFE800 && p[4] == 0x07 && (p[5] & 0xF0) == 0xF0)
        return DtsWordForm::Be14;
    if (word == 0xFF1F00E8 && (p[4] & 0xF0) == 0xF0 && p[5] == 0x07)
        return DtsWordForm::Le14;
    return DtsWordForm::None;
}

uint32_t DtsWordsToBe16(const uint8_t* p, uint32_t len, DtsWordForm form, uint8_t* out, uint32_t outLen)
{
    if (!p || !out || form == DtsWordForm::None)
        return 0;
    const bool little = form == DtsWordForm::Le16 || form == DtsWordForm::Le14;
    const uint32_t words = len / 2;
    uint32_t n = 0;
    if (form == DtsWordForm::Be16 || form == DtsWordForm::Le16) {
        for (uint32_t i = 0; i < words && n + 2 <= outLen; ++i) {
            out[n++] = p[2 * i + (little ? 1 : 0)];
            out[n++] = p[2 * i + (little ? 0 : 1)];
        }
        return n;
    }
    // 14 bits of each word, most significant first, packed into bytes.
    uint32_t pending = 0;
    int bits = 0;
    for (uint32_t i = 0; i < words; ++i) {
        const uint32_t word = little ? Le16(p + 2 * i) : Be16(p + 2 * i);
        pending = pending << 14 | (word & 0x3FFF);
        bits += 14;
        for (; bits >= 8; bits -= 8) {
            if (n >= outLen)
                return n & ~1u;
            out[n++] = static_cast<uint8_t>(pending >> (bits - 8));
        }
        pending &= (1u << bits) - 1;
    }
    return n & ~1u;
}

uint64_t DtsStoredBytes(uint64_t be16Bytes, DtsWordForm form)
{
    if (form == DtsWordForm::Be14 || form == DtsWordForm::Le14)
        return (be16Bytes * 8 + 13) / 14 * 2;
    return be16Bytes;
}

bool ParseDtsCoreHeader(const uint8_t* p, uint32_t len, DtsCoreHeader& header)
{
    header = {};
    AudioFormat format{};
    DtsInfo info{};
    int64_t frameDuration = 0;
    if (!p || len < 11 || DtsCoreSync(p, len) != DtsWordForm::Be16 ||
        !ParseDtsHeader(p, len, format, info, frameDuration))
        return false;
    // FTYPE(1) SHORT(5) CPF(1) NBLKS(7) FSIZE(14) AMODE(6) SFREQ(4) RATE(5) MIX(1) DYNF(1) TIMEF(1) AUXF(1) HDCD(1)
    // EXT_AUDIO_ID(3) EXT_AUDIO(1) ASPF(1) LFF(2), from bit 32 on.
    const uint32_t nblks = uint32_t(p[4] & 1) << 6 | p[5] >> 2;
    const uint32_t fsize = uint32_t(p[5] & 3) << 12 | uint32_t(p[6]) << 4 | p[7] >> 4;
    const uint32_t amode = uint32_t(p[7] & 0x0F) << 2 | p[8] >> 6;
    const uint32_t sfreq = (p[8] >> 2) & 0x0F;
    const uint32_t extAudioId = p[10] >> 5;
    const bool extAudio = (p[10] & 0x10) != 0;
    const uint32_t lff = (p[10] >> 1) & 3;
    // SFREQ (Table 5-5): 8, 16, 32, 11.025, 22.05, 44.1, 12, 24, 48 kHz; the other codes are invalid.
    static constexpr uint32_t kValidSfreq = 1u << 1 | 1u << 2 | 1u << 3 | 1u << 6 | 1u << 7 | 1u << 8 | 1u << 11 |
                                            1u << 12 | 1u << 13;
    if (nblks < 5 || fsize < 95 || lff == 3 || (kValidSfreq >> sfreq & 1) == 0)
        return false;
    header.frameBytes = fsize + 1;
    header.samples = (nblks + 1) * 32;
    header.sampleRate = format.sampleRate;
    header.amode = amode;
    header.lfe = lff != 0 ? 1 : 0;
    DtsLayout layout{};
    if (Lookup(kDtsLayouts, amode, layout)) {  // AMODE 16..63 are user-defined: channels unknown
        header.channels = layout.channels;
        header.channelMask = layout.speakers;
        // XCh (EXT_AUDIO_ID 0) adds a centre surround channel.
        if (extAudio && extAudioId == 0 && (header.channelMask & kSpeakerBackCenter) == 0)
            header.channels += 1, header.channelMask |= kSpeakerBackCenter;
        if (header.lfe)
            header.channels += 1, header.channelMask |= kSpeakerLfe;
    }
    return true;
}

uint32_t DtsHdSubstreamBytes(const uint8_t* p, uint32_t len)
{
    constexpr uint32_t kSyncExtSsh = 0x64582025;
    if (!p || len < 4 || Be32(p) != kSyncExtSsh)
        return 0;
    BitReader r(p + 4, len - 4);
    r.Skip(8 + 2);  // UserDefinedBits, nExtSSIndex
    const bool longSizes = r.Bit() != 0;
    const uint32_t headerBytes = r.Bits(longSizes ? 12 : 8) + 1;
    const uint32_t frameBytes = r.Bits(longSizes ? 20 : 16) + 1;
    if (r.Overrun() || frameBytes < headerBytes)
        return 0;
    return frameBytes;
}

bool ParseLpcmHeader(const uint8_t* p, uint32_t len, AudioFormat& format)
{
    format = {};
    if (!p || len < 6)
        return false;
    const uint8_t b = p[5];
    switch (b >> 6) {
    case 0: format.bitsPerSample = 16; break;
    case 1: format.bitsPerSample = 20; break;
    case 2: format.bitsPerSample = 24; break;
    default: return false;
    }
    switch ((b >> 4) & 3) {
    case 0: format.sampleRate = 48000; break;
    case 1: format.sampleRate = 96000; break;
    default: return false;
    }
    format.channels = (b & 7) + 1u;
    format.blockAlign = format.bitsPerSample * format.channels / 8;
    format.bytesPerSecond = format.blockAlign * format.sampleRate;
    return true;
}

bool ParseMlpHeader(const uint8_t* p, uint32_t len, AudioFormat& format, MlpInfo& info, uint32_t& pcmBytesPerUnit)
{
    format = {};
    info = {};
    pcmBytesPerUnit = 0;
    if (!p || len < 8 || p[0] != 0xF8 || p[1] != 0x72 || p[2] != 0x6F)
        return false;

    MlpLayout layout{};
    uint32_t rateCode = 0;
    if (p[3] == 0xBA) {
        // TrueHD: audio_sampling_frequency in the top nibble of byte 4;
        // 8ch_presentation_channel_assignment in the low 13 bits of bytes 6-7.
        rateCode = p[4] >> 4;
        const uint32_t assignment = (uint32_t(p[6] & 0x1F) << 8) | p[7];
        if (!TrueHdLayout(assignment, layout))
            return false;
    } else if (p[3] == 0xBB) {
        // MLP: audio_sampling_frequency_1 in the top nibble of byte 5,
        // read with the TrueHD rate codes; channel_arrangement in byte 7.
        rateCode = p[5] >> 4;
        if (!Lookup(kMlpLayouts, p[7] & 0x1Fu, layout))
            return false;
    } else {
        return false;
    }

    format.sampleRate = MlpSampleRate(rateCode);
    if (format.sampleRate == 0)
        return false;
    format.channels = layout.channels;
    info.channelLayout = layout.layout;
    info.lfe = layout.lfe;

    // An access unit holds 1/1200 s: 40, 80 or 160 samples of up to 24 bits.
    uint32_t bitsPerChannel = 960;
    if (format.sampleRate > 100000)
        bitsPerChannel = 3840;
    else if (format.sampleRate > 50000)
        bitsPerChannel = 1920;
    pcmBytesPerUnit = format.channels * bitsPerChannel / 8;
    return true;
}

bool ParseFlacStreamInfo(const uint8_t* p, size_t len, FlacStreamInfo& info)
{
    constexpr size_t kBlockHead = 4, kFields = 14, kStreamInfoSize = 34;
    if (p == nullptr || len < kBlockHead + kFields || (p[0] & 0x7F) != 0 || Be24(p + 1) < kStreamInfoSize)
        return false;
    const uint8_t* f = p + kBlockHead + 10;
    const uint32_t rate = uint32_t(f[0]) << 12 | uint32_t(f[1]) << 4 | f[2] >> 4;
    if (rate == 0)
        return false;
    info = {rate, ((f[2] >> 1) & 7) + 1u, ((f[2] & 1u) << 4 | f[3] >> 4) + 1u};
    return true;
}

}  // namespace md
