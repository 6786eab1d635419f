// One MUX watched: its link and receive thread, parser, meter, supervision ticks and statistics.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "link/CComm.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/MonitorState.h"
#include "performance/FrameQueue.h"
#include "performance/LineClock.h"
#include "performance/LineMemory.h"
#include "session/SessionObserver.h"
#include "session/StatisticsHooks.h"
#include "session/Supervision.h"
#include "stats/StatisticsLog.h"

namespace kestrel {

// Which device node a path leads to; two opens of the same node give the same identity.
struct DeviceIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const DeviceIdentity&) const = default;
};
// The identity of what `path` leads to now (symbolic links followed); empty when nothing is
// there.
std::optional<DeviceIdentity> IdentifyDevice(const std::string& path);

// What the session is built from. Everything may be left empty; the defaults are the real
// parts.
struct SessionOptions {
    // The monitor state to decode into; null: the session keeps its own.
    MonitorState* state = nullptr;
    // Makes the serial devices; null: the termios devices.
    std::unique_ptr<SerialDeviceFactory> devices;
    // Turns the port number into a device path.
    DeviceResolver resolver;
    // Calendar time of the statistics rows.
    std::function<std::time_t()> wallClock;
    // Monotonic clock of the elapsed time.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // Blocking wait before each opening row of the statistics files.
    std::function<void(std::chrono::milliseconds)> sleep;
    // One line per step of the start-up and close orders.
    std::function<void(const char*)> trace;
    // Where the link watch looks whether the open device is still the one at its path.
    std::function<std::optional<DeviceIdentity>(const std::string& path)> identify;
    // How long the receive thread lets the line settle before its first wait.
    std::chrono::milliseconds startupDelay{1000};
    // The host's ear; may be null. Not owned; must outlive the session.
    SessionObserver* observer = nullptr;

    // --- Line memory ---
    // The database of the line's figures and alarm journal, opened with the session; empty:
    // the memory is kept in memory only. Its seconds are counted on the monotonic clock above
    // (also called on the receive thread, to stamp arrivals) and labelled by the wall clock.
    std::string historyPath;
    // How many completed 15-minute intervals, days and journal entries are kept, in the
    // database and in memory.
    LineMemoryOptions historyKeeping;
    // --- Reconnecting ---
    // How often a device that went is looked for (2 s, after a minute 30 s).
    RetryPeriods retry;
    // Called from any thread (mostly the receive thread) when the link's status changed; it
    // must not block nor call into the session. A host that wants the news at once queues a
    // call of PollLink() to its own thread here; without it they come at the next tick.
    std::function<void()> linkNews;
    // Called on the receive thread with every text handed to the parser and when it arrived
    // (the monotonic clock above), while the frame mutex is held: it must copy and return.
    std::function<void(std::string_view text, std::chrono::steady_clock::time_point at)> tap;
};

// The engine for one MUX, without any Qt. Its host (the window, the headless monitor, a test)
// calls every method below from one thread of its own, the host's thread; only the receive
// thread runs beside it. The host drives the ticks from its timers:
//   PanelRefresh every Supervision::kPanelRefreshMs, LinkWatch every Supervision::kLinkWatchMs,
//   LogFlush every MonitorState::logFlushPeriodMs while statistics are on (see LogFlush).
//
// Start-up, in this order (the window runs its own steps between them):
//   StartLink(portNumber, open)   thread created suspended, port number, port opened
//   (host starts its tick timers, waits a second)
//   ResumeIfOpen()                the thread runs when the port is open
// Close, in this order:
//   SetClosing()                  from here the panel refresh touches no LED state
//   StopLink()                    thread parked, port closed, thread stopped and joined
//   (host stops its tick timers)
//   StopStatisticsAtClose()       "Off" with its closing rows, when statistics are on
// Close() runs the three for a host with nothing to do in between.
class MuxSession {
public:
    explicit MuxSession(SessionOptions options);
    ~MuxSession();  // stops the thread if StopLink has not, closes the port and files
    MuxSession(const MuxSession&) = delete;
    MuxSession& operator=(const MuxSession&) = delete;

