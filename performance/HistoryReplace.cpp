// The SQLite store and replays: what the store holds of a span.
#include <sqlite3.h>

#include "performance/HistoryStatement.h"
#include "performance/HistoryStore.h"

// The interval rows with the second after the last one each holds.
#define KESTREL_HELD_ROWS                                                             \
    "(SELECT *, CASE WHEN complete THEN start_unix + length_s ELSE through_unix END " \
    "AS held FROM interval_rows)"

namespace kestrel {

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

}  // namespace kestrel
