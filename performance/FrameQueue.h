// Hands the frames the parser applies on the receive thread over to the line memory's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "monitor/FrameParser.h"
#include "monitor/MonitorState.h"
#include "performance/Figures.h"

namespace kestrel {

// One applied frame as the line memory needs it, taken right after the pass that applied
// it (on the parser's thread, so the state is the frame's own).
FrameSecond FrameSecondFrom(const PassReport& report, const MonitorState& state);

struct StampedFrame {
    FrameSecond frame;
    // When the frame's last character arrived (monotonic clock), which is the second the frame
    // measures, however many calls later the parser decoded it.
    std::chrono::steady_clock::time_point arrived;
};

// A gap in what the line sent: nothing at all arrived between these two instants.
struct Silence {
    std::chrono::steady_clock::time_point from;  // the last characters before it
    std::chrono::steady_clock::time_point to;    // the first characters after it
};

// Listens to the parser: each applied frame is stamped with the arrival time of its last
// character and queued; the session takes the queue at its tick. Gaps between arrivals longer
// than `silenceAfter` are queued as silences: a noisy line whose frames do not decode still
// sends, and only a line that sends nothing is silent. Never blocks the receive thread for
// longer than a vector append, and never on the database.
class FrameQueue : public PassListener {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    explicit FrameQueue(const MonitorState& state,
                        std::chrono::milliseconds silenceAfter = std::chrono::milliseconds(2500));

    // On the parser's thread, just before each parser call: that call brings `size`
    // characters, which arrived at `at`.
    void Arrived(std::size_t size, TimePoint at);
    void OnPass(const PassReport& report) override;
    // On the parser's thread, just after each parser call: the parser still holds `buffered`
    // characters undecoded (a resynchronisation leaves frames for the next call).
    void Parsed(std::size_t buffered);
    // When the oldest characters the parser still holds arrived: a frame decoded from them
    // later measures a second from then on. Empty while it holds none.
    std::optional<TimePoint> HeldSince();
    // Everything queued since the last call, oldest first.
    std::vector<StampedFrame> Take();
    std::vector<Silence> TakeSilences();
    // When characters last arrived; empty before the first.
    std::optional<TimePoint> LastArrival();

private:
    // The parser's calls whose characters it may still hold: where each call's text ends in
    // the stream, and when it came. Only the parser's thread touches it.
    struct Chunk {
        std::uint64_t end;
        TimePoint at;
    };
    std::deque<Chunk> chunks;
    std::uint64_t received = 0;

    const MonitorState& state;
    const std::chrono::milliseconds silenceAfter;
    std::mutex mutex;
    std::vector<StampedFrame> frames;
    std::vector<Silence> silences;
    std::optional<TimePoint> lastArrival;
    std::optional<TimePoint> heldSince;
};

}  // namespace kestrel
