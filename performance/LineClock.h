// Line time: seconds counted on the monotonic clock and labelled with the wall clock.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <vector>

namespace kestrel {

// A wall clock can be stepped (NTP, a hand) while the line goes on at one second a second.
// The line memory counts its seconds here, so that a step neither loses seconds nor counts
// any twice; the wall clock only tells which interval a second belongs to.
class LineClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // Steps of the wall clock up to this are the jitter of reading two clocks in whole seconds.
    static constexpr long long kStepSeconds = 2;

    struct Step {
        long long seconds = 0;  // > 0 forward, < 0 back
        std::time_t at = 0;     // the line second it was noticed in, after the step
    };

    // The line second `wall` begins now, at `mono`.
    void Start(std::time_t wall, TimePoint mono);
    // A line whose memory already holds seconds up to `floor` (exclusive) goes on after them:
    // the line runs ahead of the wall clock until it catches up. Returns how far ahead.
    long long NotBefore(std::time_t floor, TimePoint mono);
    // The line second of a monotonic instant.
    std::time_t At(TimePoint mono) const;
    // Compares the wall clock with the line. A forward step moves the line on (the seconds
    // skipped were never lived); a back step leaves it running ahead of the wall clock until
    // the wall catches up. Returns the step, if any.
    std::optional<Step> Check(std::time_t wall, TimePoint mono);
    // How many seconds the line runs ahead of the wall clock after back steps.
    long long Ahead() const { return ahead; }

private:
    struct Segment {
        TimePoint from;      // the segment holds instants from here on
        std::time_t second;  // the line second that begins at `from`
    };
    void Jump(std::time_t second, TimePoint mono);

    std::vector<Segment> segments;  // oldest first; a few at most
    long long ahead = 0;
};

}  // namespace kestrel
