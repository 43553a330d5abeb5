#include "component/record_builders.h"

#include <cstring>

namespace md {
namespace {

constexpr uint32_t Code(StreamCodec c) { return static_cast<uint32_t>(c); }

// The H.264 family the selection methods describe with format 4 (or 9 for MVC).
void DescribeH264(const StreamRecord& r, uint32_t format, bool selection, VideoBuild& b)
{
    b.info.format = format;
    b.info.profile = r.video.profile;
    if (r.progressive)
        return;
    b.fieldCoding = r.fieldCoding;
    if (selection)
        b.info.fieldOrder = r.fieldOrder == 2 ? 2 : 1;  // top first unless the record (MD_EXT_H264_PROFILES) says
    else
        b.scan = FieldOrderScan::Mp4Slice;
}

bool IsH264FourCC(const StreamRecord& r)
{
    // A Matroska VfW track keeps its BITMAPINFOHEADER in the first header area;
    // biCompression, the FourCC, is at byte 16.
    return r.extraData1Length >= 20 && std::memcmp(r.extraData1 + 16, "H264", 4) == 0;
}

// Codecs that only extensions produce: every builder describes them alike; an interlaced one is top field first
// unless its record says bottom first.
void DescribeExtended(const StreamRecord& r, uint32_t format, VideoBuild& b)
{
    b.info.format = format;
    b.info.profile = r.video.profile;
    b.info.fieldOrder = r.progressive ? 0 : r.fieldOrder == 2 ? 2 : 1;
}

// The video format of each codec, for the container families beyond MPEG, MP4 and Matroska.
VideoFormatCode FileVideoFormat(StreamCodec codec)
{
    switch (codec) {
    case StreamCodec::Mpeg1Video: return VF_MPEG1;
    case StreamCodec::Mpeg2Video: return VF_MPEG2;
    case StreamCodec::Mpeg4Video: return VF_MPEG4;
    case StreamCodec::H263: return VF_H263;
    case StreamCodec::H264:
    case StreamCodec::H264Ts: return VF_H264;
    case StreamCodec::Mvc: return VF_H264_MVC;
    case StreamCodec::Cinepak: return VF_CINEPAK;
    case StreamCodec::Jpeg: return VF_MJPEG;
    case StreamCodec::Hevc: return VF_HEVC;
    case StreamCodec::Vp8: return VF_VP8;
    case StreamCodec::Vp9: return VF_VP9;
    case StreamCodec::Av1: return VF_AV1;
    case StreamCodec::Ffv1: return VF_FFV1;
    case StreamCodec::ProRes: return VF_PRORES;
    case StreamCodec::Theora: return VF_THEORA;
    case StreamCodec::Wmv: return VF_WMV;
    case StreamCodec::Vc1: return VF_VC1;
    case StreamCodec::Vp6: return VF_VP6;
    case StreamCodec::Flv1: return VF_FLV1;
    case StreamCodec::DvVideo: return VF_DV;
    case StreamCodec::DnxHd: return VF_DNXHD;
    case StreamCodec::HuffYuv: return VF_HUFFYUV;
    case StreamCodec::RawVideo: return VF_RAW;
    case StreamCodec::MsMpeg4: return VF_MSMPEG4;
    case StreamCodec::Jpeg2000: return VF_JPEG2000;
    case StreamCodec::ScreenVideo: return VF_SCREEN;
    default: return VF_NONE;
    }
}

}  // namespace

VideoBuild BuildVideo(const StreamRecord& r, RecordBuilder builder)
{
    VideoBuild b;
    b.info.frameRate = r.frameRate;
    b.info.bitRate = r.video.bitRate;
    b.info.width = r.video.width;
    b.info.height = r.video.height;
    b.info.aspectX = r.video.aspectX;
    b.info.aspectY = r.video.aspectY;
    const bool open = builder == RecordBuilder::Open;
    const bool selection = builder == RecordBuilder::Selection;
    if (builder == RecordBuilder::File) {
        b.info.format = FileVideoFormat(r.codec);
        b.info.profile = r.video.profile;
        b.info.fieldOrder = r.fieldOrder;
        return b;
    }

    switch (r.codec) {
    case StreamCodec::Mpeg1Video: b.info.format = VF_MPEG1; break;
    case StreamCodec::Mpeg2Video:
        b.info.format = VF_MPEG2;
        if (!r.progressive)
            b.scan = FieldOrderScan::Mpeg2Picture;
        b.encoderMarker = r.encoderMarker;
        break;
    case StreamCodec::Mpeg4Video:
        b.info.format = VF_MPEG4;
        if (!r.progressive)
            b.scan = FieldOrderScan::Mp4FirstSample;
        break;
    case StreamCodec::H263:
        if (open) {
            b.info.format = VF_H263;
            b.info.profile = r.video.profile;
        }
        break;
    case StreamCodec::H264:
        if (open || selection)
            DescribeH264(r, VF_H264, selection, b);
        if (selection)
            b.encoderMarker = r.encoderMarker;
        break;
    case StreamCodec::H264Ts:
        if (selection) {
            DescribeH264(r, VF_H264, true, b);
            b.encoderMarker = r.encoderMarker;
        } else if (builder == RecordBuilder::Reopen) {
            b.info.format = VF_H264;
            b.info.profile = r.video.profile;
            b.info.fieldOrder = r.progressive ? 0 : r.fieldOrder == 2 ? 2 : 1;
        }
        break;
    case StreamCodec::VfwVideo:
        if (selection && IsH264FourCC(r)) {
            DescribeH264(r, VF_H264, true, b);
            b.encoderMarker = r.encoderMarker;
        }
        break;
    case StreamCodec::Mvc:
        if (open || selection)
            DescribeH264(r, VF_H264_MVC, selection, b);
        if (selection)
            b.encoderMarker = r.encoderMarker;
        break;
    case StreamCodec::Cinepak:
        if (open)
            b.info.format = VF_CINEPAK;
        break;
    case StreamCodec::Jpeg:
        if (open)
            b.info.format = VF_MJPEG;
        else if (selection)  // a Matroska V_MJPEG track, described only with extensions
            DescribeExtended(r, VF_MJPEG, b);
        break;
    case StreamCodec::Hevc: DescribeExtended(r, VF_HEVC, b); break;
    case StreamCodec::Vp8: DescribeExtended(r, VF_VP8, b); break;
    case StreamCodec::Vp9: DescribeExtended(r, VF_VP9, b); break;
    case StreamCodec::Av1: DescribeExtended(r, VF_AV1, b); break;
    case StreamCodec::Ffv1: DescribeExtended(r, VF_FFV1, b); break;
    case StreamCodec::ProRes: DescribeExtended(r, VF_PRORES, b); break;
    case StreamCodec::Theora: DescribeExtended(r, VF_THEORA, b); break;
    case StreamCodec::DvVideo: DescribeExtended(r, VF_DV, b); break;
    default: break;
    }
    return b;
}

uint32_t ChannelMask(uint8_t codingMode, bool lfe, bool withExtendedModes)
{
    uint32_t mask = 0;
    switch (codingMode) {
    case 1: mask = 0x4; break;
    case 2: mask = 0x3; break;
    case 3: mask = 0x7; break;
    case 4:
    case 5: mask = 0x103; break;
    case 6: mask = 0x33; break;
    case 7: mask = 0x37; break;
    case 16: mask = withExtendedModes ? 0x177 : 0; break;
    case 17: mask = withExtendedModes ? 0x1F7 : 0; break;
    default: break;
    }
    return lfe ? mask + 0x8 : mask;
}

AudioBuild BuildAudio(const StreamRecord& r, RecordBuilder builder)
{
    AudioBuild b;
    const uint32_t codec = Code(r.codec);
    const bool file = builder == RecordBuilder::File;
    const bool open = builder == RecordBuilder::Open || file;
    const bool reopen = builder == RecordBuilder::Reopen;
    const bool mpeg = codec == 9 || codec == 10;
    const bool multi = codec == 11 || codec == 12 || codec == 38 || ((codec == 17 || codec == 18) && !reopen);
    // Which codecs this builder accepts, and whether it makes the extended record.
    bool withEx = false;
    if (mpeg || multi) {
        b.accepted = true;
        withEx = !open;
    } else if (codec == 13) {
        b.accepted = true;
    } else if (codec == 14 || codec == 15 || codec == 16) {
        b.accepted = true;
        withEx = !open;
    } else if (codec == 28) {
        b.accepted = open;
    } else if (codec == 20) {
        b.accepted = builder == RecordBuilder::Selection;
        withEx = true;
    } else if (codec == 39 || codec == 40 || codec == 57 || codec == 58 || codec == 59 || codec == 61 || codec == 62) {
        // Opus, FLAC, float PCM, A-law, mu-law, ADPCM, ALAC: only extensions produce them
        b.accepted = true;
        withEx = !open;
    }

    static constexpr AudioFormatCode kFormats[] = {
        AF_NONE, AF_NONE, AF_NONE,  AF_NONE,    AF_NONE,    AF_NONE,     AF_NONE,   AF_NONE,
        AF_NONE, AF_MPEG1, AF_MPEG2, AF_AC3,    AF_DTS,     AF_PCM_LE,   AF_PCM_BE, AF_AAC,
        AF_AMR,  AF_TRUEHD, AF_DTSHD, AF_NONE,  AF_VORBIS,  AF_NONE,     AF_NONE,   AF_NONE,
        AF_NONE, AF_NONE,  AF_NONE,  AF_NONE,   AF_MP3,     AF_NONE,     AF_NONE,   AF_NONE,
        AF_NONE, AF_NONE,  AF_NONE,  AF_NONE,   AF_NONE,    AF_NONE,     AF_EAC3,   AF_OPUS,
        AF_FLAC, AF_NONE,  AF_NONE,  AF_NONE,   AF_NONE,    AF_NONE,     AF_NONE,   AF_NONE,
        AF_NONE, AF_NONE,  AF_NONE,  AF_NONE,   AF_NONE,    AF_NONE,     AF_NONE,   AF_NONE,
        AF_NONE, AF_PCM_FLOAT, AF_ALAW, AF_MULAW, AF_SPEEX, AF_ADPCM,   AF_ALAC,   AF_AMR_WB,
        AF_WMA,  AF_WMA_PRO, AF_WMA_LOSSLESS, AF_WMA_VOICE, AF_NELLYMOSER,
    };
    static_assert(std::size(kFormats) == Code(StreamCodec::Nellymoser) + 1);
    const AudioFormatCode format = codec < std::size(kFormats) ? kFormats[codec] : AF_NONE;
    // The container families describe every codec that has a format code, each with its extended record.
    if (file) {
        b.accepted = format != AF_NONE;
        withEx = true;
    }
    if (!b.accepted)
        return b;
    const AudioParams& a = r.audio;
    b.info.format = format;
    b.info.channels = a.channels;
    b.info.sampleRate = a.sampleRate;
    b.info.byteRate = a.bytesPerSecond;
    b.info.blockAlign = a.blockAlign;
    b.info.bitsPerSample = a.bitsPerSample;
    b.info.bitRate = mpeg ? a.codecSpecific[2] : a.bytesPerSecond * 8;

    uint32_t formatWords[3] = {};
    if (mpeg) {
        MpegAudioLayerInfo m{};
        m.layer = a.codecSpecific[0] + 1;
        m.channelMode = a.codecSpecific[1];
        m.protectionBit = a.CodecByte(3, 1) & 1;  // second header byte
        std::memcpy(formatWords, &m, sizeof m);
        b.mpegAudio = m;
    } else if (multi) {
        MultiChannelInfo m{};
        m.codingMode = static_cast<uint8_t>(a.codecSpecific[0]);
        m.lfe = a.CodecByte(2, 0);
        m.channelMask = a.channelMask != 0 ? a.channelMask : ChannelMask(m.codingMode, m.lfe != 0, !reopen);
        if (open)
            m.streamIdByte = a.CodecByte(4, 0);
        std::memcpy(formatWords, &m, sizeof m);
        b.multiChannel = m;
    } else if ((file || r.codec == StreamCodec::Opus) && a.channelMask != 0) {
        // A mask the container or the codec states (WAVE_FORMAT_EXTENSIBLE, an Opus layout): the speakers, and
        // whether one is the LFE. Elsewhere the word may hold other bytes (a Matroska AAC track's
        // AudioSpecificConfig runs on into it).
        MultiChannelInfo m{};
        m.lfe = (a.channelMask & 0x8) != 0;
        m.channelMask = a.channelMask;
        std::memcpy(formatWords, &m, sizeof m);
        b.multiChannel = m;
    }
    if (withEx) {
        AudioInfoEx ex{};
        std::memcpy(&ex, &b.info, sizeof b.info);
        std::memcpy(ex.formatInfo, formatWords, sizeof formatWords);
        b.ex = ex;
    }
    if (r.codec == StreamCodec::Aac)
        b.aacClass = a.codecSpecific[0] == 2 ? 0 : a.codecSpecific[0] == 5 ? 1 : 2;
    return b;
}

FirstStreams FindFirstStreams(const StreamList& streams, RecordBuilder builder)
{
    FirstStreams first;
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const StreamRecord* r = streams.At(i);
        if (r == nullptr)
            continue;
        if (r->streamClass == StreamClass::Video && !first.video)
            first.video = r;
        else if (r->streamClass == StreamClass::Audio && !first.audio && BuildAudio(*r, builder).accepted)
            first.audio = r;
    }
    return first;
}

}  // namespace md
