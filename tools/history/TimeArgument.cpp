// Times as an operator types them: ISO 8601, local dates and times, words, relative times.
#include "tools/history/TimeArgument.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "performance/Figures.h"

namespace kestrel {

namespace {

// The last second ParseIsoTime takes: 2200-12-31T23:59:59Z.
constexpr std::time_t kLatest = 7289654399;

struct Civil {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Digits at text[pos..pos+n) as a number; -1 when any is not a digit.
int Digits(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos + n > text.size())
        return -1;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// "HH:MM" or "HH:MM:SS" at pos: the characters read, 0 when there is none.
std::size_t ReadClock(std::string_view s, std::size_t pos, Civil& c) {
    c.hour = Digits(s, pos, 2);
    c.minute = Digits(s, pos + 3, 2);
    if (c.hour < 0 || c.minute < 0 || s[pos + 2] != ':')
        return 0;
    c.second = 0;
    if (pos + 5 < s.size() && s[pos + 5] == ':') {
        c.second = Digits(s, pos + 6, 2);
        return c.second < 0 ? 0 : 8;
    }
    return 5;
}

bool DateExists(const Civil& c) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
    return c.month >= 1 && c.month <= 12 && c.day >= 1 &&
           c.day <= kDays[c.month - 1] + (c.month == 2 && leap ? 1 : 0);
}

// Unix time has no leap second, and 24:00 is the next day's 00:00 under another name.
bool ClockExists(const Civil& c) {
    return c.hour <= 23 && c.minute <= 59 && c.second <= 59;
}

std::tm TmOf(const Civil& c, int isdst) {
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = isdst;
    return tm;
}

// The seconds a local date and time names: none when the clocks skipped it, two when they
// passed it twice, one otherwise. mktime would quietly move a skipped time an hour on and pick
// one of two, so each reading is checked by turning it back into local time.
std::vector<std::time_t> LocalSeconds(const Civil& c) {
    std::vector<std::time_t> out;
    for (const int isdst : {0, 1}) {
        std::tm tm = TmOf(c, isdst);
        const std::time_t t = std::mktime(&tm);
        std::tm back{};
        if (t == -1 || localtime_r(&t, &back) == nullptr)
            continue;
        const std::tm wanted = TmOf(c, isdst);
        if (back.tm_year == wanted.tm_year && back.tm_mon == wanted.tm_mon &&
            back.tm_mday == wanted.tm_mday && back.tm_hour == wanted.tm_hour &&
            back.tm_min == wanted.tm_min && back.tm_sec == wanted.tm_sec &&
            std::find(out.begin(), out.end(), t) == out.end())
            out.push_back(t);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A local time with its offset, which says which of two readings is meant.
std::string LocalIso(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    const long offset = tm.tm_gmtoff < 0 ? -tm.tm_gmtoff : tm.tm_gmtoff;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_gmtoff < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
    return buf;
}

// The text as the user gave it, in quotes.
std::string Quoted(std::string_view text) {
    std::string quoted = "'";
    quoted.append(text);
    return quoted + "'";
}

// The start of a local day: where the line memory's day intervals begin. Noon exists on
// every day, even where the clocks skip midnight.
std::time_t DayStart(int year, int month, int day) {
    std::tm noon{};
    noon.tm_year = year - 1900;
    noon.tm_mon = month - 1;
    noon.tm_mday = day;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    return BinOf(BinKind::Day, std::mktime(&noon)).start;
}

std::optional<std::time_t> Local(std::string_view text, const Civil& c, std::string& error) {
    const std::vector<std::time_t> seconds = LocalSeconds(c);
    if (seconds.empty()) {
        error = Quoted(text) + " does not exist in local time: the clocks went forward over it";
        return std::nullopt;
    }
    if (seconds.size() > 1) {
        error = Quoted(text) +
                " happens twice in local time; say which: " + LocalIso(seconds.front()) + " or " +
                LocalIso(seconds.back());
        return std::nullopt;
    }
    return seconds.front();
}

// "-2h", "+1h30min", "2 days ago": seconds from now, as systemd reads spans; a bare number
// is seconds.
std::optional<long long> Relative(std::string_view s) {
    int sign = 0;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        sign = s[0] == '-' ? -1 : 1;
        s.remove_prefix(1);
    } else if (s.size() > 4 && s.substr(s.size() - 4) == " ago") {
        sign = -1;
        s.remove_suffix(4);
    } else {
        return std::nullopt;
    }
    static const std::pair<const char*, long long> kUnits[] = {
        {"s", 1},         {"sec", 1},     {"secs", 1},     {"second", 1},  {"seconds", 1},
        {"m", 60},        {"min", 60},    {"mins", 60},    {"minute", 60}, {"minutes", 60},
        {"h", 3600},      {"hr", 3600},   {"hrs", 3600},   {"hour", 3600}, {"hours", 3600},
        {"d", 86400},     {"day", 86400}, {"days", 86400}, {"w", 604800},  {"week", 604800},
        {"weeks", 604800}};
    constexpr long long kMost = 400LL * 366 * 86400;  // more than 1970 to 2200 in any case
    long long total = 0;
    std::size_t pos = 0;
    auto blanks = [&] {
        while (pos < s.size() && s[pos] == ' ')
            ++pos;
    };
    blanks();
    if (pos == s.size())
        return std::nullopt;
    while (pos < s.size()) {
        long long n = 0;
        const std::size_t digits = pos;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && n <= kMost)
            n = n * 10 + (s[pos++] - '0');
        if (pos == digits || n > kMost)
            return std::nullopt;
        blanks();
        const std::size_t letters = pos;
        while (pos < s.size() && std::isalpha(static_cast<unsigned char>(s[pos])))
            ++pos;
        const std::string_view unit = s.substr(letters, pos - letters);
        long long scale = unit.empty() ? 1 : 0;
        for (const auto& [name, seconds] : kUnits)
            scale = unit == name ? seconds : scale;
        if (scale == 0)
            return std::nullopt;
        total += n * scale;
        if (total > kMost)
            return std::nullopt;
        blanks();
    }
    return sign * total;
}

}  // namespace

std::optional<std::time_t> ParseTimeArgument(std::string_view text, std::time_t now,
                                             std::string& error) {
    const std::string quoted = Quoted(text);
    std::optional<std::time_t> t;
    std::tm today{};
    localtime_r(&now, &today);
    Civil c;
    if (text == "now") {
        t = now;
    } else if (text == "today" || text == "yesterday" || text == "tomorrow") {
        // Noon of the day before or after is that day, whatever the clocks do at midnight.
        std::tm noon = today;
        noon.tm_mday += text == "today" ? 0 : text == "yesterday" ? -1 : 1;
        noon.tm_hour = 12;
        noon.tm_min = noon.tm_sec = 0;
        noon.tm_isdst = -1;
        t = BinOf(BinKind::Day, std::mktime(&noon)).start;
    } else if (const auto seconds = Relative(text)) {
        t = now + *seconds;
    } else if (text.size() >= 5 && text.size() <= 8 && ReadClock(text, 0, c) == text.size()) {
        if (!ClockExists(c)) {
            error = quoted + " is not a time of day";
            return std::nullopt;
        }
        c.year = today.tm_year + 1900;
        c.month = today.tm_mon + 1;
        c.day = today.tm_mday;
        if (!(t = Local(text, c, error)))
            return std::nullopt;
    } else {
        c.year = Digits(text, 0, 4);
        c.month = Digits(text, 5, 2);
        c.day = Digits(text, 8, 2);
        std::size_t clock = 0;
        if (text.size() > 10 && (text[10] == ' ' || text[10] == 'T' || text[10] == 't'))
            clock = ReadClock(text, 11, c);
        const std::size_t end = clock > 0 ? 11 + clock : 10;
        if (c.year < 0 || c.month < 0 || c.day < 0 || text[4] != '-' || text[7] != '-' ||
            (text.size() > 10 && clock == 0)) {
            error = quoted +
                    " is not a time: give a date (2026-03-29), a local time (2026-03-29 06:00, "
                    "06:00), ISO 8601 with a zone (2026-03-29T06:00:00Z), now, today, "
                    "yesterday, tomorrow or a time from now (-2h, -30min, -1d)";
            return std::nullopt;
        }
        if (!DateExists(c)) {
            error = quoted + " is not a date: the month has no such day";
            return std::nullopt;
        }
        if (!ClockExists(c)) {
            error = quoted + " is not a time of day";
            return std::nullopt;
        }
        if (c.year < 1970 || c.year > 2200) {
            error = quoted + " is outside 1970 to 2200";
            return std::nullopt;
        }
        if (end < text.size()) {
            t = ParseIsoTime(text);
            if (!t) {
                error = quoted + " is not a time with a zone (Z, +hh:mm or -hh:mm) from 1970 on";
                return std::nullopt;
            }
        } else if (clock == 0) {
            t = DayStart(c.year, c.month, c.day);
        } else if (!(t = Local(text, c, error))) {
            return std::nullopt;
        }
    }
    if (*t < 0 || *t > kLatest) {
        error = quoted + " is outside 1970 to 2200";
        return std::nullopt;
    }
    return t;
}

}  // namespace kestrel
