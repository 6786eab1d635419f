// kestrel-history: lists the intervals and the journal of a line memory database.
#pragma once

#include <ctime>
#include <iosfwd>
#include <optional>

namespace kestrel {

// Runs the command line; returns the exit status (0, 1 on an unreadable database, 2 on usage).
// Relative times count from `now`, the clock's time unless given.
int RunHistory(int argc, char** argv, std::ostream& out, std::ostream& err,
               std::optional<std::time_t> now = std::nullopt);

}  // namespace kestrel
