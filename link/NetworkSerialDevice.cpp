// Raw TCP and RFC 2217 serial devices over non-blocking POSIX sockets.
#include "link/NetworkSerialDevice.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/LinkDebug.h"

namespace kestrel {

namespace {

using Clock = std::chrono::steady_clock;

// A dead server (a cable pulled at the terminal server's end) is noticed by the keep-alive
// probes within about half a minute even when nothing was to be sent.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsNetworkPath(const std::string& path) {
    return path.rfind("tcp://", 0) == 0 || path.rfind("rfc2217://", 0) == 0;
}

std::optional<NetworkAddress> ParseNetworkPath(const std::string& path) {
    NetworkAddress a;
    std::string rest;
    for (const auto& [scheme, rfc] : {std::pair{"tcp://", false}, std::pair{"rfc2217://", true}}) {
        if (path.rfind(scheme, 0) == 0) {
            a.rfc2217 = rfc;
            rest = path.substr(std::strlen(scheme));
            break;
        }
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    std::size_t colon;
    if (rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return std::nullopt;
        }
        a.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            return std::nullopt;
        }
        a.host = rest.substr(0, colon);
        if (a.host.find(':') != std::string::npos) {
            return std::nullopt;  // an IPv6 address needs its brackets
        }
    }
    a.port = rest.substr(colon + 1);
    if (a.host.empty() || !AllDigits(a.port) || a.port.size() > 5 || std::stoi(a.port) < 1 ||
        std::stoi(a.port) > 65535) {
        return std::nullopt;
    }
    return a;
}

NetworkSerialDevice::~NetworkSerialDevice() {
    Close();
}

int NetworkSerialDevice::Fail(int error, const std::string& why) {
    detail = name + ": " + why;
    LinkDebug("%s", detail.c_str());
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    return error;
}

NetworkSerialDevice::Ready NetworkSerialDevice::PollSocket(short events,
                                                           Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Ready::TimedOut;
        }
        pollfd fds[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int r =
            ::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (r < 0 && errno != EINTR) {
            return Ready::Failed;
        }
        if (r <= 0) {
            continue;
        }
        if (cancelFd >= 0 && (fds[1].revents & POLLIN)) {
            return Ready::Cancelled;
        }
        if (fds[0].revents) {
            return Ready::Yes;
        }
    }
}

int NetworkSerialDevice::Open(const std::string& path) {
    Close();
    detail.clear();
    const auto address = ParseNetworkPath(path);
    name = path;
    if (!address) {
        return Fail(EINVAL, "not a network device (tcp://HOST:PORT or rfc2217://HOST:PORT)");
    }
    rfc2217 = address->rfc2217;
    name = address->host + ":" + address->port;
    const auto deadline = Clock::now() + kAnswerLimit;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int r = ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found);
        r != 0) {
        return Fail(r == EAI_SYSTEM ? errno : EHOSTUNREACH,
                    std::string("cannot resolve the host (") + ::gai_strerror(r) + ")");
    }
    int error = ECONNREFUSED;
    for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      ai->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                switch (PollSocket(POLLOUT, deadline)) {
                    case Ready::Yes: {
                        socklen_t len = sizeof error;
                        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
                            error = errno;
                        }
                        break;
                    }
                    case Ready::TimedOut:
                        error = ETIMEDOUT;
                        break;
                    case Ready::Cancelled:
                        error = ECANCELED;
                        break;
                    case Ready::Failed:
                        error = errno;
                        break;
                }
            }
            if (error != 0) {
                ::close(fd);
                fd = -1;
                if (error == ETIMEDOUT || error == ECANCELED) {
                    break;  // the time is up for every address
                }
            }
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        return Fail(error, error == ETIMEDOUT
                               ? "no answer within " + std::to_string(kAnswerLimit.count()) + " s"
                               : std::strerror(error));
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);

    if (rfc2217) {
        if (!Send(client.Start())) {
            return Fail(errno ? errno : EIO, "the connection failed at once");
        }
        const int r = PumpUntil(
            [this] { return client.ComPortAgreed() || client.ComPortRefused(); }, deadline);
        if (r != 0) {
            return Fail(r, r == ETIMEDOUT ? "accepted the connection but did not answer the "
                                            "RFC 2217 negotiation within " +
                                                std::to_string(kAnswerLimit.count()) + " s"
                                          : std::strerror(r));
        }
        if (!client.ComPortAgreed()) {
            return Fail(EPROTONOSUPPORT, "the server refuses the COM-PORT option (RFC 2217)");
        }
        // Its name for the logs, no line-state news (we have no use for them), and the modem
        // lines that tell whether the MUX is there.
        Send(telnet::ComPortRequest(telnet::kSignature, std::string_view()) +
             telnet::ComPortRequest(telnet::kSetLineStateMask, 0) +
             telnet::ComPortRequest(
                 telnet::kSetModemStateMask,
                 telnet::kModemCd | telnet::kModemRi | telnet::kModemDsr | telnet::kModemCts));
    }
    LinkDebug("connected to %s (%s)", name.c_str(), rfc2217 ? "RFC 2217" : "raw TCP");
    return 0;
}

