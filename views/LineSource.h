// What the window's views of the line read and do: the session's memory and acknowledgements.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

#include "performance/LineMemory.h"

namespace kestrel {

// The window passes its session's memory; tests pass a LineMemory of their own. Every member
// is called on the user-interface thread, where the session's ticks run.
struct LineSource {
    std::function<const LineMemory&()> memory;
    // Acknowledge journal entries by id, or every unacknowledged one, at the current time;
    // the memory writes them to its database at once, in one transaction. Both return how
    // many entries they acknowledged.
    std::function<int(const std::vector<std::int64_t>& ids)> acknowledge;
    std::function<int()> acknowledgeAll;
    // The line second now: the memory's seconds, counted on a clock the wall clock's steps
    // do not move.
    std::function<std::time_t()> now;
};

}  // namespace kestrel
