// kestrel-mux-sim: plays the MUX on a pseudo-terminal (or a given device) for the monitor.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tools/capture/Capture.h"
#include "tools/mux-sim/MuxScript.h"
#include "tools/mux-sim/Scenario.h"
#include "tools/mux-sim/SimLine.h"
#include "tools/mux-sim/SimOptions.h"

namespace {

using kestrel::sim::Emission;
using kestrel::sim::SimLine;
using kestrel::sim::SimOptions;

volatile sig_atomic_t stopSignal = 0;

void OnStopSignal(int sig) {
    stopSignal = sig;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Waits are cut into pieces of at most a second: a deadline far away then never needs a
// time the kernel would refuse.
timespec ToTimespec(double seconds) {
    seconds = std::clamp(seconds, 0.0, 1.0);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
}

struct Totals {
    long long framesHandedOut = 0;  // well-formed frames the source produced
    long long framesSent = 0;
    long long damagedSent = 0;
    long long framesDropped = 0;
    long long bytesWritten = 0;
};

// The bytes of one tick that the line has not taken yet. A tick is sent whole or dropped
// whole, so a monitor that starts reading again meets at most one cut-off frame.
struct Pending {
    std::string bytes;
    std::size_t offset = 0;
    int frames = 0;
    int damaged = 0;

    bool Empty() const { return offset >= bytes.size(); }
};

class Simulator {
public:
    Simulator(const SimOptions& options, SimLine& line,
              std::unique_ptr<kestrel::sim::FrameSource> source, const sigset_t& waitMask)
        : options(options), line(line), source(std::move(source)), waitMask(waitMask) {}

    void Run() {
        const double start = Now();
        const double end = options.seconds ? start + *options.seconds : -1;
        double next = start;
        bool natural = true;
        while (true) {
            if (stopSignal != 0) {
                natural = false;
                break;
            }
            if (options.frames && totals.framesHandedOut >= *options.frames) {
                break;
            }
            if (end >= 0 && Now() >= end) {
                break;
            }
            Emission e;
            if (!source->Next(e)) {
                break;
            }
            totals.framesHandedOut += e.frames;
            const std::size_t tickBytes = e.bytes.size();
            if (!pending.Empty()) {
                // Nobody has read the last tick yet: this one is lost, as on a real line.
                totals.framesDropped += e.frames;
            } else if (!e.bytes.empty()) {
                pending = Pending{std::move(e.bytes), 0, e.frames, e.damaged};
                Flush();
            }
            next += kestrel::sim::TickSeconds(tickBytes, options.rate);
            double now = Now();
            if (now - next > 1.0) {
                next = now;  // we were held up (suspended, stopped): no burst to catch up
            }
            double deadline = end >= 0 ? std::min(next, end) : next;
            if (!WaitUntil(deadline)) {
                natural = false;
                break;
            }
        }
        if (natural) {
            Linger();
        }
        totals.framesDropped += pending.Empty() ? 0 : pending.frames;
        pending = Pending{};
    }

    const Totals& Result() const { return totals; }

private:
    void Flush() {
        if (pending.Empty()) {
            return;
        }
        bool hardError = false;
        std::string_view rest(pending.bytes);
        std::size_t n = line.WriteSome(rest.substr(pending.offset), hardError);
        pending.offset += n;
        totals.bytesWritten += static_cast<long long>(n);
        if (pending.Empty()) {
            totals.framesSent += pending.frames;
            totals.damagedSent += pending.damaged;
            pending = Pending{};
        } else if (hardError) {
            totals.framesDropped += pending.frames;
            pending = Pending{};
        }
    }

    // Sleeps until the deadline, finishing a pending tick when the line has room. Returns
    // false when a stop signal arrived. The stop signals are blocked except inside ppoll, so
    // one that arrives between two waits is never missed.
    bool WaitUntil(double deadline) {
        while (stopSignal == 0) {
            double left = deadline - Now();
            if (left <= 0) {
                return true;
            }
            pollfd pfd{line.Fd(), POLLOUT, 0};
            bool watch = !pending.Empty();
            timespec ts = ToTimespec(left);
            int r = ppoll(watch ? &pfd : nullptr, watch ? 1 : 0, &ts, &waitMask);
            if (r < 0 && errno != EINTR) {
                // Cannot happen with valid arguments; ending beats spinning on the error.
                std::perror("kestrel-mux-sim: waiting for the line");
                return false;
            }
            if (r > 0 && watch) {
                std::size_t before = pending.offset;
                Flush();
                if (!pending.Empty() && pending.offset == before) {
                    // Ready but nothing taken (an error state): drop the tick rather than spin.
                    totals.framesDropped += pending.frames;
                    pending = Pending{};
                }
            }
        }
        return false;
    }

    // At a natural end, gives a reading monitor up to a second to take what is queued, so a
    // short run is not cut off by closing the line; stops early when nobody reads.
    void Linger() {
        const double giveUp = Now() + 1.0;
        long lastUnread = -2;
        double lastProgress = Now();
        while (Now() < giveUp && stopSignal == 0) {
            long unread = line.Unread();
            if (pending.Empty() && unread <= 0) {
                return;
            }
            if (unread != lastUnread) {
                lastUnread = unread;
                lastProgress = Now();
            } else if (Now() - lastProgress > 0.3) {
                return;
            }
            WaitUntil(std::min(giveUp, Now() + 0.05));
        }
    }

    const SimOptions& options;
    SimLine& line;
    std::unique_ptr<kestrel::sim::FrameSource> source;
    const sigset_t& waitMask;
    Pending pending;
    Totals totals;
};

void PrintSummary(const Totals& t) {
    std::fprintf(stderr,
                 "kestrel-mux-sim: frames sent %lld, bytes written %lld, frames dropped %lld, "
                 "damaged %lld\n",
                 t.framesSent, t.bytesWritten, t.framesDropped, t.damagedSent);
}

// Points `link` at `target`. A symbolic link left there by a run that was killed is replaced
// in one step, so a monitor watching the path never finds it missing; anything else there is
// left alone.
bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = "--link " + link + " exists and is not a symbolic link";
        return false;
    }
    const std::string aside = link + ".new-" + std::to_string(getpid());
    unlink(aside.c_str());
    if (symlink(target.c_str(), aside.c_str()) != 0 || rename(aside.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        unlink(aside.c_str());
        return false;
    }
    return true;
}

// Removes the link only while it still points at our line: a newer simulator may own it.
void RemoveLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target) {
        unlink(link.c_str());
    }
}

