#include "es/dv_dif.h"

namespace md {
namespace {

constexpr uint32_t kPackSize = 5;
constexpr uint8_t kAauxSourcePack = 0x50;  // AAUX source (AS)
constexpr uint8_t kVauxSourcePack = 0x60;  // VAUX source (VS)
constexpr uint8_t kVauxSourceControlPack = 0x61;  // VAUX source control (VSC)

// Block positions inside a DIF sequence: header 0, subcode 1-2, VAUX 3-5, then audio block k (0..8) at 6 + 16k,
// each followed by fifteen video blocks.
constexpr uint32_t kFirstVauxBlock = 3;
constexpr uint32_t kVauxBlocks = 3;
constexpr uint32_t kVauxPacksPerBlock = 15;
constexpr uint32_t kFirstAudioBlock = 6;
constexpr uint32_t kAudioBlocksPerSequence = 9;
constexpr uint32_t kAudioBlockStride = 16;
constexpr uint32_t kIdBytes = 3;

// VAUX source pack STYPE values of the formats described: 25 Mbps (4:1:1 or 4:2:0) and 50 Mbps (4:2:2).
constexpr uint8_t kStype25 = 0x00;
constexpr uint8_t kStype50 = 0x04;

bool BlockIs(Bytes b, size_t off, DifSection section, uint8_t sequence, uint8_t channel, uint8_t number)
{
    if (!Has(b, off, kDifBlockSize))
        return false;
    const DifBlockId id = ReadDifBlockId(b.data() + off);
    return id.section == uint8_t(section) && id.sequence == sequence && id.channel == channel && id.number == number;
}

// The five pack bytes of the first pack with the given header among count packs from off, inside blocks of the
// given section; null when none is there.
const uint8_t* FindPackInBlock(Bytes b, size_t block, DifSection section, uint32_t count, uint8_t header)
{
    if (!Has(b, block, kDifBlockSize) || ReadDifBlockId(b.data() + block).section != uint8_t(section))
        return nullptr;
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* pack = b.data() + block + kIdBytes + k * kPackSize;
        if (pack[0] == header)
            return pack;
    }
    return nullptr;
}

// The first VAUX pack with the given header in sequences [first, end) of a channel starting at channelStart.
const uint8_t* FindVauxPack(Bytes b, size_t channelStart, uint32_t first, uint32_t end, uint8_t header)
{
    for (uint32_t s = first; s < end; ++s) {
        const size_t sequence = channelStart + size_t(s) * kDifSequenceSize;
        for (uint32_t k = 0; k < kVauxBlocks; ++k) {
            const size_t block = sequence + (kFirstVauxBlock + k) * kDifBlockSize;
            if (const uint8_t* pack = FindPackInBlock(b, block, DifSection::Vaux, kVauxPacksPerBlock, header))
                return pack;
        }
    }
    return nullptr;
}

// The AAUX source pack of an audio block: each audio DIF block carries one pack before its samples; the source
// pack stands in one of the nine of a sequence (which one depends on the sequence number and the system).
const uint8_t* FindAudioSourcePack(Bytes b, size_t channelStart, uint32_t first, uint32_t end)
{
    for (uint32_t s = first; s < end; ++s) {
        const size_t sequence = channelStart + size_t(s) * kDifSequenceSize;
        for (uint32_t k = 0; k < kAudioBlocksPerSequence; ++k) {
            const size_t block = sequence + (kFirstAudioBlock + k * kAudioBlockStride) * kDifBlockSize;
            if (const uint8_t* pack = FindPackInBlock(b, block, DifSection::Audio, 1, kAauxSourcePack))
                return pack;
        }
    }
    return nullptr;
}

// What an AAUX source pack states: PC1 LF, AF_SIZE; PC2 SM, CHN (2 bits), PA, AUDIO MODE; PC3 ML, 50/60, STYPE;
// PC4 EF, TC, SMP (3 bits), QU (3 bits).
struct AudioSource {
    uint32_t sampleRate = 0;
    uint32_t bits = 0;
    uint32_t channelsInBlock = 0;  // CHN 0: one channel per audio block, 1: two
};

bool ReadAudioSource(const uint8_t* pack, AudioSource& out)
{
    static constexpr uint32_t kRates[] = {48000, 44100, 32000};  // SMP 0, 1, 2
    static constexpr uint32_t kBits[] = {16, 12, 20};  // QU 0 (linear), 1 (non-linear), 2
    if (pack == nullptr)
        return false;
    const uint32_t smp = (pack[4] >> 3) & 0x07;
    const uint32_t qu = pack[4] & 0x07;
    const uint32_t chn = (pack[2] >> 5) & 0x03;
    if (smp > 2 || qu > 2 || chn > 1)
        return false;
    out = {kRates[smp], kBits[qu], chn + 1};
    return true;
}

}  // namespace

DifBlockId ReadDifBlockId(const uint8_t* p)
{
    return {uint8_t(p[0] >> 5), uint8_t(p[1] >> 4), uint8_t((p[1] >> 3) & 1), p[2]};
}

bool IsDvFrameStart(Bytes b)
{
    using S = DifSection;
    return BlockIs(b, 0, S::Header, 0, 0, 0) && BlockIs(b, 80, S::Subcode, 0, 0, 0) &&
           BlockIs(b, 160, S::Subcode, 0, 0, 1) && BlockIs(b, 240, S::Vaux, 0, 0, 0) &&
           BlockIs(b, 320, S::Vaux, 0, 0, 1) && BlockIs(b, 400, S::Vaux, 0, 0, 2) &&
           BlockIs(b, 480, S::Audio, 0, 0, 0) && BlockIs(b, 560, S::Video, 0, 0, 0);
}

