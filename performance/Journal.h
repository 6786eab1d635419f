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
// tributary states (8 + 2k no signal and 9 + 2k code errors of tributary index k), then the
// three link states.
inline constexpr int kAlarmStates = 8;
inline constexpr int kTribStates = 64;
inline constexpr int kFirstLinkState = kAlarmStates + kTribStates;
inline constexpr int kJournalStates = kFirstLinkState + 3;

// "near:no-signal", "far:rai", "local-trib-3:code-errors", "link:no-data", ...
const std::string& JournalObjectName(int state);
std::optional<int> JournalStateIndex(std::string_view name);
Severity JournalSeverity(int state);

struct JournalEntry {
    std::int64_t id = 0;  // increases with every entry; the store's key
    int state = 0;
    std::time_t start = 0;
    std::optional<std::time_t> end;           // absent while the state holds
    std::optional<std::time_t> acknowledged;  // absent until acknowledged
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

    // The monitored states as one applied frame leaves them.
    void OnFrame(const FrameSecond& frame, std::time_t t);
    void OnLink(LineCondition state, std::time_t t);
    // Ends every open entry: monitoring stops, nothing is known after t.
    void EndAll(std::time_t t);

    bool Acknowledge(std::int64_t id, std::time_t t);
    int AcknowledgeAll(std::time_t t);

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
};

}  // namespace kestrel
