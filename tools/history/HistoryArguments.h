// kestrel-history's command line: its usage, its options and what its patterns take.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "performance/Figures.h"
#include "performance/Journal.h"
#include "tools/history/HistoryOutput.h"

namespace kestrel {

extern const char* const kHistoryUsage;

struct HistoryArgs {
    std::string db;
    std::string command;
    std::vector<std::string_view> given;  // the options given, by their long names
    BinKind kind = BinKind::Quarter;
    std::vector<std::string> objects;  // patterns
    // The severities taken, most severe first: Critical .. Minor.
    Severity worst = Severity::Critical;
    Severity mildest = Severity::Minor;
    std::time_t since = 0;
    std::optional<std::time_t> until;
    std::optional<std::time_t> before;
    std::vector<std::int64_t> ids;
    bool all = false;
    bool active = false;
    bool unacknowledged = false;
    std::optional<std::size_t> lines;
    bool reverse = false;
    HistoryFormat format = HistoryFormat::Table;
    bool help = false;
    bool version = false;
    // What the object patterns and severities take.
    std::vector<bool> intervalObjects;
    std::optional<std::vector<std::string>> journalObjects;
};

// Reads the command line into `a`; relative times count from `now`. False with `error` for a
// command line that makes no sense, so that nothing is read or changed on a guess.
bool ParseHistoryArguments(int argc, char** argv, std::time_t now, HistoryArgs& a,
                           std::string& error);

}  // namespace kestrel
