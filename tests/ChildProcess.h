// One child process of a test, started with fork and exec, its output going to files; and
// waiting for a condition, as for its end.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrel::test {

// Asks every `step` until `ready` holds (true) or `limit` has passed (false).
inline bool Eventually(const std::function<bool()>& ready, std::chrono::milliseconds limit,
                       std::chrono::milliseconds step = std::chrono::milliseconds(100)) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end;) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(step);
    }
    return ready();
}

// The child dies with the test process, and the destructor kills and reaps it whatever
// happened in the test.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Kill(); }

    // env entries ("NAME=value") are added to the test's own environment.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& stdoutPath, const std::string& stderrPath,
               const std::vector<std::string>& env = {}) {
        // Everything the child needs is made before fork: after it only async-signal-safe calls.
        std::vector<std::string> argStrings{program};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            const auto name = [](const std::string& s) { return s.substr(0, s.find('=')); };
            if (std::none_of(env.begin(), env.end(),
                             [&](const std::string& add) { return name(add) == name(entry); })) {
                envStrings.push_back(entry);
            }
        }
        envStrings.insert(envStrings.end(), env.begin(), env.end());
        const auto pointers = [](std::vector<std::string>& strings) {
            std::vector<char*> p;
            for (std::string& s : strings) {
                p.push_back(s.data());
            }
            p.push_back(nullptr);
            return p;
        };
        std::vector<char*> argv = pointers(argStrings);
        std::vector<char*> envp = pointers(envStrings);

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

    pid_t Pid() const { return pid; }
    // Started, and not yet seen to end (reaps it when it has).
    bool Running() {
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
    bool Signal(int signalNumber) const {
        return pid > 0 && !reaped && kill(pid, signalNumber) == 0;
    }
    // Waits up to `limit` for the end; true when it ended (then Status() tells how).
    bool WaitExit(std::chrono::milliseconds limit) {
        return Eventually([this] { return !Running(); }, limit, std::chrono::milliseconds(20)) &&
               reaped;
    }
    // waitpid status of the ended child.
    int Status() const { return status; }
    bool ExitedWith(int code) const {
        return reaped && WIFEXITED(status) && WEXITSTATUS(status) == code;
    }
    // "exit 0", "signal 9", "running"
    std::string Describe() const {
        return pid <= 0              ? "not started"
               : !reaped             ? "running"
               : WIFEXITED(status)   ? "exit " + std::to_string(WEXITSTATUS(status))
               : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                     : "status " + std::to_string(status);
    }
    // Sends `signalNumber` and waits up to `limit` for an exit with status 0.
    bool Stop(int signalNumber, std::chrono::milliseconds limit) {
        return Signal(signalNumber) && WaitExit(limit) && ExitedWith(0);
    }
    // Kills with SIGKILL and reaps; nothing when it has already ended.
    void Kill() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            int st = 0;
            while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
            }
            reaped = true;
            status = st;
        }
    }

private:
    pid_t pid = -1;
    bool reaped = false;
    int status = 0;
};

}  // namespace kestrel::test
