// The MP4 demultiplexer: track selection by handler type, stream records from
// the first sample entry of each chosen track, frame timing and bit rate from
// the sample tables, and the camera maker's file-level marks.
#include "mp4/m4_demux.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <vector>

#include "es/audio_headers.h"
#include "es/dv_dif.h"
#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "mp4/sample_entry.h"
#include "mp4/sample_table.h"
#include "tags/mp4_tags.h"
#include "tags/pictures.h"

namespace md {
namespace {

constexpr uint32_t kMoov = FourCC("moov");
constexpr uint32_t kTrak = FourCC("trak");
constexpr uint32_t kMdia = FourCC("mdia");
constexpr uint32_t kHdlr = FourCC("hdlr");
constexpr uint32_t kTkhd = FourCC("tkhd");
constexpr uint32_t kStsd = FourCC("stsd");
constexpr uint32_t kMdat = FourCC("mdat");
constexpr uint32_t kMvhd = FourCC("mvhd");
constexpr uint32_t kUdta = FourCC("udta");
constexpr uint32_t kUuid = FourCC("uuid");
constexpr uint32_t kOlym = FourCC("OLYM");
constexpr uint32_t kCinf = FourCC("\xA9inf");
constexpr uint32_t kThmb = FourCC("thmb");
constexpr uint32_t kTags = FourCC("TAGS");
constexpr uint32_t kInfo = FourCC("INFO");
constexpr uint32_t kVide = FourCC("vide");
constexpr uint32_t kSoun = FourCC("soun");

constexpr uint32_t kMp4v = FourCC("mp4v");
constexpr uint32_t kAvc1 = FourCC("avc1");
constexpr uint32_t kS263 = FourCC("s263");
constexpr uint32_t kCvid = FourCC("cvid");
constexpr uint32_t kJpeg = FourCC("jpeg");
constexpr uint32_t kMp4a = FourCC("mp4a");
constexpr uint32_t kSowt = FourCC("sowt");
constexpr uint32_t kRaw = FourCC("raw ");
constexpr uint32_t kTwos = FourCC("twos");
constexpr uint32_t kMp3 = FourCC(".mp3");
constexpr uint32_t kSamr = FourCC("samr");
constexpr uint32_t kMjpa = FourCC("mjpa");
constexpr uint32_t kMjpb = FourCC("mjpb");
constexpr uint32_t kAv01 = FourCC("av01");
constexpr uint32_t kHvc1 = FourCC("hvc1");
constexpr uint32_t kHev1 = FourCC("hev1");
constexpr uint32_t kOpus = FourCC("Opus");
constexpr uint32_t kFlac = FourCC("fLaC");
constexpr uint32_t kAc3 = FourCC("ac-3");
constexpr uint32_t kEc3 = FourCC("ec-3");
constexpr uint32_t kLpcm = FourCC("lpcm");
constexpr uint32_t kIn24 = FourCC("in24");
constexpr uint32_t kIn32 = FourCC("in32");
constexpr uint32_t kFl32 = FourCC("fl32");
constexpr uint32_t kFl64 = FourCC("fl64");
constexpr uint32_t kNone = FourCC("NONE");
constexpr uint32_t kAlac = FourCC("alac");
constexpr uint32_t kIma4 = FourCC("ima4");
constexpr uint32_t kAlaw = FourCC("alaw");
constexpr uint32_t kUlaw = FourCC("ulaw");

// QuickTime's ProRes types: Proxy, LT, 422, HQ, 4444 and 4444 XQ.
constexpr uint32_t kProResTypes[] = {FourCC("apco"), FourCC("apcs"), FourCC("apcn"),
                                     FourCC("apch"), FourCC("ap4h"), FourCC("ap4x")};
// QuickTime's DV types: DV and DVCPRO at 25 Mbit/s (NTSC, PAL, DVCPRO PAL), DVCPRO50 (NTSC, PAL), and DVCPRO HD,
// always 16:9 (1080i50, 1080i60, 720p50, 720p60).
constexpr uint32_t kDvTypes[] = {FourCC("dvc "), FourCC("dvcp"), FourCC("dvpp"), FourCC("dv5n"), FourCC("dv5p")};
constexpr uint32_t kDvcproHdTypes[] = {FourCC("dvh5"), FourCC("dvh6"), FourCC("dvhq"), FourCC("dvhp")};

// IMA ADPCM in QuickTime ('ima4'): packets of 64 samples in 34 bytes a channel.
constexpr uint32_t kIma4PacketFrames = 64;
constexpr uint32_t kIma4PacketBytes = 34;

// The camera maker's text in 'OLYM' and '©inf' boxes, without its NUL.
constexpr size_t kMakerTextLength = sizeof(kCameraMakerText) - 1;

// Bytes read at a sample's file offset to find an audio frame header.
constexpr uint32_t kSampleReadSize = 4096;

// Display aspect words of a record whose aspect is not settled yet.
constexpr uint32_t kAspectUnset = 0xFFFFFFFF;

bool HasMakerText(std::span<const uint8_t> text)
{
    return text.size() >= kMakerTextLength && std::memcmp(text.data(), kCameraMakerText, kMakerTextLength) == 0;
}

uint32_t TrackId(const Mp4Box* trak)
{
    const auto* tkhd = FindBoxAs<Mp4TkhdBox>(trak->firstChild.get(), kTkhd);
    return tkhd != nullptr ? tkhd->trackId : 0;
}

void SetAspect(StreamRecord& rec, uint32_t x, uint32_t y)
{
    rec.video.aspectX = x;
    rec.video.aspectY = y;
}

// Display aspect of a picture from its sample aspect (AspectFromSampleAspect).
// A zero height leaves the aspect as it was.
void AspectFromScaledSize(StreamRecord& rec, uint32_t sampleWidth, uint32_t sampleHeight)
{
    if (rec.video.height == 0)
        return;
    uint32_t x = sampleWidth;
    uint32_t y = sampleHeight;
    AspectFromSampleAspect(x, y, rec.video.width, rec.video.height);
    SetAspect(rec, x, y);
}

// Width:height reduced by their greatest common divisor (0:0 for 0x0).
void AspectFromGcd(StreamRecord& rec, uint32_t width, uint32_t height)
{
    const uint32_t g = std::gcd(width, height);
    if (g == 0)
        SetAspect(rec, 0, 0);
    else
        SetAspect(rec, width / g, height / g);
}

// The H.264 display aspect from the SPS's sample aspect; the aspect stays as it
// was when the SPS states none or the picture has no height.
void AspectFromSar(StreamRecord& rec, const SpsInfo& sps)
{
    uint32_t sarW = 0;
    uint32_t sarH = 0;
    if (!SpsSampleAspect(sps, sarW, sarH) || rec.video.height == 0)
        return;
    H264DisplayAspect(rec.video.width, rec.video.height, sps.aspect_ratio_idc, sarW, sarH, rec.video.aspectX,
                      rec.video.aspectY);
}

// Last resort for a picture whose aspect nothing stated: 4:3 or 16:9 when the
// picture has that shape, else width:height (1:1 for a zero height).
void AspectFromPictureSize(StreamRecord& rec)
{
    if (rec.video.height == 0)
        SetAspect(rec, 1, 1);
    else
        AspectFromScaledSize(rec, 1, 1);
}

// Frame duration from the track's typical sample duration (or, without a time
// scale or sample durations, from the composition offsets of the first
// second), and the frame rate to two decimals: 333667 gives 29.97. With
// variableRates, GetVariableFrameDuration decides first.
void ApplyFrameTiming(StreamRecord& rec, const Mp4Box* trak, const Mp4Box* root, bool snapFrameRate, bool variableRates)
{
    const Mp4Box* children = trak->firstChild.get();
    const int32_t timeScale = GetMediaTimeScale(children);
    const auto delta = static_cast<int32_t>(GetDominantSampleDelta(children));
    int64_t duration = timeScale > 0 ? MediaTo100nsRounded(delta, timeScale) : 0;
    if (variableRates) {
        if (const int64_t variable = GetVariableFrameDuration(children, root, timeScale, duration); variable > 0)
            duration = variable;
    }
    if (timeScale <= 0 || duration <= 0)
        duration = EstimateFrameDuration(children, root, timeScale);
    rec.video.frameDuration = duration;
    rec.frameRate = duration > 0 ? static_cast<double>(1000000000 / duration) / 100.0 : 0;
    if (snapFrameRate)
        NormalizeFrameRate(rec.frameRate);
}

// A double truncated toward zero into a 32-bit word (negative values wrap as
// a signed 32-bit integer would); 0 when it fits neither range.
uint32_t TruncateToWord(double v)
{
    if (!(v > -2147483649.0 && v < 4294967296.0))
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(v));
}

// Video bit rate: all media data over the video track's duration, less what
// the audio track takes; 0 (unknown) for a file without 'mdat', whose media
// is elsewhere.
uint32_t VideoBitRate(const Mp4Box* root, const Mp4Box* trak, uint32_t audioBytesPerSecond)
{
    const Mp4Box* firstMdat = FindBox(root, kMdat);
    uint64_t mediaBytes = 0;
    for (const Mp4Box* b = firstMdat; b != nullptr; b = b->next.get())
        if (b->type == kMdat)
            mediaBytes += b->BoxSize();
    const int64_t duration = GetTrackDuration(trak, root);
    if (duration == 0 || firstMdat == nullptr)
        return 0;
    const double seconds = static_cast<double>(duration) / 10000000.0;
    return TruncateToWord((static_cast<double>(mediaBytes) / seconds - audioBytesPerSecond) * 8.0);
}

// Appends the parameter sets as Annex B units (00 00 00 01 + set) to a header
// area; a set that would overflow the area is left out.
void CollectParameterSets(const std::vector<ParameterSetRecord>& sets, uint8_t (&area)[kExtraDataSize],
                          int32_t& length)
{
    for (const ParameterSetRecord& set : sets)
        if (set.length >= 2 && set.length <= set.bytes.size())
            AppendHeaderUnit(area, length, set.bytes.data() + 2, set.length - 2);
}

// ---- Audio ----------------------------------------------------------------------

// Fills the audio view from the MPEG audio frame header that starts the
// track's first sample; leaves the record alone when there is none.
void ReadMpegAudioHeader(StreamRecord& rec, const Mp4Box* trak, ZPMP::InputStream& input)
{
    const uint32_t offset = GetSampleOffset(trak->firstChild.get(), 1);
    if (offset == 0)
        return;  // the sample is not in the tables
    std::array<uint8_t, kSampleReadSize> buffer;
    const uint32_t got = ZPMP::ReadAt(input, offset, buffer.data(), kSampleReadSize);
    ReadMpegAudioRecord(buffer.data(), got, rec.audio);
}

// The AAC audio object type from the MPEG-4 objectTypeIndication: the MPEG-2
// AAC profiles map to Main, LC and SSR; for MPEG-4 audio (0x40) the
// AudioSpecificConfig's first five bits, or LC when it is missing.
uint32_t AacObjectType(const EsdsInfo& esds)
{
    switch (esds.objectTypeIndication) {
    case 0x66: return 1;
    case 0x67: return 2;
    case 0x68: return 3;
    case 0x40: return esds.decoderSpecificInfoLength > 0 ? uint32_t(esds.decoderSpecificInfo[0] >> 3) : 2;
    default: return 0;
    }
}

// Channels, sample rate and bits from a sound entry's fixed fields.
void TakeSoundFields(StreamRecord& rec, const Mp4AudioSampleEntry& e)
{
    rec.audio.channels = e.channelCount;
    rec.audio.sampleRate = e.sampleRate;
    rec.audio.bitsPerSample = e.sampleSize;
}

// The codec of a sound entry that only an extension describes: Opus, FLAC,
// AC-3 and E-AC-3 with MD_EXT_MP4, QuickTime PCM (big-endian until the entry
// says otherwise), ALAC, IMA ADPCM, A-law and mu-law with MD_EXT_MORE_CODECS.
// False for any other entry.
bool ExtendedAudioCodec(uint32_t type, uint32_t extensions, StreamCodec& codec)
{
    if (extensions & MD_EXT_MP4) {
        switch (type) {
        case kOpus: codec = StreamCodec::Opus; return true;
        case kFlac: codec = StreamCodec::Flac; return true;
        case kAc3: codec = StreamCodec::Ac3; return true;
        case kEc3: codec = StreamCodec::Eac3; return true;
        default: break;
        }
    }
    if (extensions & MD_EXT_MORE_CODECS) {
        switch (type) {
        case kLpcm:
        case kIn24:
        case kIn32:
        case kFl32:
        case kFl64:
        case kNone: codec = StreamCodec::Lpcm; return true;
        case kAlac: codec = StreamCodec::Alac; return true;
        case kIma4: codec = StreamCodec::Adpcm; return true;
        case kAlaw: codec = StreamCodec::Alaw; return true;
        case kUlaw: codec = StreamCodec::Mulaw; return true;
        default: break;
        }
    }
    return false;
}

// AC-3 sampling rate of an fscod (ATSC A/52 Table 5.6); 0 for 3.
uint32_t Ac3SampleRate(uint32_t fscod)
{
    static constexpr uint32_t kRates[4] = {48000, 44100, 32000, 0};
    return kRates[fscod & 3];
}

// AC-3 bit rate in kbit/s of a 'dac3' bit_rate_code (frmsizecod / 2, A/52 Table 5.18); 0 beyond the table.
uint32_t Ac3BitRate(uint32_t code)
{
    static constexpr uint32_t kRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                            192, 224, 256, 320, 384, 448, 512, 576, 640};
    return code < 19 ? kRates[code] : 0;
}

