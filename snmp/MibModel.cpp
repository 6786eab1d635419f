// The DS3-MIB, DS1-MIB and IF-MIB tables over a snapshot: rows, walk order and values.
#include "snmp/MibModel.h"

#include <algorithm>

namespace kestrel::snmp {

namespace {

using T = Table;
using Type = Value::Type;

Oid Under(const Oid& base, std::initializer_list<SubId> more) {
    Oid o = base;
    o.insert(o.end(), more);
    return o;
}

const Oid kDs3{1, 3, 6, 1, 2, 1, 10, 30};
const Oid kDs1{1, 3, 6, 1, 2, 1, 10, 18};
const Oid kIfEntry{1, 3, 6, 1, 2, 1, 2, 2, 1};
const Oid kIfXEntry{1, 3, 6, 1, 2, 1, 31, 1, 1, 1};

// The line types and codings the MUX's lines are: a G.751 framed E3 with HDB3, and E1
// tributaries carried whatever their framing (the MUX does not look into them).
constexpr long kE3Framed = 7, kE3Hdb3 = 3;
constexpr long kDs1Other = 1, kDs1Hdb3 = 3;
constexpr long kIfTypeDs1 = 18, kIfTypeDs3 = 30;  // E3 lines are ds3, E1 lines ds1
constexpr long kTrue = 1, kFalse = 2;

Value Int(long long v) {
    return {Type::Integer, v, {}, {}};
}
Value Gauge(long long v) {
    return {Type::Gauge32, v, {}, {}};
}
Value Ticks(std::uint32_t v) {
    return {Type::TimeTicks, v, {}, {}};
}
Value Text(std::string s) {
    return {Type::OctetString, 0, std::move(s), {}};
}
Value Truth(bool b) {
    return Int(b ? kTrue : kFalse);
}

}  // namespace

Counts CountsOf(const Figures& f) {
    auto u32 = [](std::int64_t v) { return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, UINT32_MAX)); };
    return {u32(f.es), u32(f.ses), u32(f.unavailable), u32(f.notMeasured),
            static_cast<std::uint64_t>(std::max<std::int64_t>(f.errors, 0))};
}

