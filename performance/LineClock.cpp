// Line seconds from the monotonic clock, and the wall clock's steps.
#include "performance/LineClock.h"

namespace kestrel {

namespace {

// Whole seconds from `from` to `to`, rounded down also before `from`.
long long FloorSeconds(LineClock::TimePoint from, LineClock::TimePoint to) {
    const auto d = to - from;
    auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
    if (s > d)
        s -= std::chrono::seconds(1);
    return s.count();
}

}  // namespace

void LineClock::Start(std::time_t wall, TimePoint mono) {
    segments = {{mono, wall}};
    ahead = 0;
}

long long LineClock::NotBefore(std::time_t floor, TimePoint mono) {
    const std::time_t now = At(mono);
    if (floor <= now)
        return 0;
    ahead += floor - now;
    Jump(floor, mono);
    return floor - now;
}

std::time_t LineClock::At(TimePoint mono) const {
    if (segments.empty())
        return 0;
    // Frames may be handed over after a step that came later than they did: each instant is
    // labelled by the segment it fell in.
    auto it = segments.end();
    while (it != segments.begin() + 1 && std::prev(it)->from > mono)
        --it;
    const Segment& s = *std::prev(it);
    return s.second + static_cast<std::time_t>(FloorSeconds(s.from, mono));
}

void LineClock::Jump(std::time_t second, TimePoint mono) {
    // The instant of the jump begins the new second: the second in hand is cut short.
    segments.push_back({mono, second});
    if (segments.size() > 4)
        segments.erase(segments.begin());
}

std::optional<LineClock::Step> LineClock::Check(std::time_t wall, TimePoint mono) {
    const std::time_t line = At(mono);
    // Where the wall clock should stand, given how far the line already runs ahead of it.
    const long long moved = static_cast<long long>(wall) - (line - ahead);
    if (moved > kStepSeconds) {
        // Forward: first the line's lead is used up, then the line follows the wall.
        const long long beyond = moved - ahead;
        ahead = beyond > 0 ? 0 : ahead - moved;
        if (beyond > 0)
            Jump(line + static_cast<std::time_t>(beyond), mono);
        return Step{moved, At(mono)};
    }
    if (moved < -kStepSeconds) {
        ahead -= moved;
        return Step{moved, line};
    }
    return std::nullopt;
}

}  // namespace kestrel