// The audio fields of an entry that ExtendedAudioCodec accepted, from its
// codec configuration where it has one, else from the entry's fixed fields.
void FillExtendedAudio(StreamRecord& rec, const Mp4AudioSampleEntry& sound)
{
    TakeSoundFields(rec, sound);
    if (const auto* opus = BoxAs<Mp4OpusEntry>(&sound)) {
        // Opus always decodes at 48 kHz, whatever rate the input had.
        rec.audio.sampleRate = 48000;
        rec.audio.bitsPerSample = 0;
        if (opus->hasDOps)
            rec.audio.channels = opus->outputChannelCount;
    } else if (const auto* flac = BoxAs<Mp4FlacEntry>(&sound)) {
        if (flac->hasStreamInfo) {
            rec.audio.sampleRate = flac->streamInfo.sampleRate;
            rec.audio.channels = flac->streamInfo.channels;
            rec.audio.bitsPerSample = flac->streamInfo.bitsPerSample;
        }
    } else if (const auto* ac3 = BoxAs<Mp4Ac3Entry>(&sound)) {
        if (!ac3->hasConfig)
            return;
        if (const uint32_t rate = Ac3SampleRate(ac3->fscod); rate != 0)
            rec.audio.sampleRate = rate;
        rec.audio.channels = Ac3Channels(ac3->acmod, ac3->lfeon, ac3->chanLoc);
        const uint32_t kbps = ac3->type == kAc3 ? Ac3BitRate(ac3->bitRateCode) : ac3->dataRate;
        rec.audio.bytesPerSecond = kbps * 125;
        // An AC-3 frame holds 1536 samples.
        if (ac3->type == kAc3 && rec.audio.sampleRate != 0)
            rec.audio.blockAlign = static_cast<uint32_t>(uint64_t(kbps) * 125 * 1536 / rec.audio.sampleRate);
        rec.audio.codecSpecific[0] = ac3->acmod;
        rec.audio.SetCodecByte(2, 0, ac3->lfeon);
        rec.audio.SetCodecByte(4, 0, ac3->bsid);
    } else if (const auto* pcm = BoxAs<Mp4PcmEntry>(&sound)) {
        // 8-bit samples without a stated format are unsigned, as in 'raw '.
        const bool unsigned8 = pcm->type == kNone && pcm->sampleSize == 8;
        if (pcm->littleEndian || unsigned8)
            rec.codec = StreamCodec::PcmLittleEndian;
        rec.audio.bytesPerSecond = rec.audio.channels * rec.audio.bitsPerSample * rec.audio.sampleRate / 8;
    } else if (const auto* alac = BoxAs<Mp4AlacEntry>(&sound)) {
        // The magic cookie's values: the entry's 16-bit rate field cannot hold rates above 65535 Hz. Its avgBitRate
        // is no measure (encoders write the rate of the PCM it decodes to), so the byte rate stays unknown, as
        // FLAC's.
        if (alac->hasConfig) {
            rec.audio.sampleRate = alac->configSampleRate;
            rec.audio.channels = alac->channels;
            rec.audio.bitsPerSample = alac->bitDepth;
        }
    } else if (sound.type == kIma4) {
        rec.audio.bitsPerSample = 4;
        rec.audio.blockAlign = kIma4PacketBytes * rec.audio.channels;
        rec.audio.bytesPerSecond =
            static_cast<uint32_t>(uint64_t(rec.audio.blockAlign) * rec.audio.sampleRate / kIma4PacketFrames);
    } else if (sound.type == kAlaw || sound.type == kUlaw) {
        // G.711 codes a sample in 8 bits, whatever the entry's sample size says.
        rec.audio.bitsPerSample = 8;
        rec.audio.blockAlign = rec.audio.channels;
        rec.audio.bytesPerSecond = rec.audio.channels * rec.audio.sampleRate;
    }
}

