// The time table's result codes and a stop in the middle of a walk (corpus tables: conformance_test.cpp).
#include "component/time_table_host.h"

namespace {

namespace fs = std::filesystem;
using namespace md::test;

class TimeTable : public TimeTableHost {};

const fs::path kVob = TestDataDir() / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob";

TEST_F(TimeTable, ResultCodesForOtherFiles)
{
    Completion unused;
    const std::wstring ts =
        md::Utf8ToWide((TestDataDir() / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string());
    EXPECT_EQ(m_table->StartTimeTable(ts.c_str(), &Completion::Callback, &unused), E_FAIL);
    EXPECT_EQ(m_table->StartTimeTable(md::Utf8ToWide(kVob.string()).c_str(), nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_table->GetTimeTableProgress(nullptr), E_INVALIDARG);
    EXPECT_EQ(Build(TestDataDir() / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4"), 1u);  // no pack checker for MP4

    // A program stream shorter than one 64 KiB read gives an empty table.
    auto bytes = ReadFileBytes(kVob);
    bytes.resize(60000);
    WriteFileBytes(m_tables / "short.vob", bytes);
    EXPECT_EQ(Build(m_tables / "short.vob"), 0u);
    EXPECT_EQ(Stored(m_tables / "short.vob"), std::vector<TimeAndPosition>{});

    setenv("MEDIADETECT_REGISTRY", (m_tables / "empty.reg").c_str(), 1);  // the time-index component unregistered
    EXPECT_EQ(Build(kVob), 2u);
}

TEST_F(TimeTable, StopEndsTheWalkAndKeepsTheStoredTable)
{
    // A complete table first, then a rebuild of a much longer file stopped at once.
    const fs::path file = m_tables / "long.vob";
    const auto vob = ReadFileBytes(TestDataDir() / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob");
    WriteFileBytes(file, vob);
    ASSERT_EQ(Build(file), 0u);
    const auto complete = Stored(file);
    ASSERT_TRUE(complete && !complete->empty());

    std::vector<uint8_t> longer;
    for (int i = 0; i < 30; ++i)  // about 22 MB
        longer.insert(longer.end(), vob.begin(), vob.end());
    WriteFileBytes(file, longer);
    Completion completion;
    ASSERT_EQ(m_table->StartTimeTable(md::Utf8ToWide(file.string()).c_str(), &Completion::Callback, &completion),
              S_OK);
    ASSERT_EQ(m_table->StopTimeTable(), S_OK);
    EXPECT_EQ(completion.Wait(), 3u);
    uint32_t percent = 100;
    ASSERT_EQ(m_table->GetTimeTableProgress(&percent), S_OK);
    EXPECT_LT(percent, 100u);
    EXPECT_EQ(Stored(file), complete);
}

}  // namespace
