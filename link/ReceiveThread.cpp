// The receive thread: starting, suspending and stopping it, its loop, and reading bursts.
#include "link/CComm.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/LinkDebug.h"

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kHangupPause{100};
// Bytes come in bursts. A real line brings a frame of 45 characters over 47 ms at 9600 bit/s
// (a USB adapter passes them on in packets up to 16 ms apart); waking for every byte or packet
// costs dozens of wake-ups per frame. On such a trickling line the thread sleeps after the
// first byte until the line has been quiet for kQuietGap, looking first after kSettle, and
// drains the whole burst with one more wake-up. A writer that hands over whole frames (a
// pseudo-terminal) needs no wait, so the thread waits only while the line is seen to trickle.
// kMaxHold bounds how long any byte waits, so a line that never pauses still flows.
constexpr std::chrono::milliseconds kSettle{70};
constexpr std::chrono::milliseconds kQuietGap{20};
constexpr std::chrono::milliseconds kMaxHold{100};
// One character of the fixed line (start bit, 8 data bits, stop bit at 9600 bit/s).
constexpr std::chrono::microseconds kCharTime{1'000'000 * 10 / 9600};
// How far above normal we ask to run; the soft RLIMIT_NICE decides what we get.
constexpr int kWantedNice = -10;

// A raised priority keeps the input queue drained while the desktop is busy. Only what the
// system grants without privileges is asked for, and a refusal is fine; never a real-time
// class, which could starve the desktop if something went wrong here.
void RaiseThreadPriority() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0) {
        return;
    }
    // RLIMIT_NICE n allows a nice value down to 20 - n.
    int floor = limit.rlim_cur == RLIM_INFINITY ? -20 : 20 - static_cast<int>(limit.rlim_cur);
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (errno != 0) {
        return;
    }
    int wanted = std::max(floor, kWantedNice);
    if (wanted < current &&
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), wanted) == 0) {
        LinkDebug("receive thread runs at nice %d", wanted);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Thread control

void CComm::Start() {
    std::lock_guard lock(control);
    if (started || stopRequested) {
        return;
    }
    started = true;
    running = true;
    thread = std::thread([this] { ThreadMain(); });
}

void CComm::SuspendThread() {
    std::unique_lock lock(control);
    ++suspendCount;
    if (threadId == std::this_thread::get_id()) {
        return;  // takes effect at the thread's next safe point
    }
    Wake();
    changed.wait(lock, [&] { return parked || !running; });
}

void CComm::ResumeThread() {
    std::lock_guard lock(control);
    if (suspendCount > 0) {
        --suspendCount;
    }
    changed.notify_all();
}

int CComm::SuspendCount() const {
    std::lock_guard lock(control);
    return suspendCount;
}

int CComm::ExitCode() const {
    std::lock_guard lock(control);
    return exitCode;
}

void CComm::Shutdown() {
    state.keepReceiving.store(0);
    {
        std::lock_guard lock(control);
        stopRequested = true;
        Wake();
        if (threadId == std::this_thread::get_id()) {
            return;  // cannot join itself; the loop ends at its next check
        }
    }
    if (thread.joinable()) {
        thread.join();
    }
}

// Called with `control` held.
void CComm::Wake() {
    ++wakeSequence;
    changed.notify_all();
    if (wakeFd >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(wakeFd, &one, sizeof one);
    }
}

void CComm::DrainWake() {
    if (wakeFd >= 0) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t r = ::read(wakeFd, &value, sizeof value);
    }
}

bool CComm::Keep() const {
    if (state.keepReceiving.load() == 0) {
        return false;
    }
    std::lock_guard lock(control);
    return !stopRequested;
}

void CComm::SafePoint() {
    std::unique_lock lock(control);
    if (!PauseWanted() || stopRequested) {
        return;
    }
    parked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return stopRequested || !PauseWanted(); });
    parked = false;
}

bool CComm::IdleFor(std::chrono::milliseconds duration, bool endOnPause) {
    auto deadline = std::chrono::steady_clock::now() + duration;
    std::unique_lock lock(control);
    while (!stopRequested) {
        if (PauseWanted()) {
            parked = true;
            changed.notify_all();
            changed.wait(lock, [&] { return stopRequested || !PauseWanted(); });
            parked = false;
            if (endOnPause) {
                return false;
            }
            continue;
        }
        if (changed.wait_until(lock, deadline, [&] { return stopRequested || PauseWanted(); })) {
            continue;
        }
        return true;  // the time is up
    }
    return false;
}

void CComm::WaitForWake() {
    std::unique_lock lock(control);
    std::uint64_t seen = wakeSequence;
    changed.wait(lock, [&] { return stopRequested || PauseWanted() || wakeSequence != seen; });
}

// ---------------------------------------------------------------------------------------
// The receive thread