const std::vector<Table>& Tables() {
    using W = T::What;
    using F = T::Figures;
    static const std::vector<Table> tables = [] {
        std::vector<Table> t;
        auto add = [&t](const char* name, Oid entry, T::Lines lines, T::Rows rows, F figures,
                        bool far, std::initializer_list<std::pair<int, W>> columns) {
            Table table{name, std::move(entry), {}, {}, lines, rows, figures, far};
            for (const auto& [column, what] : columns) {
                table.columns.push_back(column);
                table.shows.push_back(what);
                if (what == W::TrapEnable) {
                    table.writable = true;
                    table.writableColumn = column;
                }
            }
            t.push_back(std::move(table));
        };
        const auto e3 = T::Lines::E3, e1 = T::Lines::E1;
        const auto line = T::Rows::PerLine, quarter = T::Rows::PerInterval;
        // The configuration tables: the same objects, numbered apart in the two MIBs.
        add("dsx3ConfigTable", Under(kDs3, {5, 1}), e3, line, F::None, false,
            {{1, W::Index}, {2, W::Index}, {3, W::Elapsed}, {4, W::ValidIntervals},
             {5, W::LineType}, {6, W::LineCoding}, {8, W::Circuit}, {10, W::Status},
             {12, W::InvalidIntervals}, {14, W::StatusChanged}, {15, W::TrapEnable}});
        // Near end: P-bit errored seconds and code violations of the E3 line.
        for (auto [name, table, figures] :
             {std::tuple{"dsx3CurrentTable", 6, F::Current}, {"dsx3TotalTable", 8, F::Total}}) {
            add(name, Under(kDs3, {static_cast<SubId>(table), 1}), e3, line, figures, false,
                {{1, W::Index}, {2, W::Es}, {3, W::Ses}, {5, W::Uas}, {7, W::Errors}});
        }
        add("dsx3IntervalTable", Under(kDs3, {7, 1}), e3, quarter, F::Interval, false,
            {{1, W::Index}, {2, W::Number}, {3, W::Es}, {4, W::Ses}, {6, W::Uas},
             {8, W::Errors}, {13, W::ValidData}});
        // Far end: C-bit errored seconds and code violations.
        add("dsx3FarEndCurrentTable", Under(kDs3, {10, 1}), e3, line, F::Current, true,
            {{1, W::Index}, {2, W::Elapsed}, {3, W::ValidIntervals}, {4, W::Es}, {5, W::Ses},
             {6, W::Errors}, {7, W::Uas}, {8, W::InvalidIntervals}});
        add("dsx3FarEndIntervalTable", Under(kDs3, {11, 1}), e3, quarter, F::Interval, true,
            {{1, W::Index}, {2, W::Number}, {3, W::Es}, {4, W::Ses}, {5, W::Errors},
             {6, W::Uas}, {7, W::ValidData}});
        add("dsx3FarEndTotalTable", Under(kDs3, {12, 1}), e3, line, F::Total, true,
            {{1, W::Index}, {2, W::Es}, {3, W::Ses}, {4, W::Errors}, {5, W::Uas}});
        add("dsx1ConfigTable", Under(kDs1, {6, 1}), e1, line, F::None, false,
            {{1, W::Index}, {2, W::Index}, {3, W::Elapsed}, {4, W::ValidIntervals},
             {5, W::LineType}, {6, W::LineCoding}, {8, W::Circuit}, {10, W::Status},
             {14, W::InvalidIntervals}, {16, W::StatusChanged}, {17, W::TrapEnable}});
        // The tributaries have no error counts: seconds only.
        for (auto [name, table, figures, far] :
             {std::tuple{"dsx1CurrentTable", 7, F::Current, false},
              {"dsx1TotalTable", 9, F::Total, false},
              {"dsx1FarEndTotalTable", 12, F::Total, true}}) {
            add(name, Under(kDs1, {static_cast<SubId>(table), 1}), e1, line, figures, far,
                {{1, W::Index}, {2, W::Es}, {3, W::Ses}, {5, W::Uas}});
        }
        add("dsx1IntervalTable", Under(kDs1, {8, 1}), e1, quarter, F::Interval, false,
            {{1, W::Index}, {2, W::Number}, {3, W::Es}, {4, W::Ses}, {6, W::Uas},
             {13, W::ValidData}});
        add("dsx1FarEndCurrentTable", Under(kDs1, {10, 1}), e1, line, F::Current, true,
            {{1, W::Index}, {2, W::Elapsed}, {3, W::ValidIntervals}, {4, W::Es}, {5, W::Ses},
             {7, W::Uas}, {13, W::InvalidIntervals}});
        add("dsx1FarEndIntervalTable", Under(kDs1, {11, 1}), e1, quarter, F::Interval, true,
            {{1, W::Index}, {2, W::Number}, {3, W::Es}, {4, W::Ses}, {6, W::Uas},
             {12, W::ValidData}});
        add("ifTable", kIfEntry, T::Lines::All, line, F::None, false,
            {{1, W::Index}, {2, W::Descr}, {3, W::IfType}, {5, W::Speed}, {6, W::PhysAddress},
             {7, W::AdminStatus}, {8, W::OperStatus}, {9, W::OperChanged}});
        t.back().perColumn = true;
        add("ifXTable", kIfXEntry, T::Lines::All, line, F::None, false,
            {{1, W::Name}, {14, W::LinkTrapEnable}, {15, W::HighSpeed},
             {17, W::ConnectorPresent}, {18, W::Alias}});
        t.back().perColumn = true;
        return t;
    }();
    return tables;
}

MibView::MibView(std::shared_ptr<const Snapshot> snap) : snapshot(std::move(snap)) {
    for (const MuxLines& m : snapshot->muxes) {
        lineIndexes[static_cast<int>(T::Lines::E3)].push_back(m.First());
        for (int line = 0; line < kLinesPerMux; ++line) {
            if (line > 0) {
                lineIndexes[static_cast<int>(T::Lines::E1)].push_back(m.First() + line);
            }
            lineIndexes[static_cast<int>(T::Lines::All)].push_back(m.First() + line);
        }
    }
}

const std::vector<SubId>& MibView::Lines(Table::Lines kind) const {
    return lineIndexes[static_cast<int>(kind)];
}

const MuxLines* MibView::MuxOf(SubId line, int& lineNumber) const {
    const auto& muxes = snapshot->muxes;
    auto it = std::upper_bound(muxes.begin(), muxes.end(), line,
                               [](SubId l, const MuxLines& m) { return l < m.First(); });
    if (it == muxes.begin()) {
        return nullptr;
    }
    --it;
    if (line - it->First() >= static_cast<SubId>(kLinesPerMux)) {
        return nullptr;
    }
    lineNumber = static_cast<int>(line - it->First());
    return &*it;
}

int MibView::Intervals(const MuxLines& mux) const {
    return mux.history ? static_cast<int>(mux.history->quarters.size()) : 0;
}

