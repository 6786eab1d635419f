// The three kinds of row of the statistics files, formatted byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "monitor/MonitorState.h"

namespace kestrel {

// Which file a mark row goes to and why it is written; the G821Log tells the two apart by a
// trailing separator.
enum class MarkForm {
    EventLog,              // any mark in the EventLog
    G821OnOff,             // G821Log, statistics switched on or off
    G821ConnectionChange,  // G821Log, the MUX connected or disconnected
};

// The eight 34 Mbit/s alarms in column order: local No Signal, AIS, LOF, RAI, then remote.
using AlarmFlags = std::array<bool, 8>;

// The four cumulative counters of a counts row.
struct Counts {
    std::int64_t localAlarmSeconds = 0;
    std::int64_t nearErrorsCumulative = 0;
    std::int64_t remoteAlarmSeconds = 0;
    std::int64_t farErrorsCumulative = 0;
};

// The rows below carry no line end; LogFile adds CR LF. They never consult the C library's
// locale, so a user-interface thread that has switched to the user's locale writes the same
// bytes: date dd/mm/yy, 24-hour time HH:MM:SS, both in local time.

// "dd/mm/yy,HH:MM:SS" for a calendar time in whole seconds.
std::string DateTimeField(std::time_t t);

std::string MarkRow(MarkForm form, bool connected, std::time_t t);
std::string AlarmRow(const AlarmFlags& alarms, std::time_t t);
std::string CountsRow(const Counts& counts, std::time_t t);

// Snapshots of the monitor state for the rows, one atomic load per field.
AlarmFlags AlarmFlagsOf(const MonitorState& state);
Counts CountsOf(const MonitorState& state);

}  // namespace kestrel
