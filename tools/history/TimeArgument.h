// Times as an operator types them for kestrel-history: dates, local times, relative times.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A time as journalctl takes them:
//   2026-03-29T00:45:00Z, 2026-03-29T01:45+01:00   ISO 8601 with a zone
//   2026-03-29                                      the start of that local day
//   2026-03-29 06:00, 2026-03-29 06:00:30           local time (also with a T)
//   06:00                                           today, local time
//   now, today, yesterday, tomorrow                 the last three at the local day's start
//   -2h, +30min, -1d, -1h30min, 2h ago              relative to `now`
// Days start where the line memory's 24-hour intervals do. Nullopt, with `error` saying why,
// for what does not exist: 30 February, a local time the clocks skipped, one they passed twice
// (the zone decides), a time outside 1970 to 2200.
std::optional<std::time_t> ParseTimeArgument(std::string_view text, std::time_t now,
                                             std::string& error);

}  // namespace kestrel
