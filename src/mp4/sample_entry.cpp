// Sample entry readers and the codec configuration inside the entries.
#include "mp4/sample_entry.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "es/aac_config.h"
#include "es/alac_config.h"
#include "es/start_code.h"
#include "input/ring_buffer.h"

namespace md {
namespace {

// Offsets inside the entry payload (after the box header) of the fields that an
// entry with a 32-bit size has at 8 bytes more.
constexpr size_t kDataReferenceIndex = 6;   // offset 14
constexpr size_t kVisualWidth = 24;         // offset 32
constexpr size_t kVisualHeight = 26;        // offset 34
constexpr size_t kVisualFixedEnd = 78;      // offset 86
constexpr size_t kAudioChannelCount = 16;   // offset 24
constexpr size_t kAudioSampleSize = 18;     // offset 26
constexpr size_t kAudioSampleRate = 24;     // offset 32
constexpr size_t kAudioFixedEnd = 28;       // offset 36

template <class T>
std::unique_ptr<T> MakeEntry()
{
    return std::unique_ptr<T>(new (std::nothrow) T());
}

void ReadVisualFixed(Bytes p, Mp4VisualSampleEntry& e)
{
    e.dataReferenceIndex = static_cast<uint16_t>(Be16At(p, kDataReferenceIndex));
    e.width = static_cast<uint16_t>(Be16At(p, kVisualWidth));
    e.height = static_cast<uint16_t>(Be16At(p, kVisualHeight));
}

void ReadAudioFixed(Bytes p, Mp4AudioSampleEntry& e)
{
    e.dataReferenceIndex = static_cast<uint16_t>(Be16At(p, kDataReferenceIndex));
    e.channelCount = static_cast<uint16_t>(Be16At(p, kAudioChannelCount));
    e.sampleSize = static_cast<uint16_t>(Be16At(p, kAudioSampleSize));
    e.sampleRate = Be32At(p, kAudioSampleRate) >> 16;  // 16.16 fixed point
}

// One parameter set of 'avcC' into rec: u16 length L, kept with its prefix.
enum class SetResult { kStored, kEnd, kOversized };
SetResult ReadParameterSet(ByteReader& r, std::vector<ParameterSetRecord>& sets)
{
    const Bytes rest = r.Rest();
    if (rest.size() < 2)
        return SetResult::kEnd;
    const uint32_t length = Be16(rest.data()) + 2u;
    if (length > kMaxConfigBytes)
        return SetResult::kOversized;
    const Bytes set = r.Span(length);
    if (r.failed())
        return SetResult::kEnd;
    ParameterSetRecord rec;
    rec.length = length;
    std::copy(set.begin(), set.end(), rec.bytes.begin());
    sets.push_back(rec);
    return SetResult::kStored;
}

// Reads 'avcC' (the whole box, header included) into the entry. False when a
// parameter set is longer than a record holds: the entry then reads as absent.
bool ReadAvcC(Bytes avcc, Mp4Avc1Entry& e)
{
    e.hasAvcC = true;
    ByteReader r(avcc.subspan(8));
    r.U8();  // configurationVersion
    e.profileIndication = r.U8();
    e.profileCompatibility = r.U8();
    e.levelIndication = r.U8();
    e.lengthSizeMinusOne = r.U8() & 3;
    // Only the low 4 bits of each count byte are taken.
    for (auto* sets : {&e.sequenceParameterSets, &e.pictureParameterSets}) {
        if (r.Remaining() < 1)
            return true;
        const int count = r.U8() & 0x0F;
        for (int i = 0; i < count; ++i) {
            switch (ReadParameterSet(r, *sets)) {
            case SetResult::kStored:
                break;
            case SetResult::kEnd:
                return true;
            case SetResult::kOversized:
                return false;
            }
        }
    }
    return true;
}

// The child box of the given type among the boxes that fill p from start on,
// walked by their 32-bit sizes; empty when there is none. A size below a box
// header or past the end of p ends the walk.
Bytes FindChildBox(Bytes p, size_t start, uint32_t type)
{
    size_t pos = start;
    while (Has(p, pos, 8)) {
        const uint32_t size = Be32(p.data() + pos);
        if (size < 8 || size > p.size() - pos)
            break;
        if (Be32(p.data() + pos + 4) == type)
            return p.subspan(pos, size);
        pos += size;
    }
    return {};
}

// Where the child boxes of a sound entry start: after the fixed part and the
// extra fields of QuickTime sound description versions 1 (16 bytes) and 2 (36).
size_t SoundChildStart(Bytes p)
{
    switch (Be16At(p, 8)) {  // version, offset 16
    case 1: return kAudioFixedEnd + 16;
    case 2: return kAudioFixedEnd + 36;
    default: return kAudioFixedEnd;
    }
}

// Bits [first, first + count) of up to 8 bytes read big-endian (bit 0 is the top
// bit of bytes[0]); the bytes past the span read 0.
uint32_t BitsAt(Bytes bytes, size_t first, size_t count)
{
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i)
        v = v << 8 | (i < bytes.size() ? bytes[i] : 0);
    return static_cast<uint32_t>(v >> (64 - first - count) & ((uint64_t(1) << count) - 1));
}

}  // namespace

