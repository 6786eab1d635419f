// The SQLite database of one line: intervals, journal entries and what carries over a restart.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "performance/Classifier.h"
#include "performance/Journal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kestrel {

// $XDG_DATA_HOME/kestrel/<name>.sqlite, or ~/.local/share/kestrel/<name>.sqlite without it.
// Characters that cannot stand in a file name ('/', a leading '.') become '_'.
std::string DefaultHistoryPath(const std::string& name);

// The schema version this program writes; older databases are migrated up to it.
inline constexpr int kHistorySchemaVersion = 3;

// The statements that take a database from the version before `version` to it; null for a
// version this program does not know. Tests build the databases of older releases with them.
const char* HistoryMigrationSql(int version);

// What the store holds of a line when it is opened again.
struct StoredLine {
    std::optional<Interval> quarter;  // the current intervals as last written
    std::optional<Interval> day;
    std::time_t through = 0;  // seconds before this are in the current intervals
    std::deque<Interval> quarters;  // completed, oldest first
    std::deque<Interval> days;
    std::array<ObjectCarry, kObjectCount> carry{};
    std::vector<JournalEntry> journal;  // the newest entries and every open one, by id
    std::int64_t nextJournalId = 1;
};

// One stored interval row, as the history tool lists it.
struct IntervalRow {
    BinKind kind = BinKind::Quarter;
    int object = 0;
    BinSpan span;
    Figures figures;
    bool complete = false;
    std::time_t through = 0;  // the figures count the seconds before this
};

// The journal entries the history tool lists or acknowledges.
struct JournalQuery {
    std::time_t since = 0;             // active at or after
    std::optional<std::time_t> until;  // began before
    // Only these journal objects ("near:ais", ...); absent: all.
    std::optional<std::vector<std::string>> objects;
    std::vector<std::int64_t> ids;  // only these entries; empty: any
    bool openOnly = false;          // still open, unknown ones too
    bool unacknowledgedOnly = false;
    std::optional<std::size_t> newest;  // only the newest so many
};

class HistoryStore {
public:
    // Told once about a problem that stops or interrupts writing; monitoring goes on.
    using ProblemSink = std::function<void(const std::string& message)>;

    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens or creates the database for this monitor alone, whatever name another monitor
    // reaches the file by. False when it cannot be used: another monitor holds it, it is
    // corrupt, from a newer version, or cannot be created.
    bool Open(const std::string& path, ProblemSink sink);
    // Opens an existing database for reading only (the history tool); false with `error`.
    bool OpenReadOnly(const std::string& path, std::string& error);
    // Opens an existing database to acknowledge journal entries, also while a monitor writes
    // it (the history tool); false with `error`.
    bool OpenForAcknowledging(const std::string& path, std::string& error);
    bool Usable() const { return db != nullptr && !broken; }
    const std::string& Path() const { return path; }

    StoredLine Load(const RetentionOptions& retention, std::size_t journalLimit);

    // Each call is one transaction; false when it failed (reported once; try again later).
    bool WriteJournal(const std::vector<JournalEntry>& entries);
    // The intervals, what carries over a restart and, in the same transaction, the journal
    // entries changed since the last write.
    bool WriteIntervals(const std::vector<const Interval*>& quarters,
                        const std::vector<const Interval*>& days, std::time_t through,
                        const std::array<ObjectCarry, kObjectCount>& carry,
                        const std::vector<JournalEntry>& journal = {});
    // Acknowledgements another program stored (kestrel-history ack) of the entries from
    // `fromId` on, by id. Costs one PRAGMA, and nothing is read, while no other connection
    // has written since the last call.
    std::vector<std::pair<std::int64_t, std::time_t>> AcknowledgedElsewhere(std::int64_t fromId);
    // Keeps the newest `keep` completed intervals of each kind and removes the older ones, and
    // the journal entries that ended before `journalBefore`.
    bool Prune(const RetentionOptions& keep, std::time_t journalBefore);
    // Before each write: whether the database is still the file its path leads to, as the
    // statistics files check theirs. A file that lost its name (removed, or moved away) is let
    // go of, and a new database is started at the path: true, and the caller writes all it
    // holds into it. A file that another took the name of (replaced, or overwritten by another
    // program) is left as it is, and nothing is stored until the name is free again, when the
    // same happens. Each loss is told once.
    bool FollowPath();

