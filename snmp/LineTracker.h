// One MUX's lines as the subagent shows them, taken from its line memory at every tick on the
// host's thread, with the notifications that their changes call for.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "snmp/MibModel.h"

namespace kestrel {
class LineMemory;
struct Interval;
}  // namespace kestrel

namespace kestrel::snmp {

// A notification to send: a line's status changed, or its interface went down or up.
struct Notification {
    enum class Kind { Ds3Status, Ds1Status, LinkDown, LinkUp };
    Kind kind = Kind::Ds3Status;
    SubId line = 0;
    long status = 0;  // the line status bits, or ifOperStatus for link notifications
    std::int64_t changedMs = 0;  // when, on the monotonic clock (see LineState)
    bool operator==(const Notification&) const = default;
};

// The line status bits of the E3 line (0) and tributaries (1..16) as the journal reports them:
// while the monitor cannot see the MUX, the alarms last seen stay on and Other Failure is
// added, so that an unseen line never reads No Alarm.
std::array<long, kLinesPerMux> LineStatusOf(const LineMemory& memory);
// up, down (a loss of signal or frame, AIS) or unknown (the monitor cannot see the line).
long OperStatusOf(long status, bool seen, bool e3);

// The completed quarters of a line memory as the interval tables number them, counting back
// from the current quarter starting at `current`.
std::shared_ptr<const History> HistoryOf(const std::deque<Interval>& completed,
                                         std::time_t current);

class LineTracker {
public:
    LineTracker(std::string name, int position);

    // The lines now; `now` stamps their changes and spaces the notifications. Notifications due are
    // appended to `out`: at most one per line a second, only for lines whose notifications
    // are enabled; the tributaries of a MUX the monitor cannot see send none (their E3 line
    // tells, as it does when the MUX is first seen), and once it is seen again those whose
    // status is not what was last sent do.
    MuxLines Take(const LineMemory& memory, std::time_t lineNow,
                  std::chrono::steady_clock::time_point now, std::vector<Notification>& out);
    // A manager's SET of a line's ...LineStatusChangeTrapEnable.
    void SetTrapEnable(int line, bool enable);
    int Position() const { return position; }

private:
    struct Sent {
        long status = 0;
        long oper = 0;
        std::chrono::steady_clock::time_point at{};
        bool told = false;
    };
    std::string name;
    int position;
    std::array<LineState, kLinesPerMux> lines{};
    std::array<Sent, kLinesPerMux> sent{};
    bool first = true;
    bool everSeen = false;
    // What the last history was made from, to make a new one only when a quarter completes
    // or a completed one changes (a late frame).
    std::time_t historyCurrent = 0;
    std::size_t historyCount = 0;
    ObjectCounts historyNewest{};
    std::shared_ptr<const History> history;
};

}  // namespace kestrel::snmp
