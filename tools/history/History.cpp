// kestrel-history: intervals and journal entries as tables, CSV or JSON lines.
#include "tools/history/History.h"

#include <fnmatch.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string_view>
#include <vector>

#include "files/RegularFile.h"
#include "performance/HistoryStore.h"
#include "performance/Report.h"
#include "tools/history/TimeArgument.h"

namespace kestrel {

namespace {

constexpr const char* kUsage =
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

enum class Format { Table, Csv, Json };

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

struct Args {
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
    Format format = Format::Table;
    bool help = false;
    bool version = false;
    // What the object patterns and severities take.
    std::vector<bool> intervalObjects;
    std::optional<std::vector<std::string>> journalObjects;
};

std::optional<Severity> SeverityNamed(std::string_view name) {
    for (const Severity s : {Severity::Critical, Severity::Major, Severity::Minor}) {
        if (name == SeverityName(s))
            return s;
    }
    return std::nullopt;
}

// "major" takes major and critical; "minor..major" the two.
bool ParseSeverity(std::string_view text, Args& a) {
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
bool IntervalObjects(const Args& a, std::vector<bool>& taken, std::string& error) {
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
bool JournalObjects(const Args& a, std::optional<std::vector<std::string>>& taken,
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

bool Parse(int argc, char** argv, std::time_t now, Args& a, std::string& error) {
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
                a.format = value == "table" ? Format::Table
                           : value == "csv" ? Format::Csv
                                            : Format::Json;
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

// The single database in the default folder, or an explanation.
std::string DefaultDatabase(std::string& error) {
    const auto folder = std::filesystem::path(DefaultHistoryPath("x")).parent_path();
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (e.path().extension() == ".sqlite")
            found.push_back(e.path().string());
    }
    if (found.size() == 1)
        return found.front();
    error = found.empty() ? "no database in " + folder.string() + "; name one with --db"
                          : "several databases in " + folder.string() + "; name one with --db";
    return {};
}

std::string Number(std::int64_t v) {
    return std::to_string(v);
}

// A share with two decimals, the same in every format: 1.11, 100.00.
std::string Share(double share) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", share);
    return buf;
}

std::string Pad(std::string s, std::size_t width, bool left = false) {
    if (s.size() < width)
        s = left ? s + std::string(width - s.size(), ' ') : std::string(width - s.size(), ' ') + s;
    return s;
}

// A text as a JSON string; notes are the monitor's own words, but a quote or a backslash in
// one must not break the line.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A text as a CSV field: quoted, quotes doubled, when it holds a separator or a quote.
std::string CsvText(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// One line of CSV or JSON, its keys the database's column names: one list of fields makes
// both, and the CSV header too, so that they never disagree.
class Fields {
public:
    void Int(const char* key, std::optional<std::int64_t> v) {
        Add(key, v ? Number(*v) : "null", v ? Number(*v) : "");
    }
    void Text(const char* key, const std::string& text) {
        Add(key, text.empty() ? "null" : JsonString(text), CsvText(text));
    }
    void Flag(const char* key, bool on) { Add(key, on ? "true" : "false", on ? "1" : "0"); }
    // A time as the database keeps it: Unix seconds and the ISO 8601 twin.
    void Time(const std::string& key, std::optional<std::time_t> t) {
        Add(key + "_unix", t ? Number(*t) : "null", t ? Number(*t) : "");
        Add(key + "_utc", t ? JsonString(IsoUtc(*t)) : "null", t ? IsoUtc(*t) : "");
    }
    void Percent(const char* key, std::optional<double> share) {
        Add(key, share ? Share(*share) : "null", share ? Share(*share) : "");
    }

    void Print(Format format, std::ostream& out) const {
        std::string line;
        for (const Field& f : fields) {
            if (format == Format::Json)
                line += (line.empty() ? "{\"" : ",\"") + f.key + "\":" + f.json;
            else
                line += (line.empty() ? "" : ",") + f.csv;
        }
        out << line << (format == Format::Json ? "}\n" : "\n");
    }
    void PrintHeader(std::ostream& out) const {
        std::string line;
        for (const Field& f : fields)
            line += (line.empty() ? "" : ",") + f.key;
        out << line << '\n';
    }

private:
    struct Field {
        std::string key, json, csv;
    };
    void Add(std::string key, std::string json, std::string csv) {
        fields.push_back({std::move(key), std::move(json), std::move(csv)});
    }
    std::vector<Field> fields;
};

Fields IntervalFields(const IntervalRow& r) {
    const Figures& f = r.figures;
    const Percentages p = PercentagesOf(f);
    // The database leaves the line ends' own figures empty for tributaries.
    const bool end = IsLineEnd(r.object);
    auto endOnly = [end](std::int64_t v) { return end ? std::optional(v) : std::nullopt; };
    Fields row;
    row.Text("kind", BinKindName(r.kind));
    row.Text("object", ObjectName(r.object));
    row.Time("start", r.span.start);
    row.Int("length_s", r.span.length);
    row.Flag("complete", r.complete);
    row.Int("through_unix", r.through);
    row.Int("available", f.available);
    row.Int("unavailable", f.unavailable);
    row.Int("not_measured", f.notMeasured);
    row.Int("es", f.es);
    row.Int("ses", f.ses);
    row.Int("dm", endOnly(f.dm));
    row.Int("minutes", endOnly(f.minutes));
    row.Int("errors", endOnly(f.errors));
    row.Percent("available_percent", p.available);
    row.Percent("unavailable_percent", p.unavailable);
    row.Percent("not_measured_percent", p.notMeasured);
    row.Percent("es_percent", p.es);
    row.Percent("ses_percent", p.ses);
    row.Percent("dm_percent", end ? p.dm : std::nullopt);
    return row;
}

// Failing figures carry a '!' so that they stand out in a terminal.
std::string Marked(const std::optional<double>& share, bool failing) {
    return share ? Share(*share) + (failing ? "%!" : "% ") : "- ";
}

void PrintIntervals(const std::vector<IntervalRow>& rows, Format format, std::ostream& out) {
    if (format == Format::Csv) {
        IntervalFields(IntervalRow{}).PrintHeader(out);
    } else if (format == Format::Table) {
        out << Pad("object", 14, true) << Pad("start (UTC)", 21, true) << Pad("avail", 6)
            << Pad("unavail", 8) << Pad("not meas", 9) << Pad("ES", 6) << Pad("SES", 6)
            << Pad("DM", 5) << Pad("errors", 9) << Pad("UAS%", 9) << Pad("ES%", 9) << Pad("SES%", 9)
            << Pad("DM%", 9) << Pad("avail%", 9) << Pad("not meas%", 10) << '\n';
    }
    for (const IntervalRow& r : rows) {
        if (format != Format::Table) {
            IntervalFields(r).Print(format, out);
            continue;
        }
        const Figures& f = r.figures;
        const bool end = IsLineEnd(r.object);
        const Percentages p = PercentagesOf(f);
        out << Pad(ObjectName(r.object), 14, true)
            << Pad(IsoUtc(r.span.start) + (r.complete ? "" : "*"), 21, true)
            << Pad(Number(f.available), 6) << Pad(Number(f.unavailable), 8)
            << Pad(Number(f.notMeasured), 9) << Pad(Number(f.es), 6) << Pad(Number(f.ses), 6)
            << Pad(end ? Number(f.dm) : "-", 5) << Pad(end ? Number(f.errors) : "-", 9)
            << Pad(Marked(p.unavailable, false), 9) << Pad(Marked(p.es, p.esFailing), 9)
            << Pad(Marked(p.ses, p.sesFailing), 9) << Pad(end ? Marked(p.dm, p.dmFailing) : "- ", 9)
            << Pad(Marked(p.available, false), 9) << Pad(Marked(p.notMeasured, false), 10) << '\n';
    }
    if (format == Format::Table)
        out << "* still running; ! fails its objective (ES >= 8%, SES >= 0.2%, DM >= 10%)\n"
               "UAS%, avail% and not meas% are of the elapsed time, ES% and SES% of the "
               "available time, DM% of the minutes counted\n";
}

// Since when an open entry is unknown: the monitor lost sight of the line while it held.
// An entry that ended unseen says so instead; its end is when the monitor lost sight.
std::optional<std::time_t> UnknownSince(const JournalEntry& e) {
    return e.end ? std::nullopt : e.unknownSince;
}

Fields JournalFields(const JournalEntry& e) {
    Fields row;
    row.Int("id", e.id);
    row.Text("object", e.Object());
    row.Text("severity", SeverityName(e.GetSeverity()));
    row.Time("start", e.start);
    row.Time("end", e.end);
    row.Time("acknowledged", e.acknowledged);
    row.Time("unknown_since", UnknownSince(e));
    row.Flag("ended_unseen", e.endedUnseen);
    row.Text("note", e.note);
    return row;
}

void PrintJournal(const std::vector<JournalEntry>& entries, Format format, std::ostream& out) {
    if (format == Format::Csv) {
        JournalFields(JournalEntry{}).PrintHeader(out);
    } else if (format == Format::Table) {
        out << Pad("id", 7) << "  " << Pad("object", 27, true) << Pad("severity", 9, true)
            << Pad("start (UTC)", 21, true) << Pad("end (UTC)", 21, true)
            << Pad("acknowledged", 21, true) << Pad("unknown since (UTC)", 21, true) << "note\n";
    }
    for (const JournalEntry& e : entries) {
        if (format != Format::Table) {
            JournalFields(e).Print(format, out);
            continue;
        }
        // The end of an entry the monitor cannot see is not known; one that ended unseen
        // went at some time after the end shown.
        const std::string note = e.endedUnseen ? "ended unseen, at or after the end shown" : e.note;
        std::string line =
            Pad(Number(e.id), 7) + "  " + Pad(e.Object(), 27, true) +
            Pad(SeverityName(e.GetSeverity()), 9, true) + Pad(IsoUtc(e.start), 21, true) +
            Pad(OptionalIso(e.end, UnknownSince(e) ? "(unknown)" : "(active)"), 21, true) +
            Pad(OptionalIso(e.acknowledged, "no"), 21, true) +
            Pad(OptionalIso(UnknownSince(e), "-"), 21, true) + note;
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out << line << '\n';
    }
}

// Acknowledges the entries named, or all that nobody has; tells how many, and for each id
// named what kept it from being acknowledged now.
int Acknowledge(HistoryStore& store, const Args& args, std::time_t now, std::ostream& out,
                std::ostream& err) {
    JournalQuery query;
    query.ids = args.ids;
    if (args.all) {
        query.objects = args.journalObjects;
        query.until = args.before;
        query.unacknowledgedOnly = true;
    }
    const std::vector<JournalEntry> found = store.JournalEntries(query);
    int status = 0;
    for (const std::int64_t id : args.ids) {
        const auto e = std::find_if(found.begin(), found.end(),
                                    [id](const JournalEntry& f) { return f.id == id; });
        if (e == found.end()) {
            err << "kestrel-history: no entry " << id << " in the journal\n";
            status = 1;
        } else if (e->acknowledged) {
            err << "kestrel-history: entry " << id << " was acknowledged at "
                << IsoUtc(*e->acknowledged) << '\n';
        }
    }
    std::vector<std::int64_t> wanted, done;
    for (const JournalEntry& e : found) {
        if (!e.acknowledged)
            wanted.push_back(e.id);
    }
    std::string error;
    const bool ok = store.AcknowledgeJournal(wanted, now, done, error);
    out << "acknowledged " << done.size() << (done.size() == 1 ? " entry\n" : " entries\n");
    if (!ok) {
        err << "kestrel-history: " << store.Path() << ": " << error << '\n';
        return 1;
    }
    return status;
}

}  // namespace

int RunHistory(int argc, char** argv, std::ostream& out, std::ostream& err,
               std::optional<std::time_t> now) {
    Args args;
    std::string error;
    if (!now)
        now = std::time(nullptr);
    if (!Parse(argc, argv, *now, args, error)) {
        err << "kestrel-history: " << error << " (see --help)\n";
        return 2;
    }
    if (args.help) {
        out << kUsage;
        return 0;
    }
    if (args.version) {
        out << "kestrel-history 1.0\n";
        return 0;
    }
    if (args.db.empty())
        args.db = DefaultDatabase(error);
    // SQLite would wait in its open for a writer to a FIFO, and read a device for ever.
    if (!args.db.empty())
        error = RegularFileFault(args.db, false);
    HistoryStore store;
    if (args.db.empty() || !error.empty() ||
        !(args.command == "ack" ? store.OpenForAcknowledging(args.db, error)
                                : store.OpenReadOnly(args.db, error))) {
        err << "kestrel-history: " << (args.db.empty() ? "" : args.db + ": ") << error << '\n';
        return 1;
    }
    if (args.command == "ack") {
        return Acknowledge(store, args, *now, out, err);
    } else if (args.command == "intervals") {
        std::vector<IntervalRow> rows = store.Intervals(args.kind, std::nullopt, args.since);
        std::erase_if(rows, [&](const IntervalRow& r) {
            return !args.intervalObjects[static_cast<std::size_t>(r.object)] ||
                   (args.until && r.span.start >= *args.until);
        });
        if (args.lines && *args.lines < rows.size())
            rows.erase(rows.begin(), rows.end() - static_cast<std::ptrdiff_t>(*args.lines));
        if (args.reverse)
            std::reverse(rows.begin(), rows.end());
        PrintIntervals(rows, args.format, out);
    } else {
        JournalQuery query;
        query.objects = args.journalObjects;
        query.since = args.since;
        query.until = args.until;
        query.openOnly = args.active;
        query.unacknowledgedOnly = args.unacknowledged;
        query.newest = args.lines;
        std::vector<JournalEntry> entries = store.JournalEntries(query);
        if (args.reverse)
            std::reverse(entries.begin(), entries.end());
        PrintJournal(entries, args.format, out);
    }
    out.flush();
    return out ? 0 : 1;
}

}  // namespace kestrel
