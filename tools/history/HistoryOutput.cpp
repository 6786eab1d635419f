// kestrel-history's output: the figures and entries as tables, CSV or JSON lines.
#include "tools/history/HistoryOutput.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>

#include "performance/Report.h"

namespace kestrel {

namespace {

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

    void Print(HistoryFormat format, std::ostream& out) const {
        std::string line;
        for (const Field& f : fields) {
            if (format == HistoryFormat::Json)
                line += (line.empty() ? "{\"" : ",\"") + f.key + "\":" + f.json;
            else
                line += (line.empty() ? "" : ",") + f.csv;
        }
        out << line << (format == HistoryFormat::Json ? "}\n" : "\n");
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

}  // namespace

void PrintIntervals(const std::vector<IntervalRow>& rows, HistoryFormat format, std::ostream& out) {
    if (format == HistoryFormat::Csv) {
        IntervalFields(IntervalRow{}).PrintHeader(out);
    } else if (format == HistoryFormat::Table) {
        out << Pad("object", 14, true) << Pad("start (UTC)", 21, true) << Pad("avail", 6)
            << Pad("unavail", 8) << Pad("not meas", 9) << Pad("ES", 6) << Pad("SES", 6)
            << Pad("DM", 5) << Pad("errors", 9) << Pad("UAS%", 9) << Pad("ES%", 9) << Pad("SES%", 9)
            << Pad("DM%", 9) << Pad("avail%", 9) << Pad("not meas%", 10) << '\n';
    }
    for (const IntervalRow& r : rows) {
        if (format != HistoryFormat::Table) {
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
    if (format == HistoryFormat::Table)
        out << "* still running; ! fails its objective (ES >= 8%, SES >= 0.2%, DM >= 10%)\n"
               "UAS%, avail% and not meas% are of the elapsed time, ES% and SES% of the "
               "available time, DM% of the minutes counted\n";
}

namespace {

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

}  // namespace

void PrintJournal(const std::vector<JournalEntry>& entries, HistoryFormat format,
                  std::ostream& out) {
    if (format == HistoryFormat::Csv) {
        JournalFields(JournalEntry{}).PrintHeader(out);
    } else if (format == HistoryFormat::Table) {
        out << Pad("id", 7) << "  " << Pad("object", 27, true) << Pad("severity", 9, true)
            << Pad("start (UTC)", 21, true) << Pad("end (UTC)", 21, true)
            << Pad("acknowledged", 21, true) << Pad("unknown since (UTC)", 21, true) << "note\n";
    }
    for (const JournalEntry& e : entries) {
        if (format != HistoryFormat::Table) {
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

}  // namespace kestrel
