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
    static const std::vector<Table> tables = [] {
        std::vector<Table> t;
        auto add = [&t](T::Id id, const char* name, Oid entry, std::vector<int> columns,
                        T::Lines lines, T::Rows rows) {
            t.push_back({id, name, std::move(entry), std::move(columns), lines, rows});
        };
        add(T::Id::Ds3Config, "dsx3ConfigTable", Under(kDs3, {5, 1}),
            {1, 2, 3, 4, 5, 6, 8, 10, 12, 14, 15}, T::Lines::E3, T::Rows::PerLine);
        t.back().writable = true;
        t.back().writableColumn = 15;
        add(T::Id::Ds3Current, "dsx3CurrentTable", Under(kDs3, {6, 1}), {1, 2, 3, 5, 7},
            T::Lines::E3, T::Rows::PerLine);
        add(T::Id::Ds3Interval, "dsx3IntervalTable", Under(kDs3, {7, 1}), {1, 2, 3, 4, 6, 8, 13},
            T::Lines::E3, T::Rows::PerInterval);
        add(T::Id::Ds3Total, "dsx3TotalTable", Under(kDs3, {8, 1}), {1, 2, 3, 5, 7},
            T::Lines::E3, T::Rows::PerLine);
        add(T::Id::Ds3FarCurrent, "dsx3FarEndCurrentTable", Under(kDs3, {10, 1}),
            {1, 2, 3, 4, 5, 6, 7, 8}, T::Lines::E3, T::Rows::PerLine);
        add(T::Id::Ds3FarInterval, "dsx3FarEndIntervalTable", Under(kDs3, {11, 1}),
            {1, 2, 3, 4, 5, 6, 7}, T::Lines::E3, T::Rows::PerInterval);
        add(T::Id::Ds3FarTotal, "dsx3FarEndTotalTable", Under(kDs3, {12, 1}), {1, 2, 3, 4, 5},
            T::Lines::E3, T::Rows::PerLine);
        add(T::Id::Ds1Config, "dsx1ConfigTable", Under(kDs1, {6, 1}),
            {1, 2, 3, 4, 5, 6, 8, 10, 14, 16, 17}, T::Lines::E1, T::Rows::PerLine);
        t.back().writable = true;
        t.back().writableColumn = 17;
        add(T::Id::Ds1Current, "dsx1CurrentTable", Under(kDs1, {7, 1}), {1, 2, 3, 5},
            T::Lines::E1, T::Rows::PerLine);
        add(T::Id::Ds1Interval, "dsx1IntervalTable", Under(kDs1, {8, 1}), {1, 2, 3, 4, 6, 13},
            T::Lines::E1, T::Rows::PerInterval);
        add(T::Id::Ds1Total, "dsx1TotalTable", Under(kDs1, {9, 1}), {1, 2, 3, 5}, T::Lines::E1,
            T::Rows::PerLine);
        add(T::Id::Ds1FarCurrent, "dsx1FarEndCurrentTable", Under(kDs1, {10, 1}),
            {1, 2, 3, 4, 5, 7, 13}, T::Lines::E1, T::Rows::PerLine);
        add(T::Id::Ds1FarInterval, "dsx1FarEndIntervalTable", Under(kDs1, {11, 1}),
            {1, 2, 3, 4, 6, 12}, T::Lines::E1, T::Rows::PerInterval);
        add(T::Id::Ds1FarTotal, "dsx1FarEndTotalTable", Under(kDs1, {12, 1}), {1, 2, 3, 5},
            T::Lines::E1, T::Rows::PerLine);
        add(T::Id::If, "ifTable", kIfEntry, {1, 2, 3, 5, 6, 7, 8, 9}, T::Lines::All,
            T::Rows::PerLine);
        t.back().perColumn = true;
        add(T::Id::IfX, "ifXTable", kIfXEntry, {1, 14, 15, 17, 18}, T::Lines::All,
            T::Rows::PerLine);
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
    const MuxLines& mux = *row.mux;
    const LineState& line = mux.lines[static_cast<std::size_t>(row.line)];
    const SubId index = mux.First() + static_cast<SubId>(row.line);
    const History* history = mux.history.get();
    const int valid = Intervals(mux);
    const Counts& nearNow = mux.current[static_cast<std::size_t>(NearObject(row.line))];
    const Counts& farNow = mux.current[static_cast<std::size_t>(FarObject(row.line))];
    auto quarter = [&](int object) -> std::optional<Counts> {
        const auto& q = history->quarters[static_cast<std::size_t>(row.interval - 1)];
        if (!q) {
            return std::nullopt;
        }
        return (*q)[static_cast<std::size_t>(object)];
    };
    auto invalid = [&](int object) {
        return history ? history->invalid[static_cast<std::size_t>(object)] : 0;
    };
    auto total = [&](int object) {
        return history ? history->total[static_cast<std::size_t>(object)] : Counts{};
    };
    // Data is valid when the monitor saw every second of the quarter.
    auto validData = [&](int object) {
        const auto q = quarter(object);
        return Truth(q && q->unseen == 0);
    };
    auto gaugeOf = [](std::uint64_t v) { return Gauge(static_cast<long long>(std::min<std::uint64_t>(v, UINT32_MAX))); };
    auto figure = [&](const Counts& c, int which) -> Value {
        switch (which) {
        case 0: return gaugeOf(c.es);
        case 1: return gaugeOf(c.ses);
        case 2: return gaugeOf(c.uas);
        default: return gaugeOf(c.errors);
        }
    };
    // An interval's figure; a quarter the monitor did not keep counts nothing and is invalid.
    auto intervalFigure = [&](int object, int which) -> Value {
        const auto q = quarter(object);
        return q ? figure(*q, which) : Gauge(0);
    };
    enum { ES = 0, SES = 1, UAS = 2, ERR = 3 };
    const int nearObj = NearObject(row.line), farObj = FarObject(row.line);

    switch (table.id) {
    case T::Id::Ds3Config:
    case T::Id::Ds1Config: {
        const bool ds3 = table.id == T::Id::Ds3Config;
        switch (column) {
        case 1:
        case 2: return Int(static_cast<long long>(index));
        case 3: return Int(mux.elapsed);
        case 4: return Int(valid);
        case 5: return Int(ds3 ? kE3Framed : kDs1Other);
        case 6: return Int(ds3 ? kE3Hdb3 : kDs1Hdb3);
        case 8: return Text(mux.name);
        case 10: return Int(line.status);
        case 12:
        case 14:
            if (ds3 == (column == 12)) {
                return Int(invalid(nearObj));
            }
            return Ticks(Stamp(line.statusChangedMs));  // dsx3LineStatusLastChange
        case 15:
            if (ds3) {
                return Truth(TrapEnable(row));
            }
            break;
        case 16: return Ticks(Stamp(line.statusChangedMs));
        case 17: return Truth(TrapEnable(row));
        }
        return std::nullopt;
    }
    case T::Id::Ds3Current:
    case T::Id::Ds3Total: {
        const Counts c = table.id == T::Id::Ds3Current ? nearNow : total(nearObj);
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return figure(c, ES);
        case 3: return figure(c, SES);
        case 5: return figure(c, UAS);
        case 7: return figure(c, ERR);
        }
        return std::nullopt;
    }
    case T::Id::Ds3Interval:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(row.interval);
        case 3: return intervalFigure(nearObj, ES);
        case 4: return intervalFigure(nearObj, SES);
        case 6: return intervalFigure(nearObj, UAS);
        case 8: return intervalFigure(nearObj, ERR);
        case 13: return validData(nearObj);
        }
        return std::nullopt;
    case T::Id::Ds3FarCurrent:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(mux.elapsed);
        case 3: return Int(valid);
        case 4: return figure(farNow, ES);
        case 5: return figure(farNow, SES);
        case 6: return figure(farNow, ERR);
        case 7: return figure(farNow, UAS);
        case 8: return Int(invalid(farObj));
        }
        return std::nullopt;
    case T::Id::Ds3FarTotal: {
        const Counts c = total(farObj);
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return figure(c, ES);
        case 3: return figure(c, SES);
        case 4: return figure(c, ERR);
        case 5: return figure(c, UAS);
        }
        return std::nullopt;
    }
    case T::Id::Ds3FarInterval:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(row.interval);
        case 3: return intervalFigure(farObj, ES);
        case 4: return intervalFigure(farObj, SES);
        case 5: return intervalFigure(farObj, ERR);
        case 6: return intervalFigure(farObj, UAS);
        case 7: return validData(farObj);
        }
        return std::nullopt;
    case T::Id::Ds1Current:
    case T::Id::Ds1Total: {
        const Counts c = table.id == T::Id::Ds1Current ? nearNow : total(nearObj);
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return figure(c, ES);
        case 3: return figure(c, SES);
        case 5: return figure(c, UAS);
        }
        return std::nullopt;
    }
    case T::Id::Ds1Interval:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(row.interval);
        case 3: return intervalFigure(nearObj, ES);
        case 4: return intervalFigure(nearObj, SES);
        case 6: return intervalFigure(nearObj, UAS);
        case 13: return validData(nearObj);
        }
        return std::nullopt;
    case T::Id::Ds1FarCurrent:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(mux.elapsed);
        case 3: return Int(valid);
        case 4: return figure(farNow, ES);
        case 5: return figure(farNow, SES);
        case 7: return figure(farNow, UAS);
        case 13: return Int(invalid(farObj));
        }
        return std::nullopt;
    case T::Id::Ds1FarInterval:
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return Int(row.interval);
        case 3: return intervalFigure(farObj, ES);
        case 4: return intervalFigure(farObj, SES);
        case 6: return intervalFigure(farObj, UAS);
        case 12: return validData(farObj);
        }
        return std::nullopt;
    case T::Id::Ds1FarTotal: {
        const Counts c = total(farObj);
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2: return figure(c, ES);
        case 3: return figure(c, SES);
        case 5: return figure(c, UAS);
        }
        return std::nullopt;
    }
    case T::Id::If: {
        const bool e3 = row.line == 0;
        switch (column) {
        case 1: return Int(static_cast<long long>(index));
        case 2:
            return Text(e3 ? "Kestrel MUX " + mux.name + " 34 Mbit/s line"
                           : "Kestrel MUX " + mux.name + " tributary " +
                                 std::to_string(row.line));
        case 3: return Int(e3 ? kIfTypeDs3 : kIfTypeDs1);
        case 5: return Gauge(e3 ? 34368000 : 2048000);
        case 6: return Text("");
        case 7: return Int(kIfUp);
        case 8: return Int(line.operStatus);
        case 9: return Ticks(Stamp(line.operChangedMs));
        }
        return std::nullopt;
    }
    case T::Id::IfX: {
        const bool e3 = row.line == 0;
        switch (column) {
        case 1: return Text(e3 ? mux.name + "/E3" : mux.name + "/E1-" + std::to_string(row.line));
        case 14: return Int(kTrue);
        case 15: return Gauge(e3 ? 34 : 2);
        case 17: return Truth(true);
        case 18: return Text(mux.name);
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

}  // namespace kestrel::snmp
