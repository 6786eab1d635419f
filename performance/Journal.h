// The alarm journal: one entry per change of a monitored state, with start, end and acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "performance/Figures.h"

namespace kestrel {

enum class Severity { Critical, Major, Minor };
const char* SeverityName(Severity severity);  // "critical", "major", "minor"

// What the link layer and the supervision know about the line, worst first when several hold.
enum class LineCondition { Up, PortClosed, NotConnected, NoData };

// Journal states: the eight 34 Mbit/s indications (0..7, event-log column order), the 64
// tributary states (8 + 2k no signal and 9 + 2k code errors of tributary index k), the three
// link states, then the clock step, an event whose entry starts and ends at once.
inline constexpr int kAlarmStates = 8;
inline constexpr int kTribStates = 64;
inline constexpr int kFirstLinkState = kAlarmStates + kTribStates;
inline constexpr int kClockStepState = kFirstLinkState + 3;
inline constexpr int kJournalStates = kClockStepState + 1;
// The states seen in the frames: 34 Mbit/s alarms and tributaries.
inline bool IsLineState(int state) { return state < kFirstLinkState; }

// "near:no-signal", "far:rai", "local-trib-3:code-errors", "link:no-data", "clock:step", ...
const std::string& JournalObjectName(int state);
std::optional<int> JournalStateIndex(std::string_view name);
Severity JournalSeverity(int state);

struct JournalEntry {
    std::int64_t id = 0;  // increases with every entry; the store's key
    int state = 0;
    std::time_t start = 0;
    std::optional<std::time_t> end;           // absent while the state holds
    std::optional<std::time_t> acknowledged;  // absent until acknowledged
    // A line state the monitor stopped seeing while it held (no data, not connected, port
    // closed): since when it is unknown. Cleared when frames show it still there.
    std::optional<std::time_t> unknownSince;
    // Ended while the monitor could not see the line: `end` is the earliest it can have
    // ended (when the monitor went blind), not when it was seen to clear.
    bool endedUnseen = false;
    // Words for an event entry ("clock stepped back 60 s"); empty for states.
    std::string note;
    const std::string& Object() const { return JournalObjectName(state); }
    Severity GetSeverity() const { return JournalSeverity(state); }
    bool operator==(const JournalEntry&) const = default;
};

class Journal {
public:
    // Entries kept in memory for views; older closed ones stay in the store only.
    explicit Journal(std::size_t memoryLimit = 10000) : memoryLimit(memoryLimit) {}

    // Entries read back from the store (ascending ids); open ones become the open states.
    void Adopt(const std::vector<JournalEntry>& stored, std::int64_t nextId);

    // The monitored states as one applied frame leaves them. The first frame after the line
    // went unseen settles what was unknown: a state still there goes on in its entry, one
    // that is gone ends, unseen, when the monitor went blind.
    void OnFrame(const FrameSecond& frame, std::time_t t);
    // The link as the monitor sees it. Any state but Up makes every open line state unknown
    // from t (never cleared: the monitor cannot see it).
    void OnLink(LineCondition state, std::time_t t);
    // Ends every open entry: monitoring stops, nothing is known after t. Line states end
    // unseen, at t or when they became unknown if earlier.
    void EndAll(std::time_t t);
    // Nothing is seen of the line yet (monitoring starts): the line states are unknown until
    // the first frame.
    void MarkUnseen(std::time_t t) {
        if (!unseenSince)
            unseenSince = t;
    }
    // An event entry, started and ended at t, with its words.
    void Note(int state, std::time_t t, std::string note);

    // Since when the line states are unknown (the link was lost and no frame came since);
    // absent while frames show them.
    std::optional<std::time_t> UnseenSince() const { return unseenSince; }
    // Whether the state's entry is open (on, or unknown while unseen).
    bool IsOpen(int state) const { return open[static_cast<std::size_t>(state)] != 0; }

    bool Acknowledge(std::int64_t id, std::time_t t);
    int AcknowledgeAll(std::time_t t);
    // An acknowledgement another program stored: taken as stored, not written again.
    void TakeAcknowledged(std::int64_t id, std::time_t t);

    // Entries in memory that were active at or after `since`, in id order.
    std::vector<JournalEntry> Entries(std::time_t since, bool unacknowledgedOnly) const;
    const std::deque<JournalEntry>& All() const { return entries; }
    LineCondition Link() const { return link; }

    // Entries changed since the store last took them; the store hands back what it wrote.
    std::vector<JournalEntry> Unwritten() const;
    void MarkWritten(const std::vector<JournalEntry>& written);
    bool HasUnwritten() const { return !dirty.empty(); }

private:
    void Set(int state, bool on, std::time_t t);
    JournalEntry* Find(std::int64_t id);
    void Touch(std::int64_t id);
    void Trim();

    std::size_t memoryLimit;
    std::deque<JournalEntry> entries;
    std::array<std::int64_t, kJournalStates> open{};  // id of the open entry, 0 when none
    std::vector<std::int64_t> dirty;                   // ids changed and not yet stored
    std::int64_t nextId = 1;
    LineCondition link = LineCondition::Up;
    std::optional<std::time_t> unseenSince;
};

}  // namespace kestrel
