// The time-index store: one SQLite database holding a table of timed entries
// per media file. The time-index component writes it; the command-line tool
// reads it back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace md {

struct TimeIndexEntry {
    uint32_t type = 0;
    int64_t time = 0;  // 100-ns units
    std::vector<uint8_t> data;
};

// $MEDIADETECT_TIMEINDEX_DB when set, else $XDG_DATA_HOME/mediadetect/timeindex.sqlite
// (~/.local/share/... without XDG_DATA_HOME).
std::filesystem::path DefaultTimeIndexPath();

// The key under which a media file's table is stored: its canonical path when
// the file exists, else the path as given.
std::string TimeIndexKey(const std::filesystem::path& mediaFile);

class TimeIndexStore {
public:
    // Opens (creating the directories and the schema when needed) the database.
    // Returns null and sets error when it cannot be opened.
    static std::unique_ptr<TimeIndexStore> Open(const std::filesystem::path& database, std::string& error);
    ~TimeIndexStore();
    TimeIndexStore(const TimeIndexStore&) = delete;
    TimeIndexStore& operator=(const TimeIndexStore&) = delete;

    // Replaces the table stored under key by entries, in one transaction: a
    // failure leaves the previous table as it was.
    bool ReplaceTable(const std::string& key, const std::vector<TimeIndexEntry>& entries);
    // The entries stored under key in time order (then insertion order), or
    // nothing when no table is stored.
    std::optional<std::vector<TimeIndexEntry>> ReadTable(const std::string& key);

    // Where a seek to time lands in the table stored under key: the last entry at
    // or before time (in time order, then insertion order) or, when time lies
    // before every entry, the first one. One indexed query when such an entry exists.
    enum class SeekStatus { kAtOrBefore, kBeforeFirst, kEmptyTable, kNoTable, kFailed };
    SeekStatus Seek(const std::string& key, int64_t time, TimeIndexEntry& entry);

    const std::string& LastError() const { return m_error; }

private:
    explicit TimeIndexStore(sqlite3* db) : m_db(db) {}
    bool Exec(const char* sql);

    sqlite3* m_db;
    std::string m_error;
};

}  // namespace md
