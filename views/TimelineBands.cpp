// The alarm journal's entries as a timeline's bands: built, moved on with the time, compared.
#include "views/TimelineBands.h"

#include <algorithm>

namespace kestrel {

std::vector<int> TimelineStates(int object) {
    if (object == kNearObject) {
        return {0, 1, 2, 3, kFirstLinkState, kFirstLinkState + 1, kFirstLinkState + 2};
    }
    if (object == kFarObject) {
        return {4, 5, 6, 7};
    }
    // Tributary objects follow the journal's tributary index: local 0..15, remote 16..31.
    const int index = object - kFirstLocalTribObject;
    return {kAlarmStates + 2 * index, kAlarmStates + 2 * index + 1};
}

std::vector<TimelineBand> TimelineBands(const std::deque<JournalEntry>& entries,
                                        const std::vector<int>& states, std::time_t from,
                                        std::time_t to, TimelineBuiltFrom* builtFrom) {
    std::vector<TimelineBand> bands;
    bands.reserve(states.size());
    for (int state : states) {
        bands.push_back({state, {}});
    }
    for (const JournalEntry& e : entries) {
        const auto band = std::find(states.begin(), states.end(), e.state);
        if (band == states.end()) {
            continue;
        }
        const bool open = !e.end || *e.end > to;
        const std::time_t start = std::max(e.start, from);
        const std::time_t end = std::min(e.end.value_or(to), to);
        if (end <= start) {
            continue;
        }
        TimelineSpan span{start, end, open};
        if (e.endedUnseen) {
            span.endedUnseen = true;
        } else if (!e.end && e.unknownSince) {
            span.unknownFrom = std::clamp(*e.unknownSince, start, end);
        }
        bands[static_cast<std::size_t>(band - states.begin())].spans.push_back(span);
        if (builtFrom) {
            if (builtFrom->oldestShown == 0) {
                builtFrom->oldestShown = e.id;
            }
            if (open) {
                builtFrom->openEntries.emplace_back(e.id, e.unknownSince);
            }
        }
    }
    for (TimelineBand& band : bands) {
        std::sort(band.spans.begin(), band.spans.end(),
                  [](const TimelineSpan& a, const TimelineSpan& b) { return a.start < b.start; });
    }
    return bands;
}

std::vector<TimelineBand> AdvancedBands(std::vector<TimelineBand> moved, std::time_t newFrom,
                                        std::time_t newTo) {
    for (TimelineBand& band : moved) {
        std::erase_if(band.spans,
                      [&](const TimelineSpan& s) { return !s.open && s.end <= newFrom; });
        for (TimelineSpan& s : band.spans) {
            s.start = std::max(s.start, newFrom);
            if (s.open) {
                s.end = newTo;
            }
            if (s.unknownFrom) {
                s.unknownFrom = std::max(*s.unknownFrom, s.start);
            }
        }
    }
    return moved;
}

bool SameButOpenEnd(const TimelineSpan& x, const TimelineSpan& y) {
    return x.start == y.start && x.open == y.open && (x.open || x.end == y.end) &&
           x.unknownFrom == y.unknownFrom && x.endedUnseen == y.endedUnseen;
}

bool SameButOpenEnds(const std::vector<TimelineBand>& a, const std::vector<TimelineBand>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [&](const TimelineBand& x, const TimelineBand& y) {
            return x.state == y.state && std::equal(x.spans.begin(), x.spans.end(), y.spans.begin(),
                                                    y.spans.end(), SameButOpenEnd);
        });
}

}  // namespace kestrel
