// The statistics recording: the EventLog and G821Log files, their rows and their flush.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "monitor/MonitorState.h"
#include "stats/LogFile.h"
#include "stats/LogRows.h"

namespace kestrel {

// Owns the two statistics files of the main window and writes every row into them. It holds
// no Qt: the window shows the file dialog, runs the flush timer and turns failure notices
// into a message that does not stop the monitoring; everything else happens here.
//
// All members are called from the user-interface thread. LogFlush takes the frame mutex so
// that the receive thread parses no frame while the files are closed and reopened.
//
// The two files are one recording: both are open or neither is, and statistics count as on
// while they are. "On" creates both or leaves nothing behind. When either file fails later
// (a row cannot be written, the file cannot be closed or reopened at a flush, or a flush finds
// it removed, replaced or moved), the other file gets its closing row, both are closed, the
// flush stops and the user is told once, naming the file and the reason. A recording that
// the menu shows as off never goes on writing.
class StatisticsLog {
public:
    using Clock = std::function<std::time_t()>;                      // calendar time, seconds
    using Sleeper = std::function<void(std::chrono::milliseconds)>;  // blocking wait
    // Told once per failure, after the step that met it has finished (never while the frame
    // mutex is held).
    using Notifier = std::function<void(const std::string& plainMessage)>;

    static constexpr std::chrono::milliseconds kRowDelay{200};  // before each "On" row

    struct Options {
        Notifier notify;             // may be empty
        Clock clock;                 // default: the system clock
        Sleeper sleeper;             // default: std::this_thread::sleep_for
        std::shared_ptr<FileIo> io;  // default: plain POSIX calls
    };

    explicit StatisticsLog(MonitorState& state, Options options = {});
    ~StatisticsLog();  // closes what is still open, without rows
    StatisticsLog(const StatisticsLog&) = delete;
    StatisticsLog& operator=(const StatisticsLog&) = delete;

    // The "On" command after the user chose `chosenName` and confirmed. While statistics are
    // already on nothing changes and the result is false. Otherwise both files are created
    // and each gets its opening row after a 200 ms wait. When either cannot be created or
    // written, neither stays: files this call created are removed, and the reason (the file
    // and the system's message) goes to `failure` when given, else to the user. Returns true
    // when statistics went on; the window then starts the flush timer
    // (MonitorState::logFlushPeriodMs).
    bool StatisticsOn(const std::string& chosenName, std::string* failure = nullptr);

    // The "Off" command: closing row, then close, for each file; a file that fails here ends
    // the pair as any failure does. The window stops the flush timer before calling this; no
    // flush follows.
    void StatisticsOff();

    // One flush pass, from the flush timer: the window stops its timer, calls this, and
    // starts the timer again only when it returns true. Closes and reopens (appending) each
    // file that is open when the pass starts, under the name it was created with, holding
    // `frameMutex` throughout. Does nothing and returns false when no flush is due (after
    // "Off" or a failure).
    bool LogFlush(std::mutex& frameMutex);

    // For the check marks: "On" is checked while the EventLog is open, "Off" while it is not.
    // The G821Log is open exactly when the EventLog is.
    bool IsEventLogOpen() const { return eventLog.IsOpen(); }
    bool IsG821LogOpen() const { return g821Log.IsOpen(); }
    // Whether a flush pass is due at the next tick of the flush timer.
    bool IsFlushDue() const { return flushDue; }

    // The name the user chose for the recording (the EventLog), and the derived G821Log name;
    // both empty before the first "On".
    const std::string& logFileName() const { return eventLogName; }
    const std::string& g821LogName() const { return g821Name; }

    // Rows of the supervision timers; the timers decide when a row is due (both status bytes
    // changed while connected; an alarm frame since the last tick; a change of `connected`).
    // Each writes only while statistics are on and does nothing otherwise.
    // EventLog AlarmRow of the eight alarm flags as they are now.
    void WriteAlarmRow();
    // G821Log CountsRow of the four cumulative counters as they are now.
    void WriteCountsRow();
    // A change of the connection: one time stamp for both rows, the EventLog MarkRow, then the
    // G821Log MarkRow of the connection-change form, both for `connected`.
    void WriteMarkRows(bool connected);

    // The G821Log name for a chosen name: in the same folder, the file name up to its first
    // '.', then "G821.csv". Dots in folder names do not count.
    static std::string G821LogNameFor(const std::string& chosenName);

private:
    enum class Which { EventLog, G821Log };
    // What went wrong with a file: a failed call, or what a flush found at its name.
    enum class Cause { Create, Write, Close, Reopen, Removed, Replaced, Moved };
    struct Trouble {
        Cause cause;
        std::error_code ec;  // for the failed calls
    };

    LogFile& FileOf(Which which) { return which == Which::EventLog ? eventLog : g821Log; }
    const std::string& NameOf(Which which) const {
        return which == Which::EventLog ? eventLogName : g821Name;
    }
    // The form of the rows that begin and end a recording in each file.
    static MarkForm OnOffForm(Which which) {
        return which == Which::EventLog ? MarkForm::EventLog : MarkForm::G821OnOff;
    }
    static std::optional<Trouble> CheckName(const LogFile& file);
    std::string Describe(Which which, const Trouble& trouble) const;
    std::optional<Trouble> WriteLine(Which which, const std::string& row);
    void WriteRow(Which which, const std::string& row);
    std::optional<Trouble> EndFile(Which which);
    void FailPair(Which which, const Trouble& trouble);
    void DeliverNotice();

    MonitorState& state;
    Notifier notify;
    Clock clock;
    Sleeper sleeper;
    LogFile eventLog;
    LogFile g821Log;
    std::string eventLogName;
    std::string g821Name;
    bool flushDue = false;
    std::string pendingNotice;
};

}  // namespace kestrel
