// What the links cost a process at scale, and what a flooding terminal server does to it.
//
//   bench_link_fleet flood [--kind=garbage|frames] [--seconds=20]
//       A server on the loopback sends as fast as the socket carries; one link (tcp://) reads
//       it into the frame parser. Reports RSS, peak RSS, the process's CPU, and for frames how
//       late a change on the line is decoded and how soon the link is back once the server
//       has closed and listens again.
//   bench_link_fleet many [--links=200] [--seconds=20]
//       N pseudo-terminals, each fed one frame a second (spread over the second) by a child
//       process; N links on them. Reports threads, CPU and RSS of this process (not the
//       feeder's), frames decoded against frames sent, and how long closing them all takes.
//   bench_link_fleet absent [--links=500] [--seconds=20] [--after=3]
//       N ports kept open on devices that are not there (half missing ttys, half refused
//       tcp://), looked for again and again, measured from `after` seconds on (every 2 s in the
//       first minute, every 30 s after it). Reports threads and CPU.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/CComm.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"
#include "tests/link/FloodServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kestrel::CComm;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, n, key) == 0) {
            return std::atol(line.c_str() + n + 1);
        }
    }
    return -1;
}

int Threads() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d)) {
            n += e->d_name[0] != '.';
        }
        ::closedir(d);
    }
    return n;
}

// The dropped-bytes count where the driver keeps one.
template <class C>
long long Dropped(const C& comm) {
    if constexpr (requires { comm.DroppedBytes(); }) {
        return static_cast<long long>(comm.DroppedBytes());
    } else {
        return -1;
    }
}

// A MUX's receive path as the session has it: the parser and its meter over one state.
struct Watched {
    kestrel::MonitorState state;
    kestrel::BerMeter meter{state};
    kestrel::FrameParser parser{state, meter};
    std::mutex frameMutex;
    std::unique_ptr<CComm> comm;

    Watched(const std::string& path, std::unique_ptr<kestrel::SerialDeviceFactory> devices) {
        kestrel::DeviceResolver resolver;
        resolver.SetPath(1, path);
        comm = std::make_unique<CComm>(
            state, frameMutex, [this](std::string_view text) { parser.Parse(text); },
            std::move(devices), resolver);
        comm->SetStartupDelay(0ms);
        comm->SetRetryPeriods(kestrel::RetryPeriods{});
        comm->SetPortNumber(1);
    }
    void Run(bool retry) {
        comm->Start();
        comm->OpenKeepingOpen(retry);
        comm->ResumeThread();
    }
};

std::string Frame(bool ais) {
    kestrel::StatusFrame f;
    f.localStatus = ais ? kestrel::kStatusAis : 0;
    return kestrel::WriteFrame(f);
}

// --- flood ---------------------------------------------------------------------------------

int Flood(bool frames, double seconds) {
    kestrel::test::FloodServer server(!frames);
    Watched w(server.path, kestrel::MakePosixSerialDeviceFactory());
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    w.Run(true);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = (CpuSeconds() - cpu0) / Seconds(Clock::now() - start);
    std::printf(
        "flood %-7s %4.0f s: RSS %6.1f MB, peak %6.1f MB, CPU %5.1f %% (with the sender),"
        " threads %d, dropped %lld bytes\n",
        frames ? "frames" : "garbage", seconds, StatusKb("VmRSS") / 1024.0,
        StatusKb("VmHWM") / 1024.0, cpu * 100, Threads(), Dropped(*w.comm));
    if (frames) {
        const auto changed = Clock::now();
        server.ais = true;
        while (w.state.localAis.load() == 0 && Clock::now() - changed < 60s) {
            std::this_thread::sleep_for(1ms);
        }
        std::printf("  a change on the line decoded after %.3f s%s\n",
                    Seconds(Clock::now() - changed),
                    w.state.localAis.load() ? "" : " (not at all within 60 s)");
    }
    // The server ends the connection and listens again: the link must be back within one
    // retry (2 s).
    ++server.hangUps;
    const auto closed = Clock::now();
    while (w.comm->Status().state == kestrel::LinkState::Open && Clock::now() - closed < 60s) {
        std::this_thread::sleep_for(1ms);
    }
    const double noticed = Seconds(Clock::now() - closed);
    while (w.comm->Status().state != kestrel::LinkState::Open && Clock::now() - closed < 120s) {
        std::this_thread::sleep_for(1ms);
    }
    if (noticed >= 60) {
        std::printf("  server closed: not noticed within %.0f s\n", noticed);
    } else {
        std::printf("  server closed: noticed after %.3f s, open again after %.3f s\n", noticed,
                    Seconds(Clock::now() - closed));
    }
    w.comm->Shutdown();
    return 0;
}

// --- many, absent ------------------------------------------------------------------------

void RaiseFileLimit() {
    rlimit l{};
    if (::getrlimit(RLIMIT_NOFILE, &l) == 0) {
        l.rlim_cur = l.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &l);
    }
}

// Writes one frame a second to each master, spread over the second; never returns.
[[noreturn]] void Feed(const std::vector<int>& masters) {
    const std::string frame = Frame(false);
    const auto step = std::chrono::duration<double>(1.0 / static_cast<double>(masters.size()));
    auto next = Clock::now();
    for (std::size_t i = 0;; i = (i + 1) % masters.size()) {
        [[maybe_unused]] ssize_t r = ::write(masters[i], frame.data(), frame.size());
        next += std::chrono::duration_cast<Clock::duration>(step);
        std::this_thread::sleep_until(next);
    }
}

int Many(int links, double seconds) {
    RaiseFileLimit();
    std::vector<int> masters;
    std::vector<std::string> paths;
    for (int i = 0; i < links; ++i) {
        int m = -1;
        int s = -1;
        char name[256] = {};
        if (::openpty(&m, &s, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return 1;
        }
        ::close(s);
        masters.push_back(m);
        paths.push_back(name);
    }
    const pid_t feeder = ::fork();
    if (feeder == 0) {
        Feed(masters);
    }
    // The slaves stay usable while the feeder holds the masters.
    std::vector<std::unique_ptr<Watched>> fleet;
    const auto openStart = Clock::now();
    for (const auto& path : paths) {
        fleet.push_back(std::make_unique<Watched>(path, kestrel::MakePosixSerialDeviceFactory()));
        fleet.back()->Run(true);
    }
    const double opened = Seconds(Clock::now() - openStart);
    std::this_thread::sleep_for(2s);  // everything settled
    long long before = 0;
    for (auto& w : fleet) {
        before += w->state.frameCount.load();
    }
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = Seconds(Clock::now() - start);
    const double cpu = (CpuSeconds() - cpu0) / wall;
    long long frames = 0;
    for (auto& w : fleet) {
        frames += w->state.frameCount.load();
    }
    const int threads = Threads();
    const double rss = StatusKb("VmRSS") / 1024.0;
    const auto stopStart = Clock::now();
    for (auto& w : fleet) {
        w->comm->Shutdown();
    }
    const double stopped = Seconds(Clock::now() - stopStart);
    std::printf(
        "many %5d links %4.0f s: CPU %5.2f %%, RSS %6.1f MB, threads %4d, frames %lld of "
        "about %.0f, opened in %.2f s, closed in %.3f s\n",
        links, seconds, cpu * 100, rss, threads, frames - before, wall * links, opened, stopped);
    ::kill(feeder, SIGKILL);
    ::waitpid(feeder, nullptr, 0);
    return 0;
}

int Absent(int links, double seconds, double after) {
    RaiseFileLimit();
    int port = 0;
    ::close(kestrel::test::ListenOnLoopback(port));  // a port nothing listens on any more
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(port);
    std::vector<std::unique_ptr<Watched>> fleet;
    for (int i = 0; i < links; ++i) {
        const std::string path = i % 2 ? refused : "/tmp/kestrel-bench-absent-" + std::to_string(i);
        fleet.push_back(std::make_unique<Watched>(path, kestrel::MakePosixSerialDeviceFactory()));
        fleet.back()->Run(true);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = (CpuSeconds() - cpu0) / Seconds(Clock::now() - start);
    const int threads = Threads();
    const double rss = StatusKb("VmRSS") / 1024.0;
    const auto stopStart = Clock::now();
    for (auto& w : fleet) {
        w->comm->Shutdown();
    }
    std::printf(
        "absent %4d links %4.0f s from %3.0f s: CPU %5.2f %%, RSS %6.1f MB, threads %4d, closed in "
        "%.3f s\n",
        links, seconds, after, cpu * 100, rss, threads, Seconds(Clock::now() - stopStart));
    return 0;
}

double Option(int argc, char** argv, const char* name, double fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 2; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return std::atof(argv[i] + prefix.size());
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const double seconds = Option(argc, argv, "seconds", 20);
    if (mode == "flood") {
        bool frames = true;
        for (int i = 2; i < argc; ++i) {
            frames = frames && std::strcmp(argv[i], "--kind=garbage") != 0;
        }
        return Flood(frames, seconds);
    }
    if (mode == "many") {
        return Many(static_cast<int>(Option(argc, argv, "links", 200)), seconds);
    }
    if (mode == "absent") {
        return Absent(static_cast<int>(Option(argc, argv, "links", 500)), seconds,
                      Option(argc, argv, "after", 3));
    }
    std::fprintf(stderr,
                 "usage: bench_link_fleet flood|many|absent [--kind=garbage] "
                 "[--links=N] [--seconds=S] [--after=S]\n");
    return 2;
}
