// Receive thread over the fake device: hand-over sizes, faults, pauses, locking and shut-down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "link/CComm.h"
#include "link/FakeSerialDevice.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ReceiveThreadTest : public test::FakeCommTest {
protected:
    // Waits for the hand-over of a marker burst, so that every hand-over caused by what came
    // before is known to be recorded. Waited for by its byte: a late empty hand-over (a
    // wake-up for bytes an earlier drain took already) may come before or after it.
    void Settle() {
        const std::size_t before = recorder.Joined().size();
        line->Deliver("#");
        ASSERT_TRUE(recorder.WaitForBytes(before + 1));
        const auto texts = recorder.Texts();
        ASSERT_NE(std::find(texts.begin(), texts.end(), "#"), texts.end());
    }
    std::vector<std::size_t> SizesBeforeMarker() {
        const auto texts = recorder.Texts();
        std::vector<std::size_t> sizes;
        for (auto it = texts.begin(); it != texts.end() && *it != "#"; ++it) {
            sizes.push_back(it->size());
        }
        return sizes;
    }
};

struct BurstCase {
    const char* name;
    std::size_t queued;
    std::vector<std::size_t> handOvers;
    std::vector<std::size_t> reads;
};

class BurstTest : public ReceiveThreadTest, public ::testing::WithParamInterface<BurstCase> {};

