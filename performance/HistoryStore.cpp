// The SQLite store: schema and migrations, writes that never block monitoring, reads for tools.
#include "performance/HistoryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

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
};

const char* kIntervalColumns =
    "object, start_unix, length_s, complete, through_unix, available, unavailable, "
    "not_measured, es, ses, dm, minutes, errors";

struct Statement {
    sqlite3_stmt* s;
    ~Statement() { sqlite3_finalize(s); }
};

std::optional<std::time_t> OptionalTime(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_NULL)
        return std::nullopt;
    return static_cast<std::time_t>(sqlite3_column_int64(s, column));
}

void BindOptional(sqlite3_stmt* s, int index, const std::optional<std::time_t>& t) {
    if (t)
        sqlite3_bind_int64(s, index, *t);
    else
        sqlite3_bind_null(s, index);
}

IntervalRow ReadIntervalRow(sqlite3_stmt* s, BinKind kind, std::time_t* through) {
    IntervalRow row;
    row.kind = kind;
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    row.object = ObjectIndex(name ? name : "").value_or(-1);
    row.span = {static_cast<std::time_t>(sqlite3_column_int64(s, 1)), sqlite3_column_int(s, 2)};
    row.complete = sqlite3_column_int(s, 3) != 0;
    if (through != nullptr)
        *through = static_cast<std::time_t>(sqlite3_column_int64(s, 4));
    Figures& f = row.figures;
    f.available = sqlite3_column_int64(s, 5);
    f.unavailable = sqlite3_column_int64(s, 6);
    f.notMeasured = sqlite3_column_int64(s, 7);
    f.es = sqlite3_column_int64(s, 8);
    f.ses = sqlite3_column_int64(s, 9);
    f.dm = sqlite3_column_int64(s, 10);
    f.minutes = sqlite3_column_int64(s, 11);
    f.errors = sqlite3_column_int64(s, 12);
    return row;
}

