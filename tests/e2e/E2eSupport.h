// Helpers of the end-to-end tests: child processes, the simulator, the monitor and its status file.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/ChildProcess.h"
#include "tests/TestFiles.h"
#include "tests/metrics/HttpGet.h"

namespace kestrel::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::Child;
using test::Eventually;
using test::FreePort;
using test::ReadFile;

// Pids whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent);
// The program's path from PATH or /usr/sbin; empty when it is not installed.
std::string Which(const std::string& program);
// The JSON object in a file; empty while it does not exist or holds no whole object.
std::optional<QJsonObject> ReadJson(const std::string& path);

// The rows of a statistics file without their CR LF; `crlf` tells whether every row had one.
std::vector<std::string> Rows(const std::string& text, bool& crlf);
// Whether a row is its date and time followed by `pattern` (a regular expression).
bool Matches(const std::string& row, const char* pattern);
// The rows for a failure message.
std::string Show(const std::vector<std::string>& rows);
// The two files of a recording from start to close of a line that connected once. The event
// log: "on" before the connection, the connection, "off" while connected, and between them at
// most one alarm row matching `alarmRow` (the first frame after the connection may give one
// with what it carries). The G.821 log: its marks around one counts row per second with an
// alarm, the last ending in `counts` (none at all when `counts` is null).
void ExpectRecording(const std::string& eventLog, const char* alarmRow, const char* counts);

// The simulator on its own pseudo-terminal.
class Simulator {
public:
    // Starts kestrel-mux-sim with args and waits for the path on its first line.
    bool Start(const QTemporaryDir& dir, const std::vector<std::string>& args);
    // Writes a script into the folder and starts the simulator playing it at `rate`.
    bool StartScript(const QTemporaryDir& dir, const std::string& script, double rate);
    const std::string& Path() const { return path; }
    std::string Stderr() const { return ReadFile(stderrPath); }
    // "frames sent F" of the line printed at exit; -1 when there is none.
    long long FramesSent() const;
    // Holds the simulator (the line goes silent) and lets it go on.
    bool Pause() { return child.Signal(SIGSTOP); }
    bool Resume() { return child.Signal(SIGCONT); }
    Child child;

private:
    std::string path;
    std::string stderrPath;
};

// The kestrel program, offscreen, in settings of its own with COM1 open on `devicePath`.
class Monitor {
public:
    // The status file is named with --status-file, or with KESTREL_STATUS_FILE when
    // statusByEnvironment is set.
    bool Start(const QTemporaryDir& dir, const std::string& devicePath,
               const std::vector<std::string>& extraArgs = {}, bool statusByEnvironment = false);
    std::string Stderr() const { return ReadFile(stderrPath); }
    std::string SettingsFile() const { return settingsFile; }

    // The status file as it is now; empty while it does not exist or cannot be read.
    std::optional<QJsonObject> Status() const { return ReadJson(statusPath); }
    // Polls the status file until `ready` holds or `limit` has passed; returns the status
    // that satisfied it, or empty (the last status seen is in LastStatusText()).
    std::optional<QJsonObject> WaitFor(const std::function<bool(const QJsonObject&)>& ready,
                                       std::chrono::milliseconds limit);
    std::string LastStatusText() const { return lastStatusText; }
    Child child;

private:
    std::string statusPath;
    std::string stderrPath;
    std::string settingsFile;
    std::string lastStatusText;
};

// Shorthands for the members of a status.
QString Pane(const QJsonObject& s, const char* name);
QString AlarmLed(const QJsonObject& s, int id);
QString TribRow(const QJsonObject& s, const char* row);
long long FrameCount(const QJsonObject& s);
bool IsSpinner(const QString& data);   // twelve characters, one '*'
bool Connected(const QJsonObject& s);  // "MUX CONNECTED "
bool Flowing(const QJsonObject& s);    // the moving star, and frames counted

}  // namespace kestrel::e2e
