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

namespace kestrel::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::Child;
using test::ReadFile;
// A loopback port nobody listens on now (the kernel's choice for a bound, closed socket).
int FreePort();

// Pids whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent);

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
    std::string StatusPath() const { return statusPath; }
    std::string Stderr() const { return ReadFile(stderrPath); }
    std::string SettingsFile() const { return settingsFile; }

    // The status file as it is now; empty while it does not exist or cannot be read.
    std::optional<QJsonObject> Status() const;
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
bool IsSpinner(const QString& data);  // twelve characters, one '*'

}  // namespace kestrel::e2e