Mp4Descriptor ParseDescriptor(const uint8_t* bytes, size_t available)
{
    Mp4Descriptor d;
    if (bytes == nullptr || available < 2)
        return d;
    uint32_t length = 0;
    size_t pos = 1;
    for (int n = 0; n < 4; ++n) {
        if (pos >= available)
            return d;
        const uint8_t b = bytes[pos++];
        length = length << 7 | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    if (length > kMaxConfigBytes || length > available - pos)
        return d;
    d.tag = bytes[0];
    d.length = length;
    d.totalLength = static_cast<uint32_t>(pos + length);
    std::memcpy(d.payload.data(), bytes + pos, length);
    return d;
}

EsdsInfo ReadEsdsInfo(const uint8_t* bytes, size_t available)
{
    EsdsInfo info;
    // ES_Descriptor after the 8-byte header and the version-and-flags word.
    if (bytes == nullptr || available <= 12)
        return info;
    const Mp4Descriptor es = ParseDescriptor(bytes + 12, available - 12);
    if (es.tag != 3)
        return info;
    info.esDescriptor = es;
    // DecoderConfigDescriptor after ES_ID (2) and the flag byte; the optional
    // dependsOn_ES_ID, URL and OCR_ES_Id fields are not considered.
    if (es.length <= 3)
        return info;
    const Mp4Descriptor config = ParseDescriptor(es.payload.data() + 3, es.length - 3);
    if (config.tag != 4)
        return info;
    info.decoderConfigDescriptor = config;
    if (config.length != 0) {
        const uint8_t* p = config.payload.data();  // zero beyond config.length
        info.objectTypeIndication = p[0];
        info.bufferSizeDB = Be24(p + 2);
        info.maxBitrate = Be32(p + 5);
        info.avgBitrate = Be32(p + 9);
    }
    // DecoderSpecificInfo after the 13 fixed bytes of the configuration.
    if (config.length <= 13)
        return info;
    const Mp4Descriptor specific = ParseDescriptor(config.payload.data() + 13, config.length - 13);
    if (specific.tag != 5)
        return info;
    info.decoderSpecificInfoDescriptor = specific;
    info.decoderSpecificInfo = specific.payload;
    info.decoderSpecificInfoLength = specific.length;
    return info;
}

std::optional<VolHeaderInfo> ScanVolHeader(const uint8_t* bytes, size_t length)
{
    if (bytes == nullptr || length < 5)
        return std::nullopt;
    // video_object_layer_start_code with layer id 0, at positions 0 .. length - 5.
    size_t start = 0;
    for (;; ++start) {
        if (start + 5 > length)
            return std::nullopt;
        if (IsStartCode(bytes + start, 0x20))
            break;
    }
    const size_t n = length - start;
    RingBuffer ring(static_cast<int32_t>(n + 1));
    if (ring.Capacity() == 0)
        return std::nullopt;
    ring.Write(bytes + start, n);
    uint64_t used = 0;
    auto get = [&](int bits) {
        used += static_cast<uint64_t>(bits);
        return ring.GetBits(bits);
    };

    VolHeaderInfo vol;
    get(32);  // start code
    get(1);   // random_accessible_vol
    get(8);   // video_object_type_indication
    if (get(1))  // is_object_layer_identifier
        get(7);  // video_object_layer_verid, video_object_layer_priority
    const uint32_t aspect = get(4);  // aspect_ratio_info
    if (aspect == 15) {
        vol.parWidth = static_cast<int32_t>(get(8));
        vol.parHeight = static_cast<int32_t>(get(8));
    } else {
        static constexpr int32_t kPar[6][2] = {{-1, -1}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};
        const uint32_t i = aspect <= 5 ? aspect : 0;
        vol.parWidth = kPar[i][0];
        vol.parHeight = kPar[i][1];
    }
    if (get(1)) {  // vol_control_parameters
        get(2);    // chroma_format
        get(1);    // low_delay
        if (get(1)) {  // vbv_parameters
            get(32);
            get(32);
            get(15);
        }
    }
    const uint32_t shape = get(2);  // video_object_layer_shape
    get(1);                         // marker_bit
    vol.vopTimeIncrementResolution = static_cast<int32_t>(get(16));
    get(1);        // marker_bit
    if (get(1)) {  // fixed_vop_rate
        int bits = 0;
        for (int32_t v = vol.vopTimeIncrementResolution - 1; v > 0; v >>= 1)
            ++bits;
        get(std::max(bits, 1));  // fixed_vop_time_increment
    }
    if (shape != 0)
        return std::nullopt;
    get(1);
    vol.width = static_cast<int32_t>(get(13));
    get(1);
    vol.height = static_cast<int32_t>(get(13));
    get(1);
    vol.interlaced = static_cast<int32_t>(get(1));
    if (used > uint64_t(n) * 8)
        return std::nullopt;  // the header runs past the bytes given
    return vol;
}

uint32_t AacSamplingFrequency(uint32_t index)
{
    static constexpr uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                            22050, 16000, 12000, 11025, 8000,  7350};
    return index < 13 ? kRates[index] : 0;
}

