/* Media kinds, format codes and the fixed-layout result records the detector copies into a host's
 * buffers, for C11 and C++ hosts alike. Layouts are binding: little-endian, natural alignment, sizes
 * and offsets checked below. The enumerations name the values of uint32_t fields. */
#pragma once

#include "mediadetect/com.h"

#ifdef __cplusplus
#include <cstddef>
#include <type_traits>
#define MD_ENUM(name, type) enum name : type
#else
#define MD_ENUM(name, type) enum name
#endif

// Container kind reported by the open method (the probe's 15 is reported as 14).
MD_ENUM(MediaKind, uint32_t) {
    MK_UNKNOWN = 0,
    MK_MPEG1_SYSTEM = 1,
    MK_MPEG2_PROGRAM = 2,
    MK_VCD = 3,
    MK_SVCD = 4,
    MK_MPEG2_PROGRAM_MPEG4 = 5,
    MK_DVD_VIDEO = 6,
    MK_DVD_VR = 7,
    MK_MPEG2_TRANSPORT = 8,
    MK_MP4 = 9,
    MK_MPEG1_VIDEO_ES = 10,
    MK_MPEG2_VIDEO_ES = 11,
    MK_MPEG4_VIDEO_ES = 12,
    MK_DIRECTV = 13,
    MK_MATROSKA = 14,
    MK_MATROSKA_PROBED = 15,
    // Kinds reported only with extensions on (MDI_EXTENSIONS).
    MK_WEBM = 16,      // an EBML header whose DocType is "webm"; read as Matroska
    MK_H264_ES = 17,   // a bare H.264 Annex B byte stream
    MK_HEVC_ES = 18,   // a bare HEVC Annex B byte stream
    // Container families of audio files (MD_EXT_AUDIO_FILES; Ogg with MD_EXT_OGG).
    MK_MP3 = 19,       // MPEG audio frames of any layer, after optional ID3v2 tags
    MK_ADTS = 20,      // AAC in ADTS frames
    MK_AC3 = 21,       // AC-3 syncframes
    MK_EAC3 = 22,      // E-AC-3 syncframes
    MK_DTS = 23,       // DTS core frames (DTS-HD after a core)
    MK_FLAC = 24,      // a native FLAC stream ("fLaC")
    MK_WAV = 25,       // RIFF WAVE, RF64, BW64 and Sony Wave64
    MK_AIFF = 26,      // AIFF and AIFF-C
    MK_CAF = 27,       // Apple Core Audio Format
    MK_AMR = 28,       // AMR-NB and AMR-WB storage format ("#!AMR")
    MK_OGG = 29,       // Ogg pages
    // Video container families (each with its own extension bit).
    MK_AVI = 30,       // RIFF AVI, with OpenDML extensions
    MK_FLV = 31,       // Flash Video
    MK_ASF = 32,       // ASF: WMV and WMA files
    MK_MXF = 33,       // Material Exchange Format
    MK_DV = 34,        // raw DV DIF frames
};
typedef enum MediaKind MediaKind;

MD_ENUM(VideoFormatCode, uint32_t) {
    VF_NONE = 0,
    VF_MPEG1 = 1,
    VF_MPEG2 = 2,
    VF_MPEG4 = 3,
    VF_H264 = 4,
    VF_H263 = 6,
    VF_CINEPAK = 7,
    VF_MJPEG = 8,
    VF_H264_MVC = 9,
    // Formats reported only with extensions on.
    VF_HEVC = 10,
    VF_VP8 = 11,
    VF_VP9 = 12,
    VF_AV1 = 13,
    VF_FFV1 = 14,
    VF_PRORES = 15,
    VF_THEORA = 16,
    VF_WMV = 17,       // Windows Media Video 7, 8 and 9 (WMV1, WMV2, WMV3)
    VF_VC1 = 18,       // SMPTE VC-1 advanced profile (WVC1)
    VF_VP6 = 19,
    VF_FLV1 = 20,      // Sorenson Spark (H.263 in Flash Video)
    VF_DV = 21,
    VF_DNXHD = 22,
    VF_HUFFYUV = 23,
    VF_RAW = 24,       // uncompressed pictures
    VF_MSMPEG4 = 25,   // Microsoft MPEG-4 versions 1 to 3 (DIV3, MP43, MP42, MPG4)
    VF_JPEG2000 = 26,
    VF_SCREEN = 27,    // Flash screen video
};
typedef enum VideoFormatCode VideoFormatCode;

