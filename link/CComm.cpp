// Serial port driver: device names, opening and closing, line settings, control lines, reads.
#include "link/CComm.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "link/LinkDebug.h"

namespace kestrel {

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
        if (comm.reactor.OnLoopThread()) {
            return;  // a turn: no other turn runs, and this link's own is not on the device
        }
        active = true;
        ++comm.holds;
        comm.Wake();
        comm.changed.wait(lock, [&] { return comm.Quiet() || !comm.running; });
    }
    ~Hold() {
        if (!active) {
            return;
        }
        std::lock_guard lock(comm.control);
        --comm.holds;
        comm.changed.notify_all();
        // The device may have changed: the next turn looks at the new one.
        if (comm.running && !comm.PauseWanted()) {
            comm.reactor.Post(comm.linkId);
        }
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
      reactor(Reactor::Shared()),
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
    return SetUpDevice(line, fresh, detail);
}

int CComm::SetUpDevice(const CommInfo& line, std::unique_ptr<SerialDevice>& fresh,
                       std::string& detail) {
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
    if (connecting.device) {
        reactor.Unwatch(linkId);  // the connection under way is called off
        connecting = Connecting{};
    }
    if (device) {
        reactor.Unwatch(linkId);  // before its descriptor goes, and maybe comes back as another
        device->SetEventMask(0);
        {
            std::lock_guard lock(deviceMutex);
            info.isOpen = 0;
        }
        device->SetDtr(false);
        device->Purge();
        device->Close();
        std::lock_guard lock(deviceMutex);
        droppedBefore += device->DroppedBytes();
        droppedSeen.store(droppedBefore.load());
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

}  // namespace kestrel
