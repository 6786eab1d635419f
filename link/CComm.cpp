// Serial port driver (open, line settings, control lines, reads) and the receive thread.
#include "link/CComm.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

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
// Device names

void DeviceResolver::SetPath(int portNumber, std::string path) {
    paths[portNumber] = std::move(path);
}

std::string DeviceResolver::Resolve(const std::string& comName) const {
    std::string_view name(comName);
    if (name.size() < 4 || name.substr(0, 3) != "COM") {
        return {};
    }
    int number = 0;
    auto digits = name.substr(3);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
        return {};
    }
    if (number < 1) {
        return {};  // there is no COM0, whatever a stored path says
    }
    if (auto it = paths.find(number); it != paths.end()) {
        return it->second;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

// ---------------------------------------------------------------------------------------
// Keeping the receive thread out of the way

class CComm::Hold {
public:
    explicit Hold(CComm& comm) : comm(comm) {
        std::unique_lock lock(comm.control);
        if (comm.threadId == std::this_thread::get_id()) {
            return;  // the thread itself is not using the device at this moment
        }
        active = true;
        ++comm.holds;
        comm.Wake();
        comm.changed.wait(lock, [&] { return comm.parked || !comm.running; });
    }
    ~Hold() {
        if (!active) {
            return;
        }
        std::lock_guard lock(comm.control);
        --comm.holds;
        comm.changed.notify_all();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CComm& comm;
    bool active = false;
};

// ---------------------------------------------------------------------------------------
// Construction

CComm::CComm(MonitorState& state, std::mutex& frameMutex, FrameHandOver handOver,
             std::unique_ptr<SerialDeviceFactory> devices, DeviceResolver resolver)
    : state(state),
      frameMutex(frameMutex),
      handOver(std::move(handOver)),
      devices(std::move(devices)),
      resolver(std::move(resolver)),
      wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd < 0) {
        LinkDebug("no wake-up descriptor: %s", std::strerror(errno));
    }
}

