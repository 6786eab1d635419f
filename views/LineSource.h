// What the window's views of the line read and do: the session's memory and acknowledgements.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>

#include "performance/LineMemory.h"

namespace kestrel {

// The window passes its session's memory; tests pass a LineMemory of their own. Every member
// is called on the user-interface thread, where the session's ticks run.
struct LineSource {
    std::function<const LineMemory&()> memory;
    // Acknowledge one journal entry by id, or every unacknowledged one, at the current time;
    // the memory writes the acknowledgement to its database with the next tick.
    std::function<bool(std::int64_t id)> acknowledge;
    std::function<int()> acknowledgeAll;
    // The wall clock the memory's seconds are stamped with.
    std::function<std::time_t()> now;
};

}  // namespace kestrel
