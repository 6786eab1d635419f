// The two supervision ticks: the one-second panel refresh and the 2.5-second link watch.
#pragma once

#include <functional>

#include "monitor/MonitorState.h"
#include "session/StatisticsHooks.h"

namespace kestrel {

// The logic behind the PanelRefresh and LinkWatch timers, free of any timer: the frame's
// QTimers call the ticks, tests call them directly.
class Supervision {
public:
    static constexpr int kPanelRefreshMs = 1000;
    static constexpr int kLinkWatchMs = 2500;

    struct Links {
        // Whether the port is open as the frame's port settings say.
        std::function<bool()> isPortOpen;
        // Any modem-status input of the open port on; asked only while the port is open.
        std::function<int()> isModemActive;
        // The display steps; each returns at once while closing.
        std::function<void(bool bothChanged, const std::function<void()>& writeAlarmRow)>
            alarmBarRefresh;
        std::function<void()> tributaryLedRefresh;
    };

    Supervision(MonitorState& state, StatisticsHooks& statistics, Links links)
        : state(state), statistics(&statistics), links(std::move(links)) {}

    void PanelRefresh();
    void LinkWatch();

private:
    MonitorState& state;
    StatisticsHooks* statistics;
    Links links;
};

}  // namespace kestrel
