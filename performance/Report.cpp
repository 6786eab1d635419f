// JSON lines of intervals and journal entries.
#include "performance/Report.h"

namespace kestrel {

namespace {

void Key(std::string& out, const char* name, const std::string& value) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += name;
    out += "\":";
    out += value;
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";  // names and ISO times hold nothing to escape
}

}  // namespace

std::string OptionalIso(const std::optional<std::time_t>& t, const std::string& none) {
    return t ? IsoUtc(*t) : none;
}

std::string IntervalJson(int object, std::time_t start, const Figures& f) {
    std::string out = "{";
    Key(out, "object", Quoted(ObjectName(object)));
    Key(out, "start", Quoted(IsoUtc(start)));
    Key(out, "available", std::to_string(f.available));
    Key(out, "unavailable", std::to_string(f.unavailable));
    Key(out, "notMeasured", std::to_string(f.notMeasured));
    Key(out, "es", std::to_string(f.es));
    Key(out, "ses", std::to_string(f.ses));
    const bool end = IsLineEnd(object);
    Key(out, "dm", end ? std::to_string(f.dm) : "null");
    Key(out, "errors", end ? std::to_string(f.errors) : "null");
    return out + "}";
}

std::string JournalJson(const JournalEntry& e, bool withAcknowledged) {
    std::string out = "{";
    Key(out, "object", Quoted(e.Object()));
    Key(out, "severity", Quoted(SeverityName(e.GetSeverity())));
    Key(out, "start", Quoted(IsoUtc(e.start)));
    Key(out, "end", e.end ? Quoted(IsoUtc(*e.end)) : "null");
    if (withAcknowledged)
        Key(out, "acknowledged", e.acknowledged ? Quoted(IsoUtc(*e.acknowledged)) : "null");
    return out + "}";
}

}  // namespace kestrel