// An audio record for a recognised sound entry, or null.
std::unique_ptr<StreamRecord> BuildAudioRecord(const Mp4Box& entry, const Mp4Box* trak, ZPMP::InputStream& input,
                                               uint32_t extensions)
{
    const auto* sound = BoxAs<Mp4AudioSampleEntry>(&entry);
    if (sound == nullptr)
        return nullptr;
    StreamCodec codec;
    bool extended = false;
    switch (entry.type) {
    case kMp4a: codec = StreamCodec::Aac; break;
    case kSowt:
    case kRaw: codec = StreamCodec::PcmLittleEndian; break;
    case kTwos: codec = StreamCodec::Lpcm; break;
    case kMp3: codec = StreamCodec::QuickTimeMp3; break;
    case kSamr: codec = StreamCodec::AmrNb; break;
    default:
        extended = ExtendedAudioCodec(entry.type, extensions, codec);
        if (!extended)
            return nullptr;
        break;
    }
    auto rec = NewStreamRecord();
    if (!rec)
        return nullptr;
    rec->streamClass = StreamClass::Audio;
    rec->streamId = TrackId(trak);

    if (const auto* mp4a = BoxAs<Mp4Mp4aEntry>(&entry); mp4a != nullptr && entry.type == kMp4a) {
        const uint32_t oti = mp4a->esds.objectTypeIndication;
        if (oti == 0x6B || oti == 0x69) {
            codec = oti == 0x6B ? StreamCodec::Mpeg1Audio : StreamCodec::Mpeg2Audio;
            // Of the frame header only the block align and the MPEG audio words
            // survive: the entry's values below take precedence.
            ReadMpegAudioHeader(*rec, trak, input);
        } else {
            rec->audio.codecSpecific[0] = AacObjectType(mp4a->esds);
        }
        rec->audio.bytesPerSecond = mp4a->esds.avgBitrate >> 3;
        TakeSoundFields(*rec, *mp4a);
        // The channel count of an AAC configuration: 7.1 for configuration 7, the program's elements for 0.
        if ((extensions & MD_EXT_MP4) && codec == StreamCodec::Aac && mp4a->configChannels != 0)
            rec->audio.channels = mp4a->configChannels;
    } else if (extended) {
        rec->codec = codec;
        FillExtendedAudio(*rec, *sound);  // may settle another codec
        return rec;
    } else {
        TakeSoundFields(*rec, *sound);
        // PCM: the sample frames' bytes; AMR states no byte rate.
        if (entry.type != kSamr)
            rec->audio.bytesPerSecond = rec->audio.channels * rec->audio.bitsPerSample * rec->audio.sampleRate / 8;
        // AMR in 3GPP files is single-channel; the entry's channelcount is a fixed placeholder of 2.
        else if (extensions & MD_EXT_MORE_CODECS)
            rec->audio.channels = 1;
    }
    rec->codec = codec;
    return rec;
}