MD_ENUM(AudioFormatCode, uint32_t) {
    AF_NONE = 0,
    AF_MPEG1 = 1,
    AF_MPEG2 = 2,
    AF_AC3 = 3,
    AF_PCM_BE = 4,
    AF_DTS = 5,
    AF_AAC = 6,
    AF_AMR = 7,
    AF_PCM_LE = 8,
    AF_MP3 = 9,
    AF_VORBIS = 10,
    AF_TRUEHD = 11,
    AF_DTSHD = 12,
    // Formats reported only with extensions on.
    AF_EAC3 = 13,
    AF_OPUS = 14,
    AF_FLAC = 15,
    AF_PCM_FLOAT = 16,     // IEEE float samples
    AF_ALAW = 17,
    AF_MULAW = 18,
    AF_SPEEX = 19,
    AF_ADPCM = 20,         // the ADPCM family (IMA, Microsoft, ...)
    AF_ALAC = 21,
    AF_AMR_WB = 22,
    AF_WMA = 23,           // Windows Media Audio 1 and 2
    AF_WMA_PRO = 24,
    AF_WMA_LOSSLESS = 25,
    AF_WMA_VOICE = 26,
    AF_NELLYMOSER = 27,
};
typedef enum AudioFormatCode AudioFormatCode;

// IMediaDetectInfo ids.
MD_ENUM(MediaDetectInfoId, int32_t) {
    MDI_CODEC_HEADERS = 4,      // CodecHeaderInfo
    MDI_ENCODER_MARKER = 5,     // 1 byte
    MDI_FIRST_VIDEO_TIME = 6,   // int64
    MDI_FIELD_CODING = 7,       // uint32
    MDI_CPGD_UUID = 8,          // 1 byte
    MDI_CAMERA_FILE = 9,        // 1 byte
    MDI_RECORDING_TIME = 10,    // RecordingTime
    MDI_THUMBNAIL_LENGTH = 11,  // uint32
    MDI_THUMBNAIL = 12,         // thumbnail length bytes
    MDI_MOOV_FIRST = 13,        // 1 byte
    MDI_TS_REGISTRATION = 14,   // 1 byte
    MDI_HAS_VIDEO = 15,         // 1 byte
    MDI_HAS_AUDIO = 16,         // 1 byte
    MDI_AAC_CLASS = 17,         // uint32
    MDI_CONTAINER_HINT = 0x1001, // SetInfo only
    MDI_EXTENSIONS = 0x1002,     // uint32 bit mask of MediaDetectExtension; SetInfo and GetInfo
    MDI_VIDEO_ROTATION = 0x1003, // uint32 clockwise degrees (0, 90, 180, 270) of the first MP4 video track;
                                 // with MD_EXT_MP4 only (E_INVALIDARG without it), 0 for other kinds
    MDI_DURATION_ESTIMATED = 0x1004, // 1 byte: 1 when the duration of a file of the container families (kinds 19
                                     // on) is estimated from a bit rate or a sample of frames, else 0
    MDI_MXF_PATTERN = 0x1005,        // 16 bytes: an MXF file's operational pattern as NUL-terminated text ("OP1a",
                                     // "OP-Atom"); E_FAIL when it names none, E_INVALIDARG for other kinds
    MDI_MODULE_VERSION = 0x1006,     // uint32: the module's version, major << 16 | minor << 8 | patch
    MDI_REMOTE_STATS = 0x1007,       // RemoteStats of the open remote file (MD_EXT_REMOTE): every request and byte
                                     // fetched since OpenFile, by every stream the object opened on it; E_FAIL for a
                                     // local file
    MDI_REMOTE_ERROR = 0x1008        // kRemoteErrorSize bytes: why the last OpenFile of a remote path failed, as
                                     // NUL-terminated UTF-8 text that never holds a credential; E_FAIL when it did not
};
typedef enum MediaDetectInfoId MediaDetectInfoId;

