// Child processes, the simulator, the monitor and its status file for the end-to-end tests.
#include "E2eSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace kestrel::e2e {

std::string KestrelProgram() {
    return KESTREL_PROGRAM;
}

std::string SimulatorProgram() {
    return KESTREL_MUX_SIM_PROGRAM;
}

// ---------------------------------------------------------------------------------------------
// Child

Child::~Child() {
    Kill();
}

bool Child::Start(const std::string& program, const std::vector<std::string>& args,
                  const std::string& stdoutPath, const std::string& stderrPath,
                  const std::vector<std::string>& env) {
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& add : env) {
            replaced = replaced || add.substr(0, add.find('=')) == name;
        }
        if (!replaced) {
            envStrings.push_back(entry);
        }
    }
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = getpid();
    pid = (in >= 0 && out >= 0 && err >= 0) ? fork() : -1;
    if (pid == 0) {
        // The child goes when the test process goes, even when it dies without a teardown.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            signal(s, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    for (int fd : {in, out, err}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    reaped = false;
    status = 0;
    return pid > 0;
}

bool Child::Running() {
    if (pid <= 0 || reaped) {
        return false;
    }
    int st = 0;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
        reaped = true;
        status = st;
        return false;
    }
    return r == 0;
}

bool Child::Signal(int signalNumber) const {
    return pid > 0 && !reaped && kill(pid, signalNumber) == 0;
}

bool Child::WaitExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Running()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return reaped;
}

bool Child::ExitedWith(int code) const {
    return reaped && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

std::string Child::Describe() const {
    if (pid <= 0) {
        return "not started";
    }
    if (!reaped) {
        return "running";
    }
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

void Child::Kill() {
    if (pid > 0 && !reaped) {
        kill(pid, SIGKILL);
        int st = 0;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        reaped = true;
        status = st;
    }
}

// ---------------------------------------------------------------------------------------------
// Processes and files

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ProcessExists(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) {
        return found;
    }
    while (dirent* e = readdir(proc)) {
        const pid_t p = static_cast<pid_t>(std::atoi(e->d_name));
        if (p <= 0) {
            continue;
        }
        // Field 4 of stat is the parent; the name in field 2 may hold blanks and ')'.
        const std::string stat = ReadFile("/proc/" + std::string(e->d_name) + "/stat");
        const auto paren = stat.rfind(')');
        if (paren == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(paren + 1));
        std::string state;
        long ppid = 0;
        if (rest >> state >> ppid && ppid == parent) {
            found.push_back(p);
        }
    }
    closedir(proc);
    return found;
}

// ---------------------------------------------------------------------------------------------
// Simulator

bool Simulator::Start(const QTemporaryDir& dir, const std::vector<std::string>& args) {
    const std::string out = dir.filePath(QStringLiteral("sim.out")).toStdString();
    stderrPath = dir.filePath(QStringLiteral("sim.err")).toStdString();
    if (!child.Start(SimulatorProgram(), args, out, stderrPath)) {
        return false;
    }
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline && child.Running()) {
        const std::string text = ReadFile(out);
        if (const auto nl = text.find('\n'); nl != std::string::npos) {
            path = text.substr(0, nl);
            return !path.empty();
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

bool Simulator::StartScript(const QTemporaryDir& dir, const std::string& script, double rate) {
    const QString file = dir.filePath(QStringLiteral("line.script"));
    std::ofstream(file.toStdString()) << script;
    return Start(dir, {"--script", file.toStdString(), "--rate", std::to_string(rate)});
}

long long Simulator::FramesSent() const {
    static const std::regex sent("frames sent ([0-9]+)");
    const std::string text = Stderr();
    std::smatch m;
    return std::regex_search(text, m, sent) ? std::stoll(m[1]) : -1;
}

// ---------------------------------------------------------------------------------------------
// Monitor

bool Monitor::Start(const QTemporaryDir& dir, const std::string& devicePath,
                    const std::vector<std::string>& extraArgs, bool statusByEnvironment) {
    const QString settingsDir = dir.filePath(QStringLiteral("settings"));
    QDir().mkpath(settingsDir + QStringLiteral("/Verdanne Ltd."));
    settingsFile = (settingsDir + QStringLiteral("/Verdanne Ltd./Kestrel.conf")).toStdString();
    std::ofstream(settingsFile) << "[Settings]\nActivePort=1\nPortOpen=1\n";
    statusPath = dir.filePath(QStringLiteral("status.json")).toStdString();
    stderrPath = dir.filePath(QStringLiteral("kestrel.err")).toStdString();
    std::vector<std::string> args{"--settings-dir", settingsDir.toStdString(), "--device",
                                  "COM1=" + devicePath};
    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen",
                                 "XDG_RUNTIME_DIR=" + dir.path().toStdString(), "LC_ALL=C",
                                 "KESTREL_STATUS_FILE="};
    if (statusByEnvironment) {
        env.back() += statusPath;
    } else {
        args.insert(args.end(), {"--status-file", statusPath});
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return child.Start(KestrelProgram(), args,
                       dir.filePath(QStringLiteral("kestrel.out")).toStdString(), stderrPath, env);
}

std::optional<QJsonObject> Monitor::Status() const {
    QFile file(QString::fromStdString(statusPath));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) {
        return std::nullopt;
    }
    return doc.object();
}

std::optional<QJsonObject> Monitor::WaitFor(const std::function<bool(const QJsonObject&)>& ready,
                                            std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (true) {
        if (const auto s = Status()) {
            lastStatusText = QJsonDocument(*s).toJson(QJsonDocument::Compact).toStdString();
            if (ready(*s)) {
                return s;
            }
        }
        if (Clock::now() >= deadline || !child.Running()) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(100ms);
    }
}

// ---------------------------------------------------------------------------------------------
// Status members

QString Pane(const QJsonObject& s, const char* name) {
    return s[QStringLiteral("panes")].toObject()[QLatin1String(name)].toString();
}

QString AlarmLed(const QJsonObject& s, int id) {
    return s[QStringLiteral("alarmLeds")].toObject()[QString::number(id)].toString();
}

QString TribRow(const QJsonObject& s, const char* row) {
    return s[QStringLiteral("tributaryLeds")].toObject()[QLatin1String(row)].toString();
}

long long FrameCount(const QJsonObject& s) {
    return s[QStringLiteral("frameCount")].toInteger(-1);
}

bool IsSpinner(const QString& data) {
    return data.size() == 12 && data.count(u'*') == 1 && data.count(u' ') == 11;
}

}  // namespace kestrel::e2e
