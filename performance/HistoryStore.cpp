// The SQLite store: schema and migrations, opening and the statements it keeps.
#include "performance/HistoryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "performance/HistoryStatement.h"

namespace kestrel {

namespace {

// Each migration takes the schema from the version before it to its own.
struct Migration {
    int version;
    const char* description;
    const char* sql;
};

#define KESTREL_UTC(column) "strftime('%Y-%m-%dT%H:%M:%SZ', " column ", 'unixepoch')"

// The stored columns of the intervals, the same in every version so far.
#define KESTREL_INTERVAL_COLUMNS                                                 \
    " kind TEXT NOT NULL CHECK (kind IN ('15min', '24h')),"                      \
    " object TEXT NOT NULL,"                                                     \
    " start_unix INTEGER NOT NULL,"                                              \
    " length_s INTEGER NOT NULL,"                                                \
    " complete INTEGER NOT NULL,"                                                \
    " through_unix INTEGER NOT NULL,"                                            \
    " available INTEGER NOT NULL,"                                               \
    " unavailable INTEGER NOT NULL,"                                             \
    " not_measured INTEGER NOT NULL,"                                            \
    " es INTEGER NOT NULL,"                                                      \
    " ses INTEGER NOT NULL,"                                                     \
    " dm INTEGER,"                                                               \
    " minutes INTEGER,"                                                          \
    " errors INTEGER,"

#define KESTREL_INTERVAL_VALUES                                                  \
    "kind, object, start_unix, length_s, complete, through_unix, available, "    \
    "unavailable, not_measured, es, ses, dm, minutes, errors"

const Migration kMigrations[] = {
    {1, "intervals, journal and line state",
     "CREATE TABLE intervals(" KESTREL_INTERVAL_COLUMNS
     " start_utc TEXT GENERATED ALWAYS AS (" KESTREL_UTC("start_unix") ") VIRTUAL,"
     " PRIMARY KEY (kind, start_unix, object)) WITHOUT ROWID;"
     "CREATE TABLE journal("
     " id INTEGER PRIMARY KEY,"
     " object TEXT NOT NULL,"
     " severity TEXT NOT NULL CHECK (severity IN ('critical', 'major', 'minor')),"
     " start_unix INTEGER NOT NULL,"
     " end_unix INTEGER,"
     " acknowledged_unix INTEGER,"
     " start_utc TEXT GENERATED ALWAYS AS (" KESTREL_UTC("start_unix") ") VIRTUAL,"
     " end_utc TEXT GENERATED ALWAYS AS (" KESTREL_UTC("end_unix") ") VIRTUAL,"
     " acknowledged_utc TEXT GENERATED ALWAYS AS (" KESTREL_UTC("acknowledged_unix") ") VIRTUAL);"
     "CREATE INDEX journal_start ON journal(start_unix);"
     "CREATE TABLE line_state("
     " object TEXT PRIMARY KEY,"
     " unavailable INTEGER NOT NULL,"
     " dm_seconds INTEGER NOT NULL,"
     " dm_count REAL NOT NULL);"},
    // The rows of the current intervals are rewritten every ten seconds. Found by their row
    // id, and without a generated column to compute at each write, they cost half as much.
    // Readers keep the intervals as they were, now a view with the same columns.
    {2, "interval rows with row ids; intervals a view",
     "CREATE TABLE interval_rows(" KESTREL_INTERVAL_COLUMNS
     " UNIQUE (kind, start_unix, object));"
     "INSERT INTO interval_rows(" KESTREL_INTERVAL_VALUES ") SELECT " KESTREL_INTERVAL_VALUES
     " FROM intervals ORDER BY kind, start_unix, object;"
     "DROP TABLE intervals;"
     "CREATE VIEW intervals AS SELECT " KESTREL_INTERVAL_VALUES ", " KESTREL_UTC("start_unix")
     " AS start_utc FROM interval_rows;"},
    // What the monitor could not see is kept apart from what it saw clear.
    {3, "journal: unknown while unseen, ended unseen, notes",
     "ALTER TABLE journal ADD COLUMN unknown_since_unix INTEGER;"
     "ALTER TABLE journal ADD COLUMN ended_unseen INTEGER NOT NULL DEFAULT 0;"
     "ALTER TABLE journal ADD COLUMN note TEXT;"},
};

}  // namespace

const char* HistoryMigrationSql(int version) {
    for (const Migration& m : kMigrations) {
        if (m.version == version)
            return m.sql;
    }
    return nullptr;
}

std::string DefaultHistoryPath(const std::string& name) {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home ? home : ".") / ".local" / "share";
    }
    std::string file = name.empty() ? std::string("line") : name;
    for (char& ch : file) {
        if (ch == '/' || ch == '\0')
            ch = '_';
    }
    if (file[0] == '.')
        file[0] = '_';
    return (base / "kestrel" / (file + ".sqlite")).string();
}

