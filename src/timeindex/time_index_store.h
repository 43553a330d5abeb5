// The time-index store: one SQLite database holding a table of timed entries
// per media file. The time-index component writes it; the command-line tool
// reads it back.
//
// The database runs in WAL mode: a table is replaced in one transaction, so a
// process killed while writing leaves the previous table complete, and readers
// never wait for a writer; writers wait for each other (a busy timeout). Every
// table can be built again from its media file, so a damaged database (not a
// database, or truncated) is set aside as <name>.damaged and a new one started;
// Notice() then says so.
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
    bool operator==(const TimeIndexEntry&) const = default;
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
    // Empty, or what happened to a damaged database this store replaced.
    const std::string& Notice() const { return m_notice; }

private:
    explicit TimeIndexStore(std::filesystem::path database) : m_database(std::move(database)) {}
    // Opens the database and creates the schema; false with m_error set on failure.
    bool Connect();
    void Disconnect();
    // After a failed statement: when the database is damaged, sets it aside and
    // connects to a new one (true), else false.
    bool Recover();
    bool Exec(const char* sql);
    // Keeps the connection's last error message and code.
    void NoteError();
    bool ReplaceTableOnce(const std::string& key, const std::vector<TimeIndexEntry>& entries);

    std::filesystem::path m_database;
    sqlite3* m_db = nullptr;
    std::string m_error;
    int m_lastCode = 0;  // primary SQLite result code of the last failure
    std::string m_notice;
};

}  // namespace md