// The line without its pacing, in the timed capture format: each tick is one second and
// holds what the line brought in it, however long (noise) or empty (silence).
int Capture(const SimOptions& options, kestrel::sim::FrameSource& source) {
    std::ofstream out(options.capture, std::ios::binary | std::ios::trunc);
    out << kestrel::CaptureHeader();
    Totals totals;
    long long captured = 0;
    std::string record;
    const double seconds = options.seconds.value_or(-1);
    for (; out && (seconds < 0 || captured < seconds); ++captured) {
        if (options.frames && totals.framesSent >= *options.frames) {
            break;
        }
        Emission e;
        if (!source.Next(e)) {
            break;
        }
        record.clear();
        kestrel::AppendCaptureSecond(record, e.bytes);
        out << record;
        totals.framesSent += e.frames;
        totals.damagedSent += e.damaged;
        totals.bytesWritten += static_cast<long long>(e.bytes.size());
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "kestrel-mux-sim: cannot write %s: %s\n", options.capture.c_str(),
                     std::strerror(errno));
        return 1;
    }
    PrintSummary(totals);
    std::fprintf(stderr, "kestrel-mux-sim: captured %lld seconds into %s\n", captured,
                 options.capture.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!kestrel::sim::ParseSimOptions(args, options, error)) {
        std::fprintf(stderr, "kestrel-mux-sim: %s\nTry 'kestrel-mux-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kestrel::sim::SimUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", kestrel::sim::kSimVersion);
        return 0;
    }
    if (options.rateCapped) {
        std::fprintf(stderr,
                     "kestrel-mux-sim: %g frames/s is more than a 9600 bit/s line carries; "
                     "sending %.2f frames/s\n",
                     options.requestedRate, options.rate);
    }

    std::unique_ptr<kestrel::sim::FrameSource> source;
    std::string what;
    if (!options.script.empty()) {
        std::ifstream in(options.script);
        if (!in) {
            std::fprintf(stderr, "kestrel-mux-sim: cannot read script %s\n",
                         options.script.c_str());
            return 2;
        }
        std::vector<kestrel::sim::ScriptStep> steps;
        kestrel::sim::ScriptError se;
        if (!kestrel::sim::ParseScript(in, steps, se)) {
            if (se.line > 0) {
                std::fprintf(stderr, "kestrel-mux-sim: %s:%d: %s\n", options.script.c_str(),
                             se.line, se.message.c_str());
            } else {
                std::fprintf(stderr, "kestrel-mux-sim: %s: %s\n", options.script.c_str(),
                             se.message.c_str());
            }
            return 2;
        }
        source = kestrel::sim::MakeScriptSource(std::move(steps),
                                                options.capture.empty() ? options.rate : 1.0,
                                                options.loop);
        what = "script " + options.script;
    } else {
        source = kestrel::sim::MakePhaseSource(kestrel::sim::ScenarioPhases(options.scenario),
                                               options.capture.empty() ? options.rate : 1.0,
                                               options.seed);
        what = "scenario " + options.scenario;
    }
    if (!options.capture.empty()) {
        return Capture(options, *source);
    }

    // Stop signals stay blocked except while waiting, where ppoll lets them in atomically.
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGHUP);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSet, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SimLine line;
    bool opened =
        options.device.empty() ? line.OpenPty(error) : line.OpenDevice(options.device, error);
    if (!opened) {
        std::fprintf(stderr, "kestrel-mux-sim: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty() && !MakeLink(options.link, line.Path(), error)) {
        std::fprintf(stderr, "kestrel-mux-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", line.Path().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kestrel-mux-sim: playing %s at %g frames/s on %s\n", what.c_str(),
                 options.rate, line.Path().c_str());

    Simulator sim(options, line, std::move(source), waitMask);
    sim.Run();
    if (!options.link.empty()) {
        RemoveLink(options.link, line.Path());
    }
    line.Close();
    PrintSummary(sim.Result());
    return 0;
}
