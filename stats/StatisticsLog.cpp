// Switching the statistics files on and off, their flush and the rows of the supervision steps.
#include "stats/StatisticsLog.h"

#include <thread>

namespace kestrel {

namespace {

std::string Reason(const std::error_code& ec) {
    if (IsLockConflict(ec)) {
        return "another monitor is already recording into it";
    }
    return ec.message();
}

}  // namespace

StatisticsLog::StatisticsLog(MonitorState& state, Options options)
    : state(state),
      notify(std::move(options.notify)),
      clock(options.clock ? std::move(options.clock) : Clock([] { return std::time(nullptr); })),
      sleeper(options.sleeper
                  ? std::move(options.sleeper)
                  : Sleeper([](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); })),
      eventLog(options.io),
      g821Log(options.io) {}

StatisticsLog::~StatisticsLog() = default;

std::string StatisticsLog::G821LogNameFor(const std::string& chosenName) {
    const size_t slash = chosenName.rfind('/');
    const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = chosenName.find('.', baseStart);
    const size_t stemEnd = dot == std::string::npos ? chosenName.size() : dot;
    return chosenName.substr(0, stemEnd) + "G821.csv";
}

bool StatisticsLog::StatisticsOn(const std::string& chosenName) {
    if (IsEventLogOpen()) {
        return false;
    }
    // A G821Log still open after its EventLog failed belongs to the old recording: end it as
    // "Off" would before the new pair (possibly under the same names) is created.
    if (IsG821LogOpen()) {
        CloseWithMark(Which::G821Log);
    }
    flushDue = true;  // until a file fails below
    eventLogName = chosenName;
    g821Name = G821LogNameFor(chosenName);
    for (Which which : {Which::EventLog, Which::G821Log}) {
        if (const auto ec = FileOf(which).Open(NameOf(which), LogFile::OpenMode::CreateTruncate)) {
            Fail(which, Action::Create, ec);
        }
    }
    if (IsEventLogOpen()) {
        sleeper(kRowDelay);
        WriteRow(Which::EventLog,
                 MarkRow(MarkForm::EventLog, state.connected.load() != 0, clock()));
    }
    if (IsG821LogOpen()) {
        sleeper(kRowDelay);
        WriteRow(Which::G821Log,
                 MarkRow(MarkForm::G821OnOff, state.connected.load() != 0, clock()));
    }
    flushDue = flushDue && IsEventLogOpen();
    DeliverNotices();
    return flushDue;
}

void StatisticsLog::StatisticsOff() {
    flushDue = false;
    CloseWithMark(Which::EventLog);
    CloseWithMark(Which::G821Log);
    DeliverNotices();
}

bool StatisticsLog::LogFlush(std::mutex& frameMutex) {
    if (!flushDue) {
        return false;
    }
    flushDue = false;  // due again only after a pass that went through
    {
        std::lock_guard<std::mutex> hold(frameMutex);
        // Only files open now are reopened: a file that was never created or has been closed
        // must not have rows appended to an older recording of the same name.
        const bool eventWasOpen = IsEventLogOpen();
        const bool g821WasOpen = IsG821LogOpen();
        bool ok = eventWasOpen;
        for (Which which : {Which::EventLog, Which::G821Log}) {
            const bool wasOpen = which == Which::EventLog ? eventWasOpen : g821WasOpen;
            if (!ok || !wasOpen) {
                continue;
            }
            LogFile& file = FileOf(which);
            if (const auto ec = file.Close()) {
                Fail(which, Action::Close, ec);
                ok = false;
            } else if (const auto ec2 =
                           file.Open(NameOf(which), LogFile::OpenMode::AppendExisting)) {
                Fail(which, Action::Reopen, ec2);
                ok = false;
            }
        }
        flushDue = ok;
    }
    // Notices go out after the mutex is released: whatever the window does with them must
    // not keep the receive thread waiting.
    DeliverNotices();
    return flushDue;
}

void StatisticsLog::WriteAlarmRow() {
    if (IsEventLogOpen()) {
        WriteRow(Which::EventLog, AlarmRow(AlarmFlagsOf(state), clock()));
        DeliverNotices();
    }
}

void StatisticsLog::WriteCountsRow() {
    if (IsG821LogOpen()) {
        WriteRow(Which::G821Log, CountsRow(CountsOf(state), clock()));
        DeliverNotices();
    }
}

void StatisticsLog::WriteMarkRows(bool connected) {
    const std::time_t now = clock();
    if (IsEventLogOpen()) {
        WriteRow(Which::EventLog, MarkRow(MarkForm::EventLog, connected, now));
    }
    if (IsG821LogOpen()) {
        WriteRow(Which::G821Log, MarkRow(MarkForm::G821ConnectionChange, connected, now));
    }
    DeliverNotices();
}

void StatisticsLog::WriteRow(Which which, const std::string& row) {
    if (const auto ec = FileOf(which).WriteLine(row)) {
        Fail(which, Action::Write, ec);
    }
}

void StatisticsLog::CloseWithMark(Which which) {
    LogFile& file = FileOf(which);
    if (!file.IsOpen()) {
        return;
    }
    const MarkForm form = which == Which::EventLog ? MarkForm::EventLog : MarkForm::G821OnOff;
    WriteRow(which, MarkRow(form, state.connected.load() != 0, clock()));
    if (file.IsOpen()) {
        if (const auto ec = file.Close()) {
            Fail(which, Action::Close, ec);
        }
    }
}

void StatisticsLog::Fail(Which which, Action action, const std::error_code& ec) {
    const bool isEvent = which == Which::EventLog;
    std::string text;
    if (action == Action::Create) {
        // The file was never opened; the recording goes on (or not) without it.
        text = isEvent ? "Statistics could not be started: the event log \"" + eventLogName +
                             "\" could not be created (" + Reason(ec) + ")."
                       : "The G.821 log \"" + g821Name + "\" could not be created (" + Reason(ec) +
                             "), so the G.821 counts are not recorded.";
    } else {
        // Close what is left of the file; its error adds nothing to the one being reported.
        (void)FileOf(which).Close();
        flushDue = false;
        const char* what = action == Action::Write   ? "written to"
                           : action == Action::Close ? "closed"
                                                     : "opened again";
        text = isEvent
                   ? "Statistics recording stopped: the event log \"" + eventLogName +
                         "\" could not be " + what + " (" + Reason(ec) +
                         "). The rows already recorded are kept; switch statistics on "
                         "again to start a new recording."
                   : "G.821 recording stopped: the G.821 log \"" + g821Name + "\" could not be " +
                         what + " (" + Reason(ec) + "). The rows already recorded are kept.";
        if (!isEvent && IsEventLogOpen()) {
            text += " The event log goes on recording.";
        }
    }
    pendingNotices.push_back(std::move(text));
}

void StatisticsLog::DeliverNotices() {
    if (pendingNotices.empty()) {
        return;
    }
    // One notice per command or timer step, even when both files failed in it.
    std::string text;
    for (const auto& line : pendingNotices) {
        text += (text.empty() ? "" : "\n") + line;
    }
    pendingNotices.clear();
    if (notify) {
        notify(text);
    }
}

}  // namespace kestrel