    // --- Start-up and close ---
    // Clears `closing`, creates the receive thread suspended, gives it the port number and,
    // when `open`, opens the port. A device that is not there is no error here: the port is
    // meant to be open all the same and the link reconnects once the thread runs (Link()
    // says how it stands). The result is whether the port is meant to be open, which the
    // host stores as "PortOpen".
    bool StartLink(int portNumber, bool open);
    // Lets the receive thread run when the port is meant to be open (it then also looks for
    // a device that is not there); it stays suspended otherwise.
    void ResumeIfOpen();
    void SetClosing();
    void StopLink();
    void StopStatisticsAtClose();
    void Close();

    // --- Ticks ---
    void PanelRefresh();
    void LinkWatch();
    // One flush pass. The host stops its flush timer before and starts it again only when
    // this returns true.
    bool LogFlush();

    // --- Port commands ("Port Open", "Port Settings...") ---
    // Whether the port is meant to be open: the user's "Port Open" (and the stored
    // "PortOpen"). It stays true while the device is gone and the link reconnects; IsLinkUp()
    // tells whether a device is open at this moment.
    bool IsPortOpen() const { return portOpen; }
    int PortNumber() const { return portNumber; }
    // Marks the port closed, parks the receive thread, then closes the port. Ends any
    // reconnecting.
    void ClosePort();
    // "Port Open". True: the port is open, or (a network link) connecting on the receive
    // thread, whose failure then comes as SessionObserver::PortOpenFailed. False: it failed
    // at once and stays closed; the host tells the user (nothing is shown here). Once open,
    // the port is kept open across unplugs until ClosePort.
    bool OpenPort();
    // A new port number for the next open; the host closes an open port first.
    void SetPortNumber(int number);
    std::string DevicePath() const;
    int LastOpenError() const;

    // ===== The link kept open (reconnecting) =====
    // The port is meant to be open and a device is open now.
    bool IsLinkUp() const;
    // Open, connecting, reconnecting (with the path and why) or closed.
    LinkStatus Link() const;
    // Tells the observer what changed in the link since it was last told. The ticks call it;
    // a host that set SessionOptions::linkNews calls it when the news come.
    void PollLink();
    // ===== end of the link kept open =====

    // --- Statistics commands ("On", "Off") ---
    // "On" after the user chose `chosenName`. True when statistics went on and the flush is
    // due: the host then starts its flush timer. Nothing changes while statistics are already
    // on. A recording asked for unattended passes `failure` to receive why it could not start,
    // instead of a notice.
    bool StatisticsOn(const std::string& chosenName, std::string* failure = nullptr);
    // "Off": closing rows, then the files close. The host stops its flush timer first.
    void StatisticsOff();
    bool IsStatisticsOn() const { return statistics.IsEventLogOpen(); }
    bool IsFlushDue() const { return statistics.IsFlushDue(); }
    const StatisticsLog& Statistics() const { return statistics; }

    // --- BER commands ---
    void SetBerInterval(int commandId);
    void ResetBer();
    bool IsBerIntervalChecked(int commandId) const { return meter.IsBerIntervalChecked(commandId); }

    // --- What the views read ---
    MonitorState& State() { return state; }
    const MonitorState& State() const { return state; }
    std::chrono::seconds Elapsed() const;
    // The picture the last panel refresh gave, read again now.
    PanelPicture Picture() const;
    std::mutex& FrameMutex() { return frameMutex; }
    // The driver, for tests and the window's own checks; null before StartLink.
    CComm* Comm() { return comm.get(); }
    // Bytes the link dropped, oldest first, because the line brought more than the parser
    // could take (a terminal server flooding); since the session began.
    std::uint64_t LineBytesDropped() const { return comm ? comm->DroppedBytes() : 0; }

