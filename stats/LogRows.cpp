// Formatting of the mark, alarm and counts rows of the statistics files.
#include "stats/LogRows.h"

#include <charconv>
#include <string_view>

namespace kestrel {

namespace {

void AppendTwoDigits(std::string& out, int value) {
    value = ((value % 100) + 100) % 100;
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

// Counters are written unsigned, as the files always have; they are never negative.
void AppendUnsigned(std::string& out, std::int64_t value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(value));
    out.append(buf, res.ptr);
}

constexpr std::array<std::string_view, 8> kAlarmTexts = {
    "NoInputSignal ", "AIS ", "LOF ", "RAI ", "NoInputSignal_R ", "AIS_R ", "LOF_R ", "RAI_R ",
};

}  // namespace

std::string DateTimeField(std::time_t t) {
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) {
        tm = std::tm{};
    }
    std::string out;
    out.reserve(17);
    AppendTwoDigits(out, tm.tm_mday);
    out += '/';
    AppendTwoDigits(out, tm.tm_mon + 1);
    out += '/';
    AppendTwoDigits(out, tm.tm_year);  // years since 1900; the last two digits of the year
    out += ',';
    AppendTwoDigits(out, tm.tm_hour);
    out += ':';
    AppendTwoDigits(out, tm.tm_min);
    out += ':';
    AppendTwoDigits(out, tm.tm_sec);
    return out;
}

std::string MarkRow(MarkForm form, bool connected, std::time_t t) {
    std::string row = DateTimeField(t);
    switch (form) {
        case MarkForm::EventLog:
            // Connection marker and ten empty fields: thirteen fields in all.
            row += connected ? "," : ",NC";
            row += ",,,,,,,,,,";
            break;
        case MarkForm::G821OnOff:
            if (!connected) {
                row += ",NC";
            }
            break;
        case MarkForm::G821ConnectionChange:
            row += connected ? "," : ",NC,";
            break;
    }
    return row;
}

std::string AlarmRow(const AlarmFlags& alarms, std::time_t t) {
    std::string row = DateTimeField(t);
    row += ",,";
    for (size_t i = 0; i < alarms.size(); ++i) {
        if (alarms[i]) {
            row += kAlarmTexts[i];
        }
        row += ',';
    }
    return row;
}

std::string CountsRow(const Counts& counts, std::time_t t) {
    std::string row = DateTimeField(t);
    row += ",,";
    AppendUnsigned(row, counts.localAlarmSeconds);
    row += ',';
    AppendUnsigned(row, counts.nearErrorsCumulative);
    row += ',';
    AppendUnsigned(row, counts.remoteAlarmSeconds);
    row += ',';
    AppendUnsigned(row, counts.farErrorsCumulative);
    return row;
}

AlarmFlags AlarmFlagsOf(const MonitorState& s) {
    return {s.localNoInputSignal.load() != 0,
            s.localAis.load() != 0,
            s.localLof.load() != 0,
            s.localRai.load() != 0,
            s.remoteNoInputSignal.load() != 0,
            s.remoteAis.load() != 0,
            s.remoteLof.load() != 0,
            s.remoteRai.load() != 0};
}

Counts CountsOf(const MonitorState& s) {
    return {s.localAlarmSeconds.load(), s.nearErrorsCumulative.load(), s.remoteAlarmSeconds.load(),
            s.farErrorsCumulative.load()};
}

}  // namespace kestrel
