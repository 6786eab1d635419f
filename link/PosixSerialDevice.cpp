// The termios serial device: open for exclusive use, raw line settings, control lines, reads.
#include "link/PosixSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "link/LinkDebug.h"
#include "link/NetworkSerialDevice.h"

namespace kestrel {

namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 17> kSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

bool SpeedFromBaud(std::uint32_t baud, speed_t& speed) {
    for (const auto& [b, s] : kSpeeds) {
        if (b == baud) {
            speed = s;
            return true;
        }
    }
    return false;
}

std::uint32_t BaudFromSpeed(speed_t speed) {
    for (const auto& [b, s] : kSpeeds) {
        if (s == speed) {
            return b;
        }
    }
    return 0;
}

// The parts of the settings whose loss would garble or stall the line.
constexpr tcflag_t kCheckedFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

}  // namespace

PosixSerialDevice::~PosixSerialDevice() {
    Close();
}

int PosixSerialDevice::Open(const std::string& devicePath) {
    Close();
    if (devicePath.empty()) {
        return ENOENT;
    }
    int f = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) {
        int e = errno;
        LinkDebug("open %s failed: %s", devicePath.c_str(), std::strerror(e));
        return e;
    }
    // Refuse anything that is not a terminal before we lock or change it.
    termios before{};
    if (::tcgetattr(f, &before) != 0) {
        int e = errno;
        ::close(f);
        LinkDebug("%s is not a terminal: %s", devicePath.c_str(), std::strerror(e));
        return e;
    }
    // flock first: it holds even against root, for whom TIOCEXCL is only advisory. If the
    // lock fails we have changed nothing on a device someone else is using.
    if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(f);
        LinkDebug("%s is held by another program", devicePath.c_str());
        return e;
    }
    if (::ioctl(f, TIOCEXCL) != 0) {
        int e = errno;
        ::close(f);
        return e;
    }
    fd = f;
    saved = before;
    eventMask = 0;
    path = devicePath;
    LinkDebug("opened %s", path.c_str());
    return 0;
}

void PosixSerialDevice::Close() {
    if (fd < 0) {
        return;
    }
    // Leave the terminal as we found it; on a vanished device these simply fail.
    ::tcsetattr(fd, TCSANOW, &saved);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the flock
    fd = -1;
    knownQueued = lastCounted = -1;
    eventMask = 0;
    LinkDebug("closed %s", path.c_str());
}

bool PosixSerialDevice::GetState(Dcb& dcb) {
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
        return false;
    }
    dcb = Dcb{};
    dcb.BaudRate = BaudFromSpeed(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if (t.c_cflag & PARENB) {
        bool odd = (t.c_cflag & PARODD) != 0;
        if (t.c_cflag & CMSPAR) {
            dcb.Parity = odd ? 3 : 4;
        } else {
            dcb.Parity = odd ? 1 : 2;
        }
    }
    dcb.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    bool rtscts = (t.c_cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = rtscts ? 1 : 0;
    dcb.fRtsControl = rtscts ? 2 : 1;
    dcb.fDtrControl = 1;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.fBinary = 1;
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return true;
}

int PosixSerialDevice::SetState(const Dcb& dcb) {
    if (fd < 0) {
        return EBADF;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return errno;
    }
    // Raw bytes in and out: the MUX's frames are not lines, and a 0x1A or a 0x03 in them must
    // arrive as a character, not as an end of file or a signal.
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    speed_t speed = B0;
    if (!SpeedFromBaud(dcb.BaudRate, speed)) {
        return EINVAL;
    }
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);

    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (dcb.ByteSize) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        case 8:
            t.c_cflag |= CS8;
            break;
        default:
            return EINVAL;
    }
    switch (dcb.Parity) {
        case 0:
            break;
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return EINVAL;
    }
    // Checking parity only means something when there is a parity bit.
    if (dcb.fParity && dcb.Parity != 0) {
        t.c_iflag |= INPCK;
    }
    switch (dcb.StopBits) {
        case 0:
            break;
        case 2:
            t.c_cflag |= CSTOPB;
            break;
        default:  // one and a half stop bits do not exist here
            return EINVAL;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2) {
        t.c_cflag |= CRTSCTS;
    }
    // termios has no DSR/DTR handshake; pretending to have one would lose data silently.
    if (dcb.fOutxDsrFlow || dcb.fDtrControl == 2) {
        return EINVAL;
    }
    if (dcb.fOutX) {
        t.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        return errno;
    }
    // tcsetattr succeeds when any part of the request was taken, so check what we got.
    termios got{};
    if (::tcgetattr(fd, &got) != 0) {
        return errno;
    }
    speed_t in = ::cfgetispeed(&got);
    if (::cfgetospeed(&got) != speed || (in != speed && in != B0) ||
        (got.c_cflag & kCheckedFlags) != (t.c_cflag & kCheckedFlags)) {
        LinkDebug("line settings refused by %s (cflag %#o wanted %#o)", path.c_str(),
                  static_cast<unsigned>(got.c_cflag & kCheckedFlags),
                  static_cast<unsigned>(t.c_cflag & kCheckedFlags));
        return EINVAL;
    }
    return 0;
}

bool PosixSerialDevice::SetEventMask(unsigned mask) {
    if (fd < 0) {
        return false;
    }
    eventMask = mask;
    return true;
}

