// The time-index module as the time-table worker uses it, created through the registry.
#include <gtest/gtest.h>

#include <cstring>

#include "mediadetect/interfaces.h"
#include "platform/com_runtime.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/module.h"
#include "timeindex/time_index_store.h"

namespace {

class TimeIndex : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("MEDIADETECT_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
        setenv("MEDIADETECT_TIMEINDEX_DB", m_database.c_str(), 1);
        ASSERT_TRUE(m_module.ok()) << m_module.path();
        ASSERT_EQ(m_module.RegisterServer(), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_TimeIndex, nullptr, 0x15, IID_ITimeIndex, reinterpret_cast<void**>(&m_index)),
                  S_OK);
        md::test::WriteFileBytes(m_media, std::vector<uint8_t>(16, 0));
    }
    void TearDown() override
    {
        if (m_index)
            m_index->Release();
        CoFreeUnusedLibraries();
        unsetenv("MEDIADETECT_TIMEINDEX_DB");
        unsetenv("MEDIADETECT_REGISTRY");
    }

    uint32_t Open()
    {
        uint32_t table = 0;
        EXPECT_EQ(m_index->OpenTable(md::Utf8ToWide(m_media.string()).c_str(), 0, &table, 0), S_OK);
        return table;
    }
    void Add(uint32_t table, int64_t time, int64_t position)
    {
        EXPECT_EQ(m_index->AddEntry(table, kTimeIndexPackEntry, time, sizeof position, &position), S_OK);
    }
    // The stored (time, position) pairs of the media file, read as the tool reads them.
    std::vector<std::pair<int64_t, int64_t>> Stored()
    {
        std::string error;
        auto store = md::TimeIndexStore::Open(m_database, error);
        EXPECT_TRUE(store) << error;
        std::vector<std::pair<int64_t, int64_t>> pairs;
        if (const auto entries = store ? store->ReadTable(md::TimeIndexKey(m_media)) : std::nullopt)
            for (const md::TimeIndexEntry& e : *entries) {
                int64_t position = -1;
                std::memcpy(&position, e.data.data(), std::min(e.data.size(), sizeof position));
                pairs.emplace_back(e.time, position);
            }
        return pairs;
    }

    md::test::TempDir m_dir;
    const std::filesystem::path m_database = m_dir / "data" / "timeindex.sqlite", m_media = m_dir / "movie.mpg";
    md::test::LoadedModule m_module{(md::test::BuildDir() / "libmdtimeindex.so").string()};
    ITimeIndex* m_index = nullptr;
};

TEST_F(TimeIndex, TableIsStoredWholeWhenClosed)
{
    const uint32_t table = Open();
    for (const auto& [time, position] :
         {std::pair<int64_t, int64_t>(4000000, 2048), {0, 0}, {9000000, 8192}, {5000000, 4096}})
        Add(table, time, position);
    EXPECT_TRUE(Stored().empty());  // nothing is stored before the close
    ASSERT_EQ(m_index->RemoveEntries(table, kTimeIndexPackEntry, 4000000, 5000000), S_OK);  // 0.4 s to 0.5 s go
    ASSERT_EQ(m_index->CloseTable(table, 0), S_OK);
    const std::vector<std::pair<int64_t, int64_t>> expected = {{0, 0}, {9000000, 8192}};
    EXPECT_EQ(Stored(), expected);

    // An abandoned rebuild (all entries withdrawn before the close) leaves the stored table alone.
    uint32_t rebuild = Open();
    Add(rebuild, 100, 2048);
    ASSERT_EQ(m_index->RemoveEntries(rebuild, kTimeIndexPackEntry, 0, -1), S_OK);
    ASSERT_EQ(m_index->CloseTable(rebuild, 0), S_OK);
    EXPECT_EQ(Stored(), expected);
}

TEST_F(TimeIndex, ArgumentsUnusedSlotsAndAnUnwritableStore)
{
    uint32_t table = 0;
    EXPECT_EQ(m_index->OpenTable(nullptr, 0, &table, 0), E_POINTER);
    table = Open();
    EXPECT_EQ(m_index->AddEntry(table, kTimeIndexPackEntry, 0, 8, nullptr), E_POINTER);
    EXPECT_EQ(m_index->Unused3(), E_NOTIMPL);
    ASSERT_EQ(m_index->CloseTable(table, 0), S_OK);

    // A store below a regular file cannot be created: the table is refused.
    md::test::WriteFileBytes(m_dir / "file", {1});
    setenv("MEDIADETECT_TIMEINDEX_DB", (m_dir / "file" / "timeindex.sqlite").c_str(), 1);
    ITimeIndex* other = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TimeIndex, nullptr, 0x15, IID_ITimeIndex, reinterpret_cast<void**>(&other)), S_OK);
    EXPECT_EQ(other->OpenTable(L"/x.mpg", 0, &table, 0), E_FAIL);
    other->Release();
}

}  // namespace