std::unique_ptr<Mp4Box> ReadVisualEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4VisualSampleEntry>();
    if (e)
        ReadVisualFixed(box.subspan(headerLength), *e);
    return e;
}

std::unique_ptr<Mp4Box> ReadAudioEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4AudioSampleEntry>();
    if (e)
        ReadAudioFixed(box.subspan(headerLength), *e);
    return e;
}

std::unique_ptr<Mp4Box> ReadMp4vEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4Mp4vEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    // The 'esds' follows the fixed part, whatever type its header names.
    if (p.size() <= kVisualFixedEnd)
        return e;
    e->esds = ReadEsdsInfo(p.data() + kVisualFixedEnd, p.size() - kVisualFixedEnd);
    if (e->esds.decoderSpecificInfoLength == 0)
        return e;
    const auto vol = ScanVolHeader(e->esds.decoderSpecificInfo.data(), e->esds.decoderSpecificInfoLength);
    if (vol) {
        e->width = static_cast<uint16_t>(vol->width);
        e->height = static_cast<uint16_t>(vol->height);
        e->parWidth = vol->parWidth;
        e->parHeight = vol->parHeight;
        e->interlaced = vol->interlaced;
        e->vopTimeIncrementResolution = vol->vopTimeIncrementResolution;
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadMp4aEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4Mp4aEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    if (p.size() <= kAudioFixedEnd)
        return e;
    // The 'esds' box starts 4 bytes before the first "esds" after the fixed
    // part, which also finds it behind the extra fields of QuickTime sound
    // description versions 1 and 2.
    size_t start = kAudioFixedEnd;
    static constexpr uint8_t kEsds[4] = {'e', 's', 'd', 's'};
    const auto match = std::search(p.begin() + kAudioFixedEnd, p.end(), std::begin(kEsds), std::end(kEsds));
    if (match != p.end())
        start = static_cast<size_t>(match - p.begin()) - 4;
    e->esds = ReadEsdsInfo(p.data() + start, p.size() - start);
    if (e->esds.decoderSpecificInfoDescriptor.tag != 5)
        return e;
    // AudioSpecificConfig: audioObjectType (5), samplingFrequencyIndex (4),
    // then a 24-bit samplingFrequency for index 15, channelConfiguration (4).
    const uint8_t* asc = e->esds.decoderSpecificInfo.data();  // zero beyond its length
    const uint32_t w = Be32(asc);
    const uint32_t index = w >> 23 & 0x0F;
    uint32_t channels = w >> 19 & 0x0F;
    uint32_t rate = AacSamplingFrequency(index);
    if (index == 15) {
        rate = (w & 0x7FFFFF) << 1 | asc[4] >> 7;
        channels = asc[4] >> 3 & 0x0F;
    }
    e->channelCount = static_cast<uint16_t>(channels);
    e->sampleRate = rate;
    AacConfig config;
    const Bytes specific(asc, e->esds.decoderSpecificInfoLength);
    if (ParseAudioSpecificConfig(specific, config))
        e->configChannels = config.channels;
    return e;
}

