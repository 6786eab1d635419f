// The fixture of the kestrel-headless end-to-end tests: two simulators and the monitor, each in
// a temporary folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonObject>
#include <fstream>
#include <iostream>
#include <regex>

#include "E2eSupport.h"

namespace kestrel::e2e {

// A working line with nothing to tell, for a thousand frames.
constexpr const char* kQuietScript = "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n";

class HeadlessEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- kestrel-headless stderr:\n" << Log();
        }
        headless.Kill();
        a.child.Kill();
        b.child.Kill();
    }

    std::string Path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }

    // `journal`: standard error is announced as journald's stream, as systemd does.
    bool StartHeadless(const std::string& config, bool journal = false) {
        std::ofstream(Path("kestrel.ini")) << config;
        return RunHeadless({"--config", Path("kestrel.ini")}, journal);
    }
    bool RunHeadless(std::vector<std::string> args, bool journal = false) {
        args.insert(args.end(), {"--status-dir", dir.path().toStdString(), "--state-dir",
                                 dir.path().toStdString()});
        std::vector<std::string> env{"LC_ALL=C"};
        if (journal) {
            std::ofstream(Path("headless.err"), std::ios::trunc).flush();
            struct stat st {};
            if (::stat(Path("headless.err").c_str(), &st) != 0) {
                return false;
            }
            env.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                          std::to_string(st.st_ino));
        }
        return headless.Start(KESTREL_HEADLESS_PROGRAM, args, Path("headless.out"),
                              Path("headless.err"), env);
    }

    std::optional<QJsonObject> Status(const char* name) const {
        return ReadJson(Path(std::string(name) + ".json"));
    }
    bool WaitFor(const char* name, const std::function<bool(const QJsonObject&)>& ready,
                 std::chrono::milliseconds limit) {
        return Eventually(
                   [&] {
                       const auto s = Status(name);
                       return (s && ready(*s)) || !headless.Running();
                   },
                   limit, 50ms) &&
               headless.Running();
    }
    // The first group of `pattern` once it turns up in the log; empty if it does not in time.
    std::string WaitForLog(const std::regex& pattern, std::chrono::milliseconds limit = 5s) {
        std::string log;
        std::smatch m;
        Eventually(
            [&] {
                log = Log();
                return std::regex_search(log, m, pattern) || !headless.Running();
            },
            limit, 50ms);
        return m.size() > 1 ? m.str(1) : "";
    }

    static QString Link(const QJsonObject& s) { return s[QStringLiteral("link")].toString(); }

    void Stop() { ASSERT_TRUE(headless.Stop(SIGTERM, 10s)) << headless.Describe(); }

    std::string Log() const { return ReadFile(Path("headless.err")); }

    QTemporaryDir dir, dirA, dirB;
    Simulator a, b;
    Child headless;
};

}  // namespace kestrel::e2e