HistoryStore::HistoryStore() = default;

HistoryStore::~HistoryStore() {
    Release();
}

sqlite3_stmt* HistoryStore::Want(Occasional& statement) {
    if (statement.s == nullptr)
        statement.s = Prepare(statement.sql);
    return statement.s;
}

bool HistoryStore::NotPrepared(const char* what) {
    const int rc = sqlite3_errcode(db);
    Check(rc == SQLITE_OK ? SQLITE_ERROR : rc, what);
    return false;
}

void HistoryStore::LetGoOccasional() {
    for (Occasional* o : {&insertInterval, &updateInterval, &insertJournal, &updateJournal}) {
        sqlite3_finalize(o->s);
        o->s = nullptr;
    }
}

// The connection first: closing the file drops the locks SQLite holds on it.
void HistoryStore::Release() {
    LetGoOccasional();
    for (sqlite3_stmt** s : {&updateIntervalsById, &insertCarry, &begin, &commit, &dataVersion}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    if (db != nullptr)
        sqlite3_close(db);
    db = nullptr;
    ReleaseFile();
}

void HistoryStore::Report(const std::string& message) {
    if (reported)
        return;
    reported = true;
    if (sink)
        sink(message);
}

bool HistoryStore::Check(int rc, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW)
        return true;
    const int primary = rc & 0xff;
    const std::string detail = std::string(what) + ": " + sqlite3_errstr(rc);
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        broken = true;
        Report("History database " + path + " is damaged (" + detail +
               "); it is left as it is and nothing more is stored. Monitoring goes on.");
    } else if (primary == SQLITE_FULL) {
        Report("History database " + path +
               ": the disk is full. Figures and journal are kept in memory and stored when "
               "space is free again. Monitoring goes on.");
    } else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        Report("History database " + path +
               " is locked by another program; storing is retried. Monitoring goes on.");
    } else {
        Report("History database " + path + " cannot be written (" + detail +
               "); storing is retried. Monitoring goes on.");
    }
    return false;
}

bool HistoryStore::Exec(const char* sql) {
    return Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), "statement");
}

bool HistoryStore::WalOrFileJournal() {
    std::string mode;
    {
        Statement wal{Prepare("PRAGMA journal_mode=WAL")};
        if (wal.s == nullptr || sqlite3_step(wal.s) != SQLITE_ROW)
            return false;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(wal.s, 0));
        mode = text != nullptr ? text : "";
    }
    return mode == "wal" || Exec("PRAGMA journal_mode=DELETE");
}

sqlite3_stmt* HistoryStore::Prepare(const char* sql) const {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return s;
}

bool HistoryStore::Open(const std::string& file, ProblemSink problemSink) {
    path = file;
    sink = std::move(problemSink);
    return Start();
}

