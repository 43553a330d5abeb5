#include "timeindex/time_index_store.h"

#include <cstdlib>
#include <sqlite3.h>
#include <system_error>

namespace md {
namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS tables(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL);"
    "CREATE TABLE IF NOT EXISTS entries(table_id INTEGER NOT NULL, seq INTEGER NOT NULL, type INTEGER NOT NULL,"
    " time INTEGER NOT NULL, data BLOB, PRIMARY KEY(table_id, seq));"
    "CREATE INDEX IF NOT EXISTS entries_by_time ON entries(table_id, time, seq);";

// A prepared statement finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace

std::filesystem::path DefaultTimeIndexPath()
{
    if (const char* db = std::getenv("MEDIADETECT_TIMEINDEX_DB"); db && *db)
        return db;
    std::filesystem::path base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local" / "share";
    else
        base = ".";
    return base / "mediadetect" / "timeindex.sqlite";
}

std::string TimeIndexKey(const std::filesystem::path& mediaFile)
{
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(mediaFile, ec);
    return ec ? mediaFile.string() : canonical.string();
}

std::unique_ptr<TimeIndexStore> TimeIndexStore::Open(const std::filesystem::path& database, std::string& error)
{
    std::unique_ptr<TimeIndexStore> store(new (std::nothrow) TimeIndexStore(database));
    if (!store) {
        error = "out of memory";
        return nullptr;
    }
    if (!store->Connect() && !store->Recover()) {
        error = store->m_error;
        return nullptr;
    }
    return store;
}

TimeIndexStore::~TimeIndexStore() { Disconnect(); }

bool TimeIndexStore::Connect()
{
    std::error_code ec;
    if (m_database.has_parent_path())
        std::filesystem::create_directories(m_database.parent_path(), ec);
    if (sqlite3_open_v2(m_database.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        m_error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        Disconnect();
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // In WAL mode a commit needs no sync of the database file to survive a
    // killed process; only a power loss may take the last tables.
    return Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;") && Exec(kSchema);
}

void TimeIndexStore::Disconnect()
{
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool TimeIndexStore::Recover()
{
    if (m_lastCode != SQLITE_CORRUPT && m_lastCode != SQLITE_NOTADB)
        return false;
    m_lastCode = SQLITE_OK;
    Disconnect();
    std::filesystem::path aside = m_database;
    aside += ".damaged";
    std::error_code ec;
    std::filesystem::rename(m_database, aside, ec);
    for (const char* suffix : {"-wal", "-shm"}) {
        std::filesystem::path companion = m_database;
        companion += suffix;
        std::filesystem::remove(companion, ec);
    }
    m_notice = "the time-index store " + m_database.string() + " was damaged (" + m_error + "); it was set aside as " +
               aside.string() + " and a new one started";
    return Connect();
}

bool TimeIndexStore::Exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    NoteError();
    return false;
}

void TimeIndexStore::NoteError()
{
    m_error = sqlite3_errmsg(m_db);
    m_lastCode = sqlite3_extended_errcode(m_db) & 0xFF;
}

bool TimeIndexStore::ReplaceTable(const std::string& key, const std::vector<TimeIndexEntry>& entries)
{
    return ReplaceTableOnce(key, entries) || (Recover() && ReplaceTableOnce(key, entries));
}

bool TimeIndexStore::ReplaceTableOnce(const std::string& key, const std::vector<TimeIndexEntry>& entries)
{
    if (m_db == nullptr || !Exec("BEGIN IMMEDIATE"))
        return false;
    const auto fail = [this] {
        NoteError();
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    {
        Statement table(m_db, "INSERT INTO tables(path) VALUES(?1) ON CONFLICT(path) DO UPDATE SET path = path "
                             "RETURNING id");
        if (!table || sqlite3_bind_text(table.get(), 1, key.data(), int(key.size()), SQLITE_TRANSIENT) != SQLITE_OK ||
            sqlite3_step(table.get()) != SQLITE_ROW)
            return fail();
        const sqlite3_int64 id = sqlite3_column_int64(table.get(), 0);
        sqlite3_step(table.get());  // let the statement finish before the next one

        Statement clear(m_db, "DELETE FROM entries WHERE table_id = ?1");
        if (!clear || sqlite3_bind_int64(clear.get(), 1, id) != SQLITE_OK || sqlite3_step(clear.get()) != SQLITE_DONE)
            return fail();

        Statement insert(m_db, "INSERT INTO entries(table_id, seq, type, time, data) VALUES(?1, ?2, ?3, ?4, ?5)");
        if (!insert)
            return fail();
        sqlite3_int64 seq = 0;
        for (const TimeIndexEntry& e : entries) {
            sqlite3_reset(insert.get());
            if (sqlite3_bind_int64(insert.get(), 1, id) != SQLITE_OK ||
                sqlite3_bind_int64(insert.get(), 2, seq++) != SQLITE_OK ||
                sqlite3_bind_int64(insert.get(), 3, e.type) != SQLITE_OK ||
                sqlite3_bind_int64(insert.get(), 4, e.time) != SQLITE_OK ||
                sqlite3_bind_blob(insert.get(), 5, e.data.data(), int(e.data.size()), SQLITE_STATIC) != SQLITE_OK ||
                sqlite3_step(insert.get()) != SQLITE_DONE)
                return fail();
        }
    }
    return Exec("COMMIT") || fail();
}

std::optional<std::vector<TimeIndexEntry>> TimeIndexStore::ReadTable(const std::string& key)
{
    if (m_db == nullptr)
        return std::nullopt;
    Statement find(m_db, "SELECT id FROM tables WHERE path = ?1");
    const int found = find && sqlite3_bind_text(find.get(), 1, key.data(), int(key.size()), SQLITE_TRANSIENT) ==
                                      SQLITE_OK
                          ? sqlite3_step(find.get())
                          : SQLITE_ERROR;
    if (found != SQLITE_ROW) {
        if (found != SQLITE_DONE) {
            NoteError();
            Recover();  // a damaged store is replaced by an empty one: no table
        }
        return std::nullopt;
    }
    const sqlite3_int64 id = sqlite3_column_int64(find.get(), 0);
    Statement rows(m_db, "SELECT type, time, data FROM entries WHERE table_id = ?1 ORDER BY time, seq");
    if (!rows || sqlite3_bind_int64(rows.get(), 1, id) != SQLITE_OK)
        return std::nullopt;
    std::vector<TimeIndexEntry> entries;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
        TimeIndexEntry e;
        e.type = static_cast<uint32_t>(sqlite3_column_int64(rows.get(), 0));
        e.time = sqlite3_column_int64(rows.get(), 1);
        const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(rows.get(), 2));
        e.data.assign(blob, blob + sqlite3_column_bytes(rows.get(), 2));
        entries.push_back(std::move(e));
    }
    if (rc != SQLITE_DONE) {
        NoteError();
        Recover();
        return std::nullopt;
    }
    return entries;
}

TimeIndexStore::SeekStatus TimeIndexStore::Seek(const std::string& key, int64_t time, TimeIndexEntry& entry)
{
    if (m_db == nullptr)
        return SeekStatus::kFailed;
    // 0: the last entry at or before time; 1: the first entry; 2: whether a table is stored at all.
    static constexpr const char* kQueries[] = {
        "SELECT type, time, data FROM entries WHERE table_id = (SELECT id FROM tables WHERE path = ?1) "
        "AND time <= ?2 ORDER BY time DESC, seq DESC LIMIT 1",
        "SELECT type, time, data FROM entries WHERE table_id = (SELECT id FROM tables WHERE path = ?1) "
        "ORDER BY time, seq LIMIT 1",
        "SELECT id FROM tables WHERE path = ?1"};
    static constexpr SeekStatus kFound[] = {SeekStatus::kAtOrBefore, SeekStatus::kBeforeFirst, SeekStatus::kEmptyTable};
    for (size_t q = 0; q < 3; ++q) {
        Statement query(m_db, kQueries[q]);
        if (!query || sqlite3_bind_text(query.get(), 1, key.data(), int(key.size()), SQLITE_TRANSIENT) != SQLITE_OK ||
            (q == 0 && sqlite3_bind_int64(query.get(), 2, time) != SQLITE_OK)) {
            NoteError();
            return Recover() ? SeekStatus::kNoTable : SeekStatus::kFailed;
        }
        const int rc = sqlite3_step(query.get());
        if (rc == SQLITE_DONE)
            continue;
        if (rc != SQLITE_ROW) {
            NoteError();
            return Recover() ? SeekStatus::kNoTable : SeekStatus::kFailed;
        }
        if (q < 2) {
            entry.type = static_cast<uint32_t>(sqlite3_column_int64(query.get(), 0));
            entry.time = sqlite3_column_int64(query.get(), 1);
            const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(query.get(), 2));
            entry.data.assign(blob, blob + sqlite3_column_bytes(query.get(), 2));
        }
        return kFound[q];
    }
    return SeekStatus::kNoTable;
}

}  // namespace md