    // --- Line memory: figures per second, bins and the alarm journal ---
    // Always on. Frames reach it at each PanelRefresh, each in the second its last character
    // arrived; the link as the line shows it ("no data" from kNoDataAfter after the last
    // characters, dated from them; noise is not silence), the modem lines at each LinkWatch,
    // port commands at once.
    // StopLink closes it. Read-only for views and metrics.
    static constexpr std::chrono::milliseconds kNoDataAfter{2500};
    // How long the memory keeps seconds open for characters the parser still holds.
    static constexpr std::chrono::seconds kHeldWait{30};
    const LineMemory& Memory() const { return memory; }
    // Acknowledges journal entries (by their ids, in one write) or every open
    // acknowledgement, now; returns how many were acknowledged.
    int Acknowledge(const std::vector<std::int64_t>& journalIds);
    int AcknowledgeAll();
    // The wall clock acknowledgements are stamped with.
    std::time_t WallNow() const;
    // When the last frame decoded arrived, on the wall clock (with its fraction); empty before
    // the first. Up to date at the last tick.
    std::optional<double> LastFrameTime() const;
    // The line second now: the memory's seconds, which a step of the wall clock does not move
    // back (see LineClock).
    std::time_t LineNow() const;

private:
    class ObserverBerSink : public BerSink {
    public:
        explicit ObserverBerSink(SessionObserver* observer) : observer(observer) {}
        void BerTexts(const std::array<std::string, 4>& texts) override {
            if (observer) {
                observer->BerTexts(texts);
            }
        }

    private:
        SessionObserver* observer;
    };

    void Trace(const char* step) const;
    void AlarmStep(bool bothChanged, const std::function<void()>& writeAlarmRow);
    void TributaryStep();
    void Notice(const std::string& message);
    // Tells the observer when the statistics went on or off since it was last told.
    void NoteStatistics();

    // --- Line memory ---
    // The frames since the last tick, the wall clock, the link, then the seconds that are over.
    void UpdateMemory();
    // Hands the frames queued by the receive thread to the memory, each in its own second, and
    // the silences between them: characters after a silence end "no data" (and a silence no
    // tick saw is dated all the same).
    void FeedMemory();
    // The link as the journal keeps it, after a tick or a port command.
    void NoteLinkState();
    // A link state for the journal, never dated before the one it follows.
    void NoteLink(LineCondition link, std::time_t at);
    void CloseMemory();
    // The receive thread starts (again) on an open port: silence counts from when it can
    // first hear the line.
    void Listening();

    SessionOptions options;
    std::unique_ptr<MonitorState> ownState;
    MonitorState& state;
    std::mutex frameMutex;
    BerMeter meter;
    FrameParser parser;
    ObserverBerSink berSink;
    StatisticsLog statistics;
    StatisticsLogHooks statisticsHooks;
    Supervision supervision;
    std::chrono::steady_clock::time_point startTime;
    int portNumber = 1;
    bool portOpen = false;
    std::optional<DeviceIdentity> openedDevice;
    bool statisticsShownOn = false;
    // --- Line memory ---
    LineMemory memory;
    LineClock lineClock;
    FrameQueue frameQueue;
    // The last decoded frame's arrival.
    std::optional<std::chrono::steady_clock::time_point> lastFrame;
    // The last characters' arrival, or when the link could first be heard if later.
    std::chrono::steady_clock::time_point lastHeard;
    // The receive thread runs on an open port: only then is silence "no data".
    bool listening = false;
    std::chrono::steady_clock::time_point listenedAt;
    // When the journal's link state last changed (line second): a later state never starts
    // before it.
    std::time_t linkNotedAt = 0;
    // Link watches since the port opened: until the first, the modem lines are not asked.
    int watchesSinceOpen = 0;
    std::uint64_t linkChangesShown = 0;
    // Last, so that it goes first: the thread is joined before the parts it uses.
    std::unique_ptr<CComm> comm;
};

}  // namespace kestrel
