#include "flv/flv_tags.h"

#include <algorithm>
#include <array>

#include "es/aac_config.h"
#include "es/audio_headers.h"
#include "es/bit_reader.h"
#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"

namespace md {
namespace {

// Enhanced video VideoPacketType values.
constexpr uint8_t kSequenceStart = 0;
constexpr uint8_t kCodedFrames = 1;
constexpr uint8_t kCodedFramesX = 3;  // coded frames without a composition time
constexpr uint8_t kMultitrack = 6;
constexpr uint8_t kModEx = 7;
// AVCPacketType values.
constexpr uint8_t kAvcSequenceHeader = 0;
constexpr uint8_t kAvcNalu = 1;
// A command frame (FrameType 5) carries one command byte, no picture.
constexpr uint8_t kCommandFrame = 5;

// The composition time (SI24) after the AVCPacketType, and after the enhanced header of coded AVC and HEVC frames.
constexpr size_t kCompositionTimeBytes = 3;

// AVCDecoderConfigurationRecord (ISO/IEC 14496-15 5.2.4.1): the parameter sets into the header areas, the picture
// from the first SPS that parses. The rate only where the SPS states its timing (else the default the SPS parser
// assumes would stand for a stated one).
bool DescribeAvc(Bytes config, StreamRecord& r, bool allProfiles)
{
    ByteReader in(config);
    const uint8_t version = in.U8();
    const uint8_t profile = in.U8();
    in.U8();  // profile_compatibility
    const uint8_t level = in.U8();
    const uint32_t nalLengthSize = (in.U8() & 3u) + 1;
    const uint32_t spsCount = in.U8() & 31u;
    if (!in.ok() || version != 1)
        return false;
    r.video.profile = H264ProfileCode(profile, false);
    r.video.level = level;
    r.nalLengthSize = nalLengthSize;
    bool described = false;
    for (uint32_t i = 0; i < spsCount; ++i) {
        const Bytes unit = in.Span(in.U16());
        if (!in.ok() || unit.empty())
            return described;
        AppendHeaderUnit(r.extraData1, r.extraData1Length, unit.data(), unit.size());
        SpsInfo sps{};
        H264PictureProperties picture{};
        if (described || !ParseSps(unit.data(), static_cast<uint32_t>(unit.size()), sps, allProfiles) ||
            !DerivePictureProperties(sps, picture))
            continue;
        described = true;
        r.video.width = picture.width;
        r.video.height = picture.height;
        r.video.aspectX = picture.aspectX;
        r.video.aspectY = picture.aspectY;
        r.progressive = picture.progressive;
        r.fieldCoding = picture.fieldCoding;
        r.fieldOrder = picture.progressive ? 0 : 1;  // the SPS does not say which field comes first: top
        if (sps.vui_parameters_present_flag && sps.timing_info_present_flag && picture.frameRate > 0) {
            r.frameRate = picture.frameRate;
            r.video.frameDuration = picture.frameDuration;
        }
    }
    const uint32_t ppsCount = in.U8();
    for (uint32_t i = 0; i < ppsCount && in.ok(); ++i) {
        const Bytes unit = in.Span(in.U16());
        if (in.ok() && !unit.empty())
            AppendHeaderUnit(r.extraData2, r.extraData2Length, unit.data(), unit.size());
    }
    return described;
}

bool DescribeHevc(Bytes config, StreamRecord& r)
{
    HevcPictureProperties props{};
    if (!DescribeHevcConfiguration(config.data(), config.size(), props))
        return false;
    ApplyHevcProperties(props, r);
    CollectHevcHeaders(config.data(), config.size(), true, r);
    return true;
}

bool DescribeAv1(Bytes config, StreamRecord& r)
{
    Av1SequenceInfo info;
    if (!ParseAv1Configuration(config, info))
        return false;
    SetSquarePicture(r, info.width, info.height);
    r.video.profile = info.profile;
    r.video.level = info.level;
    if (info.frameRate > 0)
        r.frameRate = info.frameRate;
    return true;
}

// The Sorenson H.263 picture header: PictureStartCode (17 bits, 1), Version (5), TemporalReference (8) and
// PictureSize (3): a custom size in 8 or 16 bits each, or one of five fixed sizes.
bool DescribeSorensonH263(Bytes picture, StreamRecord& r)
{
    BitReader in(picture.data(), picture.size());
    if (in.Bits(17) != 1 || in.Bits(5) > 1)
        return false;
    in.Bits(8);  // TemporalReference
    static constexpr std::array<std::array<uint32_t, 2>, 5> kFixedSizes = {
        {{352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}}};
    uint32_t width = 0;
    uint32_t height = 0;
    const uint32_t pictureSize = in.Bits(3);
    if (pictureSize == 0 || pictureSize == 1) {
        const int bits = pictureSize == 0 ? 8 : 16;
        width = in.Bits(bits);
        height = in.Bits(bits);
    } else if (pictureSize < 7) {
        width = kFixedSizes[pictureSize - 2][0];
        height = kFixedSizes[pictureSize - 2][1];
    }
    if (in.Overrun() || width == 0 || height == 0)
        return false;
    SetSquarePicture(r, width, height);
    return true;
}

// VP6 in FLV: an adjustment byte (the pixels to crop from the right, high nibble, and from the bottom), for VP6
// with alpha the 24-bit offset of the alpha data, then the VP6 frame. Only key frames (frame_mode 0) state the
// size: after the two header bytes, and the 16-bit second-partition offset where the frame has one (the marker
// bit set, or the simple profile 0), the macroblock rows and columns.
bool DescribeVp6(Bytes payload, bool alpha, StreamRecord& r)
{
    ByteReader in(payload);
    const uint8_t adjust = in.U8();
    if (alpha)
        in.Skip(3);  // OffsetToAlpha
    const Bytes frame = in.Rest();
    if (!in.ok() || frame.size() < 2 || (frame[0] & 0x80) != 0)
        return false;
    const bool marker = (frame[0] & 1) != 0;
    const uint32_t profile = frame[1] >> 1 & 3;
    const size_t dims = marker || profile == 0 ? 4 : 2;
    if (!Has(frame, dims, 2) || frame[dims] == 0 || frame[dims + 1] == 0)
        return false;
    const uint32_t width = frame[dims + 1] * 16u;
    const uint32_t height = frame[dims] * 16u;
    const uint32_t cropX = adjust >> 4;
    const uint32_t cropY = adjust & 0x0F;
    SetSquarePicture(r, width - cropX, height - cropY);
    r.progressive = (frame[1] & 1) ? 0 : 1;  // the interlace flag
    r.fieldOrder = r.progressive ? 0 : 1;
    return true;
}

// Screen video (versions 1 and 2): BlockWidth (4 bits) and ImageWidth (12), BlockHeight and ImageHeight.
bool DescribeScreenVideo(Bytes picture, StreamRecord& r)
{
    const uint32_t width = Be16At(picture, 0) & 0x0FFF;
    const uint32_t height = Be16At(picture, 2) & 0x0FFF;
    if (width == 0 || height == 0)
        return false;
    SetSquarePicture(r, width, height);
    return true;
}

// AV1 uvlc(): leading zeros, then that many bits.
uint32_t ReadUvlc(BitReader& in)
{
    int zeros = 0;
    while (in.Bit() == 0) {
        if (in.Overrun() || ++zeros >= 32)
            return 0xFFFFFFFF;
    }
    return zeros == 0 ? 0 : in.Bits(zeros) + ((1u << zeros) - 1);
}

// sequence_header_obu() up to max_frame_height_minus_1.
bool ParseAv1SequenceHeader(Bytes obu, Av1SequenceInfo& out)
{
    BitReader in(obu.data(), obu.size());
    out.profile = in.Bits(3);
    in.Bit();  // still_picture
    if (in.Bit()) {  // reduced_still_picture_header
        out.level = in.Bits(5);
    } else {
        bool decoderModelInfo = false;
        int bufferDelayBits = 0;
        if (in.Bit()) {  // timing_info_present_flag
            const uint32_t displayTick = in.Bits(32);  // num_units_in_display_tick
            const uint32_t timeScale = in.Bits(32);
            if (in.Bit()) {  // equal_picture_interval
                const uint32_t ticksMinus1 = ReadUvlc(in);
                if (displayTick != 0 && timeScale != 0)
                    out.frameRate = double(timeScale) / (double(displayTick) * (double(ticksMinus1) + 1));
            }
            decoderModelInfo = in.Bit();
            if (decoderModelInfo) {
                bufferDelayBits = int(in.Bits(5)) + 1;  // buffer_delay_length_minus_1
                in.Bits(32);  // num_units_in_decoding_tick
                in.Bits(10);  // buffer_removal_time_length_minus_1, frame_presentation_time_length_minus_1
            }
        }
        const bool initialDisplayDelay = in.Bit();
        const uint32_t operatingPoints = in.Bits(5) + 1;
        for (uint32_t i = 0; i < operatingPoints && !in.Overrun(); ++i) {
            in.Bits(12);  // operating_point_idc
            const uint32_t level = in.Bits(5);
            if (i == 0)
                out.level = level;
            if (level > 7)
                in.Bit();  // seq_tier
            if (decoderModelInfo && in.Bit())  // decoder_model_present_for_this_op: operating_parameters_info()
                in.Skip(size_t(2 * bufferDelayBits + 1));
            if (initialDisplayDelay && in.Bit())
                in.Bits(4);  // initial_display_delay_minus_1
        }
    }
    const int widthBits = int(in.Bits(4)) + 1;
    const int heightBits = int(in.Bits(4)) + 1;
    out.width = in.Bits(widthBits) + 1;
    out.height = in.Bits(heightBits) + 1;
    return !in.Overrun();
}

}  // namespace

void SetSquarePicture(StreamRecord& r, uint32_t width, uint32_t height)
{
    r.video.width = width;
    r.video.height = height;
    r.video.aspectX = 1;
    r.video.aspectY = 1;
    AspectFromSampleAspect(r.video.aspectX, r.video.aspectY, width, height);
    r.progressive = 1;
}

bool ReadVideoTag(Bytes data, FlvVideoTag& tag)
{
    tag = {};
    if (data.empty())
        return false;
    const uint8_t first = data[0];
    if (first & 0x80) {
        // ExVideoTagHeader: IsExHeader, FrameType (3 bits), VideoPacketType (4 bits), the FourCC.
        tag.enhanced = true;
        tag.frameType = first >> 4 & 7;
        const uint8_t packetType = first & 0x0F;
        if (tag.frameType == kCommandFrame || packetType == kMultitrack || packetType == kModEx || data.size() < 5)
            return false;
        tag.fourCC = Be32(data.data() + 1);
        tag.configuration = packetType == kSequenceStart;
        tag.picture = packetType == kCodedFrames || packetType == kCodedFramesX;
        size_t at = 5;
        if (packetType == kCodedFrames && (tag.fourCC == FourCC("avc1") || tag.fourCC == FourCC("hvc1")))
            at += kCompositionTimeBytes;
        tag.payload = data.subspan(std::min(at, data.size()));
        return true;
    }
    tag.frameType = first >> 4;
    tag.codecId = first & 0x0F;
    if (tag.frameType == kCommandFrame)
        return false;
    if (tag.codecId == uint8_t(FlvVideoCodec::Avc)) {
        if (data.size() < 2)
            return false;
        tag.configuration = data[1] == kAvcSequenceHeader;
        tag.picture = data[1] == kAvcNalu;
        tag.payload = data.subspan(std::min<size_t>(2 + kCompositionTimeBytes, data.size()));
        return true;
    }
    tag.picture = true;
    tag.payload = data.subspan(1);
    return true;
}

bool VideoCodecOf(const FlvVideoTag& tag, StreamCodec& codec)
{
    if (tag.enhanced) {
        switch (tag.fourCC) {
        case FourCC("avc1"): codec = StreamCodec::H264; return true;
        case FourCC("hvc1"): codec = StreamCodec::Hevc; return true;
        case FourCC("av01"): codec = StreamCodec::Av1; return true;
        case FourCC("vp09"): codec = StreamCodec::Vp9; return true;
        case FourCC("vp08"): codec = StreamCodec::Vp8; return true;
        default: return false;
        }
    }
    switch (FlvVideoCodec(tag.codecId)) {
    case FlvVideoCodec::Jpeg: codec = StreamCodec::Jpeg; return true;
    case FlvVideoCodec::SorensonH263: codec = StreamCodec::Flv1; return true;
    case FlvVideoCodec::ScreenVideo:
    case FlvVideoCodec::ScreenVideo2: codec = StreamCodec::ScreenVideo; return true;
    case FlvVideoCodec::Vp6:
    case FlvVideoCodec::Vp6Alpha: codec = StreamCodec::Vp6; return true;
    case FlvVideoCodec::Avc: codec = StreamCodec::H264; return true;
    default: return false;
    }
}

bool DescribeVideoTag(const FlvVideoTag& tag, StreamRecord& r, bool allProfiles)
{
    switch (r.codec) {
    case StreamCodec::H264: return tag.configuration && DescribeAvc(tag.payload, r, allProfiles);
    case StreamCodec::Hevc: return tag.configuration && DescribeHevc(tag.payload, r);
    case StreamCodec::Av1: return tag.configuration && DescribeAv1(tag.payload, r);
    case StreamCodec::Flv1: return tag.picture && DescribeSorensonH263(tag.payload, r);
    case StreamCodec::Vp6:
        return tag.picture && DescribeVp6(tag.payload, tag.codecId == uint8_t(FlvVideoCodec::Vp6Alpha), r);
    case StreamCodec::ScreenVideo: return tag.picture && DescribeScreenVideo(tag.payload, r);
    default: return true;  // JPEG, VP8, VP9: their pictures are not read
    }
}

bool ReadAudioTag(Bytes data, FlvAudioTag& tag)
{
    tag = {};
    if (data.empty())
        return false;
    tag.soundFormat = data[0] >> 4;
    tag.rateIndex = data[0] >> 2 & 3;
    tag.sixteenBit = (data[0] & 2) != 0;
    tag.stereo = (data[0] & 1) != 0;
    if (tag.soundFormat == uint8_t(FlvSoundFormat::Aac)) {
        tag.aacSequenceHeader = data.size() >= 2 && data[1] == 0;
        tag.payload = data.subspan(std::min<size_t>(2, data.size()));
    } else {
        tag.payload = data.subspan(1);
    }
    return true;
}

uint32_t FlvSoundRate(uint8_t rateIndex)
{
    static constexpr std::array<uint32_t, 4> kRates = {5512, 11025, 22050, 44100};
    return kRates[rateIndex & 3];
}

bool AudioCodecOf(const FlvAudioTag& tag, StreamCodec& codec)
{
    switch (FlvSoundFormat(tag.soundFormat)) {
    case FlvSoundFormat::PcmPlatformEndian:
    case FlvSoundFormat::PcmLittleEndian: codec = StreamCodec::PcmLittleEndian; return true;
    case FlvSoundFormat::Adpcm: codec = StreamCodec::Adpcm; return true;
    case FlvSoundFormat::Mp3:
    case FlvSoundFormat::Mp3At8k: codec = StreamCodec::Mpeg1Audio; return true;
    case FlvSoundFormat::Nellymoser16kMono:
    case FlvSoundFormat::Nellymoser8kMono:
    case FlvSoundFormat::Nellymoser: codec = StreamCodec::Nellymoser; return true;
    case FlvSoundFormat::G711Alaw: codec = StreamCodec::Alaw; return true;
    case FlvSoundFormat::G711Mulaw: codec = StreamCodec::Mulaw; return true;
    case FlvSoundFormat::Aac: codec = StreamCodec::Aac; return true;
    case FlvSoundFormat::Speex: codec = StreamCodec::Speex; return true;
    default: return false;
    }
}

bool DescribeAudioTag(const FlvAudioTag& tag, StreamRecord& r)
{
    AudioParams& a = r.audio;
    a.channels = tag.stereo ? 2 : 1;
    a.sampleRate = FlvSoundRate(tag.rateIndex);
    a.blockAlign = 1;
    switch (FlvSoundFormat(tag.soundFormat)) {
    case FlvSoundFormat::PcmPlatformEndian:
    case FlvSoundFormat::PcmLittleEndian:
        // Little-endian samples (the platforms that wrote "platform endian" PCM were), unsigned when 8-bit.
        a.bitsPerSample = tag.sixteenBit ? 16 : 8;
        a.blockAlign = a.channels * a.bitsPerSample / 8;
        a.bytesPerSecond = a.sampleRate * a.blockAlign;
        return true;
    case FlvSoundFormat::Adpcm:
        // Each packet opens with AdpcmCodeSize: the bits per code, less 2.
        a.bitsPerSample = tag.payload.empty() ? 0 : (tag.payload[0] >> 6) + 2u;
        return true;
    case FlvSoundFormat::Mp3:
    case FlvSoundFormat::Mp3At8k: {
        if (tag.soundFormat == uint8_t(FlvSoundFormat::Mp3At8k))
            a.sampleRate = 8000;
        // The frame header: 11 sync bits (MPEG 2.5 clears the twelfth), then ID, layer and the rest.
        const uint8_t* p = tag.payload.data();
        const auto n = static_cast<uint32_t>(tag.payload.size());
        if (n < 2 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || !IsValidMpegAudioHeader(p, n) ||
            !ReadMpegAudioRecord(p, n, a))
            return false;
        if ((p[1] & 0x10) == 0)
            a.sampleRate /= 2;  // MPEG 2.5: half the rates of MPEG-2
        r.codec = (p[1] & 0x08) ? StreamCodec::Mpeg1Audio : StreamCodec::Mpeg2Audio;  // the ID bit
        return true;
    }
    case FlvSoundFormat::Nellymoser16kMono: a.sampleRate = 16000, a.channels = 1; return true;
    case FlvSoundFormat::Nellymoser8kMono: a.sampleRate = 8000, a.channels = 1; return true;
    case FlvSoundFormat::Nellymoser: return true;
    case FlvSoundFormat::G711Alaw:
    case FlvSoundFormat::G711Mulaw:
        // G.711 is sampled at 8 kHz whatever SoundRate says.
        a.sampleRate = 8000;
        a.bitsPerSample = 8;
        a.blockAlign = a.channels;
        a.bytesPerSecond = a.sampleRate * a.channels;
        return true;
    case FlvSoundFormat::Speex: a.sampleRate = 16000, a.channels = 1; return true;  // always 16 kHz mono
    case FlvSoundFormat::Aac: {
        AacConfig config;
        if (!tag.aacSequenceHeader || !ParseAudioSpecificConfig(tag.payload, config))
            return false;
        a.sampleRate = config.sampleRate;
        if (config.channels != 0)
            a.channels = config.channels;
        a.codecSpecific[0] = config.objectType;
        return true;
    }
    default: return false;
    }
}

bool ParseAv1Configuration(Bytes config, Av1SequenceInfo& out)
{
    out = {};
    // AV1CodecConfigurationRecord: marker (1) and version (1), seq_profile and seq_level_idx_0, two more bytes of
    // fields, then the configOBUs.
    if (config.size() < 4 || config[0] != 0x81)
        return false;
    size_t at = 4;
    while (at < config.size()) {
        const uint8_t header = config[at];
        const uint32_t type = header >> 3 & 0x0F;
        at += (header & 0x04) ? 2 : 1;  // obu_extension_flag: one more header byte
        uint64_t size = config.size() - std::min(at, config.size());
        if (header & 0x02) {  // obu_has_size_field: leb128
            size = 0;
            int i = 0;
            for (; i < 8 && at < config.size(); ++i) {
                const uint8_t b = config[at++];
                size |= uint64_t(b & 0x7F) << (7 * i);
                if ((b & 0x80) == 0)
                    break;
            }
            if (i == 8)
                return false;
        }
        if (at > config.size() || size > config.size() - at)
            return false;
        constexpr uint32_t kObuSequenceHeader = 1;
        if (type == kObuSequenceHeader)
            return ParseAv1SequenceHeader(config.subspan(at, size_t(size)), out);
        at += size_t(size);
    }
    return false;
}

}  // namespace md