// What a host may turn on beyond the detector's base behaviour, one bit each,
// through SetInfo(MDI_EXTENSIONS). The value stays on the object until changed;
// an object starts with none. GetInfo(MDI_EXTENSIONS) gives the bits in effect
// (bits this version does not know are dropped).
MD_ENUM(MediaDetectExtension, uint32_t) {
    MD_EXT_TS_CODECS = 0x1,            // HEVC, E-AC-3, Opus, DVB subtitles and teletext in transport streams
    MD_EXT_MPEG_AUDIO_SYNC = 0x2,      // an MPEG audio header counts only when the next stands where its length says
    MD_EXT_H264_PROFILES = 0x4,        // H.264 sequence parameter sets of every profile are read, and the
                                       // field order of interlaced H.264 from its first picture
    MD_EXT_ANNEXB_ES = 0x8,            // bare H.264 and HEVC streams, bare MPEG-4 Visual from a VOS, VO or VOL header
    MD_EXT_WEBM = 0x10,                // DocType "webm" read as Matroska (kind MK_WEBM)
    MD_EXT_MATROSKA_CODECS = 0x20,     // more Matroska tracks (FLAC, PCM, ALAC, TrueHD, E-AC-3, HEVC, FFV1, ...),
                                       // speakers from the first frame, the pixels' aspect without a display size
    MD_EXT_MP4 = 0x40,                 // trailing bytes after the last MP4 box; HEVC, AV1, Opus, FLAC, AC-3, E-AC-3,
                                       // MPEG-1/2 video in 'mp4v'; AAC channels as the configuration means them
    MD_EXT_MP4_TRAILING_BYTES = 0x40,  // (the first name of MD_EXT_MP4)
    MD_EXT_TIME_RANGES = 0x80,         // presentation-time wraps unwrapped; an end never before its start; MP4
                                       // edit lists
    MD_EXT_MPEG_VIDEO_ES = 0x100,      // bare MPEG-1/2 video streams get their video record
    MD_EXT_MORE_CODECS = 0x200,        // TS MPEG-4 Visual and DTS, QuickTime Motion JPEG, PCM, ALAC, ADPCM,
                                       // A-law, mu-law, ProRes and DV, AMR channels, DTS channels in program
                                       // streams, MPEG-2 video in MPEG-1 system streams
    MD_EXT_FRAME_RATES = 0x400,        // variable-rate and fragmented MP4 frame rates
    MD_EXT_MATROSKA_HEADER = 0x800,    // a DocType "matroska" with trailing NUL bytes, or none (the EBML default)
    MD_EXT_SMALL_FILES = 0x1000,       // whole structures below the probe's size thresholds
    MD_EXT_AUDIO_FILES = 0x2000,       // audio files: MP3, ADTS, AC-3, E-AC-3, DTS, FLAC, WAV, AIFF, CAF, AMR
    MD_EXT_OGG = 0x4000,               // Ogg files: Vorbis, Opus, FLAC, Speex and Theora streams
    MD_EXT_AVI = 0x8000,               // AVI files, OpenDML included
    MD_EXT_FLV = 0x10000,              // Flash Video files
    MD_EXT_ASF = 0x20000,              // ASF files: WMV and WMA
    MD_EXT_MXF = 0x40000,              // MXF files
    MD_EXT_DV = 0x80000,               // raw DV files
    MD_EXT_REMOTE = 0x100000,          // http://, https:// and s3://bucket/key paths read with range requests
    MD_EXT_TAGS = 0x200000,            // what a file says about itself: title, artist, place, ... (IMediaDetectTags)
    MD_EXT_ALL = 0x3FFFFF
};
typedef enum MediaDetectExtension MediaDetectExtension;

