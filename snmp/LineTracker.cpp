// A MUX's lines for the subagent: status bits, interface state, figures and notifications.
#include "snmp/LineTracker.h"

#include <algorithm>

#include "performance/Journal.h"
#include "performance/LineMemory.h"

namespace kestrel::snmp {

namespace {

constexpr std::chrono::seconds kNotificationSpacing{1};
constexpr int kQuarterSeconds = 900;

ObjectCounts CountsOfAll(const Interval& interval) {
    ObjectCounts c{};
    for (int o = 0; o < kObjectCount; ++o) {
        c[static_cast<std::size_t>(o)] = CountsOf(interval.figures[static_cast<std::size_t>(o)]);
    }
    return c;
}

}  // namespace

std::array<long, kLinesPerMux> LineStatusOf(const LineMemory& memory) {
    const bool seen = !memory.UnseenSince();
    std::array<long, kLinesPerMux> status{};
    // The journal's 34 Mbit/s states in their order: no signal, AIS, LOF, RAI received.
    constexpr std::array<long, 4> kE3Bits{ds3::kLos, ds3::kRcvAis, ds3::kLof, ds3::kRcvRai};
    for (int a = 0; a < 4; ++a) {
        if (memory.IsOn(a)) {
            status[0] |= kE3Bits[static_cast<std::size_t>(a)];
        }
    }
    for (int line = 1; line < kLinesPerMux; ++line) {
        const int noSignal = kAlarmStates + 2 * (line - 1);
        if (memory.IsOn(noSignal)) {
            status[static_cast<std::size_t>(line)] |= ds1::kLos;
        }
        // No DS1 bit names code violations; the MUX raises them as an alarm of the
        // tributary, and Other Failure is the bit for an alarm the MIB has no name for.
        if (memory.IsOn(noSignal + 1)) {
            status[static_cast<std::size_t>(line)] |= ds1::kOtherFailure;
        }
    }
    for (int line = 0; line < kLinesPerMux; ++line) {
        long& s = status[static_cast<std::size_t>(line)];
        if (!seen) {
            s |= line == 0 ? ds3::kOtherFailure : ds1::kOtherFailure;
        }
        if (s == 0) {
            s = line == 0 ? ds3::kNoAlarm : ds1::kNoAlarm;
        }
    }
    return status;
}

long OperStatusOf(long status, bool seen, bool e3) {
    if (!seen) {
        return kIfUnknown;
    }
    const long down = e3 ? (ds3::kLos | ds3::kLof | ds3::kRcvAis) : ds1::kLos;
    return (status & down) != 0 ? kIfDown : kIfUp;
}

std::shared_ptr<const History> HistoryOf(const std::deque<Interval>& completed,
                                         std::time_t current) {
    auto h = std::make_shared<History>();
    for (const Interval& i : completed) {
        const std::time_t back = current - i.span.start;
        if (back <= 0 || back > static_cast<std::time_t>(kQuarters) * kQuarterSeconds) {
            continue;
        }
        const auto n = static_cast<std::size_t>((back + kQuarterSeconds / 2) / kQuarterSeconds);
        if (n == 0) {
            continue;  // a quarter of another zone's alignment, less than half a quarter back
        }
        if (h->quarters.size() < n) {
            h->quarters.resize(n);
        }
        h->quarters[n - 1] = CountsOfAll(i);
    }
    for (int o = 0; o < kObjectCount; ++o) {
        const auto object = static_cast<std::size_t>(o);
        Counts& total = h->total[object];
        for (const auto& q : h->quarters) {
            // The totals count only valid quarters, as the MIBs define them.
            if (!q || (*q)[object].unseen != 0) {
                ++h->invalid[object];
                continue;
            }
            total.es += (*q)[object].es;
            total.ses += (*q)[object].ses;
            total.uas += (*q)[object].uas;
            total.errors += (*q)[object].errors;
        }
    }
    return h;
}

LineTracker::LineTracker(std::string muxName, int muxPosition)
    : name(std::move(muxName)), position(muxPosition) {}

void LineTracker::SetTrapEnable(int line, bool enable) {
    if (line >= 0 && line < kLinesPerMux) {
        lines[static_cast<std::size_t>(line)].trapEnable = enable;
    }
}

MuxLines LineTracker::Take(const LineMemory& memory, std::time_t lineNow,
                           std::chrono::steady_clock::time_point now,
                           std::vector<Notification>& out) {
    const std::int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const bool seen = !memory.UnseenSince();
    const auto status = LineStatusOf(memory);
    const SubId firstIndex = FirstIndexOf(position);
    for (int l = 0; l < kLinesPerMux; ++l) {
        const auto i = static_cast<std::size_t>(l);
        LineState& line = lines[i];
        const long oper = OperStatusOf(status[i], seen, l == 0);
        if (first) {
            // The states the monitor starts in were entered before the agent's clock.
            line.status = status[i];
            line.operStatus = oper;
            sent[i] = {status[i], oper, {}, true};
            continue;
        }
        if (status[i] != line.status) {
            line.status = status[i];
            line.statusChangedMs = nowMs;
        }
        if (oper != line.operStatus) {
            line.operStatus = oper;
            line.operChangedMs = nowMs;
        }
        Sent& s = sent[i];
        if (l > 0 && seen && !everSeen) {
            // The MUX is seen for the first time: its E3 line tells, and its tributaries are
            // told from here on, when they change.
            s = {line.status, line.operStatus, now, true};
            continue;
        }
        const bool due = s.status != line.status || s.oper != line.operStatus;
        if (!due || (l > 0 && !seen) || (s.told && now - s.at < kNotificationSpacing)) {
            continue;
        }
        const SubId index = firstIndex + static_cast<SubId>(l);
        if (s.status != line.status && line.trapEnable) {
            out.push_back({l == 0 ? Notification::Kind::Ds3Status : Notification::Kind::Ds1Status,
                           index, line.status, line.statusChangedMs});
        }
        // linkDown when the interface goes down, and when it leaves up for unknown (the MUX
        // cannot be seen: not a clear); linkUp when it is up again.
        const bool down = line.operStatus == kIfDown && s.oper != kIfDown;
        if (down || (s.oper == kIfUp && line.operStatus != kIfUp)) {
            out.push_back({Notification::Kind::LinkDown, index, line.operStatus,
                           line.operChangedMs});
        } else if (s.oper != kIfUp && line.operStatus == kIfUp) {
            out.push_back({Notification::Kind::LinkUp, index, line.operStatus,
                           line.operChangedMs});
        }
        s = {line.status, line.operStatus, now, true};
    }
    first = false;
    everSeen = everSeen || seen;

    MuxLines m;
    m.name = name;
    m.position = position;
    m.lines = lines;
    const Interval& quarter = memory.Current(BinKind::Quarter);
    m.elapsed = static_cast<int>(
        std::clamp<std::time_t>(lineNow - quarter.span.start, 0, kQuarterSeconds - 1));
    m.current = CountsOfAll(quarter);
    const auto& completed = memory.Completed(BinKind::Quarter);
    const ObjectCounts newest = completed.empty() ? ObjectCounts{} : CountsOfAll(completed.back());
    if (!history || historyCurrent != quarter.span.start || historyCount != completed.size() ||
        historyNewest != newest) {
        history = HistoryOf(completed, quarter.span.start);
        historyCurrent = quarter.span.start;
        historyCount = completed.size();
        historyNewest = newest;
    }
    m.history = history;
    return m;
}

}  // namespace kestrel::snmp
