// The description of one elementary stream that every demultiplexer fills and
// the detector reads: class, id, codec, the class-dependent parameters and the
// stream's sequence-level and picture-level headers.
//
// A StreamRecord is one fixed-size, trivially copyable block with both 25600-byte
// header areas inside, so one allocation holds a whole description and a record
// is copied with a plain byte copy. Records are created zero-filled
// (NewStreamRecord, or `StreamRecord r{}`), so every field no parser sets reads 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace md {

enum class StreamClass : uint32_t {
    Audio = 0,
    Video = 1,
    Subtitle = 2,
};

// Codec of a described stream (0..31; 3, 4, 5, 8 and 30 are not produced; 32 on only with extensions on).
enum class StreamCodec : uint32_t {
    Mpeg1Video = 0,
    Mpeg2Video = 1,
    Mpeg4Video = 2,     // MPEG-4 Visual (ISO/IEC 14496-2)
    H263 = 6,
    H264 = 7,           // MP4 and Matroska
    Mpeg1Audio = 9,     // layer in the codec-specific words
    Mpeg2Audio = 10,
    Ac3 = 11,
    Dts = 12,
    PcmLittleEndian = 13,  // also unsigned 8-bit
    Lpcm = 14,             // DVD/Blu-ray LPCM and big-endian PCM
    Aac = 15,
    AmrNb = 16,
    TsAudio83 = 17,        // transport stream_type 0x83 (TrueHD / MLP)
    TsAudioDtsHd = 18,     // transport stream_types 0x85, 0x86, 0xA2
    VfwVideo = 19,         // Matroska V_MS/VFW/FOURCC with an unmapped FourCC
    Vorbis = 20,
    TextAscii = 21,
    TextUtf8 = 22,
    Ssa = 23,
    Ass = 24,
    Usf = 25,
    Cinepak = 26,
    Jpeg = 27,
    QuickTimeMp3 = 28,
    H264Ts = 29,           // H.264 in a transport or program stream
    Mvc = 31,
    // Produced only with extensions on.
    Hevc = 32,
    Vp8 = 33,
    Vp9 = 34,
    Av1 = 35,
    Ffv1 = 36,
    ProRes = 37,
    Eac3 = 38,      // codec-specific words as AC-3
    Opus = 39,
    Flac = 40,
    Pgs = 41,       // subtitles
    VobSub = 42,
    DvbSubtitle = 43,
    Teletext = 44,
    // The container families beyond MPEG, MP4 and Matroska (audio files, Ogg, AVI, FLV, ASF, MXF, DV).
    Theora = 45,
    Wmv = 46,          // WMV1, WMV2, WMV3
    Vc1 = 47,
    Vp6 = 48,
    Flv1 = 49,         // Sorenson Spark
    DvVideo = 50,
    DnxHd = 51,
    HuffYuv = 52,
    RawVideo = 53,
    MsMpeg4 = 54,
    Jpeg2000 = 55,
    ScreenVideo = 56,
    PcmFloat = 57,     // IEEE float, little-endian unless the container says otherwise
    Alaw = 58,
    Mulaw = 59,
    Speex = 60,
    Adpcm = 61,
    Alac = 62,
    AmrWb = 63,
    Wma = 64,
    WmaPro = 65,
    WmaLossless = 66,
    WmaVoice = 67,
    Nellymoser = 68,
};

constexpr size_t kExtraDataSize = 25600;

// Appends a NAL unit after a four-byte start code to a header area of length
// bytes so far; a unit that does not fit is left out.
inline void AppendHeaderUnit(uint8_t (&area)[kExtraDataSize], int32_t& length, const uint8_t* unit, size_t n)
{
    const auto used = static_cast<size_t>(length > 0 ? length : 0);
    if (used > kExtraDataSize || n + 4 > kExtraDataSize - used)
        return;
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    std::memcpy(area + used, kStartCode, 4);
    std::memcpy(area + used + 4, unit, n);
    length = static_cast<int32_t>(used + 4 + n);
}

// Video parameters (StreamClass::Video).
struct VideoParams {
    uint32_t profile;        // MPEG-2: profile code; H.264: 0 Baseline, 1 Main, 2 High, 3 Stereo High
    uint32_t level;          // MPEG-2: level code; H.264 from Matroska: level_idc
    uint32_t width;          // coded width after size extensions or cropping
    uint32_t height;
    uint32_t vbvBufferSize;  // MPEG-1/2: bytes; MPEG-4 Visual: bits
    uint32_t reserved0;
    int64_t frameDuration;   // 100-ns units (Matroska: DefaultDuration in ns)
    uint32_t statedFrameDuration;  // as the header states it: 90 kHz (MPEG-1/2) or 100 ns (MPEG-4)
    uint32_t bitRate;        // bit/s; 0 = variable or not stated
    uint32_t aspectX;        // display aspect of the whole coded picture
    uint32_t aspectY;
    uint32_t reserved[3];
};

