// The SQLite store and replays: what the store holds of a span, and making room for a replay.
#include <sqlite3.h>

#include <array>
#include <set>

#include "performance/HistoryStatement.h"
#include "performance/HistoryStore.h"

// The interval rows with the second after the last one each holds.
#define KESTREL_HELD_ROWS                                                             \
    "(SELECT *, CASE WHEN complete THEN start_unix + length_s ELSE through_unix END " \
    "AS held FROM interval_rows)"

namespace kestrel {

namespace {

// The figures of a row in the order the statements below read and write them: available,
// unavailable, not measured, ES, SES, DM, minutes, errors.
using RowFigures = std::array<std::int64_t, 8>;
constexpr int kNotMeasured = 2;

RowFigures ReadFigures(sqlite3_stmt* s, int first) {
    RowFigures f{};
    for (int i = 0; i < 8; ++i)
        f[i] = sqlite3_column_int64(s, first + i);  // NULL (tributaries) reads as 0
    return f;
}

}  // namespace

std::optional<HistoryStore::HeldSeconds> HistoryStore::HeldFrom(std::time_t from) const {
    Statement s{Prepare("SELECT MIN(MAX(start_unix, ?1)), MAX(held) FROM " KESTREL_HELD_ROWS
                        " WHERE held > ?1")};
    if (s.s == nullptr)
        return std::nullopt;
    sqlite3_bind_int64(s.s, 1, from);
    if (sqlite3_step(s.s) != SQLITE_ROW || sqlite3_column_type(s.s, 0) == SQLITE_NULL)
        return std::nullopt;
    return HeldSeconds{static_cast<std::time_t>(sqlite3_column_int64(s.s, 0)),
                       static_cast<std::time_t>(sqlite3_column_int64(s.s, 1))};
}

bool HistoryStore::RemoveFrom(std::time_t from, std::vector<std::string>& notes) {
    if (!Usable())
        return false;
    const std::time_t cut = BinOf(BinKind::Quarter, from).start;
    if (cut < from) {
        // Measured seconds beyond those the interval holds from `from` on lay before it.
        Statement q{Prepare(
            "SELECT MAX(available + unavailable - MAX(0, held - ?2)) FROM " KESTREL_HELD_ROWS
            " WHERE kind = '15min' AND start_unix = ?1")};
        if (q.s != nullptr) {
            sqlite3_bind_int64(q.s, 1, cut);
            sqlite3_bind_int64(q.s, 2, from);
            if (sqlite3_step(q.s) == SQLITE_ROW && sqlite3_column_int64(q.s, 0) > 0)
                notes.push_back("the 15-minute interval from " + IsoUtc(cut) + " held at least " +
                                std::to_string(sqlite3_column_int64(q.s, 0)) +
                                " measured seconds before " + IsoUtc(from) +
                                "; figures are stored per interval, so they count as not "
                                "measured now");
        }
    }
    currentRows = {};  // the rows written last may be gone
    writtenCarry = {};
    if (!Begin())
        return false;
    // The day that goes on before the cut keeps what its 15-minute intervals before the cut
    // counted: its figures less those of its intervals from the cut on, less the seconds from
    // the cut on that no 15-minute interval holds (counted not measured in the day alone).
    Statement days{Prepare(
        "SELECT object, start_unix, length_s, held, available, unavailable, not_measured, es, "
        "ses, dm, minutes, errors FROM " KESTREL_HELD_ROWS
        " WHERE kind = '24h' AND start_unix < ?1 AND held > ?1")};
    Statement quarters{Prepare(
        "SELECT TOTAL(available), TOTAL(unavailable), TOTAL(not_measured), TOTAL(es), "
        "TOTAL(ses), TOTAL(dm), TOTAL(minutes), TOTAL(errors), TOTAL(MIN(held, ?3) - start_unix) "
        "FROM " KESTREL_HELD_ROWS
        " WHERE kind = '15min' AND object = ?1 AND start_unix >= ?2 AND start_unix < ?3")};
    Statement update{
        Prepare("UPDATE interval_rows SET complete = 0, through_unix = ?3, available = ?4, "
                "unavailable = ?5, not_measured = ?6, es = ?7, ses = ?8, dm = ?9, minutes = ?10, "
                "errors = ?11 WHERE kind = '24h' AND object = ?1 AND start_unix = ?2")};
    bool ok = days.s != nullptr && quarters.s != nullptr && update.s != nullptr;
    // Read whole before any is rewritten: a statement does not step over rows changing under it.
    struct DayRow {
        std::string object;
        std::time_t start, end, held;
        RowFigures figures;
    };
    std::vector<DayRow> rows;
    if (ok) {
        sqlite3_bind_int64(days.s, 1, cut);
        int rc;
        while ((rc = sqlite3_step(days.s)) == SQLITE_ROW) {
            const auto* object = reinterpret_cast<const char*>(sqlite3_column_text(days.s, 0));
            const std::time_t start = sqlite3_column_int64(days.s, 1);
            rows.push_back({object ? object : "", start, start + sqlite3_column_int64(days.s, 2),
                            sqlite3_column_int64(days.s, 3), ReadFigures(days.s, 4)});
        }
        ok = Check(rc, "replace");
    }
    std::set<std::time_t> lostDays;
    for (DayRow& row : rows) {
        if (!ok)
            break;
        RowFigures& f = row.figures;
        sqlite3_reset(quarters.s);
        sqlite3_bind_text(quarters.s, 1, row.object.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(quarters.s, 2, cut);
        sqlite3_bind_int64(quarters.s, 3, row.end);
        if (!Check(sqlite3_step(quarters.s), "replace")) {
            ok = false;
            break;
        }
        for (int i = 0; i < 8; ++i)
            f[i] -= static_cast<std::int64_t>(sqlite3_column_double(quarters.s, i));
        f[kNotMeasured] -=
            (row.held - cut) - static_cast<std::int64_t>(sqlite3_column_double(quarters.s, 8));
        bool consistent = f[0] + f[1] + f[2] <= cut - row.start && f[3] <= f[0] && f[4] <= f[3];
        for (std::int64_t v : f)
            consistent = consistent && v >= 0;
        if (!consistent) {
            // Its 15-minute intervals are gone (pruned): nothing tells what the day held
            // before the cut, so it is not measured rather than guessed.
            f = RowFigures{};
            f[kNotMeasured] = cut - row.start;
            lostDays.insert(row.start);
        }
        const auto index = ObjectIndex(row.object);
        const bool lineEnd = index && IsLineEnd(*index);
        sqlite3_reset(update.s);
        sqlite3_bind_text(update.s, 1, row.object.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(update.s, 2, row.start);
        sqlite3_bind_int64(update.s, 3, cut);
        for (int i = 0; i < 8; ++i) {
            if (i >= 5 && !lineEnd)
                sqlite3_bind_null(update.s, 4 + i);
            else
                sqlite3_bind_int64(update.s, 4 + i, f[i]);
        }
        ok = Check(sqlite3_step(update.s), "replace");
    }
    for (std::time_t day : lostDays)
        notes.push_back("the day from " + IsoUtc(day) +
                        " no longer has the 15-minute intervals its figures before " + IsoUtc(cut) +
                        " could be told from; they count as not measured now");
    // Entries that held at the cut end there as monitoring ends: line states unseen from then
    // (or from when they became unknown), link states at the cut.
    // Each statement is one string of its own: adjacent literals in a list are a missing comma
    // waiting to happen, and Clang says so.
    static constexpr const char kEndLineStates[] =
        "UPDATE journal SET unknown_since_unix = CASE WHEN unknown_since_unix <= ?1 THEN "
        "unknown_since_unix ELSE ?1 END, end_unix = MAX(start_unix, CASE WHEN "
        "unknown_since_unix <= ?1 THEN unknown_since_unix ELSE ?1 END), ended_unseen = 1 "
        "WHERE start_unix < ?1 AND (end_unix IS NULL OR end_unix > ?1) AND object NOT LIKE "
        "'link:%' AND object NOT LIKE 'clock:%'";
    static constexpr const char kEndLinkStates[] =
        "UPDATE journal SET end_unix = ?1, ended_unseen = 0, unknown_since_unix = NULL "
        "WHERE start_unix < ?1 AND (end_unix IS NULL OR end_unix > ?1) AND object LIKE 'link:%'";
    const char* statements[] = {
        "DELETE FROM interval_rows WHERE start_unix >= ?1",
        "DELETE FROM journal WHERE start_unix >= ?1",
        kEndLineStates,
        kEndLinkStates,
        // What carried over (unavailability, a degraded-minute block) is not known at the cut.
        "DELETE FROM line_state",
    };
    for (const char* sql : statements) {
        Statement s{ok ? Prepare(sql) : nullptr};
        ok = s.s != nullptr;
        if (!ok)
            break;
        if (sqlite3_bind_parameter_count(s.s) > 0)
            sqlite3_bind_int64(s.s, 1, cut);
        ok = Check(sqlite3_step(s.s), "replace");
    }
    return Commit(ok);
}

}  // namespace kestrel
