// Child processes, the simulator, the monitor and its status file for the end-to-end tests.
#include "E2eSupport.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace kestrel::e2e {

// ---------------------------------------------------------------------------------------------
// Processes

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
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
    if (!child.Start(KESTREL_MUX_SIM_PROGRAM, args, out, stderrPath)) {
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
                                 "XDG_RUNTIME_DIR=" + dir.path().toStdString(),
                                 "XDG_DATA_HOME=" + dir.path().toStdString(), "LC_ALL=C",
                                 "KESTREL_STATUS_FILE="};
    if (statusByEnvironment) {
        env.back() += statusPath;
    } else {
        args.insert(args.end(), {"--status-file", statusPath});
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return child.Start(KESTREL_PROGRAM, args,
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