bool PosixSerialDevice::Purge() {
    knownQueued = lastCounted = -1;
    return fd >= 0 && ::tcflush(fd, TCIOFLUSH) == 0;
}

bool PosixSerialDevice::ControlLine(int bit, bool on) {
    return fd >= 0 && ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

bool PosixSerialDevice::SetRts(bool on) {
    return ControlLine(TIOCM_RTS, on);
}

bool PosixSerialDevice::SetDtr(bool on) {
    return ControlLine(TIOCM_DTR, on);
}

ModemQuery PosixSerialDevice::GetModemLines(unsigned& lines) {
    lines = 0;
    if (fd < 0) {
        return ModemQuery::Failed;
    }
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        return (errno == ENOTTY || errno == EINVAL) ? ModemQuery::Unsupported : ModemQuery::Failed;
    }
    if (bits & TIOCM_CTS)
        lines |= kLineCts;
    if (bits & TIOCM_DSR)
        lines |= kLineDsr;
    if (bits & TIOCM_RNG)
        lines |= kLineRing;
    if (bits & TIOCM_CAR)
        lines |= kLineCd;
    if (bits & TIOCM_RTS)
        lines |= kLineRts;
    if (bits & TIOCM_DTR)
        lines |= kLineDtr;
    return ModemQuery::Ok;
}

long PosixSerialDevice::QueuedBytes() {
    if (knownQueued >= 0) {
        lastCounted = std::exchange(knownQueued, -1);  // counted just now; only this side reads
        return lastCounted;
    }
    int n = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &n) != 0) {
        return lastCounted = -1;
    }
    return lastCounted = n;
}

long PosixSerialDevice::Read(void* buffer, std::size_t n) {
    const long counted = std::exchange(lastCounted, -1);
    knownQueued = -1;
    if (fd < 0) {
        return -1;
    }
    ssize_t got;
    do {
        got = ::read(fd, buffer, n);
    } while (got < 0 && errno == EINTR);
    // What was counted and not taken is queued still, and the drain's next query is answered
    // from that: bytes that came after the count are heard of from the loop again, which
    // watches for every arrival. A frame then costs one query, not two.
    if (got >= 0 && counted >= 0) {
        knownQueued = std::max(0L, counted - static_cast<long>(got));
    }
    return static_cast<long>(got);
}

int PosixSerialDevice::PollDescriptor() const {
    return (eventMask & kEvRxChar) ? fd : -1;
}

unsigned PosixSerialDevice::Wait(int wakeFd, int timeoutMs) {
    pollfd fds[2];
    nfds_t n = 0;
    int devIndex = -1;
    int wakeIndex = -1;
    if (fd >= 0 && (eventMask & kEvRxChar)) {
        devIndex = static_cast<int>(n);
        fds[n++] = pollfd{fd, POLLIN, 0};
    }
    if (wakeFd >= 0) {
        wakeIndex = static_cast<int>(n);
        fds[n++] = pollfd{wakeFd, POLLIN, 0};
    }
    // Without a wake-up descriptor a pause could never interrupt the wait, so fall back to
    // looking again four times a second.
    int timeout = timeoutMs >= 0 ? timeoutMs : (wakeFd >= 0 ? -1 : 250);
    int r = ::poll(fds, n, timeout);
    if (r < 0) {
        // A signal only ends this wait; anything else would repeat at once, so treat it like
        // a broken device and let the caller pause before it waits again.
        return errno == EINTR ? 0 : kWaitHangup;
    }
    unsigned events = devIndex >= 0 ? Seen(static_cast<unsigned short>(fds[devIndex].revents)) : 0;
    if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
        events |= kWaitWoken;
    }
    return events;
}

unsigned PosixSerialDevice::Seen(unsigned pollEvents) {
    unsigned events = 0;
    if (pollEvents & (POLLHUP | POLLERR | POLLNVAL)) {
        events |= kWaitHangup;
    }
    if (pollEvents & POLLIN) {
        events |= kWaitReadable;
        // The loop hears of every arrival, also of bytes an earlier read took already: only
        // bytes queued now make this a receive event, as a look of Wait's own would find.
        // The count is kept for the read that follows, which then needs no query of its own.
        int n = 0;
        if (!(events & kWaitHangup) && fd >= 0 && ::ioctl(fd, FIONREAD, &n) == 0) {
            if (n == 0) {
                return 0;
            }
            knownQueued = n;
        }
    }
    return events;
}

namespace {

class PosixSerialDeviceFactory : public SerialDeviceFactory {
public:
    std::unique_ptr<SerialDevice> Create() override {
        return std::make_unique<PosixSerialDevice>();
    }
    // The scheme decides; nothing above this layer knows which kind it got.
    std::unique_ptr<SerialDevice> CreateFor(const std::string& path) override {
        if (IsNetworkPath(path)) {
            return std::make_unique<NetworkSerialDevice>();
        }
        return Create();
    }
    bool OpensAtOnce(const std::string& path) const override { return !IsNetworkPath(path); }
};

}  // namespace

std::unique_ptr<SerialDeviceFactory> MakePosixSerialDeviceFactory() {
    return std::make_unique<PosixSerialDeviceFactory>();
}

}  // namespace kestrel
