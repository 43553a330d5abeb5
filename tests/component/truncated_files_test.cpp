// Every sample, cut short at ten places, opens and answers its queries without
// a crash (the sanitizer build turns any bad access into a failure).
#include <gtest/gtest.h>

#include <vector>

#include "support/files.h"
#include "support/module.h"

namespace {

namespace fs = std::filesystem;

void OpenCuts(IMediaDetect5& detector, const fs::path& file, const md::test::TempDir& tmp)
{
    const std::vector<uint8_t> bytes = md::test::ReadFileBytes(file);
    const fs::path cut = tmp / ("cut" + file.extension().string());
    for (int k = 1; k <= 10; ++k) {
        // Cuts spread over the file, plus a few inside the first headers.
        const size_t size = k <= 3 ? std::min<size_t>(bytes.size(), size_t(k) * 37) : bytes.size() * (k - 3) / 8;
        md::test::WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
        uint32_t kind = 99;
        ASSERT_EQ(detector.OpenFileA(cut.c_str(), &kind), S_OK) << file << " cut at " << size;
        EXPECT_LE(kind, 14u);
        VideoInfo video{};
        AudioInfo audio{};
        MultiChannelInfo multi{};
        detector.GetVideoInfo(&video);
        detector.GetAudioInfo(&audio);
        detector.GetMultiChannelInfo(&multi);
        if (kind >= MK_MPEG1_SYSTEM && kind <= MK_DVD_VR) {
            AudioInfoEx ex{};
            EXPECT_EQ(detector.ReopenProgramStream(static_cast<int64_t>(size / 2), &video, &ex), S_OK);
        }
    }
}

TEST(TruncatedFiles, EverySampleCutShortOpensWithoutCrashing)
{
    md::test::LoadedModule module(md::test::DetectorModulePath());
    ASSERT_TRUE(module.ok());
    IMediaDetect5* detector = module.CreateDetector();
    ASSERT_NE(detector, nullptr);
    md::test::TempDir tmp;
    std::vector<fs::path> files = md::test::MediaFiles(md::test::TestDataDir());
    for (const auto& f : md::test::MediaFiles(md::test::RealWorldDir()))
        files.push_back(f);
    ASSERT_FALSE(files.empty());
    for (const auto& f : files)
        OpenCuts(*detector, f, tmp);
    detector->Release();
}

}  // namespace
