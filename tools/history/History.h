// kestrel-history: lists the intervals and the journal of a line memory database.
#pragma once

#include <iosfwd>

namespace kestrel {

// Runs the command line; returns the exit status (0, 1 on an unreadable database, 2 on usage).
int RunHistory(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace kestrel
