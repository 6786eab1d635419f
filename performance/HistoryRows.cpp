// The SQLite store: loading the line memory, writes that never block monitoring, reads for tools.
#include "performance/HistoryStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "performance/HistoryStatement.h"

namespace kestrel {

namespace {

const char* kIntervalColumns =
    "object, start_unix, length_s, complete, through_unix, available, unavailable, "
    "not_measured, es, ses, dm, minutes, errors";

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

#define KESTREL_JOURNAL_COLUMNS                                                        \
    "id, object, start_unix, end_unix, acknowledged_unix, unknown_since_unix, ended_unseen, " \
    "note"

// A journal row in the columns above; empty for an object this program does not know.
std::optional<JournalEntry> JournalRow(sqlite3_stmt* s) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    const auto state = JournalStateIndex(name ? name : "");
    if (!state)
        return std::nullopt;
    const char* note = reinterpret_cast<const char*>(sqlite3_column_text(s, 7));
    return JournalEntry{sqlite3_column_int64(s, 0),
                        *state,
                        static_cast<std::time_t>(sqlite3_column_int64(s, 2)),
                        OptionalTime(s, 3),
                        OptionalTime(s, 4),
                        OptionalTime(s, 5),
                        sqlite3_column_int(s, 6) != 0,
                        note ? note : ""};
}

IntervalRow ReadIntervalRow(sqlite3_stmt* s, BinKind kind, std::time_t* through) {
    IntervalRow row;
    row.kind = kind;
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    row.object = ObjectIndex(name ? name : "").value_or(-1);
    row.span = {static_cast<std::time_t>(sqlite3_column_int64(s, 1)), sqlite3_column_int(s, 2)};
    row.complete = sqlite3_column_int(s, 3) != 0;
    row.through = static_cast<std::time_t>(sqlite3_column_int64(s, 4));
    if (through != nullptr)
        *through = row.through;
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
    Statement s{Prepare("SELECT " KESTREL_JOURNAL_COLUMNS " FROM journal "
                        "WHERE end_unix IS NULL OR id >= ?1 ORDER BY id")};
    if (s.s != nullptr) {
        sqlite3_bind_int64(s.s, 1,
                           line.nextJournalId - static_cast<std::int64_t>(journalLimit));
        while (sqlite3_step(s.s) == SQLITE_ROW) {
            if (auto e = JournalRow(s.s))
                line.journal.push_back(std::move(*e));
        }
    }
    return line;
}

bool HistoryStore::Begin() {
    sqlite3_reset(begin);
    return Check(sqlite3_step(begin), "begin");
}

bool HistoryStore::Commit(bool ok) {
    LetGoOccasional();
    if (ok) {
        sqlite3_reset(commit);
        ok = Check(sqlite3_step(commit), "commit");
    }
    if (!ok) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        currentRows = {};  // row ids handed out in the transaction may be handed out again
        Stamp();
        return false;
    }
    reported = false;  // a later problem is news again
    Stamp();
    // The pages read since go back: a host keeps a connection for each of up to a thousand
    // lines, each with a quarter of a megabyte cached between writes ten seconds apart, while
    // reading the few pages of the next write again from the kernel's cache costs microseconds.
    sqlite3_db_release_memory(db);
    return true;
}

bool HistoryStore::WriteJournal(const std::vector<JournalEntry>& entries) {
    if (!Usable() || !Begin())
        return false;
    return Commit(WriteJournalRows(entries));
}

