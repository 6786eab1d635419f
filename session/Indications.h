// The names, LED ids and colours of the 34 Mbit/s alarms and the tributary indications.
#pragma once

#include <array>

#include "monitor/MonitorState.h"

namespace kestrel {

// One 34 Mbit/s alarm: its name in log lines, its alarm-bar LED and whether it lights red
// (only the local interface's loss of signal and of frame are red; the rest are yellow).
struct AlarmIndication {
    const char* name;
    int ledId;
    bool red;
};

// In the column order of the rows and of PanelPicture::alarms. The LED ids do not follow the
// positions: 1128 is local RAI, 1127 remote No Signal.
inline constexpr std::array<AlarmIndication, 8> kAlarmIndications{{
    {"local No Signal", 1124, true},
    {"local AIS", 1125, false},
    {"local LOF", 1126, true},
    {"local RAI", 1128, false},
    {"remote No Signal", 1127, false},
    {"remote AIS", 1129, false},
    {"remote LOF", 1130, false},
    {"remote RAI", 1131, false},
}};

// Tributaries per end; entries 0..15 of the state arrays are local, 16..31 remote. A lit
// tributary LED tells the end, not the kind of trouble: local red, remote yellow.
inline constexpr int kTributariesPerEnd = kTribCount / 2;
inline constexpr bool IsLocalTributary(int index) {
    return index < kTributariesPerEnd;
}

}  // namespace kestrel
