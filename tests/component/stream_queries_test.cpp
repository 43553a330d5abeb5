// The detector's on-demand queries through the module: transport programs and
// streams, their selection, and the duration and time range of each kind,
// against ffprobe's reference output for the corpus files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>

#include "support/directv_builders.h"
#include "support/files.h"
#include "support/module.h"
#include "support/ps_builders.h"
#include "support/ts_builders.h"

namespace {

namespace fs = std::filesystem;

struct ReferenceTimes {
    int64_t start;       // format start_time
    int64_t duration;    // format duration
    int64_t videoStart;  // the video stream's start_time
};

// ffprobe's times of a corpus file, in 100-ns units.
ReferenceTimes Reference(const std::string& name)
{
    std::ifstream in(md::test::TestDataDir() / "reference" / (name + ".ffprobe.json"));
    const auto j = nlohmann::json::parse(in);
    const auto units = [](const std::string& seconds) { return std::llround(std::stod(seconds) * 1e7); };
    ReferenceTimes t{units(j["format"]["start_time"]), units(j["format"]["duration"]), -1};
    for (const auto& stream : j["streams"])
        if (stream["codec_type"] == "video")
            t.videoStart = units(stream["start_time"]);
    return t;
}

class StreamQueries : public md::test::DetectorTest {
protected:
    uint32_t Open(const std::string& name)
    {
        uint32_t kind = 0;
        EXPECT_EQ(m_detector->OpenFileA((md::test::TestDataDir() / name).c_str(), &kind), S_OK);
        return kind;
    }
};

constexpr char kTs[] = "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts";

TEST_F(StreamQueries, TransportProgramsStreamsAndSelection)
{
    ASSERT_EQ(Open(kTs), MK_MPEG2_TRANSPORT);
    VideoInfo video{};
    EXPECT_EQ(m_detector->GetVideoInfo(&video), E_NOTIMPL);  // nothing is described at the open
    int64_t duration = 0;
    EXPECT_EQ(m_detector->GetDuration(&duration), E_FAIL);  // no transport demultiplexer yet

    // ffmpeg's muxer writes one program with its PMT on PID 0x1000, video on
    // 0x100 and audio on 0x101.
    uint32_t count = 0;
    uint32_t pmtPids[4] = {};
    ASSERT_EQ(m_detector->GetTransportPrograms(&count, pmtPids, 0), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(pmtPids[0], 0x1000u);
    int32_t videoCount = -1, audioCount = -1;
    uint32_t videoPids[16] = {}, audioPids[16] = {};
    ASSERT_EQ(m_detector->GetStreamLists(0, &videoCount, videoPids, &audioCount, audioPids, 0), S_OK);
    ASSERT_EQ(videoCount, 1);
    ASSERT_EQ(audioCount, 1);
    EXPECT_EQ(videoPids[0], 0x100u);
    EXPECT_EQ(audioPids[0], 0x101u);
    // A PMT PID that is not in the table leaves the outputs untouched.
    videoCount = audioCount = 77;
    ASSERT_EQ(m_detector->GetStreamLists(0x1234, &videoCount, nullptr, &audioCount, nullptr, 0), S_OK);
    EXPECT_EQ(videoCount, 77);
    EXPECT_EQ(m_detector->GetStreamLists(0, nullptr, nullptr, &audioCount, nullptr, 0), E_POINTER);

    // The listing demultiplexer exists now, but without a selection it measured nothing.
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);

    const StreamSelection selection{0x100, 2, 0x101, 3};
    AudioInfoEx audioEx{};
    ASSERT_EQ(m_detector->SelectTransportProgram(&selection, 0, &video, &audioEx), S_OK);
    EXPECT_EQ(video.format, VF_MPEG2);
    EXPECT_EQ(video.width, 720u);
    EXPECT_EQ(video.height, 576u);
    EXPECT_EQ(audioEx.sampleRate, 48000u);
    AudioInfo audio{};
    ASSERT_EQ(m_detector->GetAudioInfo(&audio), S_OK);  // the plain record follows the extended one
    EXPECT_EQ(audio.channels, 2u);
    int64_t keyTime = -1;
    EXPECT_EQ(m_info->GetInfo(MDI_FIRST_VIDEO_TIME, &keyTime), S_OK);
    EXPECT_NEAR(double(keyTime), 14400000.0, 1.0);  // the first video PTS, 1.44 s
    // The selection measured the range: ffprobe's, the audio starting first.
    const ReferenceTimes reference = Reference(kTs);
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
    EXPECT_NEAR(double(duration), double(reference.duration), 400000);  // within one video frame
    TimeRangeInfo range{};
    ASSERT_EQ(m_detector->GetTimeRangeInfo(&range), S_OK);
    EXPECT_NEAR(double(range.startTime), double(reference.start), 1000);
    EXPECT_EQ(range.videoFrameDuration, 400000u);

    EXPECT_EQ(m_detector->SelectTransportProgram(nullptr, 0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(m_detector->SelectMatroskaTracks(&selection, 0, 0, nullptr, nullptr, nullptr), E_INVALIDARG);
    uint32_t subtitles = 0;
    EXPECT_EQ(m_detector->GetSubtitleTracks(&subtitles, nullptr, 0), E_INVALIDARG);
}

TEST_F(StreamQueries, MatroskaTracksSelectionAndDuration)
{
    // ffmpeg numbers the tracks in stream order: H.264 video 1, Vorbis audio 2, SubRip 3.
    const std::string name = "mkv_h264_480x270_25fps_vorbis_44k_stereo_srt.mkv";
    ASSERT_EQ(Open(name), MK_MATROSKA);
    int64_t duration = 0;
    EXPECT_EQ(m_detector->GetDuration(&duration), E_FAIL);  // no Matroska demultiplexer yet
    int32_t videoCount = 0, audioCount = 0;
    uint32_t video[4] = {}, audio[4] = {};
    ASSERT_EQ(m_detector->GetStreamLists(0, &videoCount, video, &audioCount, audio, 0), S_OK);
    ASSERT_EQ(videoCount, 1);
    ASSERT_EQ(audioCount, 1);
    EXPECT_EQ(video[0], 1u);
    EXPECT_EQ(audio[0], 2u);
    uint32_t subtitleCount = 0, subtitles[4] = {};
    ASSERT_EQ(m_detector->GetSubtitleTracks(&subtitleCount, subtitles, 0), S_OK);
    ASSERT_EQ(subtitleCount, 1u);
    EXPECT_EQ(subtitles[0], 3u);
    // The segment duration, as ffprobe reports it.
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, Reference(name).duration);

    const StreamSelection selection{1, 0, 2, 0};
    VideoInfo v{};
    AudioInfoEx a{};
    uint32_t extra = 0;
    ASSERT_EQ(m_detector->SelectMatroskaTracks(&selection, 2, 0, &v, &a, &extra), S_OK);
    EXPECT_EQ(v.format, VF_H264);
    EXPECT_EQ(v.width, 480u);
    EXPECT_EQ(v.height, 270u);
    EXPECT_EQ(a.format, AF_VORBIS);
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(extra, 0u);  // the extra track is the selected audio track: not reported
    ASSERT_EQ(m_detector->SelectMatroskaTracks(&selection, 3, 0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(m_detector->GetTransportPrograms(&subtitleCount, nullptr, 0), E_INVALIDARG);
}

TEST_F(StreamQueries, DirecTvStreamsSelectionAndTimes)
{
    // A program table naming MPEG-2 video on SCID 0x10 and MPEG audio on 0x11,
    // two video and two audio PES packets, then filler packets.
    mdtest::DirecTvWriter w;
    w.Table(mdtest::PmtSection(1, {{0x02, 0x10}, {0x03, 0x11}}));
    mdtest::SequenceFields sequence;
    sequence.width = 720;
    sequence.height = 480;
    sequence.aspectCode = 3;     // 16:9
    sequence.frameRateCode = 4;  // 29.97 fps
    w.Pes(0x10, mdtest::DtvVideoPes(mdtest::SequenceHeaders(sequence), 900000));
    const auto mp2 = [](uint64_t pts) {  // Layer II, 192 kbit/s, 48 kHz, stereo
        return mdtest::Mpeg1PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 64), pts);
    };
    w.Pes(0x11, mp2(901800));
    w.Pes(0x10, mdtest::DtvVideoPes(mdtest::PictureHeaderFields(1), 903600));
    w.Pes(0x11, mp2(903960));
    w.Filler(40);
    md::test::TempDir dir;
    const fs::path file = dir / "feed.dtv";
    md::test::WriteFileBytes(file, w.Bytes());

    const uint32_t directv = MK_DIRECTV;
    ASSERT_EQ(m_info->SetInfo(MDI_CONTAINER_HINT, &directv), S_OK);
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
    ASSERT_EQ(kind, MK_DIRECTV);
    int32_t videoCount = 0, audioCount = 0;
    uint32_t video[16] = {}, audio[16] = {};
    ASSERT_EQ(m_detector->GetStreamLists(0, &videoCount, video, &audioCount, audio, 0), S_OK);
    ASSERT_EQ(videoCount, 1);
    ASSERT_EQ(audioCount, 1);
    EXPECT_EQ(video[0], 0x10u);
    EXPECT_EQ(audio[0], 0x11u);
    uint32_t programs = 0;
    EXPECT_EQ(m_detector->GetTransportPrograms(&programs, nullptr, 0), E_INVALIDARG);

    const StreamSelection selection{0x10, 0, 0x11, 0};
    VideoInfo v{};
    AudioInfoEx a{};
    ASSERT_EQ(m_detector->SelectTransportProgram(&selection, 0, &v, &a), S_OK);
    EXPECT_EQ(v.format, VF_MPEG2);
    EXPECT_EQ(v.width, 720u);
    EXPECT_EQ(v.aspectX, 16u);
    EXPECT_EQ(v.aspectY, 9u);
    EXPECT_NEAR(v.frameRate, 29.97, 0.01);
    EXPECT_EQ(a.sampleRate, 48000u);
    EXPECT_EQ(a.channels, 2u);
    // From the first video PTS (900000) to the last audio PTS (903960), in 100-ns units.
    int64_t duration = 0;
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, (903960 - 900000) * 1000 / 9);
}

TEST_F(StreamQueries, DurationOfProgramStreamsAndMp4)
{
    for (const char* name : {"dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob",
                             "ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg",
                             "mpg1_mpeg1video_320x240_30fps_mp2_44k_stereo.mpg"}) {
        SCOPED_TRACE(name);
        Open(name);
        const ReferenceTimes reference = Reference(name);
        int64_t duration = 0;
        ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
        EXPECT_NEAR(double(duration), double(reference.duration), 450000);  // within about a frame
        // A program stream's range starts at its first video picture, even where
        // the audio starts a little earlier.
        TimeRangeInfo range{};
        ASSERT_EQ(m_detector->GetTimeRangeInfo(&range), S_OK);
        EXPECT_NEAR(double(range.startTime), double(reference.videoStart), 1000);
        uint32_t count = 0;
        EXPECT_EQ(m_detector->GetTransportPrograms(&count, nullptr, 0), E_INVALIDARG);
    }

    // MP4 media starts at 0; the tracks' durations give the end.
    Open("mp4_h264_640x360_25fps_aac_48k_stereo.mp4");
    int64_t duration = 0;
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
    EXPECT_NEAR(double(duration), double(Reference("mp4_h264_640x360_25fps_aac_48k_stereo.mp4").duration), 400000);

    // An elementary stream has no time range.
    Open("es_mpeg2video_720x480_16x9_29.97i_tff.m2v");
    EXPECT_EQ(m_detector->GetDuration(&duration), E_FAIL);
}

}  // namespace
