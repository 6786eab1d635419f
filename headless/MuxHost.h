// One watched MUX of the headless monitor: its session, log lines and status picture.
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "headless/Config.h"
#include "headless/LineCapture.h"
#include "session/MuxSession.h"
#include "session/StatusPicture.h"

namespace kestrel::headless {

// How much a log line matters, as syslog ranks it: journald filters on it (`-p warning`).
enum class Priority {
    Critical = 2,  // a critical alarm
    Error = 3,     // a major alarm; a file that cannot be written
    Warning = 4,   // a minor alarm; the line lost, alarms unknown
    Notice = 5,    // the line back; an alarm cleared
    Info = 6,      // everything else
};
// The priority of a journal state coming on.
Priority PriorityOf(Severity severity);

// Every line goes out whole, prefixed with the MUX's name.
using LogLine = std::function<void(Priority priority, const std::string& line)>;

// The headless host of one session. The monitor's timers call the ticks for every host; the
// host turns the session's news into log lines and keeps the status picture up to date.
class MuxHost : public SessionObserver {
public:
    // `base` may carry test doubles (devices, clocks); its observer is replaced by this host.
    MuxHost(MuxConfig config, const std::string& statusDir, LogLine log, SessionOptions base = {});
    ~MuxHost() override;

    // Opens the port and starts the recording, as the window's start with --record does.
    void Start();
    // The end of the start-up: the receive thread runs on an open port.
    void Resume();
    void PanelTick();
    void LinkTick();
    void FlushTick();
    // The close order of the window: the closing rows go out before this returns.
    void Close();

    MuxSession& Session() { return *session; }
    const MuxConfig& Config() const { return config; }
    // The status picture is written when what it shows changes: what moves with every second
    // (the elapsed time, the moving star, the frame count, the BER ratios) does not count, or
    // a thousand pictures would be rewritten every second. It is also written at least this
    // often, so that a picture older than that tells of a monitor that stopped.
    static constexpr std::chrono::seconds kStatusRefresh{60};

    // SessionObserver
    void PanelRefreshed(const PanelPicture& picture) override;
    void BerTexts(const std::array<std::string, 4>& texts) override;
    void ConnectionChanged(bool connected) override;
    void DataChanged(bool noData) override;
    void StatisticsChanged(bool on) override;
    void StatisticsNotice(const std::string& message) override;
    void HistoryProblem(const std::string& message) override;
    void LinkStatusChanged(const LinkStatus& status) override;

private:
    // The line as the journal reports it: which line states are on, and whether they are seen.
    struct Reported {
        bool known = false;
        std::bitset<kFirstLinkState> on;
        bool operator==(const Reported&) const = default;
    };
    Reported ReportedNow() const;
    // Log lines for what the journal's report changed: alarms and tributaries on, off, or
    // unknown while the monitor cannot see the line; and, once, the state it starts in.
    void TellReported();
    void Log(Priority priority, const std::string& text) const;
    void LogLines(Priority priority, const std::string& message) const;
    // The status picture: the window's status-file members where they apply.
    // What a status picture shows, apart from what moves every second, in the few numbers and
    // flags it is made from: compared each tick instead of the picture's texts, which are made
    // only when the picture is to be written.
    struct Shown {
        std::int64_t nearErrors = 0;
        std::int64_t farErrors = 0;
        bool portOpen = false;
        bool connected = false;
        bool noData = false;
        bool statistics = false;
        std::uint64_t bytesDropped = 0;
        PanelPicture panel;
        Reported line;
        std::optional<std::time_t> unknownSince;
        LinkState link = LinkState::Closed;
        bool operator==(const Shown&) const = default;
    };
    Shown ShownNow() const;
    StatusPicture PictureNow();
    void WriteStatus(bool closed);

    MuxConfig config;
    std::string statusPath;
    LogLine log;
    std::mutex berMutex;  // held only to copy the texts, never while waiting
    std::array<std::string, 4> berTexts;
    PanelPicture shown;
    Reported reported;
    bool startTold = false;
    long long sequence = 0;
    std::optional<Shown> statusWritten;  // what the last picture written showed
    std::chrono::steady_clock::time_point statusRefreshAt{};
    bool statusFailureTold = false;
    LinkState linkShown = LinkState::Closed;
    std::function<std::chrono::steady_clock::time_point()> clock;
    std::unique_ptr<LineCapture> capture;  // before the session, whose thread feeds it
    std::unique_ptr<MuxSession> session;
};

}  // namespace kestrel::headless
