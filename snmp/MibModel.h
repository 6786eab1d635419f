// The MUXes' lines as SNMP objects: the DS3-MIB (the 34 Mbit/s line as E3), the DS1-MIB (the
// tributaries as E1) and their IF-MIB rows, answered from a snapshot. Knows no SNMP library:
// the agent hands it object identifiers and gets values back.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "performance/Figures.h"

namespace kestrel::snmp {

using SubId = unsigned long;  // as wide as the SNMP library's own
using Oid = std::vector<SubId>;

struct Value {
    enum class Type { Integer, Gauge32, Counter32, TimeTicks, OctetString, ObjectId };
    Type type = Type::Integer;
    long long number = 0;
    std::string text;
    Oid oid;
    bool operator==(const Value&) const = default;
};

// Each MUX has one E3 line and sixteen E1 lines. Line indexes (the ifIndex of the IF-MIB) are
// kIndexBase + kIndexStride x the MUX's position in the configuration (from 1) + the line (0
// for the E3 line, N for tributary N): a MUX keeps its indexes across restarts while the
// configuration keeps its order, and an operator reads MUX 3's tributary 5 in 1000305. The
// base lies far above the host's own interfaces.
inline constexpr SubId kIndexBase = 1000000;
inline constexpr SubId kIndexStride = 100;
inline constexpr int kLinesPerMux = 17;
inline constexpr int kQuarters = 96;  // intervals the MIBs keep: 24 hours
inline constexpr SubId FirstIndexOf(int position) {
    return kIndexBase + kIndexStride * static_cast<SubId>(position);
}

// dsx3LineStatus and dsx1LineStatus bits. No Alarm is set exactly when no other bit is.
namespace ds3 {
inline constexpr long kNoAlarm = 1, kRcvRai = 2, kRcvAis = 8, kLof = 32, kLos = 64,
                      kOtherFailure = 512;
}
namespace ds1 {
inline constexpr long kNoAlarm = 1, kLos = 64, kOtherFailure = 4096;
}
// ifOperStatus.
inline constexpr long kIfUp = 1, kIfDown = 2, kIfUnknown = 4;

// The G.821 figures of one object over one interval, as the MIBs count them.
struct Counts {
    std::uint32_t es = 0;
    std::uint32_t ses = 0;
    std::uint32_t uas = 0;
    std::uint32_t unseen = 0;  // seconds the monitor could not see
    std::uint64_t errors = 0;
    bool operator==(const Counts&) const = default;
};
Counts CountsOf(const Figures& figures);
using ObjectCounts = std::array<Counts, kObjectCount>;

// The completed quarters of one MUX: shared by every snapshot until a quarter completes.
struct History {
    // quarters[n - 1] is interval n (1 the most recent); empty where the monitor kept none
    // (it was not running).
    std::vector<std::optional<ObjectCounts>> quarters;
    // The sums over the quarters above that hold data, as the total tables show them.
    ObjectCounts total{};
    // Per object: quarters with seconds the monitor could not see, or no data at all.
    std::array<int, kObjectCount> invalid{};
};

// One line's state as the MIBs show it.
struct LineState {
    long status = 0;           // dsx3LineStatus / dsx1LineStatus bits
    long operStatus = kIfUnknown;
    // When the status and ifOperStatus last changed, in milliseconds of the monotonic clock;
    // 0 for the state the monitor started in.
    std::int64_t statusChangedMs = 0;
    std::int64_t operChangedMs = 0;
    bool trapEnable = true;
    bool operator==(const LineState&) const = default;
};

// One MUX, as the host took it at a tick.
struct MuxLines {
    std::string name;
    int position = 1;
    std::array<LineState, kLinesPerMux> lines{};
    int elapsed = 0;  // seconds of the current interval so far
    ObjectCounts current{};
    std::shared_ptr<const History> history;
    SubId First() const { return FirstIndexOf(position); }
};

struct Snapshot {
    std::vector<MuxLines> muxes;  // in position order
};

// The near-end object of a line, and the far-end one (line 0 is the E3 line).
inline int NearObject(int line) {
    return line == 0 ? kNearObject : kFirstLocalTribObject + line - 1;
}
inline int FarObject(int line) {
    return line == 0 ? kFarObject : kFirstRemoteTribObject + line - 1;
}

// One conceptual table (or a column range of one) as the agent registers it.
struct Table {
    enum class Lines { E3, E1, All };
    enum class Rows { PerLine, PerInterval };
    // Where a table's figures come from: the current quarter, the completed ones, or their sums
    // over the day; of the line's near end or its far end.
    enum class Figures { None, Current, Interval, Total };
    // What a column shows.
    enum class What {
        Index, Number, Elapsed, ValidIntervals, InvalidIntervals, Es, Ses, Uas, Errors,
        ValidData, LineType, LineCoding, Circuit, Status, StatusChanged, TrapEnable,
        Descr, IfType, Speed, PhysAddress, AdminStatus, OperStatus, OperChanged,
        Name, LinkTrapEnable, HighSpeed, ConnectorPresent, Alias,
    };
    const char* name;
    Oid entry;                 // the table's entry: columns and indexes follow
    std::vector<int> columns;  // served, ascending
    std::vector<What> shows;   // beside each column
    Lines lines;
    Rows rows;
    Figures figures = Figures::None;
    bool far = false;
    // Only for tables served beside another agent's rows (the IF-MIB): the registration is a
    // range of rows of one column, so that the host's own interfaces stay with their agent.
    bool perColumn = false;
    bool writable = false;  // the trap-enable column
    int writableColumn = 0;
};
// Every table the subagent serves.
const std::vector<Table>& Tables();

// A SET of one writable object: the line and the value asked for.
struct TrapEnableWrite {
    SubId line = 0;
    bool enable = true;
    bool operator==(const TrapEnableWrite&) const = default;
};
// Why a SET is refused, as the protocol names it.
enum class SetError { None, NoCreation, NotWritable, WrongType, WrongValue };

// Answers over one snapshot. Row indexes are parsed from whatever a manager sent: any length,
// any sub-identifier.
class MibView {
public:
    explicit MibView(std::shared_ptr<const Snapshot> snapshot);

