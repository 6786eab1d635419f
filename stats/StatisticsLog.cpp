// Switching the statistics files on and off, their flush and the rows of the supervision steps.
#include "stats/StatisticsLog.h"

#include <thread>

namespace kestrel {

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

bool StatisticsLog::StatisticsOn(const std::string& chosenName, std::string* failure) {
    if (IsEventLogOpen()) {
        return false;
    }
    eventLogName = chosenName;
    g821Name = G821LogNameFor(chosenName);
    const bool connected = state.connected.load() != 0;
    std::optional<std::pair<Which, Trouble>> failed;
    // The EventLog first: when its name cannot be used (a folder, say), no G821Log is made
    // beside it.
    for (Which which : {Which::EventLog, Which::G821Log}) {
        if (const auto ec = FileOf(which).Open(NameOf(which), LogFile::OpenMode::Create)) {
            failed = {which, {Cause::Create, ec}};
            break;
        }
    }
    // Earlier recordings under these names are emptied only once both files are ours.
    for (Which which : {Which::EventLog, Which::G821Log}) {
        if (!failed) {
            if (const auto ec = FileOf(which).Empty()) {
                failed = {which, {Cause::Create, ec}};
            }
        }
    }
    for (Which which : {Which::EventLog, Which::G821Log}) {
        if (!failed) {
            sleeper(kRowDelay);
            if (const auto trouble =
                    WriteLine(which, MarkRow(OnOffForm(which), connected, clock()))) {
                failed = {which, *trouble};
            }
        }
    }
    if (failed) {
        eventLog.Discard();
        g821Log.Discard();
        const std::string reason = Describe(failed->first, failed->second);
        if (failure) {
            *failure = reason;
        } else {
            pendingNotice = "Statistics could not be started: " + reason + ".";
            DeliverNotice();
        }
        return false;
    }
    flushDue = true;
    return true;
}

void StatisticsLog::StatisticsOff() {
    flushDue = false;
    for (Which which : {Which::EventLog, Which::G821Log}) {
        if (const auto trouble = EndFile(which)) {
            FailPair(which, *trouble);
            break;
        }
    }
    DeliverNotice();
}

bool StatisticsLog::LogFlush(std::mutex& frameMutex) {
    if (!flushDue) {
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(frameMutex);
        for (Which which : {Which::EventLog, Which::G821Log}) {
            // Each file is reopened under the name it was created with, and only while that
            // name still leads to it: rows appended to whatever took the name would be lost
            // to the recording.
            LogFile& file = FileOf(which);
            std::optional<Trouble> trouble = CheckName(file);
            if (!trouble) {
                if (const auto ec = file.Close()) {
                    trouble = Trouble{Cause::Close, ec};
                } else if (const auto ec2 =
                               file.Open(NameOf(which), LogFile::OpenMode::AppendExisting)) {
                    trouble = Trouble{Cause::Reopen, ec2};
                }
            }
            if (trouble) {
                FailPair(which, *trouble);
                break;
            }
        }
    }
    // The notice goes out after the mutex is released: whatever the window does with it must
    // not keep the receive thread waiting.
    DeliverNotice();
    return flushDue;
}

void StatisticsLog::WriteAlarmRow() {
    if (IsEventLogOpen()) {
        WriteRow(Which::EventLog, AlarmRow(AlarmFlagsOf(state), clock()));
        DeliverNotice();
    }
}

void StatisticsLog::WriteCountsRow() {
    if (IsG821LogOpen()) {
        WriteRow(Which::G821Log, CountsRow(CountsOf(state), clock()));
        DeliverNotice();
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
    DeliverNotice();
}

std::optional<StatisticsLog::Trouble> StatisticsLog::WriteLine(Which which,
                                                               const std::string& row) {
    if (const auto ec = FileOf(which).WriteLine(row)) {
        return Trouble{Cause::Write, ec};
    }
    return std::nullopt;
}

void StatisticsLog::WriteRow(Which which, const std::string& row) {
    if (const auto trouble = WriteLine(which, row)) {
        FailPair(which, *trouble);
    }
}

std::optional<StatisticsLog::Trouble> StatisticsLog::CheckName(const LogFile& file) {
    switch (file.Check()) {
        case LogFile::Standing::InPlace:
            return std::nullopt;
        case LogFile::Standing::Removed:
            return Trouble{Cause::Removed, {}};
        case LogFile::Standing::Replaced:
            return Trouble{Cause::Replaced, {}};
        case LogFile::Standing::Moved:
            return Trouble{Cause::Moved, {}};
    }
    return std::nullopt;
}

std::optional<StatisticsLog::Trouble> StatisticsLog::EndFile(Which which) {
    LogFile& file = FileOf(which);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    // A file that lost its name gets no closing row: nobody would read it.
    std::optional<Trouble> trouble = CheckName(file);
    if (!trouble) {
        trouble = WriteLine(which, MarkRow(OnOffForm(which), state.connected.load() != 0, clock()));
    }
    if (const auto ec = file.Close(); ec && !trouble) {
        trouble = Trouble{Cause::Close, ec};
    }
    return trouble;
}

void StatisticsLog::FailPair(Which which, const Trouble& trouble) {
    // Close what is left of the failed file; its error adds nothing to the one being reported.
    (void)FileOf(which).Close();
    const Which other = which == Which::EventLog ? Which::G821Log : Which::EventLog;
    const std::optional<Trouble> otherTrouble = EndFile(other);
    flushDue = false;
    std::string text = "Statistics recording stopped: " + Describe(which, trouble) + ".";
    switch (trouble.cause) {
        case Cause::Removed:
        case Cause::Replaced:
            text += " The rows recorded in it are lost.";
            break;
        case Cause::Moved:
            text += " The rows already recorded stay in the moved file.";
            break;
        default:
            text += " The rows already recorded are kept.";
            break;
    }
    if (otherTrouble) {
        std::string also = Describe(other, *otherTrouble);
        also[0] = 'T';
        text += " " + also + " as well.";
    }
    text += " Switch statistics on again to start a new recording.";
    if (pendingNotice.empty()) {
        pendingNotice = std::move(text);
    }
}

std::string StatisticsLog::Describe(Which which, const Trouble& trouble) const {
    const bool isEvent = which == Which::EventLog;
    const std::string file =
        std::string("the ") + (isEvent ? "event log" : "G.821 log") + " \"" + NameOf(which) + "\" ";
    const char* what = "";
    switch (trouble.cause) {
        case Cause::Removed:
            return file + "was removed";
        case Cause::Replaced:
            return file + "was replaced by another file";
        case Cause::Moved:
            return file + "was moved or renamed";
        case Cause::Create:
            what = "could not be created";
            break;
        case Cause::Write:
            what = "could not be written to";
            break;
        case Cause::Close:
            what = "could not be closed";
            break;
        case Cause::Reopen:
            what = "could not be opened again";
            break;
    }
    std::string reason = trouble.ec.message();
    if (IsLockConflict(trouble.ec)) {
        // The same error number means a lock held elsewhere at an open, and a pipe that
        // takes no more at a write.
        reason = trouble.cause == Cause::Write ? "its reader is not keeping up"
                                               : "another monitor is already recording into it";
    }
    return file + what + " (" + reason + ")";
}

void StatisticsLog::DeliverNotice() {
    if (pendingNotice.empty()) {
        return;
    }
    const std::string text = std::move(pendingNotice);
    pendingNotice.clear();
    if (notify) {
        notify(text);
    }
}

}  // namespace kestrel