// Audio parameters (StreamClass::Audio). The five codec-specific words lie where
// the video view keeps its frame duration and the three fields after it:
//  - MPEG audio: layer index (0 I, 1 II, 2 III); channel mode; bit rate (bit/s);
//    the four header bytes, first byte in the lowest byte; 0.
//  - AC-3: acmod; 4 when the frame came with a private-stream-1 sub-stream header,
//    else 0; byte 0 lfeon, byte 1 = 1 with a sub-stream header; the sub-stream id;
//    byte 0 bsid.
//  - DTS: byte 1 = 1 for byte-swapped 16-bit words; 4 with a sub-stream header,
//    else 0; the sub-stream id; 0; 0. A program stream's record whose core header
//    gave its speakers (MD_EXT_MORE_CODECS): the LFE flag in the third word and the
//    sub-stream id in the fourth, as AC-3 records keep them.
//  - LPCM from a program stream: 7; the sub-stream id; 0; 0; 0.
//  - AAC: the audio object type, the rest as the demultiplexer fills it.
struct AudioParams {
    uint32_t channels;
    uint32_t sampleRate;      // Hz
    uint32_t bytesPerSecond;  // average
    uint32_t blockAlign;      // frame length in bytes where the format has one, else 1
    uint32_t bitsPerSample;   // 0 for compressed formats
    uint8_t language[4];      // Matroska TrackLanguage
    uint32_t codecSpecific[5];
    // The speaker positions (WAVEFORMATEXTENSIBLE bits) where the container or the codec states them one by one
    // (the container families beyond MPEG, MP4 and Matroska, and rules of the extensions); 0 elsewhere.
    uint32_t channelMask;
    uint32_t reserved[4];

    // Byte k (0 = lowest) of codec-specific word w; out-of-range indexes read 0.
    uint8_t CodecByte(size_t w, size_t k) const
    {
        return w < 5 && k < 4 ? static_cast<uint8_t>(codecSpecific[w] >> (8 * k)) : 0;
    }
    void SetCodecByte(size_t w, size_t k, uint8_t value)
    {
        if (w >= 5 || k >= 4)
            return;
        codecSpecific[w] = (codecSpecific[w] & ~(0xFFu << (8 * k))) | uint32_t(value) << (8 * k);
    }
};

// The subtitle description a Matroska track gives. It is stored over the record
// from the class-dependent block on, running into the first extra-data area that
// subtitle records do not otherwise use.
struct SubtitleParams {
    uint8_t language[4];
    char16_t trackName[256];
    const uint8_t* codecPrivate;
    uint64_t codecPrivateSize;
};

struct StreamRecord {
    StreamClass streamClass;
    // Program streams: the PES stream_id; transport streams: the PID; Matroska:
    // TrackNumber; MP4: track ID.
    uint32_t streamId;
    StreamCodec codec;
    uint8_t defaultFlag;  // Matroska FlagDefault = 1
    union {
        VideoParams video;
        AudioParams audio;
    };
    int32_t extraData1Length;
    uint8_t progressive;    // MPEG-2 progressive_sequence; H.264 frame_mbs_only_flag; 1 for MPEG-1/MPEG-4
    uint8_t encoderMarker;  // xvYCC display extension (MPEG-2) or marker SEI (H.264)
    uint32_t fieldCoding;   // H.264: 0 progressive, 1 adaptive frame/field, 2 field pictures
    uint8_t extraData1[kExtraDataSize];  // sequence-level headers (SPS, sequence header + extensions)
    int32_t extraData2Length;
    uint8_t extraData2[kExtraDataSize];  // picture-level headers (PPS, picture header + coding extension)
    double frameRate;        // frames per second
    uint32_t nalLengthSize;  // lengthSizeMinusOne + 1 for length-prefixed H.264, else 0
    // Codecs only extensions describe, and H.264 read with MD_EXT_H264_PROFILES: 0 progressive or unknown, 1 top
    // first, 2 bottom first.
    uint32_t fieldOrder;

    void SetSubtitle(const SubtitleParams& s) { std::memcpy(SubtitleBytes(), &s, sizeof s); }
    SubtitleParams Subtitle() const
    {
        SubtitleParams s;
        std::memcpy(&s, reinterpret_cast<const uint8_t*>(this) + kSubtitleOffset, sizeof s);
        return s;
    }

    static constexpr size_t kSubtitleOffset = 16;  // the class-dependent block

private:
    uint8_t* SubtitleBytes() { return reinterpret_cast<uint8_t*>(this) + kSubtitleOffset; }
};

// The layout: the audio codec-specific words overlay the video frame duration and
// the three fields after it; the header areas are part of the record.
static_assert(std::is_trivially_copyable_v<StreamRecord>);
static_assert(std::is_standard_layout_v<StreamRecord>);
static_assert(sizeof(VideoParams) == 64 && sizeof(AudioParams) == 64);
static_assert(offsetof(VideoParams, frameDuration) == offsetof(AudioParams, codecSpecific));
static_assert(offsetof(VideoParams, aspectY) == offsetof(AudioParams, codecSpecific) + 5 * sizeof(uint32_t));
static_assert(offsetof(AudioParams, language) == offsetof(VideoParams, reserved0));
static_assert(offsetof(StreamRecord, video) == StreamRecord::kSubtitleOffset);
static_assert(offsetof(StreamRecord, extraData1) + kExtraDataSize <= offsetof(StreamRecord, extraData2Length));
static_assert(sizeof(StreamRecord::extraData1) == kExtraDataSize && sizeof(StreamRecord::extraData2) == kExtraDataSize);
static_assert(StreamRecord::kSubtitleOffset + sizeof(SubtitleParams) <= offsetof(StreamRecord, extraData2Length));

// A zero-filled record, or null when it cannot be allocated.
inline std::unique_ptr<StreamRecord> NewStreamRecord()
{
    return std::unique_ptr<StreamRecord>(new (std::nothrow) StreamRecord());
}

}  // namespace md
