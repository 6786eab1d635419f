// Many links in one process, and a terminal server that floods: what stays bounded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "link/CComm.h"
#include "link/NetworkSerialDevice.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

int ThreadCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

// Counts the opens of the program's devices, and those made on a thread other than the loop's.
class CountingOpens : public SerialDeviceFactory {
public:
    explicit CountingOpens(std::atomic<int>& opens, std::atomic<int>* offLoop = nullptr)
        : opens(opens), offLoop(offLoop) {}
    std::unique_ptr<SerialDevice> Create() override { return real->Create(); }
    std::unique_ptr<SerialDevice> CreateFor(const std::string& path) override {
        ++opens;
        if (offLoop && !Reactor::Shared().OnLoopThread()) {
            ++*offLoop;
        }
        return real->CreateFor(path);
    }
    bool OpensAtOnce(const std::string& path) const override { return real->OpensAtOnce(path); }

private:
    std::atomic<int>& opens;
    std::atomic<int>* offLoop;
    std::unique_ptr<SerialDeviceFactory> real = MakePosixSerialDeviceFactory();
};

// A port kept open on `path`, on the loop, counting the bytes handed over and decoding them.
struct Link {
    Link(const std::string& path, std::unique_ptr<SerialDeviceFactory> devices,
         RetryPeriods retry = {}) {
        DeviceResolver resolver;
        resolver.SetPath(1, path);
        comm = std::make_unique<CComm>(
            state, frameMutex,
            [this](std::string_view t) {
                bytes += t.size();
                parser.Parse(t);
            },
            std::move(devices), resolver);
        comm->SetStartupDelay(0ms);
        comm->SetRetryPeriods(retry);
        comm->Start();
        comm->SetPortNumber(1);
    }
    CComm::OpenStart Run(bool retryFailedOpen) {
        const auto start = comm->OpenKeepingOpen(retryFailedOpen);
        comm->ResumeThread();
        return start;
    }
    MonitorState state;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    std::mutex frameMutex;
    std::atomic<std::size_t> bytes{0};
    std::unique_ptr<CComm> comm;
};

template <class Condition>
bool All(const std::vector<std::unique_ptr<Link>>& links, Condition condition) {
    return std::all_of(links.begin(), links.end(), [&](const auto& l) { return condition(*l); });
}

class FloodTest : public ::testing::TestWithParam<bool> {};

// Whatever a server sends and however fast, the bytes waiting are bounded, the oldest are
// dropped and counted, a change on the line is decoded soon after it is sent, and a server
// that closes is connected again at the first retry.
TEST_P(FloodTest, StaysBoundedAndCurrentAndReconnects) {
    test::FloodServer server(GetParam());
    ASSERT_FALSE(server.path.empty());
    {
        NetworkSerialDevice device;
        ASSERT_EQ(device.Open(server.path), 0);
        device.SetEventMask(kEvRxChar);
        char buffer[80];
        for (int i = 0; i < 200; ++i) {
            device.Wait(-1, 1000);
            ASSERT_LE(device.QueuedBytes(), static_cast<long>(NetworkSerialDevice::kRingSize));
            device.Read(buffer, sizeof buffer);
        }
        // A decoder that looks only now and then: more than the ring holds has come meanwhile,
        // and the oldest of it goes (however slowly this machine lets the server send).
        for (int i = 0; i < 100 && device.DroppedBytes() == 0; ++i) {
            while (device.Read(buffer, sizeof buffer) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * (i + 1)));
            ASSERT_LE(device.QueuedBytes(), static_cast<long>(NetworkSerialDevice::kRingSize));
        }
        EXPECT_GT(device.DroppedBytes(), 0u);
        ++server.hangUps;
    }

    std::atomic<int> opens{0};
    Link link(server.path, std::make_unique<CountingOpens>(opens), RetryPeriods{300ms, 300ms, 60s});
    CComm& comm = *link.comm;
    ASSERT_EQ(link.Run(true), CComm::OpenStart::Connecting);
    ASSERT_TRUE(test::Eventually([&] { return comm.Status().state == LinkState::Open; }));
    ASSERT_TRUE(test::Eventually([&] { return comm.DroppedBytes() > 1'000'000; }));
    server.ais = true;
    EXPECT_TRUE(test::Eventually([&] { return link.state.localAis.load() == 1; }));

    const int before = opens;
    ++server.hangUps;
    ASSERT_TRUE(test::Eventually([&] { return comm.Status().state != LinkState::Open; }));
    ASSERT_TRUE(test::Eventually([&] { return comm.Status().state == LinkState::Open; }));
    EXPECT_EQ(opens - before, 1);
    comm.Shutdown();
}