// Rows of one start time become one interval.
void AddToIntervals(std::deque<Interval>& out, const IntervalRow& row) {
    if (out.empty() || out.back().span.start != row.span.start) {
        out.push_back(Interval{row.span});
        out.back().complete = row.complete;
        out.back().dirty = false;
    }
    out.back().figures[static_cast<std::size_t>(row.object)] = row.figures;
}

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
    for (sqlite3_stmt* s : {insertInterval, updateInterval, updateIntervalById, insertJournal,
                            updateJournal, insertCarry, begin, commit})
        sqlite3_finalize(s);
    if (db != nullptr)
        sqlite3_close(db);
    if (lockFd >= 0)
        ::close(lockFd);
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
    std::error_code ec;
    const auto folder = std::filesystem::path(file).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    // A second monitor on the same line must not mix its figures into ours; the lock goes
    // with the process, so a killed monitor never leaves it behind.
    lockFd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        Report("History database " + file + " cannot be created (" + std::strerror(errno) +
               "); the line's figures and journal are kept in memory only.");
        return false;
    }
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        lockFd = -1;
        Report("History database " + file +
               " is in use by another monitor; the line's figures and journal are kept in "
               "memory only.");
        return false;
    }
    if (!Check(sqlite3_open_v2(file.c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                               nullptr),
               "open")) {
        broken = true;
        return false;
    }
    sqlite3_busy_timeout(db, 100);
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL")) {
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
    insertInterval = Prepare(
        "INSERT INTO interval_rows(kind, object, start_unix, length_s, complete, "
        "through_unix, available, unavailable, not_measured, es, ses, dm, minutes, errors) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    // Most writes update the rows of the current intervals: by the row ids found at their
    // first write; by the key, which tells the row id, for any other.
    updateInterval = Prepare(
        "UPDATE interval_rows SET length_s = ?4, complete = ?5, through_unix = ?6, available = ?7, "
        "unavailable = ?8, not_measured = ?9, es = ?10, ses = ?11, dm = ?12, minutes = ?13, "
        "errors = ?14 WHERE kind = ?1 AND start_unix = ?3 AND object = ?2 RETURNING rowid");
    updateIntervalById = Prepare(
        "UPDATE interval_rows SET length_s = ?4, complete = ?5, through_unix = ?6, available = ?7, "
        "unavailable = ?8, not_measured = ?9, es = ?10, ses = ?11, dm = ?12, minutes = ?13, "
        "errors = ?14 WHERE rowid = ?15");
    insertJournal = Prepare(
        "INSERT INTO journal(id, object, severity, start_unix, end_unix, acknowledged_unix) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    // An entry that ends or is acknowledged changes in place, its start index untouched.
    updateJournal = Prepare(
        "UPDATE journal SET object = ?2, severity = ?3, start_unix = ?4, end_unix = ?5, "
        "acknowledged_unix = ?6 WHERE id = ?1");
    begin = Prepare("BEGIN IMMEDIATE");
    commit = Prepare("COMMIT");
    insertCarry = Prepare(
        "INSERT OR REPLACE INTO line_state(object, unavailable, dm_seconds, dm_count) "
        "VALUES(?1, ?2, ?3, ?4)");
    if (!insertInterval || !updateInterval || !updateIntervalById || !insertJournal ||
        !updateJournal || !insertCarry || !begin || !commit) {
        broken = true;
        Report("History database " + file + " has an unexpected layout (" +
               sqlite3_errmsg(db) + "); nothing is stored. Monitoring goes on.");
        return false;
    }
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
    path = file;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
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

StoredLine HistoryStore::Load(const RetentionOptions& retention, std::size_t journalLimit) {
    StoredLine line;
    if (!Usable())
        return line;
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        std::deque<Interval> completed, current;
        const std::string sql = std::string("SELECT ") + kIntervalColumns +
                                " FROM intervals WHERE kind = ?1 ORDER BY start_unix, object";
        Statement s{Prepare(sql.c_str())};
        if (s.s == nullptr)
            continue;
        sqlite3_bind_text(s.s, 1, BinKindName(kind), -1, SQLITE_STATIC);
        while (sqlite3_step(s.s) == SQLITE_ROW) {
            std::time_t through = 0;
            const IntervalRow row = ReadIntervalRow(s.s, kind, &through);
            if (row.object < 0)
                continue;
            if (row.complete) {
                AddToIntervals(completed, row);
            } else {
                AddToIntervals(current, row);
                line.through = line.through == 0 ? through : std::min(line.through, through);
            }
        }
        // Only the newest unfinished interval goes on; an older one (a clock set back)
        // counts as completed.
        while (current.size() > 1) {
            current.front().complete = true;
            completed.push_back(current.front());
            current.pop_front();
        }
        const std::size_t keep = static_cast<std::size_t>(
            kind == BinKind::Quarter ? retention.quarters : retention.days);
        while (completed.size() > keep)
            completed.pop_front();
        (kind == BinKind::Quarter ? line.quarters : line.days) = completed;
        if (!current.empty())
            (kind == BinKind::Quarter ? line.quarter : line.day) = current.front();
    }
    {
        Statement s{Prepare("SELECT object, unavailable, dm_seconds, dm_count FROM line_state")};
        while (s.s && sqlite3_step(s.s) == SQLITE_ROW) {
            const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s.s, 0));
            if (const auto o = ObjectIndex(name ? name : "")) {
                line.carry[static_cast<std::size_t>(*o)] = {sqlite3_column_int(s.s, 1) != 0,
                                                            sqlite3_column_int(s.s, 2),
                                                            sqlite3_column_double(s.s, 3)};
            }
        }
    }
    {
        Statement s{Prepare("SELECT COALESCE(MAX(id), 0) FROM journal")};
        if (s.s && sqlite3_step(s.s) == SQLITE_ROW)
            line.nextJournalId = sqlite3_column_int64(s.s, 0) + 1;
    }
    Statement s{Prepare("SELECT id, object, start_unix, end_unix, acknowledged_unix FROM journal "
                        "WHERE end_unix IS NULL OR id >= ?1 ORDER BY id")};
    if (s.s != nullptr) {
        sqlite3_bind_int64(s.s, 1,
                           line.nextJournalId - static_cast<std::int64_t>(journalLimit));
        while (sqlite3_step(s.s) == SQLITE_ROW) {
            const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s.s, 1));
            const auto state = JournalStateIndex(name ? name : "");
            if (!state)
                continue;
            line.journal.push_back({sqlite3_column_int64(s.s, 0), *state,
                                    static_cast<std::time_t>(sqlite3_column_int64(s.s, 2)),
                                    OptionalTime(s.s, 3), OptionalTime(s.s, 4)});
        }
    }
    return line;
}

