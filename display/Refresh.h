// The two display steps of the one-second panel refresh.
#pragma once

#include <functional>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "monitor/MonitorState.h"

namespace kestrel {

// Pushes the 64 tributary states to the active pane. Nothing while closing; while not
// connected the decoded state is cleared first (also when there is no pane), so every LED
// goes dark. All 64 LEDs are set every time: local troubles red, remote ones yellow.
void TributaryLedRefresh(MonitorState& state, CKestrelSettings* activePanel);

// Pushes the eight 34 Mbit/s flags to the bar. Nothing while closing; not connected: all off,
// no row. Connected: when bothChanged, writeAlarmRow() runs first (the caller checks that the
// event log is open), then all eight LEDs are set.
void AlarmBarRefresh(MonitorState& state, CAlarmBar& bar, bool bothChanged,
                     const std::function<void()>& writeAlarmRow);

}  // namespace kestrel
