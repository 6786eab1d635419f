// The SNMP tables without an agent: walk order and completeness, names as managers send them,
// SETs, the status bits of an unseen line, the notifications and the numbering of intervals.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>

#include "performance/Journal.h"
#include "performance/LineMemory.h"
#include "snmp/LineTracker.h"
#include "snmp/MibModel.h"
#include "snmp/SwitchedOff.h"
#include "tests/TestFiles.h"

namespace kestrel::snmp {
namespace {

// Three MUXes at positions 1, 2 and 5: no quarters kept, three with the second missing, and a
// full day.
std::shared_ptr<const Snapshot> ThreeMuxes() {
    auto s = std::make_shared<Snapshot>();
    auto history = [](int quarters, int missing) {
        auto h = std::make_shared<History>();
        h->quarters.resize(static_cast<std::size_t>(quarters));
        for (int n = 1; n <= quarters; ++n) {
            if (n != missing) {
                h->quarters[static_cast<std::size_t>(n - 1)].emplace();
                (*h->quarters[static_cast<std::size_t>(n - 1)])[kNearObject].es =
                    static_cast<std::uint32_t>(n);
            }
        }
        return h;
    };
    for (auto [position, quarters, missing] : {std::tuple{1, 0, 0}, {2, 3, 2}, {5, 96, 40}}) {
        MuxLines m;
        m.name = "mux" + std::to_string(position);
        m.position = position;
        m.history = quarters > 0 ? history(quarters, missing) : nullptr;
        s->muxes.push_back(m);
    }
    return s;
}

class EveryTable : public ::testing::TestWithParam<Table> {};

// From the table's entry to its end, each answer follows the name asked and is the instance a
// GET of its name gives; every column of every row (every interval) comes once.
TEST_P(EveryTable, WalkVisitsEveryInstanceOnceInOrder) {
    const Table& table = GetParam();
    const MibView view(ThreeMuxes());
    std::size_t rows = 0;
    for (SubId line : view.Lines(table.lines)) {
        const int mux = static_cast<int>((line - kIndexBase) / kIndexStride);
        rows += table.rows == Table::Rows::PerLine ? 1 : mux == 1 ? 0 : mux == 2 ? 3 : 96;
    }
    Oid name = table.entry;
    std::size_t count = 0;
    while (auto next = view.GetNext(table, name)) {
        ASSERT_TRUE(std::lexicographical_compare(name.begin(), name.end(), next->first.begin(),
                                                 next->first.end()));
        ASSERT_EQ(view.Get(table, next->first), next->second);
        name = next->first;
        ++count;
    }
    EXPECT_EQ(count, rows * table.columns.size());
    if (table.perColumn) {
        // A registration of one column ends with it.
        const int column = table.columns[1];
        Oid at = table.entry;
        at.push_back(static_cast<SubId>(column));
        std::size_t inColumn = 0;
        while (auto next = view.GetNext(table, at, column)) {
            ASSERT_EQ(next->first[table.entry.size()], static_cast<SubId>(column));
            at = next->first;
            ++inColumn;
        }
        EXPECT_EQ(inColumn, rows);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, EveryTable, ::testing::ValuesIn(Tables()),
                         [](const auto& info) { return std::string(info.param.name); });

const Table& Named(const std::string& name) {
    for (const Table& t : Tables()) {
        if (t.name == name) {
            return t;
        }
    }
    throw std::out_of_range(name);
}

Oid Under(const Table& t, std::initializer_list<SubId> more) {
    Oid o = t.entry;
    o.insert(o.end(), more);
    return o;
}

// Names as a manager may send them: short, long, zero, the largest sub-identifiers, before and
// past the table; the next instance is the one a walk takes, or none past the end.
TEST(MibView, NamesFromManagersFindTheNextInstance) {
    const MibView view(ThreeMuxes());
    const Table& interval = Named("dsx3IntervalTable");
    const Table& config = Named("dsx1ConfigTable");
    const SubId mux2 = FirstIndexOf(2), mux5 = FirstIndexOf(5);
    struct Case {
        const Table* table;
        Oid name;
        std::optional<Oid> next;
    };
    const Case cases[] = {
        {&interval, {}, Under(interval, {1, mux2, 1})},
        {&interval, Under(interval, {1}), Under(interval, {1, mux2, 1})},
        {&interval, Under(interval, {1, mux2}), Under(interval, {1, mux2, 1})},
        {&interval, Under(interval, {1, mux2, 0}), Under(interval, {1, mux2, 1})},
        {&interval, Under(interval, {1, mux2, 3}), Under(interval, {1, mux5, 1})},
        {&interval, Under(interval, {1, mux2, 2, 7}), Under(interval, {1, mux2, 3})},
        {&interval, Under(interval, {1, mux2, ULONG_MAX}), Under(interval, {1, mux5, 1})},
        {&interval, Under(interval, {1, ULONG_MAX}), Under(interval, {2, mux2, 1})},
        {&interval, Under(interval, {13, mux5, 96}), std::nullopt},
        {&interval, Under(interval, {ULONG_MAX}), std::nullopt},
        {&interval, {1, 3, 6, 1, 2, 1, 10, 31}, std::nullopt},
        {&config, Under(config, {0}), Under(config, {1, FirstIndexOf(1) + 1})},
        {&config, Under(config, {9, mux2 + 3}), Under(config, {10, FirstIndexOf(1) + 1})},
        {&config, Under(config, {10, mux5 + 16}), Under(config, {14, FirstIndexOf(1) + 1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.name));
        const auto next = view.GetNext(*c.table, c.name);
        ASSERT_EQ(next.has_value(), c.next.has_value());
        if (next) {
            EXPECT_EQ(next->first, *c.next);
        }
    }
    const std::pair<const Table*, Oid> absent[] = {
        {&interval, Under(interval, {3, mux2, 0})},    {&interval, Under(interval, {3, mux2, 4})},
        {&interval, Under(interval, {3, mux2})},       {&interval, Under(interval, {3, mux2, 1, 1})},
        {&interval, Under(interval, {3, FirstIndexOf(1), 1})},
        {&interval, Under(interval, {5, mux2, 1})},    {&config, Under(config, {10, FirstIndexOf(3) + 1})},
        {&config, Under(config, {10, mux2})},          {&config, Under(config, {10, mux2 + 17})}};
    for (const auto& [table, name] : absent) {
        EXPECT_FALSE(view.Get(*table, name)) << ::testing::PrintToString(name);
    }
    EXPECT_EQ(view.Get(interval, Under(interval, {3, mux5, 7}))->number, 7) << "ES of quarter 7";
    EXPECT_EQ(view.Get(interval, Under(interval, {13, mux5, 40}))->number, 2) << "missing: invalid";
}

// Only the notification switches may be set, to enabled (1) or disabled (2), on lines that exist;
// a SET reads back before the host has taken it. Changes are told on the master's clock.
TEST(MibView, SetsOfTheNotificationSwitch) {
    MibView view(ThreeMuxes());
    const Table& ds3 = Named("dsx3ConfigTable");
    const Table& ds1 = Named("dsx1ConfigTable");
    const Table& current = Named("dsx1CurrentTable");
    const SubId e3 = FirstIndexOf(2);
    Value one, two, seven, text;
    one.number = 1;
    two.number = 2;
    seven.number = 7;
    text.type = Value::Type::OctetString;
    struct Case {
        const Table* table;
        Oid name;
        const Value* value;
        SetError error;
    };
    const Case cases[] = {
        {&ds3, Under(ds3, {15, e3}), &two, SetError::None},
        {&ds1, Under(ds1, {17, e3 + 16}), &one, SetError::None},
        {&ds1, Under(ds1, {17, e3}), &one, SetError::NoCreation},
        {&ds3, Under(ds3, {15, e3, 0}), &one, SetError::NoCreation},
        {&ds3, Under(ds3, {10, e3}), &one, SetError::NotWritable},
        {&ds3, Under(ds3, {7, e3}), &one, SetError::NotWritable},
        {&current, Under(current, {2, e3 + 1}), &one, SetError::NotWritable},
        {&ds3, Under(ds3, {15, e3}), &seven, SetError::WrongValue},
        {&ds3, Under(ds3, {15, e3}), &text, SetError::WrongType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.name));
        TrapEnableWrite write;
        EXPECT_EQ(view.CheckSet(*c.table, c.name, *c.value, write), c.error);
        if (c.error == SetError::None) {
            EXPECT_EQ(write.line, c.name.back());
            EXPECT_EQ(write.enable, c.value->number == 1);
        }
    }
    // Changes are stamped on the master's clock: 2 s ago at an uptime of 5 s, or before it.
    view.SetClock(500, 1000000);
    EXPECT_EQ(view.Stamp(998000), 300U);
    EXPECT_EQ(view.Stamp(990000), 0U);
    EXPECT_EQ(view.Stamp(0), 0U);

    const std::map<SubId, bool> pending{{e3, false}};
    EXPECT_EQ(view.Get(ds3, Under(ds3, {15, e3}))->number, 1);
    view.OverrideTrapEnable(&pending);
    EXPECT_EQ(view.Get(ds3, Under(ds3, {15, e3}))->number, 2);
}

FrameSecond Frame(std::uint8_t alarms, std::uint32_t tribNoSig = 0, std::uint32_t tribCErr = 0) {
    FrameSecond f;
    f.alarms = alarms;
    f.nearDefect = (alarms & 0x07) != 0;
    f.tribNoSig = tribNoSig;
    f.tribCErr = tribCErr;
    return f;
}

// The line as the journal tells it, frame after frame, and what goes to the managers: one
// notification a line a second at most, none while switched off, the tributaries of an unseen
// MUX silent until it is seen again.
TEST(LineTracker, StatusBitsAndNotificationsFollowTheJournal) {
    using namespace std::chrono_literals;
    const std::time_t t0 = 1796000400;
    const auto s0 = std::chrono::steady_clock::time_point{} + 1000s;
    LineMemory memory;
    memory.Start(t0);
    LineTracker tracker("north", 2);
    std::vector<Notification> out;
    auto take = [&](std::time_t t, std::chrono::milliseconds after) {
        memory.Tick(t);
        return tracker.Take(memory, t, s0 + after, out);
    };
    auto at = [](std::chrono::milliseconds after) { return 1000000 + after.count(); };
    MuxLines m = take(t0, 0s);
    EXPECT_EQ(m.lines[0].status, ds3::kOtherFailure) << "nothing seen yet: unknown";
    EXPECT_EQ(m.lines[0].operStatus, kIfUnknown);
    EXPECT_TRUE(out.empty()) << "the state it starts in is no news";

    const SubId e3 = FirstIndexOf(2);
    memory.OnFrameApplied(Frame(0x02, 1u << 4, 1u << 2), t0 + 1);  // AIS; trib 5 LOS, 3 errors
    m = take(t0 + 1, 1s);
    EXPECT_EQ(m.lines[0].status, ds3::kRcvAis);
    EXPECT_EQ(m.lines[0].operStatus, kIfDown);
    EXPECT_EQ(m.lines[5].status, ds1::kLos);
    EXPECT_EQ(m.lines[3].status, ds1::kOtherFailure);
    EXPECT_EQ(m.lines[1].status, ds1::kNoAlarm);
    EXPECT_EQ(m.lines[0].statusChangedMs, at(1s));
    EXPECT_EQ(out, (std::vector<Notification>{
                       {Notification::Kind::Ds3Status, e3, ds3::kRcvAis, at(1s)},
                       {Notification::Kind::LinkDown, e3, kIfDown, at(1s)}}))
        << "first seen: the E3 line tells, not each tributary";
    out.clear();

    // Cleared within the second: held back until a second has passed, then sent as it is then.
    tracker.SetTrapEnable(5, false);
    memory.OnFrameApplied(Frame(0x00, 0), t0 + 2);
    take(t0 + 2, 1500ms);
    EXPECT_TRUE(out.empty());
    take(t0 + 3, 2s);
    EXPECT_EQ(out, (std::vector<Notification>{
                       {Notification::Kind::Ds3Status, e3, ds3::kNoAlarm, at(1500ms)},
                       {Notification::Kind::LinkUp, e3, kIfUp, at(1500ms)},
                       {Notification::Kind::Ds1Status, e3 + 3, ds1::kNoAlarm, at(1500ms)},
                       {Notification::Kind::LinkUp, e3 + 5, kIfUp, at(1500ms)}}))
        << "tributary 5's status notification is switched off, its link one is not";
    out.clear();

    // The line is lost while tributary 5 has no signal: unknown, and the E3 line tells.
    memory.OnFrameApplied(Frame(0x00, 1u << 4), t0 + 4);
    take(t0 + 4, 4s);
    out.clear();
    memory.OnLinkState(LineCondition::NoData, t0 + 5);
    m = take(t0 + 5, 5s);
    EXPECT_EQ(m.lines[0].status, ds3::kOtherFailure);
    EXPECT_EQ(m.lines[5].status, ds1::kLos | ds1::kOtherFailure);
    EXPECT_EQ(m.lines[5].operStatus, kIfUnknown);
    EXPECT_EQ(out, (std::vector<Notification>{
                       {Notification::Kind::Ds3Status, e3, ds3::kOtherFailure, at(5s)},
                       {Notification::Kind::LinkDown, e3, kIfUnknown, at(5s)}}));
    out.clear();
    tracker.SetTrapEnable(5, true);
    memory.OnLinkState(LineCondition::Up, t0 + 9);
    memory.OnFrameApplied(Frame(0x00, 0), t0 + 9);
    take(t0 + 9, 9s);
    EXPECT_EQ(out, (std::vector<Notification>{
                       {Notification::Kind::Ds3Status, e3, ds3::kNoAlarm, at(9s)},
                       {Notification::Kind::LinkUp, e3, kIfUp, at(9s)},
                       {Notification::Kind::Ds1Status, e3 + 5, ds1::kNoAlarm, at(9s)},
                       {Notification::Kind::LinkUp, e3 + 5, kIfUp, at(9s)}}))
        << "tributary 5 cleared while unseen: told once the MUX is seen";
}

// Quarters are numbered back from the current one, gaps where none was kept; the totals add
// only the quarters seen whole, as the MIBs count them.
TEST(LineTracker, HistoryNumbersQuartersBackAndTotalsTheValidOnes) {
    const std::time_t now = 1796000400;
    std::deque<Interval> completed;
    for (auto [back, es, unseen] : {std::tuple{97, 50, 0}, {5, 1, 0}, {3, 2, 10}, {1, 4, 0}}) {
        Interval i;
        i.span = {now - 900 * back, 900};
        i.figures[kNearObject].es = es;
        i.figures[kNearObject].notMeasured = unseen;
        completed.push_back(i);
    }
    const auto h = HistoryOf(completed, now);
    ASSERT_EQ(h->quarters.size(), 5U) << "the quarter 97 back is beyond the day";
    EXPECT_EQ((*h->quarters[0])[kNearObject].es, 4U);
    EXPECT_FALSE(h->quarters[1].has_value());
    EXPECT_EQ((*h->quarters[4])[kNearObject].es, 1U);
    EXPECT_EQ(h->total[kNearObject].es, 5U);
    EXPECT_EQ(h->invalid[kNearObject], 3) << "two missing, one partly unseen";
}

// A manager's switches survive a restart; a file that cannot be written says so; lines of the
// file that are not NAME LINE are passed over.
TEST(SwitchedOff, KeptAcrossARestart) {
    test::TempDir dir;
    const std::string path = dir / "off";
    {
        SwitchedOff first(path);
        EXPECT_EQ(first.Fault(), "");
        EXPECT_EQ(first.Set("north", 5, true), "");
        EXPECT_EQ(first.Set("north", 0, true), "");
        EXPECT_EQ(first.Set("north", 0, false), "");
    }
    std::ofstream(path, std::ios::app) << "south\nwest 17\n\x01 x\neast 16\n";
    const SwitchedOff again(path);
    EXPECT_TRUE(again.Off("north", 5));
    EXPECT_FALSE(again.Off("north", 0));
    EXPECT_TRUE(again.Off("east", 16));
    EXPECT_FALSE(again.Off("west", 17));
    SwitchedOff nowhere(dir / "none/off");
    EXPECT_NE(nowhere.Set("north", 1, true), "");
    EXPECT_TRUE(nowhere.Off("north", 1)) << "the switch holds while the monitor runs";
}

}  // namespace
}  // namespace kestrel::snmp