    // The value of an instance of `table`; empty for no such instance.
    std::optional<Value> Get(const Table& table, const Oid& name) const;
    // The first instance of `table` after `name` (in column `column` only when not 0), as a
    // walk takes them: column by column, rows in index order; empty past the table's end.
    std::optional<std::pair<Oid, Value>> GetNext(const Table& table, const Oid& name,
                                                 int column = 0) const;
    // Checks a SET of `name` to `value`; the write to make when it may go through.
    SetError CheckSet(const Table& table, const Oid& name, const Value& value,
                      TrapEnableWrite& write) const;

    // The lines' indexes of a kind, ascending.
    const std::vector<SubId>& Lines(Table::Lines kind) const;
    // SETs made since the snapshot was taken, shown until a snapshot holds them.
    void OverrideTrapEnable(const std::map<SubId, bool>* writes) { trapWrites = writes; }
    // The master's sysUpTime now (TimeTicks) and the monotonic clock's milliseconds now: the
    // time stamps of changes are told on the master's clock, 0 for a change before its start.
    void SetClock(std::uint32_t uptimeTicks, std::int64_t nowMs) {
        uptime = uptimeTicks;
        clockMs = nowMs;
    }
    std::uint32_t Stamp(std::int64_t changedMs) const;

private:
    struct Row {
        const MuxLines* mux = nullptr;
        int line = 0;
        int interval = 0;  // 1..96 in interval tables, 0 elsewhere
    };
    std::optional<Row> Find(const Table& table, const Oid& name, int& column) const;
    // The first row whose index follows `suffix` (the index part of a name), or the first
    // row when `fromStart`.
    std::optional<std::pair<SubId, int>> RowAfter(const Table& table, const Oid& suffix,
                                                  bool fromStart) const;
    const MuxLines* MuxOf(SubId line, int& lineNumber) const;
    int Intervals(const MuxLines& mux) const;
    std::optional<Value> ValueOf(const Table& table, int column, const Row& row) const;

    bool TrapEnable(const Row& row) const;

    std::shared_ptr<const Snapshot> snapshot;
    std::array<std::vector<SubId>, 3> lineIndexes;
    const std::map<SubId, bool>* trapWrites = nullptr;
    std::uint32_t uptime = 0;
    std::int64_t clockMs = 0;
};

}  // namespace kestrel::snmp
