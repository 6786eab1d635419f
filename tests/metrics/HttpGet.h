// Sockets on the loopback, and a plain HTTP/1.0 GET, enough to scrape /metrics and ask
// Prometheus's API.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::test {

// A socket bound to a free port of the loopback, listening if it is a stream one; `port` is 0
// when there is none.
inline int ListenOnLoopback(int& port, int type = SOCK_STREAM) {
    const int listener = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    port = 0;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        (type != SOCK_STREAM || ::listen(listener, 16) == 0) &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    return listener;
}

// A loopback port nobody listens on now (the kernel's choice for a bound, closed socket), TCP
// or UDP.
inline int FreePort(int type = SOCK_STREAM) {
    int port = 0;
    ::close(ListenOnLoopback(port, type));
    return port;
}

// A socket connected to 127.0.0.1:port, whose reads give up after 5 s; -1 when it cannot.
inline int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
                    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The whole answer (status line, headers, body) to `request` sent to 127.0.0.1:port; empty
// when nothing came within 5 s.
inline std::string HttpExchange(int port, const std::string& request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) {
        return {};
    }
    std::string answer;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        char buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
            answer.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

// The body of a 200 answer from 127.0.0.1:port; empty on any failure or another status.
inline std::optional<std::string> HttpGet(int port, const std::string& target,
                                          const std::string& headers = "") {
    const std::string answer = HttpExchange(
        port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
    const auto body = answer.find("\r\n\r\n");
    if (answer.compare(0, 12, "HTTP/1.1 200") != 0 && answer.compare(0, 12, "HTTP/1.0 200") != 0) {
        return std::nullopt;
    }
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

}  // namespace kestrel::test
