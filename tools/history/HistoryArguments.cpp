// kestrel-history's command line: options, times, objects and severities read and checked.
#include "tools/history/HistoryArguments.h"

#include <fnmatch.h>

#include <algorithm>
#include <charconv>

#include "performance/Report.h"
#include "tools/history/TimeArgument.h"

namespace kestrel {

const char* const kHistoryUsage =
    "usage: kestrel-history [--db FILE] intervals [--15min|--24h] [--object OBJECT]...\n"
    "                       [--since TIME] [--until TIME] [-n N] [--reverse]\n"
    "                       [--format table|csv|json]\n"
    "       kestrel-history [--db FILE] journal [--object OBJECT]... [--severity LEVEL]\n"
    "                       [--active] [--unacknowledged] [--since TIME] [--until TIME]\n"
    "                       [-n N] [--reverse] [--format table|csv|json]\n"
    "       kestrel-history [--db FILE] ack ID...\n"
    "       kestrel-history [--db FILE] ack --all [--before TIME] [--object OBJECT]...\n"
    "                       [--severity LEVEL]\n"
    "Intervals: OBJECT is near, far, local-trib-N, remote-trib-N (N = 1..16), a pattern such\n"
    "as 'remote-trib-*', or all (the default). Journal: OBJECT is a journal object such as\n"
    "near:ais or link:no-data, a pattern such as 'remote-trib-*', or an interval object, which\n"
    "takes all its entries. LEVEL is minor, major or critical, and takes that and worse; or a\n"
    "range such as minor..major. --active: entries still open (unknown ones too).\n"
    "-n, --lines N: only the newest N lines. --reverse: newest first.\n"
    "TIME is a date (2026-03-29), a local time (2026-03-29 06:00, 06:00), ISO 8601 with a\n"
    "zone (2026-03-29T00:45:00Z), now, today, yesterday, or from now (-2h, -30min, -1d).\n"
    "--since takes what is at or after it, --until and --before what began before it.\n"
    "ack acknowledges journal entries by their ids, or all that nobody has, also while a\n"
    "monitor runs on the database. Without --db, the one database in\n"
    "$XDG_DATA_HOME/kestrel (~/.local/share/kestrel) is used.\n";

namespace {

// The commands, as bits: which take an option.
enum : unsigned { kIntervals = 1, kJournal = 2, kAck = 4 };

struct OptionUse {
    std::string_view name;
    unsigned commands;
};
constexpr OptionUse kOptionUses[] = {
    {"--15min", kIntervals},
    {"--24h", kIntervals},
    {"--object", kIntervals | kJournal | kAck},
    {"--since", kIntervals | kJournal},
    {"--until", kIntervals | kJournal},
    {"--lines", kIntervals | kJournal},
    {"--reverse", kIntervals | kJournal},
    {"--format", kIntervals | kJournal},
    {"--severity", kJournal | kAck},
    {"--active", kJournal},
    {"--unacknowledged", kJournal},
    {"--all", kAck},
    {"--before", kAck},
};

std::optional<Severity> SeverityNamed(std::string_view name) {
    for (const Severity s : {Severity::Critical, Severity::Major, Severity::Minor}) {
        if (name == SeverityName(s))
            return s;
    }
    return std::nullopt;
}

// "major" takes major and critical; "minor..major" the two.
bool ParseSeverity(std::string_view text, HistoryArgs& a) {
    const auto dots = text.find("..");
    const auto first = SeverityNamed(text.substr(0, dots));
    const auto second =
        dots == std::string_view::npos ? Severity::Critical : SeverityNamed(text.substr(dots + 2));
    if (!first || !second)
        return false;
    a.worst = std::min(*first, *second);
    a.mildest = std::max(*first, *second);
    return true;
}

// Whether a pattern takes a name: the whole name, as the shell matches file names.
bool Matches(const std::string& pattern, const std::string& name) {
    return pattern == "all" || ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

// The interval objects the patterns take, by index; false with `error` for a pattern that
// takes none, which is a mistake rather than a wish for nothing.
bool IntervalObjects(const HistoryArgs& a, std::vector<bool>& taken, std::string& error) {
    taken.assign(kObjectCount, a.objects.empty());
    for (const std::string& pattern : a.objects) {
        bool any = false;
        for (int o = 0; o < kObjectCount; ++o) {
            if (Matches(pattern, ObjectName(o)))
                taken[static_cast<std::size_t>(o)] = any = true;
        }
        if (!any) {
            error = "unknown object '" + pattern + "'";
            return false;
        }
    }
    return true;
}

// The journal objects the patterns and severities take; absent when neither narrows. An
// interval object's name ("near", "remote-trib-3") takes all its entries.
bool JournalObjects(const HistoryArgs& a, std::optional<std::vector<std::string>>& taken,
                    std::string& error) {
    std::vector<bool> byPattern(kJournalStates, a.objects.empty());
    for (const std::string& pattern : a.objects) {
        bool any = false;
        for (int s = 0; s < kJournalStates; ++s) {
            const std::string& name = JournalObjectName(s);
            if (Matches(pattern, name) || Matches(pattern, name.substr(0, name.find(':'))))
                byPattern[static_cast<std::size_t>(s)] = any = true;
        }
        if (!any) {
            error = "unknown object '" + pattern + "'";
            return false;
        }
    }
    if (a.objects.empty() && a.worst == Severity::Critical && a.mildest == Severity::Minor)
        return true;
    taken.emplace();
    for (int s = 0; s < kJournalStates; ++s) {
        const Severity severity = JournalSeverity(s);
        if (byPattern[static_cast<std::size_t>(s)] && severity >= a.worst && severity <= a.mildest)
            taken->push_back(JournalObjectName(s));
    }
    return true;
}

}  // namespace

bool ParseHistoryArguments(int argc, char** argv, std::time_t now, HistoryArgs& a,
                           std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        auto needValue = [&]() {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + std::string(arg) + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        // -n5 and -n 5 are --lines 5.
        if (arg == "-n") {
            arg = "--lines";
        } else if (arg.starts_with("-n")) {
            value = arg.substr(2);
            arg = "--lines";
        }
        const std::string_view name = arg.substr(0, arg.find('='));
        const auto use = std::find_if(std::begin(kOptionUses), std::end(kOptionUses),
                                      [&](const OptionUse& o) { return o.name == name; });
        if (use != std::end(kOptionUses))
            a.given.push_back(use->name);
        if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--version" || arg == "-v") {
            a.version = true;
        } else if (arg == "--15min") {
            a.kind = BinKind::Quarter;
        } else if (arg == "--24h") {
            a.kind = BinKind::Day;
        } else if (arg == "--active") {
            a.active = true;
        } else if (arg == "--unacknowledged") {
            a.unacknowledged = true;
        } else if (arg == "--reverse") {
            a.reverse = true;
        } else if (arg == "--all") {
            a.all = true;
        } else if (name == "--db" || name == "--object" || name == "--severity" ||
                   name == "--since" || name == "--until" || name == "--before" ||
                   name == "--lines" || name == "--format") {
            if (value.empty() && !needValue())
                return false;
            if (name == "--db") {
                a.db = std::string(value);
            } else if (name == "--object") {
                a.objects.emplace_back(value);
            } else if (name == "--severity") {
                if (!ParseSeverity(value, a)) {
                    error =
                        "--severity must be minor, major or critical, or a range such as "
                        "minor..major, not '" +
                        std::string(value) + "'";
                    return false;
                }
            } else if (name == "--since" || name == "--until" || name == "--before") {
                const auto t = ParseTimeArgument(value, now, error);
                if (!t) {
                    error = std::string(name) + ": " + error;
                    return false;
                }
                if (name == "--since")
                    a.since = *t;
                else
                    (name == "--until" ? a.until : a.before) = *t;
            } else if (name == "--lines") {
                std::size_t n = 0;
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), n);
                if (ec != std::errc() || end != value.data() + value.size()) {
                    error = "--lines must be a number of lines, not '" + std::string(value) + "'";
                    return false;
                }
                a.lines = n;
            } else if (value == "table" || value == "csv" || value == "json") {
                a.format = value == "table" ? HistoryFormat::Table
                           : value == "csv" ? HistoryFormat::Csv
                                            : HistoryFormat::Json;
            } else {
                error = "--format must be table, csv or json, not '" + std::string(value) + "'";
                return false;
            }
        } else if (arg.starts_with("-")) {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        } else if (a.command.empty() && (arg == "intervals" || arg == "journal" || arg == "ack")) {
            a.command = std::string(arg);
        } else if (a.command == "ack") {
            std::int64_t id = 0;
            const auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), id);
            if (ec != std::errc() || end != arg.data() + arg.size() || id <= 0) {
                error =
                    "a journal entry is named by its id, a number, not '" + std::string(arg) + "'";
                return false;
            }
            a.ids.push_back(id);
        } else {
            error = "unexpected argument '" + std::string(arg) + "'";
            return false;
        }
    }
    if (a.help || a.version)
        return true;
    if (a.command.empty()) {
        error = "say intervals, journal or ack";
        return false;
    }
    const unsigned command = a.command == "intervals" ? kIntervals
                             : a.command == "journal" ? kJournal
                                                      : kAck;
    for (const std::string_view option : a.given) {
        const auto use = std::find_if(std::begin(kOptionUses), std::end(kOptionUses),
                                      [&](const OptionUse& o) { return o.name == option; });
        if ((use->commands & command) == 0) {
            error = std::string(option) + " does not go with " + a.command;
            return false;
        }
        if (command == kAck && !a.all) {
            error = std::string(option) + " goes with ack --all";
            return false;
        }
    }
    if (command == kAck && a.all == !a.ids.empty()) {
        error = a.all ? "ack takes ids or --all, not both"
                      : "say which entries to acknowledge: their ids, or --all";
        return false;
    }
    if (a.until && *a.until <= a.since) {
        error = "--until (" + IsoUtc(*a.until) + ") must be later than --since (" +
                IsoUtc(a.since) + ")";
        return false;
    }
    return command == kIntervals ? IntervalObjects(a, a.intervalObjects, error)
                                 : JournalObjects(a, a.journalObjects, error);
}

}  // namespace kestrel