bool HistoryStore::Start() {
    const std::string& file = path;
    std::error_code ec;
    const auto folder = std::filesystem::path(file).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    if (!TakeFile())
        return false;
    // A host keeps a connection open for each of up to a thousand lines. By default each
    // would set aside room for 20 pages at its first read (88 kB, kept while it is open) and
    // cache up to 2 MB of pages. A write touches a handful of pages, and the kernel caches the
    // file anyway: no room set aside (a setting of the whole library, made before its first
    // use; this store is the process's only user of SQLite), and a small cache.
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0); });
    if (!Check(sqlite3_open_v2(file.c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                               nullptr),
               "open")) {
        broken = true;
        return false;
    }
    sqlite3_busy_timeout(db, 100);
    if (!Exec("PRAGMA cache_size=16")) {
        broken = true;
        return false;
    }
    // The WAL is checkpointed (passively: a reader in the middle of a query is never waited
    // for) once it holds 40 pages, about eight writes of the intervals: a checkpoint waits for
    // the disk twice, and a host with a thousand lines would otherwise do it a hundred times a
    // second. Left to itself the WAL would grow to SQLite's checkpoint size (4 MB) and stay
    // that big, and on a small disk that is the space the closing write needs; after a burst
    // (a new database with everything in memory) it is cut back to about this size. A
    // checkpoint that fails (a full disk) leaves the WAL to grow until a commit fails, which is
    // reported then. Closing checkpoints whatever is left.
    // A new database goes over to the WAL with its header written under a journal kept in
    // memory: the rollback journal file SQLite would make for that one write, and remove at
    // once, is a file made and freed for each of a thousand lines at a host's first start.
    // There is nothing in a new file to lose to a crash in that write. Where the WAL cannot
    // be had (a file system without shared memory), SQLite stays in the mode it was in, and
    // the memory journal, which a crash would leave half-written, gives way to the file one.
    struct stat held {};
    const bool fresh = fileFd >= 0 && ::fstat(fileFd, &held) == 0 && held.st_size == 0;
    if ((fresh && !Exec("PRAGMA journal_mode=MEMORY")) || !WalOrFileJournal() ||
        !Exec("PRAGMA synchronous=NORMAL") ||
        !Exec("PRAGMA journal_size_limit=196608") ||
        sqlite3_wal_autocheckpoint(db, 40) != SQLITE_OK) {
        broken = true;
        return false;
    }
    {
        Statement check{Prepare("PRAGMA quick_check")};
        const int rc = check.s ? sqlite3_step(check.s) : sqlite3_errcode(db);
        const char* verdict =
            rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check.s, 0))
                             : nullptr;
        if (verdict == nullptr || std::string(verdict) != "ok") {
            broken = true;
            Report("History database " + file + " is damaged (" +
                   (verdict ? verdict : sqlite3_errmsg(db)) +
                   "); it is left as it is and nothing is stored. Monitoring goes on.");
            return false;
        }
    }
    if (!Migrate()) {
        broken = true;
        return false;
    }
    insertInterval.sql =
        "INSERT INTO interval_rows(kind, object, start_unix, length_s, complete, "
        "through_unix, available, unavailable, not_measured, es, ses, dm, minutes, errors) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)";
    // Most writes update the rows of the current intervals: by the row ids found at their
    // first write; by the key, which tells the row id, for any other.
    updateInterval.sql =
        "UPDATE interval_rows SET length_s = ?4, complete = ?5, through_unix = ?6, available = ?7, "
        "unavailable = ?8, not_measured = ?9, es = ?10, ses = ?11, dm = ?12, minutes = ?13, "
        "errors = ?14 WHERE kind = ?1 AND start_unix = ?3 AND object = ?2 RETURNING rowid";
    updateIntervalsById = Prepare(
        "UPDATE interval_rows SET length_s = ?4, complete = ?5, through_unix = ?6, available = ?7, "
        "unavailable = ?8, not_measured = ?9, es = ?10, ses = ?11, dm = ?12, minutes = ?13, "
        "errors = ?14 WHERE rowid BETWEEN ?15 AND ?16");
    insertJournal.sql =
        "INSERT INTO journal(id, object, severity, start_unix, end_unix, acknowledged_unix, "
        "unknown_since_unix, ended_unseen, note) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
    // An entry that ends or is acknowledged changes in place, its start index untouched. An
    // acknowledgement stored by another program (kestrel-history ack) stays, whatever memory
    // held when it was written: memory learns of it at the next tick.
    updateJournal.sql =
        "UPDATE journal SET object = ?2, severity = ?3, start_unix = ?4, end_unix = ?5, "
        "acknowledged_unix = COALESCE(acknowledged_unix, ?6), unknown_since_unix = ?7, "
        "ended_unseen = ?8, note = ?9 WHERE id = ?1";
    begin = Prepare("BEGIN IMMEDIATE");
    commit = Prepare("COMMIT");
    insertCarry = Prepare(
        "INSERT OR REPLACE INTO line_state(object, unavailable, dm_seconds, dm_count) "
        "VALUES(?1, ?2, ?3, ?4)");
    dataVersion = Prepare("PRAGMA data_version");
    acknowledgedVersion = -1;
    // Prepared once here all the same, to find a layout not ours before anything is written;
    // the first write uses them and lets them go.
    if (!Want(insertInterval) || !Want(updateInterval) || !updateIntervalsById ||
        !Want(insertJournal) || !Want(updateJournal) || !insertCarry || !begin || !commit ||
        !dataVersion) {
        broken = true;
        Report("History database " + file + " has an unexpected layout (" +
               sqlite3_errmsg(db) + "); nothing is stored. Monitoring goes on.");
        return false;
    }
    NoteCompanions();
    Stamp();
    return true;
}

