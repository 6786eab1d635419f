// One MUX of the headless monitor: ticks, reconnects, log lines and the status picture.
#include "headless/MuxHost.h"

#include <unistd.h>

#include <cstring>
#include <sstream>

#include "headless/StatusJson.h"
#include "performance/LineMemory.h"
#include "session/Indications.h"
#include "session/StatusPicture.h"
#include "session/StatusTexts.h"

namespace kestrel::headless {

namespace {

std::string LinkText(LinkState state) {
    switch (state) {
        case LinkState::Open:
            return "open";
        case LinkState::Connecting:
            return "connecting";
        case LinkState::Reconnecting:
            return "reconnecting";
        case LinkState::Closed:
            break;
    }
    return "closed";
}

}  // namespace

MuxHost::MuxHost(MuxConfig cfg, const std::string& statusDir, LogLine logLine, SessionOptions base)
    : config(std::move(cfg)),
      statusPath(statusDir.empty() ? std::string() : statusDir + "/" + config.name + ".json"),
      log(std::move(logLine)) {
    berTexts.fill(kBerNoFigure);
    base.observer = this;
    // The window waits 200 ms before each opening row of a recording it starts; here every
    // recording starts before any line is read, and a thousand of them would wait minutes.
    if (!base.sleep) {
        base.sleep = [](std::chrono::milliseconds) {};
    }
    base.resolver.SetPath(config.portNumber, config.path);
    base.historyPath = config.history;
    // Nothing here shows past intervals or closed journal entries, the database has them;
    // only SNMP's interval tables ask for a day of quarters.
    base.historyKeeping.intervalMemory = {config.quartersInMemory, 1};
    base.historyKeeping.journalMemory = 16;
    clock = base.clock ? base.clock : [] { return std::chrono::steady_clock::now(); };
    if (!config.capture.empty()) {
        capture = std::make_unique<LineCapture>(
            config.capture, clock(), base.wallClock ? base.wallClock() : std::time(nullptr),
            [this](bool problem, const std::string& line) {
                Log(problem ? Priority::Error : Priority::Info, line);
            });
        base.tap = [c = capture.get()](std::string_view text,
                                       std::chrono::steady_clock::time_point at) {
            c->Arrived(text, at);
        };
    }
    session = std::make_unique<MuxSession>(std::move(base));
}

MuxHost::~MuxHost() {
    session.reset();  // joins the receive thread before the observer's members go
}

Priority PriorityOf(Severity severity) {
    switch (severity) {
        case Severity::Critical:
            return Priority::Critical;
        case Severity::Major:
            return Priority::Error;
        case Severity::Minor:
            break;
    }
    return Priority::Warning;
}

void MuxHost::Log(Priority priority, const std::string& text) const {
    if (log) {
        log(priority, config.name + ": " + text);
    }
}

void MuxHost::Start() {
    Log(Priority::Info, "watching " + config.device +
        (config.path != config.device ? " (" + config.path + ")" : ""));
    // The port is meant to be open from here on; the session reconnects by itself.
    session->StartLink(config.portNumber, true);
    if (session->Memory().Storing()) {
        Log(Priority::Info, "line memory in " + session->Memory().StorePath());
    }
    if (!config.record.empty()) {
        session->StatisticsOn(config.record);
    }
}

void MuxHost::Resume() {
    session->ResumeIfOpen();
}

void MuxHost::LinkStatusChanged(const LinkStatus& status) {
    const std::string why =
        status.detail.empty() ? std::string(std::strerror(status.error)) : status.detail;
    switch (status.state) {
        case LinkState::Open:
            Log(Priority::Notice, "PORT: OPENED");
            break;
        case LinkState::Connecting:
            Log(Priority::Info, "connecting to " + status.path);
            break;
        case LinkState::Reconnecting:
            // Each new reason once, not every retry.
            Log(Priority::Warning,
                linkShown == LinkState::Open
                    ? "Link lost, reconnecting to " + status.path
                    : "cannot open " + status.path + " (" + why + "); trying again");
            break;
        case LinkState::Closed:
            Log(status.error ? Priority::Warning : Priority::Info,
                status.error ? "cannot open " + status.path + " (" + why + ")" : "PORT: CLOSED");
            break;
    }
    linkShown = status.state;
}

void MuxHost::PanelTick() {
    session->PanelRefresh();
    if (capture) {
        capture->Tick(clock());
    }
    TellReported();
    WriteStatus(false);
}

void MuxHost::LinkTick() {
    session->LinkWatch();
    TellReported();
    WriteStatus(false);
}

void MuxHost::FlushTick() {
    if (session->IsFlushDue()) {
        session->LogFlush();
    }
}

void MuxHost::Close() {
    session->Close();
    if (capture) {
        capture->Close(clock());  // the thread has stopped: everything it brought is here
    }
    WriteStatus(true);
    if (!statusPath.empty()) {
        ::unlink(AsidePath(statusPath).c_str());  // the picture before the closing one
    }
}

// ---------------------------------------------------------------------------------------------
// What the session tells

void MuxHost::PanelRefreshed(const PanelPicture& picture) {
    // The LEDs of the status picture; what is logged comes from the journal (TellReported),
    // which keeps an alarm unknown, not off, while the line is unseen.
    shown = picture;
}

namespace {

// "local AIS", "remote tributary 7 No Signal", ...
std::string LineStateName(int state) {
    if (state < kAlarmStates) {
        return kAlarmIndications[static_cast<std::size_t>(state)].name;
    }
    const int index = (state - kAlarmStates) / 2;
    return std::string("tributary ") + (IsLocalTributary(index) ? "local " : "remote ") +
           std::to_string(index % kTributariesPerEnd + 1) +
           ((state - kAlarmStates) % 2 == 0 ? " No Signal" : " code errors");
}

const char* UnseenBecause(LineCondition link) {
    switch (link) {
        case LineCondition::PortClosed:
            return "port closed";
        case LineCondition::NotConnected:
            return "MUX not connected";
        case LineCondition::NoData:
        case LineCondition::Up:
            break;
    }
    return "no data";
}

}  // namespace

MuxHost::Reported MuxHost::ReportedNow() const {
    const LineMemory& memory = session->Memory();
    Reported r;
    r.known = !memory.UnseenSince();
    for (int s = 0; s < kFirstLinkState; ++s) {
        r.on[static_cast<std::size_t>(s)] = memory.IsOn(s);
    }
    return r;
}

void MuxHost::TellReported() {
    const LineMemory& memory = session->Memory();
    const Reported now = ReportedNow();
    auto tell = [this](int state, Priority priority, const std::string& what) {
        Log(priority, (state < kAlarmStates ? "alarm " : "") + LineStateName(state) + " " + what);
    };
    auto onOrOff = [&](int state, bool on) {
        tell(state, on ? PriorityOf(JournalSeverity(state)) : Priority::Notice, on ? "on" : "off");
    };
    for (int s = 0; s < kFirstLinkState; ++s) {
        const bool was = reported.on[static_cast<std::size_t>(s)];
        const bool is = now.on[static_cast<std::size_t>(s)];
        if (!now.known) {
            // Blind: what was on is unknown from here, never off.
            if (reported.known && was) {
                tell(s, Priority::Warning,
                     std::string("unknown (") + UnseenBecause(memory.Link()) + ")");
            }
        } else if (!reported.known) {
            // Seen again (or for the first time): each state still on, gone, or new.
            if (is || was) {
                onOrOff(s, is);
            }
        } else if (is != was) {
            onOrOff(s, is);
        }
    }
    // The state the MUX starts in is told once it is known, even when nothing changes: a
    // link that never sends would otherwise leave no line in the log after "watching".
    if (!startTold) {
        if (now.known) {
            startTold = true;
        } else if (memory.Link() == LineCondition::NoData) {
            startTold = true;
            if (session->State().noData.load() != 0) {
                Log(Priority::Warning, "No Data");
            }
        } else if (memory.Link() == LineCondition::NotConnected) {
            startTold = true;
            Log(Priority::Warning, "MUX NOT CONNECTED");
        }
    }
    reported = now;
}

void MuxHost::BerTexts(const std::array<std::string, 4>& texts) {
    // Receive thread, frame mutex held: store and go.
    std::lock_guard<std::mutex> lock(berMutex);
    berTexts = texts;
}

void MuxHost::ConnectionChanged(bool connected) {
    Log(connected ? Priority::Notice : Priority::Warning,
        connected ? "MUX CONNECTED" : "MUX NOT CONNECTED");
}

void MuxHost::DataChanged(bool noData) {
    Log(noData ? Priority::Warning : Priority::Notice, noData ? "No Data" : "data received");
}

void MuxHost::StatisticsChanged(bool on) {
    const StatisticsLog& s = session->Statistics();
    Log(Priority::Info, on ? "statistics on: " + s.logFileName() +
                 (s.IsG821LogOpen() ? " and " + s.g821LogName() : std::string())
           : "statistics off");
}

void MuxHost::StatisticsNotice(const std::string& message) {
    LogLines(Priority::Error, message);
}

void MuxHost::HistoryProblem(const std::string& message) {
    LogLines(Priority::Error, message);
}

void MuxHost::LogLines(Priority priority, const std::string& message) const {
    std::istringstream lines(message);
    for (std::string line; std::getline(lines, line);) {
        Log(priority, line);
    }
}

// ---------------------------------------------------------------------------------------------
// Status picture

namespace {

// The shared picture members, written compactly.
class JsonSink : public StatusPictureSink {
public:
    explicit JsonSink(JsonWriter& json) : json(json) {}
    void Open(const std::string& key) override { json.Open(key); }
    void Close() override { json.Close(); }
    void Text(const std::string& key, const std::string& value) override { json.Add(key, value); }
    void Number(const std::string& key, long long value) override { json.Add(key, value); }
    void Flag(const std::string& key, bool value) override { json.Add(key, value); }

private:
    JsonWriter& json;
};

}  // namespace

StatusPicture MuxHost::PictureNow() {
    const MonitorState& state = session->State();
    StatusPicture picture;
    // No "com" pane: a headless MUX is named by its device.
    picture.panes[kPaneNearErrors] = NearErrorsText(state.nearErrorsTotal.load());
    picture.panes[kPaneFarErrors] = FarErrorsText(state.farErrorsTotal.load());
    picture.panes[kPanePort] = PortText(session->IsPortOpen());
    picture.panes[kPaneMux] = MuxText(state.connected.load());
    picture.panes[kPaneData] = state.noData.load() ? std::string("No Data") : state.spinnerText();
    picture.panes[kPaneTime] = ElapsedText(session->Elapsed());
    picture.frameCount = static_cast<long long>(state.frameCount.load());
    picture.bytesDropped = static_cast<long long>(session->LineBytesDropped());
    for (std::size_t i = 0; i < kAlarmIndications.size(); ++i) {
        picture.alarmLeds[i] = LedLetter(shown.alarms[i], kAlarmIndications[i].red);
    }
    auto row = [](const std::array<bool, kTribCount>& lit, bool local) {
        std::string text;
        for (int i = local ? 0 : kTributariesPerEnd; text.size() < kTributariesPerEnd; ++i) {
            text += LedLetter(lit[i], local);
        }
        return text;
    };
    picture.tributaryRows = {row(shown.tribNoSig, true), row(shown.tribCErr, true),
                             row(shown.tribNoSig, false), row(shown.tribCErr, false)};
    {
        std::lock_guard<std::mutex> lock(berMutex);
        picture.ber = berTexts;
    }
    picture.statistics = session->IsStatisticsOn();
    picture.line = LineReportOf(session->Memory());
    return picture;
}

namespace {

std::string PictureJson(const StatusPicture& picture, long long sequence, bool closed,
                        const MuxConfig& config, LinkState link) {
    JsonWriter json;
    json.Add("format", 1LL).Add("sequence", sequence).Add("closed", closed);
    json.Add("name", config.name).Add("device", config.device);
    // Open, or reconnecting while the device is gone (the port pane stays "PORT: OPENED").
    json.Add("link", LinkText(link));
    JsonSink sink(json);
    WriteStatusPicture(picture, sink);
    return json.Finish();
}

}  // namespace

namespace {

// Whether two pictures show the same, leaving out what moves with the seconds alone: the
// elapsed time, the frame count, the moving star (data flowing is what counts) and the BER
// figures, whose ratios drift with every second of bits counted (new errors change the error
// panes). Compared field by field: a thousand of them every second.
}  // namespace

MuxHost::Shown MuxHost::ShownNow() const {
    const MonitorState& state = session->State();
    Shown s;
    s.nearErrors = state.nearErrorsTotal.load();
    s.farErrors = state.farErrorsTotal.load();
    s.portOpen = session->IsPortOpen();
    s.connected = state.connected.load() != 0;
    s.noData = state.noData.load() != 0;
    s.statistics = session->IsStatisticsOn();
    s.bytesDropped = session->LineBytesDropped();
    s.panel = shown;
    s.line = ReportedNow();
    s.unknownSince = session->Memory().UnseenSince();
    s.link = session->Link().state;
    return s;
}

void MuxHost::WriteStatus(bool closed) {
    if (statusPath.empty()) {
        return;
    }
    Shown what = ShownNow();
    const auto now = clock();
    if (statusWritten && !closed && what == *statusWritten && now < statusRefreshAt) {
        return;
    }
    const StatusPicture picture = PictureNow();
    if (!statusWritten) {
        // Each MUX refreshes in a second of its own, so that a thousand pictures written at
        // the start are not all written again in one tick.
        statusRefreshAt = now + std::chrono::seconds(1 + std::hash<std::string>{}(config.name) %
                                                             kStatusRefresh.count());
    }
    while (statusRefreshAt <= now) {
        statusRefreshAt += kStatusRefresh;
    }
    std::string error;
    if (ReplaceFile(statusPath, PictureJson(picture, ++sequence, closed, config, what.link),
                    error)) {
        statusFailureTold = false;
        statusWritten = std::move(what);
    } else if (!statusFailureTold) {
        statusFailureTold = true;
        Log(Priority::Error, "cannot write the status file " + statusPath + ": " + error);
    }
}

}  // namespace kestrel::headless