// ---- Video ----------------------------------------------------------------------

// objectTypeIndication values of an 'mp4v' entry that carries MPEG-2 video (0x60 Simple to 0x65 4:2:2 profile) or
// MPEG-1 video (0x6A); its decoder-specific info, where it has one, is the sequence header.
constexpr uint32_t kOtiMpeg2SimpleProfile = 0x60;
constexpr uint32_t kOtiMpeg2Profile422 = 0x65;
constexpr uint32_t kOtiMpeg1Video = 0x6A;

bool IsMpegVideoObjectType(uint32_t oti)
{
    return (oti >= kOtiMpeg2SimpleProfile && oti <= kOtiMpeg2Profile422) || oti == kOtiMpeg1Video;
}

// MPEG-1 or MPEG-2 video in an 'mp4v' entry: the sequence header of its decoder-specific info, else the one that
// opens the track's first sample (one read). Without either, the codec the objectTypeIndication names at the
// entry's size, the aspect its shape.
void FillMpegVideoEntry(StreamRecord& rec, const Mp4Mp4vEntry& e, const Mp4Box* trak, ZPMP::InputStream& input)
{
    rec.codec = e.esds.objectTypeIndication == kOtiMpeg1Video ? StreamCodec::Mpeg1Video : StreamCodec::Mpeg2Video;
    rec.progressive = 1;
    bool described = DescribeMpegVideo(e.esds.decoderSpecificInfo.data(), e.esds.decoderSpecificInfoLength, rec);
    if (!described) {
        std::array<uint8_t, kSampleReadSize> buffer;
        const uint32_t offset = GetSampleOffset(trak->firstChild.get(), 1);
        const uint32_t got = offset != 0 ? ZPMP::ReadAt(input, offset, buffer.data(), kSampleReadSize) : 0;
        described = DescribeMpegVideo(buffer.data(), got, rec);
    }
    if (!described)
        AspectFromPictureSize(rec);
    // The entry's average rate where it states one; else the sequence header's.
    if (e.esds.avgBitrate != 0)
        rec.video.bitRate = e.esds.avgBitrate;
}