bool HistoryStore::Begin() {
    sqlite3_reset(begin);
    return Check(sqlite3_step(begin), "begin");
}

bool HistoryStore::Commit(bool ok) {
    if (ok) {
        sqlite3_reset(commit);
        ok = Check(sqlite3_step(commit), "commit");
    }
    if (!ok) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        currentRows = {};  // row ids handed out in the transaction may be handed out again
        return false;
    }
    reported = false;  // a later problem is news again
    return true;
}

bool HistoryStore::WriteJournal(const std::vector<JournalEntry>& entries) {
    if (!Usable() || !Begin())
        return false;
    return Commit(WriteJournalRows(entries));
}

bool HistoryStore::WriteJournalRows(const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& e : entries) {
        for (sqlite3_stmt* s : {updateJournal, insertJournal}) {
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, e.id);
            sqlite3_bind_text(s, 2, e.Object().c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 3, SeverityName(e.GetSeverity()), -1, SQLITE_STATIC);
            sqlite3_bind_int64(s, 4, e.start);
            BindOptional(s, 5, e.end);
            BindOptional(s, 6, e.acknowledged);
            if (!Check(sqlite3_step(s), "journal"))
                return false;
            if (sqlite3_changes(db) > 0)
                break;
        }
    }
    return true;
}

bool HistoryStore::WriteIntervalRows(BinKind kind, const Interval& interval, std::time_t through) {
    RowIds& ids = currentRows[kind == BinKind::Quarter ? 0 : 1];
    const bool known = ids.start == interval.span.start;
    ids.start = -1;  // until every row is known again
    for (int o = 0; o < kObjectCount; ++o) {
        if (known) {
            BindIntervalRow(updateIntervalById, kind, interval, o, through);
            sqlite3_bind_int64(updateIntervalById, 15, ids.rowid[o]);
            if (!Check(sqlite3_step(updateIntervalById), "intervals"))
                return false;
            if (sqlite3_changes(db) > 0)
                continue;
        }
        BindIntervalRow(updateInterval, kind, interval, o, through);
        int rc = sqlite3_step(updateInterval);
        if (rc == SQLITE_ROW) {
            ids.rowid[o] = sqlite3_column_int64(updateInterval, 0);
            rc = sqlite3_step(updateInterval);
        } else if (rc == SQLITE_DONE) {
            BindIntervalRow(insertInterval, kind, interval, o, through);
            rc = sqlite3_step(insertInterval);
            ids.rowid[o] = sqlite3_last_insert_rowid(db);
        }
        if (!Check(rc, "intervals"))
            return false;
    }
    ids.start = interval.span.start;
    return true;
}

bool HistoryStore::BindIntervalRow(sqlite3_stmt* s, BinKind kind, const Interval& interval,
                                   int o, std::time_t through) {
    {
        const Figures& f = interval.figures[o];
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, BinKindName(kind), -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 2, ObjectName(o).c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(s, 3, interval.span.start);
        sqlite3_bind_int(s, 4, interval.span.length);
        sqlite3_bind_int(s, 5, interval.complete ? 1 : 0);
        sqlite3_bind_int64(s, 6, interval.complete ? interval.span.End() : through);
        const std::int64_t values[] = {f.available, f.unavailable, f.notMeasured, f.es, f.ses,
                                       f.dm,        f.minutes,     f.errors};
        for (int i = 0; i < 8; ++i) {
            if (i >= 5 && !IsLineEnd(o))
                sqlite3_bind_null(s, 7 + i);
            else
                sqlite3_bind_int64(s, 7 + i, values[i]);
        }
    }
    return true;
}

