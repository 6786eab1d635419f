// What a session tells its host: the picture after each refresh, BER texts, edges and notices.
#pragma once

#include <array>
#include <string>

#include "link/LinkStatus.h"
#include "monitor/MonitorState.h"
#include "stats/LogRows.h"

namespace kestrel {

// The LEDs as the views show them after one panel refresh, as plain values.
struct PanelPicture {
    bool connected = false;
    // The eight 34 Mbit/s alarms in the column order of the rows (local No Signal, AIS, LOF,
    // RAI, then remote); all dark while the MUX is not connected.
    AlarmFlags alarms{};
    // Tributaries 1 to 16 of the local end (0..15), then of the remote end (16..31).
    std::array<bool, kTribCount> tribNoSig{};
    std::array<bool, kTribCount> tribCErr{};

    bool operator==(const PanelPicture&) const = default;
};

// The host's ear. Every member has an empty default, so a host overrides what it shows.
// Apart from BerTexts, everything is called on the host's thread from inside the session
// method that caused it (a tick or a command).
class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // After each panel refresh that is not skipped for closing, once its rows are written.
    virtual void PanelRefreshed(const PanelPicture& /*picture*/) {}

    // The four BER texts (fields 1045 to 1048) after a frame. Called on the RECEIVE THREAD
    // while the session's frameMutex is held: an implementation must neither block (no
    // waiting for the host's thread) nor call back into the session. Queue the texts to the
    // host's thread or store them for it to pick up.
    virtual void BerTexts(const std::array<std::string, 4>& /*texts*/) {}

    // An edge of the connection, at a link watch, after its mark rows.
    virtual void ConnectionChanged(bool /*connected*/) {}
    // "No Data" came (true) or went (false), at a link watch.
    virtual void DataChanged(bool /*noData*/) {}

    // Statistics went on or off: by a command, at close, or because the event log failed.
    virtual void StatisticsChanged(bool /*on*/) {}
    // A statistics file failed; the text says which and why (one or two lines). It comes
    // once per failure, never while frameMutex is held; the monitoring goes on.
    virtual void StatisticsNotice(const std::string& /*message*/) {}

    // The line memory's database cannot be used or written (locked by another monitor,
    // damaged, disk full): told once per problem; figures and journal go on in memory.
    virtual void HistoryProblem(const std::string& /*message*/) {}
    // --- The link kept open ---
    // The link changed: Reconnecting when the device went (or was not there at start-up),
    // with the path it tries; Open when it is back (or opened); Connecting while a network
    // link's first connection is made; Closed when the port was closed.
    virtual void LinkStatusChanged(const LinkStatus& /*status*/) {}
    // A "Port Open" whose outcome came later (a network link) failed; the port is closed
    // again and the host tells the user as for any failed open. `status` says why.
    virtual void PortOpenFailed(const LinkStatus& /*status*/) {}
};

}  // namespace kestrel