std::optional<MibView::Row> MibView::Find(const Table& table, const Oid& name,
                                          int& column) const {
    const std::size_t n = table.entry.size();
    const std::size_t indexes = table.rows == T::Rows::PerInterval ? 2 : 1;
    if (name.size() != n + 1 + indexes || !std::equal(table.entry.begin(), table.entry.end(),
                                                      name.begin())) {
        return std::nullopt;
    }
    column = name[n] > 1000 ? 0 : static_cast<int>(name[n]);
    if (!std::binary_search(table.columns.begin(), table.columns.end(), column)) {
        return std::nullopt;
    }
    const auto& lines = Lines(table.lines);
    if (!std::binary_search(lines.begin(), lines.end(), name[n + 1])) {
        return std::nullopt;
    }
    Row row;
    row.mux = MuxOf(name[n + 1], row.line);
    if (indexes == 2) {
        if (name[n + 2] < 1 || name[n + 2] > static_cast<SubId>(Intervals(*row.mux))) {
            return std::nullopt;
        }
        row.interval = static_cast<int>(name[n + 2]);
    }
    return row;
}

std::optional<std::pair<SubId, int>> MibView::RowAfter(const Table& table, const Oid& suffix,
                                                       bool fromStart) const {
    const auto& lines = Lines(table.lines);
    auto it = lines.begin();
    if (!fromStart && !suffix.empty()) {
        it = std::lower_bound(lines.begin(), lines.end(), suffix[0]);
        if (table.rows == T::Rows::PerInterval && it != lines.end() && *it == suffix[0]) {
            // Within the asked line: the interval after the one asked, or the first when only
            // the line was given.
            int ln = 0;
            const int count = Intervals(*MuxOf(*it, ln));
            const SubId after = suffix.size() == 1 ? 0 : suffix[1];
            if (after < static_cast<SubId>(count)) {
                return std::pair{*it, static_cast<int>(after) + 1};
            }
            ++it;
        } else if (it != lines.end() && *it == suffix[0]) {
            ++it;  // the row asked itself comes before anything after it
        }
    }
    for (; it != lines.end(); ++it) {
        if (table.rows == T::Rows::PerLine) {
            return std::pair{*it, 0};
        }
        int ln = 0;
        if (Intervals(*MuxOf(*it, ln)) > 0) {
            return std::pair{*it, 1};
        }
    }
    return std::nullopt;
}

std::optional<Value> MibView::Get(const Table& table, const Oid& name) const {
    int column = 0;
    const auto row = Find(table, name, column);
    return row ? ValueOf(table, column, *row) : std::nullopt;
}

std::optional<std::pair<Oid, Value>> MibView::GetNext(const Table& table, const Oid& name,
                                                      int only) const {
    const Oid& entry = table.entry;
    const std::size_t n = entry.size();
    const std::size_t common = std::min(name.size(), n);
    const int order = std::lexicographical_compare(name.begin(), name.begin() + common,
                                                   entry.begin(), entry.begin() + common)
                          ? -1
                      : std::equal(name.begin(), name.begin() + common, entry.begin()) ? 0
                                                                                       : 1;
    if (order > 0) {
        return std::nullopt;
    }
    // Where the walk starts: a column, and within it the rows after a suffix.
    SubId fromColumn = 0;
    Oid suffix;
    if (order == 0 && name.size() > n) {
        fromColumn = name[n];
        suffix.assign(name.begin() + static_cast<std::ptrdiff_t>(n) + 1, name.end());
    }
    for (int column : table.columns) {
        if ((only != 0 && column != only) || static_cast<SubId>(column) < fromColumn) {
            continue;
        }
        const bool fromStart = static_cast<SubId>(column) != fromColumn;
        if (auto next = RowAfter(table, suffix, fromStart)) {
            Row row;
            row.mux = MuxOf(next->first, row.line);
            row.interval = next->second;
            if (auto value = ValueOf(table, column, row)) {
                Oid out = entry;
                out.push_back(static_cast<SubId>(column));
                out.push_back(next->first);
                if (table.rows == T::Rows::PerInterval) {
                    out.push_back(static_cast<SubId>(row.interval));
                }
                return std::pair{std::move(out), std::move(*value)};
            }
        }
    }
    return std::nullopt;
}

SetError MibView::CheckSet(const Table& table, const Oid& name, const Value& value,
                           TrapEnableWrite& write) const {
    int column = 0;
    const auto row = Find(table, name, column);
    if (!row) {
        const bool writableColumn = table.writable && name.size() > table.entry.size() &&
                                    std::equal(table.entry.begin(), table.entry.end(),
                                               name.begin()) &&
                                    name[table.entry.size()] ==
                                        static_cast<SubId>(table.writableColumn);
        return writableColumn ? SetError::NoCreation : SetError::NotWritable;
    }
    if (!table.writable || column != table.writableColumn) {
        return SetError::NotWritable;
    }
    if (value.type != Type::Integer) {
        return SetError::WrongType;
    }
    if (value.number != kTrue && value.number != kFalse) {
        return SetError::WrongValue;
    }
    write = {row->mux->First() + static_cast<SubId>(row->line), value.number == kTrue};
    return SetError::None;
}

