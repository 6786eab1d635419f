// The engine of one MUX: start-up and close orders, ticks, port, link and statistics commands.
#include "session/MuxSession.h"

#include <sys/stat.h>

#include <thread>

namespace kestrel {

std::optional<DeviceIdentity> IdentifyDevice(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    // A character device is told by its number; anything else (a file, a FIFO) by its inode.
    return DeviceIdentity{static_cast<std::uint64_t>(S_ISCHR(st.st_mode) ? st.st_rdev : st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
}

namespace {

SessionOptions WithDefaults(SessionOptions o) {
    if (!o.clock) {
        o.clock = [] { return std::chrono::steady_clock::now(); };
    }
    if (!o.sleep) {
        o.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
    if (!o.identify) {
        o.identify = IdentifyDevice;
    }
    if (!o.devices) {
        o.devices = MakePosixSerialDeviceFactory();
    }
    return o;
}

}  // namespace

MuxSession::MuxSession(SessionOptions opts)
    : options(WithDefaults(std::move(opts))),
      ownState(options.state ? nullptr : std::make_unique<MonitorState>()),
      state(options.state ? *options.state : *ownState),
      meter(state),
      parser(state, meter),
      berSink(options.observer),
      statistics(state, StatisticsLog::Options{[this](const std::string& m) { Notice(m); },
                                               options.wallClock, options.sleep, nullptr}),
      statisticsHooks(statistics),
      supervision(state, statisticsHooks,
                  Supervision::Links{
                      [this] { return portOpen; },
                      [this] { return comm ? comm->IsModemActive() : 0; },
                      [this](bool bothChanged, const std::function<void()>& writeAlarmRow) {
                          AlarmStep(bothChanged, writeAlarmRow);
                      },
                      [this] { TributaryStep(); },
                  }),
      memory(options.historyKeeping),
      frameQueue(state, kNoDataAfter) {
    // The totals count from the start of this session; the elapsed time too.
    state.nearErrorsTotal = 0;
    state.farErrorsTotal = 0;
    startTime = options.clock();
    // Line memory: goes on from what its database holds; every frame the parser applies is
    // stamped and queued for the next tick.
    lineClock.Start(WallNow(), startTime);
    lastHeard = startTime;
    if (options.historyPath.empty()) {
        memory.Start(LineNow());
    } else {
        memory.Open(options.historyPath, LineNow(), [this](const std::string& message) {
            if (options.observer) {
                options.observer->HistoryProblem(message);
            }
        });
        // Seconds stored later than this machine's clock (a clock set back, a replay into the
        // future): ours go on after them, never over them.
        const std::time_t wall = LineNow();
        if (const long long ahead = lineClock.NotBefore(memory.Cursor(), options.clock())) {
            memory.NoteEvent(kClockStepState, LineNow(),
                             "clock stepped back " + std::to_string(ahead) + " s");
            if (options.observer) {
                options.observer->HistoryProblem(
                    "The line memory " + memory.StorePath() + " holds seconds up to " +
                    IsoUtc(memory.Cursor()) + ", later than this machine's clock (" +
                    IsoUtc(wall) + "); its seconds go on from there.");
            }
        }
    }
    linkNotedAt = LineNow();
    parser.SetPassListener(&frameQueue);
}

MuxSession::~MuxSession() {
    // A session dropped without its close order still must not leave the thread running over
    // members that are about to go.
    if (comm) {
        comm->Shutdown();
    }
    meter.SetSink(nullptr);
    CloseMemory();  // line memory: what it holds is written
}

void MuxSession::Trace(const char* step) const {
    if (options.trace) {
        options.trace(step);
    }
}

// ---------------------------------------------------------------------------------------------
// Start-up and close

bool MuxSession::StartLink(int number, bool open) {
    if (comm) {
        return portOpen;  // one link per session
    }
    watchesSinceOpen = 0;  // line memory
    state.closing = 0;
    Trace("CreateThread");
    comm = std::make_unique<CComm>(
        state, frameMutex,
        [this](std::string_view text) {
            const auto at = options.clock();
            if (options.tap && !text.empty()) {
                options.tap(text, at);
            }
            frameQueue.Arrived(text.size(), at);
            parser.Parse(text);
            frameQueue.Parsed(parser.Buffered());
        },
        std::move(options.devices), options.resolver);
    comm->SetStartupDelay(options.startupDelay);
    comm->SetRetryPeriods(options.retry);
    comm->SetLinkNews(options.linkNews);
    meter.SetSink(&berSink);
    comm->Start();
    Trace("SetPortNumber");
    portNumber = number;
    comm->SetPortNumber(number);
    if (open) {
        Trace("SetPortOpen");
        // Stored open means meant to be open: a device that is not there yet is waited for.
        portOpen = comm->OpenKeepingOpen(true) != CComm::OpenStart::Failed;
    }
    if (!portOpen) {
        NoteLinkState();  // line memory: the port is closed from the start
    }
    PollLink();
    return portOpen;
}

void MuxSession::ResumeIfOpen() {
    if (portOpen && comm) {
        Trace("ResumeThread");
        comm->ResumeThread();
        Listening();
    }
}

void MuxSession::Listening() {
    listening = true;
    listenedAt = options.clock();
    lastHeard = std::max(lastHeard, listenedAt + options.startupDelay);
}

void MuxSession::SetClosing() {
    Trace("SetClosing");
    state.closing = 1;
}

void MuxSession::StopLink() {
    if (!comm) {
        return;
    }
    Trace("SuspendThread");
    comm->SuspendThread();
    Trace("ClosePortIfOpen");
    comm->ClosePortIfOpen();
    Trace("StopReceiving");
    state.keepReceiving = 0;
    Trace("ResumeThread");
    comm->ResumeThread();
    // Instead of a grace period: wait until the thread has left its loop for good.
    Trace("JoinThread");
    comm->Shutdown();
    CloseMemory();  // line memory: monitoring of this line stops here
}

void MuxSession::StopStatisticsAtClose() {
    if (statistics.IsEventLogOpen()) {
        Trace("StatisticsOff");
        StatisticsOff();
    }
}

void MuxSession::Close() {
    SetClosing();
    StopLink();
    StopStatisticsAtClose();
}

// ---------------------------------------------------------------------------------------------
// Ticks

void MuxSession::AlarmStep(bool bothChanged, const std::function<void()>& writeAlarmRow) {
    // One alarm row per frame that changed both status bytes, and only while connected.
    if (state.closing.load() == 0 && state.connected.load() != 0 && bothChanged && writeAlarmRow) {
        writeAlarmRow();
    }
}

void MuxSession::TributaryStep() {
    if (state.closing.load() != 0) {
        return;
    }
    // Not connected: the decoded state is cleared, so every LED goes dark.
    if (state.connected.load() == 0) {
        state.NotConnectedReset();
    }
    if (options.observer) {
        options.observer->PanelRefreshed(Picture());
    }
}

PanelPicture MuxSession::Picture() const {
    PanelPicture p;
    p.connected = state.connected.load() != 0;
    if (p.connected) {
        p.alarms = AlarmFlagsOf(state);
    }
    for (int i = 0; i < kTribCount; ++i) {
        p.tribNoSig[i] = state.tribNoSig[i].load() != 0;
        p.tribCErr[i] = state.tribCErr[i].load() != 0;
    }
    return p;
}

void MuxSession::PanelRefresh() {
    PollLink();
    supervision.PanelRefresh();
    NoteStatistics();
    UpdateMemory();
}

void MuxSession::LinkWatch() {
    const int noDataBefore = state.noData.load();
    const int edgesBefore = state.wasConnected.load();
    // A device swapped at the same path without a hang-up is caught here (after the news, so
    // that the device compared with is the one open now).
    PollLink();
    if (portOpen && comm && openedDevice && IsLinkUp() &&
        options.identify(DevicePath()) != openedDevice) {
        comm->DeviceReplaced();
    }
    supervision.LinkWatch();
    if (options.observer) {
        if (state.noData.load() != noDataBefore) {
            options.observer->DataChanged(state.noData.load() != 0);
        }
        if (state.wasConnected.load() != edgesBefore) {
            options.observer->ConnectionChanged(state.connected.load() != 0);
        }
    }
    NoteStatistics();
    ++watchesSinceOpen;  // line memory
    NoteLinkState();
}

bool MuxSession::LogFlush() {
    const bool again = statistics.LogFlush(frameMutex);
    NoteStatistics();
    return again;
}

void MuxSession::Notice(const std::string& message) {
    // Recording stopped or never started; the monitoring goes on.
    if (options.observer) {
        options.observer->StatisticsNotice(message);
    }
}

void MuxSession::NoteStatistics() {
    const bool on = statistics.IsEventLogOpen();
    if (on != statisticsShownOn) {
        statisticsShownOn = on;
        if (options.observer) {
            options.observer->StatisticsChanged(on);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Port commands

void MuxSession::ClosePort() {
    // Marked closed first: a link watch from here on asks no closed device for its lines.
    portOpen = false;
    listening = false;  // line memory
    openedDevice.reset();
    if (comm) {
        comm->SuspendThread();
        comm->SetPortOpen(false);
    }
    NoteLinkState();  // line memory
    PollLink();
}

bool MuxSession::OpenPort() {
    if (!comm) {
        return false;
    }
    const CComm::OpenStart start = comm->OpenKeepingOpen(false);
    portOpen = start != CComm::OpenStart::Failed;
    if (portOpen) {
        // Line memory first: once the thread runs, a network link's failure may come at once,
        // and the news below must find it as it always did.
        watchesSinceOpen = 0;  // the next link watch tells what the line is
        Listening();
        NoteLinkState();
        comm->ResumeThread();
    }
    PollLink();
    return portOpen;
}

void MuxSession::SetPortNumber(int number) {
    portNumber = number;
    if (comm) {
        comm->SetPortNumber(number);
    }
}

std::string MuxSession::DevicePath() const {
    return comm ? comm->DevicePath() : options.resolver.Resolve("COM" + std::to_string(portNumber));
}

int MuxSession::LastOpenError() const {
    return comm ? comm->LastOpenError() : 0;
}

// ---------------------------------------------------------------------------------------------
// The link kept open

bool MuxSession::IsLinkUp() const {
    return portOpen && comm && comm->IsPortOpen() != 0;
}

LinkStatus MuxSession::Link() const {
    return comm ? comm->Status() : LinkStatus{};
}

void MuxSession::PollLink() {
    if (!comm) {
        return;
    }
    const LinkStatus now = comm->Status();
    if (now.changes == linkChangesShown) {
        return;
    }
    linkChangesShown = now.changes;
    if (now.state == LinkState::Open) {
        openedDevice = options.identify(now.path);
        Listening();  // line memory: a reconnected device is heard from now on
    }
    // A network link's first connection failed: the port the user opened is closed again,
    // and the thread is parked as for any closed port.
    const bool failedOpen = now.state == LinkState::Closed && portOpen;
    if (failedOpen) {
        portOpen = false;
        listening = false;
        openedDevice.reset();
        comm->SuspendThread();
    }
    if (options.observer) {
        options.observer->LinkStatusChanged(now);
        if (failedOpen) {
            options.observer->PortOpenFailed(now);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Statistics and BER commands

bool MuxSession::StatisticsOn(const std::string& chosenName, std::string* failure) {
    const bool due = statistics.StatisticsOn(chosenName, failure);
    NoteStatistics();
    return due;
}

void MuxSession::StatisticsOff() {
    statistics.StatisticsOff();
    NoteStatistics();
}

void MuxSession::SetBerInterval(int commandId) {
    std::lock_guard<std::mutex> lock(frameMutex);
    meter.OnBerInterval(commandId);
}

void MuxSession::ResetBer() {
    std::lock_guard<std::mutex> lock(frameMutex);
    meter.OnBerReset();
}

std::chrono::seconds MuxSession::Elapsed() const {
    return std::chrono::duration_cast<std::chrono::seconds>(options.clock() - startTime);
}

}  // namespace kestrel
