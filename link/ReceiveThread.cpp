// The receive side: starting, suspending and stopping it, its turns on the link loop, and
// reading bursts.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "link/CComm.h"
#include "link/LinkDebug.h"

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kHangupPause{100};
// Bytes come in bursts. A real line brings a frame of 45 characters over 47 ms at 9600 bit/s
// (a USB adapter passes them on in packets up to 16 ms apart); waking for every byte or packet
// costs dozens of wake-ups per frame. On such a trickling line the link waits after the first
// byte until the line has been quiet for kQuietGap, looking first after kSettle, and drains
// the whole burst with one more wake-up. A writer that hands over whole frames (a
// pseudo-terminal) needs no wait, so the link waits only while the line is seen to trickle.
// kMaxHold bounds how long any byte waits, so a line that never pauses still flows.
constexpr std::chrono::milliseconds kSettle{70};
constexpr std::chrono::milliseconds kQuietGap{20};
constexpr std::chrono::milliseconds kMaxHold{100};
// One character of the fixed line (start bit, 8 data bits, stop bit at 9600 bit/s).
constexpr std::chrono::microseconds kCharTime{1'000'000 * 10 / 9600};
// What one turn reads at most before the other links get theirs: a real line brings a few
// frames a second, so only a flooding one ever reaches it.
constexpr std::size_t kTurnShare = 16 * 1024;
constexpr std::chrono::minutes kDropLogPeriod{1};

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
    linkId = reactor.Add([this](std::uint32_t heard) { Turn(heard); });
}

void CComm::SuspendThread() {
    std::unique_lock lock(control);
    ++suspendCount;
    if (reactor.OnLoopThread()) {
        return;  // takes effect at the next turn
    }
    Wake();
    changed.wait(lock, [&] { return Quiet() || !running; });
}

void CComm::ResumeThread() {
    std::lock_guard lock(control);
    if (suspendCount > 0) {
        --suspendCount;
    }
    changed.notify_all();
    if (running && !PauseWanted()) {
        reactor.Post(linkId);
    }
}

int CComm::SuspendCount() const {
    std::lock_guard lock(control);
    return suspendCount;
}

int CComm::ExitCode() const {
    std::lock_guard lock(control);
    return exitCode;
}

void CComm::EndLocked(int code) {
    if (!running) {
        return;
    }
    LinkDebug("receive side ends with %d", code);
    exitCode = code;
    running = false;
    changed.notify_all();
}

void CComm::Shutdown() {
    state.keepReceiving.store(0);
    Reactor::Id id;
    {
        std::unique_lock lock(control);
        stopRequested = true;
        Wake();
        id = linkId;
        // Called from a turn (this link's own, or another's: then this one is not running),
        // only an open under way is waited for.
        const bool onLoop = reactor.OnLoopThread();
        changed.wait(lock, [&] { return onLoop ? !opening : Quiet(); });
        EndLocked(kExitOrderly);
    }
    if (id != 0) {
        reactor.Remove(id);
    }
}