std::uint32_t MibView::Stamp(std::int64_t changedMs) const {
    if (changedMs == 0) {
        return 0;
    }
    const std::int64_t ago = (clockMs - changedMs) / 10;
    return ago < 0 || ago >= static_cast<std::int64_t>(uptime) ? 0
                                                                : uptime - static_cast<std::uint32_t>(ago);
}

bool MibView::TrapEnable(const Row& row) const {
    if (trapWrites != nullptr) {
        const auto w = trapWrites->find(row.mux->First() + static_cast<SubId>(row.line));
        if (w != trapWrites->end()) {
            return w->second;
        }
    }
    return row.mux->lines[static_cast<std::size_t>(row.line)].trapEnable;
}

std::optional<Value> MibView::ValueOf(const Table& table, int column, const Row& row) const {
    const auto at = std::lower_bound(table.columns.begin(), table.columns.end(), column);
    if (at == table.columns.end() || *at != column) {
        return std::nullopt;
    }
    const MuxLines& mux = *row.mux;
    const LineState& line = mux.lines[static_cast<std::size_t>(row.line)];
    const bool e3 = row.line == 0;
    const auto object = static_cast<std::size_t>(table.far ? FarObject(row.line)
                                                           : NearObject(row.line));
    const History* history = mux.history.get();
    // The figures of the table's row: a quarter the monitor did not keep counts nothing.
    std::optional<Counts> counts;
    switch (table.figures) {
    case T::Figures::Current: counts = mux.current[object]; break;
    case T::Figures::Total: counts = history ? history->total[object] : Counts{}; break;
    case T::Figures::Interval:
        if (const auto& q = history->quarters[static_cast<std::size_t>(row.interval - 1)]) {
            counts = (*q)[object];
        }
        break;
    case T::Figures::None: break;
    }
    auto gauge = [&](auto Counts::*field) {
        return Gauge(counts ? static_cast<long long>(
                                  std::min<std::uint64_t>((*counts).*field, UINT32_MAX))
                            : 0);
    };
    switch (table.shows[static_cast<std::size_t>(at - table.columns.begin())]) {
    case T::What::Index: return Int(static_cast<long long>(mux.First() + row.line));
    case T::What::Number: return Int(row.interval);
    case T::What::Elapsed: return Int(mux.elapsed);
    case T::What::ValidIntervals: return Int(Intervals(mux));
    case T::What::InvalidIntervals: return Int(history ? history->invalid[object] : 0);
    case T::What::Es: return gauge(&Counts::es);
    case T::What::Ses: return gauge(&Counts::ses);
    case T::What::Uas: return gauge(&Counts::uas);
    case T::What::Errors: return gauge(&Counts::errors);
    // Valid when the monitor saw every second of the quarter.
    case T::What::ValidData: return Truth(counts && counts->unseen == 0);
    case T::What::LineType: return Int(e3 ? kE3Framed : kDs1Other);
    case T::What::LineCoding: return Int(e3 ? kE3Hdb3 : kDs1Hdb3);
    case T::What::Circuit: return Text(mux.name);
    case T::What::Status: return Int(line.status);
    case T::What::StatusChanged: return Ticks(Stamp(line.statusChangedMs));
    case T::What::TrapEnable: return Truth(TrapEnable(row));
    case T::What::Descr:
        return Text(e3 ? "Kestrel MUX " + mux.name + " 34 Mbit/s line"
                       : "Kestrel MUX " + mux.name + " tributary " + std::to_string(row.line));
    case T::What::IfType: return Int(e3 ? kIfTypeDs3 : kIfTypeDs1);
    case T::What::Speed: return Gauge(e3 ? 34368000 : 2048000);
    case T::What::PhysAddress: return Text("");
    case T::What::AdminStatus: return Int(kIfUp);
    case T::What::OperStatus: return Int(line.operStatus);
    case T::What::OperChanged: return Ticks(Stamp(line.operChangedMs));
    case T::What::Name:
        return Text(e3 ? mux.name + "/E3" : mux.name + "/E1-" + std::to_string(row.line));
    case T::What::LinkTrapEnable: return Int(kTrue);
    case T::What::HighSpeed: return Gauge(e3 ? 34 : 2);
    case T::What::ConnectorPresent: return Truth(true);
    case T::What::Alias: return Text(mux.name);
    }
    return std::nullopt;
}

}  // namespace kestrel::snmp
