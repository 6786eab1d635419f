// Raw TCP and RFC 2217 serial devices over non-blocking POSIX sockets: the connection, and the
// line data read through a bounded ring.
#include "link/NetworkSerialDevice.h"

#include <arpa/inet.h>
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
    int r = Begin(path, true);
    while (r == EINPROGRESS) {
        switch (PollSocket(POLLOUT, deadline)) {
            case Ready::Yes:
                r = ContinueOpen(POLLOUT, false);
                break;
            case Ready::TimedOut:
                r = ContinueOpen(0, true);
                break;
            case Ready::Cancelled:
                return Fail(ECANCELED, std::strerror(ECANCELED));
            case Ready::Failed: {
                const int error = errno;
                ::close(fd);
                fd = -1;
                r = ConnectNext(error);
                break;
            }
        }
    }
    return r == 0 ? FinishOpen() : r;
}

int NetworkSerialDevice::BeginOpen(const std::string& path) {
    return Begin(path, false);
}

int NetworkSerialDevice::Begin(const std::string& path, bool mayLookUp) {
    Close();
    detail.clear();
    const auto address = ParseNetworkPath(path);
    name = path;
    if (!address) {
        return Fail(EINVAL, "not a network device (tcp://HOST:PORT or rfc2217://HOST:PORT)");
    }
    rfc2217 = address->rfc2217;
    name = address->host + ":" + address->port;
    deadline = Clock::now() + kAnswerLimit;

    addresses.clear();
    nextAddress = 0;
    // An address, or localhost as the hosts file has it everywhere: nothing to look up.
    const auto port = static_cast<std::uint16_t>(std::stoi(address->port));
    for (const std::string& host : address->host == "localhost"
                                       ? std::vector<std::string>{"::1", "127.0.0.1"}
                                       : std::vector<std::string>{address->host}) {
        Address a;
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a.address);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.address);
        if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
            a.family = v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            a.length = sizeof *v4;
        } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
            a.family = v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            a.length = sizeof *v6;
        } else {
            break;
        }
        addresses.push_back(a);
    }
    if (addresses.empty() && !mayLookUp) {
        return EWOULDBLOCK;
    }
    if (addresses.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (const int r =
                ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found);
            r != 0) {
            return Fail(r == EAI_SYSTEM ? errno : EHOSTUNREACH,
                        std::string("cannot resolve the host (") + ::gai_strerror(r) + ")");
        }
        for (addrinfo* ai = found; ai; ai = ai->ai_next) {
            Address a;
            std::memcpy(&a.address, ai->ai_addr,
                        std::min<std::size_t>(ai->ai_addrlen, sizeof a.address));
            a.length = ai->ai_addrlen;
            a.family = ai->ai_family;
            a.protocol = ai->ai_protocol;
            addresses.push_back(a);
        }
        ::freeaddrinfo(found);
    }
    return ConnectNext(ECONNREFUSED);
}

// Connects to the next address that does not fail at once; `error` is why the last one did.
int NetworkSerialDevice::ConnectNext(int error) {
    while (fd < 0 && nextAddress < addresses.size()) {
        const Address& a = addresses[nextAddress++];
        fd = ::socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0) {
            return Connected();
        }
        error = errno;
        if (error == EINPROGRESS) {
            return EINPROGRESS;
        }
        ::close(fd);
        fd = -1;
    }
    return Fail(error, std::strerror(error));
}

int NetworkSerialDevice::ContinueOpen(unsigned pollEvents, bool timedOut) {
    if (fd < 0) {
        return EBADF;
    }
    if (pollEvents == 0) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0) {
            pollEvents = static_cast<unsigned short>(p.revents);
        }
    }
    if (pollEvents == 0) {
        // The time is up for every address.
        return timedOut ? Fail(ETIMEDOUT,
                               "no answer within " + std::to_string(kAnswerLimit.count()) + " s")
                        : EINPROGRESS;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        error = errno;
    }
    if (error == 0) {
        return Connected();
    }
    ::close(fd);
    fd = -1;
    return ConnectNext(error);
}

int NetworkSerialDevice::Connected() {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
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
    unsigned events =
        sockIndex >= 0 ? Seen(static_cast<unsigned short>(fds[sockIndex].revents)) : 0;
    if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
        events |= kWaitWoken;
    }
    return events;
}

unsigned NetworkSerialDevice::Seen(unsigned pollEvents) {
    if (pollEvents == 0 || fd < 0) {
        return 0;
    }
    // Only line data is a receive event: what came may have been the server's Telnet talk.
    Pump();
    if (pollEvents & (POLLERR | POLLNVAL)) {
        hungUp = true;
    }
    unsigned events = 0;
    if (queued > 0) {
        events |= kWaitReadable;
    }
    if (hungUp) {
        events |= kWaitReadable | kWaitHangup;
    }
    return events;
}

}  // namespace kestrel
