// The Performance window's rows: the object's intervals ordered, the worst found, texts made.
#include "views/PerformanceRows.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

#include "display/Refresh.h"

namespace kestrel {

using namespace performance_column;

namespace {

const QString& Fails() {
    static const QString word = QStringLiteral(" fails");
    return word;
}

const QString& Absent() {
    static const QString word = QStringLiteral("n/a");
    return word;
}

// Two decimals, as the panel's G.821 line shows them; "-" without a denominator.
QString ShareText(const std::optional<double>& share, bool failing = false) {
    QString text = share ? G821FieldText(share) : QStringLiteral("-");
    if (failing) {
        text += Fails();
    }
    return text;
}

}  // namespace

// Long names take two lines, for the table to fit a window 1280 wide.
const QStringList& PerformanceHeaders() {
    static const QStringList headers{QStringLiteral("Interval"),
                                     QStringLiteral("Start"),
                                     QStringLiteral("End"),
                                     QStringLiteral("Available"),
                                     QStringLiteral("Unavailable"),
                                     QStringLiteral("Not\nmeasured"),
                                     QStringLiteral("ES"),
                                     QStringLiteral("SES"),
                                     QStringLiteral("DM"),
                                     QStringLiteral("Available\n%"),
                                     QStringLiteral("Unavailable\n%"),
                                     QStringLiteral("Not\nmeasured %"),
                                     QStringLiteral("ES %"),
                                     QStringLiteral("SES %"),
                                     QStringLiteral("DM %")};
    return headers;
}

// What each share is a share of, on its header: the time shares add up to the interval's
// elapsed time, the error ratios are of the available time as G.821 defines them.
QString PerformanceHeaderTip(int column) {
    const QString elapsed = QStringLiteral(
        "Share of the interval's elapsed time (available + unavailable + not "
        "measured); the three add up to 100%");
    switch (column) {
        case kAvailableShare:
        case kUnavailableShare:
        case kNotMeasuredShare:
            return elapsed;
        case kEsShare:
            return QStringLiteral("Share of the available seconds; 8% or more fails");
        case kSesShare:
            return QStringLiteral("Share of the available seconds; 0.2% or more fails");
        case kDmShare:
            return QStringLiteral(
                "Share of the minutes counted (60 available seconds without SES); 10% or more "
                "fails");
        default:
            return {};
    }
}

std::vector<PerformanceRow> PerformanceRows(const LineMemory& memory, int object) {
    std::vector<PerformanceRow> rows;
    const auto o = static_cast<std::size_t>(object);
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        const Interval& current = memory.Current(kind);
        rows.push_back({kind, true, current.span, current.figures[o]});
    }
    const std::size_t first = rows.size();
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        for (const Interval& done : memory.Completed(kind)) {
            rows.push_back({kind, false, done.span, done.figures[o]});
        }
    }
    std::stable_sort(rows.begin() + static_cast<std::ptrdiff_t>(first), rows.end(),
                     [](const PerformanceRow& a, const PerformanceRow& b) {
                         if (a.span.End() != b.span.End()) {
                             return a.span.End() > b.span.End();
                         }
                         return a.kind == BinKind::Quarter && b.kind == BinKind::Day;
                     });
    return rows;
}

int WorstRow(const std::vector<PerformanceRow>& rows, std::time_t now) {
    int worst = -1;
    auto rank = [](const Figures& f) { return std::pair(f.unavailable + f.ses, f.es); };
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const PerformanceRow& row = rows[static_cast<std::size_t>(i)];
        if (row.kind != BinKind::Quarter || row.span.End() <= now - kPerformanceDaySeconds) {
            continue;
        }
        const auto r = rank(row.figures);
        // Strictly worse only: the newest of equals, rows being newest first.
        if (r > std::pair<std::int64_t, std::int64_t>(0, 0) &&
            (worst < 0 || r > rank(rows[static_cast<std::size_t>(worst)].figures))) {
            worst = i;
        }
    }
    return worst;
}

QStringList PerformanceRowTexts(const PerformanceRow& row, int object, bool worst) {
    const Figures& f = row.figures;
    const Percentages p = PercentagesOf(f);
    const bool line = IsLineEnd(object);
    QString kind = row.kind == BinKind::Quarter ? QStringLiteral("15 min") : QStringLiteral("24 h");
    if (row.current) {
        kind += QStringLiteral(", current");
    }
    if (worst) {
        kind += QStringLiteral(", worst");
    }
    QStringList texts(kColumns);
    texts[kInterval] = kind;
    // Intervals begin and end on whole minutes: the seconds and the end's date say nothing.
    const QDateTime start = QDateTime::fromSecsSinceEpoch(row.span.start);
    const QDateTime end = QDateTime::fromSecsSinceEpoch(row.span.End());
    texts[kStart] = start.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    texts[kEnd] = end.date() > start.date() && end.time() == QTime(0, 0)
                      ? QStringLiteral("24:00")
                      : end.toString(QStringLiteral("HH:mm"));
    texts[kAvailable] = QString::number(f.available);
    texts[kUnavailable] = QString::number(f.unavailable);
    texts[kNotMeasured] = QString::number(f.notMeasured);
    texts[kEs] = QString::number(f.es);
    texts[kSes] = QString::number(f.ses);
    texts[kDm] = line ? QString::number(f.dm) : Absent();
    texts[kAvailableShare] = ShareText(p.available);
    texts[kUnavailableShare] = ShareText(p.unavailable);
    texts[kNotMeasuredShare] = ShareText(p.notMeasured);
    texts[kEsShare] = ShareText(p.es, p.esFailing);
    texts[kSesShare] = ShareText(p.ses, p.sesFailing);
    texts[kDmShare] = line ? ShareText(p.dm, p.dmFailing) : Absent();
    return texts;
}

bool FailingText(const QString& text) {
    return text.endsWith(Fails());
}

// A row with the widest texts each column can hold: a day's five-digit counts, shares with
// two decimals that fail, the longest interval name.
PerformanceRow WidestPerformanceRow() {
    PerformanceRow row{BinKind::Quarter, true, {}, {}};
    Figures& f = row.figures;
    f.available = f.notMeasured = f.minutes = 86399;
    f.unavailable = 43199;
    // Every second errored: shares of "100.00% fails".
    f.es = f.ses = f.dm = 86399;
    return row;
}

}  // namespace kestrel
