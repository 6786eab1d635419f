// Object names, percentages, bins in local time and ISO 8601 times.
#include "performance/Figures.h"

#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {

std::array<std::string, kObjectCount> MakeNames() {
    std::array<std::string, kObjectCount> names;
    names[kNearObject] = "near";
    names[kFarObject] = "far";
    for (int t = 1; t <= 16; ++t) {
        names[kFirstLocalTribObject + t - 1] = "local-trib-" + std::to_string(t);
        names[kFirstRemoteTribObject + t - 1] = "remote-trib-" + std::to_string(t);
    }
    return names;
}

const std::array<std::string, kObjectCount>& Names() {
    static const auto names = MakeNames();
    return names;
}

std::optional<double> Share(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

// Digits at text[pos..pos+n) as a number; -1 when any is not a digit.
int Digits(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos + n > text.size())
        return -1;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

}  // namespace

const std::string& ObjectName(int object) {
    return Names().at(static_cast<std::size_t>(object));
}

std::optional<int> ObjectIndex(std::string_view name) {
    for (int i = 0; i < kObjectCount; ++i) {
        if (Names()[static_cast<std::size_t>(i)] == name)
            return i;
    }
    return std::nullopt;
}

Percentages PercentagesOf(const Figures& f) {
    Percentages p;
    // One base for the three shares of time: a quarter half of which was not measured reads
    // 50 % not measured, not 100 % available.
    const std::int64_t elapsed = f.available + f.unavailable + f.notMeasured;
    p.available = Share(f.available, elapsed);
    p.unavailable = Share(f.unavailable, elapsed);
    p.notMeasured = Share(f.notMeasured, elapsed);
    p.es = Share(f.es, f.available);
    p.ses = Share(f.ses, f.available);
    p.dm = Share(f.dm, f.minutes);
    p.esFailing = p.es && *p.es >= 8.0;
    p.sesFailing = p.ses && *p.ses >= 0.2;
    p.dmFailing = p.dm && *p.dm >= 10.0;
    return p;
}

std::string PercentText(const std::optional<double>& share) {
    if (!share)
        return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", *share);
    std::string s = buf;
    // Trailing zeros say nothing: 12.50 reads 12.5, 3.00 reads 3.
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s + "%";
}

const char* BinKindName(BinKind kind) {
    return kind == BinKind::Quarter ? "15min" : "24h";
}

BinSpan BinOf(BinKind kind, std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    if (kind == BinKind::Quarter) {
        // Zone offsets are whole quarter hours wherever daylight saving applies, so the
        // local quarter starts this many seconds back and always lasts 900 s.
        return {t - ((local.tm_min % 15) * 60 + local.tm_sec), 900};
    }
    std::tm midnight = local;
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    std::tm next = midnight;
    next.tm_mday += 1;
    const std::time_t start = std::mktime(&midnight);
    const std::time_t end = std::mktime(&next);
    return {start, static_cast<int>(end - start)};
}

std::string IsoUtc(std::time_t t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

std::optional<std::time_t> ParseIsoTime(std::string_view s) {
    // YYYY-MM-DDTHH:MM[:SS](Z|+hh[:mm]|-hh[:mm])
    const int year = Digits(s, 0, 4), month = Digits(s, 5, 2), day = Digits(s, 8, 2);
    const int hour = Digits(s, 11, 2), minute = Digits(s, 14, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || s[4] != '-' || s[7] != '-' ||
        (s[10] != 'T' && s[10] != 't' && s[10] != ' ') || s[13] != ':')
        return std::nullopt;
    std::size_t pos = 16;
    int second = 0;
    if (pos < s.size() && s[pos] == ':') {
        second = Digits(s, pos + 1, 2);
        // Unix time has no leap second: 23:59:60 would silently be the next day's first.
        if (second < 0 || second > 59)
            return std::nullopt;
        pos += 3;
    }
    // timegm would quietly move 30 February to 2 March; a date that does not exist is a
    // mistake to be told. Years outside these are mistakes too, not times of a line.
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || year > 2200 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0))
        return std::nullopt;
    if (pos >= s.size())
        return std::nullopt;  // a time without a zone means nothing to a log
    long offset = 0;
    if (s[pos] == 'Z' || s[pos] == 'z') {
        ++pos;
    } else if (s[pos] == '+' || s[pos] == '-') {
        const int sign = s[pos] == '-' ? -1 : 1;
        const int oh = Digits(s, pos + 1, 2);
        if (oh < 0 || oh > 23)
            return std::nullopt;
        pos += 3;
        int om = 0;
        if (pos < s.size()) {
            if (s[pos] == ':')
                ++pos;
            om = Digits(s, pos, 2);
            if (om < 0 || om > 59)
                return std::nullopt;
            pos += 2;
        }
        offset = sign * (oh * 3600L + om * 60L);
    } else {
        return std::nullopt;
    }
    if (pos != s.size())
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = timegm(&tm) - offset;
    if (t < 0)
        return std::nullopt;  // 1970-01-01T00:30+01:00 is still 1969
    return t;
}

}  // namespace kestrel
