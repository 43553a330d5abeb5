// The time table's result codes and a stop in the middle of a walk (corpus tables: conformance_test.cpp).
#include "component/time_table_host.h"
#include "mpeg/pack_check.h"

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
    // Then a hole to 1 GiB (no disk space taken): a walk of a quarter of a second or more, so the stop comes first
    // even on a loaded machine.
    fs::resize_file(file, uint64_t(1) << 30);
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

// The worker's table against 64 KiB reads (a last partial chunk never scanned) on 777 odd bytes, 2 copies of the DVD
// sample and 600000 bytes of a third: packs across every boundary, clock resets, a key picture (579584) in the tail.
TEST_F(TimeTable, LargeReadsGiveTheTableOf64KiBReads)
{
    const auto vob = ReadFileBytes(TestDataDir() / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob");
    std::vector<uint8_t> file(777, 0x5A);
    for (size_t i = 0; i < 2 * vob.size() + 600000; ++i)
        file.push_back(vob[i % vob.size()]);
    const auto chunked = [](const std::vector<uint8_t>& bytes) {
        md::Mpeg2PackCheck checker;
        checker.SetInspect(true);
        std::vector<TimeAndPosition> table;
        md::PackEntryList entries;
        for (size_t done = 0, end = 0x10000; end <= bytes.size(); end += 0x10000, entries.clear()) {
            const uint32_t consumed = checker.ScanPacks(&bytes[done], uint32_t(end - done), &entries, false);
            for (const md::PackEntry& e : entries)
                if (e.ptsPresent && e.key)
                    table.emplace_back(e.videoTime, int64_t(done + e.offset));
            done += consumed;
        }
        return table;
    };
    WriteFileBytes(m_tables / "odd.vob", file);
    ASSERT_EQ(Build(m_tables / "odd.vob"), 0u);
    const auto expected = chunked(file);
    EXPECT_EQ(Stored(m_tables / "odd.vob"), expected);
    file.resize(file.size() / 0x10000 * 0x10000 + 0x10000);  // the tail scanned too: one more key picture
    EXPECT_EQ(chunked(file).size(), expected.size() + 1);
}

}  // namespace
