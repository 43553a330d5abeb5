// The time table of a program stream, built on the detector's worker thread and
// stored by the time-index module: its entries against the key video packets
// ffprobe lists, the callback's result codes, and a stop in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/com_runtime.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/module.h"
#include "timeindex/time_index_store.h"

namespace {

namespace fs = std::filesystem;
using md::test::TempDir;
using TimeAndPosition = std::pair<int64_t, int64_t>;

// Where the worker's callback leaves its result.
struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<uint32_t> result;

    static void Callback(void* context, uint32_t result)
    {
        auto* c = static_cast<Completion*>(context);
        std::lock_guard lock(c->mutex);
        c->result = result;
        c->done.notify_all();
    }
    std::optional<uint32_t> Wait()
    {
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::seconds(60), [this] { return result.has_value(); });
        return result;
    }
};

class TimeTable : public md::test::DetectorTest {
protected:
    void SetUp() override
    {
        DetectorTest::SetUp();
        setenv("MEDIADETECT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
        setenv("MEDIADETECT_TIMEINDEX_DB", m_database.c_str(), 1);
        ASSERT_TRUE(m_timeIndexModule.ok());
        ASSERT_EQ(m_timeIndexModule.RegisterServer(), S_OK);
        ASSERT_EQ(m_detector->QueryInterface(IID_ITimeTableInfo, reinterpret_cast<void**>(&m_table)), S_OK);
    }
    void TearDown() override
    {
        if (m_table)
            m_table->Release();
        DetectorTest::TearDown();
        CoFreeUnusedLibraries();
        unsetenv("MEDIADETECT_TIMEINDEX_DB");
        unsetenv("MEDIADETECT_REGISTRY");
    }

    // Builds the table of file and returns the callback's result.
    std::optional<uint32_t> Build(const fs::path& file)
    {
        Completion completion;
        const HRESULT hr = m_table->StartTimeTable(md::Utf8ToWide(file.string()).c_str(), &Completion::Callback,
                                                  &completion);
        EXPECT_EQ(hr, S_OK) << file;
        return SUCCEEDED(hr) ? completion.Wait() : std::nullopt;
    }

    std::optional<std::vector<TimeAndPosition>> Stored(const fs::path& file)
    {
        std::string error;
        auto store = md::TimeIndexStore::Open(m_database, error);
        EXPECT_TRUE(store) << error;
        const auto entries = store ? store->ReadTable(md::TimeIndexKey(file)) : std::nullopt;
        if (!entries)
            return std::nullopt;
        std::vector<TimeAndPosition> pairs;
        for (const md::TimeIndexEntry& e : *entries) {
            EXPECT_EQ(e.type, kTimeIndexPackEntry);
            int64_t position = -1;
            if (e.data.size() == sizeof position)
                std::memcpy(&position, e.data.data(), sizeof position);
            pairs.emplace_back(e.time, position);
        }
        return pairs;
    }

    TempDir m_dir;
    fs::path m_database = m_dir / "timeindex.sqlite";
    md::test::LoadedModule m_timeIndexModule{(md::test::BuildDir() / "libmdtimeindex.so").string()};
    ITimeTableInfo* m_table = nullptr;
};

// Whether the PES packet at position is the last packet of its pack: the pack
// checker describes a pack by its last packet.
bool LastInPack(const std::vector<uint8_t>& bytes, int64_t position)
{
    if (position + 6 > int64_t(bytes.size()))
        return false;
    const int64_t next = position + 6 + (bytes[position + 4] << 8 | bytes[position + 5]);
    return next + 4 > int64_t(bytes.size()) ||
           (bytes[next] == 0 && bytes[next + 1] == 0 && bytes[next + 2] == 1 && bytes[next + 3] == 0xBA);
}

// The start of the pack that holds the byte at position: the last pack start
// code (00 00 01 BA) at or before it.
int64_t PackStart(const std::vector<uint8_t>& bytes, int64_t position)
{
    for (int64_t i = std::min<int64_t>(position, int64_t(bytes.size()) - 4); i >= 0; --i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xBA)
            return i;
    return -1;
}

TEST_F(TimeTable, KeyPicturesOfEveryProgramStreamAreIndexed)
{
    int checked = 0;
    for (const fs::path& file : md::test::MediaFiles(md::test::TestDataDir())) {
        const fs::path reference = file.parent_path() / "reference" / (file.filename().string() + ".keypackets.csv");
        if (!fs::exists(reference))
            continue;
        SCOPED_TRACE(file.filename().string());
        // ffprobe's key video packets: "pts,pos,K_" with pts in 90 kHz ticks.
        const std::vector<uint8_t> bytes = md::test::ReadFileBytes(file);
        std::vector<TimeAndPosition> keys;
        std::vector<bool> lastInPack;
        std::ifstream in(reference);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            int64_t pts = 0, pos = 0;
            char comma = 0;
            fields >> pts >> comma >> pos;
            keys.emplace_back(pts, PackStart(bytes, pos));
            lastInPack.push_back(LastInPack(bytes, pos));
        }
        ASSERT_FALSE(keys.empty());
        // Times count in 100-ns units from the first video presentation time.
        const int64_t firstPts = keys.front().first;
        for (auto& [time, position] : keys)
            time = (time - firstPts) * 1000 / 9;

        ASSERT_EQ(Build(file), 0u);
        uint32_t percent = 0;
        ASSERT_EQ(m_table->GetTimeTableProgress(&percent), S_OK);
        EXPECT_GT(percent, 0u);
        EXPECT_LE(percent, 100u);
        const auto entries = Stored(file);
        ASSERT_TRUE(entries);
        // Only whole 64 KiB reads are walked: every key packet well inside them
        // that ends its pack is in the table, and every entry is a key packet.
        const int64_t walked = int64_t(bytes.size() / 0x10000 * 0x10000);
        const std::set<TimeAndPosition> stored(entries->begin(), entries->end());
        for (size_t i = 0; i < keys.size(); ++i) {
            if (lastInPack[i] && keys[i].second + 0x10000 < walked) {
                EXPECT_TRUE(stored.count(keys[i])) << keys[i].first << " at " << keys[i].second;
            }
        }
        EXPECT_FALSE(entries->empty());
        for (const TimeAndPosition& entry : *entries)
            EXPECT_NE(std::find(keys.begin(), keys.end(), entry), keys.end()) << entry.first << " at " << entry.second;
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

TEST_F(TimeTable, ResultCodesForOtherFiles)
{
    Completion unused;
    const auto data = md::test::TestDataDir();
    const std::wstring ts = md::Utf8ToWide((data / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string());
    EXPECT_EQ(m_table->StartTimeTable(ts.c_str(), &Completion::Callback, &unused), E_FAIL);
    const std::wstring vob = md::Utf8ToWide((data / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob").string());
    EXPECT_EQ(m_table->StartTimeTable(vob.c_str(), nullptr, nullptr), E_INVALIDARG);
    uint32_t* noPercent = nullptr;
    EXPECT_EQ(m_table->GetTimeTableProgress(noPercent), E_INVALIDARG);

    // An MP4 file has no pack checker.
    EXPECT_EQ(Build(data / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4"), 1u);

    // A program stream shorter than one 64 KiB read gives an empty table.
    const fs::path shortFile = m_dir / "short.vob";
    auto bytes = md::test::ReadFileBytes(data / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob");
    bytes.resize(60000);
    md::test::WriteFileBytes(shortFile, bytes);
    EXPECT_EQ(Build(shortFile), 0u);
    EXPECT_EQ(Stored(shortFile), std::vector<TimeAndPosition>{});

    // Without the time-index component registered.
    setenv("MEDIADETECT_REGISTRY", (m_dir / "empty.reg").c_str(), 1);
    EXPECT_EQ(Build(data / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob"), 2u);
}

TEST_F(TimeTable, StopEndsTheWalkAndKeepsTheStoredTable)
{
    // A complete table first, then a rebuild of a much longer file stopped at once.
    const fs::path file = m_dir / "long.vob";
    const auto vob = md::test::ReadFileBytes(md::test::TestDataDir() /
                                             "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob");
    md::test::WriteFileBytes(file, vob);
    ASSERT_EQ(Build(file), 0u);
    const auto complete = Stored(file);
    ASSERT_TRUE(complete);
    ASSERT_FALSE(complete->empty());

    std::vector<uint8_t> longer;
    for (int i = 0; i < 30; ++i)  // about 22 MB
        longer.insert(longer.end(), vob.begin(), vob.end());
    md::test::WriteFileBytes(file, longer);
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
