// The time-index module as the time-table worker uses it, created through the registry.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "mediadetect/interfaces.h"
#include "platform/com_runtime.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/module.h"
#include "timeindex/time_index_store.h"

namespace {

using md::TimeIndexEntry;
using md::TimeIndexStore;

std::vector<TimeIndexEntry> Entries(int count, int64_t firstTime)
{
    std::vector<TimeIndexEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({kTimeIndexPackEntry, firstTime + i, {uint8_t(i), uint8_t(i >> 8)}});
    return entries;
}

std::unique_ptr<TimeIndexStore> OpenStore(const std::filesystem::path& database)
{
    std::string error;
    auto store = TimeIndexStore::Open(database, error);
    EXPECT_TRUE(store) << error;
    return store;
}

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
        const auto store = OpenStore(m_database);
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

// Runs work in a child process; returns its pid.
template <class Work>
pid_t Spawn(Work work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = work();
        ::_exit(ok ? 0 : 1);
    }
    return pid;
}

TEST(TimeIndexStore, AKilledWriterLeavesThePreviousTableAndConcurrentWritersLoseNothing)
{
    md::test::TempDir dir;
    const std::filesystem::path database = dir / "timeindex.sqlite", wal = dir / "timeindex.sqlite-wal";
    ASSERT_TRUE(OpenStore(database)->ReplaceTable("movie", Entries(10, 0)));

    // A child replaces the table with a large one and is killed while its transaction has written to the WAL.
    const pid_t writer = Spawn([&] { return OpenStore(database)->ReplaceTable("movie", Entries(5000000, 1000)); });
    std::error_code ec;
    for (int waited = 0; waited < 20000 && std::filesystem::file_size(wal, ec) < (1u << 20); ++waited)
        ::usleep(1000);
    ASSERT_EQ(::kill(writer, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";
    EXPECT_EQ(OpenStore(database)->ReadTable("movie"), Entries(10, 0));

    // Two processes index at once: every table of both is stored whole.
    const auto writeTables = [&](const char* prefix) {
        auto store = OpenStore(database);
        for (int i = 0; i < 20; ++i)
            if (!store || !store->ReplaceTable(prefix + std::to_string(i), Entries(500, i)))
                return false;
        return true;
    };
    const pid_t first = Spawn([&] { return writeTables("a"); }), second = Spawn([&] { return writeTables("b"); });
    for (const pid_t child : {first, second}) {
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto store = OpenStore(database);
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(store->ReadTable(prefix + std::to_string(i)), Entries(500, i)) << prefix << i;
}

// A database that is not one, or is cut short, is set aside and a new one started, with a notice.
TEST(TimeIndexStore, ADamagedDatabaseIsSetAsideAndRebuilt)
{
    md::test::TempDir dir;
    const std::filesystem::path database = dir / "timeindex.sqlite", aside = dir / "timeindex.sqlite.damaged";
    md::test::WriteFileBytes(database, std::vector<uint8_t>(8192, 0x5A));
    auto store = OpenStore(database);
    ASSERT_TRUE(store);
    EXPECT_NE(store->Notice().find("was damaged"), std::string::npos) << store->Notice();
    EXPECT_EQ(md::test::ReadFileBytes(aside), std::vector<uint8_t>(8192, 0x5A));
    ASSERT_TRUE(store->ReplaceTable("movie", Entries(20000, 0)));
    store.reset();  // the last connection checkpoints the WAL into the file

    std::filesystem::resize_file(database, std::filesystem::file_size(database) / 2);
    store = OpenStore(database);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->ReadTable("movie"), std::nullopt);
    EXPECT_NE(store->Notice().find("was damaged"), std::string::npos) << store->Notice();
    ASSERT_TRUE(store->ReplaceTable("movie", Entries(3, 7)));
    EXPECT_EQ(store->ReadTable("movie"), Entries(3, 7));
}

}  // namespace