bool HistoryStore::Migrate() {
    int version = 0;
    {
        Statement v{Prepare("PRAGMA user_version")};
        if (v.s && sqlite3_step(v.s) == SQLITE_ROW)
            version = sqlite3_column_int(v.s, 0);
    }
    if (version > kHistorySchemaVersion) {
        Report("History database " + path + " was written by a newer Kestrel (schema " +
               std::to_string(version) + "); it is left as it is and nothing is stored.");
        return false;
    }
    if (version == 0 && !Exec("CREATE TABLE IF NOT EXISTS schema_migrations("
                              " version INTEGER PRIMARY KEY,"
                              " applied_utc TEXT NOT NULL,"
                              " description TEXT NOT NULL)"))
        return false;
    for (const Migration& m : kMigrations) {
        if (m.version <= version)
            continue;
        const std::string record =
            "INSERT INTO schema_migrations VALUES(" + std::to_string(m.version) +
            ", strftime('%Y-%m-%dT%H:%M:%SZ', 'now'), '" + m.description +
            "'); PRAGMA user_version = " + std::to_string(m.version) + ";";
        if (!Exec("BEGIN IMMEDIATE"))
            return false;
        if (!Exec(m.sql) || !Exec(record.c_str()) || !Exec("COMMIT")) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    return true;
}

bool HistoryStore::OpenReadOnly(const std::string& file, std::string& error) {
    return OpenExisting(file, SQLITE_OPEN_READONLY, error);
}

bool HistoryStore::OpenForAcknowledging(const std::string& file, std::string& error) {
    if (!OpenExisting(file, SQLITE_OPEN_READWRITE, error))
        return false;
    // SQLite opens a file it may not write for reading, and would say so only at the write.
    if (sqlite3_db_readonly(db, "main") != 0) {
        error = "cannot be written by this user; acknowledge as the monitor's user";
        return false;
    }
    // The monitor waits 100 ms for the lock before it calls the database locked: a commit
    // here must not wait for the disk while it holds the lock. In WAL mode this keeps every
    // commit whole; the disk has it at the monitor's next checkpoint, within seconds.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return true;
}

bool HistoryStore::OpenExisting(const std::string& file, int flags, std::string& error) {
    path = file;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "cannot open";
        return false;
    }
    sqlite3_busy_timeout(db, 1000);
    Statement v{Prepare("SELECT MAX(version) FROM schema_migrations")};
    if (v.s == nullptr || sqlite3_step(v.s) != SQLITE_ROW) {
        error = "not a Kestrel history database (" + std::string(sqlite3_errmsg(db)) + ")";
        return false;
    }
    if (sqlite3_column_int(v.s, 0) > kHistorySchemaVersion) {
        error = "written by a newer Kestrel";
        return false;
    }
    return true;
}

}  // namespace kestrel
