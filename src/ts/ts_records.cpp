#include "ts/ts_records.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>

#include "es/audio_headers.h"
#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "es/xiph_headers.h"
#include "ts/ts_demux.h"
#include "ts/ts_packet.h"

namespace md {

namespace {

// The audio fields of a record before it is allocated.
struct AudioDescription {
    std::optional<StreamCodec> codec;  // when the bytes say otherwise than the stream_type
    AudioFormat format{};
    std::array<uint32_t, 5> codecSpecific{};
    uint32_t channelMask = 0;  // the speakers, where the codec states them
    bool hasFrameDuration = false;
    int64_t frameDuration = 0;
};

// MPEG-4 samplingFrequencyIndex (ISO/IEC 14496-3 Table 1.18); -1 for the
// escape and reserved indexes 12..15.
int32_t AacSampleRate(uint32_t index)
{
    static constexpr std::array<int32_t, 12> kRates = {96000, 88200, 64000, 48000, 44100, 32000,
                                                       24000, 22050, 16000, 12000, 11025, 8000};
    return index < kRates.size() ? kRates[index] : -1;
}

void SetAacFrameDuration(int32_t sampleRate, AudioDescription& d)
{
    d.hasFrameDuration = true;
    d.frameDuration = 1024LL * 10000000 / sampleRate;  // 1024 samples per raw data block
}

bool DescribeAdts(const uint8_t* b, uint32_t length, AudioDescription& d);

// aac_frame_length of the ADTS header at h (ISO/IEC 13818-7 6.2); 0 when there is none.
uint32_t AdtsFrameBytes(const uint8_t* h, uint32_t length)
{
    if (length < 7 || h[0] != 0xFF || (h[1] & 0xF6) != 0xF0)  // syncword, layer 00
        return 0;
    return uint32_t(h[3] & 0x03) << 11 | uint32_t(h[4]) << 3 | h[5] >> 5;
}

// Whether the frame of frameBytes at i is followed where it ends by a frame
// whose length frameBytesAt gives, or the bytes end before a header would.
template <class FrameBytes>
bool FollowedByFrame(const uint8_t* b, uint32_t length, uint32_t i, uint32_t frameBytes, FrameBytes frameBytesAt)
{
    const uint64_t next = uint64_t(i) + frameBytes;
    return frameBytes > 0 && (next + 4 > length || frameBytesAt(b + next, uint32_t(length - next)) > 0);
}

bool DescribeMpegAudio(const uint8_t* b, uint32_t length, AudioDescription& d, bool frameChecks)
{
    for (uint32_t i = 0; i + 4 <= length; ++i) {
        if (frameChecks && AdtsFrameBytes(b + i, length - i) >= 7 &&
            FollowedByFrame(b, length, i, AdtsFrameBytes(b + i, length - i), AdtsFrameBytes)) {
            d.codec = StreamCodec::Aac;  // AAC announced as MPEG audio
            return DescribeAdts(b + i, length - i, d);
        }
        MpegAudioInfo info{};
        if (!IsMpegAudioSync(b + i, length - i) || !ParseMpegAudioHeader(b + i, length - i, d.format, info))
            continue;
        if (frameChecks && !FollowedByFrame(b, length, i, MpegAudioFrameBytes(b + i, length - i), MpegAudioFrameBytes))
            continue;
        SetMpegAudioWords(d.codecSpecific, info);
        if (length - i >= 32) {
            d.hasFrameDuration = true;
            d.frameDuration = MpegAudioFrameDuration(b + i);
        }
        return true;
    }
    return false;
}

bool DescribeAc3(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    // A first byte 0x80..0x87 is the 4-byte sub-stream header of a DVD-style
    // private stream 1 payload.
    const bool substreamHeader = length >= 1 && (b[0] & 0xF8) == 0x80;
    for (uint32_t i = substreamHeader ? 4 : 0; i + 11 <= length; ++i) {
        const bool sync = IsAc3Sync(b + i);
        Ac3Info info{};
        uint32_t frameWords = 0;
        if (!sync || !ParseAc3Header(b + i, length - i, d.format, info, frameWords))
            continue;
        d.codecSpecific = {info.acmod, substreamHeader ? 4u : 0u, (info.lfeon & 0xFF) | (substreamHeader ? 0x100u : 0u),
                           b[0], info.bsid};
        d.hasFrameDuration = true;
        d.frameDuration = Frame1536Duration(d.format.sampleRate);
        return true;
    }
    return false;
}

bool DescribeAdts(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    for (uint32_t i = 0; i + 6 <= length; ++i) {
        if (b[i] != 0xFF || (b[i + 1] & 0xF0) != 0xF0)
            continue;
        const uint8_t* h = b + i;
        const int32_t rate = AacSampleRate((h[2] >> 2) & 0x0F);
        // profile_ObjectType, plus 1 when the ID bit (MPEG-2 AAC) is set.
        const uint32_t objectType = (h[2] >> 6) + ((h[1] >> 3) & 1);
        const uint32_t channels = (h[3] >> 6) + 4 * (h[2] & 1);  // channel_configuration
        const int64_t frameLength = int64_t(h[3] & 0x03) << 11 | int64_t(h[4]) << 3 | h[5] >> 5;
        d.format.channels = channels;
        d.format.sampleRate = static_cast<uint32_t>(rate);
        d.format.bytesPerSecond = rate > 0 ? static_cast<uint32_t>(125 * ((frameLength * rate / 1024) / 125)) : 0;
        d.codecSpecific[0] = objectType;
        SetAacFrameDuration(rate, d);
        return true;
    }
    return false;
}

bool DescribeLatm(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    // LOAS AudioSyncStream: syncword 0x2B7 (11 bits) and a 13-bit length, then a
    // StreamMuxConfig whose AudioSpecificConfig starts in byte 5.
    for (uint32_t i = 0; i + 7 <= length; ++i) {
        if (b[i] != 0x56 || (b[i + 1] & 0xE0) != 0xE0)
            continue;
        const uint8_t* h = b + i;
        const int32_t rate = AacSampleRate(((h[5] << 1) & 0x0F) | (h[6] >> 7));
        d.format.channels = (h[6] >> 3) & 0x0F;
        d.format.sampleRate = static_cast<uint32_t>(rate);
        d.format.bytesPerSecond = rate > 0 ? 16000 : 0;
        d.codecSpecific[0] = h[5] >> 3;  // audioObjectType
        SetAacFrameDuration(rate, d);
        return true;
    }
    return false;
}

bool DescribeLpcm(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    // Blu-ray LPCM header: audio_data_payload_size (16), channel_assignment (4),
    // sampling_frequency (4), bits_per_sample (2), start_flag, reserved.
    if (length < 4)
        return false;
    const uint32_t assignment = b[2] >> 4;
    uint32_t channels = 0;
    if (assignment >= 1 && assignment <= 3)
        channels = 2;
    else if (assignment >= 4 && assignment <= 7)
        channels = 4;
    else if (assignment == 8 || assignment == 9)
        channels = 6;
    else if (assignment == 10 || assignment == 11)
        channels = 8;
    uint32_t rate = 0;
    switch (b[2] & 0x0F) {
    case 1: rate = 48000; break;
    case 4: rate = 96000; break;
    case 5: rate = 192000; break;
    default: break;
    }
    static constexpr std::array<uint32_t, 4> kBits = {0, 16, 20, 24};
    const uint32_t bits = kBits[b[3] >> 6];
    d.format.channels = channels;
    d.format.sampleRate = rate;
    d.format.bitsPerSample = bits;
    d.format.bytesPerSecond = (bits / 8) * rate * channels;
    d.codecSpecific = {7, b[0], 0, 0, 0};
    d.hasFrameDuration = true;
    d.frameDuration = ((int64_t(bits) * rate * channels / 512000) * 5000) / 3;
    return true;
}

bool DescribeMlp(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    for (uint32_t i = 0; i + 4 <= length; ++i) {
        const bool sync = b[i] == 0xF8 && b[i + 1] == 0x72 && b[i + 2] == 0x6F && (b[i + 3] == 0xBA || b[i + 3] == 0xBB);
        MlpInfo info{};
        uint32_t pcmBytes = 0;
        if (!sync || !ParseMlpHeader(b + i, length - i, d.format, info, pcmBytes))
            continue;
        // The channel layout and the LFE flag where AC-3 records keep acmod and lfeon.
        d.codecSpecific = {info.channelLayout, 0, info.lfe, 0, 0};
        d.hasFrameDuration = true;
        d.frameDuration = Frame1536Duration(d.format.sampleRate);
        return true;
    }
    return false;
}

bool DescribeEac3(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    for (uint32_t i = 0; i + 6 <= length; ++i) {
        Eac3Info info{};
        if (b[i] != 0x0B || b[i + 1] != 0x77 || !ParseEac3Header(b + i, length - i, d.format, info))
            continue;
        if (info.strmtyp == 1)  // a dependent substream adds channels to the independent one before it
            continue;
        // The AC-3 layout of the codec-specific words: acmod, no sub-stream header, lfeon, 0, bsid.
        d.codecSpecific = {info.acmod, 0, info.lfeon, 0, info.bsid};
        d.hasFrameDuration = true;
        d.frameDuration = int64_t(info.blocks) * 256 * 10000000 / d.format.sampleRate;
        return true;
    }
    return false;
}

// Channels of a DTS core frame (ETSI TS 102 114 5.3.1): AMODE (Table 5-4) plus
// one when LFF announces the low-frequency channel; 0 for the user-defined AMODE
// values. byte gives the header bytes in stream order (byte-swapped words undone).
template <class Byte>
uint32_t DtsCoreChannels(Byte byte)
{
    static constexpr std::array<uint32_t, 16> kAmodeChannels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
    const uint32_t amode = uint32_t(byte(7) & 0x0F) << 2 | byte(8) >> 6;
    const uint32_t lff = (byte(10) >> 1) & 0x03;
    if (amode >= kAmodeChannels.size())
        return 0;
    return kAmodeChannels[amode] + (lff == 1 || lff == 2 ? 1 : 0);
}

bool DescribeDtsCore(const uint8_t* b, uint32_t length, AudioDescription& d)
{
    // Twelve bytes hold LFF whether the 16-bit words come in order or byte-swapped.
    for (uint32_t i = 0; i + 12 <= length; ++i) {
        DtsInfo info{};
        int64_t frameDuration = 0;
        if (!IsDtsSync(b + i) || !ParseDtsHeader(b + i, length - i, d.format, info, frameDuration))
            continue;
        const uint8_t* h = b + i;
        const bool swapped = (info.flags & kDtsReversedSync) != 0;
        const uint32_t channels = DtsCoreChannels([h, swapped](uint32_t k) { return h[swapped ? k ^ 1 : k]; });
        if (channels != 0)
            d.format.channels = channels;
        d.codec = StreamCodec::Dts;
        d.codecSpecific = {info.flags & kDtsReversedSync, 0, 0, 0, 0};
        // A header in the 16-bit big-endian form also gives the speakers (and XCh's centre surround); the LFE
        // flag goes where AC-3 records keep lfeon.
        DtsCoreHeader core{};
        if (ParseDtsCoreHeader(h, length - i, core) && core.channels != 0) {
            d.format.channels = core.channels;
            d.channelMask = core.channelMask;
            d.codecSpecific[2] = core.lfe;
        }
        d.hasFrameDuration = true;
        d.frameDuration = frameDuration;
        return true;
    }
    return false;
}

// Opus access units (wiki.xiph.org/OpusTS): opus_control_header -- the 11-bit sync 0x3FF, start_trim_flag,
// end_trim_flag, control_extension_flag and two reserved bits, au_size as a run of 0xFF bytes ended by a smaller
// one, the trims (16 bits each) and the extension (a length byte and its bytes) as flagged -- then the Opus packet,
// whose TOC byte gives the unit's duration. The channels are those the PMT's Opus audio descriptor states, the
// speakers those of its mapping family; Opus decodes to 48 kHz.
bool DescribeOpus(const uint8_t* b, uint32_t length, const TsOpusLayout& layout, AudioDescription& d)
{
    constexpr uint8_t kStartTrim = 0x10, kEndTrim = 0x08, kControlExtension = 0x04;
    // No Opus packet of up to eight channels comes near this size; a longer run of 0xFF bytes is no au_size.
    constexpr uint32_t kMaxAuSizeBytes = 64;
    for (uint32_t i = 0; i + 3 <= length; ++i) {
        if (b[i] != 0x7F || (b[i + 1] & 0xE0) != 0xE0)
            continue;
        const uint8_t flags = b[i + 1];
        uint32_t pos = i + 2;
        uint32_t auSize = 0;
        for (uint32_t n = 0; pos < length && b[pos] == 0xFF && n < kMaxAuSizeBytes; ++n, ++pos)
            auSize += 0xFF;
        if (pos >= length || b[pos] == 0xFF)
            continue;
        auSize += b[pos++];
        pos += (flags & kStartTrim ? 2 : 0) + (flags & kEndTrim ? 2 : 0);
        if ((flags & kControlExtension) != 0 && pos < length)
            pos += 1 + b[pos];
        if (pos >= length || auSize == 0)
            continue;
        const uint32_t samples = OpusPacketSamples(Bytes(b + pos, std::min(auSize, length - pos)));
        if (samples == 0)
            continue;
        d.format.channels = layout.channels;
        d.format.sampleRate = kOpusOutputRate;
        d.channelMask = OpusChannelMask(layout.mappingFamily, layout.channels);
        d.hasFrameDuration = true;
        d.frameDuration = int64_t(samples) * 10000000 / kOpusOutputRate;
        return true;
    }
    return false;
}

// DTS-HD types: a fixed description, only for streams a registration_descriptor
// announced; the payload is not read.
bool DescribeDtsHd(bool registration, AudioDescription& d)
{
    if (!registration)
        return false;
    d.format = AudioFormat{2, 48000, 32000, 0, 16};
    d.codecSpecific = {2, 0, 0, 0, 0};
    d.hasFrameDuration = true;
    d.frameDuration = 333667;
    return true;
}

TsVideoBuild FillMpegVideo(const uint8_t* held, uint32_t length, uint8_t& mpeg1, StreamRecord& record,
                           bool rateExtension)
{
    const uint32_t i = FindCode(held, length, 0xB3);
    if (i >= length)
        return TsVideoBuild::Rejected;
    const uint8_t* seq = held + i;
    const uint32_t seqLength = length - i;
    auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    if (!info)
        return TsVideoBuild::NoMemory;
    if (!ParseSequenceHeader(seq, seqLength, *info, kAspectMpeg2))
        return TsVideoBuild::Rejected;

    const uint8_t* ext = seq + info->headerLength;
    uint32_t extLength = seqLength - static_cast<uint32_t>(info->headerLength);
    if (!FindStartCode(ext, extLength) || !IsStartCodeAt(ext, extLength))
        return TsVideoBuild::Rejected;
    if (ext[3] != 0xB5)
        mpeg1 = 1;
    uint8_t progressive = 1;
    if (!mpeg1) {
        if (extLength < 10 || (ext[4] >> 4) != 1)  // sequence_extension
            return TsVideoBuild::Rejected;
        ApplySequenceExtension(ext, extLength, *info, rateExtension);
        ReadProgressiveSequence(ext, extLength, progressive);
    }
    ApplySequenceHeader(*info, record);
    record.progressive = progressive;

    if (!mpeg1 && progressive == 0) {
        // The first picture coding extension: a progressive frame in an NTSC
        // stream is film carried with 3:2 pulldown.
        uint32_t order = 0;
        uint8_t progressiveFrame = 0;
        if (FirstPictureCoding(record, order, progressiveFrame) && progressiveFrame == 1 && record.frameRate == 29.97) {
            record.video.frameDuration = 416667;
            record.frameRate = 24.0;
        }
    }
    FindEncoderMarker(record.extraData1, static_cast<uint32_t>(record.extraData1Length), record.encoderMarker);
    if (record.video.aspectX == 1 && record.video.aspectY == 1)
        AspectFromSampleAspect(record.video.aspectX, record.video.aspectY, record.video.width, record.video.height);
    return TsVideoBuild::Built;
}

TsVideoBuild FillMpeg4Visual(const uint8_t* held, uint32_t length, StreamRecord& record)
{
    return FillMpeg4VisualRecord(held, length, record, true) ? TsVideoBuild::Built : TsVideoBuild::Rejected;
}

TsVideoBuild FillH264(const uint8_t* held, uint32_t length, StreamRecord& record, bool allProfiles)
{
    NalScanInfo scan{};
    ScanNalUnits(held, length, scan);
    uint32_t seiIndex = 0;
    record.encoderMarker = FindMarkerSei(scan, seiIndex) ? 1 : 0;
    if (scan.firstSps == nullptr)
        return TsVideoBuild::Rejected;
    // The SPS runs from its start code (three or four bytes) to the next one.
    const uint32_t prefix = scan.firstSps[2] == 1 ? 3 : 4;
    if (scan.firstSpsLength <= prefix)
        return TsVideoBuild::Rejected;
    auto sps = std::unique_ptr<SpsInfo>(new (std::nothrow) SpsInfo());
    if (!sps)
        return TsVideoBuild::NoMemory;
    H264PictureProperties picture{};
    if (!ParseSps(scan.firstSps + prefix, scan.firstSpsLength - prefix, *sps, allProfiles) ||
        !DerivePictureProperties(*sps, picture))
        return TsVideoBuild::Rejected;
    VideoParams& v = record.video;
    v.profile = H264ProfileCode(sps->profile_idc, true);
    v.width = picture.width;
    v.height = picture.height;
    v.frameDuration = picture.frameDuration;
    v.aspectX = picture.aspectX;
    v.aspectY = picture.aspectY;
    record.frameRate = picture.frameRate;
    record.progressive = picture.progressive;
    record.fieldCoding = picture.fieldCoding;
    // MD_EXT_H264_PROFILES: an interlaced stream's first picture tells which field comes first.
    if (allProfiles && !picture.progressive)
        record.fieldOrder = H264FirstFieldOrder(held, length, *sps);
    return TsVideoBuild::Built;
}

}  // namespace

bool TsStreamCodec(uint32_t streamType, bool mpeg1, StreamCodec& codec)
{
    switch (streamType) {
    case 0x02: codec = mpeg1 ? StreamCodec::Mpeg1Video : StreamCodec::Mpeg2Video; return true;
    case 0x1B: codec = StreamCodec::H264Ts; return true;
    case 0x20: codec = StreamCodec::Mvc; return true;
    case 0x03: case 0x04: codec = StreamCodec::Mpeg1Audio; return true;
    case 0x0F: case 0x11: codec = StreamCodec::Aac; return true;
    case 0x80: codec = StreamCodec::Lpcm; return true;
    case 0x81: codec = StreamCodec::Ac3; return true;
    case 0x83: codec = StreamCodec::TsAudio83; return true;
    case 0x85: case 0x86: case 0xA2: codec = StreamCodec::TsAudioDtsHd; return true;
    case 0x10: codec = StreamCodec::Mpeg4Video; return true;
    case 0x24: codec = StreamCodec::Hevc; return true;
    case 0x82: codec = StreamCodec::Dts; return true;
    case kTsEac3StreamType: codec = StreamCodec::Eac3; return true;
    case kTsOpusStreamType: codec = StreamCodec::Opus; return true;
    default: return false;
    }
}

bool HasTsSequenceHeader(const uint8_t* p, uint32_t length, uint32_t streamType, uint32_t extensions)
{
    if (streamType == 0x24 && (extensions & MD_EXT_TS_CODECS) != 0) {
        // A video (32) or sequence (33) parameter set NAL unit: nal_unit_type is bits 1..6 of its first byte.
        const auto parameterSet = [](uint8_t header) {
            const uint32_t type = (header >> 1) & 0x3F;
            return type == 32 || type == 33;
        };
        return FindCodeIf(p, length, parameterSet) < length;
    }
    if (streamType == 0x10 && (extensions & MD_EXT_MORE_CODECS) != 0)
        return FindCodeIf(p, length, [](uint8_t code) { return (code & 0xF0) == 0x20; }) < length;
    return HasSequenceHeader(p, length, streamType);
}

TsVideoBuild BuildTsVideoRecord(const uint8_t* held, uint32_t length, uint32_t streamType, uint32_t pid,
                                uint8_t& mpeg1, uint8_t& headersFound, StreamRecord& record, bool allProfiles,
                                uint32_t extensions)
{
    if (held != nullptr && streamType == 0x24 && (extensions & MD_EXT_TS_CODECS) != 0) {
        HevcPictureProperties props{};
        if (!DescribeHevcAnnexB(held, length, props))
            return TsVideoBuild::Rejected;
        ApplyHevcProperties(props, record);
        headersFound = 1;
        record.streamId = pid;
        return TsVideoBuild::Built;
    }
    if (held != nullptr && streamType == 0x10 && (extensions & MD_EXT_MORE_CODECS) != 0) {
        const TsVideoBuild result = FillMpeg4Visual(held, length, record);
        if (result != TsVideoBuild::Built)
            return result;
        headersFound = 1;
        record.streamClass = StreamClass::Video;
        record.streamId = pid;
        record.codec = StreamCodec::Mpeg4Video;
        return TsVideoBuild::Built;
    }
    const bool h264 = streamType == kModeH264 || streamType == kModeMvc;
    if (held == nullptr || (streamType != kModeMpegVideo && !h264))
        return TsVideoBuild::Rejected;
    if (!CollectHeaders(held, length, record.extraData1, record.extraData1Length, record.extraData2,
                        record.extraData2Length, streamType))
        return TsVideoBuild::Rejected;
    headersFound = 1;
    const TsVideoBuild result =
        h264 ? FillH264(held, length, record, allProfiles)
             : FillMpegVideo(held, length, mpeg1, record, (extensions & MD_EXT_FRAME_RATES) != 0);
    if (result != TsVideoBuild::Built)
        return result;
    record.streamClass = StreamClass::Video;
    record.streamId = pid;
    TsStreamCodec(streamType, mpeg1 != 0, record.codec);
    NormalizeFrameRate(record.frameRate);
    return TsVideoBuild::Built;
}

std::unique_ptr<StreamRecord> BuildTsAudioRecord(const uint8_t* buffer, uint32_t length, uint32_t streamType,
                                                 bool registration, uint32_t pid, int64_t& frameDuration,
                                                 bool frameChecks, uint32_t extensions, const TsOpusLayout& opusLayout)
{
    StreamCodec codec{};
    if (buffer == nullptr || !IsTsAudioStreamType(streamType, extensions) || !TsStreamCodec(streamType, false, codec))
        return nullptr;
    AudioDescription d;
    bool described = false;
    const bool dtsCore = (extensions & MD_EXT_MORE_CODECS) != 0 &&
                         (streamType == 0x82 || ((streamType == 0x85 || streamType == 0x86) && !registration));
    if (streamType == kTsEac3StreamType)
        described = DescribeEac3(buffer, length, d);
    else if (streamType == kTsOpusStreamType)
        described = DescribeOpus(buffer, length, opusLayout, d);
    else if (dtsCore)
        described = DescribeDtsCore(buffer, length, d);
    else
        switch (streamType) {
        case 0x03: case 0x04: described = DescribeMpegAudio(buffer, length, d, frameChecks); break;
        case 0x0F: described = DescribeAdts(buffer, length, d); break;
        case 0x11: described = DescribeLatm(buffer, length, d); break;
        case 0x80: described = DescribeLpcm(buffer, length, d); break;
        case 0x81: described = DescribeAc3(buffer, length, d); break;
        case 0x83: described = DescribeMlp(buffer, length, d); break;
        default: described = DescribeDtsHd(registration, d); break;
        }
    if (!described)
        return nullptr;
    auto record = NewStreamRecord();
    if (!record)
        return nullptr;
    record->streamClass = StreamClass::Audio;
    record->streamId = pid;
    record->codec = d.codec.value_or(codec);
    SetAudioFormat(record->audio, d.format);
    std::copy(d.codecSpecific.begin(), d.codecSpecific.end(), record->audio.codecSpecific);
    record->audio.channelMask = d.channelMask;
    if (d.hasFrameDuration)
        frameDuration = d.frameDuration;
    return record;
}

std::unique_ptr<StreamRecord> TSDemux::HandleVideoPacket(const uint8_t* packet)
{
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    bool pesStart = false;
    if (!TsPesPayload(packet, payload, size, pesStart) || size == 0)
        return nullptr;
    const uint32_t streamType = static_cast<uint32_t>(m_selection->videoStreamType);
    RingBuffer& ring = *m_videoRing;
    const uint32_t held = ring.Count();
    if (held == 0) {
        // Wait for the payload that holds the first sequence header (or SPS); the
        // last 4 bytes carry over so a start code split across packets is found.
        if (m_videoSideCount + size > m_videoSide.size())
            m_videoSideCount = 0;
        std::memcpy(m_videoSide.data() + m_videoSideCount, payload, size);
        m_videoSideCount += size;
        if (HasTsSequenceHeader(m_videoSide.data(), m_videoSideCount, streamType, m_extensions)) {
            ring.Write(m_videoSide.data(), m_videoSideCount);
        } else {
            const uint32_t keep = std::min<uint32_t>(size, 4);
            std::memmove(m_videoSide.data(), payload + size - keep, keep);
            m_videoSideCount = keep;
        }
        return nullptr;
    }
    if (held < kVideoHeldBytes) {
        ring.Write(payload, size);
        return nullptr;
    }
    if (m_videoHeldRejected)
        return nullptr;

    // The held bytes are contiguous: they never reach the ring's capacity.
    auto record = NewStreamRecord();
    if (!record)
        return nullptr;
    const TsVideoBuild result = BuildTsVideoRecord(ring.ReadPointer(), held, streamType,
                                                   uint32_t(m_selection->videoPid), m_mpeg1, m_videoHeaderSeen, *record,
                                                   (m_extensions & MD_EXT_H264_PROFILES) != 0, m_extensions);
    if (result == TsVideoBuild::Rejected)
        m_videoHeldRejected = 1;
    if (result != TsVideoBuild::Built)
        return nullptr;
    m_videoRecordDone = 1;
    m_times.videoFrameDuration = record->frameRate > 0 ? static_cast<int64_t>(1e7 / record->frameRate) : 0;
    return record;
}

std::unique_ptr<StreamRecord> TSDemux::HandleAudioPacket(const uint8_t* packet)
{
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    bool pesStart = false;
    if (!TsPesPayload(packet, payload, size, pesStart))
        return nullptr;
    if (pesStart && size > 0)
        m_audioStarted = 1;
    if (!m_audioStarted)
        return nullptr;
    // Examine the previous payload and this one together, then keep this one.
    if (m_audioCount + size > m_audioBuffer.size())
        m_audioCount = 0;
    std::memcpy(m_audioBuffer.data() + m_audioCount, payload, size);
    m_audioCount += size;
    auto record = BuildTsAudioRecord(m_audioBuffer.data(), m_audioCount, uint32_t(m_selection->audioStreamType),
                                     m_registrationDescriptor != 0, uint32_t(m_selection->audioPid),
                                     m_times.audioFrameDuration, (m_extensions & MD_EXT_MPEG_AUDIO_SYNC) != 0,
                                     m_extensions, m_selection->audioOpusLayout);
    std::memcpy(m_audioBuffer.data(), payload, size);
    m_audioCount = size;
    if (record)
        m_audioRecordDone = 1;
    return record;
}

}  // namespace md
