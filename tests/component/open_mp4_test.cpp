// Opening MP4 files through the module: records, field order and MP4 details.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/module.h"

namespace {

class OpenMp4 : public md::test::DetectorTest {};

TEST_F(OpenMp4, InterlacedH264GetsItsFieldOrderAndTheMp4Details)
{
    // Encoded by make_corpus.sh as 1080i top field first, 25 fps, with AAC stereo.
    const auto file = md::test::TestDataDir() / "mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4";
    uint32_t kind = 0;
    ASSERT_EQ(detector_->OpenFileA(file.c_str(), &kind), S_OK);
    EXPECT_EQ(kind, MK_MP4);
    VideoInfo v{};
    ASSERT_EQ(detector_->GetVideoInfo(&v), S_OK);
    EXPECT_EQ(v.format, VF_H264);
    EXPECT_EQ(v.width, 1920u);
    EXPECT_EQ(v.height, 1080u);
    EXPECT_EQ(v.fieldOrder, 1u);
    EXPECT_NEAR(v.frameRate, 25.0, 0.01);
    AudioInfo a{};
    ASSERT_EQ(detector_->GetAudioInfo(&a), S_OK);
    EXPECT_EQ(a.format, AF_AAC);
    EXPECT_EQ(a.channels, 2u);
    EXPECT_EQ(a.sampleRate, 48000u);

    uint8_t flag = 9;
    for (int32_t id : {MDI_HAS_VIDEO, MDI_HAS_AUDIO}) {
        ASSERT_EQ(info_->GetInfo(id, &flag), S_OK);
        EXPECT_EQ(flag, 1) << id;
    }
    ASSERT_EQ(info_->GetInfo(MDI_CAMERA_FILE, &flag), S_OK);
    EXPECT_EQ(flag, 0);
    uint8_t recording[16];
    std::fill(std::begin(recording), std::end(recording), 0xAA);
    ASSERT_EQ(info_->GetInfo(MDI_RECORDING_TIME, recording), S_OK);
    for (uint8_t b : recording)
        EXPECT_EQ(b, 0);  // not a camera file
    uint32_t thumbnail = 7;
    ASSERT_EQ(info_->GetInfo(MDI_THUMBNAIL_LENGTH, &thumbnail), S_OK);
    EXPECT_EQ(thumbnail, 0u);
}

TEST_F(OpenMp4, AudioOnlyAndBrokenFilesOpenWithWhatTheyHave)
{
    const auto dir = md::test::RealWorldDir();
    if (dir.empty())
        GTEST_SKIP() << "real-world samples not present";
    uint32_t kind = 0;
    ASSERT_EQ(detector_->OpenFileA((dir / "mp4_mp2_audio.mp4").c_str(), &kind), S_OK);
    VideoInfo v{};
    EXPECT_EQ(detector_->GetVideoInfo(&v), E_NOTIMPL);
    AudioInfo a{};
    ASSERT_EQ(detector_->GetAudioInfo(&a), S_OK);
    EXPECT_EQ(a.sampleRate, 44100u);
    uint8_t hasVideo = 9;
    ASSERT_EQ(info_->GetInfo(MDI_HAS_VIDEO, &hasVideo), S_OK);
    EXPECT_EQ(hasVideo, 0);

    // No moov: the probe still says MP4 ("ftyp" at byte 4) but nothing is described.
    ASSERT_EQ(detector_->OpenFileA((dir / "mp4_broken_no_moov.mp4").c_str(), &kind), S_OK);
    EXPECT_EQ(kind, MK_MP4);
    EXPECT_EQ(detector_->GetAudioInfo(&a), E_NOTIMPL);
}

}  // namespace