INSTANTIATE_TEST_SUITE_P(Kinds, FloodTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Garbage" : "Frames"; });

// Two hundred links, each on its pseudo-terminal, are served by the same few threads; every
// one hears its bytes, and all of them stop at once.
TEST(ManyLinksTest, ShareAFixedNumberOfThreads) {
    constexpr int kLinks = 200;
    const int threadsBefore = ThreadCount();
    std::vector<std::unique_ptr<test::PtyPair>> ptys;
    std::vector<std::unique_ptr<Link>> links;
    for (int i = 0; i < kLinks; ++i) {
        ptys.push_back(std::make_unique<test::PtyPair>());
        ASSERT_TRUE(ptys.back()->Ok());
        links.push_back(std::make_unique<Link>(ptys.back()->path, MakePosixSerialDeviceFactory()));
        ASSERT_EQ(links.back()->Run(false), CComm::OpenStart::Opened);
    }
    for (auto& pty : ptys) {
        ASSERT_TRUE(pty->Send(WriteFrame(StatusFrame{})));
    }
    EXPECT_TRUE(test::Eventually(
        [&] { return All(links, [](Link& l) { return l.bytes >= kStatusFrameLength; }); }));
    EXPECT_LE(ThreadCount() - threadsBefore, 5);
    for (auto& l : links) {
        l->comm->Shutdown();
        EXPECT_EQ(l->comm->ExitCode(), CComm::kExitOrderly);
    }
}

// Links kept open on servers that refuse them (an absent MUX, a terminal server's port not
// set up) are tried again by the loop alone, never a thread per try, and say why as before.
TEST(ManyLinksTest, RefusedConnectionsAreRetriedWithoutOpenerThreads) {
    constexpr int kLinks = 20;
    const int port = test::FreePort();  // nobody listens there any more
    ASSERT_GT(port, 0);
    std::atomic<int> opens{0};
    std::atomic<int> offLoop{0};
    std::vector<std::unique_ptr<Link>> links;
    for (int i = 0; i < kLinks; ++i) {
        links.push_back(std::make_unique<Link>(
            (i % 2 ? "rfc2217://127.0.0.1:" : "tcp://localhost:") + std::to_string(port),
            std::make_unique<CountingOpens>(opens, &offLoop), RetryPeriods{5ms, 5ms, 60s}));
        ASSERT_EQ(links.back()->Run(true), CComm::OpenStart::Connecting);
    }
    EXPECT_TRUE(test::Eventually([&] {
        return opens >= 5 * kLinks && All(links, [](Link& l) {
                   return l.comm->Status().state == LinkState::Reconnecting;
               });
    }));
    EXPECT_EQ(offLoop, 0);
    for (auto& l : links) {
        const LinkStatus status = l->comm->Status();
        EXPECT_EQ(status.error, ECONNREFUSED);
        EXPECT_THAT(status.detail, ::testing::EndsWith(":" + std::to_string(port) + ": " +
                                                       std::strerror(ECONNREFUSED)));
        l->comm->Shutdown();
    }
}

}  // namespace
}  // namespace kestrel
