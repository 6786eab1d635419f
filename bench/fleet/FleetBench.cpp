// One process plays N quiet MUXes on N pseudo-terminals and runs kestrel-headless on them with
// line memory, status pictures and metrics on: start-up (and a restart over the databases it
// wrote), CPU, memory, threads, frames counted, and the stop after SIGTERM, in steady running
// and in the middle of the start-up.
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/fleet/SimFleet.h"

namespace {

using namespace kestrel::bench;

struct Options {
    std::string headless;
    int muxes = 50;
    int seconds = 30;
    // SIGTERM this long after the start (a second run, recordings on); negative: no such run.
    double stopDuringStart = 1.0;
    std::string dir;
};

// The frames each MUX's metrics count, by MUX name.
std::map<std::string, long long> ScrapeFrames(int port) {
    std::map<std::string, long long> out;
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return out;
    }
    const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = ::write(s, request.data(), request.size());
    std::string text;
    char buf[65536];
    for (ssize_t n; (n = ::read(s, buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(s);
    std::istringstream lines(text);
    const std::string family = "kestrel_frames_total{";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(family, 0) != 0) {
            continue;
        }
        const auto at = line.find("mux=\"");
        const auto end = at == std::string::npos ? at : line.find('"', at + 5);
        const auto space = line.rfind(' ');
        if (end != std::string::npos && space != std::string::npos) {
            out[line.substr(at + 5, end - at - 5)] = std::atoll(line.c_str() + space + 1);
        }
    }
    return out;
}

pid_t Launch(const Options& o, const std::string& config, const std::string& log) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen(log.c_str(), "w", stderr) == nullptr ||
            std::freopen("/dev/null", "w", stdout) == nullptr) {
            ::_exit(127);
        }
        const std::string state = o.dir + "/state";
        ::execl(o.headless.c_str(), o.headless.c_str(), "--config", config.c_str(), "--state-dir",
                state.c_str(), static_cast<char*>(nullptr));
        std::perror("exec");
        ::_exit(127);
    }
    return pid;
}