// The 'avc1' parts of a video record: profile, the parameter sets as header
// blocks, and what the first sequence parameter set says about interlacing and
// the display aspect.
void FillAvc1(StreamRecord& rec, const Mp4Avc1Entry& e, const Mp4Box* moov, bool allProfiles)
{
    rec.video.profile = H264ProfileCode(e.profileIndication, false);
    CollectParameterSets(e.sequenceParameterSets, rec.extraData1, rec.extraData1Length);
    CollectParameterSets(e.pictureParameterSets, rec.extraData2, rec.extraData2Length);

    SpsInfo sps{};
    if (!e.sequenceParameterSets.empty()) {
        const ParameterSetRecord& first = e.sequenceParameterSets.front();
        if (first.length > 2 && first.length <= first.bytes.size())
            ParseSps(first.bytes.data() + 2, first.length - 2, sps, allProfiles);
    }
    if (sps.valid) {
        rec.progressive = sps.frame_mbs_only_flag != 0 ? 1 : 0;
        if (!rec.progressive)
            rec.fieldCoding = sps.mb_adaptive_frame_field_flag == 1 ? 1 : 2;
    }
    if (!sps.valid || !sps.vui_parameters_present_flag) {
        // Some cameras state the aspect in their own 'INFO' box instead.
        const Mp4Box* udta = FindBox(moov->firstChild.get(), kUdta);
        const auto* info = FindBoxAs<Mp4InfoBox>(udta != nullptr ? udta->firstChild.get() : nullptr, kInfo);
        if (info != nullptr && info->aspectCode == 1)
            SetAspect(rec, 4, 3);
        else if (info != nullptr && info->aspectCode == 2)
            SetAspect(rec, 16, 9);
    } else {
        AspectFromSar(rec, sps);
    }
    if (rec.video.aspectX == kAspectUnset && rec.video.aspectY == kAspectUnset)
        AspectFromPictureSize(rec);
}

