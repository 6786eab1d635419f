// Helpers shared by the link tests: a hand-over recorder, waiting for conditions, a pty pair,
// and a driver over fake ports.
#pragma once

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/CComm.h"
#include "link/FakeSerialDevice.h"
#include "tests/ChildProcess.h"
#include "tests/link/FloodServer.h"

namespace kestrel::test {

using namespace std::chrono_literals;

// A generous guard so that a broken build fails instead of hanging; correct code is far
// quicker.
inline constexpr auto kPatience = 10s;

// Polls a condition that another thread makes true; false when it never did.
inline bool Eventually(const std::function<bool()>& condition) {
    return Eventually(condition, kPatience, 1ms);
}

// Records every hand-over, with the thread that made it.
class HandOverRecorder {
public:
    FrameHandOver Callback() {
        return [this](std::string_view text) {
            std::lock_guard lock(mutex);
            texts.emplace_back(text);
            threads.push_back(std::this_thread::get_id());
            changed.notify_all();
        };
    }
    // Waits until at least `count` hand-overs were made.
    bool WaitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return texts.size() >= count; });
    }
    // Waits until the concatenated hand-overs hold at least `bytes` characters.
    bool WaitForBytes(std::size_t bytes) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return JoinedLocked().size() >= bytes; });
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex);
        return texts;
    }
    std::string Joined() const {
        std::lock_guard lock(mutex);
        return JoinedLocked();
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard lock(mutex);
        return threads;
    }

private:
    std::string JoinedLocked() const {
        std::string all;
        for (const auto& t : texts) {
            all += t;
        }
        return all;
    }

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> texts;
    std::vector<std::thread::id> threads;
};

// A pseudo-terminal pair; the test keeps both ends, the driver opens the slave by path.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string path;

    PtyPair() {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = name;
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (slave >= 0) {
            ::close(slave);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master >= 0 && slave >= 0 && !path.empty(); }
    void CloseMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }
    bool Send(std::string_view bytes) const {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
};

// A driver over fake ports: COM1 to COM4 resolve to "fake-comN", and only fake-com1 has a
// line behind it until a test adds more. Its hand-overs are recorded; the thread, once
// started, begins without the start-up delay.
class FakeCommTest : public ::testing::Test {
protected:
    FakeCommTest() {
        for (int n = 1; n <= 4; ++n) {
            resolver.SetPath(n, "fake-com" + std::to_string(n));
        }
        line = ports->Add("fake-com1");
        comm = std::make_unique<CComm>(state, frameMutex, recorder.Callback(),
                                       std::make_unique<FakeSerialDeviceFactory>(ports), resolver);
        comm->SetStartupDelay(std::chrono::milliseconds(0));
    }
    ~FakeCommTest() override { comm->Shutdown(); }
    CComm& Comm() { return *comm; }
    // The main frame's order: open, and resume only when the port is open.
    void OpenAndRun() {
        comm->Start();
        comm->SetPortOpen(true);
        ASSERT_EQ(comm->IsPortOpen(), 1);
        comm->ResumeThread();
    }

    MonitorState state;
    std::mutex frameMutex;
    HandOverRecorder recorder;
    DeviceResolver resolver;
    std::shared_ptr<FakeSerialPorts> ports = std::make_shared<FakeSerialPorts>();
    std::shared_ptr<FakeSerialLine> line;
    std::unique_ptr<CComm> comm;
};

}  // namespace kestrel::test