CComm::~CComm() {
    Shutdown();
    // Nothing is left to read the port; leave the device as we found it.
    ClosePortIfOpen();
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

// ---------------------------------------------------------------------------------------
// Port operations

void CComm::SetPortNumber(int number) {
    info.portNumber = static_cast<std::uint8_t>(number & 0xFF);
    info.baudRate = 9600;
}

std::string CComm::DevicePath() const {
    return resolver.Resolve("COM" + std::to_string(info.portNumber));
}

void CComm::SetPortOpen(bool open) {
    if (open) {
        OpenPort();
        SetRts(true);
        SetDtr(false);
    } else {
        SetRts(false);
        SetDtr(true);
        ClosePort();
    }
}

int CComm::IsPortOpen() const {
    std::lock_guard lock(deviceMutex);
    return info.isOpen;
}

int CComm::ClosePortIfOpen() {
    if (IsPortOpen() || KeepOpenWanted()) {
        ClosePort();
    }
    return 1;
}

int CComm::LastOpenError() const {
    return lastOpenError;
}

int CComm::OpenPort() {
    // Opening over an open port would leave the old device open and locked for good, so
    // the old one is closed first.
    if (IsPortOpen() || device) {
        CloseDevice();
    }
    std::string path = DevicePath();
    Hold hold(*this);
    std::unique_ptr<SerialDevice> fresh;
    lastOpenError = OpenDevice(path, info, -1, fresh, lastOpenDetail);
    if (lastOpenError != 0) {
        return 0;
    }
    {
        std::lock_guard lock(deviceMutex);
        device = std::move(fresh);
        info.isOpen = 1;
    }
    LinkDebug("port COM%u open on %s", info.portNumber, path.c_str());
    return 1;
}

int CComm::OpenDevice(const std::string& path, const CommInfo& line, int cancelFd,
                      std::unique_ptr<SerialDevice>& fresh, std::string& detail) {
    detail.clear();
    fresh = devices ? devices->CreateFor(path) : nullptr;
    if (!fresh) {
        return ENODEV;
    }
    fresh->SetCancelDescriptor(cancelFd);
    if (const int err = fresh->Open(path); err != 0) {
        detail = fresh->FailureDetail();
        fresh.reset();
        return err;
    }
    // Queue sizes and read time-outs need no setting on a tty: reads are non-blocking and
    // take only what is already queued.
    fresh->SetEventMask(kEvRxChar);
    fresh->Purge();
    Dcb current;
    fresh->GetState(current);  // on failure the record's own fields still decide the line
    if (const int err = fresh->SetState(BuildDcb(line, current)); err != 0) {
        LinkDebug("line settings refused: %s", std::strerror(err));
        detail = fresh->FailureDetail();
        fresh->Close();
        fresh.reset();
        return err;
    }
    return 0;
}

Dcb CComm::BuildDcb(const CommInfo& info, const Dcb& current) {
    Dcb dcb = current;
    dcb.BaudRate = info.baudRate;
    dcb.ByteSize = info.byteSize;
    dcb.Parity = info.parity;
    dcb.StopBits = info.stopBits;
    const bool dsrDtr = (info.flowControl & 1) != 0;
    const bool rtsCts = (info.flowControl & 2) != 0;
    const bool xonXoff = (info.flowControl & 4) != 0;
    dcb.fOutxDsrFlow = dsrDtr ? 1 : 0;
    dcb.fDtrControl = dsrDtr ? 2 : 1;
    dcb.fOutxCtsFlow = rtsCts ? 1 : 0;
    dcb.fRtsControl = rtsCts ? 2 : 1;
    dcb.fOutX = xonXoff ? 1 : 0;
    dcb.fInX = xonXoff ? 1 : 0;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    return dcb;
}

int CComm::ConfigurePort() {
    if (!device) {
        return 0;
    }
    Dcb current;
    device->GetState(current);  // on failure the record's own fields still decide the line
    int err = device->SetState(BuildDcb(info, current));
    if (err != 0) {
        LinkDebug("line settings refused: %s", std::strerror(err));
        lastOpenError = err;
        return 0;
    }
    return 1;
}

int CComm::ClosePort() {
    {
        std::lock_guard lock(control);
        keepOpen = false;
        SetStatusLocked(LinkState::Closed, status.path, 0, {});
    }
    TellNews();
    CloseDevice();
    return 1;
}

void CComm::CloseDevice() {
    Hold hold(*this);
    if (device) {
        device->SetEventMask(0);
        {
            std::lock_guard lock(deviceMutex);
            info.isOpen = 0;
        }
        device->SetDtr(false);
        device->Purge();
        device->Close();
        std::lock_guard lock(deviceMutex);
        device.reset();
        LinkDebug("port COM%u closed", info.portNumber);
    }
    std::lock_guard lock(deviceMutex);
    info.isOpen = 0;
}

int CComm::SetRts(bool on) {
    std::lock_guard lock(deviceMutex);
    return device && device->SetRts(on) ? 1 : 0;
}

int CComm::SetDtr(bool on) {
    std::lock_guard lock(deviceMutex);
    return device && device->SetDtr(on) ? 1 : 0;
}

int CComm::IsModemActive() {
    std::lock_guard lock(deviceMutex);
    if (!info.isOpen || !device) {
        return 0;
    }
    unsigned lines = 0;
    switch (device->GetModemLines(lines)) {
        case ModemQuery::Ok:
            // RTS and DTR are our own outputs: only the MUX's lines say it is there.
            return (lines & kModemInputs) ? 1 : 0;
        case ModemQuery::Unsupported:
            // A port without modem lines (a virtual one carrying the frames) counts as
            // connected while it is open.
            return 1;
        case ModemQuery::Failed:
            break;
    }
    return 0;
}

std::size_t CComm::ReadBytes(char* buffer, std::size_t maximum) {
    SerialDevice* dev = device.get();
    if (!dev || maximum == 0) {
        return 0;
    }
    long queued = dev->QueuedBytes();
    if (queued <= 0) {
        return 0;
    }
    std::size_t count = std::min(maximum, static_cast<std::size_t>(queued));
    long done = dev->Read(buffer, count);
    if (done <= 0) {
        if (done < 0) {
            LinkDebug("read failed: %s", std::strerror(errno));
        }
        return 0;
    }
    return std::min(count, static_cast<std::size_t>(done));
}

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
// Keeping the port open

bool CComm::KeepOpenWanted() const {
    std::lock_guard lock(control);
    return keepOpen;
}

LinkStatus CComm::Status() const {
    std::lock_guard lock(control);
    return status;
}

void CComm::SetStatusLocked(LinkState s, std::string path, int error, std::string detail) {
    if (status.state == s && status.path == path && status.error == error &&
        status.detail == detail) {
        return;  // the same news again, as every failed retry brings: nothing to tell
    }
    status.state = s;
    status.path = std::move(path);
    status.error = error;
    status.detail = std::move(detail);
    ++status.changes;
    newsDue = true;
}

void CComm::TellNews() {
    {
        std::lock_guard lock(control);
        if (!std::exchange(newsDue, false)) {
            return;
        }
    }
    if (linkNews) {
        linkNews();
    }
}

CComm::OpenStart CComm::OpenKeepingOpen(bool retryFailedOpen) {
    const std::string path = DevicePath();
    OpenStart result;
    if (!devices || devices->OpensAtOnce(path)) {
        SetPortOpen(true);
        const bool open = IsPortOpen() != 0;
        std::lock_guard lock(control);
        keepOpen = open || retryFailedOpen;
        everOpened = open;
        retryFirstOpen = retryFailedOpen;
        keepLine = info;
        lostSince = Clock::now();
        nextAttempt = lostSince + retry.first;
        if (open) {
            SetStatusLocked(LinkState::Open, path, 0, {});
            result = OpenStart::Opened;
        } else {
            SetStatusLocked(keepOpen ? LinkState::Reconnecting : LinkState::Closed, path,
                            lastOpenError, lastOpenDetail);
            result = keepOpen ? OpenStart::Retrying : OpenStart::Failed;
        }
    } else {
        // A connection may take seconds: the receive thread makes it.
        if (IsPortOpen() || device) {
            CloseDevice();
        }
        std::lock_guard lock(control);
        keepOpen = true;
        everOpened = false;
        retryFirstOpen = retryFailedOpen;
        keepLine = info;
        lostSince = nextAttempt = Clock::now();
        SetStatusLocked(LinkState::Connecting, path, 0, {});
        Wake();
        result = OpenStart::Connecting;
    }
    TellNews();
    return result;
}

void CComm::DeviceReplaced() {
    if (!KeepOpenWanted()) {
        return;
    }
    CloseDevice();
    {
        std::lock_guard lock(control);
        if (!keepOpen) {
            return;
        }
        // Something is at the path again: look at once.
        lostSince = nextAttempt = Clock::now();
        SetStatusLocked(LinkState::Reconnecting, status.path, ENODEV,
                        "another device is at " + status.path + " now");
        Wake();
    }
    TellNews();
}

void CComm::LoseDevice(int error) {
    LinkDebug("device gone; looking for it again");
    CloseDevice();
    {
        std::lock_guard lock(control);
        if (!keepOpen) {
            return;
        }
        lostSince = Clock::now();
        nextAttempt = lostSince + retry.first;
        SetStatusLocked(LinkState::Reconnecting, status.path, error, "the device hung up");
    }
    TellNews();
}

void CComm::ReconnectStep() {
    Clock::time_point due;
    {
        std::lock_guard lock(control);
        due = nextAttempt;
    }
    if (const auto now = Clock::now(); now < due) {
        IdleFor(std::chrono::ceil<std::chrono::milliseconds>(due - now), true);
        return;  // the loop looks again: the time may be up, or a pause may want the thread
    }
    // A wake-up from before must not call off the connection; one from now on does.
    DrainWake();
    std::string path;
    CommInfo line;
    {
        std::lock_guard lock(control);
        if (stopRequested || PauseWanted() || !keepOpen) {
            return;
        }
        path = status.path;
        line = keepLine;
    }
    std::unique_ptr<SerialDevice> fresh;
    std::string detail;
    const int err = OpenDevice(path, line, wakeFd, fresh, detail);
    if (fresh) {
        fresh->SetCancelDescriptor(-1);
        // The control lines as SetPortOpen leaves them.
        fresh->SetRts(true);
        fresh->SetDtr(false);
    }
    {
        std::lock_guard lock(control);
        if (!keepOpen || stopRequested) {
            if (fresh) {
                fresh->Close();  // closed by the host while we were opening
            }
            return;
        }
        if (err == 0) {
            {
                std::lock_guard devLock(deviceMutex);
                device = std::move(fresh);
                info.isOpen = 1;
            }
            everOpened = true;
            SetStatusLocked(LinkState::Open, path, 0, {});
            LinkDebug("port open on %s", path.c_str());
        } else if (err == ECANCELED) {
            return;  // a pause or a close wanted the thread; the next turn tries again
        } else if (!everOpened && !retryFirstOpen) {
            keepOpen = false;  // a first open the user waits for: its failure is final
            SetStatusLocked(LinkState::Closed, path, err, detail);
        } else {
            const auto now = Clock::now();
            nextAttempt = now + (now - lostSince < retry.slowAfter ? retry.first : retry.later);
            SetStatusLocked(LinkState::Reconnecting, path, err, detail);
        }
    }
    TellNews();
}

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