bool ParseDvFrame(Bytes b, DvFrameInfo& out)
{
    out = {};
    if (!IsDvFrameStart(b))
        return false;
    // Header block payload: DSF in the top bit of its first byte, APT (the application: 0 for IEC 61834 DV) in
    // the low three bits of its second.
    out.system625 = (b[3] & 0x80) != 0;
    const uint8_t apt = b[4] & 0x07;
    out.sequences = out.system625 ? 12 : 10;
    const size_t channelBytes = size_t(out.sequences) * kDifSequenceSize;
    out.channels = BlockIs(b, channelBytes, DifSection::Header, 0, 1, 0) ? 2 : 1;
    out.frameBytes = uint32_t(out.channels * channelBytes);
    out.width = 720;
    out.height = out.system625 ? 576 : 480;
    out.rateNumerator = out.system625 ? 25 : 30000;
    out.rateDenominator = out.system625 ? 1 : 1001;

    // VS: PC3 holds 50/60 and STYPE (low five bits).
    if (const uint8_t* vs = FindVauxPack(b, 0, 0, out.sequences, kVauxSourcePack)) {
        const uint8_t stype = vs[3] & 0x1F;
        if (stype != kStype25 && stype != kStype50)
            return false;
    }
    // VSC: PC2 ends with DISP (display select mode), PC3 holds FF, FS, FC, IL (bit 4). DISP 010 is the full-frame
    // 16:9 picture; IEC 61834 (APT 0) also names it by 111. Every other mode shows a 4:3 frame (letterboxed or not).
    out.aspectX = 4, out.aspectY = 3;
    if (const uint8_t* vsc = FindVauxPack(b, 0, 0, out.sequences, kVauxSourceControlPack)) {
        const uint8_t disp = vsc[2] & 0x07;
        if (disp == 0x02 || (disp == 0x07 && apt == 0))
            out.aspectX = 16, out.aspectY = 9;
        out.interlaced = (vsc[3] & 0x10) != 0;
    }

    // Audio blocks: the first and second half of each channel's sequences. With one channel per audio block two
    // blocks make a stereo pair (a single channel when the second block, within reach, has no source pack); with
    // two, each block is a pair of its own.
    const uint32_t half = out.sequences / 2;
    AudioSource blocks[4];
    bool present[4] = {}, reached[4] = {};
    const uint32_t blockCount = 2 * out.channels;
    for (uint32_t k = 0; k < blockCount; ++k) {
        const size_t channelStart = (k / 2) * channelBytes;
        const uint32_t first = (k % 2) * half;
        reached[k] = Has(b, channelStart + size_t(first) * kDifSequenceSize, kDifSequenceSize);
        present[k] = ReadAudioSource(FindAudioSourcePack(b, channelStart, first, first + half), blocks[k]);
    }
    for (uint32_t k = 0; k < blockCount; ++k) {
        if (!present[k])
            continue;
        const bool pairOfBlocks = blocks[k].channelsInBlock == 1;
        if (pairOfBlocks && k % 2 == 1)
            continue;  // the second channel of the pair its first block opened
        DvAudioStream& a = out.audio[out.audioStreams++];
        a.sampleRate = blocks[k].sampleRate;
        a.bitsPerSample = blocks[k].bits;
        a.channels = pairOfBlocks && reached[k + 1] && !present[k + 1] ? 1 : 2;
    }
    return true;
}

int64_t DvFrameDuration(const DvFrameInfo& info)
{
    if (info.rateNumerator == 0)
        return 0;
    return (int64_t(info.rateDenominator) * 10000000 + info.rateNumerator / 2) / info.rateNumerator;
}

void FillDvVideoRecord(const DvFrameInfo& info, StreamRecord& record)
{
    record.codec = StreamCodec::DvVideo;
    VideoParams& v = record.video;
    v.width = info.width;
    v.height = info.height;
    v.aspectX = info.aspectX;
    v.aspectY = info.aspectY;
    v.frameDuration = DvFrameDuration(info);
    v.bitRate = 25000000 * info.channels;
    record.frameRate = info.rateDenominator ? double(info.rateNumerator) / info.rateDenominator : 0;
    record.progressive = info.interlaced ? 0 : 1;
    record.fieldOrder = info.interlaced ? 2 : 0;
}

bool FillDvAudioRecord(const DvFrameInfo& info, uint32_t index, StreamRecord& record)
{
    if (index >= info.audioStreams || index >= 4)
        return false;
    const DvAudioStream& a = info.audio[index];
    // The samples stand most significant byte first in the audio blocks; they are reported as the linear PCM
    // they decode to, as the peers name them.
    record.codec = StreamCodec::PcmLittleEndian;
    AudioParams& p = record.audio;
    p.channels = a.channels;
    p.sampleRate = a.sampleRate;
    p.bitsPerSample = a.bitsPerSample;
    p.blockAlign = (a.channels * a.bitsPerSample + 7) / 8;
    p.bytesPerSecond = a.sampleRate * a.channels * a.bitsPerSample / 8;
    return true;
}

}  // namespace md