void CComm::ThreadMain() {
    {
        std::lock_guard lock(control);
        threadId = std::this_thread::get_id();
    }
    RaiseThreadPriority();
    SafePoint();  // created suspended: the first resume lets Run begin
    bool stop;
    {
        std::lock_guard lock(control);
        stop = stopRequested;
    }
    int code = stop ? kExitOrderly : Run();
    LinkDebug("receive thread ends with %d", code);
    std::lock_guard lock(control);
    exitCode = code;
    running = false;
    parked = false;
    changed.notify_all();
}

int CComm::Run() {
    std::string text;
    char buffer[ReceiveChunk];
    bool troubleReported = false;
    bool trickling = true;  // until a burst is seen to arrive whole
    auto lastDrain = std::chrono::steady_clock::time_point{};
    // Without a port to watch, or one to open again, there is nothing this loop could do.
    if (device ? !device->SetEventMask(kEvRxChar) : !KeepOpenWanted()) {
        return kExitNoEventMask;
    }
    // Give the MUX and the line a moment to settle before the first wait.
    IdleFor(startupDelay, false);

    while (Keep()) {
        SafePoint();
        if (!Keep()) {
            break;
        }
        SerialDevice* dev = device.get();
        if (!dev) {
            if (KeepOpenWanted()) {
                ReconnectStep();
            } else {
                WaitForWake();
            }
            continue;
        }
        const unsigned events = dev->Wait(wakeFd);
        text.clear();
        if (events & kWaitWoken) {
            // A pause, a close or a shut-down: the safe points deal with it. A receive event
            // that came with it is still served, since the device has already reported it.
            DrainWake();
        }
        // A hung-up terminal (a USB adapter pulled out, the far end of a pseudo-terminal
        // closed) reports itself readable and hung up on every wait, with nothing to read.
        // Only bytes are a sign of life: such a wait hands over what was still queued, if
        // anything, and never an empty text, or "No Data" could never appear.
        const bool hungUp = (events & kWaitHangup) != 0;
        std::size_t got = 0;
        if (events & kWaitReadable) {
            if (!hungUp) {
                // Bytes right after a drain: the burst went on, so the line trickles.
                trickling = trickling || std::chrono::steady_clock::now() - lastDrain < kQuietGap;
                if (trickling) {
                    trickling = AwaitQuietLine();
                }
            }
            got = DrainBurst(text, buffer, !hungUp);
            lastDrain = std::chrono::steady_clock::now();
        }
        // Pause before waiting again instead of spinning on a device that answers at once.
        if (hungUp || ((events & kWaitReadable) && got == 0)) {
            // A port kept open lets a dead device go and looks for it again.
            if (KeepOpenWanted() && (hungUp || QueuedNow() < 0)) {
                LoseDevice(EIO);
                continue;
            }
            if (!troubleReported) {
                LinkDebug("port hang-up or error; looking again every %d ms",
                          static_cast<int>(kHangupPause.count()));
                troubleReported = true;
            }
            IdleFor(kHangupPause, true);
        } else if (got > 0) {
            troubleReported = false;
        }
    }
    return kExitOrderly;
}

// ---------------------------------------------------------------------------------------
// Reading a burst

long CComm::QueuedNow() {
    return device ? device->QueuedBytes() : -1;
}

bool CComm::AwaitQuietLine() {
    using Clock = std::chrono::steady_clock;
    long queued = QueuedNow();
    if (queued <= 0) {
        return true;  // a wake-up with nothing queued is served at once, and tells nothing
    }
    const long first = queued;
    const auto start = Clock::now();
    const auto deadline = start + kMaxHold;
    auto step = kSettle;
    bool grew = false;
    while (static_cast<std::size_t>(queued) < HandOverThreshold) {
        const auto now = Clock::now();
        if (now >= deadline ||
            !IdleFor(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                              step),
                     true)) {
            return grew;  // held long enough, or a pause or shut-down wants the thread
        }
        const long later = QueuedNow();
        if (later <= queued) {
            return grew;  // nothing new since the last look: the line is quiet
        }
        grew = true;
        // Bytes that followed the first one back to back at the line's speed were all in
        // well before now: the burst is over without another look.
        if (Clock::now() - start >= (later - first) * kCharTime + kQuietGap) {
            return true;
        }
        queued = later;
        step = kQuietGap;
    }
    return grew;
}

std::size_t CComm::DrainBurst(std::string& text, char* buffer, bool emptyHandOver) {
    std::size_t total = 0;
    std::size_t n = 0;
    do {
        SafePoint();  // between reads: nothing is held here
        std::this_thread::yield();
        n = ReadBytes(buffer, ReceiveChunk);
        text.append(buffer, n);
        total += n;
        if (text.size() >= HandOverThreshold) {
            HandOver(text);
            text.clear();
        }
    } while (n > 0 && Keep());
    // A burst ends with one hand-over, empty or not: the parser counts it as a sign of life.
    // Only a device that hung up gets none when nothing came.
    if (emptyHandOver || !text.empty()) {
        HandOver(text);
    }
    return total;
}

void CComm::HandOver(const std::string& text) {
    std::lock_guard lock(frameMutex);
    if (handOver) {
        handOver(text);
    }
}

}  // namespace kestrel
