// kestrel-replay --performance: a capture through the line memory, in the seconds of the line.
#pragma once

#include <cstdio>
#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

#include "performance/Figures.h"
#include "tools/replay/Replay.h"

namespace kestrel {

struct PerformanceOptions {
    bool enabled = false;
    std::time_t start = 0;
    bool haveStart = false;
    std::string db;        // also store into this database when given
    bool replace = false;  // the capture takes the place of seconds the database holds
};

// Takes --performance, --start TIME, --db FILE and --replace out of the command line (before
// "--"), leaving the rest for ParseReplayArgs. False with `error` on a bad or missing value.
bool TakePerformanceArgs(int& argc, char** argv, PerformanceOptions& options, std::string& error);

// A capture decoded as the line brought it: call n of the parser is the second start + n, each
// frame in the second of the call that brought its last character.
struct DecodedLine {
    struct Frame {
        std::time_t second;
        FrameSecond frame;
    };
    std::vector<Frame> frames;
    std::time_t end = 0;  // the second after the capture's last
    std::string error;    // why the capture could not be read to its end
};

// A timed capture gives one call per second; a plain byte stream one call per 45 characters,
// the pace of a MUX that sends a frame a second.
DecodedLine DecodeLine(const ByteReader& read, std::time_t start);

// Prints every completed 15-minute interval, then the journal. Refuses (status 2) a capture
// that reaches past `now` (0: the clock), and seconds the database already holds unless told
// to replace them. Returns the exit status.
int ReplayPerformance(std::FILE* in, const ReplayOptions& replay, const PerformanceOptions& options,
                      std::ostream& out, std::ostream& err, std::time_t now = 0);

}  // namespace kestrel
