// Opening MP4, MOV and 3GP files through the module: what a host receives for
// every sample compared with ffprobe (each case where the detector's rules give
// another answer is named and explained), the camera-file details, and hostile
// box layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/box_builder.h"
#include "support/files.h"
#include "support/module.h"
#include "support/mp4_builders.h"
#include "support/ps_builders.h"

namespace {

namespace fs = std::filesystem;
using mdtest::Bytes8;

uint32_t VideoFormatOf(const std::string& codec)
{
    const std::map<std::string, uint32_t> formats = {{"h264", VF_H264}, {"mpeg4", VF_MPEG4}, {"h263", VF_H263}};
    return formats.at(codec);
}

uint32_t AudioFormatOf(const std::string& codec)
{
    // ffprobe names the MPEG-1 audio of an 'mp4a' entry (objectTypeIndication
    // 0x6B) after its layer; the detector reports MPEG-1 audio for both.
    const std::map<std::string, uint32_t> formats = {{"aac", AF_AAC},      {"pcm_s16le", AF_PCM_LE},
                                                     {"pcm_s16be", AF_PCM_BE}, {"mp3", AF_MPEG1},
                                                     {"mp2", AF_MPEG1},    {"amr_nb", AF_AMR}};
    return formats.at(codec);
}

// Where the detector's rules give another answer than ffprobe.
struct Difference {
    bool noRecords = false;
    std::optional<double> frameRate = {};
    std::optional<std::pair<uint32_t, uint32_t>> aspect = {};
    std::optional<uint32_t> channels = {};
    const char* why = "";
};

const std::map<std::string, Difference>& Differences()
{
    static const std::map<std::string, Difference> differences = [] {
        const char* fragmented = "every sample is in a fragment; the 'moov' sample tables are empty, so no rate";
        std::map<std::string, Difference> m;
        m["mov_ios9_mebx.mov"] = {.noRecords = true,
                                  .why = "two bytes trail the last box: a file its boxes do not cover exactly is "
                                         "not read"};
        m["mp4_broken_no_moov.mp4"] = {.noRecords = true, .why = "no 'moov' box"};
        m["mp4_fragmented_h264_aac.mp4"] = {.frameRate = 0.0, .why = fragmented};
        m["mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4"] = {.frameRate = 0.0, .why = fragmented};
        m["mp4_mpeg4visual_qcif.mp4"] = {
            .frameRate = 14.99,
            .why = "1024/15360 s rounds to 666667 x 100 ns, 14.99 fps; MPEG-4 Visual rates are not snapped"};
        m["mov_qt_h264_aac.mov"] = {
            .frameRate = 15.0,
            .why = "dominant sample delta 40/600 s gives 14.99, snapped to 15; ffprobe reports the time scale"};
        m["mp4_hint_rtp_tracks.mp4"] = {
            .aspect = std::pair<uint32_t, uint32_t>{480, 320},
            .why = "no aspect in the SPS and not a 4:3 or 16:9 shape: the picture size, unreduced"};
        m["mov_iphone_rotated.mov"] = {.frameRate = 23.99,
                                       .aspect = std::pair<uint32_t, uint32_t>{4, 3},
                                       .why = "dominant sample delta 25/600 s = 416667 x 100 ns, 23.99 fps, not near "
                                              "23.976; ffprobe gives no aspect, the 640x480 picture is 4:3"};
        m["3gp_amrnb_audio.3gp"] = {
            .channels = 2, .why = "an AMR sample entry always stores channelcount 2, and the entry is what counts"};
        return m;
    }();
    return differences;
}

class OpenMp4 : public md::test::DetectorTest {
protected:
    uint8_t Flag(int32_t id)
    {
        uint8_t value = 0xEE;
        EXPECT_EQ(m_info->GetInfo(id, &value), S_OK) << id;
        return value;
    }

    void CheckAgainstReference(const fs::path& file)
    {
        const fs::path ref = file.parent_path() / "reference" / (file.filename().string() + ".ffprobe.json");
        const auto found = Differences().find(file.filename().string());
        const Difference diff = found != Differences().end() ? found->second : Difference{};
        SCOPED_TRACE(file.filename().string() + (diff.why[0] ? std::string(" (") + diff.why + ")" : ""));

        uint32_t kind = 0;
        ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
        EXPECT_EQ(kind, MK_MP4);
        VideoInfo video{};
        AudioInfo audio{};
        if (diff.noRecords) {
            EXPECT_EQ(m_detector->GetVideoInfo(&video), E_NOTIMPL);
            EXPECT_EQ(m_detector->GetAudioInfo(&audio), E_NOTIMPL);
            EXPECT_EQ(Flag(MDI_HAS_VIDEO), 0);
            return;
        }

        const auto v = mdtest::FirstReferenceStream(ref, "video");
        EXPECT_EQ(Flag(MDI_HAS_VIDEO), v ? 1 : 0);
        ASSERT_EQ(m_detector->GetVideoInfo(&video), v ? S_OK : E_NOTIMPL);
        if (v) {
            EXPECT_EQ(video.format, VideoFormatOf(v->codecName));
            EXPECT_EQ(video.width, v->width);
            EXPECT_EQ(video.height, v->height);
            ASSERT_NE(video.aspectY, 0u);
            if (diff.aspect) {
                EXPECT_EQ(video.aspectX, diff.aspect->first);
                EXPECT_EQ(video.aspectY, diff.aspect->second);
            } else {
                ASSERT_NE(v->darY, 0u);
                EXPECT_NEAR(double(video.aspectX) / video.aspectY, double(v->darX) / v->darY, 0.005);
            }
            EXPECT_NEAR(video.frameRate, diff.frameRate.value_or(v->frameRate), 0.005);
            // ffprobe has no field order for MPEG-4 Visual or H.263; these are progressive.
            EXPECT_EQ(video.fieldOrder, v->fieldOrder == "tt" ? 1u : v->fieldOrder == "bb" ? 2u : 0u)
                << v->fieldOrder;
        }

        const auto a = mdtest::FirstReferenceStream(ref, "audio");
        EXPECT_EQ(Flag(MDI_HAS_AUDIO), a ? 1 : 0);
        ASSERT_EQ(m_detector->GetAudioInfo(&audio), a ? S_OK : E_NOTIMPL);
        if (a) {
            EXPECT_EQ(audio.format, AudioFormatOf(a->codecName));
            EXPECT_EQ(audio.channels, diff.channels.value_or(a->channels));
            EXPECT_EQ(audio.sampleRate, a->sampleRate);
        }
        EXPECT_EQ(Flag(MDI_CAMERA_FILE), 0);
    }

