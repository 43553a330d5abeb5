// Every media file of tests/data and of the real-world samples, opened through the module and compared with its
// ffprobe reference (kind, records, programs or tracks, times, program-stream time tables against ffprobe's key
// packets), then opened cut short at ten places. A row names the kind and where the rules differ from ffprobe, why.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "component/time_table_host.h"
#include "support/ffprobe.h"

namespace {

namespace fs = std::filesystem;
using md::test::Ffprobe;
using md::test::FfprobeStream;

// What a row sets in place of ffprobe's value. AspectX/Y: exact (else ffprobe's ratio); NoRecords: the open
// describes no stream; ExtraVideoFrames (PS): whole frames after ffprobe's video end; Video{Start,End}Shift (TS):
// seconds added to ffprobe's; RawVideoEnd (TS): a raw 90 kHz value; NoFrameDurations (MP4): not ffprobe's rates;
// AudioStart (MKV): seconds; NoTimes (MKV): no times; SelectAudio (TS): the PID to select; NoPrograms (TS): no
// program found; PtsWrap (TS): the timestamps wrap inside the file, and the base behaviour's times are not checked;
// AudioEndShift (TS): seconds added to ffprobe's audio end; NoAudioRecord, NoVideoRecord (MP4 and the container
// families): a track without a record; DurationSeconds (container families): the duration in place of ffprobe's,
// -1 for none; DurationTolerance: seconds the duration may differ by (else 1 ms); BitsPerSample: the PCM sample
// size in place of ffprobe's (which gives the size it decodes to); VideoFormat: the video format code in place of
// ffprobe's codec's.
enum Field {
    AspectX, AspectY, FrameRate, FieldOrder, Channels, AudioFormat, SampleRate, MpegLayer, NoRecords,
    ExtraVideoFrames, VideoStartShift, VideoEndShift, RawVideoEnd, NoAudioEnd, NoFrameDurations, AudioStart, NoTimes,
    SelectAudio, SelectFails, TsRegistration, VideoBitRate, NoPrograms, PtsWrap, AudioEndShift, NoAudioRecord,
    NoVideoRecord, DurationSeconds, DurationTolerance, BitsPerSample, VideoFormat,
};

struct Row {
    const char* name;
    uint32_t kind;
    std::map<Field, double> deviations = {};
    const char* why = "";
};

const std::map<Field, double> kNoAspect = {{AspectX, 0}, {AspectY, 0}};
constexpr char kMpeg1Aspect[] = "MPEG-1: width : height x pel aspect (ISO/IEC 11172-2 Table 2-D.1), unreduced";
constexpr char kVcd[] =
    "MPEG-1 packs at video CD rates, but a video CD keeps kind 3 only with a 352-wide picture at exactly 4:3, and "
    "MPEG-1 gives width : height x pel aspect";
constexpr char kMpeg2Audio[] =
    "ID 0: MPEG-2 audio at the lower sampling frequencies (ISO/IEC 13818-3), format 2; ffprobe names every layer "
    "and version mp3 or mp2";
constexpr char kDvFields[] =
    "the VAUX source control pack marks the frames interlaced, and DV fields are bottom first (MediaInfo BFF; "
    "ffprobe leaves the order unknown)";
constexpr char kNoDisplaySize[] = "no DisplayWidth/DisplayHeight in the track: no aspect";
// With extensions a Matroska track without a display size takes that of its pixels (the elements' defaults).
constexpr char kPixelAspect[] = "no DisplayWidth/DisplayHeight: they default to the pixel sizes";
constexpr char kQuickTimeCodecsOff[] =
    "ALAC, IMA ADPCM, A-law, mu-law and ProRes sample entries get records with MD_EXT_MORE_CODECS only";
constexpr char kMatroskaCodecsOff[] = "A_PCM, A_ALAC and A_TRUEHD tracks get records with MD_EXT_MATROSKA_CODECS only";
constexpr char kNoDisplaySizeCodecsOff[] =
    "no DisplayWidth/DisplayHeight in the track: no aspect; A_PCM and A_TRUEHD tracks get records with "
    "MD_EXT_MATROSKA_CODECS only";

// Why a file of a kind only extensions report is kind 0 in the base behaviour (its base row is made from its row in
// kExtendedRows); null for the other kinds.
const char* OffWithoutBit(uint32_t kind)
{
    static const std::map<uint32_t, const char*> why = {
        {MK_H264_ES, "bare H.264 and HEVC are not among the recognised elementary kinds"},
        {MK_HEVC_ES, "bare H.264 and HEVC are not among the recognised elementary kinds"},
        {MK_OGG, "Ogg files are read with MD_EXT_OGG only"},         {MK_AVI, "AVI files are read with MD_EXT_AVI only"},
        {MK_FLV, "Flash Video files are read with MD_EXT_FLV only"}, {MK_ASF, "ASF files are read with MD_EXT_ASF only"},
        {MK_MXF, "MXF files are read with MD_EXT_MXF only"},         {MK_DV, "raw DV files are read with MD_EXT_DV only"}};
    if (kind >= MK_MP3 && kind <= MK_AMR)
        return "audio files are read with MD_EXT_AUDIO_FILES only";
    return why.count(kind) ? why.at(kind) : nullptr;
}

const std::vector<Row> kBundled = {
    {"3gp_h263_176x144_15fps_aac_22k_mono.3gp", MK_MP4},
    {"dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob", MK_DVD_VIDEO},
    {"dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob", MK_DVD_VIDEO},
    {"dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob", MK_DVD_VIDEO, {{ExtraVideoFrames, 2}},
     "two P-pictures without PTS follow the last timed one; ffprobe's duration ends at the last PTS"},
    {"es_mpeg1video_352x288_25fps.m1v", MK_MPEG1_VIDEO_ES},
    {"es_mpeg2video_720x480_16x9_29.97i_tff.m2v", MK_MPEG2_VIDEO_ES},
    {"es_mpeg4_320x240_25fps.m4v", MK_UNKNOWN, {}, "MPEG-4 Visual is recognised only by a VOP start code at byte 0"},
    {"es_mpeg4_320x240_25fps_novos.m4v", MK_UNKNOWN, {}, "no VOP start code at byte 0 either"},
    {"m2ts_h264_1920x1080_25fps_ac3_48k_stereo.m2ts", MK_MPEG2_TRANSPORT,
     {{TsRegistration, 1}, {VideoBitRate, (165888 - 192000 / 8) * 184 / 188 * 8}},
     "HDMV registration: the H.264 rate is the file's 165888 bytes in 1.0 s of video less the 192 kbit/s AC-3, "
     "payload share 184/188"},
    {"mka_alac_44k_stereo.mka", MK_MATROSKA, {}, kMatroskaCodecsOff},
    {"mka_mp2_48k_stereo.mka", MK_MATROSKA, {}, "A_MPEG/L2 has a record in the base behaviour"},
    {"mka_mp3_44k_stereo.mka", MK_MATROSKA, {}, "A_MPEG/L3 has a record in the base behaviour"},
    {"mka_pcm_f32le_48k_stereo.mka", MK_MATROSKA, {}, kMatroskaCodecsOff},
    {"mka_pcm_s24be_44k_mono.mka", MK_MATROSKA, {}, kMatroskaCodecsOff},
    {"mkv_h264_320x240_25fps_flac_48k_stereo.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mkv_h264_320x240_25fps_pcm_s16le_48k_stereo.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySizeCodecsOff},
    {"mkv_h264_320x240_25fps_truehd_48k_5.1.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySizeCodecsOff},
    {"mkv_h264_480x270_25fps_vorbis_44k_stereo_srt.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mkv_h264_640x360_25fps_aac_48k_stereo.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mkv_hevc_320x240_25fps_eac3_48k_stereo.mkv", MK_MATROSKA, {},
     "V_MPEGH/ISO/HEVC and A_EAC3 tracks get records with MD_EXT_MATROSKA_CODECS only: no track is listed"},
    {"mkv_mjpeg_320x240_10fps_dts_48k_5.1.mkv", MK_MATROSKA, {},
     "a V_MJPEG track gets a record with MD_EXT_MATROSKA_CODECS only: the DTS alone is described"},
    {"mkv_theora_320x240_25fps_ac3_44k_2.1.mkv", MK_MATROSKA, {},
     "a V_THEORA track gets a record with MD_EXT_MATROSKA_CODECS only: the AC-3 alone is described"},
    {"tags_mkv_h264_320x240_25fps.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"cover_mkv_h264_320x240_25fps.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mov_h264_640x480_30fps_pcm_s16le_sowt_48k_stereo.mov", MK_MP4},
    {"mov_mjpeg_jpeg_320x240_15fps_pcm_u8_raw_7875_mono_moovonly.mov", MK_UNKNOWN, {},
     "1330 bytes, a 'moov' alone: the box walk wants a 'moov' and an 'mdat'"},
    {"mov_mpeg4_320x240_25fps_pcm_s16be_twos_44k_mono.mov", MK_MP4},
    {"tags_m4a_aac_44k_stereo.m4a", MK_MP4},
    {"cover_m4a_aac_44k_stereo.m4a", MK_MP4},
    {"m4a_aac_44k_quad_pce.m4a", MK_MP4, {{Channels, 0}},
     "the channel count is the AudioSpecificConfig's channelConfiguration, 0: a program_config_element gives them"},
    {"m4a_aac_48k_7.1.m4a", MK_MP4, {{Channels, 7}}, "the channel count is the channelConfiguration, 7 (7.1)"},
    {"mp4_mpeg2video_352x288_16x9_25fps_aac_48k_stereo.mp4", MK_MP4,
     {{VideoFormat, VF_MPEG4}, {AspectX, 0xFFFFFFFF}, {AspectY, 0xFFFFFFFF}},
     "every 'mp4v' entry is MPEG-4 Visual, and without a video object layer its aspect stays unset"},
    {"m4a_alac_96k_24bit_stereo.m4a", MK_MP4, {{NoAudioRecord, 1}}, kQuickTimeCodecsOff},
    {"mov_prores_160x120_25fps_alac_44k_stereo.mov", MK_MP4, {{NoVideoRecord, 1}, {NoAudioRecord, 1}},
     kQuickTimeCodecsOff},
    {"mov_adpcm_ima_qt_44k_stereo.mov", MK_MP4, {{NoAudioRecord, 1}}, kQuickTimeCodecsOff},
    {"mov_pcm_alaw_8k_mono.mov", MK_MP4, {{NoAudioRecord, 1}}, kQuickTimeCodecsOff},
    {"mov_pcm_mulaw_8k_mono.mov", MK_MP4, {{NoAudioRecord, 1}}, kQuickTimeCodecsOff},
    {"tags_mov_h264_320x240_25fps_phone.mov", MK_MP4},
    {"mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4", MK_MP4},
    {"mp4_h264_320x240_25fps_ac3_48k_5.1.mp4", MK_MP4, {{NoAudioRecord, 1}}, "an 'ac-3' sample entry gets no record"},
    {"mp4_h264_320x240_25fps_rotated90_aac_48k_stereo.mp4", MK_MP4},
    {"mp4_h264_640x360_25fps_aac_48k_stereo.mp4", MK_MP4},
    {"mp4_hevc_320x240_25fps_aac_48k_stereo.mp4", MK_MP4, {{NoVideoRecord, 1}}, "an 'hvc1' sample entry gets no record"},
    {"mp4_mpeg4_640x480_25fps_aac_44k_stereo.mp4", MK_MP4},
    {"mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4", MK_MP4,
     {{FrameRate, 0}, {NoFrameDurations, 1}}, "every sample is in a fragment: the 'moov' tables are empty, so no rate"},
    {"mpg1_mpeg1video_320x240_30fps_mp2_44k_stereo.mpg", MK_MPEG1_SYSTEM, {{AspectX, 320}, {AspectY, 240}},
     kMpeg1Aspect},
    {"mpg1_mpeg2video_352x288_16x9_25i_tff_mp2_48k_mono.mpg", MK_MPEG1_SYSTEM,
     {{VideoFormat, VF_MPEG1}, {FieldOrder, 0}, {AspectX, 352}, {AspectY, 202}},
     "a system stream's video is read as MPEG-1, progressive, its aspect code a pel aspect (0.7031), whatever "
     "extension follows the sequence header"},
    {"ps_mpeg2video_352x576_4x3_25fps_lpcm_48k_stereo.vob", MK_MPEG2_PROGRAM, {{ExtraVideoFrames, 1}},
     "ffprobe estimates the video end from PTS near the file end, where only LPCM is left"},
    {"ps_mpeg2video_352x288_15fps_mp2_48k_stereo.mpg", MK_MPEG2_PROGRAM, {{FrameRate, 25}, {AspectX, 352}, {AspectY, 288}},
     "the rate of frame_rate_code 3; its frame_rate_extension_n/d (2/4) are not applied; square pels give "
     "width:height"},
    {"ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg", MK_MPEG2_PROGRAM},
    {"ps_mpeg2video_352x288_25fps_dts_48k_stereo.vob", MK_MPEG2_PROGRAM, {{Channels, 6}},
     "a DTS frame header is read for its rate alone: six channels whatever its AMODE says"},
    {"ps_mpeg4video_352x288_25fps_mp2_48k_mono.mpg", MK_MPEG2_PROGRAM_MPEG4,
     {{AspectX, 352}, {AspectY, 288}, {FrameRate, 29.97}},
     "a VOL without fixed_vop_rate is taken as 29.97 fps; square pels give width:height"},
    {"svcd_mpeg2video_480x576_4x3_25fps_mp2_44k_stereo.mpg", MK_SVCD},
    {"ts204_mpeg2video_352x288_4x3_25fps_mp2_48k_stereo.ts", MK_MPEG2_TRANSPORT},
    {"ts_h264_1280x720_25fps_aac_48k_stereo.ts", MK_MPEG2_TRANSPORT},
    {"ts_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.ts", MK_MPEG2_TRANSPORT},
    {"ts_h264_320x240_25fps_opus_48k_5.1.ts", MK_MPEG2_TRANSPORT, {{TsRegistration, 1}},
     "Opus private data is no audio stream"},
    {"ts_h264_352x288_25i_bff_mp2_48k_stereo.ts", MK_MPEG2_TRANSPORT, {{FieldOrder, 1}},
     "a selected stream's interlaced H.264 is described top field first"},
    {"ts_hevc_320x240_25fps_aac_48k_stereo.ts", MK_MPEG2_TRANSPORT, {},
     "stream_type 0x24 (HEVC) is not listed: the AAC alone is described"},
    {"ts_mpeg2video_320x240_25fps_3frames.ts", MK_MPEG2_TRANSPORT, {{RawVideoEnd, 1}},
     "three PES packets where the end search wants five: the video end stays a raw 90 kHz value"},
    {"ts_mpeg2video_320x240_25fps_eac3_48k_5.1.ts", MK_MPEG2_TRANSPORT, {{TsRegistration, 1}},
     "stream_type 0x87 (E-AC-3) is not listed: the video alone is described; an \"EAC3\" registration_descriptor"},
    {"ts_mpeg2video_320x240_25fps_mp2_48k_stereo_ptswrap.ts", MK_MPEG2_TRANSPORT, {{PtsWrap, 1}},
     "the timestamps wrap 1 s in: the first time is the least 32-bit value, after the wrap, and the video end the "
     "greatest, before it (a duration of some 47,721 s)"},
    {"ts_mpeg2video_720x576_16x9_25i_tff_mp2_48k_stereo.ts", MK_MPEG2_TRANSPORT},
    {"ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts", MK_MPEG2_TRANSPORT},
    {"tags_ts_mp2_48k_mono_service.ts", MK_MPEG2_TRANSPORT},
    {"vcd_mpeg1video_352x240_4x3_29.97fps_mp2_44k_stereo.mpg", MK_MPEG1_SYSTEM, {{AspectX, 352}, {AspectY, 270}}, kVcd},
    {"vcd_mpeg1video_352x288_4x3_25fps_mp2_44k_stereo.mpg", MK_MPEG1_SYSTEM, {{AspectX, 352}, {AspectY, 270}}, kVcd},
    {"webm_av1_320x240_25fps_opus_48k_5.1.webm", MK_UNKNOWN, {}, "DocType \"webm\""},
    {"webm_vp8_320x240_25fps_vorbis_44k_stereo.webm", MK_UNKNOWN, {}, "DocType \"webm\" is not taken for Matroska"},
    {"webm_vp9_320x240_25fps_opus_48k_stereo.webm", MK_UNKNOWN, {}, "DocType \"webm\""},
};

const std::vector<Row> kRealWorld = {
    {"3gp_amrnb_audio.3gp", MK_MP4, {{Channels, 2}}, "an AMR sample entry always stores channelcount 2"},
    {"3gp_h263_176x144.3gp", MK_MP4},
    {"m2ts_avchd_stub.mts", MK_UNKNOWN, {}, "1344 bytes: the transport test needs more than 2040"},
    {"mkv_ffv1_flac_reference.mkv", MK_MATROSKA},
    {"mkv_ffv1_nocues_blockgroups.mkv", MK_MATROSKA, {{AspectX, 0}, {AspectY, 0}, {NoTimes, 1}},
     "no DisplayWidth/DisplayHeight; without Cues and SeekHead the selected tracks get no times"},
    {"mkv_h264_aac_chapters.mkv", MK_MATROSKA, {{AspectX, 0}, {AspectY, 0}, {FieldOrder, 1}, {AudioStart, 0}},
     "no DisplayWidth/DisplayHeight; a High 4:4:4 Predictive SPS (profile_idc 244) is refused, so the record is not "
     "progressive and a selection says top field first; ffprobe moves the AAC track by its CodecDelay"},
    {"mkv_h264_ac3_pgs_laced.mkv", MK_MATROSKA, {{FrameRate, 599.99}},
     "DefaultDuration 1666667 ns: trunc(10^11 / 1666667) / 100 = 599.99"},
    {"mkv_h264_ac3_vobsub.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mkv_h264_vorbis.mkv", MK_MATROSKA, kNoAspect, kNoDisplaySize},
    {"mkv_invalid_unknown_sized_nonmaster.mkv", MK_UNKNOWN, {}, "a DocType of unknown size is no DocType"},
    {"mkv_srt_blockgroups.mkv", MK_MATROSKA},
    {"mov_h264_sowt_pcm_1080p50.mov", MK_MP4},
    {"mov_ios9_mebx.mov", MK_MP4, {{NoRecords, 1}},
     "two bytes trail the last box: a file its boxes do not cover exactly is not read"},
    {"mov_iphone_rotated.mov", MK_MP4, {{FrameRate, 23.99}, {AspectX, 4}, {AspectY, 3}, {NoFrameDurations, 1}},
     "dominant sample delta 25/600 s = 416667 x 100 ns, 23.99 fps; ffprobe gives no aspect, 640x480 is 4:3"},
    {"mov_qt_h264_aac.mov", MK_MP4, {{FrameRate, 15}, {NoFrameDurations, 1}},
     "dominant sample delta 40/600 s gives 14.99, snapped to 15; ffprobe reports the time scale"},
    {"mp4_broken_no_moov.mp4", MK_MP4, {{NoRecords, 1}}, "'ftyp' at byte 4 makes it MP4, but there is no 'moov'"},
    {"mp4_fragmented_h264_aac.mp4", MK_MP4, {{FrameRate, 0}, {NoFrameDurations, 1}}, "fragments only, so no rate"},
    {"mp4_hint_rtp_tracks.mp4", MK_MP4, {{AspectX, 480}, {AspectY, 320}},
     "no aspect in the SPS and not a 4:3 or 16:9 shape: the picture size, unreduced"},
    {"mp4_mp2_audio.mp4", MK_MP4, {{MpegLayer, 2}},
     "ffprobe calls the MPEG audio of an 'mp4a' entry (objectTypeIndication 0x6B) mp3; its frames are Layer II"},
    {"mp4_mpeg4visual_qcif.mp4", MK_MP4, {{FrameRate, 14.99}},
     "1024/15360 s rounds to 666667 x 100 ns, 14.99 fps; MPEG-4 Visual rates are not snapped"},
    {"mp4_qt_h264_twos_pcm.mp4", MK_MP4},
    {"mpeg1ps_352x288_oddpar.mpg", MK_MPEG1_SYSTEM, {{AspectX, 352}, {AspectY, 202}}, kMpeg1Aspect},
    {"mpeg1ps_480x360_mp2.mpg", MK_MPEG1_SYSTEM, {{AspectX, 480}, {AspectY, 360}}, kMpeg1Aspect},
    {"mpeg2es_720x576.m2v", MK_MPEG2_VIDEO_ES},
    {"mpeg2ps_ac3_privstream1.ps", MK_UNKNOWN, {}, "2048 bytes: the pack search needs more than 2048"},
    {"mpeg2ps_dvdnav_640x426_mp2.ps", MK_DVD_VIDEO, {{AspectX, 640}, {AspectY, 426}},
     "a navigation packet precedes the first sequence header; square pels give width:height"},
    {"mpeg4v_es_120x96.cmp", MK_UNKNOWN, {}, "starts with its visual object sequence header, not a VOP start code"},
    {"ts_dvb_h264_1080i_eac3_dvbsub.ts", MK_MPEG2_TRANSPORT},
    {"ts_dvb_mpeg2_1080i_dts_mp2.ts", MK_MPEG2_TRANSPORT, {{SelectAudio, 0x1101}, {VideoEndShift, 1001.0 / 30000}},
     "DTS-HD on 0x1100 gets no record (its registration descriptor is at program level), so the MPEG audio is "
     "selected; the capture ends inside the fifth picture, which ffprobe leaves out of the duration"},
    {"ts_dvb_mpeg2_576i_mp2.ts", MK_MPEG2_TRANSPORT},
    {"ts_dvb_multiprog_mpeg2_576i.ts", MK_MPEG2_TRANSPORT, {{VideoStartShift, -0.08}},
     "open GOP: two B pictures before the first I picture have smaller PTS, ffprobe starts at the I picture"},
    {"ts_dvb_si_only_11prog.ts", MK_MPEG2_TRANSPORT},
    {"ts_h262_mp2_small.ts", MK_MPEG2_TRANSPORT, {{RawVideoEnd, 1}},
     "three video PES only: from the end five are needed, so the video end stays a raw 90 kHz value"},
    {"ts_h264_1024x576_aac.ts", MK_MPEG2_TRANSPORT,
     {{AspectX, 16}, {AspectY, 9}, {AudioFormat, AF_MPEG1}, {SampleRate, 44100}, {MpegLayer, 2}, {NoAudioEnd, 1}},
     "square pels 100 x 1024 / 576 = 177 give 16:9; ADTS AAC announced as stream_type 4: adts_buffer_fullness "
     "FF FC reads as a Layer II header at 44.1 kHz"},
    {"ts_h264_1080p_mp2.ts", MK_MPEG2_TRANSPORT},
    {"ts_hevc_2160p_multiprog.ts", MK_MPEG2_TRANSPORT, {{SelectFails, 1}}, "the capture holds no PES of the AAC PID"},
    {"webm_vp9_320x240.webm", MK_UNKNOWN, {}, "DocType \"webm\""},
};

int64_t Units(double seconds) { return std::llround(seconds * 1e7); }

// Seconds to the 100-ns value of a 32-bit transport-stream timestamp.
int64_t TsUnits(double seconds)
{
    constexpr int64_t kWrap = int64_t(1) << 32;
    return (std::llround(seconds * 90000) % kWrap + kWrap) % kWrap * 1000 / 9;
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// Format codes by ffprobe codec name; FFV1 (a Matroska VfW track) has none, MPEG audio of any layer is MPEG-1.
// With extensions, the Matroska codecs they add have theirs.
uint32_t FormatOf(const std::string& codec, bool extended)
{
    static const std::map<std::string, uint32_t> more = {
        {"hevc", VF_HEVC},          {"vp8", VF_VP8},           {"vp9", VF_VP9},           {"av1", VF_AV1},
        {"ffv1", VF_FFV1},          {"prores", VF_PRORES},     {"opus", AF_OPUS},         {"flac", AF_FLAC},
        {"mjpeg", VF_MJPEG},        {"eac3", AF_EAC3},         {"theora", VF_THEORA},     {"wmv1", VF_WMV},
        {"wmv2", VF_WMV},           {"wmv3", VF_WMV},          {"vc1", VF_VC1},           {"vp6f", VF_VP6},
        {"vp6", VF_VP6},            {"flv1", VF_FLV1},         {"dvvideo", VF_DV},        {"dnxhd", VF_DNXHD},
        {"huffyuv", VF_HUFFYUV},    {"rawvideo", VF_RAW},      {"msmpeg4v1", VF_MSMPEG4}, {"msmpeg4v2", VF_MSMPEG4},
        {"msmpeg4v3", VF_MSMPEG4},  {"jpeg2000", VF_JPEG2000}, {"flashsv", VF_SCREEN},    {"pcm_f32le", AF_PCM_FLOAT},
        {"pcm_f64le", AF_PCM_FLOAT}, {"pcm_f32be", AF_PCM_FLOAT}, {"pcm_alaw", AF_ALAW},  {"pcm_mulaw", AF_MULAW},
        {"speex", AF_SPEEX},        {"alac", AF_ALAC},         {"amr_wb", AF_AMR_WB},     {"wmav1", AF_WMA},
        {"wmav2", AF_WMA},          {"wmapro", AF_WMA_PRO},    {"wmalossless", AF_WMA_LOSSLESS},
        {"wmavoice", AF_WMA_VOICE}, {"nellymoser", AF_NELLYMOSER}, {"truehd", AF_TRUEHD}};
    if (const auto it = more.find(codec); extended && it != more.end())
        return it->second;
    if (extended && codec.starts_with("adpcm_"))
        return AF_ADPCM;
    static const std::map<std::string, uint32_t> formats = {
        {"mpeg1video", VF_MPEG1}, {"mpeg2video", VF_MPEG2}, {"mpeg4", VF_MPEG4},     {"h264", VF_H264},
        {"h263", VF_H263},        {"mp2", AF_MPEG1},        {"mp3", AF_MPEG1},       {"ac3", AF_AC3},
        {"dts", AF_DTS},          {"aac", AF_AAC},          {"pcm_dvd", AF_PCM_BE},  {"pcm_s16be", AF_PCM_BE},
        {"pcm_s16le", AF_PCM_LE}, {"amr_nb", AF_AMR},       {"vorbis", AF_VORBIS},
        {"pcm_u8", AF_PCM_LE},    {"pcm_s24le", AF_PCM_LE}, {"pcm_s32le", AF_PCM_LE}, {"pcm_s24be", AF_PCM_BE},
        {"pcm_s32be", AF_PCM_BE}, {"pcm_s8", AF_PCM_BE}};
    const auto it = formats.find(codec);
    return it == formats.end() ? 0 : it->second;
}

// A stream's transport stream_type. ffprobe shows none for SCTE-35 (0x86), "AC-3" for HDMV's AC-3 (0x81) and
// the registration's "HEVC" for HEVC (0x24); E-AC-3 is taken as 0x87 whether so typed (ffprobe shows "EAC3") or
// private data (6) with the DVB enhanced_AC-3_descriptor.
uint32_t StreamType(const FfprobeStream& s)
{
    if (s.codec == "eac3")
        return 0x87;
    if (s.codec == "hevc")
        return 0x24;
    if (s.codec == "opus")
        return 0x4F707573;  // private data registered as "Opus": the format_identifier
    return s.codec == "scte_35" ? 0x86 : s.tag == 0x332D4341 ? 0x81 : s.tag;
}

// Transport stream_types the detector lists as video and as audio; with every extension on, also these.
const std::set<uint32_t> kListedVideo = {0x01, 0x02, 0x1B, 0x20};
const std::set<uint32_t> kListedAudio = {0x03, 0x04, 0x0F, 0x11, 0x80, 0x81, 0x83, 0x85, 0x86, 0xA2};
const std::set<uint32_t> kExtendedVideo = {0x10, 0x24};
const std::set<uint32_t> kExtendedAudio = {0x82, 0x87, 0x4F707573};

// Matroska tracks with a record: MPEG and H.264 video or a VfW FourCC (ffprobe shows its tag), MPEG audio, AC-3,
// DTS, AAC, Vorbis and text subtitles; FLAC, Opus, PCM, ALAC, TrueHD, PGS and VobSub get one only with extensions.
bool Described(const FfprobeStream& s, bool extended)
{
    if (s.attachedPicture)
        return false;  // a cover picture (a Matroska attachment), no track
    return (FormatOf(s.codec, extended) && (extended || !s.codec.starts_with("pcm")) && s.codec != "amr_nb" &&
            s.codec != "h263") ||
           s.codec == "subrip" || (s.type == "video" && s.tag != 0) ||
           (extended && (s.codec == "hdmv_pgs_subtitle" || s.codec == "dvd_subtitle"));
}

using Box = std::tuple<uint32_t, size_t, size_t>;  // type, body start, end

// The child boxes of the body [at, end); the samples need no to-the-end sizes.
std::vector<Box> Children(const std::vector<uint8_t>& b, size_t at, size_t end)
{
    std::vector<Box> out;
    for (uint64_t size = 0; at + 8 <= end; at += size) {
        const bool large = Be32(&b[at]) == 1 && at + 16 <= end;
        size = large ? uint64_t(Be32(&b[at + 8])) << 32 | Be32(&b[at + 12]) : Be32(&b[at]);
        if (size < 8 || size > end - at)
            break;
        out.emplace_back(Be32(&b[at + 4]), at + (large ? 16 : 8), at + size);
    }
    return out;
}

// The first child of the given type (a body path of types), or (0, 0).
std::pair<size_t, size_t> Find(const std::vector<uint8_t>& b, size_t at, size_t end, std::vector<uint32_t> path)
{
    for (uint32_t type : path) {
        const auto children = Children(b, at, end);
        const auto it = std::find_if(children.begin(), children.end(), [type](Box c) { return std::get<0>(c) == type; });
        if (it == children.end())
            return {0, 0};
        at = std::get<1>(*it), end = std::get<2>(*it);
    }
    return {at, end};
}

constexpr uint32_t kMoov = 0x6D6F6F76, kMdat = 0x6D646174, kMdia = 0x6D646961;

// The total sample duration in seconds of the last track of each handler ('vide', 'soun'), summed from the
// file's own 'stts' entries and fragment runs ('trun' durations, else the 'tfhd' or 'trex' default); with edited,
// for a track with an 'edts', its 'tkhd' duration in the 'mvhd' time scale where that is not 0.
std::map<uint32_t, double> TrackLengths(const std::vector<uint8_t>& b, bool edited)
{
    struct Track {
        uint32_t handler = 0, timeScale = 0, defaultDuration = 0;
        uint64_t ticks = 0;
        double presented = 0;
    };
    std::map<uint32_t, Track> tracks;  // by track_ID
    const auto [mvhdStart, mvhdEnd] = Find(b, 0, b.size(), {kMoov, 0x6D766864});
    // Version 1 'mvhd', 'tkhd' and 'mdhd' carry 64-bit times before timescale or track_ID, and a 64-bit duration.
    const uint32_t movieScale = mvhdEnd ? Be32(&b[mvhdStart + (b[mvhdStart] ? 20 : 12)]) : 0;
    for (auto [type, at, end] : Children(b, 0, b.size())) {
        for (auto [t, s, e] : Children(b, at, end)) {
            if (type == kMoov && t == 0x7472616B) {  // moov/trak
                const size_t tkhd = Find(b, s, e, {0x746B6864}).first, mdhd = Find(b, s, e, {kMdia, 0x6D646864}).first;
                Track& tr = tracks[Be32(&b[tkhd + (b[tkhd] ? 20 : 12)])];
                const uint64_t duration =
                    b[tkhd] ? uint64_t(Be32(&b[tkhd + 28])) << 32 | Be32(&b[tkhd + 32]) : Be32(&b[tkhd + 20]);
                if (edited && Find(b, s, e, {0x65647473}).second && movieScale)  // 'edts'
                    tr.presented = double(duration) / movieScale;
                tr.timeScale = Be32(&b[mdhd + (b[mdhd] ? 20 : 12)]);
                tr.handler = Be32(&b[Find(b, s, e, {kMdia, 0x68646C72}).first + 8]);
                const size_t stts = Find(b, s, e, {kMdia, 0x6D696E66, 0x7374626C, 0x73747473}).first;
                for (uint32_t i = 0, n = stts ? Be32(&b[stts + 4]) : 0; i < n; ++i)
                    tr.ticks += uint64_t(Be32(&b[stts + 8 + 8 * i])) * Be32(&b[stts + 12 + 8 * i]);
            } else if (type == kMoov && t == 0x6D766578) {  // moov/mvex: trex defaults
                for (auto [x, xs, xe] : Children(b, s, e))
                    if (x == 0x74726578)
                        tracks[Be32(&b[xs + 4])].defaultDuration = Be32(&b[xs + 12]);
            } else if (type == 0x6D6F6F66 && t == 0x74726166) {  // moof/traf
                const size_t tfhd = Find(b, s, e, {0x74666864}).first;
                const uint32_t flags = Be32(&b[tfhd]) & 0xFFFFFF;
                Track& tr = tracks[Be32(&b[tfhd + 4])];
                const uint32_t each =
                    flags & 8 ? Be32(&b[tfhd + 8 + (flags & 1 ? 8 : 0) + (flags & 2 ? 4 : 0)]) : tr.defaultDuration;
                for (auto [r, rs, re] : Children(b, s, e)) {
                    const uint32_t rf = Be32(&b[rs]) & 0xFFFFFF, count = r == 0x7472756E ? Be32(&b[rs + 4]) : 0;
                    const size_t stride = 4 * std::popcount(rf & 0xF00), first = rs + 8 + (rf & 1 ? 4 : 0) + (rf & 4 ? 4 : 0);
                    for (uint32_t i = 0; i < count; ++i)
                        tr.ticks += rf & 0x100 ? Be32(&b[first + i * stride]) : each;
                }
            }
        }
    }
    std::map<uint32_t, double> lengths;
    for (const auto& [id, tr] : tracks)
        if (tr.timeScale != 0)
            lengths[tr.handler] = tr.presented > 0 ? tr.presented : double(tr.ticks) / tr.timeScale;
    return lengths;
}

// Whether the PES packet at position is the last of its pack (the pack checker describes a pack by it).
bool LastInPack(const std::vector<uint8_t>& bytes, int64_t position)
{
    if (position + 6 > int64_t(bytes.size()))
        return false;
    const int64_t next = position + 6 + (bytes[position + 4] << 8 | bytes[position + 5]);
    return next + 4 > int64_t(bytes.size()) || Be32(&bytes[next]) == 0x1BA;
}

// The start of the pack that holds the byte at position.
int64_t PackStart(const std::vector<uint8_t>& bytes, int64_t position)
{
    for (int64_t i = std::min<int64_t>(position, int64_t(bytes.size()) - 4); i >= 0; --i)
        if (Be32(&bytes[i]) == 0x1BA)
            return i;
    return -1;
}

// One E-AC-3 syncframe of six blocks of 256 samples at 48 kHz (ATSC A/52 Table E1.3).
constexpr double kEac3Frame = 6 * 256 / 48000.0;

// ffmpeg's ASF files: no Extended Stream Properties Object, AspectRatioX/Y 1:1 in the Metadata Object.
constexpr char kAsfCorpus[] =
    "File Properties: play duration 4.146 s less the 3.1 s preroll is 1.046 s, as long as ffprobe's streams (its "
    "format duration adds the video's 46 ms start); no Extended Stream Properties: the rate of the first pictures' "
    "presentation times, 40 ms apart; AspectRatioX/Y 1:1 makes 320x240 4:3";

// AMR: ffprobe reads as many packets, but its duration divides the frames' bytes by its own bit rate estimate.
constexpr char kAmrFrames[] = "frames of 20 ms, as ffprobe's packets (its duration is the bytes over its bit rate)";

// The rows that read otherwise with every extension on; the other rows hold in both modes.
const std::vector<Row> kExtendedRows = {
    {"m2ts_avchd_stub.mts", MK_MPEG2_TRANSPORT, {{NoPrograms, 1}},
     "seven whole 192-byte packets with a PAT; the transport demultiplexer syncs on more than seven"},
    {"mpeg2ps_ac3_privstream1.ps", MK_MPEG2_PROGRAM, {{DurationSeconds, 3 * 1536 / 44100.0}},
     "one pack whose packets end with the file; its one AC-3 packet, PTS 0.5 s, holds the three syncframes its "
     "number_of_frame_headers counts, 1536 samples each at 44.1 kHz: 0.1045 s, as MediaInfo's 0.104 s (ffprobe's "
     "0.035 s is the one frame after the only PTS); one pack gives no byte rate to check the end against"},
    {"es_h264_high444_320x240_25fps.h264", MK_H264_ES},
    {"es_h264_352x288_25i_bff.h264", MK_H264_ES, {}, "the first picture's pic_struct: bottom field first"},
    {"es_hevc_320x240_25fps.hevc", MK_HEVC_ES},
    {"es_mpeg4_320x240_25fps.m4v", MK_MPEG4_VIDEO_ES, {}, "no fixed_vop_rate: the rate from the VOP times"},
    {"es_mpeg4_320x240_25fps_novos.m4v", MK_MPEG4_VIDEO_ES},
    {"h264_es_128x128.h264", MK_H264_ES, {{AspectX, 1}, {AspectY, 1}}, "ffprobe gives no aspect; 128x128 is 1:1"},
    {"mpeg4v_es_120x96.cmp", MK_MPEG4_VIDEO_ES, {{AspectX, 120}, {AspectY, 96}},
     "square pels give width:height unreduced"},
    {"mkv_h264_aac_chapters.mkv", MK_MATROSKA, {{AudioStart, 0}},
     "no DisplayWidth/DisplayHeight: the pixels' aspect; the High 4:4:4 Predictive SPS is read: progressive; ffprobe "
     "moves the AAC track by its CodecDelay"},
    {"3gp_amrnb_audio.3gp", MK_MP4},
    {"mkv_ffv1_flac_reference.mkv", MK_MATROSKA, {}, "FFV1 by its VfW FourCC; FLAC from its STREAMINFO"},
    {"mkv_h264_320x240_25fps_flac_48k_stereo.mkv", MK_MATROSKA, {}, "FLAC from its STREAMINFO; the pixels' aspect"},
    {"mka_alac_44k_stereo.mka", MK_MATROSKA, {}, "rate, channels and bit depth from the ALAC magic cookie"},
    {"mka_pcm_f32le_48k_stereo.mka", MK_MATROSKA, {}, "A_PCM/FLOAT/IEEE: byte rate and block from the track's values"},
    {"mka_pcm_s24be_44k_mono.mka", MK_MATROSKA, {}, "A_PCM/INT/BIG, 24 bits: 3-byte blocks"},
    {"mkv_h264_320x240_25fps_pcm_s16le_48k_stereo.mkv", MK_MATROSKA, {}, "A_PCM/INT/LIT; the pixels' aspect"},
    {"mkv_h264_480x270_25fps_vorbis_44k_stereo_srt.mkv", MK_MATROSKA, {}, kPixelAspect},
    {"mkv_h264_640x360_25fps_aac_48k_stereo.mkv", MK_MATROSKA, {}, kPixelAspect},
    {"tags_mkv_h264_320x240_25fps.mkv", MK_MATROSKA, {}, kPixelAspect},
    {"cover_mkv_h264_320x240_25fps.mkv", MK_MATROSKA, {}, kPixelAspect},
    {"mkv_h264_vorbis.mkv", MK_MATROSKA, {}, kPixelAspect},
    {"mkv_h264_320x240_25fps_truehd_48k_5.1.mkv", MK_MATROSKA, {},
     "A_TRUEHD: 5.1 at 48 kHz from the major sync of the first access unit, found from the video's cue; "
     "the pixels' aspect"},
    {"mkv_hevc_320x240_25fps_eac3_48k_stereo.mkv", MK_MATROSKA, {},
     "V_MPEGH/ISO/HEVC: size, rate and display size (none: the pixels) from the track; A_EAC3: acmod 2 from the "
     "first syncframe"},
    {"mkv_mjpeg_320x240_10fps_dts_48k_5.1.mkv", MK_MATROSKA, {},
     "V_MJPEG: size, rate and display size (none: the pixels) from the track; the 5.1 speakers from the first DTS "
     "core header (AMODE 9, LFF)"},
    {"mkv_theora_320x240_25fps_ac3_44k_2.1.mkv", MK_MATROSKA, {},
     "V_THEORA: size, rate and display size (none: the pixels) from the track; AC-3 2.1: acmod 2 and lfeon from the "
     "first syncframe"},
    {"mkv_ffv1_nocues_blockgroups.mkv", MK_MATROSKA, {{NoTimes, 1}},
     "FFV1 by its VfW FourCC, its display size the pixel size; without Cues and SeekHead no times"},
    {"mkv_h264_ac3_pgs_laced.mkv", MK_MATROSKA, {{FrameRate, 599.99}},
     "the PGS track is listed; DefaultDuration 1666667 ns: trunc(10^11 / 1666667) / 100 = 599.99"},
    {"mkv_h264_ac3_vobsub.mkv", MK_MATROSKA, {}, "the VobSub track is listed; the pixels' aspect"},
    {"mov_ios9_mebx.mov", MK_MP4, {{AspectX, 16}, {AspectY, 9}}, "ffprobe gives no aspect; 1280x720 is 16:9"},
    {"mov_mjpeg_jpeg_320x240_15fps_pcm_u8_raw_7875_mono_moovonly.mov", MK_MP4, {},
     "a 'moov' that starts with its 'mvhd' covers the file: its tracks are read without an 'mdat'; 'jpeg' is "
     "Motion JPEG, QuickTime 'raw ' unsigned 8-bit PCM"},
    {"mov_iphone_rotated.mov", MK_MP4, {{FrameRate, 24.03}, {AspectX, 4}, {AspectY, 3}, {NoFrameDurations, 1}},
     "the 17th of 25 sample deltas is 24/600 s, the others 25/600 s: a delta inside the track differs, so the mean, "
     "25 frames in 624/600 s, 416000 x 100 ns, 24.03 fps to two decimals (MediaInfo and ffprobe's avg_frame_rate "
     "24.038; its r_frame_rate 24.08 is a guess); ffprobe gives no aspect, 640x480 is 4:3"},
    {"mov_qt_h264_aac.mov", MK_MP4, {{FrameRate, 16.74}, {NoFrameDurations, 1}},
     "only 63 of 123 sample deltas are 40/600 s: variable, so the mean, 123 frames in 4407/600 s, gives 16.74 "
     "(MediaInfo and ffprobe's avg_frame_rate 16.746); ffprobe's r_frame_rate is the time scale"},
    {"mp4_fragmented_h264_aac.mp4", MK_MP4, {}, "the rate from the fragment runs (tfhd default 1001/30000 s)"},
    {"mp4_h264_320x240_25fps_ac3_48k_5.1.mp4", MK_MP4},
    {"mp4_hevc_320x240_25fps_aac_48k_stereo.mp4", MK_MP4},
    {"m4a_aac_44k_quad_pce.m4a", MK_MP4, {}, "the program_config_element's two channel pairs"},
    {"m4a_aac_48k_7.1.m4a", MK_MP4, {}, "channelConfiguration 7 is eight channels"},
    {"mp4_mpeg2video_352x288_16x9_25fps_aac_48k_stereo.mp4", MK_MP4, {},
     "objectTypeIndication 0x61: MPEG-2 video, the sequence header that opens the first sample"},
    {"m4a_alac_96k_24bit_stereo.m4a", MK_MP4, {}, "rate, channels and bit depth from the ALAC magic cookie"},
    {"mov_prores_160x120_25fps_alac_44k_stereo.mov", MK_MP4, {},
     "'apcn' at the entry's size, its 'pasp' and 'fiel'; the ALAC cookie inside the sound description's 'wave'"},
    {"mov_adpcm_ima_qt_44k_stereo.mov", MK_MP4, {}, "'ima4': 4 bits a sample"},
    {"mov_pcm_alaw_8k_mono.mov", MK_MP4, {}, "'alaw': 8 bits a sample"},
    {"mov_pcm_mulaw_8k_mono.mov", MK_MP4, {}, "'ulaw': 8 bits a sample"},
    {"mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4", MK_MP4, {{NoFrameDurations, 1}},
     "the rate from the fragment runs (512/12800 s); the first AAC run sample lasts 3840/48000 s (the encoder "
     "delay), so the audio frame duration, the end of the second sample, is 4864/48000 s"},
    {"ts_h264_1024x576_aac.ts", MK_MPEG2_TRANSPORT, {{AspectX, 16}, {AspectY, 9}},
     "square pels 100 x 1024 / 576 = 177 give 16:9; the ADTS frames make the stream_type 4 audio AAC"},
    {"webm_av1_320x240_25fps_opus_48k_5.1.webm", MK_WEBM, {{AudioStart, 0}},
     "DocType \"webm\"; six channels from the OpusHead; ffprobe moves the Opus track by its CodecDelay"},
    {"webm_vp8_320x240_25fps_vorbis_44k_stereo.webm", MK_WEBM, {}, "DocType \"webm\": read as Matroska"},
    {"webm_vp9_320x240_25fps_opus_48k_stereo.webm", MK_WEBM, {{AudioStart, 0}},
     "DocType \"webm\"; Opus channels from its OpusHead, decoded at 48 kHz; ffprobe moves the Opus track by its "
     "CodecDelay (7 ms)"},
    {"webm_vp9_320x240.webm", MK_WEBM, {}, "DocType \"webm\""},
    {"ts_mpeg2video_320x240_25fps_eac3_48k_5.1.ts", MK_MPEG2_TRANSPORT,
     {{TsRegistration, 1}, {AudioEndShift, kEac3Frame}},
     "an \"EAC3\" registration_descriptor; the E-AC-3 syncframes give 5.1; ffprobe ends E-AC-3 at its last PTS, the "
     "scan adds the last frame"},
    {"ts_mpeg2video_320x240_25fps_mp2_48k_stereo_ptswrap.ts", MK_MPEG2_TRANSPORT, {},
     "the end is unwrapped past 2^32 ticks"},
    {"ts_mpeg2video_320x240_25fps_3frames.ts", MK_MPEG2_TRANSPORT, {}, "the end search takes the three PES it saw"},
    {"ts_dvb_h264_1080i_eac3_dvbsub.ts", MK_MPEG2_TRANSPORT, {{AudioEndShift, kEac3Frame}},
     "private data with the DVB enhanced_AC-3_descriptor is E-AC-3; two DVB subtitle PIDs are listed; ffprobe ends "
     "E-AC-3 at its last PTS, the scan adds the last frame"},
    {"ts_h262_mp2_small.ts", MK_MPEG2_TRANSPORT, {}, "the end search takes the three video PES it saw"},
    {"ts_dvb_mpeg2_1080i_dts_mp2.ts", MK_MPEG2_TRANSPORT,
     {{VideoEndShift, 1001.0 / 30000}, {AudioEndShift, 512 / 48000.0}},
     "stream_type 0x86 without a registration_descriptor: its DTS core frames (512 samples) give 5.1 at 48 kHz; "
     "ffprobe ends the DTS at its last PTS, the scan adds the last frame"},
    {"ts_hevc_2160p_multiprog.ts", MK_MPEG2_TRANSPORT, {{SelectFails, 1}},
     "HEVC is listed; the capture holds no PES of the AAC PID"},
    {"ts_h264_352x288_25i_bff_mp2_48k_stereo.ts", MK_MPEG2_TRANSPORT, {},
     "the first picture's pic_struct: bottom field first"},
    {"ts_h264_320x240_25fps_opus_48k_5.1.ts", MK_MPEG2_TRANSPORT, {{TsRegistration, 1}, {AudioEndShift, 0.02}},
     "private data registered as \"Opus\": channels from its Opus audio descriptor, 48 kHz; ffprobe ends the Opus "
     "at its last PTS, the scan adds the last access unit's 20 ms"},
    {"ts_hevc_320x240_25fps_aac_48k_stereo.ts", MK_MPEG2_TRANSPORT, {{TsRegistration, 1}},
     "HEVC is listed and described; an \"HEVC\" registration_descriptor"},
    {"flv_flv1_320x240_25fps_mp3_44k_stereo.flv", MK_FLV, {{AspectX, 4}, {AspectY, 3}},
     "the size from the Sorenson H.263 picture header, which states no aspect (nor does ffprobe): square samples; "
     "the rate from the tag timestamps; the duration from onMetaData"},
    {"flv_flv1_320x240_25fps_mp3_44k_stereo_nometa.flv", MK_FLV, {{AspectX, 4}, {AspectY, 3}},
     "no onMetaData: square samples of the Sorenson H.263 picture (ffprobe states no aspect), the rate from the tag "
     "timestamps, the duration the last tag's, walking back through PreviousTagSize"},
    {"flv_h264_320x240_25fps_aac_44k_stereo.flv", MK_FLV, {},
     "AVCDecoderConfigurationRecord and AudioSpecificConfig; the duration from onMetaData"},
    {"flv_h264_aac_640x350.flv", MK_FLV, {{AspectX, 640}, {AspectY, 350}},
     "the SPS has no VUI: square samples, the picture's shape as H.264 gives it elsewhere (ffprobe states no "
     "aspect); the duration from onMetaData"},
    {"flv_pcm_s16le_audio_only.flv", MK_FLV, {},
     "sound format 3; its onMetaData states no duration, the last tag is a script tag: the latest audio tag's "
     "timestamp"},
    {"w64_pcm_s24le_48k_stereo.w64", MK_WAV},
    {"wav_alaw_8k_mono.wav", MK_WAV},
    {"wav_mp3_44k_stereo.wav", MK_WAV, {}, "MPEG audio from its first frame; the data over the byte rate"},
    {"wav_pcm_f32le_48k_mono.wav", MK_WAV},
    {"wav_pcm_s16le_44k_stereo.wav", MK_WAV},
    {"wav_pcm_s16le_48k_5.1.wav", MK_WAV},
    {"wav_rf64_pcm_s16le_48k_stereo.wav", MK_WAV},
    {"ps_mpeg2video_352x288_15fps_mp2_48k_stereo.mpg", MK_MPEG2_PROGRAM, {{AspectX, 352}, {AspectY, 288}},
     "frame_rate_code 3 (25 Hz) times (2 + 1) / (4 + 1) from the sequence extension: 15 fps"},
    {"ps_mpeg2video_352x288_25fps_dts_48k_stereo.vob", MK_MPEG2_PROGRAM, {},
     "the channels and speakers of the DTS core header's AMODE"},
    {"mpg1_mpeg2video_352x288_16x9_25i_tff_mp2_48k_mono.mpg", MK_MPEG1_SYSTEM, {},
     "the sequence extension makes the video MPEG-2: display aspect, field order from the pictures"},
    {"wav_bwf_bext_ixml_48k_mono.wav", MK_WAV, {}, "'bext' before 'fmt '; 'iXML' after the data"},
    {"wav_extensible_pcm24_mono.wav", MK_WAV},
    {"wav_rf64_pcm16_48k_stereo.wav", MK_WAV, {}, "the data size from 'ds64'"},
    {"mp3_cbr_128k_44k_stereo.mp3", MK_MP3, {}, "no Xing header: the bytes over the bit rate"},
    {"mp3_vbr_xing_44k_stereo.mp3", MK_MP3, {}, "the Xing frame count; whole frames, as ffprobe and MediaInfo count"},
    {"mp3_vbr_noxing_44k_mono.mp3", MK_MP3, {},
     "no Xing header: the bytes over the running mean bit rate of the frames in the 1 KiB blocks of the first 50"},
    {"mp3_id3v23_cover_48k_mono.mp3", MK_MP3, {}, "after the ID3v2.3 tag (its APIC cover is no stream): Info count"},
    {"mp3_mpeg2_24k_mono.mp3", MK_MP3, {{AudioFormat, AF_MPEG2}}, kMpeg2Audio},
    {"mp2_mpeg2_22k_mono.mp2", MK_MP3, {{AudioFormat, AF_MPEG2}}, kMpeg2Audio},
    {"adts_aac_lc_48k_stereo.aac", MK_ADTS, {}, "the bytes over the running mean bit rate of the first 50 frames"},
    {"adts_aac_lc_48k_5.1.aac", MK_ADTS, {},
     "the bytes over the running mean bit rate of the first 50 frames; the speakers of channel_configuration 6"},
    {"mp3_lame_info_gapless_32k_mono.mp3", MK_MP3, {},
     "the Info frame count in whole frames, as ffprobe and MediaInfo give it (the LAME delay and padding kept)"},
    {"mp3_vbri_id3v24_48k.mp3", MK_MP3, {}, "after the ID3v2.4 tag: the VBRI frame count"},
    {"adts_lc_stereo_44k1.aac", MK_ADTS, {}, "the bytes over the running mean bit rate of the first 50 frames"},
    {"asf_msmpeg4v3_320x240_25fps_wmav2_44k_stereo.asf", MK_ASF, {{DurationSeconds, 1.046}}, kAsfCorpus},
    {"asf_wmv2_320x240_25fps_wmav2_44k_stereo.wmv", MK_ASF, {{DurationSeconds, 1.046}}, kAsfCorpus},
    {"asf_wmv2_wmav2_short.wmv", MK_ASF, {{FrameRate, 0}, {DurationSeconds, 0.092}, {AspectX, 0}, {AspectY, 0}},
     "File Properties: play duration 3.192 s less the 3.1 s preroll is 0.092 s (MediaInfo 0.092 s; ffprobe's 0.138 s "
     "adds the video's 46 ms start); no Extended Stream Properties, and its packets hold one picture: no frame rate "
     "(ffprobe's 1000 fps is the millisecond timestamp base, MediaInfo gives none); no AspectRatioX/Y: no aspect "
     "(ffprobe gives none)"},
    {"flac_44k_stereo_cover.flac", MK_FLAC, {}, "STREAMINFO; the PICTURE block is skipped by its length, no stream"},
    {"tags_flac_44k_stereo.flac", MK_FLAC, {}, "STREAMINFO; the VORBIS_COMMENT block is read for the tags alone"},
    {"tags_mp3_id3v23_44k_stereo.mp3", MK_MP3, {}, "after the ID3v2.3 tag: the Info frame count"},
    {"tags_mp3_id3v24_id3v1_44k_stereo.mp3", MK_MP3, {},
     "after the ID3v2.4 tag: the Info frame count; the ID3v1 tag at the end is no audio"},
    {"tags_ogg_opus_48k_stereo.opus", MK_OGG, {{DurationSeconds, 1.0}},
     "the last granule position less the pre-skip of 312 samples (RFC 7845 4.2); ffprobe's duration keeps it"},
    {"tags_ogg_vorbis_44k_stereo.ogg", MK_OGG},
    {"cover_ogg_vorbis_44k_stereo.ogg", MK_OGG},
    {"tags_wav_pcm_s16le_44k_stereo.wav", MK_WAV, {}, "a LIST INFO before 'data'"},
    {"tags_aiff_pcm_s16be_44k_stereo.aiff", MK_AIFF, {}, "text chunks before COMM, an \"ID3 \" chunk after SSND"},
    {"tags_asf_wmav2_44k_stereo.wma", MK_ASF, {}, "File Properties: play duration less the preroll"},
    {"tags_flv_flv1_320x240_25fps.flv", MK_FLV, {{AspectX, 4}, {AspectY, 3}},
     "the size from the Sorenson H.263 picture header, which states no aspect: square samples"},
    {"tags_avi_mpeg4_320x240_25fps.avi", MK_AVI, {}, "a LIST INFO after 'hdrl'"},
    {"flac_stereo_truncated_51s.flac", MK_FLAC, {}, "the first 32 KiB of the file: STREAMINFO's total samples stand"},
    {"aiff_pcm_s16be_44k_stereo.aiff", MK_AIFF},
    {"aifc_sowt_44k_stereo.aifc", MK_AIFF, {}, "compression type 'sowt': little-endian PCM"},
    {"aifc_ulaw_8k_mono.aifc", MK_AIFF},
    {"aiff_aifc_alaw_mono.aifc", MK_AIFF, {},
     "'ALAW' codes 8 bits a sample (ffprobe too), though COMM's sampleSize says 16 (MediaInfo's BitDepth)"},
    {"caf_pcm_s16le_44k_stereo.caf", MK_CAF, {}, "'lpcm' with the little-endian flag"},
    {"caf_alac_44k_stereo.caf", MK_CAF, {}, "'pakt' after 'data': 45056 valid frames, no priming or remainder"},
    {"caf_aacld_22k_mono_bell.caf", MK_CAF, {{DurationSeconds, 88748 / 22050.0}},
     "'aacl' is AAC-LD; 'pakt' states 88748 valid frames (the 175 packets of 512 frames less 528 priming and 324 "
     "remainder frames), as MediaInfo's 4.025 s; ffprobe counts every packet's frames (89600)"},
    {"ac3_384k_48k_5.1.ac3", MK_AC3, {}, "32 syncframes of 1536 samples"},
    {"ac3_stereo_44k1_5s.ac3", MK_AC3, {{DurationSeconds, 143 * 1536 / 44100.0}},
     "143 syncframes of 1536 samples (MediaInfo 4.981 s, 143 frames): every frame is frmsizecod 16's 278 words, "
     "none with the padding word 44.1 kHz frames may carry; ffprobe divides the size by the nominal 128 kbit/s"},
    {"eac3_96k_48k_stereo.eac3", MK_EAC3, {}, "32 syncframes of 6 blocks; bsid 16"},
    {"eac3_51_48k.eac3", MK_EAC3, {}, "54 syncframes of 1 block of 256 samples; bsid 16"},
    {"dts_768k_48k_5.1.dts", MK_DTS, {}, "47 core frames of 512 samples; AMODE 9 and LFF give 5.1"},
    {"amr_nb_12k2_mono.amr", MK_AMR, {{DurationSeconds, 50 * 0.02}}, kAmrFrames},  // ffprobe: 1600 B at 12.4 kbit/s
    {"amr_wb_23k85_mono.awb", MK_AMR, {{DurationSeconds, 50 * 0.02}}, kAmrFrames},  // ffprobe: at 23.6 kbit/s
    {"amr_wb_mono.amr", MK_AMR, {{DurationSeconds, 169 * 0.02}}, kAmrFrames},  // ffprobe: 4056 B at 9.2 kbit/s
    {"ogg_flac_44k_stereo.oga", MK_OGG, {}, "the 0x7F \"FLAC\" mapping header and its STREAMINFO"},
    {"ogg_opus_48k_stereo.opus", MK_OGG, {{DurationSeconds, 2.0}},
     "the last granule position 96312 less the pre-skip of 312 samples, which the decoder puts out before the "
     "first sample (RFC 7845 4.2); ffprobe's duration keeps the pre-skip"},
    {"ogg_opus_48k_5.1.opus", MK_OGG, {{DurationSeconds, 0.5}},
     "the last granule position less the pre-skip of 312 samples; the speakers of mapping family 1 for six "
     "channels"},
    {"ogg_speex_16k_mono.spx", MK_OGG, {},
     "the first data page's granule position 15857 less its 50 packets of 320 samples: the stream starts at -143"},
    {"ogg_theora_320x240_25fps_vorbis_44k_stereo.ogv", MK_OGG, {},
     "Theora granule positions: keyframe number << KFGSHIFT | frames since; 25 frames at 25/1"},
    {"ogg_vorbis_44k_stereo.ogg", MK_OGG},
    {"ogg_opus_stereo_48k.opus", MK_OGG, {{DurationSeconds, (131880 - 48 - 312) / 48000.0}},
     "the first data page completes 255 packets of 122400 samples at granule position 122448: the stream starts at "
     "sample 48 (RFC 7845 4.5), and the pre-skip of 312 samples is not played (4.2); ffprobe (2.7475 s) and "
     "MediaInfo (2.748 s) count both"},
    {"ogg_theora_vorbis_500x500_1fps.ogg", MK_OGG, {},
     "Theora serial 0 is listed as id 2 (Vorbis has serial 1); the last Theora page holds one empty packet (a "
     "repeated frame) at granule position 1 << 6 | 1: two frames at 1 fps"},
    {"mxf_mpeg2video_720x576_25i_tff_pcm_48k_stereo.mxf", MK_MXF, {},
     "fields stored separately (FrameLayout 1): twice the 288-line SampledHeight; the first picture is top field "
     "first"},
    {"mxf_d10_720x608_25i_pcm_48k_stereo.mxf", MK_MXF, {},
     "D-10: the sampled 720x608 (the 32 VBI lines kept) at the descriptor's 4:3"},
    {"mxf_dnxhd_1280x720_25fps_pcm_48k_stereo.mxf", MK_MXF, {}, "VC-3 coding label"},
    {"mxf_h264_1920x1080_25fps_pcm_48k_stereo.mxf", MK_MXF, {},
     "the sampled 1920x1080, not the 1088 lines stored in whole macroblocks"},
    {"mxf_mpeg2video_1920x1080_25i_tff_pcm_48k_stereo.mxf", MK_MXF, {},
     "fields of 540 sampled lines (544 stored): 1080; the first picture is top field first"},
    {"mxf_imf_pcm24_stereo.mxf", MK_MXF, {}, "the material package's sound track: 35232 samples at 48 kHz"},
    {"avi_dvvideo_720x576_25fps_pcm_s16le_48k_stereo.avi", MK_AVI, {{FieldOrder, 2}},
     "dvsd: the first frame's VAUX source control pack marks it interlaced, and DV fields are bottom first "
     "(ffprobe leaves the order unknown); the display aspect is the 'vprp' one (5:4), as both peers give it"},
    {"avi_h264_320x240_25fps_pcm_s16le_48k_stereo.avi", MK_AVI, {}, "the SPS of the first frame"},
    {"avi_mjpeg_320x240_25fps_ac3_48k_stereo.avi", MK_AVI, {}, "AC-3 from the first chunk's syncframe"},
    {"avi_mpeg4_320x240_25fps_mp3_44k_stereo.avi", MK_AVI, {}, "XVID: the VOL of the first frame; MPEG audio from "
     "its first frame, one frame per chunk (nBlockAlign 1152)"},
    {"dv_ntsc_720x480_29.97fps_pcm_48k_stereo.dv", MK_DV, {{FieldOrder, 2}}, kDvFields},
    {"dv_pal_720x576_25fps_pcm_48k_stereo.dv", MK_DV, {{FieldOrder, 2}}, kDvFields},
    {"avi_h264_mp3_large_length.avi", MK_AVI, {{DurationSeconds, 7800 * 32 / 122500.0}},
     "the audio 'strh' states dwLength 7800 x dwScale 32 / dwRate 122500 = 2.0376 s (MediaInfo 2.038 s), more than "
     "its chunks hold (ffprobe counts them: 1.967 s); the index that would count them is not read"},
    {"dv_ntsc_sony_1frame.dv", MK_DV, {{FieldOrder, 2}, {BitsPerSample, 12}},
     "DV fields are bottom first (MediaInfo BFF; ffprobe leaves the order unknown); two audio pairs (CHN 1: two "
     "channels per audio block) of 12-bit non-linear samples at 32 kHz, as MediaInfo gives them (ffprobe: the 16 "
     "bits they decode to)"},
};

class Conformance : public md::test::TimeTableHost {
protected:
    // Checks every file of dir against its row: in the base behaviour, or with every extension on and the rows
    // of kExtendedRows in place of their base ones.
    void CheckDirectory(const fs::path& dir, std::vector<Row> rows, bool extended = false)
    {
        m_extended = extended;
        std::set<std::string> files, named;
        for (const fs::path& f : md::test::MediaFiles(dir))
            files.insert(f.filename().string());
        for (const Row& row : kExtendedRows)
            if (const char* why = OffWithoutBit(row.kind); why && files.count(row.name))
                rows.push_back({row.name, MK_UNKNOWN, {}, why});
        if (extended) {
            const uint32_t all = MD_EXT_ALL;
            ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &all), S_OK);
            for (Row& row : rows)
                for (const Row& other : kExtendedRows)
                    if (std::string_view(row.name) == other.name)
                        row = other;
        }
        std::transform(rows.begin(), rows.end(), std::inserter(named, named.end()), [](const Row& r) { return r.name; });
        for (const std::string& f : files)
            EXPECT_TRUE(named.count(f)) << f << ": a media file without a row; add one";
        for (const std::string& n : named)
            EXPECT_TRUE(files.count(n)) << n << ": a row naming a file that is not there";
        m_bundled = dir == md::test::TestDataDir();
        for (const Row& row : rows) {
            if (!files.count(row.name))
                continue;
            SCOPED_TRACE(std::string(row.name) + (row.why[0] ? std::string(" (") + row.why + ")" : ""));
            m_row = &row, m_file = dir / row.name;
            Check(m_file);
            OpenCuts(m_file);
        }
    }

    void Check(const fs::path& file)
    {
        const Ffprobe ref = md::test::ReadFfprobe(file);
        uint32_t kind = 99;
        ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
        ASSERT_EQ(kind, m_row->kind);
        VideoInfo video{};
        if (kind == MK_UNKNOWN) {
            EXPECT_EQ(m_detector->GetVideoInfo(&video), E_INVALIDARG);
        } else if (kind >= MK_MPEG1_SYSTEM && kind <= MK_DVD_VR && !ref.First("video")) {
            const FfprobeStream& as = *ref.First("audio");
            CheckAudio(Got<AudioInfo>(&IMediaDetect5::GetAudioInfo), as, true);
            // The audio alone: from its first PTS to the end of its last frame.
            EXPECT_EQ(Range().audioFirstTime, Units(*as.start));
            EXPECT_NEAR(Duration() / 1e7, Get(DurationSeconds, *ref.duration), Get(DurationTolerance, 0.001));
        } else if (kind >= MK_MPEG1_SYSTEM && kind <= MK_DVD_VR) {
            CheckProgramStream(ref);
            CheckTimeTable(file, *ref.First("video"));
        } else if (kind == MK_MP4) {
            CheckMp4(ref);
        } else if (kind >= MK_MP3) {
            CheckFamily(ref);
        } else if (m_extended && (kind == MK_MPEG1_VIDEO_ES || kind == MK_MPEG2_VIDEO_ES || kind == MK_MPEG4_VIDEO_ES ||
                                  kind == MK_H264_ES || kind == MK_HEVC_ES)) {
            // Extensions describe the video of bare streams, which have no time range.
            CheckVideo(Got<VideoInfo>(&IMediaDetect5::GetVideoInfo), *ref.First("video"));
            Duration(E_FAIL);
        } else {
            // Transport, Matroska and elementary kinds have no records after the open.
            EXPECT_EQ(m_detector->GetVideoInfo(&video), E_NOTIMPL);
            if (kind == MK_MPEG2_TRANSPORT)
                CheckTransport(ref);
            else if (kind == MK_MATROSKA || kind == MK_WEBM)  // WebM is checked as Matroska
                CheckMatroska(ref);
            else  // elementary streams have no time range
                Duration(E_FAIL);
        }
        CheckCover(file);
        // The duration runs from the start to the later of the two ends.
        TimeRangeInfo range{};
        if (kind != MK_MATROSKA && kind != MK_WEBM && m_detector->GetTimeRangeInfo(&range) == S_OK) {
            EXPECT_EQ(Duration(), std::max(range.videoEndTime, range.audioEndTime) - range.startTime);
        }
    }

    bool Has(Field f) const { return m_row->deviations.count(f) != 0; }
    double Get(Field f, double otherwise) const { return Has(f) ? m_row->deviations.at(f) : otherwise; }

    template <typename T>
    T Info(int32_t id)
    {
        T value{};
        EXPECT_EQ(m_info->GetInfo(id, &value), S_OK) << "info " << id;
        return value;
    }
    TimeRangeInfo Range() { return Got<TimeRangeInfo>(&IMediaDetect5::GetTimeRangeInfo); }
    int64_t Duration(HRESULT expected = S_OK)
    {
        int64_t value = -1;
        EXPECT_EQ(m_detector->GetDuration(&value), expected);
        return value;
    }
    // The video and audio ids GetStreamLists gives for a program (0: the file's own streams).
    std::pair<std::vector<uint32_t>, std::vector<uint32_t>> Lists(uint32_t program)
    {
        int32_t videoCount = 0, audioCount = 0;
        uint32_t video[16] = {}, audio[16] = {};
        EXPECT_EQ(m_detector->GetStreamLists(program, &videoCount, video, &audioCount, audio, 0), S_OK) << program;
        return {std::vector(video, video + videoCount), std::vector(audio, audio + audioCount)};
    }
    std::vector<uint32_t> Subtitles(HRESULT expected)
    {
        uint32_t count = 0, ids[16] = {};
        EXPECT_EQ(m_detector->GetSubtitleTracks(&count, ids, 0), expected);
        return std::vector(ids, ids + count);
    }
    // A detector query's value; its result must be expected. (GCC's sanitizer builds see the call through the
    // member pointer as a read of an uninitialised temporary.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
    template <typename T>
    T Got(HRESULT (IMediaDetect5::*query)(T*), HRESULT expected = S_OK)
    {
        T value{};
        EXPECT_EQ((m_detector->*query)(&value), expected);
        return value;
    }
#pragma GCC diagnostic pop

    void CheckVideo(const VideoInfo& v, const FfprobeStream& s)
    {
        const uint32_t order = s.fieldOrder == "tt" ? 1 : s.fieldOrder == "bb" ? 2 : 0;
        EXPECT_EQ(std::tuple(v.format, v.width, v.height, v.fieldOrder),
                  std::tuple(uint32_t(Get(VideoFormat, FormatOf(s.codec, m_extended))), s.width, s.height,
                             uint32_t(Get(FieldOrder, order))))
            << s.fieldOrder;
        if (Has(AspectX)) {
            EXPECT_EQ(std::tuple(v.aspectX, v.aspectY), std::tuple(Get(AspectX, 0), Get(AspectY, 0)));
        } else {
            ASSERT_NE(v.aspectY, 0u);
            EXPECT_NEAR(double(v.aspectX) / v.aspectY, s.aspect, 0.005);
        }
        EXPECT_NEAR(v.frameRate, Get(FrameRate, s.frameRate), 0.005);
    }

    // framesRead: the audio frames were parsed (program and transport streams; Matroska's first frame with
    // extensions).
    void CheckAudio(const AudioInfo& a, const FfprobeStream& s, bool framesRead)
    {
        EXPECT_EQ(std::tuple(a.format, a.channels, a.sampleRate),
                  std::tuple(uint32_t(Get(AudioFormat, FormatOf(s.codec, m_extended))),
                             uint32_t(Get(Channels, s.channels)), uint32_t(Get(SampleRate, s.sampleRate))));
        if (s.codec.starts_with("pcm")) { EXPECT_EQ(a.bitsPerSample, uint32_t(Get(BitsPerSample, s.bitsPerSample))); }
        const bool family = m_row->kind >= MK_MP3;  // files of the container families name Layer III mp3
        if (const double layer = Get(MpegLayer, s.codec == "mp2" ? 2 : s.codec == "mp3" && family ? 3 : 0); layer != 0) {
            MpegAudioLayerInfo info{};
            ASSERT_EQ(m_detector->GetMpegAudioLayerInfo(&info), S_OK);
            EXPECT_EQ(info.layer, layer);
            EXPECT_EQ(info.channelMode == 3, s.channels == 1);  // single channel
        }
        // The speakers of TrueHD's major sync layout, of the A/52 frames and of a Matroska track's DTS core; with
        // extensions, of every DTS core header, and beyond stereo of the Opus layouts (transport streams, Ogg) and
        // of ADTS channel configurations.
        const bool a52 = s.codec == "ac3" || s.codec == "eac3";
        const bool dtsCore = s.codec == "dts" && (m_row->kind == MK_MATROSKA || m_extended);
        const bool matroska = m_row->kind == MK_MATROSKA || m_row->kind == MK_WEBM;
        const bool stated = (s.codec == "opus" && !matroska) || (s.codec == "aac" && m_row->kind == MK_ADTS);
        const bool layout = m_extended && s.channels > 2 && stated;
        if (s.codec == "truehd" || ((a52 || dtsCore || layout) && framesRead)) {
            MultiChannelInfo multi{};
            ASSERT_EQ(m_detector->GetMultiChannelInfo(&multi), S_OK);
            // An LFE in the layouts "2.1", "5.1(side)", ...
            EXPECT_EQ(std::tuple(uint32_t(std::popcount(multi.channelMask)), multi.lfe),
                      std::tuple(s.channels, uint8_t(s.channelLayout.find(".1") != std::string::npos ? 1 : 0)));
            if (a52) {
                // A/52 Table 5.8's acmod; the bsid, given by the open method only (not by a selection): 8, and 16 in
                // E-AC-3 files' frames.
                const std::map<std::string, int> acmod = {{"mono", 1}, {"stereo", 2}, {"2.1", 2}, {"5.1(side)", 7}};
                const bool selected = m_row->kind == MK_MPEG2_TRANSPORT || m_row->kind == MK_MATROSKA;
                const int bsid = selected ? 0 : m_row->kind == MK_EAC3 ? 16 : 8;
                EXPECT_EQ(std::tuple(int(multi.codingMode), int(multi.streamIdByte)),
                          std::tuple(acmod.at(s.channelLayout), bsid));
            }
        }
    }

    // The container families: the streams listed as ffprobe lists them (cover pictures are no video), the first
    // video and audio described, and the duration.
    void CheckFamily(const Ffprobe& ref)
    {
        std::vector<const FfprobeStream*> video, audio;
        for (const FfprobeStream& s : ref.streams) {
            if (s.type == "video" && !s.attachedPicture)
                video.push_back(&s);
            else if (s.type == "audio")
                audio.push_back(&s);
        }
        int32_t videoCount = -1, audioCount = -1;
        ASSERT_EQ(m_detector->GetStreamLists(0, &videoCount, nullptr, &audioCount, nullptr, 0), S_OK);
        EXPECT_EQ(std::tuple(size_t(videoCount), size_t(audioCount)), std::tuple(video.size(), audio.size()));
        if (video.empty() || Has(NoVideoRecord))
            Got<VideoInfo>(&IMediaDetect5::GetVideoInfo, E_NOTIMPL);
        else
            CheckVideo(Got<VideoInfo>(&IMediaDetect5::GetVideoInfo), *video[0]);
        if (audio.empty() || Has(NoAudioRecord))
            Got<AudioInfo>(&IMediaDetect5::GetAudioInfo, E_NOTIMPL);
        else
            CheckAudio(Got<AudioInfo>(&IMediaDetect5::GetAudioInfo), *audio[0], true);
        const double seconds = Get(DurationSeconds, ref.duration.value_or(-1));
        if (seconds < 0) {
            Duration(E_FAIL);
        } else {
            EXPECT_NEAR(double(Duration()) / 1e7, seconds, Get(DurationTolerance, 0.001));
        }
    }

    void CheckProgramStream(const Ffprobe& ref)
    {
        const FfprobeStream* vs = ref.First("video");
        const FfprobeStream* as = ref.First("audio");
        ASSERT_TRUE(vs && as && vs->start && vs->duration && as->start && as->duration);
        CheckVideo(Got<VideoInfo>(&IMediaDetect5::GetVideoInfo), *vs);
        CheckAudio(Got<AudioInfo>(&IMediaDetect5::GetAudioInfo), *as, true);
        EXPECT_EQ(Info<int64_t>(MDI_FIRST_VIDEO_TIME), *vs->startPts);  // 90 kHz
        // The sequence header (the visual object sequence for MPEG-4), then the picture header.
        const auto headers = std::make_unique<CodecHeaderInfo>();
        ASSERT_EQ(m_info->GetInfo(MDI_CODEC_HEADERS, headers.get()), S_OK);
        EXPECT_EQ(Be32(headers->header1), vs->codec == "mpeg4" ? 0x1B0u : 0x1B3u);
        if (vs->codec == "mpeg2video") { EXPECT_EQ(Be32(headers->header2), 0x100u); }

        // The range starts at the first video picture, where ffprobe's format starts
        // at its earliest stream, and ends a frame after the last picture.
        const TimeRangeInfo r = Range();
        const int64_t frame = r.videoFrameDuration;
        ASSERT_GT(frame, 0);
        EXPECT_NEAR(r.videoFirstTime, Units(*vs->start), 20);
        EXPECT_EQ(r.startTime, r.videoFirstTime);
        const double lastPicture = *vs->start + *vs->duration - 1 / vs->frameRate;
        EXPECT_NEAR(r.videoEndTime, Units(lastPicture) + frame * (1 + Get(ExtraVideoFrames, 0)), 20);
        const int64_t audioFrame = r.audioFrameDuration;
        ASSERT_GT(audioFrame, 0);
        if (as->codec == "pcm_dvd") { EXPECT_EQ(audioFrame, 10000000 / 600); }  // DVD LPCM frames last 1/600 s
        const int64_t after = r.audioEndTime - Units(*as->start + *as->duration);
        if (as->codec == "mp2") {
            // ffprobe ends MPEG audio at its last PTS; the scan counts the whole frames after it.
            EXPECT_NEAR(r.audioFirstTime, Units(*as->start), 20);
            EXPECT_GE(after, -20);
            EXPECT_LE(after, 6 * audioFrame);
            EXPECT_NEAR(after, (after + audioFrame / 2) / audioFrame * audioFrame, 20);
        } else {
            // Private stream 1: the sub-stream id follows the PES header, so a packet's
            // PTS is taken for the audio of the packet before it; the first packet's
            // time is lost and the last take's time goes to up to a packet of frames.
            // With MD_EXT_TIME_RANGES each packet's PTS is its own sub-stream's.
            if (m_extended) {
                EXPECT_NEAR(r.audioFirstTime, Units(*as->start), 20);
            } else {
                EXPECT_GT(r.audioFirstTime, Units(*as->start));
                EXPECT_LE(r.audioFirstTime, Units(*as->start + 0.1));
            }
            EXPECT_GE(after, 0);
            EXPECT_LE(after, 5 * audioFrame);
        }
        const int64_t duration = Duration(), formatEnd = Units(*ref.start + *ref.duration);
        EXPECT_GE(duration, formatEnd - r.startTime - 20);
        EXPECT_LE(duration, formatEnd - r.startTime + Units(0.125));
    }

    // The time table: the key pictures of the file's whole 64 KiB reads, each as
    // its time from the first picture and the position of its pack.
    void CheckTimeTable(const fs::path& file, const FfprobeStream& video)
    {
        // MPEG-4 video in a program stream has no pack checker: result 1, no table.
        ASSERT_EQ(Build(file), m_row->kind == MK_MPEG2_PROGRAM_MPEG4 ? 1u : 0u);
        if (m_row->kind == MK_MPEG2_PROGRAM_MPEG4)
            return;
        const auto entries = Stored(file);
        ASSERT_TRUE(entries);
        const std::vector<uint8_t> bytes = md::test::ReadFileBytes(file);
        const int64_t walked = int64_t(bytes.size() / 0x10000 * 0x10000);
        EXPECT_EQ(entries->empty(), walked == 0);
        for (size_t i = 0; i < entries->size(); ++i) {
            const auto [time, position] = (*entries)[i];
            ASSERT_TRUE(position >= 0 && position + 4 <= int64_t(bytes.size())) << position;
            EXPECT_EQ(Be32(&bytes[position]), 0x1BAu) << position;
            EXPECT_TRUE(i == 0 || time > (*entries)[i - 1].first) << time;
            EXPECT_LT(time, Units(*video.duration));
        }
        // ffprobe's key video packets, "pts,pos,K_" (90 kHz), where listed: every one
        // well inside the walked reads that ends its pack is in the table, and
        // every entry is one of them.
        std::ifstream csv(file.parent_path() / "reference" / (file.filename().string() + ".keypackets.csv"));
        std::vector<md::test::TimeAndPosition> keys;
        std::vector<bool> lastInPack;
        for (std::string line; std::getline(csv, line);) {
            long long pts = 0, pos = 0;
            if (std::sscanf(line.c_str(), "%lld,%lld", &pts, &pos) != 2)
                continue;  // "N/A,N/A": a packet without a PTS
            keys.emplace_back(pts, PackStart(bytes, pos));
            lastInPack.push_back(LastInPack(bytes, pos));
        }
        if (keys.empty())
            return;
        const int64_t firstPts = keys.front().first;
        for (auto& [time, position] : keys)
            time = (time - firstPts) * 1000 / 9;
        const std::set<md::test::TimeAndPosition> stored(entries->begin(), entries->end());
        for (size_t i = 0; i < keys.size(); ++i) {
            if (lastInPack[i] && keys[i].second + 0x10000 < walked) {
                EXPECT_TRUE(stored.count(keys[i])) << keys[i].first << " at " << keys[i].second;
            }
        }
        for (const auto& entry : *entries)
            EXPECT_NE(std::find(keys.begin(), keys.end(), entry), keys.end()) << entry.first << " at " << entry.second;
    }

    // The cover picture, with every extension on: the bytes ffmpeg extracts from the file (reference/NAME.cover),
    // served as the thumbnail; none in the base behaviour or where the file has none.
    void CheckCover(const fs::path& file)
    {
        const fs::path cover = file.parent_path() / "reference" / (file.filename().string() + ".cover");
        const std::vector<uint8_t> want =
            m_extended && fs::exists(cover) ? md::test::ReadFileBytes(cover) : std::vector<uint8_t>();
        ASSERT_EQ(Info<uint32_t>(MDI_THUMBNAIL_LENGTH), want.size());
        std::vector<uint8_t> got(want.size() + 1);  // one byte more: never written
        EXPECT_EQ(m_info->GetInfo(MDI_THUMBNAIL, got.data()), want.empty() ? E_FAIL : S_OK);
        EXPECT_EQ(got.back(), 0);
        got.pop_back();
        EXPECT_EQ(got, want);
    }

    void CheckMp4(const Ffprobe& ref)
    {
        const FfprobeStream* vs = nullptr;  // the first video stream: a cover picture is none
        for (const FfprobeStream& s : ref.streams)
            if (!vs && !Has(NoRecords) && s.type == "video" && !s.attachedPicture)
                vs = &s;
        const FfprobeStream* as = Has(NoRecords) ? nullptr : ref.First("audio");
        const std::vector<uint8_t> bytes = md::test::ReadFileBytes(m_file);
        const size_t moov = Find(bytes, 0, bytes.size(), {kMoov}).first, mdat = Find(bytes, 0, bytes.size(), {kMdat}).first;
        // Not camera files: no date, no thumbnail (the cover is checked with every file); 'moov' first when it
        // comes before 'mdat'.
        EXPECT_EQ(std::tuple(Info<uint8_t>(MDI_HAS_VIDEO), Info<uint8_t>(MDI_HAS_AUDIO), Info<uint8_t>(MDI_CAMERA_FILE),
                             Info<uint8_t>(MDI_CPGD_UUID), Info<RecordingTime>(MDI_RECORDING_TIME).year,
                             Info<uint8_t>(MDI_MOOV_FIRST)),
                  std::tuple(vs != nullptr, as != nullptr, 0, 0, 0, moov && (!mdat || moov < mdat)));
        VideoInfo v{};
        AudioInfo a{};
        const bool videoRecord = vs && !Has(NoVideoRecord), audioRecord = as && !Has(NoAudioRecord);
        ASSERT_EQ(std::tuple(m_detector->GetVideoInfo(&v), m_detector->GetAudioInfo(&a)),
                  std::tuple(videoRecord ? S_OK : E_NOTIMPL, audioRecord ? S_OK : E_NOTIMPL));
        if (videoRecord)
            CheckVideo(v, *vs);
        if (audioRecord)
            CheckAudio(a, *as, false);
        // The clockwise rotation, only with the MP4 extension on; ffprobe counts counterclockwise.
        uint32_t rotation = 99;
        if (m_extended) {
            EXPECT_EQ(m_info->GetInfo(MDI_VIDEO_ROTATION, &rotation), S_OK);
            EXPECT_EQ(rotation, vs ? uint32_t((360 - vs->rotation) % 360) : 0u);
        } else {
            EXPECT_EQ(m_info->GetInfo(MDI_VIDEO_ROTATION, &rotation), E_INVALIDARG);
        }
        if (!vs && !as)
            return;
        // Every track starts at 0 and ends after the sum of its sample durations, or with the extensions after
        // what its edit list presents, where it has one (ffprobe's and MediaInfo's file duration); the file lasts as
        // its longer track.
        const TimeRangeInfo r = Range();
        EXPECT_EQ(r.startTime, 0);
        std::map<uint32_t, double> length = TrackLengths(bytes, m_extended);
        const double videoLength = vs ? length[0x76696465] : 0, audioLength = as ? length[0x736F756E] : 0;
        EXPECT_NEAR(Duration() / 1e7, std::max(videoLength, audioLength), 1e-7);
        if (vs) {
            EXPECT_NEAR(r.videoEndTime / 1e7, videoLength, 1e-7);
            if (!Has(NoFrameDurations)) { EXPECT_NEAR(r.videoFrameDuration, 1e7 / vs->frameRate, 1.0); }
        }
        if (as) {
            EXPECT_NEAR(r.audioEndTime / 1e7, audioLength, 1e-7);
            // Two frames of audio samples.
            const std::map<std::string, double> samplesPerFrame = {
                {"aac", 1024}, {"mp3", 1152}, {"amr_nb", 160}, {"pcm_s16le", 1}, {"pcm_s16be", 1}, {"pcm_u8", 1}};
            if (!Has(NoFrameDurations) && samplesPerFrame.count(as->codec)) {
                EXPECT_NEAR(r.audioFrameDuration, 2e7 * samplesPerFrame.at(as->codec) / as->sampleRate, 1.0);
            }
        }
    }

    void CheckTransport(const Ffprobe& ref)
    {
        // The programs and the PIDs of their listed streams; ffmpeg's muxer (no program list) writes one program.
        const std::vector<md::test::FfprobeProgram> programs =
            ref.programs ? *ref.programs : std::vector<md::test::FfprobeProgram>{{0, ref.streams}};
        Duration(E_FAIL);  // no demultiplexer yet
        uint32_t count = 0, pmtPids[64] = {};
        ASSERT_EQ(m_detector->GetTransportPrograms(&count, pmtPids, 0), Has(NoPrograms) ? E_FAIL : S_OK);
        if (Has(NoPrograms))
            return;
        ASSERT_EQ(count, programs.size());
        StreamSelection selection{};
        std::vector<uint32_t> wantSubtitles;
        for (uint32_t i = 0; i < count; ++i) {
            if (ref.programs) { EXPECT_EQ(pmtPids[i], programs[i].pmtPid); }
            std::vector<uint32_t> wantVideo, wantAudio;
            for (const FfprobeStream& s : programs[i].streams) {
                const uint32_t type = StreamType(s);
                const bool video = kListedVideo.count(type) || (m_extended && kExtendedVideo.count(type));
                if (video || kListedAudio.count(type) || (m_extended && kExtendedAudio.count(type)))
                    (video ? wantVideo : wantAudio).push_back(s.id);
                if (s.codec == "dvb_subtitle" || s.codec == "dvb_teletext")
                    wantSubtitles.push_back(s.id);
            }
            const auto [video, audio] = Lists(pmtPids[i]);
            EXPECT_EQ(std::tie(video, audio), std::tie(wantVideo, wantAudio)) << pmtPids[i];
            // A host selects the first video and audio of the first program that lists any.
            if (selection.videoId == 0 && selection.audioId == 0 && video.size() + audio.size() > 0)
                selection = {video.empty() ? 0 : video[0], 0, audio.empty() ? 0 : audio[0], 0};
        }
        // With extensions the DVB subtitle and teletext PIDs of every program are listed; without, none is.
        EXPECT_EQ(Subtitles(m_extended ? S_OK : E_INVALIDARG), m_extended ? wantSubtitles : std::vector<uint32_t>());
        if (selection.videoId == 0 && selection.audioId == 0)
            return;
        selection.audioId = uint32_t(Get(SelectAudio, selection.audioId));
        const FfprobeStream* vs = ref.WithId(selection.videoId);
        const FfprobeStream* as = ref.WithId(selection.audioId);
        selection.videoStreamType = vs ? StreamType(*vs) : 0;
        selection.audioStreamType = as ? StreamType(*as) : 0;
        VideoInfo v{};
        AudioInfoEx a{};
        const HRESULT hr = m_detector->SelectTransportProgram(&selection, 0, &v, &a);
        ASSERT_EQ(hr, Has(SelectFails) ? E_FAIL : S_OK);
        if (FAILED(hr))
            return;
        const AudioInfo plain = Got<AudioInfo>(&IMediaDetect5::GetAudioInfo, as ? S_OK : E_NOTIMPL);
        if (!vs)
            return;
        CheckVideo(v, *vs);
        // Interlaced H.264 in the corpus is coded with adaptive frame/field macroblocks.
        EXPECT_EQ(Info<uint32_t>(MDI_FIELD_CODING), vs->codec == "h264" && v.fieldOrder != 0 ? 1u : 0u);
        if (as) {
            EXPECT_EQ(std::memcmp(&plain, &a, sizeof plain), 0);  // the plain record follows the extended one
            CheckAudio(plain, *as, true);
        }
        EXPECT_EQ(Info<uint8_t>(MDI_TS_REGISTRATION), Get(TsRegistration, 0));
        if (Has(VideoBitRate)) { EXPECT_EQ(v.bitRate, Get(VideoBitRate, 0)); }

        const TimeRangeInfo r = Range();
        if (Has(PtsWrap))
            return;
        // An end time: in the 32-bit view, or with extensions on that many seconds after the start's view.
        const auto end = [this](double start, double duration) {
            return m_extended ? TsUnits(start) + Units(duration) : TsUnits(start + duration);
        };
        EXPECT_NEAR(r.videoFirstTime, TsUnits(*vs->start + Get(VideoStartShift, 0)), 20);
        if (Has(RawVideoEnd)) {  // the last PTS as it stands
            EXPECT_NEAR(r.videoEndTime, std::llround((*vs->start + *vs->duration - 1 / vs->frameRate) * 90000), 1);
        } else {
            EXPECT_NEAR(r.videoEndTime, end(*vs->start, *vs->duration + Get(VideoEndShift, 0)), 20);
        }
        EXPECT_NEAR(r.videoFrameDuration, 1e7 / vs->frameRate, 1.0);
        if (as) {
            EXPECT_NEAR(r.audioFirstTime, TsUnits(*as->start), 20);
            if (as->duration && !Has(NoAudioEnd)) {
                EXPECT_NEAR(r.audioEndTime, end(*as->start, *as->duration + Get(AudioEndShift, 0)), 20);
            }
        }
        EXPECT_EQ(r.startTime, as ? std::min(r.videoFirstTime, r.audioFirstTime) : r.videoFirstTime);
        // The time of the first key picture; ffmpeg's files start with one.
        const int64_t key = Info<int64_t>(MDI_FIRST_VIDEO_TIME);
        EXPECT_GE(key, r.videoFirstTime);
        if (m_bundled) { EXPECT_NEAR(key, TsUnits(*vs->start), 20); }
    }

    void CheckMatroska(const Ffprobe& ref)
    {
        std::vector<uint32_t> wantVideo, wantAudio, wantText;
        for (const FfprobeStream& s : ref.streams) {
            if (Described(s, m_extended))
                (s.type == "video" ? wantVideo : s.type == "audio" ? wantAudio : wantText).push_back(s.track);
        }
        Duration(E_FAIL);  // no demultiplexer yet
        const auto [video, audio] = Lists(0);
        EXPECT_EQ(std::tuple(video, audio, Subtitles(S_OK)), std::tuple(wantVideo, wantAudio, wantText));
        // The segment's Duration x TimecodeScale, in single precision.
        EXPECT_NEAR(Duration() / 1e7, *ref.duration, *ref.duration * 1e-7 + 1e-7);

        const StreamSelection selection{video.empty() ? 0 : video[0], 0, audio.empty() ? 0 : audio[0], 0};
        VideoInfo v{};
        AudioInfoEx a{};
        ASSERT_EQ(m_detector->SelectMatroskaTracks(&selection, 0, 0, &v, &a, nullptr), S_OK);
        const FfprobeStream *vs = nullptr, *as = nullptr;
        for (const FfprobeStream& s : ref.streams) {
            if (s.type == "video" && s.track == selection.videoId)
                vs = &s;
            if (s.type == "audio" && s.track == selection.audioId)
                as = &s;
        }
        if (vs)
            CheckVideo(v, *vs);
        const AudioInfo plain = Got<AudioInfo>(&IMediaDetect5::GetAudioInfo, as ? S_OK : E_NOTIMPL);
        if (as)
            CheckAudio(plain, *as, m_extended);
        const TimeRangeInfo r = Range();
        if (Has(NoTimes) || (!vs && !as)) {
            EXPECT_EQ(r.startTime, -1);
            return;
        }
        // Starts as ffprobe's; ends (the last block in file order) within the segment.
        const int64_t end = Units(*ref.start + *ref.duration);
        if (vs) {
            EXPECT_EQ(r.videoFirstTime, Units(*vs->start));
            EXPECT_NEAR(r.videoFrameDuration, 1e7 / vs->frameRate, 1.0);
            EXPECT_GT(r.videoEndTime, r.videoFirstTime);
            EXPECT_LE(r.videoEndTime, end);
        }
        if (as) {
            const double start = Get(AudioStart, *as->start);
            EXPECT_EQ(r.audioFirstTime, Units(start));
            EXPECT_GT(r.audioEndTime, r.audioFirstTime);
            EXPECT_LE(r.audioEndTime, end + Units(start - *as->start));
        }
        EXPECT_EQ(r.startTime, std::min(vs ? r.videoFirstTime : INT64_MAX, as ? r.audioFirstTime : INT64_MAX));
    }

    // The file cut at ten places (three inside the first headers) opens and answers; the sanitizer build catches
    // bad reads.
    void OpenCuts(const fs::path& file)
    {
        const std::vector<uint8_t> bytes = md::test::ReadFileBytes(file);
        const fs::path cut = m_tables / ("cut" + file.extension().string());
        for (int k = 1; k <= 10; ++k) {
            const size_t size = k <= 3 ? std::min<size_t>(bytes.size(), k * 37) : bytes.size() * (k - 3) / 8;
            md::test::WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
            uint32_t kind = 99;
            ASSERT_EQ(m_detector->OpenFileA(cut.c_str(), &kind), S_OK) << "cut at " << size;
            EXPECT_LE(kind, uint32_t(m_extended ? MK_DV : MK_MATROSKA));
            VideoInfo video{};
            AudioInfoEx audio{};
            TimeRangeInfo range{};
            m_detector->GetVideoInfo(&video);
            m_detector->GetTimeRangeInfo(&range);
            // A file of the container families cut short has the duration its headers state, or none.
            int64_t duration = 0;
            if (kind >= MK_MP3 && m_detector->GetDuration(&duration) == S_OK) {
                EXPECT_GE(duration, 0) << "cut at " << size;
            }
            if (kind >= MK_MPEG1_SYSTEM && kind <= MK_DVD_VR) {
                EXPECT_EQ(m_detector->ReopenProgramStream(int64_t(size / 2), &video, &audio), S_OK);
            }
        }
    }

    const Row* m_row = nullptr;
    fs::path m_file;
    bool m_bundled = true;
    bool m_extended = false;  // every extension on
};

TEST_F(Conformance, BundledFiles) { CheckDirectory(md::test::TestDataDir(), kBundled); }
TEST_F(Conformance, BundledFilesExtended) { CheckDirectory(md::test::TestDataDir(), kBundled, true); }

TEST_F(Conformance, RealWorldFiles)
{
    if (md::test::RealWorldDir().empty())
        GTEST_SKIP() << "real-world samples absent: " << kRealWorld.size() << " files not checked (looked in "
                     << md::test::RealWorldPath() << ")";
    CheckDirectory(md::test::RealWorldDir(), kRealWorld);
    CheckDirectory(md::test::RealWorldDir(), kRealWorld, true);
}

}  // namespace