// What reading a remote file cost (MDI_REMOTE_STATS).
typedef struct RemoteStats {
    uint64_t requests;      // HTTP requests sent, retries and redirects included
    uint64_t bytesFetched;  // body bytes received
} RemoteStats;

enum { kRemoteErrorSize = 256 };

typedef struct VideoInfo {
    uint32_t format;  // VideoFormatCode
    uint32_t reserved0;
    double frameRate;  // frames per second
    uint32_t bitRate;  // bits per second
    uint32_t width;
    uint32_t height;
    uint32_t aspectX;     // display aspect numerator
    uint32_t aspectY;     // display aspect denominator
    uint32_t fieldOrder;  // 0 progressive/unknown, 1 top first, 2 bottom first
    uint32_t profile;
    uint32_t reserved1;
} VideoInfo;

// The short form returned by GetVideoInfoShort: the first 36 bytes of VideoInfo.
enum { kVideoInfoShortSize = 36 };

typedef struct AudioInfo {
    uint32_t format;  // AudioFormatCode
    uint32_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint32_t blockAlign;
    uint32_t bitsPerSample;
    uint32_t bitRate;
} AudioInfo;

typedef struct AudioInfoEx {
    uint32_t format;
    uint32_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint32_t blockAlign;
    uint32_t bitsPerSample;
    uint32_t bitRate;
    // The three words of the MpegAudioLayerInfo or MultiChannelInfo built for
    // the same stream; zero otherwise.
    uint32_t formatInfo[3];
} AudioInfoEx;

typedef struct MpegAudioLayerInfo {
    uint32_t layer;        // 1, 2 or 3
    uint32_t channelMode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    uint8_t protectionBit; // 1: no CRC
    uint8_t reserved[3];
} MpegAudioLayerInfo;

typedef struct MultiChannelInfo {
    uint8_t lfe;
    uint8_t codingMode;
    uint8_t reserved0[2];
    uint32_t channelMask;
    uint8_t streamIdByte;
    uint8_t reserved1[3];
} MultiChannelInfo;

// Info 10: the recording date of a camera file, laid out as a Windows SYSTEMTIME.
// All zero when the file is not a camera file.
typedef struct RecordingTime {
    uint16_t year;
    uint16_t month;      // 1-12
    uint16_t dayOfWeek;  // always 0
    uint16_t day;        // 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;  // always 0
} RecordingTime;

enum { kCodecHeaderBlockSize = 25600 };

typedef struct CodecHeaderInfo {
    uint8_t header1[kCodecHeaderBlockSize];
    uint32_t header1Length;
    uint8_t header2[kCodecHeaderBlockSize];
    uint32_t header2Length;
} CodecHeaderInfo;

// All times in 100-ns units.
typedef struct TimeRangeInfo {
    int64_t startTime;
    int64_t videoFirstTime;
    int64_t audioFirstTime;
    int64_t videoEndTime;
    int64_t audioEndTime;
    uint32_t videoFrameDuration;
    uint32_t audioFrameDuration;
} TimeRangeInfo;

// The four words of SelectTransportProgram and SelectMatroskaTracks.
typedef struct StreamSelection {
    uint32_t videoId;
    uint32_t videoStreamType;
    uint32_t audioId;
    uint32_t audioStreamType;
} StreamSelection;