// Waits up to `limit` for the process to end; kills it past that. Seconds taken, or empty.
std::optional<double> WaitEnd(pid_t pid, std::chrono::seconds limit, int& status) {
    const auto t = Clock::now();
    while (Clock::now() - t < limit) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return Since(t);
        }
        std::this_thread::sleep_for(5ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

// Until every MUX says where its line memory is: opened, its database ready.
std::optional<double> WaitStarted(const std::string& log, int n, Clock::time_point from,
                                  std::chrono::seconds limit) {
    while (Clock::now() - from < limit) {
        if (Count(ReadAll(log), ": line memory in ") >= n) {
            return Since(from);
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

std::string Config(const Options& o, const Fleet& fleet, int port, bool record) {
    std::ostringstream c;
    c << "[general]\nstatus-dir=" << o.dir << "/status\nmetrics=" << port << "\n";
    for (int i = 0; i < o.muxes; ++i) {
        c << "\n[mux/m" << i << "]\ndevice=" << fleet.Path(i) << "\n";
        if (record) {
            c << "record=" << o.dir << "/rec/m" << i << ".csv\n";
        }
    }
    const std::string path = o.dir + (record ? "/recording.ini" : "/kestrel.ini");
    std::ofstream(path) << c.str();
    return path;
}

int Run(const Options& o) {
    RaiseOpenFiles();
    for (const char* sub : {"/status", "/rec", "/state"}) {
        std::filesystem::create_directories(o.dir + sub);
    }
    Fleet fleet;
    std::string error;
    if (!fleet.Open(o.muxes, error)) {
        std::cerr << "bench: " << error << "\n";
        return 1;
    }
    fleet.Run();
    const int port = FreeLoopbackPort(SOCK_STREAM);
    const std::string log = o.dir + "/headless.err";
    const auto launched = Clock::now();
    const pid_t pid = Launch(o, Config(o, fleet, port, false), log);
    const auto started = WaitStarted(log, o.muxes, launched, 180s);
    if (!started) {
        std::cerr << "bench: not every MUX started within 180 s\n";
    }
    std::this_thread::sleep_for(5s);  // past the first flushes

    // Counted against sent in a moment of silence: frames sent, all decoded and published.
    fleet.SkipNextSecond();
    std::vector<long long> sent0(static_cast<std::size_t>(o.muxes));
    for (int i = 0; i < o.muxes; ++i) {
        sent0[static_cast<std::size_t>(i)] = fleet.Sent(i);
    }
    const ProcSample beforeScrape = Sample(pid);
    const auto scrapeStart = Clock::now();
    auto first = ScrapeFrames(port);
    // What a scrape leaves to do once answered (its figures freed, the heap trimmed) is done
    // before the window opens: the window measures the monitoring, and the scrape's own cost
    // is told apart.
    std::this_thread::sleep_for(2s);
    const double scrapeWall = Since(scrapeStart);
    const auto t0 = Clock::now();
    const ProcSample p0 = Sample(pid);
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    const ProcSample p1 = Sample(pid);
    const double window = Since(t0);
    fleet.SkipNextSecond();
    std::vector<long long> sent1(static_cast<std::size_t>(o.muxes));
    for (int i = 0; i < o.muxes; ++i) {
        sent1[static_cast<std::size_t>(i)] = fleet.Sent(i);
    }
    auto last = ScrapeFrames(port);
    int watched = 0;
    long long missed = 0;
    for (int i = 0; i < o.muxes; ++i) {
        const std::string name = std::string("m").append(std::to_string(i));
        const long long sent =
            sent1[static_cast<std::size_t>(i)] - sent0[static_cast<std::size_t>(i)];
        const long long counted = last[name] - first[name];
        watched += counted == sent && first.count(name) ? 1 : 0;
        missed += sent > counted ? sent - counted : 0;
        if (counted != sent && std::getenv("BENCH_VERBOSE")) {
            std::cerr << name << ": sent " << sent << ", counted " << counted << "\n";
        }
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    const auto stopped = WaitEnd(pid, 60s, status);

    // Again over the databases just written, as a service restarts: every one is read back.
    const std::string againLog = o.dir + "/restart.err";
    const auto relaunched = Clock::now();
    const pid_t restart = Launch(o, Config(o, fleet, FreeLoopbackPort(SOCK_STREAM), false), againLog);
    const auto restarted = WaitStarted(againLog, o.muxes, relaunched, 180s);
    ::kill(restart, SIGTERM);
    int s1 = 0;
    WaitEnd(restart, 60s, s1);

    // Again with recordings, stopped in the middle of the start-up.
    std::optional<double> stopInStart;
    long recordingsOn = 0, recordingsOff = 0;
    bool startupDone = false;
    if (o.stopDuringStart >= 0) {
        const std::string recLog = o.dir + "/recording.err";
        const pid_t again = Launch(o, Config(o, fleet, FreeLoopbackPort(SOCK_STREAM), true), recLog);
        std::this_thread::sleep_for(std::chrono::duration<double>(o.stopDuringStart));
        startupDone = Count(ReadAll(recLog), ": line memory in ") >= o.muxes;
        ::kill(again, SIGTERM);
        int s2 = 0;
        stopInStart = WaitEnd(again, 60s, s2);
        const std::string text = ReadAll(recLog);
        recordingsOn = Count(text, ": statistics on: ");
        recordingsOff = Count(text, ": statistics off\n");
    }
    fleet.Stop();

    auto secs = [](const std::optional<double>& v) {
        char b[32];
        if (!v) {
            return std::string("> limit");
        }
        std::snprintf(b, sizeof b, "%.2f s", *v);
        return std::string(b);
    };
    const double steady = (p1.cpuSeconds - p0.cpuSeconds) / window;
    const double scrape = p0.cpuSeconds - beforeScrape.cpuSeconds - steady * scrapeWall;
    std::printf(
        "| %5d | %9s | %9s | %6.2f %% | %6.1f MB | %7ld | %5d of %-5d (%lld missed) | %5.2f s | "
        "%7s |",
        o.muxes, secs(started).c_str(), secs(restarted).c_str(), 100 * steady,
        static_cast<double>(p1.rssKb) / 1024, p1.threads, watched, o.muxes, missed,
        std::max(0.0, scrape), secs(stopped).c_str());
    if (o.stopDuringStart >= 0) {
        std::printf(" %s at %.1f s%s, closing rows %ld of %ld |", secs(stopInStart).c_str(),
                    o.stopDuringStart, startupDone ? " (after start-up)" : "", recordingsOff,
                    recordingsOn);
    }
    std::printf("\n");
    return stopped && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--headless") {
            o.headless = value;
        } else if (key == "--muxes") {
            o.muxes = std::stoi(value);
        } else if (key == "--seconds") {
            o.seconds = std::stoi(value);
        } else if (key == "--stop-during-start") {
            o.stopDuringStart = std::stod(value);
        } else if (key == "--dir") {
            o.dir = value;
        } else {
            std::cerr << "bench: unknown option " << key << "\n";
            return 2;
        }
    }
    if (o.headless.empty() || o.dir.empty()) {
        std::cerr << "usage: kestrel-bench-fleet --headless PROGRAM --dir EMPTY-FOLDER "
                     "[--muxes N] [--seconds S] [--stop-during-start S]\n";
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    return Run(o);
}