void NetworkSerialDevice::Close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
        LinkDebug("disconnected from %s", name.c_str());
    }
    client = telnet::Client{};
    head = queued = 0;
    hungUp = false;
    eventMask = 0;
    modemState = -1;
}

bool NetworkSerialDevice::Send(const std::string& bytes) {
    std::lock_guard lock(sendMutex);
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                return false;
            }
        } else {
            return false;
        }
    }
    return fd >= 0;
}

void NetworkSerialDevice::Keep(std::string_view bytes) {
    if (ring.size() != kRingSize) {
        ring.assign(kRingSize, 0);
    }
    if (bytes.size() > kRingSize) {
        dropped += bytes.size() - kRingSize;
        bytes.remove_prefix(bytes.size() - kRingSize);
    }
    if (const std::size_t over = queued + bytes.size(); over > kRingSize) {
        const std::size_t lost = over - kRingSize;
        dropped += lost;
        head = (head + lost) % kRingSize;
        queued -= lost;
    }
    std::size_t tail = (head + queued) % kRingSize;
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kRingSize - tail);
        std::memcpy(ring.data() + tail, bytes.data(), n);
        bytes.remove_prefix(n);
        queued += n;
        tail = (tail + n) % kRingSize;
    }
}

void NetworkSerialDevice::Pump() {
    if (fd < 0 || hungUp || queued >= kRingSize / 2) {
        return;  // what is queued is read first; the socket's own buffer holds the rest
    }
    // Large blocks, and no more per call than the kernel may hold for us: a flooding server
    // has its backlog read (and the oldest of it dropped) in one go, so that the next frame
    // decoded is a recent one, while a call can never run on for as long as the flood lasts.
    constexpr std::size_t kBlock = 64 * 1024;
    constexpr std::size_t kMostPerCall = 8 * 1024 * 1024;
    static thread_local std::vector<char> block(kBlock);
    for (std::size_t taken = 0; taken < kMostPerCall;) {
        const ssize_t n = ::recv(fd, block.data(), kBlock, MSG_DONTWAIT);
        if (n > 0) {
            taken += static_cast<std::size_t>(n);
            const std::string_view bytes(block.data(), static_cast<std::size_t>(n));
            if (rfc2217) {
                std::string replies;
                decoded.clear();
                client.Feed(bytes, decoded, replies);
                if (!replies.empty()) {
                    Send(replies);
                }
                Keep(decoded);
            } else {
                Keep(bytes);
            }
            if (static_cast<std::size_t>(n) < kBlock) {
                break;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                hungUp = true;  // the server closed the connection, or it broke
                LinkDebug("%s: connection lost", name.c_str());
            }
            break;
        }
    }
    // A serial side without modem lines (a pseudo-terminal behind ser2net) is reported as
    // all lines low, just like a real port with nothing plugged in. Only a line seen on at
    // least once shows that the lines are real; until then the link counts as one without
    // modem lines, active while connected, as a local pseudo-terminal does.
    if (rfc2217 && client.ModemState()) {
        const int lines = *client.ModemState() & 0xF0;
        if (lines != 0 || modemState.load() >= 0) {
            modemState = lines;
        }
    }
}

template <class Done>
int NetworkSerialDevice::PumpUntil(Done done, Clock::time_point deadline) {
    for (;;) {
        Pump();
        if (done()) {
            return 0;
        }
        if (hungUp) {
            return ECONNRESET;
        }
        switch (PollSocket(POLLIN, deadline)) {
            case Ready::Yes:
                break;
            case Ready::TimedOut:
                return ETIMEDOUT;
            case Ready::Cancelled:
                return ECANCELED;
            case Ready::Failed:
                return errno;
        }
    }
}

bool NetworkSerialDevice::GetState(Dcb& /*dcb*/) {
    return false;  // the settings live on the server; the driver's record decides them
}

int NetworkSerialDevice::SetState(const Dcb& dcb) {
    if (fd < 0) {
        return EBADF;
    }
    if (!rfc2217) {
        return 0;  // a raw link's serial side is set up on the server
    }
    // What the COM-PORT-OPTION cannot express is refused as a local port refuses it.
    const bool rtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == 2;
    if (dcb.ByteSize != 8 || dcb.Parity != 0 || dcb.StopBits != 0 || !rtsCts || dcb.fOutxDsrFlow ||
        dcb.fDtrControl == 2 || dcb.fOutX || dcb.fInX) {
        detail = name + ": only 8 data bits, no parity, one stop bit and RTS/CTS are asked for";
        return EINVAL;
    }
    if (!Send(client.RequestSettings(dcb.BaudRate))) {
        return Fail(EIO, "the connection failed");
    }
    const int r = PumpUntil([this] { return client.SettingsAnswered() || client.RefusedSetting(); },
                            Clock::now() + kAnswerLimit);
    if (const auto refused = client.RefusedSetting()) {
        static const char* const kNames[] = {"the speed", "the data size", "the parity",
                                             "the stop bits", "RTS/CTS flow control"};
        detail = name + ": the server refused " + kNames[*refused] + " (answered " +
                 std::to_string(*client.Answer(*refused)) + ")";
        LinkDebug("%s", detail.c_str());
        return EINVAL;
    }
    if (r != 0) {
        detail =
            name + ": " +
            (r == ETIMEDOUT ? std::string("no answer to the line settings") : std::strerror(r));
        return r;
    }
    return 0;
}

