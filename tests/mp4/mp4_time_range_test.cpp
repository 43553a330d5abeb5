// Time range of MP4 files: track choice by handler, end times and frame
// durations from the sample tables, and the corpus against ffprobe (and, where
// ffprobe's duration is unusable, MediaInfo).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "mp4/mp4_time_range.h"
#include "support/files.h"
#include "support/mp4_builders.h"

namespace {

TEST(Mp4TimeRangeTest, LastTrackOfEachHandler)
{
    const auto track = [](const char* handler, uint32_t id, uint32_t timeScale, uint32_t delta, size_t samples) {
        return mdtest::Mp4TrackLayout{handler, {}, id, timeScale, delta, std::vector(samples, mdtest::Bytes8{0x55})};
    };
    const auto file = mdtest::Mp4File({.tracks = {track("vide", 1, 25000, 1000, 3), track("soun", 2, 48000, 1024, 5),
                                                  track("vide", 3, 30000, 1001, 4)}});
    md::MemoryInputStream stream(file.data(), file.size());
    const auto root = md::ReadMp4Stream(stream);
    ASSERT_TRUE(root);
    TimeRangeInfo range{};
    ASSERT_TRUE(md::ScanMp4TimeRange(root.get(), true, true, range));
    EXPECT_EQ(range.startTime, 0);
    EXPECT_EQ(range.videoFirstTime, 0);
    EXPECT_EQ(range.audioFirstTime, 0);
    EXPECT_EQ(range.videoEndTime, 4004LL * 10000000 / 30000);  // the last 'vide' track, truncated
    EXPECT_EQ(range.videoFrameDuration, 333667u);  // 1001 / 30000 s, rounded
    EXPECT_EQ(range.audioEndTime, 5120LL * 10000000 / 48000);
    EXPECT_EQ(range.audioFrameDuration, 426667u);  // two samples of 1024 at 48 kHz, rounded

    // Only the streams the open found are measured.
    ASSERT_TRUE(md::ScanMp4TimeRange(root.get(), false, true, range));
    EXPECT_EQ(range.videoEndTime, 0);
    EXPECT_EQ(range.videoFrameDuration, 0u);
    EXPECT_GT(range.audioEndTime, 0);

    // No tree, or a movie without tracks: no range.
    EXPECT_FALSE(md::ScanMp4TimeRange(nullptr, true, true, range));
    const auto noTracks = mdtest::Mp4File({});
    md::MemoryInputStream emptyStream(noTracks.data(), noTracks.size());
    const auto emptyRoot = md::ReadMp4Stream(emptyStream);
    ASSERT_TRUE(emptyRoot);
    EXPECT_FALSE(md::ScanMp4TimeRange(emptyRoot.get(), true, true, range));
}

// ---- Corpus ------------------------------------------------------------------------

// Largest differences (seconds) from ffprobe's stream durations, where they are
// not 1 ms. The scan starts every track at 0 and sums its sample durations;
// ffprobe follows the edit lists.
struct Note {
    double video;
    double audio;
    bool frameDurations;  // compare the frame durations with ffprobe's rates
};
const std::map<std::string, Note> kNotes = {
    // AAC encoder delay and padding, which the edit lists leave out.
    {"mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4", {0.001, 0.07, true}},
    {"mp4_h264_640x360_25fps_aac_48k_stereo.mp4", {0.001, 0.07, true}},
    {"mp4_mpeg4_640x480_25fps_aac_44k_stereo.mp4", {0.001, 0.07, true}},
    {"3gp_h263_176x144_15fps_aac_22k_mono.3gp", {0.001, 0.14, true}},
    // Fragment runs: the duration is the decode time at run sample (total - 1),
    // which leaves out the last sample; without 'stts' entries in 'moov' and
    // without composition offsets there is no video frame duration, and the
    // audio frame duration covers run sample 1 only (3840 samples).
    {"mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4", {0.041, 0.022, false}},
    // Edit lists shorter than the samples; variable frame rates, where the
    // dominant sample delta (1/24 s, 1/15 s) is not ffprobe's r_frame_rate.
    {"mp4_hint_rtp_tracks.mp4", {0.011, 0.021, true}},
    {"mov_iphone_rotated.mov", {0.024, 0.029, false}},
    {"mov_qt_h264_aac.mov", {0.001, 0.001, false}},
    // The sample-time rule counts sample 150 (from 0) in the first 'stts' entry
    // (150 x 160): 3.02 s where the table holds 3.00625 s; ffprobe follows the
    // 3.0 s edit list.
    {"3gp_amrnb_audio.3gp", {0.001, 0.021, true}},
};

TEST(Mp4TimeRangeTest, CorpusAgainstFfprobe)
{
    // Samples per audio frame, for the frame duration (two frames).
    const std::map<std::string, double> samplesPerFrame = {
        {"aac", 1024}, {"mp3", 1152}, {"amr_nb", 160}, {"pcm_s16le", 1}, {"pcm_s16be", 1}};
    int checked = 0;
    for (const auto& dir : {md::test::TestDataDir(), md::test::RealWorldDir()}) {
        if (dir.empty() || !std::filesystem::exists(dir))
            continue;
        for (const auto& path : md::test::MediaFiles(dir)) {
            const std::string name = path.filename().string();
            const std::string ext = path.extension().string();
            if (ext != ".mp4" && ext != ".mov" && ext != ".3gp")
                continue;
            SCOPED_TRACE(name);
            const auto root = md::ReadMp4File(path.wstring().c_str());
            TimeRangeInfo range{};
            if (!root) {
                // No 'moov', or top-level boxes that do not cover the file (two bytes
                // trail 'mov_ios9_mebx.mov'): the box reader gives no tree.
                EXPECT_TRUE(name == "mp4_broken_no_moov.mp4" || name == "mov_ios9_mebx.mov");
                EXPECT_FALSE(md::ScanMp4TimeRange(nullptr, true, true, range));
                continue;
            }
            std::ifstream in(dir / "reference" / (name + ".ffprobe.json"));
            const nlohmann::json probe = nlohmann::json::parse(in);
            const nlohmann::json* video = nullptr;
            const nlohmann::json* audio = nullptr;
            for (const auto& s : probe.at("streams")) {
                if (s.value("codec_type", "") == "video" && video == nullptr)
                    video = &s;
                if (s.value("codec_type", "") == "audio" && audio == nullptr)
                    audio = &s;
            }
            ASSERT_TRUE(md::ScanMp4TimeRange(root.get(), video != nullptr, audio != nullptr, range));
            ++checked;
            EXPECT_EQ(range.startTime, 0);

            if (name == "mp4_fragmented_h264_aac.mp4") {
                // ffprobe takes the 0xFFFFFFFF 'mvhd' duration (143165 s); MediaInfo's
                // track durations (1.001 s of 30000/1001 fps video, 1.068 s of AAC at
                // 44.1 kHz) less the last sample, which the fragment rule leaves out.
                EXPECT_NEAR(range.videoEndTime / 1e7, 1.001 - 1001.0 / 30000, 0.001);
                EXPECT_NEAR(range.audioEndTime / 1e7, 1.068 - 1024.0 / 44100, 0.001);
                continue;
            }
            const auto found = kNotes.find(name);
            const Note note = found != kNotes.end() ? found->second : Note{0.001, 0.001, true};
            if (video != nullptr) {
                EXPECT_NEAR(range.videoEndTime / 1e7, std::stod(video->value("duration", "0")), note.video);
                const std::string rate = video->value("r_frame_rate", "0/1");
                const auto slash = rate.find('/');
                const double fps = std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1));
                if (note.frameDurations) {
                    EXPECT_NEAR(range.videoFrameDuration, 1e7 / fps, 1.0);
                }
            }
            if (audio != nullptr) {
                EXPECT_NEAR(range.audioEndTime / 1e7, std::stod(audio->value("duration", "0")), note.audio);
                const auto samples = samplesPerFrame.find(audio->value("codec_name", ""));
                if (note.frameDurations && samples != samplesPerFrame.end()) {
                    EXPECT_NEAR(range.audioFrameDuration,
                                2e7 * samples->second / std::stod(audio->value("sample_rate", "0")), 1.0);
                }
            }
        }
    }
    EXPECT_GE(checked, 10);
}

}  // namespace
