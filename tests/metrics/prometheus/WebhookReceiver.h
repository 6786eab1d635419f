// A webhook receiver on the loopback, as an operations centre's chat or pager gateway would be:
// it keeps every notification Alertmanager posts to it.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cctype>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/metrics/HttpGet.h"

namespace kestrel::test {

class WebhookReceiver {
public:
    // Listens on a port of the kernel's choice; Port() is 0 when it could not.
    WebhookReceiver() {
        listener = ListenOnLoopback(port);
        if (port > 0) {
            thread = std::thread([this] { Serve(); });
        }
    }
    ~WebhookReceiver() {
        stop = true;
        if (thread.joinable()) {
            thread.join();
        }
        if (listener >= 0) {
            ::close(listener);
        }
    }
    WebhookReceiver(const WebhookReceiver&) = delete;
    WebhookReceiver& operator=(const WebhookReceiver&) = delete;

    int Port() const { return port; }
    // The bodies posted so far, oldest first.
    std::vector<QJsonObject> Notifications() const {
        std::lock_guard lock(mutex);
        return received;
    }

private:
    // One request per connection: the answer closes it, so a client that keeps connections
    // alive opens a new one for the next.
    void Serve() {
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            timeval limit{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            std::string request;
            std::size_t bodyAt = std::string::npos;
            std::size_t length = 0;
            char buf[16384];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
                request.append(buf, static_cast<std::size_t>(n));
                if (bodyAt == std::string::npos &&
                    (bodyAt = request.find("\r\n\r\n")) != std::string::npos) {
                    bodyAt += 4;
                    length = ContentLength(request.substr(0, bodyAt));
                }
                if (bodyAt != std::string::npos && request.size() >= bodyAt + length) {
                    break;
                }
            }
            static constexpr char kAnswer[] =
                "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
            ::close(fd);
            if (bodyAt != std::string::npos) {
                const auto body = QByteArray::fromStdString(request.substr(bodyAt, length));
                std::lock_guard lock(mutex);
                received.push_back(QJsonDocument::fromJson(body).object());
            }
        }
    }

    static std::size_t ContentLength(std::string head) {
        for (char& c : head) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const auto at = head.find("\r\ncontent-length:");
        return at == std::string::npos ? 0 : std::stoul(head.substr(at + 17));
    }

    int listener = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
    mutable std::mutex mutex;
    std::vector<QJsonObject> received;
};

}  // namespace kestrel::test