MD_STATIC_ASSERT(sizeof(VideoInfo) == 48);
MD_STATIC_ASSERT(offsetof(VideoInfo, frameRate) == 8);
MD_STATIC_ASSERT(offsetof(VideoInfo, bitRate) == 16);
MD_STATIC_ASSERT(offsetof(VideoInfo, width) == 20);
MD_STATIC_ASSERT(offsetof(VideoInfo, height) == 24);
MD_STATIC_ASSERT(offsetof(VideoInfo, aspectX) == 28);
MD_STATIC_ASSERT(offsetof(VideoInfo, aspectY) == 32);
MD_STATIC_ASSERT(offsetof(VideoInfo, fieldOrder) == 36);
MD_STATIC_ASSERT(offsetof(VideoInfo, profile) == 40);
MD_STATIC_ASSERT(sizeof(AudioInfo) == 28);
MD_STATIC_ASSERT(offsetof(AudioInfo, bitRate) == 24);
MD_STATIC_ASSERT(sizeof(AudioInfoEx) == 40);
MD_STATIC_ASSERT(offsetof(AudioInfoEx, formatInfo) == 28);
MD_STATIC_ASSERT(sizeof(MpegAudioLayerInfo) == 12);
MD_STATIC_ASSERT(offsetof(MpegAudioLayerInfo, protectionBit) == 8);
MD_STATIC_ASSERT(sizeof(MultiChannelInfo) == 12);
MD_STATIC_ASSERT(offsetof(MultiChannelInfo, codingMode) == 1);
MD_STATIC_ASSERT(offsetof(MultiChannelInfo, channelMask) == 4);
MD_STATIC_ASSERT(offsetof(MultiChannelInfo, streamIdByte) == 8);
MD_STATIC_ASSERT(sizeof(RecordingTime) == 16);
MD_STATIC_ASSERT(offsetof(RecordingTime, second) == 12);
MD_STATIC_ASSERT(sizeof(CodecHeaderInfo) == 51208);
MD_STATIC_ASSERT(offsetof(CodecHeaderInfo, header1Length) == 25600);
MD_STATIC_ASSERT(offsetof(CodecHeaderInfo, header2) == 25604);
MD_STATIC_ASSERT(offsetof(CodecHeaderInfo, header2Length) == 51204);
MD_STATIC_ASSERT(sizeof(TimeRangeInfo) == 48);
MD_STATIC_ASSERT(offsetof(TimeRangeInfo, videoFrameDuration) == 40);
MD_STATIC_ASSERT(sizeof(StreamSelection) == 16);

#ifdef __cplusplus
// The one-byte details an open of an MP4 file leaves. The host reads each one
// through IMediaDetectInfo::GetInfo under its own info id (kMp4FlagInfoIds);
// GetInfo writes the single byte, the struct itself never crosses the interface.
struct Mp4Flags {
    uint8_t cpgdUuid;    // a 'uuid' box whose extended type begins with "cpgd"
    uint8_t cameraFile;  // the camera maker's marker text is there
    uint8_t hasVideo;    // a track with handler 'vide'
    uint8_t hasAudio;    // a track with handler 'soun'
    uint8_t moovFirst;   // 'moov' comes before 'mdat'
};

// Which info id reads which MP4 flag.
struct Mp4FlagInfoId {
    MediaDetectInfoId id;
    uint8_t Mp4Flags::*flag;
};
inline constexpr Mp4FlagInfoId kMp4FlagInfoIds[] = {
    {MDI_CPGD_UUID, &Mp4Flags::cpgdUuid}, {MDI_CAMERA_FILE, &Mp4Flags::cameraFile},
    {MDI_MOOV_FIRST, &Mp4Flags::moovFirst}, {MDI_HAS_VIDEO, &Mp4Flags::hasVideo},
    {MDI_HAS_AUDIO, &Mp4Flags::hasAudio},
};

static_assert(sizeof(Mp4Flags) == 5 && sizeof(Mp4Flags::moovFirst) == 1);
static_assert(sizeof(RemoteStats) == 16 && offsetof(RemoteStats, bytesFetched) == 8);
static_assert(std::is_trivially_copyable_v<VideoInfo> && std::is_trivially_copyable_v<AudioInfoEx> &&
              std::is_trivially_copyable_v<CodecHeaderInfo> && std::is_trivially_copyable_v<TimeRangeInfo>);
#endif
