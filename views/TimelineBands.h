// When each alarm of an object was on: the journal's entries as spans, one band per state.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "performance/Journal.h"

namespace kestrel {

// The journal states a strip shows for an object: the near end's four local indications and
// the link states, the far end's four remote indications, or a tributary's no signal and
// code errors.
std::vector<int> TimelineStates(int object);

// When one state was on, clipped to the strip's time.
struct TimelineSpan {
    std::time_t start = 0;
    std::time_t end = 0;
    bool open = false;  // still on, or unknown, at the strip's end
    // From here to the end the monitor could not see the line: the state was on when it was
    // last seen, and is not known to be since.
    std::optional<std::time_t> unknownFrom{};
    // It was gone when the line was seen again: it ended at some time after `end`.
    bool endedUnseen = false;
    bool operator==(const TimelineSpan&) const = default;
};

struct TimelineBand {
    int state = 0;
    std::vector<TimelineSpan> spans;  // in time order
    bool operator==(const TimelineBand&) const = default;
};

// What bands were built from, to tell later whether the entries changed for them: the oldest
// entry with a span, and the entries whose spans were open, with since when they were unknown.
struct TimelineBuiltFrom {
    std::int64_t oldestShown = 0;
    std::vector<std::pair<std::int64_t, std::optional<std::time_t>>> openEntries;
};

// One band per state, the entries' times clipped to [from, to); an entry still open lasts
// to `to`, unknown from when the monitor lost sight of it. Entries of other states are
// ignored. `builtFrom`, when given, learns what they were built from.
std::vector<TimelineBand> TimelineBands(const std::deque<JournalEntry>& entries,
                                        const std::vector<int>& states, std::time_t from,
                                        std::time_t to, TimelineBuiltFrom* builtFrom = nullptr);

// The bands at a later time, with the same entries: spans over before it go, the others are
// clipped to it, and the open ones last to its end.
std::vector<TimelineBand> AdvancedBands(std::vector<TimelineBand> bands, std::time_t newFrom,
                                        std::time_t newTo);

// Whether two spans, or bands of spans, are alike but for an open span's end: that is the
// strip's time, not the span's, and moves every second.
bool SameButOpenEnd(const TimelineSpan& x, const TimelineSpan& y);
bool SameButOpenEnds(const std::vector<TimelineBand>& a, const std::vector<TimelineBand>& b);

}  // namespace kestrel
