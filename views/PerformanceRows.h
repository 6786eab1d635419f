// The Performance window's table as data: the object's intervals, the worst, their texts.
#pragma once

#include <QString>
#include <QStringList>
#include <ctime>
#include <optional>
#include <vector>

#include "performance/LineMemory.h"

namespace kestrel {

// What the window calls the last day: the worst interval is sought, and the alarms are shown,
// over as much.
constexpr std::time_t kPerformanceDaySeconds = 86400;

// The table's columns, in order; in a namespace of their own, as their short names would
// clash with the rest of the program's.
namespace performance_column {
enum Column {
    kInterval,
    kStart,
    kEnd,
    kAvailable,
    kUnavailable,
    kNotMeasured,
    kEs,
    kSes,
    kDm,
    kAvailableShare,
    kUnavailableShare,
    kNotMeasuredShare,
    kEsShare,
    kSesShare,
    kDmShare,
    kColumns
};
}  // namespace performance_column

// One interval of the chosen object as the table shows it.
struct PerformanceRow {
    BinKind kind = BinKind::Quarter;
    bool current = false;
    BinSpan span;
    Figures figures;
};

// The object's intervals: the current 15-minute and 24-hour ones first, then the completed
// ones, the most recently ended first (a quarter before the day that ends with it).
std::vector<PerformanceRow> PerformanceRows(const LineMemory& memory, int object);

// The worst interval of the last 24 hours: of the 15-minute intervals, current or completed,
// that end after now - 24 h, the one with the most unavailable and severely errored seconds
// together (SES are not counted while the line is unavailable, so a quarter of outage would
// otherwise rank below one of light errors), then the most ES; the newest of equals.
// Quarters, not days, because a day hides when in it the line suffered. Its index in `rows`,
// or -1 when every such quarter is clean.
int WorstRow(const std::vector<PerformanceRow>& rows, std::time_t now);

// The texts of one row in the table's column order. Failing shares say "fails", tributaries
// say "n/a" for degraded minutes, the worst interval says so in its first column.
QStringList PerformanceRowTexts(const PerformanceRow& row, int object, bool worst);

// The headers of the columns; long names take two lines.
const QStringList& PerformanceHeaders();
// What a share column's figure is a share of; empty for the other columns.
QString PerformanceHeaderTip(int column);
// Whether a cell's text says its figure fails its objective.
bool FailingText(const QString& text);
// A row with the widest texts each column can hold, to size the columns by.
PerformanceRow WidestPerformanceRow();

}  // namespace kestrel