bool HistoryStore::WriteIntervals(const std::vector<const Interval*>& quarters,
                                  const std::vector<const Interval*>& days, std::time_t through,
                                  const std::array<ObjectCarry, kObjectCount>& carry,
                                  const std::vector<JournalEntry>& journal) {
    if (!Usable() || !Begin())
        return false;
    bool ok = WriteJournalRows(journal);
    for (const Interval* i : quarters)
        ok = ok && WriteIntervalRows(BinKind::Quarter, *i, through);
    for (const Interval* i : days)
        ok = ok && WriteIntervalRows(BinKind::Day, *i, through);
    for (int o = 0; ok && o < kObjectCount; ++o) {
        if (writtenCarry[o] == carry[o])
            continue;
        sqlite3_stmt* s = insertCarry;
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, ObjectName(o).c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(s, 2, carry[o].unavailable ? 1 : 0);
        sqlite3_bind_int(s, 3, carry[o].dmSeconds);
        sqlite3_bind_double(s, 4, carry[o].dmCount);
        ok = Check(sqlite3_step(s), "line state");
    }
    if (!Commit(ok))
        return false;
    for (int o = 0; o < kObjectCount; ++o)
        writtenCarry[o] = carry[o];
    return true;
}

bool HistoryStore::Prune(std::time_t quarterBefore, std::time_t dayBefore,
                         std::time_t journalBefore) {
    if (!Usable())
        return false;
    currentRows = {};  // a row id freed here may be handed out again
    Statement s{Prepare("DELETE FROM interval_rows WHERE complete = 1 AND "
                        "((kind = '15min' AND start_unix < ?1) OR (kind = '24h' AND start_unix < ?2))")};
    Statement j{Prepare("DELETE FROM journal WHERE end_unix < ?1")};
    if (s.s == nullptr || j.s == nullptr)
        return false;
    sqlite3_bind_int64(s.s, 1, quarterBefore);
    sqlite3_bind_int64(s.s, 2, dayBefore);
    sqlite3_bind_int64(j.s, 1, journalBefore);
    return Check(sqlite3_step(s.s), "prune") && Check(sqlite3_step(j.s), "prune");
}

std::vector<IntervalRow> HistoryStore::Intervals(BinKind kind, std::optional<int> object,
                                                 std::time_t since) const {
    std::vector<IntervalRow> rows;
    const std::string sql = std::string("SELECT ") + kIntervalColumns +
                            " FROM intervals WHERE kind = ?1 AND start_unix >= ?2"
                            " ORDER BY start_unix";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr)
        return rows;
    sqlite3_bind_text(s.s, 1, BinKindName(kind), -1, SQLITE_STATIC);
    sqlite3_bind_int64(s.s, 2, since);
    std::map<int, IntervalRow> sameStart;  // one interval's rows in object order
    auto flush = [&] {
        for (auto& [o, row] : sameStart)
            rows.push_back(row);
        sameStart.clear();
    };
    while (sqlite3_step(s.s) == SQLITE_ROW) {
        const IntervalRow row = ReadIntervalRow(s.s, kind, nullptr);
        if (row.object < 0 || (object && row.object != *object))
            continue;
        if (!sameStart.empty() && sameStart.begin()->second.span.start != row.span.start)
            flush();
        sameStart[row.object] = row;
    }
    flush();
    return rows;
}

std::vector<JournalEntry> HistoryStore::JournalEntries(std::time_t since,
                                                       bool unacknowledgedOnly) const {
    std::vector<JournalEntry> out;
    std::string sql =
        "SELECT id, object, start_unix, end_unix, acknowledged_unix FROM journal"
        " WHERE (start_unix >= ?1 OR end_unix IS NULL OR end_unix >= ?1)";
    if (unacknowledgedOnly)
        sql += " AND acknowledged_unix IS NULL";
    sql += " ORDER BY id";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr)
        return out;
    sqlite3_bind_int64(s.s, 1, since);
    while (sqlite3_step(s.s) == SQLITE_ROW) {
        const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s.s, 1));
        const auto state = JournalStateIndex(name ? name : "");
        if (!state)
            continue;
        out.push_back({sqlite3_column_int64(s.s, 0), *state,
                       static_cast<std::time_t>(sqlite3_column_int64(s.s, 2)),
                       OptionalTime(s.s, 3), OptionalTime(s.s, 4)});
    }
    return out;
}

}  // namespace kestrel