bool HistoryStore::WriteJournalRows(const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& e : entries) {
        for (sqlite3_stmt* s : {Want(updateJournal), Want(insertJournal)}) {
            if (s == nullptr)
                return NotPrepared("journal");
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, e.id);
            sqlite3_bind_text(s, 2, e.Object().c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 3, SeverityName(e.GetSeverity()), -1, SQLITE_STATIC);
            sqlite3_bind_int64(s, 4, e.start);
            BindOptional(s, 5, e.end);
            BindOptional(s, 6, e.acknowledged);
            BindOptional(s, 7, e.unknownSince);
            sqlite3_bind_int(s, 8, e.endedUnseen ? 1 : 0);
            if (e.note.empty())
                sqlite3_bind_null(s, 9);
            else
                sqlite3_bind_text(s, 9, e.note.c_str(), -1, SQLITE_TRANSIENT);
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
            // Objects side by side with the same figures, whose rows lie side by side too, are
            // written by one statement: on a quiet line the 32 tributaries count alike, and a
            // statement a row was most of what a thousand lines cost between their frames.
            int last = o;
            while (last + 1 < kObjectCount && IsLineEnd(last + 1) == IsLineEnd(o) &&
                   interval.figures[last + 1] == interval.figures[o] &&
                   ids.rowid[last + 1] == ids.rowid[last] + 1)
                ++last;
            BindIntervalRow(updateIntervalsById, kind, interval, o, through);
            sqlite3_bind_int64(updateIntervalsById, 15, ids.rowid[o]);
            sqlite3_bind_int64(updateIntervalsById, 16, ids.rowid[last]);
            if (!Check(sqlite3_step(updateIntervalsById), "intervals"))
                return false;
            if (sqlite3_changes(db) == last - o + 1) {
                o = last;
                continue;
            }
            // A row gone or moved: each by its key.
        }
        sqlite3_stmt* update = Want(updateInterval);
        sqlite3_stmt* insert = Want(insertInterval);
        if (update == nullptr || insert == nullptr)
            return NotPrepared("intervals");
        BindIntervalRow(update, kind, interval, o, through);
        int rc = sqlite3_step(update);
        if (rc == SQLITE_ROW) {
            ids.rowid[o] = sqlite3_column_int64(update, 0);
            rc = sqlite3_step(update);
        } else if (rc == SQLITE_DONE) {
            BindIntervalRow(insert, kind, interval, o, through);
            rc = sqlite3_step(insert);
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
    Stamp();
    return true;
}

std::vector<std::pair<std::int64_t, std::time_t>> HistoryStore::AcknowledgedElsewhere(
    std::int64_t fromId) {
    std::vector<std::pair<std::int64_t, std::time_t>> out;
    if (!Usable())
        return out;
    // Read before the query: a commit made while it runs is looked at again next time.
    const std::int64_t version =
        sqlite3_step(dataVersion) == SQLITE_ROW ? sqlite3_column_int64(dataVersion, 0) : -1;
    sqlite3_reset(dataVersion);
    if (version < 0 || version == acknowledgedVersion)
        return out;
    Statement s{
        Prepare("SELECT id, acknowledged_unix FROM journal "
                "WHERE id >= ?1 AND acknowledged_unix IS NOT NULL")};
    if (s.s == nullptr)
        return out;
    sqlite3_bind_int64(s.s, 1, fromId);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        out.emplace_back(sqlite3_column_int64(s.s, 0), sqlite3_column_int64(s.s, 1));
    if (rc == SQLITE_DONE)
        acknowledgedVersion = version;
    return out;
}

bool HistoryStore::Prune(const RetentionOptions& keep, std::time_t journalBefore) {
    if (!Usable())
        return false;
    currentRows = {};  // a row id freed here may be handed out again
    // The newest `keep` completed intervals of each kind stay: counted in the database, not in
    // memory, which may keep fewer of them. (The bound is read first: SQLite 3.40 deletes
    // every row when it is a subquery that finds none.)
    Statement bound{Prepare(
        "SELECT DISTINCT start_unix FROM interval_rows WHERE kind = ?1 AND complete = 1 "
        "ORDER BY start_unix DESC LIMIT 1 OFFSET ?2")};
    Statement s{Prepare(
        "DELETE FROM interval_rows WHERE complete = 1 AND kind = ?1 AND start_unix <= ?2")};
    Statement j{Prepare("DELETE FROM journal WHERE end_unix < ?1")};
    if (bound.s == nullptr || s.s == nullptr || j.s == nullptr)
        return false;
    bool ok = true;
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        sqlite3_reset(bound.s);
        sqlite3_bind_text(bound.s, 1, BinKindName(kind), -1, SQLITE_STATIC);
        sqlite3_bind_int(bound.s, 2,
                         std::max(kind == BinKind::Quarter ? keep.quarters : keep.days, 0));
        const int rc = sqlite3_step(bound.s);
        if (rc != SQLITE_ROW) {
            ok = ok && Check(rc, "prune");
            continue;
        }
        sqlite3_reset(s.s);
        sqlite3_bind_text(s.s, 1, BinKindName(kind), -1, SQLITE_STATIC);
        sqlite3_bind_int64(s.s, 2, sqlite3_column_int64(bound.s, 0));
        ok = ok && Check(sqlite3_step(s.s), "prune");
    }
    sqlite3_bind_int64(j.s, 1, journalBefore);
    ok = ok && Check(sqlite3_step(j.s), "prune");
    Stamp();
    return ok;
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
    JournalQuery query;
    query.since = since;
    query.unacknowledgedOnly = unacknowledgedOnly;
    return JournalEntries(query);
}

