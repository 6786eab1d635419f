// A scriptable serial device for tests.
#include "link/FakeSerialDevice.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/NetworkSerialDevice.h"

namespace kestrel {

namespace {

void DrainEventFd(int fd) {
    std::uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

Dcb DefaultInitialState() {
    // Deliberately unlike the settings the driver writes, with the carried-through fields set,
    // so a test can tell what was written from what was kept.
    Dcb d;
    d.BaudRate = 1200;
    d.ByteSize = 7;
    d.Parity = 2;
    d.StopBits = 2;
    d.fRtsControl = 0;
    d.fDtrControl = 0;
    d.XonChar = 0x01;
    d.XoffChar = 0x02;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = 1;
    d.fErrorChar = 1;
    d.fNull = 1;
    d.fAbortOnError = 1;
    d.ErrorChar = '?';
    d.EofChar = 0x1A;
    d.EvtChar = '\n';
    return d;
}

}  // namespace

FakeSerialLine::FakeSerialLine()
    : eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      initialState(DefaultInitialState()),
      state(initialState) {}

FakeSerialLine::~FakeSerialLine() {
    if (eventFd >= 0) {
        ::close(eventFd);
    }
}

void FakeSerialLine::Signal() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(eventFd, &one, sizeof one);
}

void FakeSerialLine::Deliver(std::string_view bytes) {
    std::lock_guard lock(mutex);
    queue.append(bytes);
    eventPending = true;
    Signal();
}

void FakeSerialLine::RaiseEvent() {
    std::lock_guard lock(mutex);
    eventPending = true;
    Signal();
}

void FakeSerialLine::HangUp(bool isGone) {
    std::lock_guard lock(mutex);
    gone = isGone;
    Signal();
}

void FakeSerialLine::SetModemInputs(unsigned lines) {
    std::lock_guard lock(mutex);
    modemInputs = lines & kModemInputs;
}

void FakeSerialLine::SetModemQuery(ModemQuery outcome) {
    std::lock_guard lock(mutex);
    modemQuery = outcome;
}

void FakeSerialLine::SetOpenError(int error) {
    std::lock_guard lock(mutex);
    openError = error;
}

void FakeSerialLine::SetRefuseSettings(bool refuse) {
    std::lock_guard lock(mutex);
    refuseSettings = refuse;
}

void FakeSerialLine::SetRefuseEventMask(bool refuse) {
    std::lock_guard lock(mutex);
    refuseEventMask = refuse;
}

void FakeSerialLine::FailReads(int count) {
    std::lock_guard lock(mutex);
    failReads = count;
}

void FakeSerialLine::FailQueueQuery(bool fail) {
    std::lock_guard lock(mutex);
    failQueueQuery = fail;
}

void FakeSerialLine::SetInitialState(const Dcb& dcb) {
    std::lock_guard lock(mutex);
    initialState = dcb;
    if (!stateWritten) {
        state = dcb;
    }
}

std::vector<std::string> FakeSerialLine::Calls() const {
    std::lock_guard lock(mutex);
    return calls;
}

void FakeSerialLine::ClearCalls() {
    std::lock_guard lock(mutex);
    calls.clear();
}

std::vector<std::size_t> FakeSerialLine::ReadRequests() const {
    std::lock_guard lock(mutex);
    return readRequests;
}

bool FakeSerialLine::StateWritten() const {
    std::lock_guard lock(mutex);
    return stateWritten;
}

Dcb FakeSerialLine::WrittenState() const {
    std::lock_guard lock(mutex);
    return state;
}

bool FakeSerialLine::Rts() const {
    std::lock_guard lock(mutex);
    return rts;
}

bool FakeSerialLine::Dtr() const {
    std::lock_guard lock(mutex);
    return dtr;
}

bool FakeSerialLine::IsOpen() const {
    std::lock_guard lock(mutex);
    return open;
}

std::size_t FakeSerialLine::Queued() const {
    std::lock_guard lock(mutex);
    return queue.size();
}

std::uint64_t FakeSerialLine::Waits() const {
    std::lock_guard lock(mutex);
    return waits;
}

std::shared_ptr<FakeSerialLine> FakeSerialPorts::Add(const std::string& path) {
    std::lock_guard lock(mutex);
    auto& line = lines[path];
    if (!line) {
        line = std::make_shared<FakeSerialLine>();
    }
    return line;
}

std::shared_ptr<FakeSerialLine> FakeSerialPorts::Find(const std::string& path) const {
    std::lock_guard lock(mutex);
    auto it = lines.find(path);
    return it == lines.end() ? nullptr : it->second;
}

std::vector<std::string> FakeSerialPorts::OpenAttempts() const {
    std::lock_guard lock(mutex);
    return attempts;
}

void FakeSerialPorts::NoteAttempt(const std::string& path) {
    std::lock_guard lock(mutex);
    attempts.push_back(path);
}

std::unique_ptr<SerialDevice> FakeSerialDeviceFactory::Create() {
    return std::make_unique<FakeSerialDevice>(ports);
}

bool FakeSerialDeviceFactory::OpensAtOnce(const std::string& path) const {
    return !IsNetworkPath(path);
}

FakeSerialDevice::~FakeSerialDevice() {
    Close();
}

int FakeSerialDevice::Open(const std::string& path) {
    Close();
    ports->NoteAttempt(path);
    auto l = ports->Find(path);
    if (!l) {
        return ENOENT;
    }
    std::lock_guard lock(l->mutex);
    if (l->openError != 0) {
        return l->openError;
    }
    if (l->open) {
        return EBUSY;
    }
    if (l->gone) {
        return ENODEV;
    }
    l->open = true;
    l->eventMask = 0;
    l->calls.push_back("Open");
    line = l;
    return 0;
}

void FakeSerialDevice::Close() {
    if (!line) {
        return;
    }
    {
        std::lock_guard lock(line->mutex);
        line->open = false;
        line->eventMask = 0;
        line->calls.push_back("Close");
    }
    line.reset();
}

bool FakeSerialDevice::GetState(Dcb& dcb) {
    if (!line) {
        return false;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back("GetState");
    if (line->gone) {
        return false;
    }
    dcb = line->state;
    return true;
}

int FakeSerialDevice::SetState(const Dcb& dcb) {
    if (!line) {
        return EBADF;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back("SetState");
    if (line->gone) {
        return EIO;
    }
    if (line->refuseSettings) {
        return EINVAL;
    }
    line->state = dcb;
    line->stateWritten = true;
    return 0;
}

bool FakeSerialDevice::SetEventMask(unsigned mask) {
    if (!line) {
        return false;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back("SetEventMask " + std::to_string(mask));
    if (line->refuseEventMask) {
        return false;
    }
    line->eventMask = mask;
    return true;
}

bool FakeSerialDevice::Purge() {
    if (!line) {
        return false;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back("Purge");
    line->queue.clear();
    return !line->gone;
}

bool FakeSerialDevice::SetRts(bool on) {
    if (!line) {
        return false;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back(on ? "SETRTS" : "CLRRTS");
    line->rts = on;
    return !line->gone;
}

bool FakeSerialDevice::SetDtr(bool on) {
    if (!line) {
        return false;
    }
    std::lock_guard lock(line->mutex);
    line->calls.push_back(on ? "SETDTR" : "CLRDTR");
    line->dtr = on;
    return !line->gone;
}

ModemQuery FakeSerialDevice::GetModemLines(unsigned& lines) {
    lines = 0;
    if (!line) {
        return ModemQuery::Failed;
    }
    std::lock_guard lock(line->mutex);
    if (line->gone) {
        return ModemQuery::Failed;
    }
    if (line->modemQuery != ModemQuery::Ok) {
        return line->modemQuery;
    }
    lines = line->modemInputs | (line->rts ? kLineRts : 0u) | (line->dtr ? kLineDtr : 0u);
    return ModemQuery::Ok;
}

long FakeSerialDevice::QueuedBytes() {
    if (!line) {
        errno = EBADF;
        return -1;
    }
    std::lock_guard lock(line->mutex);
    // A hung-up terminal refuses the query with EIO; bytes that came before the hang-up are
    // still offered here.
    if ((line->gone && line->queue.empty()) || line->failQueueQuery) {
        errno = EIO;
        return -1;
    }
    return static_cast<long>(line->queue.size());
}

long FakeSerialDevice::Read(void* buffer, std::size_t n) {
    if (!line) {
        return -1;
    }
    std::lock_guard lock(line->mutex);
    line->readRequests.push_back(n);
    if (line->failReads > 0) {
        --line->failReads;
        errno = EIO;
        return -1;
    }
    if (line->gone && line->queue.empty()) {
        errno = EIO;
        return -1;
    }
    std::size_t count = std::min(n, line->queue.size());
    std::memcpy(buffer, line->queue.data(), count);
    line->queue.erase(0, count);
    return static_cast<long>(count);
}

int FakeSerialDevice::PollDescriptor() const {
    if (!line) {
        return -1;
    }
    std::lock_guard lock(line->mutex);
    return (line->gone || (line->eventMask & kEvRxChar)) ? line->eventFd : -1;
}

unsigned FakeSerialDevice::Wait(int wakeFd, int timeoutMs) {
    pollfd fds[2];
    nfds_t n = 0;
    int lineIndex = -1;
    bool goneNow = false;
    if (line) {
        std::lock_guard lock(line->mutex);
        ++line->waits;
        if (line->gone || (line->eventMask & kEvRxChar)) {
            lineIndex = static_cast<int>(n);
            fds[n++] = pollfd{line->eventFd, POLLIN, 0};
        }
        goneNow = line->gone;
    }
    int wakeIndex = -1;
    if (wakeFd >= 0) {
        wakeIndex = static_cast<int>(n);
        fds[n++] = pollfd{wakeFd, POLLIN, 0};
    }
    // A vanished device answers at once, as a hung-up terminal does.
    int r = ::poll(fds, n, goneNow ? 0 : (timeoutMs >= 0 ? timeoutMs : (wakeFd >= 0 ? -1 : 250)));
    if (r < 0) {
        return errno == EINTR ? 0 : kWaitHangup;
    }
    unsigned events =
        Look(lineIndex >= 0 ? static_cast<unsigned short>(fds[lineIndex].revents) : 0);
    if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
        events |= kWaitWoken;
    }
    return events;
}

unsigned FakeSerialDevice::Seen(unsigned pollEvents) {
    if (line) {
        std::lock_guard lock(line->mutex);
        ++line->waits;  // the link loop waited for it
    }
    return Look(pollEvents);
}

unsigned FakeSerialDevice::Look(unsigned pollEvents) {
    if (!line) {
        return 0;
    }
    if (pollEvents & POLLIN) {
        DrainEventFd(line->eventFd);
    }
    std::lock_guard lock(line->mutex);
    unsigned events = 0;
    if (line->gone) {
        // As a hung-up tty polls: readable and hung up together, on every wait.
        events |= kWaitHangup;
        if (line->eventMask & kEvRxChar) {
            events |= kWaitReadable;
        }
    } else if (line->eventPending && (line->eventMask & kEvRxChar)) {
        line->eventPending = false;
        events |= kWaitReadable;
    }
    return events;
}

}  // namespace kestrel
