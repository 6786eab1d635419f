// kestrel-history's output: intervals and journal entries as a table, CSV or JSON lines.
#pragma once

#include <iosfwd>
#include <vector>

#include "performance/HistoryStore.h"

namespace kestrel {

enum class HistoryFormat { Table, Csv, Json };

// A table with a legend, CSV with a header of the database's column names, or one JSON
// object a line under the same names.
void PrintIntervals(const std::vector<IntervalRow>& rows, HistoryFormat format, std::ostream& out);
void PrintJournal(const std::vector<JournalEntry>& entries, HistoryFormat format,
                  std::ostream& out);

}  // namespace kestrel