std::vector<JournalEntry> HistoryStore::JournalEntries(const JournalQuery& q) const {
    std::vector<JournalEntry> out;
    if (q.objects && q.objects->empty())
        return out;
    std::string sql = "SELECT " KESTREL_JOURNAL_COLUMNS
                      " FROM journal"
                      " WHERE (start_unix >= ?1 OR end_unix IS NULL OR end_unix >= ?1)";
    if (q.until)
        sql += " AND start_unix < ?2";
    if (q.openOnly)
        sql += " AND end_unix IS NULL";
    if (q.unacknowledgedOnly)
        sql += " AND acknowledged_unix IS NULL";
    if (q.objects) {
        // The names are bound from ?3 on.
        sql += " AND object IN (";
        for (std::size_t i = 0; i < q.objects->size(); ++i)
            sql += (i == 0 ? "?" : ", ?") + std::to_string(3 + i);
        sql += ")";
    }
    if (!q.ids.empty()) {
        sql += " AND id IN (";
        for (std::size_t i = 0; i < q.ids.size(); ++i)
            sql += (i == 0 ? "" : ", ") + std::to_string(q.ids[i]);
        sql += ")";
    }
    // The newest are found from the end and put back in order.
    sql += q.newest ? " ORDER BY id DESC LIMIT " + std::to_string(*q.newest) : " ORDER BY id";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr)
        return out;
    sqlite3_bind_int64(s.s, 1, q.since);
    if (q.until)
        sqlite3_bind_int64(s.s, 2, *q.until);
    for (std::size_t i = 0; q.objects && i < q.objects->size(); ++i)
        sqlite3_bind_text(s.s, static_cast<int>(3 + i), (*q.objects)[i].c_str(), -1, SQLITE_STATIC);
    while (sqlite3_step(s.s) == SQLITE_ROW) {
        if (auto e = JournalRow(s.s))
            out.push_back(std::move(*e));
    }
    if (q.newest)
        std::reverse(out.begin(), out.end());
    return out;
}

bool HistoryStore::AcknowledgeJournal(const std::vector<std::int64_t>& ids, std::time_t now,
                                      std::vector<std::int64_t>& acknowledged, std::string& error) {
    // The monitor waits 100 ms for the lock; five hundred updates by key take a millisecond.
    constexpr std::size_t kBatch = 500;
    Statement update{Prepare(
        "UPDATE journal SET acknowledged_unix = ?2 WHERE id = ?1 AND acknowledged_unix IS NULL")};
    if (update.s == nullptr) {
        error = sqlite3_errmsg(db);
        return false;
    }
    for (std::size_t from = 0; from < ids.size(); from += kBatch) {
        bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        std::vector<std::int64_t> done;
        for (std::size_t i = from; ok && i < std::min(ids.size(), from + kBatch); ++i) {
            sqlite3_reset(update.s);
            sqlite3_bind_int64(update.s, 1, ids[i]);
            sqlite3_bind_int64(update.s, 2, now);
            ok = sqlite3_step(update.s) == SQLITE_DONE;
            if (ok && sqlite3_changes(db) > 0)
                done.push_back(ids[i]);
        }
        ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!ok) {
            error = sqlite3_errmsg(db);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
        acknowledged.insert(acknowledged.end(), done.begin(), done.end());
    }
    return true;
}

}  // namespace kestrel