bool IsOneOf(uint32_t type, std::span<const uint32_t> types)
{
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Bytes of a DV sample read for its description: its first DIF sequence, which holds the header block and the
// auxiliary video packs.
constexpr uint32_t kDvSampleReadSize = kDifSequenceSize;

// The 'fiel' field ordering of an interlaced picture as a field order: 1 and 14 show the top field first, 6 and 9
// the bottom field (1 and 6 store it first as well); 0 for any other value.
uint32_t FieldOrderOfDetail(uint8_t detail)
{
    switch (detail) {
    case 1:
    case 14: return 1;
    case 6:
    case 9: return 2;
    default: return 0;
    }
}

// ProRes and DV: the display aspect of the entry's 'pasp' pixel aspect and the scan of its 'fiel'. A DV frame
// states its own shape and scan: where the entry has no 'pasp' or no 'fiel', the first sample's VAUX packs give
// them (one read); DVCPRO HD is 16:9. Else square pixels and progressive.
void FillQuickTimeVideo(StreamRecord& rec, const Mp4QuickTimeVideoEntry& e, const Mp4Box* trak,
                        ZPMP::InputStream& input)
{
    bool aspectKnown = false;
    bool scanKnown = false;
    rec.progressive = 1;
    if (e.hSpacing != 0 && e.vSpacing != 0 && rec.video.height != 0) {
        AspectFromScaledSize(rec, e.hSpacing, e.vSpacing);
        aspectKnown = true;
    }
    if (e.fieldCount == 1 || e.fieldCount == 2) {
        rec.progressive = e.fieldCount == 1 ? 1 : 0;
        rec.fieldOrder = e.fieldCount == 2 ? FieldOrderOfDetail(e.fieldDetail) : 0;
        scanKnown = true;
    }
    if (rec.codec == StreamCodec::DvVideo && IsOneOf(e.type, kDvcproHdTypes) && !aspectKnown) {
        SetAspect(rec, 16, 9);
        aspectKnown = true;
    }
    if (rec.codec == StreamCodec::DvVideo && (!aspectKnown || !scanKnown)) {
        const uint32_t offset = GetSampleOffset(trak->firstChild.get(), 1);
        std::unique_ptr<uint8_t[]> frame(offset != 0 ? new (std::nothrow) uint8_t[kDvSampleReadSize] : nullptr);
        const uint32_t got = frame ? ZPMP::ReadAt(input, offset, frame.get(), kDvSampleReadSize) : 0;
        DvFrameInfo info;
        if (ParseDvFrame(Bytes(frame.get(), got), info)) {
            if (!aspectKnown)
                SetAspect(rec, info.aspectX, info.aspectY);
            aspectKnown = true;
            if (!scanKnown) {
                rec.progressive = info.interlaced ? 0 : 1;
                rec.fieldOrder = info.interlaced ? 2 : 0;  // DV fields are bottom first
            }
        }
    }
    if (!aspectKnown)
        AspectFromGcd(rec, rec.video.width, rec.video.height);
}

// The codec of a visual entry that only an extension describes: HEVC and AV1
// with MD_EXT_MP4, Motion JPEG A and B, ProRes and DV with MD_EXT_MORE_CODECS.
// False for any other.
bool ExtendedVideoCodec(uint32_t type, uint32_t extensions, StreamCodec& codec)
{
    if ((extensions & MD_EXT_MP4) && type == kAv01) {
        codec = StreamCodec::Av1;
        return true;
    }
    if ((extensions & MD_EXT_MP4) && (type == kHvc1 || type == kHev1)) {
        codec = StreamCodec::Hevc;
        return true;
    }
    if ((extensions & MD_EXT_MORE_CODECS) && (type == kMjpa || type == kMjpb)) {
        codec = StreamCodec::Jpeg;
        return true;
    }
    if ((extensions & MD_EXT_MORE_CODECS) && IsOneOf(type, kProResTypes)) {
        codec = StreamCodec::ProRes;
        return true;
    }
    if ((extensions & MD_EXT_MORE_CODECS) && (IsOneOf(type, kDvTypes) || IsOneOf(type, kDvcproHdTypes))) {
        codec = StreamCodec::DvVideo;
        return true;
    }
    return false;
}

// A video record for a recognised visual entry, or null.
std::unique_ptr<StreamRecord> BuildVideoRecord(const Mp4Box& entry, const Mp4Box* trak, const Mp4Box* root,
                                               const Mp4Box* moov, uint32_t audioBytesPerSecond, uint32_t extensions,
                                               ZPMP::InputStream& input)
{
    const auto* visual = BoxAs<Mp4VisualSampleEntry>(&entry);
    if (visual == nullptr)
        return nullptr;
    const bool allProfiles = (extensions & MD_EXT_H264_PROFILES) != 0;
    const bool variableRates = (extensions & MD_EXT_FRAME_RATES) != 0;
    StreamCodec codec;
    bool extended = false;
    switch (entry.type) {
    case kMp4v: codec = StreamCodec::Mpeg4Video; break;
    case kAvc1: codec = StreamCodec::H264; break;
    case kS263: codec = StreamCodec::H263; break;
    case kCvid: codec = StreamCodec::Cinepak; break;
    case kJpeg: codec = StreamCodec::Jpeg; break;
    default:
        extended = ExtendedVideoCodec(entry.type, extensions, codec);
        if (!extended)
            return nullptr;
        break;
    }
    auto rec = NewStreamRecord();
    if (!rec)
        return nullptr;
    rec->streamClass = StreamClass::Video;
    rec->streamId = TrackId(trak);
    rec->codec = codec;
    rec->video.width = visual->width;
    rec->video.height = visual->height;

    if (const auto* mp4v = BoxAs<Mp4Mp4vEntry>(&entry); mp4v != nullptr && entry.type == kMp4v) {
        if ((extensions & MD_EXT_MP4) && IsMpegVideoObjectType(mp4v->esds.objectTypeIndication)) {
            FillMpegVideoEntry(*rec, *mp4v, trak, input);
            ApplyFrameTiming(*rec, trak, root, true, variableRates);
            return rec;
        }
        SetAspect(*rec, kAspectUnset, kAspectUnset);
        rec->video.bitRate = mp4v->esds.avgBitrate;
        rec->progressive = mp4v->interlaced == 0 ? 1 : 0;
        if (mp4v->parWidth > 0 && mp4v->parHeight > 0)
            AspectFromScaledSize(*rec, uint32_t(mp4v->parWidth), uint32_t(mp4v->parHeight));
        // Without a video object layer that states a pixel aspect, the extension takes the picture's shape.
        if ((extensions & MD_EXT_MP4) && rec->video.aspectX == kAspectUnset && rec->video.aspectY == kAspectUnset)
            AspectFromPictureSize(*rec);
        // MPEG-4 Visual keeps the measured rate unsnapped.
        ApplyFrameTiming(*rec, trak, root, false, variableRates);
        return rec;
    }

    if (const auto* avc1 = BoxAs<Mp4Avc1Entry>(&entry); avc1 != nullptr && entry.type == kAvc1) {
        SetAspect(*rec, kAspectUnset, kAspectUnset);
        FillAvc1(*rec, *avc1, moov, allProfiles);
    } else if (const auto* s263 = BoxAs<Mp4S263Entry>(&entry); s263 != nullptr && entry.type == kS263) {
        rec->video.profile = s263->profile;
        rec->video.level = s263->level;
        AspectFromGcd(*rec, rec->video.width, rec->video.height);
    } else if (entry.type == kCvid || entry.type == kJpeg) {
        AspectFromGcd(*rec, rec->video.width, rec->video.height);
    } else if (const auto* qt = BoxAs<Mp4QuickTimeVideoEntry>(&entry); qt != nullptr && extended) {
        FillQuickTimeVideo(*rec, *qt, trak, input);
    } else if (extended) {
        HevcPictureProperties hevc{};
        const auto* hvc = BoxAs<Mp4HevcEntry>(&entry);
        if (hvc != nullptr &&
            DescribeHevcConfiguration(hvc->configuration.data(), hvc->configuration.size(), hevc)) {
            // Size, aspect, interlacing and profile from the parameter sets; the
            // rate from the track's sample durations below.
            ApplyHevcProperties(hevc, *rec);
            CollectHevcHeaders(hvc->configuration.data(), hvc->configuration.size(), true, *rec);
        } else {
            // Square samples: the aspect of the entry's size.
            if (const auto* av01 = BoxAs<Mp4Av01Entry>(&entry))
                rec->video.profile = av01->seqProfile;
            rec->progressive = 1;
            AspectFromGcd(*rec, rec->video.width, rec->video.height);
        }
    } else {
        return nullptr;  // an entry type whose record is not of the expected kind
    }
    ApplyFrameTiming(*rec, trak, root, true, variableRates);
    rec->video.bitRate = VideoBitRate(root, trak, audioBytesPerSecond);
    return rec;
}

}  // namespace