bool NetworkSerialDevice::SetEventMask(unsigned mask) {
    if (fd < 0) {
        return false;
    }
    eventMask = mask;
    return true;
}

bool NetworkSerialDevice::Purge() {
    if (fd < 0) {
        return false;
    }
    head = queued = 0;
    return !rfc2217 || Send(telnet::ComPortRequest(telnet::kPurgeData, telnet::kPurgeBoth));
}

bool NetworkSerialDevice::SetRts(bool on) {
    if (fd < 0) {
        return false;
    }
    return !rfc2217 ||
           Send(telnet::ComPortRequest(telnet::kSetControl,
                                       on ? telnet::kControlRtsOn : telnet::kControlRtsOff));
}

bool NetworkSerialDevice::SetDtr(bool on) {
    if (fd < 0) {
        return false;
    }
    return !rfc2217 ||
           Send(telnet::ComPortRequest(telnet::kSetControl,
                                       on ? telnet::kControlDtrOn : telnet::kControlDtrOff));
}

ModemQuery NetworkSerialDevice::GetModemLines(unsigned& lines) {
    lines = 0;
    if (fd < 0) {
        return ModemQuery::Failed;
    }
    const int state = modemState.load();
    if (state < 0) {
        // A raw link, or a server whose serial side has no modem lines to report.
        return ModemQuery::Unsupported;
    }
    if (state & telnet::kModemCts)
        lines |= kLineCts;
    if (state & telnet::kModemDsr)
        lines |= kLineDsr;
    if (state & telnet::kModemRi)
        lines |= kLineRing;
    if (state & telnet::kModemCd)
        lines |= kLineCd;
    return ModemQuery::Ok;
}

long NetworkSerialDevice::QueuedBytes() {
    if (fd < 0) {
        return -1;
    }
    Pump();
    if (queued == 0 && hungUp) {
        errno = EIO;
        return -1;
    }
    return static_cast<long>(queued);
}

long NetworkSerialDevice::Read(void* buffer, std::size_t n) {
    if (fd < 0 || (queued == 0 && hungUp)) {
        errno = EIO;
        return -1;
    }
    if (queued == 0) {
        errno = EAGAIN;
        return -1;
    }
    const std::size_t count = std::min(n, queued);
    const std::size_t first = std::min(count, kRingSize - head);
    std::memcpy(buffer, ring.data() + head, first);
    std::memcpy(static_cast<char*>(buffer) + first, ring.data(), count - first);
    head = (head + count) % kRingSize;
    queued -= count;
    return static_cast<long>(count);
}

int NetworkSerialDevice::PollDescriptor() const {
    return (eventMask & kEvRxChar) ? fd : -1;
}

unsigned NetworkSerialDevice::Wait(int wakeFd, int timeoutMs) {
    const bool watch = fd >= 0 && (eventMask & kEvRxChar);
    if (watch && hungUp) {
        return kWaitReadable | kWaitHangup;
    }
    if (watch && queued > 0) {
        return kWaitReadable;  // decoded earlier, while the settings were being answered
    }
    pollfd fds[2];
    nfds_t n = 0;
    int sockIndex = -1;
    int wakeIndex = -1;
    if (watch) {
        sockIndex = static_cast<int>(n);
        fds[n++] = pollfd{fd, POLLIN, 0};
    }
    if (wakeFd >= 0) {
        wakeIndex = static_cast<int>(n);
        fds[n++] = pollfd{wakeFd, POLLIN, 0};
    }
    const int r = ::poll(fds, n, timeoutMs >= 0 ? timeoutMs : (wakeFd >= 0 ? -1 : 250));
    if (r < 0) {
        return errno == EINTR ? 0 : kWaitHangup;
    }
    unsigned events = 0;
    if (sockIndex >= 0 && fds[sockIndex].revents) {
        Pump();
        if (fds[sockIndex].revents & (POLLERR | POLLNVAL)) {
            hungUp = true;
        }
        if (queued > 0) {
            events |= kWaitReadable;
        }
        if (hungUp) {
            events |= kWaitReadable | kWaitHangup;
        }
    }
    if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
        events |= kWaitWoken;
    }
    return events;
}

}  // namespace kestrel