    // Queries for the history tool; `object` empty means all.
    std::vector<IntervalRow> Intervals(BinKind kind, std::optional<int> object,
                                       std::time_t since) const;
    std::vector<JournalEntry> JournalEntries(std::time_t since, bool unacknowledgedOnly) const;
    // In id order.
    std::vector<JournalEntry> JournalEntries(const JournalQuery& query) const;
    // Acknowledges at `now` those of these entries that nobody has acknowledged, a few
    // hundred to a transaction, so that a monitor writing beside it never waits long. Appends
    // the ids it acknowledged as it goes; false with `error` when a write failed.
    bool AcknowledgeJournal(const std::vector<std::int64_t>& ids, std::time_t now,
                            std::vector<std::int64_t>& acknowledged, std::string& error);

    // --- Replays ---
    // The seconds the stored intervals hold from `from` on: the first of them and the second
    // after the last; absent when they hold none. A completed interval holds all its seconds
    // (not measured ones too), a current one those before its `through`.
    struct HeldSeconds {
        std::time_t first = 0;
        std::time_t end = 0;
    };
    std::optional<HeldSeconds> HeldFrom(std::time_t from) const;
    // Makes room for a replay from `from` on, in one transaction: removes the intervals from
    // the start of the 15-minute interval of `from` on, takes the day of that second back to
    // where it was then, ends the journal entries open there and removes later ones, and
    // forgets what carried over. Figures are stored per interval, so seconds before `from` in
    // its 15-minute interval go with it: `notes` says when measured ones did, and when a day
    // could not be taken back (its 15-minute intervals already pruned). False when the store
    // failed (reported).
    bool RemoveFrom(std::time_t from, std::vector<std::string>& notes);

private:
    // A file by device and inode, whatever name leads to it.
    struct FileId {
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
        bool operator==(const FileId&) const = default;
    };

    bool OpenExisting(const std::string& file, int flags, std::string& error);
    bool Start();
    bool TakeFile();
    void Release();
    // Unlocks and closes the database file and the lock files, once the connection is closed.
    void ReleaseFile();
    void NoteCompanions();
    void LetGo();
    bool Renew();
    // Notes the file as our last write left it.
    void Stamp();
    bool Migrate();
    // Turns the database to the WAL, or where it cannot be had to the rollback journal file.
    bool WalOrFileJournal();
    bool Exec(const char* sql);
    bool Begin();
    // Commits when `ok`, else (or when the commit fails) rolls back; true when committed.
    bool Commit(bool ok);
    bool WriteJournalRows(const std::vector<JournalEntry>& entries);
    bool Check(int rc, const char* what);
    void Report(const std::string& message);
    sqlite3_stmt* Prepare(const char* sql) const;
    bool WriteIntervalRows(BinKind kind, const Interval& interval, std::time_t through);
    bool BindIntervalRow(sqlite3_stmt* s, BinKind kind, const Interval& interval, int object,
                         std::time_t through);

    sqlite3* db = nullptr;
    int fileFd = -1;  // the database file, locked; open as long as the connection is
    FileId fileId;
    std::vector<int> lockFiles;  // "<name>.lock" of earlier releases, locked
    bool broken = false;    // corrupt or otherwise not to be written again
    bool reported = false;  // the current problem was told
    std::string path;
    ProblemSink sink;
    // Statements a write needs only now and then (the first write of an interval, a journal
    // change): prepared when wanted, finalized after the transaction. A host with a thousand
    // connections would otherwise hold 23 kB of them for each.
    struct Occasional {
        const char* sql = nullptr;
        sqlite3_stmt* s = nullptr;
    };
    sqlite3_stmt* Want(Occasional& statement);
    void LetGoOccasional();
    // Reports a statement that could not be prepared; false.
    bool NotPrepared(const char* what);
    Occasional insertInterval;
    Occasional updateInterval;
    Occasional insertJournal;
    Occasional updateJournal;
    sqlite3_stmt* updateIntervalsById = nullptr;
    sqlite3_stmt* insertCarry = nullptr;
    sqlite3_stmt* begin = nullptr;
    sqlite3_stmt* commit = nullptr;
    sqlite3_stmt* dataVersion = nullptr;
    // The database file's size and modification time after our last write, and the count of
    // other connections' commits then.
    struct Stamped {
        std::int64_t size = -1;
        std::int64_t time = 0;
        std::int64_t version = -1;
    };
    Stamped stamp;
    std::int64_t acknowledgedVersion = -1;            // other connections' commits at the last look
    std::array<std::optional<FileId>, 2> companions;  // the WAL and shared memory, once seen
    bool displaced = false;  // another file took the name: nothing is stored until it goes
    // The row ids of the interval last written of each kind, by object; start -1: unknown.
    struct RowIds {
        std::time_t start = -1;
        std::array<std::int64_t, kObjectCount> rowid{};
    };
    std::array<RowIds, 2> currentRows{};
    // What the line_state table holds, so that only changes are written.
    std::array<std::optional<ObjectCarry>, kObjectCount> writtenCarry{};
};

}  // namespace kestrel
