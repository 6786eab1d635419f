// Helpers shared by the statistics tests: temporary folders, file contents, fixed times.
#pragma once

#include <ctime>

#include "tests/ScopedLocale.h"
#include "tests/TestFiles.h"

namespace kestrel::test {

// Calendar time of a local date and time, as the clock of the monitor would give it.
inline std::time_t LocalTime(int year, int month, int day, int hour, int min, int sec) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

}  // namespace kestrel::test