std::unique_ptr<Mp4Box> ReadAvc1Entry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4Avc1Entry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    // Walk the boxes after the fixed part by their 32-bit sizes up to 'avcC'. A
    // size of 0, one past the entry's end, or one below a box header ends the
    // walk (the entry then has no parameter sets).
    size_t pos = kVisualFixedEnd;
    while (Has(p, pos, 8)) {
        const uint32_t size = Be32(p.data() + pos);
        if (size < 8 || size > p.size() - pos)
            break;
        if (Be32(p.data() + pos + 4) == FourCC("avcC"))
            return ReadAvcC(p.subspan(pos, size), *e) ? std::move(e) : nullptr;
        pos += size;
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadS263Entry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4S263Entry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    // 'd263' (header, vendor, decoder_version, H263_Level, H263_Profile) at the
    // end of the fixed part, then 'bitr' (header, avg_bitrate, max_bitrate).
    const size_t d263 = kVisualFixedEnd;
    if (Has(p, d263, 15)) {
        e->vendor = Be32(p.data() + d263 + 8);
        e->decoderVersion = p[d263 + 12];
        e->level = p[d263 + 13];
        e->profile = p[d263 + 14];
    }
    if (Has(p, d263, 31)) {
        e->avgBitrate = Be32(p.data() + d263 + 23);
        e->maxBitrate = Be32(p.data() + d263 + 27);
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadAmrEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4AmrEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    // 'damr' after the fixed part, whatever its type: header, vendor,
    // decoder_version, mode_set, mode_change_period, frames_per_sample.
    const size_t damr = kAudioFixedEnd;
    if (Has(p, damr, 17)) {
        e->vendor = Be32(p.data() + damr + 8);
        e->decoderVersion = p[damr + 12];
        e->modeSet = Be16(p.data() + damr + 13);
        e->modeChangePeriod = p[damr + 15];
        e->framesPerSample = p[damr + 16];
    }
    return e;
}

uint32_t Ac3Channels(uint32_t acmod, uint32_t lfeon, uint32_t chanLoc)
{
    static constexpr uint32_t kModeChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // 0 is 1+1
    // chan_loc from its lowest bit: Lc/Rc, Lrs/Rrs, Cs, Ts, Lsd/Rsd, Lw/Rw, Lvh/Rvh, Cvh, LFE2.
    static constexpr uint32_t kLocationChannels[9] = {2, 2, 1, 1, 2, 2, 2, 1, 1};
    uint32_t channels = kModeChannels[acmod & 7] + (lfeon & 1);
    for (uint32_t bit = 0; bit < 9; ++bit)
        if (chanLoc >> bit & 1)
            channels += kLocationChannels[bit];
    return channels;
}

std::unique_ptr<Mp4Box> ReadAv01Entry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4Av01Entry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    // 'av1C': marker and version (1), seq_profile (3) and seq_level_idx_0 (5), ...
    const Bytes av1c = FindChildBox(p, kVisualFixedEnd, FourCC("av1C"));
    if (av1c.size() >= 12) {
        e->hasAv1C = true;
        e->seqProfile = static_cast<uint8_t>(av1c[9] >> 5);
        e->seqLevelIdx = static_cast<uint8_t>(av1c[9] & 0x1F);
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadHevcEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4HevcEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    const Bytes hvcc = FindChildBox(p, kVisualFixedEnd, FourCC("hvcC"));
    if (hvcc.size() > 8)
        e->configuration.assign(hvcc.begin() + 8, hvcc.end());
    return e;
}

std::unique_ptr<Mp4Box> ReadOpusEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4OpusEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    // 'dOps': Version, OutputChannelCount, PreSkip, InputSampleRate, OutputGain,
    // ChannelMappingFamily.
    const Bytes dops = FindChildBox(p, SoundChildStart(p), FourCC("dOps"));
    if (dops.size() >= 19) {
        e->hasDOps = true;
        e->outputChannelCount = dops[9];
        e->preSkip = static_cast<uint16_t>(Be16(dops.data() + 10));
        e->inputSampleRate = Be32(dops.data() + 12);
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadFlacEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4FlacEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    // 'dfLa' is a full box of metadata blocks; STREAMINFO comes first.
    const Bytes dfla = FindChildBox(p, SoundChildStart(p), FourCC("dfLa"));
    if (dfla.size() > 12)
        e->hasStreamInfo = ParseFlacStreamInfo(dfla.data() + 12, dfla.size() - 12, e->streamInfo);
    return e;
}

std::unique_ptr<Mp4Box> ReadAc3Entry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4Ac3Entry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    const size_t start = SoundChildStart(p);
    if (const Bytes dac3 = FindChildBox(p, start, FourCC("dac3")); dac3.size() >= 11) {
        // fscod (2), bsid (5), bsmod (3), acmod (3), lfeon (1), bit_rate_code (5).
        const Bytes b = dac3.subspan(8);
        e->hasConfig = true;
        e->fscod = static_cast<uint8_t>(BitsAt(b, 0, 2));
        e->bsid = static_cast<uint8_t>(BitsAt(b, 2, 5));
        e->bsmod = static_cast<uint8_t>(BitsAt(b, 7, 3));
        e->acmod = static_cast<uint8_t>(BitsAt(b, 10, 3));
        e->lfeon = static_cast<uint8_t>(BitsAt(b, 13, 1));
        e->bitRateCode = static_cast<uint8_t>(BitsAt(b, 14, 5));
    } else if (const Bytes dec3 = FindChildBox(p, start, FourCC("dec3")); dec3.size() >= 13) {
        // data_rate (13), num_ind_sub (3), then the first independent substream:
        // fscod (2), bsid (5), reserved (1), asvc (1), bsmod (3), acmod (3),
        // lfeon (1), reserved (3), num_dep_sub (4), chan_loc (9) when it is not 0.
        const Bytes b = dec3.subspan(8);
        e->hasConfig = true;
        e->dataRate = static_cast<uint16_t>(BitsAt(b, 0, 13));
        e->fscod = static_cast<uint8_t>(BitsAt(b, 16, 2));
        e->bsid = static_cast<uint8_t>(BitsAt(b, 18, 5));
        e->bsmod = static_cast<uint8_t>(BitsAt(b, 25, 3));
        e->acmod = static_cast<uint8_t>(BitsAt(b, 28, 3));
        e->lfeon = static_cast<uint8_t>(BitsAt(b, 31, 1));
        e->numDepSub = static_cast<uint8_t>(BitsAt(b, 35, 4));
        if (e->numDepSub != 0 && b.size() >= 6)
            e->chanLoc = static_cast<uint16_t>(BitsAt(b, 39, 9));
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadPcmEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4PcmEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    e->soundVersion = static_cast<uint16_t>(Be16At(p, 8));
    const uint32_t type = box.size() >= 8 ? Be32(box.data() + 4) : 0;
    if (type == FourCC("lpcm") && e->soundVersion == 2 && Has(p, kAudioFixedEnd, 28)) {
        // Version 2: sizeOfStructOnly, audioSampleRate (float64), numAudioChannels,
        // always7F000000, constBitsPerChannel, formatSpecificFlags (1 float, 2
        // big-endian).
        const uint8_t* v2 = p.data() + kAudioFixedEnd;
        double rate = 0;
        const uint64_t bits = Be64(v2 + 4);
        std::memcpy(&rate, &bits, sizeof rate);
        e->sampleRate = rate > 0 && rate < 4294967296.0 ? static_cast<uint32_t>(rate) : 0;
        e->channelCount = static_cast<uint16_t>(std::min<uint32_t>(Be32(v2 + 12), 0xFFFF));
        e->sampleSize = static_cast<uint16_t>(std::min<uint32_t>(Be32(v2 + 20), 0xFFFF));
        const uint32_t flags = Be32(v2 + 24);
        e->littleEndian = (flags & 2) == 0;
        return e;
    }
    if (type == FourCC("in24"))
        e->sampleSize = 24;
    else if (type == FourCC("in32") || type == FourCC("fl32"))
        e->sampleSize = 32;
    else if (type == FourCC("fl64"))
        e->sampleSize = 64;
    // Big-endian unless an 'enda' (directly or inside 'wave') says little.
    const size_t start = SoundChildStart(p);
    Bytes enda = FindChildBox(p, start, FourCC("enda"));
    if (enda.empty()) {
        const Bytes wave = FindChildBox(p, start, FourCC("wave"));
        if (!wave.empty())
            enda = FindChildBox(wave, 8, FourCC("enda"));
    }
    e->littleEndian = enda.size() >= 10 && Be16(enda.data() + 8) != 0;
    return e;
}

std::unique_ptr<Mp4Box> ReadQuickTimeVideoEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4QuickTimeVideoEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadVisualFixed(p, *e);
    // 'pasp': hSpacing, vSpacing; 'fiel': the field count and the field ordering, a byte each.
    if (const Bytes pasp = FindChildBox(p, kVisualFixedEnd, FourCC("pasp")); pasp.size() >= 16) {
        e->hSpacing = Be32(pasp.data() + 8);
        e->vSpacing = Be32(pasp.data() + 12);
    }
    if (const Bytes fiel = FindChildBox(p, kVisualFixedEnd, FourCC("fiel")); fiel.size() >= 10) {
        e->fieldCount = fiel[8];
        e->fieldDetail = fiel[9];
    }
    return e;
}

std::unique_ptr<Mp4Box> ReadAlacEntry(Bytes box, size_t headerLength)
{
    auto e = MakeEntry<Mp4AlacEntry>();
    if (!e)
        return nullptr;
    const Bytes p = box.subspan(headerLength);
    ReadAudioFixed(p, *e);
    const size_t start = SoundChildStart(p);
    Bytes cookie = FindChildBox(p, start, FourCC("alac"));
    if (cookie.empty()) {
        const Bytes wave = FindChildBox(p, start, FourCC("wave"));
        if (!wave.empty())
            cookie = FindChildBox(wave, 8, FourCC("alac"));
    }
    // A full box, then the ALACSpecificConfig.
    constexpr size_t kConfigStart = 12;
    AlacConfig config;
    if (cookie.size() < kConfigStart || !ParseAlacConfig(cookie.subspan(kConfigStart), config))
        return e;
    e->hasConfig = true;
    e->bitDepth = config.bitDepth;
    e->channels = config.channels;
    e->configSampleRate = config.sampleRate;
    return e;
}

}  // namespace md
