// Child processes, the simulator, the monitor and its status file for the end-to-end tests.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace kestrel::e2e {

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(parent) + "/task", ec)) {
        std::istringstream children(ReadFile(task.path() / "children"));
        for (pid_t p; children >> p;) {
            found.push_back(p);
        }
    }
    return found;
}

std::string Which(const std::string& program) {
    const QString name = QString::fromStdString(program);
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin")});
    }
    return found.toStdString();
}

std::optional<QJsonObject> ReadJson(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    return doc.isObject() ? std::optional(doc.object()) : std::nullopt;
}

std::vector<std::string> Rows(const std::string& text, bool& crlf) {
    std::vector<std::string> rows;
    crlf = !text.empty() && text.back() == '\n';
    for (std::string row : test::Lines(text)) {
        crlf = crlf && row.ends_with('\r');
        rows.push_back(row.ends_with('\r') ? row.substr(0, row.size() - 1) : row);
    }
    return rows;
}

bool Matches(const std::string& row, const char* pattern) {
    return std::regex_match(row,
                            std::regex(std::string(R"(\d\d/\d\d/\d\d,\d\d:\d\d:\d\d)") + pattern));
}

std::string Show(const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& r : rows) {
        text += r + "\n";
    }
    return text;
}

void ExpectRecording(const std::string& eventLog, const char* alarmRow, const char* counts) {
    bool crlf = false;
    const auto events = Rows(ReadFile(eventLog), crlf);
    EXPECT_TRUE(crlf) << eventLog;
    ASSERT_GE(events.size(), 3u) << Show(events);
    ASSERT_LE(events.size(), 4u) << Show(events);
    EXPECT_TRUE(Matches(events.front(), ",NC,{10}") && Matches(events[1], ",{11}") &&
                Matches(events.back(), ",{11}") &&
                (events.size() == 3 || Matches(events[2], alarmRow)))
        << Show(events);
    const std::string g821Log = eventLog.substr(0, eventLog.rfind('.')) + "G821.csv";
    const auto g821 = Rows(ReadFile(g821Log), crlf);
    EXPECT_TRUE(crlf) << g821Log;
    ASSERT_GE(g821.size(), 3u) << Show(g821);
    EXPECT_TRUE(Matches(g821.front(), ",NC") && Matches(g821[1], ",") && Matches(g821.back(), ""))
        << Show(g821);
    for (std::size_t i = 2; i + 1 < g821.size(); ++i) {
        EXPECT_TRUE(Matches(g821[i], ",,\\d+,\\d+,\\d+,\\d+")) << Show(g821);
    }
    EXPECT_TRUE(counts ? g821.size() > 3 && g821[g821.size() - 2].ends_with(counts)
                       : g821.size() == 3)
        << Show(g821);
}

bool Simulator::Start(const QTemporaryDir& dir, const std::vector<std::string>& args) {
    const std::string out = dir.filePath(QStringLiteral("sim.out")).toStdString();
    stderrPath = dir.filePath(QStringLiteral("sim.err")).toStdString();
    if (!child.Start(KESTREL_MUX_SIM_PROGRAM, args, out, stderrPath)) {
        return false;
    }
    // The path on the first line of its output.
    std::string text;
    Eventually(
        [&] {
            text = ReadFile(out);
            return text.find('\n') != std::string::npos || !child.Running();
        },
        10s, 20ms);
    path = text.substr(0, text.find('\n') == std::string::npos ? 0 : text.find('\n'));
    return !path.empty();
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
    std::vector<std::string> env{
        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.path().toStdString(),
        "XDG_DATA_HOME=" + dir.path().toStdString(), "LC_ALL=C", "KESTREL_STATUS_FILE="};
    if (statusByEnvironment) {
        env.back() += statusPath;
    } else {
        args.insert(args.end(), {"--status-file", statusPath});
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return child.Start(KESTREL_PROGRAM, args,
                       dir.filePath(QStringLiteral("kestrel.out")).toStdString(), stderrPath, env);
}

std::optional<QJsonObject> Monitor::WaitFor(const std::function<bool(const QJsonObject&)>& ready,
                                            std::chrono::milliseconds limit) {
    std::optional<QJsonObject> found;
    Eventually(
        [&] {
            found = Status();
            if (found) {
                lastStatusText = QJsonDocument(*found).toJson(QJsonDocument::Compact).toStdString();
            }
            return (found && ready(*found)) || !child.Running();
        },
        limit);
    return found && ready(*found) ? found : std::nullopt;
}

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

bool Connected(const QJsonObject& s) {
    return Pane(s, "mux") == u"MUX CONNECTED ";
}

bool Flowing(const QJsonObject& s) {
    return IsSpinner(Pane(s, "data")) && FrameCount(s) > 0;
}

}  // namespace kestrel::e2e