// ---- Shared track helpers --------------------------------------------------------

Mp4CreationDate CreationDateFrom1904(uint64_t seconds)
{
    // Days relative to 1970-01-01 (1904-01-01 lies 24107 days before it), then
    // the proleptic Gregorian calendar by 400-year eras.
    const auto days = static_cast<int64_t>(seconds / 86400) - 24107;
    const auto rest = static_cast<uint32_t>(seconds % 86400);
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;                                        // day of era, 0..146096
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // year of era, 0..399
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                 // day of year from March 1
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    Mp4CreationDate date{};
    date.year = static_cast<uint16_t>(year);
    date.month = static_cast<uint16_t>(month);
    date.day = static_cast<uint16_t>(day);
    date.hour = static_cast<uint16_t>(rest / 3600);
    date.minute = static_cast<uint16_t>(rest / 60 % 60);
    date.second = static_cast<uint16_t>(rest % 60);
    return date;
}

uint32_t TrackHandlerType(const Mp4Box* trak)
{
    if (trak == nullptr)
        return 0;
    const Mp4Box* mdia = FindBox(trak->firstChild.get(), kMdia);
    if (mdia == nullptr)
        return 0;
    const auto* hdlr = FindBoxAs<Mp4HdlrBox>(mdia->firstChild.get(), kHdlr);
    return hdlr != nullptr ? hdlr->handlerType : 0;
}

const Mp4Box* FindFirstTrack(const Mp4Box* root, uint32_t handlerType)
{
    const Mp4Box* moov = FindBox(root, kMoov);
    if (moov == nullptr)
        return nullptr;
    for (const Mp4Box* b = FindBox(moov->firstChild.get(), kTrak); b != nullptr; b = b->next.get())
        if (b->type == kTrak && TrackHandlerType(b) == handlerType)
            return b;
    return nullptr;
}

uint32_t TrackRotation(const Mp4Box* trak)
{
    const auto* tkhd = trak != nullptr ? FindBoxAs<Mp4TkhdBox>(trak->firstChild.get(), kTkhd) : nullptr;
    if (tkhd == nullptr)
        return 0;
    // A quarter turn has one of a and b zero and the other +-1 (with c = -b and
    // d = a); the picture turns clockwise by atan2(b, a).
    const int32_t a = tkhd->matrix[0];
    const int32_t b = tkhd->matrix[1];
    const int32_t c = tkhd->matrix[3];
    const int32_t d = tkhd->matrix[4];
    constexpr int32_t kOne = 0x10000;
    if (a == 0 && d == 0 && b == kOne && c == -kOne)
        return 90;
    if (a == -kOne && d == -kOne && b == 0 && c == 0)
        return 180;
    if (a == 0 && d == 0 && b == -kOne && c == kOne)
        return 270;
    return 0;
}

const Mp4Box* FirstSampleEntry(const Mp4Box* trak)
{
    if (trak == nullptr)
        return nullptr;
    const auto* stsd = FindBoxAs<Mp4StsdBox>(trak->firstChild.get(), kStsd);
    return stsd != nullptr ? stsd->entries.get() : nullptr;
}

// ---- M4Demux ---------------------------------------------------------------------

std::span<const uint8_t> M4Demux::Thumbnail() const
{
    if (m_thumbnailLength <= 0)
        return {};
    return std::span<const uint8_t>(m_thumbnail).first(std::min(m_thumbnail.size(), size_t(m_thumbnailLength)));
}

void M4Demux::TakeThumbnail(uint32_t length, const std::vector<uint8_t>& bytes)
{
    m_thumbnailLength = static_cast<int32_t>(length);
    if (m_thumbnailLength <= 0)
        return;
    try {
        m_thumbnail.assign(bytes.begin(), bytes.begin() + std::min(bytes.size(), size_t(length)));
    } catch (const std::bad_alloc&) {
        m_thumbnail.clear();
        m_thumbnailLength = 0;
    }
}

// The camera maker marks its files with an 'OLYM' box in a uuid box or a '©inf'
// box in 'udta' (the later test decides), and keeps a JPEG thumbnail in 'thmb'
// or in its 'TAGS' block.
void M4Demux::CheckCameraFile(const Mp4Box* root)
{
    if (const Mp4Box* uuid = FindBox(root, kUuid)) {
        m_hasCpgdUuid = std::memcmp(uuid->userType.data(), "cpgd", 4) == 0 ? 1 : 0;
        if (const auto* olym = FindBoxAs<Mp4OlymBox>(uuid->firstChild.get(), kOlym))
            m_isCameraFile = HasMakerText(olym->makerText) ? 1 : 0;
        if (m_isCameraFile) {
            const Mp4Box* udta = FindBox(root, kUdta);
            if (const auto* thmb = FindBoxAs<Mp4ThmbBox>(udta != nullptr ? udta->firstChild.get() : nullptr, kThmb))
                TakeThumbnail(thmb->thumbnailLength, thmb->thumbnail);
        }
    }

    m_moovFirst = static_cast<uint8_t>(IsMoovBeforeMdat(root));

    if (const Mp4Box* udta = FindBox(root, kUdta)) {
        if (const auto* inf = FindBoxAs<Mp4CinfBox>(udta->firstChild.get(), kCinf)) {
            m_isCameraFile = HasMakerText(inf->makerText) ? 1 : 0;
            if (m_isCameraFile) {
                if (const auto* tags = FindBoxAs<Mp4TagsBox>(udta->firstChild.get(), kTags))
                    TakeThumbnail(tags->thumbnailLength, tags->thumbnail);
            }
        }
    }

    if (m_isCameraFile) {
        if (const auto* mvhd = FindBoxAs<Mp4MvhdBox>(root, kMvhd))
            m_creationTime = mvhd->creationTime;
    }
}

