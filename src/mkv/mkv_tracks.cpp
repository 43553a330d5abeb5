// Track records: each track entry with a known CodecID becomes a stream record;
// the selected video and audio tracks get what the entry and its CodecPrivate
// give (sizes, display aspect, rates, codec headers).
#include "mkv/mkv_tracks.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include <ebml/EbmlUnicodeString.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include "es/alac_config.h"
#include "es/audio_headers.h"
#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/xiph_headers.h"
#include "mkv/ebml_reader.h"
#include "mkv/mkv_values.h"

namespace md {

using namespace libmatroska;
using libebml::EbmlMaster;
using namespace mkv;

namespace {

constexpr uint64_t kDefaultVideoFrameNs = 33366666;  // 29.97 frames per second
constexpr uint64_t kDefaultAudioFrameNs = 21333333;  // 1024 samples at 48 kHz

// TrackType values.
constexpr uint64_t kTrackTypeVideo = 1;
constexpr uint64_t kTrackTypeAudio = 2;
constexpr uint64_t kTrackTypeSubtitle = 17;

constexpr uint32_t kStartCodeLength = 4;

// CodecID tables (exact comparison); sub is the layer index of MPEG audio.
struct CodecName {
    const char* id;
    StreamCodec codec;
    uint32_t sub;
};

constexpr CodecName kVideoCodecs[] = {
    {"V_MPEG1", StreamCodec::Mpeg1Video, 0},       {"V_MPEG2", StreamCodec::Mpeg2Video, 0},
    {"V_MPEG4/ISO/ASP", StreamCodec::Mpeg4Video, 0}, {"V_MPEG4/ISO/AVC", StreamCodec::H264, 0},
    {"V_MS/VFW/FOURCC", StreamCodec::VfwVideo, 0},
};

constexpr CodecName kAudioCodecs[] = {
    {"A_MPEG/L1", StreamCodec::Mpeg1Audio, 0}, {"A_MPEG/L2", StreamCodec::Mpeg1Audio, 1},
    {"A_MPEG/L3", StreamCodec::Mpeg1Audio, 2}, {"A_AC3", StreamCodec::Ac3, 0},
    {"A_DTS", StreamCodec::Dts, 0},            {"A_VORBIS", StreamCodec::Vorbis, 0},
};

constexpr CodecName kSubtitleCodecs[] = {
    {"S_TEXT/ASCII", StreamCodec::TextAscii, 0}, {"S_TEXT/UTF8", StreamCodec::TextUtf8, 0},
    {"S_TEXT/SSA", StreamCodec::Ssa, 0},         {"S_TEXT/ASS", StreamCodec::Ass, 0},
    {"S_TEXT/USF", StreamCodec::Usf, 0},
};

// Codecs only extensions describe: those of WebM files (VP8, VP9, AV1, Opus; Vorbis
// is in the table above), then the others Matroska carries.
constexpr CodecName kWebmVideoCodecs[] = {{"V_VP8", StreamCodec::Vp8, 0},
                                          {"V_VP9", StreamCodec::Vp9, 0},
                                          {"V_AV1", StreamCodec::Av1, 0}};
constexpr CodecName kMoreVideoCodecs[] = {{"V_FFV1", StreamCodec::Ffv1, 0},
                                          {"V_PRORES", StreamCodec::ProRes, 0},
                                          {"V_MPEGH/ISO/HEVC", StreamCodec::Hevc, 0},
                                          {"V_THEORA", StreamCodec::Theora, 0},
                                          {"V_MJPEG", StreamCodec::Jpeg, 0}};
constexpr CodecName kWebmAudioCodecs[] = {{"A_OPUS", StreamCodec::Opus, 0}};
constexpr CodecName kMoreAudioCodecs[] = {
    {"A_EAC3", StreamCodec::Eac3, 0},
    {"A_FLAC", StreamCodec::Flac, 0},
    {"A_PCM/INT/LIT", StreamCodec::PcmLittleEndian, 0},
    {"A_PCM/INT/BIG", StreamCodec::Lpcm, 0},
    {"A_PCM/FLOAT/IEEE", StreamCodec::PcmFloat, 0},  // little-endian
    {"A_ALAC", StreamCodec::Alac, 0},
    {"A_TRUEHD", StreamCodec::TsAudio83, 0},  // the transport stream_type of TrueHD
};
constexpr CodecName kMoreSubtitleCodecs[] = {{"S_HDMV/PGS", StreamCodec::Pgs, 0}, {"S_VOBSUB", StreamCodec::VobSub, 0}};

// AAC object types named in an "A_AAC..." CodecID, tested in this order.
constexpr CodecName kAacProfiles[] = {
    {"MAIN", StreamCodec::Aac, 1}, {"LC", StreamCodec::Aac, 2},  {"SSR", StreamCodec::Aac, 3},
    {"LTP", StreamCodec::Aac, 4},  {"SBR", StreamCodec::Aac, 5},
};
constexpr uint32_t kAacDefaultObjectType = 2;

template <size_t N>
const CodecName* FindCodec(const CodecName (&table)[N], const std::string& id)
{
    for (const CodecName& c : table)
        if (id == c.id)
            return &c;
    return nullptr;
}

// The codec an extension describes: from the WebM table when webm, then from the
// other when more.
template <size_t N, size_t M>
const CodecName* FindExtendedCodec(const CodecName (&webmTable)[N], const CodecName (&moreTable)[M],
                                   const std::string& id, bool webm, bool more)
{
    const CodecName* codec = webm ? FindCodec(webmTable, id) : nullptr;
    return codec == nullptr && more ? FindCodec(moreTable, id) : codec;
}
// The FourCC (biCompression) of the BITMAPINFOHEADER that is a V_MS/VFW/FOURCC
// track's CodecPrivate, or empty.
std::string VfwFourCC(Bytes codecPrivate)
{
    if (codecPrivate.size() < 20)
        return {};
    return std::string(reinterpret_cast<const char*>(codecPrivate.data()) + 16, 4);
}

// Sample rate, channels and bits per sample of the STREAMINFO block that follows the "fLaC" marker of an A_FLAC
// track's CodecPrivate.
bool ReadFlacStreamInfo(Bytes header, AudioParams& audio)
{
    FlacStreamInfo info{};
    if (header.size() < 4 || std::memcmp(header.data(), "fLaC", 4) != 0 ||
        !ParseFlacStreamInfo(header.data() + 4, header.size() - 4, info))
        return false;
    audio.sampleRate = info.sampleRate;
    audio.channels = info.channels;
    audio.bitsPerSample = info.bitsPerSample;
    return true;
}

// The ALAC magic cookie of an A_ALAC track's CodecPrivate, alone or behind the head of an 'alac' atom (size, type,
// version and flags).
constexpr size_t kAlacAtomHead = 12;

bool ReadAlacConfig(Bytes cookie, AudioParams& audio)
{
    if (cookie.size() >= kAlacAtomHead + kAlacConfigSize && std::memcmp(cookie.data() + 4, "alac", 4) == 0)
        cookie = cookie.subspan(kAlacAtomHead);
    AlacConfig config;
    if (!ParseAlacConfig(cookie, config))
        return false;
    audio.sampleRate = config.sampleRate;
    audio.channels = config.channels;
    audio.bitsPerSample = config.bitDepth;
    return true;
}

// Interleaved PCM of BitDepth bits a sample: a block holds one sample of each channel in whole bytes. A track
// that states no channels or bits, or more than any PCM carries, gets no block size and byte rate.
constexpr uint32_t kMaxPcmChannels = 255;
constexpr uint32_t kMaxPcmBits = 64;

void SetPcmRates(AudioParams& audio)
{
    if (audio.channels == 0 || audio.channels > kMaxPcmChannels || audio.bitsPerSample == 0 ||
        audio.bitsPerSample > kMaxPcmBits)
        return;
    const uint32_t block = audio.channels * ((audio.bitsPerSample + 7) / 8);
    audio.blockAlign = block;
    audio.bytesPerSecond = ToUInt32(uint64_t{block} * audio.sampleRate);
}

// Display aspect from DisplayWidth and DisplayHeight, snapped to 4:3, 16:9 or
// 1:1 when it has one of those shapes.
void SetDisplayAspect(uint64_t x, uint64_t y, VideoParams& video)
{
    video.aspectX = ToUInt32(x);
    video.aspectY = ToUInt32(y);
    SnapDisplayAspect(x, y, video.aspectX, video.aspectY);
}

// Display aspect of a track from its DisplayWidth and DisplayHeight. Where it
// states neither they default to the pixel sizes when pixelDefault (the element
// defaults), else the track has no aspect.
void SetTrackAspect(const EbmlMaster& video, bool pixelDefault, VideoParams& v)
{
    const bool displaySize = FindFirst<KaxVideoDisplayWidth>(video) || FindFirst<KaxVideoDisplayHeight>(video);
    if (displaySize || !pixelDefault)
        SetDisplayAspect(UIntOf<KaxVideoDisplayWidth>(video), UIntOf<KaxVideoDisplayHeight>(video), v);
    else
        SetDisplayAspect(v.width, v.height, v);
}

// Display aspect and scan of a track of a codec only extensions describe: the
// display size defaults to the pixel size; only FlagInterlaced 1 marks interlaced
// frames (0 is undetermined, 2 progressive).
void FillExtendedVideo(const EbmlMaster& video, StreamRecord& r)
{
    SetTrackAspect(video, true, r.video);
    r.progressive = UIntOf<KaxVideoFlagInterlaced>(video) == 1 ? 0 : 1;
}

// Appends a NAL unit behind a 00 00 00 01 start code; a unit that does not fit
// the area is left out.
void AppendNalUnit(Bytes unit, uint8_t (&area)[kExtraDataSize], int32_t& length)
{
    const size_t used = static_cast<size_t>(std::max(length, 0));
    if (!Has(kExtraDataSize, used, kStartCodeLength + unit.size()))
        return;
    static constexpr uint8_t kStartCode[kStartCodeLength] = {0, 0, 0, 1};
    std::memcpy(area + used, kStartCode, kStartCodeLength);
    if (!unit.empty())
        std::memcpy(area + used + kStartCodeLength, unit.data(), unit.size());
    length = static_cast<int32_t>(used + kStartCodeLength + unit.size());
}

// The AVC decoder configuration record (ISO/IEC 14496-15 5.2.4.1) that is the
// CodecPrivate of a V_MPEG4/ISO/AVC track.
void ApplyAvcConfiguration(Bytes config, StreamRecord& record, bool allProfiles)
{
    ByteReader r(config);
    r.U8();  // configurationVersion
    const uint8_t profile = r.U8();
    r.U8();  // profile_compatibility
    const uint8_t level = r.U8();
    const uint8_t lengthSizeMinusOne = r.U8() & 3;
    const uint32_t spsCount = r.U8() & 31;
    if (!r.ok())
        return;
    record.video.profile = H264ProfileCode(profile, false);
    record.video.level = level;
    record.nalLengthSize = lengthSizeMinusOne + 1u;

    for (uint32_t i = 0; i < spsCount; ++i) {
        const Bytes unit = r.Span(r.U16());
        if (!r.ok())
            return;
        AppendNalUnit(unit, record.extraData1, record.extraData1Length);
        SpsInfo sps{};
        if (!unit.empty() && ParseSps(unit.data(), static_cast<uint32_t>(unit.size()), sps, allProfiles)) {
            record.progressive = sps.frame_mbs_only_flag ? 1 : 0;
            record.fieldCoding = sps.frame_mbs_only_flag ? 0 : sps.mb_adaptive_frame_field_flag ? 1 : 2;
        }
    }
    const uint32_t ppsCount = r.U8();
    for (uint32_t i = 0; i < ppsCount && r.ok(); ++i) {
        const Bytes unit = r.Span(r.U16());
        if (r.ok())
            AppendNalUnit(unit, record.extraData2, record.extraData2Length);
    }
}

// The HEVC decoder configuration record (ISO/IEC 14496-15 8.3.3.1) that is the CodecPrivate of a
// V_MPEGH/ISO/HEVC track: its VPS, SPS and PPS become the codec headers, the SPS gives profile and level. Size,
// display aspect, frame rate and scan stay the track's, as for every Matroska track.
void ApplyHevcConfiguration(Bytes config, StreamRecord& record)
{
    CollectHevcHeaders(config.data(), config.size(), true, record);
    HevcPictureProperties props{};
    if (!config.empty() && DescribeHevcConfiguration(config.data(), config.size(), props)) {
        record.video.profile = props.profile;
        record.video.level = props.level;
    }
}

// Sizes of the packets of a Xiph-laced CodecPrivate (a count byte, the laced
// sizes of all packets but the last, then the packets): the three Vorbis headers.
bool ReadXiphPacketSizes(Bytes data, uint32_t (&sizes)[3])
{
    ByteReader r(data);
    const uint32_t count = r.U8() + 1u;
    if (!r.ok() || count < 3)
        return false;
    uint64_t laced = 0;
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint64_t size = 0;
        uint8_t b = 0;
        do {
            b = r.U8();
            size += b;
        } while (b == 255 && r.ok());
        if (!r.ok())
            return false;
        if (i < 3)
            sizes[i] = ToUInt32(size);
        laced += size;
    }
    if (laced > r.Remaining())
        return false;
    if (count == 3)
        sizes[2] = ToUInt32(r.Remaining() - laced);
    return true;
}

// Track names are kept as UTF-16 code units, at most 255 and NUL-terminated; a
// surrogate pair is never cut.
void CopyTrackName(const libebml::UTFstring& name, char16_t (&out)[256])
{
    size_t n = 0;
    const wchar_t* s = name.c_str();
    for (size_t i = 0; s != nullptr && i < name.length(); ++i) {
        const uint32_t c = static_cast<uint32_t>(s[i]);
        if (c > 0x10FFFF)
            continue;
        if (c >= 0x10000) {
            if (n + 2 > 255)
                break;
            out[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            if (n + 1 > 255)
                break;
            out[n++] = static_cast<char16_t>(c);
        }
    }
    out[n] = 0;
}

void CopyLanguage(const std::string& language, uint8_t (&out)[4])
{
    std::memset(out, 0, sizeof out);
    std::memcpy(out, language.data(), std::min(language.size(), sizeof out));
}

}  // namespace

bool mkv::IsPcm(StreamCodec codec)
{
    return codec == StreamCodec::PcmLittleEndian || codec == StreamCodec::Lpcm || codec == StreamCodec::PcmFloat;
}

bool mkv::IsExtendedVideo(StreamCodec codec)
{
    return codec == StreamCodec::Vp8 || codec == StreamCodec::Vp9 || codec == StreamCodec::Av1 ||
           codec == StreamCodec::Ffv1 || codec == StreamCodec::ProRes || codec == StreamCodec::Hevc ||
           codec == StreamCodec::Theora || codec == StreamCodec::Jpeg;
}

void MKVDemux::BuildRecords(std::vector<TrackInfo>& tracks)
{
    if (!m_tracks)
        return;
    // The WebM codecs are described in WebM files (which without them hold nothing
    // to describe) and, with the other extended codecs, in any file.
    const bool moreCodecs = (m_extensions & MD_EXT_MATROSKA_CODECS) != 0;
    const bool webmCodecs = moreCodecs || m_webm;
    for (const auto* entry = FindFirst<KaxTrackEntry>(*m_tracks); entry != nullptr;
         entry = FindNext(*m_tracks, *entry)) {
        if (FindFirst<KaxTrackNumber>(*entry) == nullptr || FindFirst<KaxCodecID>(*entry) == nullptr)
            continue;
        const uint32_t number = ToUInt32(UIntOf<KaxTrackNumber>(*entry));
        const std::string codecId = StringOf<KaxCodecID>(*entry);
        const uint64_t type = UIntOf<KaxTrackType>(*entry);

        TrackInfo track;
        track.timecodeScale = FloatOf<KaxTrackTimecodeScale>(*entry);
        track.record = NewStreamRecord();
        if (!track.record)
            continue;
        StreamRecord& r = *track.record;
        r.streamId = number;

        if (type == kTrackTypeVideo) {
            const auto* video = FindFirst<KaxTrackVideo>(*entry);
            const CodecName* codec = FindCodec(kVideoCodecs, codecId);
            if (codec == nullptr)
                codec = FindExtendedCodec(kWebmVideoCodecs, kMoreVideoCodecs, codecId, webmCodecs, moreCodecs);
            if (video == nullptr || codec == nullptr)
                continue;
            r.streamClass = StreamClass::Video;
            r.codec = codec->codec;
            if (moreCodecs && r.codec == StreamCodec::VfwVideo &&
                VfwFourCC(BinaryBytes(FindFirst<KaxCodecPrivate>(*entry))) == "FFV1")
                r.codec = StreamCodec::Ffv1;
            if (m_hasSelection && number == m_selection[0])
                FillVideo(*entry, *video, r);
        } else if (type == kTrackTypeAudio) {
            const auto* audio = FindFirst<KaxTrackAudio>(*entry);
            const CodecName* codec = FindCodec(kAudioCodecs, codecId);
            if (codec == nullptr)
                codec = FindExtendedCodec(kWebmAudioCodecs, kMoreAudioCodecs, codecId, webmCodecs, moreCodecs);
            uint32_t sub = codec ? codec->sub : 0;
            if (codec == nullptr && codecId.rfind("A_AAC", 0) == 0) {
                sub = kAacDefaultObjectType;
                for (const CodecName& p : kAacProfiles)
                    if (codecId.find(p.id) != std::string::npos) {
                        sub = p.sub;
                        break;
                    }
                r.codec = StreamCodec::Aac;
            } else if (codec != nullptr) {
                r.codec = codec->codec;
            } else {
                continue;
            }
            if (audio == nullptr)
                continue;
            r.streamClass = StreamClass::Audio;
            r.audio.codecSpecific[0] = sub;
            const uint64_t duration = UIntOf<KaxTrackDefaultDuration>(*entry);
            m_audioFrameDuration = static_cast<int64_t>((duration != 0 ? duration : kDefaultAudioFrameNs) / 100);
            if (m_hasSelection && number == m_selection[2])
                FillAudio(*entry, *audio, r);
        } else if (type == kTrackTypeSubtitle) {
            const CodecName* codec = FindCodec(kSubtitleCodecs, codecId);
            if (codec == nullptr && moreCodecs)
                codec = FindCodec(kMoreSubtitleCodecs, codecId);
            if (codec == nullptr)
                continue;
            r.streamClass = StreamClass::Subtitle;
            r.codec = codec->codec;
            FillSubtitle(*entry, r);
        } else {
            continue;
        }
        tracks.push_back(std::move(track));
    }
}

void MKVDemux::FillVideo(const EbmlMaster& entry, const EbmlMaster& video, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    uint64_t duration = UIntOf<KaxTrackDefaultDuration>(entry);
    if (duration == 0)
        duration = kDefaultVideoFrameNs;
    r.video.frameDuration = static_cast<int64_t>(std::min<uint64_t>(duration, INT64_MAX));
    r.frameRate = std::trunc(1e11 / static_cast<double>(duration)) / 100;
    m_videoFrameDuration = r.video.frameDuration / 100;
    r.video.width = ToUInt32(UIntOf<KaxVideoPixelWidth>(video));
    r.video.height = ToUInt32(UIntOf<KaxVideoPixelHeight>(video));
    if (IsExtendedVideo(r.codec))
        FillExtendedVideo(video, r);
    else
        SetTrackAspect(video, (m_extensions & MD_EXT_MATROSKA_CODECS) != 0, r.video);

    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    if (r.codec == StreamCodec::H264) {
        ApplyAvcConfiguration(codecPrivate, r, (m_extensions & MD_EXT_H264_PROFILES) != 0);
    } else if (r.codec == StreamCodec::Hevc) {
        ApplyHevcConfiguration(codecPrivate, r);
    } else {
        const size_t n = std::min(codecPrivate.size(), kExtraDataSize);
        if (n > 0)
            std::memcpy(r.extraData1, codecPrivate.data(), n);
        r.extraData1Length = static_cast<int32_t>(n);
    }
}

void MKVDemux::FillAudio(const EbmlMaster& entry, const EbmlMaster& audio, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    r.audio.sampleRate = SaturateToUInt32(FloatOf<KaxAudioSamplingFreq>(audio));
    r.audio.channels = ToUInt32(UIntOf<KaxAudioChannels>(audio));
    r.audio.bitsPerSample = ToUInt32(UIntOf<KaxAudioBitDepth>(audio));
    CopyLanguage(StringOf<KaxTrackLanguage>(entry), r.audio.language);

    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    if (r.codec == StreamCodec::Aac && !codecPrivate.empty()) {
        // AudioSpecificConfig: audioObjectType in the top five bits of the first
        // byte; the bytes themselves go from the third codec-specific word on, as
        // far as the audio block reaches.
        r.audio.codecSpecific[0] = codecPrivate[0] >> 3;
        r.audio.codecSpecific[1] = ToUInt32(codecPrivate.size());
        constexpr size_t kAt = offsetof(AudioParams, codecSpecific) + 2 * sizeof(uint32_t);
        const size_t n = std::min(codecPrivate.size(), sizeof(AudioParams) - kAt);
        std::memcpy(reinterpret_cast<uint8_t*>(&r.audio) + kAt, codecPrivate.data(), n);
    } else if (r.codec == StreamCodec::Vorbis) {
        uint32_t sizes[3] = {};
        if (ReadXiphPacketSizes(codecPrivate, sizes))
            for (size_t i = 0; i < 3; ++i)
                r.audio.codecSpecific[i] = sizes[i];
    } else if (r.codec == StreamCodec::Opus) {
        // The output channel count of the identification header ("OpusHead") that is the CodecPrivate.
        r.audio.sampleRate = kOpusOutputRate;
        OpusHead head{};
        if (ParseOpusHead(codecPrivate, head)) {
            r.audio.channels = head.channels;
            r.audio.channelMask = OpusChannelMask(head.mappingFamily, head.channels);
        }
    } else if (r.codec == StreamCodec::Flac) {
        ReadFlacStreamInfo(codecPrivate, r.audio);
    } else if (r.codec == StreamCodec::Alac) {
        ReadAlacConfig(codecPrivate, r.audio);
    } else if (IsPcm(r.codec)) {
        SetPcmRates(r.audio);
    }
}

void MKVDemux::FillSubtitle(const EbmlMaster& entry, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    SubtitleParams s{};
    CopyLanguage(StringOf<KaxTrackLanguage>(entry), s.language);
    if (const auto* name = FindFirst<KaxTrackName>(entry))
        CopyTrackName(name->GetValue(), s.trackName);
    // The bytes stay with the kept Tracks element while the demultiplexer lives.
    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    s.codecPrivate = codecPrivate.empty() ? nullptr : codecPrivate.data();
    s.codecPrivateSize = codecPrivate.size();
    r.SetSubtitle(s);
}

}  // namespace md