TEST_P(BurstTest, HandsOverAtTheThresholdAndOnceAtTheEnd) {
    const BurstCase& c = GetParam();
    std::string bytes;
    for (std::size_t i = 0; i < c.queued; ++i) {
        bytes.push_back(static_cast<char>(i % 7 == 3 ? 0 : 'A' + i % 26));  // zero bytes too
    }
    OpenAndRun();
    if (c.queued == 0) {
        line->RaiseEvent();
    } else {
        line->Deliver(bytes);
    }
    ASSERT_TRUE(recorder.WaitFor(c.handOvers.size()));
    Settle();
    EXPECT_THAT(SizesBeforeMarker(), ElementsAreArray(c.handOvers));
    auto reads = line->ReadRequests();
    reads.pop_back();  // the marker's read
    EXPECT_THAT(reads, ElementsAreArray(c.reads));
    EXPECT_EQ(recorder.Joined(), bytes + "#");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BurstTest,
    ::testing::Values(BurstCase{"Ten", 10, {10}, {10}},
                      BurstCase{"FiveHundred", 500, {320, 180}, {80, 80, 80, 80, 80, 80, 20}},
                      BurstCase{"ExactlyThreshold", 320, {320, 0}, {80, 80, 80, 80}},
                      BurstCase{"EmptyQueue", 0, {0}, {}},
                      BurstCase{"LongBurst",
                                1000,
                                {320, 320, 320, 40},
                                {80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 40}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiveThreadTest, ReadErrorEndsTheBurstAndTheBytesComeWithTheNext) {
    OpenAndRun();
    line->FailReads(1);
    line->Deliver("hello");
    ASSERT_TRUE(recorder.WaitFor(1));
    line->Deliver(" world");
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_THAT(recorder.Texts(), ElementsAre("", "hello world"));
}

TEST_F(ReceiveThreadTest, RefusedEventMaskEndsTheThreadWithZeroAndLeavesTheDriverUsable) {
    line->SetRefuseEventMask(true);
    OpenAndRun();
    ASSERT_TRUE(test::Eventually([&] { return comm->ExitCode() != -1; }));
    EXPECT_EQ(comm->ExitCode(), CComm::kExitNoEventMask);
    comm->SuspendThread();  // returns at once: there is no thread to park
    comm->ResumeThread();
    comm->SuspendThread();
    comm->SetPortOpen(false);
    comm->SetPortOpen(true);
    EXPECT_EQ(comm->IsPortOpen(), 1);
    comm->IsModemActive();
    comm->ResumeThread();
    EXPECT_EQ(comm->ClosePortIfOpen(), 1);
    comm->Shutdown();
    EXPECT_EQ(comm->ExitCode(), CComm::kExitNoEventMask);
}

TEST_F(ReceiveThreadTest, SuspensionCounts) {
    EXPECT_EQ(comm->SuspendCount(), 1);  // created suspended
    comm->Start();
    comm->SuspendThread();
    EXPECT_EQ(comm->SuspendCount(), 2);
    comm->ResumeThread();
    comm->ResumeThread();
    comm->ResumeThread();  // never below zero
    EXPECT_EQ(comm->SuspendCount(), 0);
}

TEST_F(ReceiveThreadTest, BlockedHandOverLosesNoByte) {
    OpenAndRun();
    std::string sent;
    {
        // As the log flush does: hold the mutex while a hand-over falls due.
        std::lock_guard flush(frameMutex);
        std::string burst(500, 'a');
        line->Deliver(burst);
        sent += burst;
        ASSERT_TRUE(test::Eventually([&] { return line->ReadRequests().size() >= 4; }));
        std::this_thread::sleep_for(20ms);  // let it reach the mutex
        std::string more(130, 'b');
        line->Deliver(more);
        sent += more;
        EXPECT_EQ(recorder.Texts().size(), 0u);
    }
    ASSERT_TRUE(recorder.WaitForBytes(sent.size()));
    EXPECT_EQ(recorder.Joined(), sent);
}

TEST_F(ReceiveThreadTest, PauseDuringAHandOverWaitsForTheMutex) {
    OpenAndRun();
    std::future<void> paused;
    {
        std::unique_lock flush(frameMutex);
        line->Deliver("0123456789");
        ASSERT_TRUE(test::Eventually([&] { return line->ReadRequests().size() >= 1; }));
        paused = std::async(std::launch::async, [&] { comm->SuspendThread(); });
        // While we hold the mutex the thread cannot reach a safe point.
        EXPECT_EQ(paused.wait_for(100ms), std::future_status::timeout);
    }
    paused.get();
    EXPECT_THAT(recorder.Texts(), ElementsAre("0123456789"));
    // Parked threads hold nothing.
    EXPECT_TRUE(frameMutex.try_lock());
    frameMutex.unlock();
    // Nothing is read while paused; resuming picks the data up.
    line->Deliver("later");
    comm->ResumeThread();
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(recorder.Texts()[1], "later");
}

// Bytes still queued when the device hangs up are read and handed over. (That a hung-up device
// is then neither polled in a busy loop nor taken for a live line, PtyTest checks on a real one.)
TEST_F(ReceiveThreadTest, VanishedDeviceHandsOverWhatWasQueued) {
    OpenAndRun();
    line->Deliver("x");
    ASSERT_TRUE(recorder.WaitFor(1));
    comm->SuspendThread();
    line->Deliver("tail");
    line->HangUp();
    comm->ResumeThread();
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_THAT(recorder.Texts(), ElementsAre("x", "tail"));
    EXPECT_EQ(comm->IsModemActive(), 0);
    comm->SuspendThread();
    comm->SetPortOpen(false);
    EXPECT_EQ(comm->IsPortOpen(), 0);
}

// A port kept open is closed when its device hangs up and opened again, with the whole open
// order, once it is back; looked for at the first period, then at the slower one.
TEST_F(ReceiveThreadTest, DeviceKeptOpenIsLookedForAndReopenedWhenBack) {
    comm->SetRetryPeriods(RetryPeriods{20ms, 150ms, 100ms});
    comm->Start();
    ASSERT_EQ(comm->OpenKeepingOpen(false), CComm::OpenStart::Opened);
    comm->ResumeThread();
    line->Deliver("x");
    ASSERT_TRUE(recorder.WaitFor(1));

    line->SetOpenError(ENOENT);
    line->HangUp();
    ASSERT_TRUE(test::Eventually([&] { return comm->Status().state == LinkState::Reconnecting; }));
    EXPECT_EQ(comm->IsPortOpen(), 0);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_EQ(comm->Status().path, "fake-com1");
    const auto attempts = [&] { return ports->OpenAttempts().size(); };
    const auto lost = attempts();
    std::this_thread::sleep_for(100ms);  // about five at 20 ms; fewer on a loaded machine
    EXPECT_LE(attempts() - lost, 8u);
    ASSERT_TRUE(test::Eventually([&] { return attempts() - lost >= 2; }));
    const auto later = attempts();
    std::this_thread::sleep_for(300ms);  // two at most at 150 ms
    EXPECT_LE(attempts() - later, 3u);

    line->ClearCalls();
    line->HangUp(false);
    line->SetOpenError(0);
    ASSERT_TRUE(test::Eventually([&] { return comm->Status().state == LinkState::Open; }));
    EXPECT_EQ(comm->IsPortOpen(), 1);
    EXPECT_THAT(line->Calls(), ElementsAre("Open", "SetEventMask 1", "Purge", "GetState",
                                           "SetState", "SETRTS", "CLRDTR"));
    line->Deliver("y");
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_THAT(recorder.Texts(), ElementsAre("x", "y"));

    // Closing ends the looking.
    line->HangUp();
    ASSERT_TRUE(test::Eventually([&] { return comm->Status().state == LinkState::Reconnecting; }));
    comm->SuspendThread();
    comm->SetPortOpen(false);
    EXPECT_EQ(comm->Status().state, LinkState::Closed);
    comm->ResumeThread();
    const auto closed = attempts();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(attempts(), closed);
}

TEST_F(ReceiveThreadTest, BytesTricklingInAtLineSpeedAreHandedOverAsOneBurst) {
    OpenAndRun();
    // First a writer that sends whole frames, as a pseudo-terminal does: taken at once.
    line->Deliver("whole");
    ASSERT_TRUE(recorder.WaitFor(1));
    // Then a frame as a 9600 bit/s line brings it: a byte about every millisecond.
    const std::string frame = std::string(44, 'a') + "\r";
    const auto start = std::chrono::steady_clock::now();
    for (char ch : frame) {
        line->Deliver(std::string(1, ch));
        std::this_thread::sleep_for(1ms);
    }
    const auto trickle = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(recorder.WaitForBytes(5 + frame.size()));
    Settle();
    EXPECT_EQ(recorder.Joined(), "whole" + frame + "#");
    // The first byte alone (the line looked whole until then), the rest in one, and one more
    // for every 100 ms the trickle was stretched by a busy machine; waking for every byte
    // gives dozens.
    const auto allowed = 1 + 2 + static_cast<std::size_t>(trickle / 100ms) + 1;
    EXPECT_LE(SizesBeforeMarker().size(), allowed);
}

// The states the thread can be in when the window goes.
class ShutdownTest : public ReceiveThreadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShutdownTest, JoinsPromptlyFromEveryState) {
    const std::string from = GetParam();
    if (from == "CreatedSuspended") {
        comm->Start();
    } else if (from == "InStartupDelay") {
        comm->SetStartupDelay(30s);
        OpenAndRun();
    } else if (from != "NeverStarted") {
        OpenAndRun();
    }
    if (from == "Waiting" || from == "MainFrameShutDownOrder") {
        // Past its start (event mask set): a thread still starting would find the port closed
        // and end with 0, which is a different case.
        line->Deliver("x");
        ASSERT_TRUE(recorder.WaitFor(1));
    }
    if (from == "Paused" || from == "PortClosedSuspended" || from == "MainFrameShutDownOrder") {
        comm->SuspendThread();
    }
    if (from == "PortClosedSuspended") {
        comm->SetPortOpen(false);
    } else if (from == "HangupPause") {
        line->HangUp();
        ASSERT_TRUE(test::Eventually([&] { return line->Waits() >= 2; }));
    } else if (from == "MainFrameShutDownOrder") {
        comm->ClosePortIfOpen();
        state.keepReceiving = 0;
        comm->ResumeThread();
    }
    auto start = std::chrono::steady_clock::now();
    comm->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(state.keepReceiving.load(), 0);
    EXPECT_EQ(comm->ExitCode(), from == "NeverStarted" ? -1 : CComm::kExitOrderly);
    // Everything stays safe afterwards.
    comm->SuspendThread();
    comm->ResumeThread();
    comm->Shutdown();
    comm->SetPortOpen(false);
    EXPECT_EQ(comm->IsPortOpen(), 0);
}

INSTANTIATE_TEST_SUITE_P(States, ShutdownTest,
                         ::testing::Values("NeverStarted", "CreatedSuspended", "InStartupDelay",
                                           "Waiting", "Paused", "PortClosedSuspended",
                                           "HangupPause", "MainFrameShutDownOrder"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(ReceiveThreadTest, ClosingWithoutAPauseStillKeepsTheThreadOffTheDevice) {
    // A careless caller closes a port the thread is waiting on; the driver parks the thread
    // itself for the close, and the thread waits for a wake-up instead of a dead device.
    OpenAndRun();
    line->Deliver("a");
    ASSERT_TRUE(recorder.WaitFor(1));
    comm->SetPortOpen(false);
    EXPECT_FALSE(line->IsOpen());
    comm->SetPortOpen(true);
    line->Deliver("b");
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_THAT(recorder.Texts(), ElementsAre("a", "b"));
}

}  // namespace
}  // namespace kestrel
