// A terminal server on the loopback that floods, for the network links' tests and benchmarks.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "monitor/FrameWriter.h"
#include "tests/metrics/HttpGet.h"

namespace kestrel::test {

// A server that sends each connection frames (or garbage) as fast as the socket takes them,
// until told to hang up; then it listens again for the next.
class FloodServer {
public:
    explicit FloodServer(bool garbage) {
        std::string noise(64 * 1024, '\0');
        for (std::size_t i = 0; i < noise.size(); ++i) {
            noise[i] = static_cast<char>(i * 7919 % 251);
        }
        blocks[0] = garbage ? noise : Frames(false, noise.size());
        blocks[1] = Frames(true, noise.size());
        int port = 0;
        listener = ListenOnLoopback(port);
        if (port > 0) {
            path = "tcp://127.0.0.1:" + std::to_string(port);
        }
        thread = std::thread([this] { Serve(); });
    }
    ~FloodServer() {
        stop = true;
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    FloodServer(const FloodServer&) = delete;
    FloodServer& operator=(const FloodServer&) = delete;

    std::string path;              // empty when the server could not listen
    std::atomic<bool> ais{false};  // sends frames with local AIS from now on
    std::atomic<int> hangUps{0};   // connections to end

private:
    static std::string Frames(bool ais, std::size_t size) {
        StatusFrame f;
        f.localStatus = ais ? kStatusAis : 0;
        std::string s;
        while (s.size() < size) {
            AppendFrame(s, f);
        }
        return s;
    }
    void Serve() {
        while (!stop) {
            const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                continue;
            }
            while (!stop && hangUps == 0) {
                const std::string& b = blocks[ais ? 1 : 0];
                if (::send(c, b.data(), b.size(), MSG_NOSIGNAL) < 0) {
                    break;
                }
            }
            if (hangUps > 0) {
                --hangUps;
            }
            ::close(c);
        }
    }

    std::string blocks[2];
    int listener = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
};

}  // namespace kestrel::test