void M4Demux::ClearResults()
{
    m_thumbnailLength = 0;
    m_thumbnail.clear();
    m_hasCpgdUuid = 0;
    m_isCameraFile = 0;
    m_creationTime = 0;
    m_moovFirst = 0;
    m_hasVideo = 0;
    m_hasAudio = 0;
    m_videoRotation = 0;
    m_tags.Clear();
    m_cover = {};
}

namespace {

constexpr uint32_t kMeta = FourCC("meta");

// Lists the tags of a 'moov' box (moov: the whole box, at file offset moovOffset): its 'mvhd', 'udta' and 'meta'
// children, each when it holds at most kMaxMp4TagBoxBytes (the tracks are not looked at); and where its cover
// picture lies.
void ReadMoovTags(Bytes moov, uint64_t moovOffset, TagList& tags, CoverLocation& cover)
{
    const size_t moovHeader = Be32At(moov, 0) == 1 ? 16 : 8;
    if (moov.size() < moovHeader)
        return;
    const Bytes body = moov.subspan(moovHeader);
    PlaceMp4Cover(body, moovOffset + moovHeader, cover);
    uint64_t pos = 0;
    for (int n = 0; n < kMaxMp4TagBoxes && pos + 8 <= body.size(); ++n) {
        uint64_t size = Be32(body.data() + pos);
        const uint32_t type = Be32(body.data() + pos + 4);
        size_t headerSize = 8;
        if (size == 1) {
            size = Be64At(body, size_t(pos) + 8);  // 0 when cut off by the end: malformed
            headerSize = 16;
        } else if (size == 0) {
            size = body.size() - pos;
        }
        if (size < headerSize || size > body.size() - pos)
            return;
        if ((type == kMvhd || type == kUdta || type == kMeta) && size <= kMaxMp4TagBoxBytes) {
            const Bytes payload = body.subspan(size_t(pos) + headerSize, size_t(size) - headerSize);
            if (type == kMvhd)
                ReadMvhdTags(payload, tags);
            else if (type == kUdta)
                ReadUdtaTags(payload, tags);
            else
                ReadMetaTags(payload, tags);
        }
        pos += size;
    }
}

}  // namespace

uint32_t M4Demux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    if (input == nullptr || streams == nullptr)
        return 0;
    ClearResults();
    // The tags are read from the 'moov' bytes the box reader holds, so they cost no read of the file; they are
    // kept only for a file with tracks.
    TagList tags;
    CoverLocation cover;
    Mp4MoovBytesReader readTags;
    if (m_extensions & MD_EXT_TAGS)
        readTags = [&](Bytes moov, uint64_t offset) { ReadMoovTags(moov, offset, tags, cover); };
    const std::unique_ptr<Mp4Box> tree = ReadMp4Stream(*input, Mp4FileRulesOf(m_extensions), readTags);
    const Mp4Box* root = tree.get();
    const Mp4Box* moov = FindBox(root, kMoov);
    const Mp4Box* firstTrack = moov != nullptr ? FindBox(moov->firstChild.get(), kTrak) : nullptr;
    if (firstTrack == nullptr)
        return 0;

    CheckCameraFile(root);

    // When several tracks of a kind exist, the last one in the file is taken.
    const Mp4Box* videoTrack = nullptr;
    const Mp4Box* audioTrack = nullptr;
    for (const Mp4Box* b = firstTrack; b != nullptr; b = b->next.get()) {
        if (b->type != kTrak)
            continue;
        const uint32_t handler = TrackHandlerType(b);
        if (handler == kVide) {
            m_hasVideo = 1;
            videoTrack = b;
        } else if (handler == kSoun) {
            m_hasAudio = 1;
            audioTrack = b;
        }
    }

    uint32_t audioBytesPerSecond = 0;
    if (const Mp4Box* entry = FirstSampleEntry(audioTrack)) {
        if (auto rec = BuildAudioRecord(*entry, audioTrack, *input, m_extensions)) {
            audioBytesPerSecond = rec->audio.bytesPerSecond;
            streams->Append(std::move(rec));
        }
    }
    if (const Mp4Box* entry = FirstSampleEntry(videoTrack)) {
        if (auto rec = BuildVideoRecord(*entry, videoTrack, root, moov, audioBytesPerSecond, m_extensions, *input))
            streams->Append(std::move(rec));
    }
    if (m_extensions & MD_EXT_MP4)
        m_videoRotation = TrackRotation(FindFirstTrack(root, kVide));
    m_tags = std::move(tags);
    m_cover = cover;
    return 1;
}

uint32_t M4Demux::ParsePackets(const uint8_t*, uint32_t, PacketList*, uint8_t*) { return 1; }

uint32_t M4Demux::ParseBuffer(const uint8_t*, uint32_t, StreamList*) { return 1; }

void M4Demux::Reset(int64_t) {}

}  // namespace md
