// kestrel-replay --performance: a capture through the line memory, time taken from the passes.
#pragma once

#include <cstdio>
#include <ctime>
#include <iosfwd>
#include <string>

#include "tools/replay/Replay.h"

namespace kestrel {

struct PerformanceOptions {
    bool enabled = false;
    std::time_t start = 0;
    bool haveStart = false;
    std::string db;  // also store into this database when given
};

// Takes --performance, --start TIME and --db FILE out of the command line (before "--"),
// leaving the rest for ParseReplayArgs. False with `error` on a bad or missing value.
bool TakePerformanceArgs(int& argc, char** argv, PerformanceOptions& options, std::string& error);

// Pass n of the parser is the second start + n - 1; a pass that applied no frame is a
// not-measured second. Prints every completed 15-minute interval, then the journal.
// Returns the exit status.
int ReplayPerformance(std::FILE* in, const ReplayOptions& replay,
                      const PerformanceOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrel
