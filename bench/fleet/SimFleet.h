// What the fleet benchmarks share: N quiet MUXes played on N pseudo-terminals by one thread,
// and the figures of a process read from /proc.
#pragma once

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/mux-sim/Scenario.h"
#include "tools/mux-sim/SimLine.h"

namespace kestrel::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A port of the loopback nobody uses now: SOCK_STREAM for TCP, SOCK_DGRAM for UDP.
inline int FreeLoopbackPort(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
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

inline double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

inline void RaiseOpenFiles() {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
    }
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline long Count(const std::string& text, const std::string& what) {
    long n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

struct ProcSample {
    double cpuSeconds = 0;
    long rssKb = 0;
    long threads = 0;
};

inline ProcSample Sample(pid_t pid) {
    ProcSample p;
    const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string f;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> f; ++i) {
            if (i == 14) {
                utime = std::stoull(f);
            } else if (i == 15) {
                stime = std::stoull(f);
            }
        }
        p.cpuSeconds =
            static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    std::istringstream status(ReadAll("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            p.rssKb = std::atol(line.c_str() + 6);
        } else if (line.rfind("Threads:", 0) == 0) {
            p.threads = std::atol(line.c_str() + 8);
        }
    }
    return p;
}

// The MUXes: one pseudo-terminal each, one quiet frame a second each, their moments spread
// over the last nine tenths of every second so that a skipped second leaves every line
// silent for over a second when the next one begins, and the first frames of that one come a
// tenth of a second later.
class Fleet {
public:
    bool Open(int n, std::string& error) {
        for (int i = 0; i < n; ++i) {
            auto line = std::make_unique<kestrel::sim::SimLine>();
            if (!line->OpenPty(error)) {
                return false;
            }
            lines.push_back(std::move(line));
            sources.push_back(kestrel::sim::MakePhaseSource(
                kestrel::sim::ScenarioPhases("quiet"), 1.0, static_cast<std::uint64_t>(i + 1)));
        }
        sent = std::make_unique<std::atomic<long long>[]>(static_cast<std::size_t>(n));
        return true;
    }
    const std::string& Path(int i) const { return lines[static_cast<std::size_t>(i)]->Path(); }
    long long Sent(int i) const { return sent[static_cast<std::size_t>(i)].load(); }

    void Run() {
        player = std::thread([this] { Play(); });
    }
    void Stop() {
        stop = true;
        if (player.joinable()) {
            player.join();
        }
    }
    // The next whole second is left out; returns when the one after it begins: every line
    // silent for over a second, and for another tenth.
    void SkipNextSecond() {
        const long long r = round.load() + 1;
        skip = r;
        while (round.load() <= r) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ~Fleet() { Stop(); }

private:
    static constexpr int kSlots = 90;  // per second, 10 ms apart, from 100 ms on

    void Play() {
        const std::size_t n = lines.size();
        start = Clock::now();
        for (long long r = 0; !stop; ++r) {
            round = r;
            for (int slot = 0; slot < kSlots && !stop; ++slot) {
                std::this_thread::sleep_until(start + std::chrono::seconds(r) +
                                              std::chrono::milliseconds(100 + slot * 10));
                if (r == skip.load()) {
                    continue;
                }
                for (std::size_t i = static_cast<std::size_t>(slot); i < n; i += kSlots) {
                    kestrel::sim::Emission e;
                    if (!sources[i]->Next(e)) {
                        continue;
                    }
                    bool hard = false;
                    if (lines[i]->WriteSome(e.bytes, hard) == e.bytes.size()) {
                        sent[i] += e.frames;
                    }
                }
            }
            std::this_thread::sleep_until(start + std::chrono::seconds(r + 1));
        }
    }

    std::vector<std::unique_ptr<kestrel::sim::SimLine>> lines;
    std::vector<std::unique_ptr<kestrel::sim::FrameSource>> sources;
    std::unique_ptr<std::atomic<long long>[]> sent;
    std::thread player;
    std::atomic<bool> stop{false};
    std::atomic<long long> round{-1};
    std::atomic<long long> skip{-1};
    Clock::time_point start;
};

}  // namespace kestrel::bench
