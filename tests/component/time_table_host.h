// A host of the detector's time table: the time-index module registered in a registry and a database of the test's
// own, a table built on the detector's worker thread, and the stored entries read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>

#include "platform/com_runtime.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/module.h"
#include "timeindex/time_index_store.h"

namespace md::test {

// Where the worker's callback leaves its result (a second call is a fault and ends the test program).
struct Completion {
    std::promise<uint32_t> result;
    std::future<uint32_t> future = result.get_future();

    static void Callback(void* context, uint32_t value) { static_cast<Completion*>(context)->result.set_value(value); }
    std::optional<uint32_t> Wait()
    {
        if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
            return std::nullopt;
        return future.get();
    }
};

using TimeAndPosition = std::pair<int64_t, int64_t>;

class TimeTableHost : public DetectorTest {
protected:
    void SetUp() override
    {
        DetectorTest::SetUp();
        setenv("MEDIADETECT_REGISTRY", (m_tables / "registry.reg").c_str(), 1);
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
    std::optional<uint32_t> Build(const std::filesystem::path& file)
    {
        Completion completion;
        const HRESULT hr =
            m_table->StartTimeTable(Utf8ToWide(file.string()).c_str(), &Completion::Callback, &completion);
        EXPECT_EQ(hr, S_OK) << file;
        return SUCCEEDED(hr) ? completion.Wait() : std::nullopt;
    }

    // The stored entries of file: presentation time (100 ns) and pack position.
    std::optional<std::vector<TimeAndPosition>> Stored(const std::filesystem::path& file)
    {
        std::string error;
        auto store = TimeIndexStore::Open(m_database, error);
        EXPECT_TRUE(store) << error;
        const auto entries = store ? store->ReadTable(TimeIndexKey(file)) : std::nullopt;
        if (!entries)
            return std::nullopt;
        std::vector<TimeAndPosition> pairs;
        for (const TimeIndexEntry& e : *entries) {
            EXPECT_EQ(e.type, kTimeIndexPackEntry);
            int64_t position = -1;
            if (e.data.size() == sizeof position)
                std::memcpy(&position, e.data.data(), sizeof position);
            pairs.emplace_back(e.time, position);
        }
        return pairs;
    }

    TempDir m_tables;
    std::filesystem::path m_database = m_tables / "timeindex.sqlite";
    LoadedModule m_timeIndexModule{(BuildDir() / "libmdtimeindex.so").string()};
    ITimeTableInfo* m_table = nullptr;
};

}  // namespace md::test
