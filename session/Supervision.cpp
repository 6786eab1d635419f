// The supervision ticks. Flags the receive thread sets are taken with one atomic exchange, so
// a frame decoded between reading a flag and clearing it is never lost.
#include "session/Supervision.h"

namespace kestrel {

void Supervision::PanelRefresh() {
    // One frame that changed both status bytes gives one alarm row, not one per second until
    // the next frame arrives: the pair is consumed here.
    const bool bothChanged = state.ConsumeBothStatusChanged();
    if (!state.closing.load()) {
        links.alarmBarRefresh(bothChanged, [this] {
            if (statistics->IsEventLogOpen()) {
                statistics->WriteAlarmRow();
            }
        });
        links.tributaryLedRefresh();
    }
    // The counts row is written also while closing.
    const bool seen = state.alarmSeen.exchange(0, std::memory_order_acq_rel) != 0;
    if (seen && statistics->IsG821LogOpen()) {
        statistics->WriteCountsRow();
    }
}

void Supervision::LinkWatch() {
    // Data watchdog with a two-tick hysteresis.
    const int idle = state.rxIdle.exchange(1);
    const int idlePrev = state.rxIdlePrev.load();
    if (idle && idlePrev) {
        state.noData = 1;
    } else if (!idle && !idlePrev) {
        state.noData = 0;
    }
    state.rxIdlePrev = idle;
    if (state.noData.load()) {
        state.NoDataReset();
    }

    // The modem lines are asked only while the port is open.
    const int connected = (links.isPortOpen() && links.isModemActive()) ? 1 : 0;
    state.connected = connected;
    if (connected == state.wasConnected.load()) {
        return;
    }
    state.wasConnected = connected;
    statistics->WriteMarkRows(connected != 0);
    // Both edges make the next frame count as a change at both ends.
    state.ConnectionEvent();
}

}  // namespace kestrel
