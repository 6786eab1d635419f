// CPU time the receive thread uses with the port open and silent, after the device vanished,
// and while a port kept open looks for its vanished device; and how often it wakes up for each
// frame that arrives.
//
// Run: bench_link_idle [--period=SECONDS] [benchmark flags]; the period defaults to 10 s.
// The main thread only sleeps while it measures, so the process's CPU time is the receive
// thread's. The wake-up counts are the receive thread's own voluntary context switches.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/CComm.h"
#include "link/PosixSerialDevice.h"

namespace {

using namespace std::chrono_literals;

double periodSeconds = 10;

double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Times the thread gave up the processor to wait: each is one wake-up afterwards.
long VoluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::atol(line.c_str() + 24);
        }
    }
    return -1;
}

class CountingDevice : public kestrel::PosixSerialDevice {
public:
    explicit CountingDevice(std::atomic<long>& waits) : waits(waits) {}
    // Looks at the device: its own waits, and what the link loop saw on it.
    unsigned Wait(int wakeFd, int timeoutMs) override {
        ++waits;
        return PosixSerialDevice::Wait(wakeFd, timeoutMs);
    }
    unsigned Seen(unsigned pollEvents) override {
        ++waits;
        return PosixSerialDevice::Seen(pollEvents);
    }

private:
    std::atomic<long>& waits;
};

class CountingFactory : public kestrel::SerialDeviceFactory {
public:
    explicit CountingFactory(std::atomic<long>& waits) : waits(waits) {}
    std::unique_ptr<kestrel::SerialDevice> Create() override {
        return std::make_unique<CountingDevice>(waits);
    }

private:
    std::atomic<long>& waits;
};

enum class Idle {
    Open,          // open and silent
    Vanished,      // the master side closed before the clock starts, as a USB adapter pulled out
    Reconnecting,  // the same with the port kept open: the thread looks for it every 2 s
};

// One measurement: a port open on a pty, the thread running.
void MeasureIdle(benchmark::State& state, Idle mode) {
    const bool vanish = mode != Idle::Open;
    for (auto _ : state) {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            state.SkipWithError("openpty failed");
            return;
        }
        ::close(slave);  // the driver opens its own

        kestrel::MonitorState monitor;
        std::mutex frameMutex;
        std::atomic<long> handOvers{0};
        std::atomic<long> waits{0};
        kestrel::DeviceResolver resolver;
        resolver.SetPath(1, name);
        kestrel::CComm comm(
            monitor, frameMutex, [&](std::string_view) { ++handOvers; },
            std::make_unique<CountingFactory>(waits), resolver);
        comm.SetStartupDelay(0ms);
        comm.Start();
        if (mode == Idle::Reconnecting) {
            comm.OpenKeepingOpen(false);
        } else {
            comm.SetPortOpen(true);
        }
        if (!comm.IsPortOpen()) {
            state.SkipWithError("cannot open the pty");
            ::close(master);
            return;
        }
        comm.ResumeThread();
        // One burst proves the thread is in its loop before the clock starts.
        [[maybe_unused]] ssize_t w = ::write(master, "ping", 4);
        while (handOvers.load() == 0) {
            std::this_thread::sleep_for(1ms);
        }
        if (vanish) {
            ::close(master);
            master = -1;
        }
        std::this_thread::sleep_for(200ms);
        if (mode == Idle::Reconnecting && comm.Status().state != kestrel::LinkState::Reconnecting) {
            state.SkipWithError("the kept-open port did not notice the device going");
        }

        long waitsBefore = waits.load();
        double cpuBefore = ProcessCpuSeconds();
        auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(periodSeconds));
        double cpu = ProcessCpuSeconds() - cpuBefore;
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        long waitCount = waits.load() - waitsBefore;

        state.SetIterationTime(wall);
        state.counters["period_s"] = wall;
        state.counters["cpu_s"] = cpu;
        state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["waits_per_s"] = static_cast<double>(waitCount) / wall;

        comm.SuspendThread();
        comm.SetPortOpen(false);
        comm.Shutdown();
        if (master >= 0) {
            ::close(master);
        }
    }
}

// Frames of 45 characters, one every 200 ms, written either a byte at a time at the pace of a
// 9600 bit/s line (one every 1.04 ms) or all at once as a pseudo-terminal writer does.
void MeasureWakesPerFrame(benchmark::State& state, bool paced) {
    constexpr int kFrames = 20;
    constexpr auto kFramePeriod = 200ms;
    constexpr auto kCharTime = std::chrono::microseconds(1042);
    const std::string frame = std::string(44, 'R') + "\r";
    for (auto _ : state) {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            state.SkipWithError("openpty failed");
            return;
        }
        ::close(slave);

        kestrel::MonitorState monitor;
        std::mutex frameMutex;
        std::atomic<long> handOvers{0};
        std::atomic<pid_t> receiver{0};
        kestrel::DeviceResolver resolver;
        resolver.SetPath(1, name);
        kestrel::CComm comm(
            monitor, frameMutex,
            [&](std::string_view) {
                receiver = ::gettid();
                ++handOvers;
            },
            kestrel::MakePosixSerialDeviceFactory(), resolver);
        comm.SetStartupDelay(0ms);
        comm.Start();
        comm.SetPortOpen(true);
        if (!comm.IsPortOpen()) {
            state.SkipWithError("cannot open the pty");
            ::close(master);
            return;
        }
        comm.ResumeThread();
        [[maybe_unused]] ssize_t w = ::write(master, "ping", 4);
        while (receiver.load() == 0) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(kFramePeriod);

        const long handOversBefore = handOvers.load();
        const long switchesBefore = VoluntarySwitches(receiver.load());
        auto next = std::chrono::steady_clock::now();
        for (int f = 0; f < kFrames; ++f) {
            if (paced) {
                auto at = next;
                for (char ch : frame) {
                    std::this_thread::sleep_until(at);
                    w = ::write(master, &ch, 1);
                    at += kCharTime;
                }
            } else {
                std::this_thread::sleep_until(next);
                w = ::write(master, frame.data(), frame.size());
            }
            next += kFramePeriod;
        }
        std::this_thread::sleep_until(next);
        const long switches = VoluntarySwitches(receiver.load()) - switchesBefore;

        state.counters["wakes_per_frame"] = static_cast<double>(switches) / kFrames;
        state.counters["hand_overs_per_frame"] =
            static_cast<double>(handOvers.load() - handOversBefore) / kFrames;

        comm.SuspendThread();
        comm.SetPortOpen(false);
        comm.Shutdown();
        ::close(master);
    }
}

void BM_WakesPerFramePaced(benchmark::State& state) {
    MeasureWakesPerFrame(state, true);
}
void BM_WakesPerFrameAtOnce(benchmark::State& state) {
    MeasureWakesPerFrame(state, false);
}

void BM_IdleOpenPort(benchmark::State& state) {
    MeasureIdle(state, Idle::Open);
}
void BM_VanishedDevice(benchmark::State& state) {
    MeasureIdle(state, Idle::Vanished);
}
void BM_ReconnectingWhileGone(benchmark::State& state) {
    MeasureIdle(state, Idle::Reconnecting);
}

BENCHMARK(BM_IdleOpenPort)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_VanishedDevice)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ReconnectingWhileGone)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_WakesPerFramePaced)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_WakesPerFrameAtOnce)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // Our own flag first; the rest belongs to the benchmark library.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--period=", 9) == 0) {
            periodSeconds = std::atof(argv[i] + 9);
            if (periodSeconds <= 0) {
                std::fprintf(stderr, "bench_link_idle: --period must be above 0 seconds\n");
                return 2;
            }
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
