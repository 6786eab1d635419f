// The line memory's figures and journal as JSON lines, shared by kestrel-replay and kestrel-history.
#pragma once

#include <string>

#include "performance/Figures.h"
#include "performance/Journal.h"

namespace kestrel {

// {"object":…,"start":…,"available":…,"unavailable":…,"notMeasured":…,"es":…,"ses":…,
//  "dm":…,"errors":…}; dm and errors are null for tributaries.
std::string IntervalJson(int object, std::time_t start, const Figures& figures);
// {"object":…,"severity":…,"start":…,"end":…} and, when asked, "acknowledged":….
std::string JournalJson(const JournalEntry& entry, bool withAcknowledged);
// An optional time as ISO 8601 UTC, or `none` without one.
std::string OptionalIso(const std::optional<std::time_t>& t, const std::string& none);

}  // namespace kestrel
