// Helpers of the line memory tests: time zones, frames from letters, stored databases and a
// small disk.
#pragma once

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "performance/Figures.h"
#include "performance/HistoryStore.h"
#include "tests/TestFiles.h"

namespace kestrel::test {

// Sets TZ for the life of the object.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = getenv("TZ"))
            saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved.c_str(), 1);
        tzset();
    }

private:
    std::string saved;
};

// One second of the near end by letter: '.' clean, 'e' count 1, 'f' count 15 (errored,
// not severe), 'S' count 16 (severe), 'D' loss of signal. Everything else is clean.
inline FrameSecond NearSecond(char c) {
    FrameSecond f;
    f.nearCount = c == 'e' ? 1 : c == 'f' ? 15 : c == 'S' ? 16 : 0;
    f.nearDefect = c == 'D';
    f.alarms = c == 'D' ? 1 : 0;
    f.remoteTribsDecoded = c != 'D';
    return f;
}

// A database as the history tool reads it.
struct StoredDatabase : HistoryStore {
    explicit StoredDatabase(const std::string& db) {
        std::string error;
        EXPECT_TRUE(OpenReadOnly(db, error)) << db << ": " << error;
    }
};

// Runs `body` in a child process with a file system of `bytes` mounted at `disk` for it alone (a
// mount namespace of its own, so nothing stays mounted whatever happens). False where none can
// be mounted, neither as root nor in a user namespace.
inline bool OnSmallDisk(const std::string& disk, std::size_t bytes,
                        const std::function<void()>& body) {
    const std::string uid = "0 " + std::to_string(getuid()) + " 1";
    const std::string gid = "0 " + std::to_string(getgid()) + " 1";
    const pid_t child = fork();
    if (child == 0) {
        const auto put = [](const char* file, const std::string& text) {
            std::ofstream f(file);
            f << text;
            f.close();
            return !f.fail();
        };
        const bool alone =
            unshare(CLONE_NEWNS) == 0 ||
            (unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && put("/proc/self/setgroups", "deny") &&
             put("/proc/self/uid_map", uid) && put("/proc/self/gid_map", gid));
        const std::string size = "size=" + std::to_string(bytes);
        if (!alone || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0)
            _exit(77);
        body();
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child &&
           !(WIFEXITED(status) && WEXITSTATUS(status) == 77);
}

}  // namespace kestrel::test