    void CheckDirectory(const fs::path& dir)
    {
        int checked = 0;
        for (const fs::path& file : md::test::MediaFiles(dir)) {
            const std::string ext = file.extension().string();
            if (ext == ".mp4" || ext == ".mov" || ext == ".3gp") {
                CheckAgainstReference(file);
                ++checked;
            }
        }
        EXPECT_GT(checked, 0);
    }
};

TEST_F(OpenMp4, CorpusFilesMatchFfprobe)
{
    CheckDirectory(md::test::TestDataDir());
}

TEST_F(OpenMp4, RealWorldFilesMatchFfprobe)
{
    const fs::path dir = md::test::RealWorldDir();
    if (dir.empty() || !fs::exists(dir))
        GTEST_SKIP() << "real-world samples not present";
    CheckDirectory(dir);
}

TEST_F(OpenMp4, InterlacedH264GetsItsFieldOrderAndTheMp4Details)
{
    // Encoded by make_corpus.sh as 1080i top field first, 25 fps, 'moov' after 'mdat'.
    const auto file = md::test::TestDataDir() / "mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4";
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
    VideoInfo v{};
    ASSERT_EQ(m_detector->GetVideoInfo(&v), S_OK);
    EXPECT_EQ(v.fieldOrder, 1u);
    EXPECT_NEAR(v.frameRate, 25.0, 0.01);  // both first samples are top-field-first frames
    EXPECT_EQ(Flag(MDI_MOOV_FIRST), 0);
    EXPECT_EQ(Flag(MDI_CPGD_UUID), 0);
    EXPECT_EQ(Flag(MDI_CAMERA_FILE), 0);
    RecordingTime recorded;
    std::memset(&recorded, 0xAA, sizeof recorded);
    ASSERT_EQ(m_info->GetInfo(MDI_RECORDING_TIME, &recorded), S_OK);
    EXPECT_EQ(recorded.year, 0);  // not a camera file: all zero
    EXPECT_EQ(recorded.second, 0);
    uint32_t thumbnail = 7;
    ASSERT_EQ(m_info->GetInfo(MDI_THUMBNAIL_LENGTH, &thumbnail), S_OK);
    EXPECT_EQ(thumbnail, 0u);
    uint8_t byte = 0;
    EXPECT_EQ(m_info->GetInfo(MDI_THUMBNAIL, &byte), E_FAIL);

    // The fragmented sample is written for streaming: its 'moov' comes first.
    ASSERT_EQ(m_detector->OpenFileA(
                  (md::test::TestDataDir() / "mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4").c_str(), &kind),
              S_OK);
    EXPECT_EQ(Flag(MDI_MOOV_FIRST), 1);
}

TEST_F(OpenMp4, CameraFileGivesItsRecordingDateAndThumbnail)
{
    md::test::TempDir dir;
    Bytes8 jpeg(300);
    for (size_t i = 0; i < jpeg.size(); ++i)
        jpeg[i] = uint8_t(i * 7);
    const fs::path camera = dir / "camera.mp4";
    // 3,500,000,000 s after 1904-01-01 00:00:00 is 2014-11-28 06:13:20.
    md::test::WriteFileBytes(camera, mdtest::CameraMp4File(3500000000, jpeg));
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(camera.c_str(), &kind), S_OK);
    EXPECT_EQ(kind, MK_MP4);
    EXPECT_EQ(Flag(MDI_CAMERA_FILE), 1);
    EXPECT_EQ(Flag(MDI_CPGD_UUID), 1);
    EXPECT_EQ(Flag(MDI_MOOV_FIRST), 1);
    EXPECT_EQ(Flag(MDI_HAS_VIDEO), 1);
    EXPECT_EQ(Flag(MDI_HAS_AUDIO), 0);

    RecordingTime recorded{};
    ASSERT_EQ(m_info->GetInfo(MDI_RECORDING_TIME, &recorded), S_OK);
    EXPECT_EQ(recorded.year, 2014);
    EXPECT_EQ(recorded.month, 11);
    EXPECT_EQ(recorded.day, 28);
    EXPECT_EQ(recorded.hour, 6);
    EXPECT_EQ(recorded.minute, 13);
    EXPECT_EQ(recorded.second, 20);
    EXPECT_EQ(recorded.dayOfWeek, 0);
    EXPECT_EQ(recorded.milliseconds, 0);

    uint32_t length = 0;
    ASSERT_EQ(m_info->GetInfo(MDI_THUMBNAIL_LENGTH, &length), S_OK);
    ASSERT_EQ(length, jpeg.size());
    Bytes8 thumbnail(length);
    ASSERT_EQ(m_info->GetInfo(MDI_THUMBNAIL, thumbnail.data()), S_OK);
    EXPECT_EQ(thumbnail, mdtest::MarkedThumbnail(jpeg));

    // Opening a file that is not a camera file clears the date.
    const auto plain = md::test::TestDataDir() / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4";
    ASSERT_EQ(m_detector->OpenFileA(plain.c_str(), &kind), S_OK);
    EXPECT_EQ(Flag(MDI_CAMERA_FILE), 0);
    ASSERT_EQ(m_info->GetInfo(MDI_RECORDING_TIME, &recorded), S_OK);
    EXPECT_EQ(recorded.year, 0);
    EXPECT_EQ(recorded.day, 0);
}

TEST_F(OpenMp4, AudioOnlyFileHasNoVideoRecord)
{
    const auto file = md::test::RealWorldDir() / "mp4_mp2_audio.mp4";
    if (!fs::exists(file))
        GTEST_SKIP() << "real-world samples not present";
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
    MpegAudioLayerInfo layer{};
    ASSERT_EQ(m_detector->GetMpegAudioLayerInfo(&layer), S_OK);
    EXPECT_EQ(layer.layer, 2u);
    EXPECT_EQ(layer.channelMode, 3u);  // single channel
}

}  // namespace
