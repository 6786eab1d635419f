// Hands the frames the parser applies on the receive thread over to the line memory's thread.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
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
    std::time_t second = 0;  // wall-clock second in which the frame was applied
};

// Listens to the parser: each applied frame is stamped with the wall clock and queued; the
// session takes the queue at its tick. Never blocks the receive thread for longer than a
// vector append, and never on the database.
class FrameQueue : public PassListener {
public:
    using Clock = std::function<std::time_t()>;
    explicit FrameQueue(const MonitorState& state, Clock clock = nullptr);

    void OnPass(const PassReport& report) override;
    // Everything queued since the last call, oldest first.
    std::vector<StampedFrame> Take();

private:
    const MonitorState& state;
    Clock clock;
    std::mutex mutex;
    std::vector<StampedFrame> frames;
};

}  // namespace kestrel