// Called with `control` held.
void CComm::Wake() {
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

// ---------------------------------------------------------------------------------------
// Turns

void CComm::Turn(unsigned heard) {
    {
        std::lock_guard lock(control);
        if (!running || opening) {
            return;  // an open under way posts a turn when it is done
        }
        if (stopRequested || state.keepReceiving.load() == 0) {
            EndLocked(kExitOrderly);
            return;
        }
        if (PauseWanted()) {
            return;  // resuming posts a turn
        }
        busy = true;
    }
    Step(heard);
    std::lock_guard lock(control);
    busy = false;
    changed.notify_all();
}

void CComm::Step(unsigned heard) {
    const auto now = Clock::now();
    switch (phase) {
        case Phase::NotBegun:
            // Without a port to watch, or one to open again, there is nothing to do.
            if (device ? !device->SetEventMask(kEvRxChar) : !KeepOpenWanted()) {
                std::lock_guard lock(control);
                EndLocked(kExitNoEventMask);
                return;
            }
            // Give the MUX and the line a moment to settle before the first look.
            phase = Phase::StartupDelay;
            delayEnd = now + startupDelay;
            [[fallthrough]];
        case Phase::StartupDelay:
            if (now < delayEnd) {
                reactor.At(linkId, delayEnd);
                return;
            }
            phase = Phase::Receiving;
            break;
        case Phase::Receiving:
            break;
    }
    if (drain.active) {
        ContinueDrain();
    } else if (quiet.active) {
        QuietLook();
    } else if (now < pauseEnd) {
        reactor.At(linkId, pauseEnd);
    } else if (connecting.device) {
        ContinueConnect(heard);
    } else if (device) {
        ServeDevice(heard);
    } else if (KeepOpenWanted()) {
        ReconnectStep();
    }
    // Otherwise there is nothing to wait on until the port is opened again, which posts.
}

void CComm::ServeDevice(unsigned heard) {
    // Woken by the loop for the device, the device is told what the loop saw; otherwise (a
    // timer, a post) it looks for itself.
    const unsigned events = heard != 0 ? device->Seen(heard) : device->Wait(-1, 0);
    if (events == 0) {
        reactor.WatchOnce(linkId, device->PollDescriptor());
        return;
    }
    // A hung-up terminal (a USB adapter pulled out, the far end of a pseudo-terminal closed)
    // reports itself readable and hung up on every look, with nothing to read. Only bytes
    // are a sign of life: such a look hands over what was still queued, if anything, and never
    // an empty text, or "No Data" could never appear.
    const bool hungUp = (events & kWaitHangup) != 0;
    if (!(events & kWaitReadable) && !hungUp) {
        reactor.WatchOnce(linkId, device->PollDescriptor());
        return;
    }
    if (!(events & kWaitReadable)) {
        drain.hungUp = hungUp;
        drain.total = 0;
        AfterBurst();
        return;
    }
    if (!hungUp) {
        // Bytes right after a drain: the burst went on, so the line trickles.
        trickling = trickling || Clock::now() - lastDrain < kQuietGap;
        if (trickling) {
            BeginQuietWait();
            return;
        }
    }
    BeginDrain(hungUp);
}

// ---------------------------------------------------------------------------------------
// Waiting for a burst to end

void CComm::BeginQuietWait() {
    const long queued = QueuedNow();
    if (queued <= 0) {
        // A wake-up with nothing queued is served at once, and tells nothing.
        EndQuietWait(true);
        return;
    }
    const auto now = Clock::now();
    quiet = QuietWait{true, queued, queued, now, now + kMaxHold, now + kSettle, false};
    if (static_cast<std::size_t>(queued) >= HandOverThreshold) {
        EndQuietWait(false);
        return;
    }
    reactor.At(linkId, quiet.nextLook);
}

void CComm::QuietLook() {
    const auto now = Clock::now();
    if (now < quiet.nextLook) {
        reactor.At(linkId, quiet.nextLook);  // an early turn (a resume): the wait goes on
        return;
    }
    const long later = QueuedNow();
    if (later <= quiet.queued) {
        EndQuietWait(quiet.grew);  // nothing new since the last look: the line is quiet
        return;
    }
    quiet.grew = true;
    // Bytes that followed the first one back to back at the line's speed were all in well
    // before now: the burst is over without another look.
    if (Clock::now() - quiet.start >= (later - quiet.first) * kCharTime + kQuietGap) {
        EndQuietWait(true);
        return;
    }
    quiet.queued = later;
    if (static_cast<std::size_t>(later) >= HandOverThreshold || now >= quiet.deadline) {
        EndQuietWait(true);
        return;
    }
    quiet.nextLook = std::min(quiet.deadline, now + kQuietGap);
    reactor.At(linkId, quiet.nextLook);
}

void CComm::EndQuietWait(bool stillTrickling) {
    quiet.active = false;
    trickling = stillTrickling;
    BeginDrain(false);
}

// ---------------------------------------------------------------------------------------
// Reading a burst

long CComm::QueuedNow() {
    return device ? device->QueuedBytes() : -1;
}

void CComm::BeginDrain(bool hungUp) {
    drain = Drain{true, hungUp, 0};
    text.clear();
    ContinueDrain();
}

void CComm::ContinueDrain() {
    char buffer[ReceiveChunk];
    std::size_t share = 0;
    std::size_t n = 0;
    do {
        {
            std::lock_guard lock(control);
            if (PauseWanted() && !stopRequested) {
                return;  // parked between reads, with nothing held; resuming goes on here
            }
        }
        if (share >= kTurnShare) {
            // A flooding line: let the other links have their turn first.
            CountDropped();
            reactor.Post(linkId);
            return;
        }
        n = ReadBytes(buffer, ReceiveChunk);
        text.append(buffer, n);
        drain.total += n;
        share += n;
        if (text.size() >= HandOverThreshold) {
            HandOver(text);
            text.clear();
        }
    } while (n > 0 && Keep());
    // A burst ends with one hand-over, empty or not: the parser counts it as a sign of life.
    // Only a device that hung up gets none when nothing came.
    if (!drain.hungUp || !text.empty()) {
        HandOver(text);
    }
    text.clear();
    drain.active = false;
    lastDrain = Clock::now();
    NoteDropped();
    AfterBurst();
}

void CComm::AfterBurst() {
    const bool hungUp = drain.hungUp;
    // Pause before looking again instead of spinning on a device that answers at once.
    if (hungUp || drain.total == 0) {
        // A port kept open lets a dead device go and looks for it again.
        if (KeepOpenWanted() && (hungUp || QueuedNow() < 0)) {
            LoseDevice(EIO);
            reactor.Post(linkId);
            return;
        }
        if (!troubleReported) {
            LinkDebug("port hang-up or error; looking again every %d ms",
                      static_cast<int>(kHangupPause.count()));
            troubleReported = true;
        }
        pauseEnd = Clock::now() + kHangupPause;
        reactor.At(linkId, pauseEnd);
        return;
    }
    troubleReported = false;
    // The queue was read dry: wait for the next bytes. Bytes that came since make the
    // descriptor readable at once, so nothing is missed by not looking again here.
    const int fd = device ? device->PollDescriptor() : -1;
    if (fd >= 0) {
        reactor.WatchOnce(linkId, fd);
    } else {
        reactor.Post(linkId);
    }
}

void CComm::HandOver(const std::string& bytes) {
    std::lock_guard lock(frameMutex);
    if (handOver) {
        handOver(bytes);
    }
}

std::uint64_t CComm::DroppedBytes() const {
    return droppedSeen.load();
}

std::uint64_t CComm::CountDropped() {
    std::lock_guard lock(deviceMutex);
    const std::uint64_t dropped = droppedBefore.load() + (device ? device->DroppedBytes() : 0);
    droppedSeen.store(dropped);
    return dropped;
}

void CComm::NoteDropped() {
    const std::uint64_t dropped = CountDropped();
    if (dropped == droppedLogged) {
        return;
    }
    const auto now = Clock::now();
    if (droppedLoggedAt != Clock::time_point{} && now - droppedLoggedAt < kDropLogPeriod) {
        return;
    }
    std::string path = Status().path;
    if (path.empty()) {
        path = DevicePath();
    }
    std::fprintf(stderr,
                 "<4>kestrel: %s: the line brings more than can be decoded; %" PRIu64
                 " bytes dropped so far to stay current\n",
                 path.c_str(), dropped);
    droppedLogged = dropped;
    droppedLoggedAt = now;
}

}  // namespace kestrel
