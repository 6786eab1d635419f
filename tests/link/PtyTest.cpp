// The termios driver and the receive thread over real pseudo-terminal pairs.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <cerrno>

#include "link/CComm.h"
#include "link/PosixSerialDevice.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// Counts the waits of the real device, to tell an idle thread from a spinning one.
class CountingDevice : public PosixSerialDevice {
public:
    explicit CountingDevice(std::atomic<std::uint64_t>& waits) : waits(waits) {}
    unsigned Wait(int wakeFd) override {
        ++waits;
        return PosixSerialDevice::Wait(wakeFd);
    }

private:
    std::atomic<std::uint64_t>& waits;
};

class CountingFactory : public SerialDeviceFactory {
public:
    explicit CountingFactory(std::atomic<std::uint64_t>& waits) : waits(waits) {}
    std::unique_ptr<SerialDevice> Create() override {
        return std::make_unique<CountingDevice>(waits);
    }

private:
    std::atomic<std::uint64_t>& waits;
};

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_TRUE(other.Ok());
        resolver.SetPath(1, pty.path);
        resolver.SetPath(2, other.path);
    }
    std::unique_ptr<CComm> MakeComm(FrameHandOver handOver) {
        auto comm = std::make_unique<CComm>(state, frameMutex, std::move(handOver),
                                            std::make_unique<CountingFactory>(waits), resolver);
        comm->SetStartupDelay(0ms);
        return comm;
    }
    void OpenAndRun(CComm& comm) {
        comm.Start();
        comm.SetPortOpen(true);
        ASSERT_EQ(comm.IsPortOpen(), 1) << comm.LastOpenError();
        comm.ResumeThread();
    }
    // The port commands' order for a change of port: park, close, renumber, open, resume.
    static void Reopen(CComm& comm, int port) {
        comm.SuspendThread();
        comm.SetPortOpen(false);
        EXPECT_EQ(comm.IsPortOpen(), 0);
        comm.SetPortNumber(port);
        comm.SetPortOpen(true);
        ASSERT_EQ(comm.IsPortOpen(), 1) << comm.LastOpenError();
        comm.ResumeThread();
    }

    test::PtyPair pty;
    test::PtyPair other;
    MonitorState state;
    std::mutex frameMutex;
    DeviceResolver resolver;
    std::atomic<std::uint64_t> waits{0};
};

TEST_F(PtyTest, OpensRawAtTheFixedSettingsAndRestoresOnClose) {
    termios original{};
    ASSERT_EQ(::tcgetattr(pty.slave, &original), 0);
    auto comm = MakeComm({});
    comm->SetPortOpen(true);
    ASSERT_EQ(comm->IsPortOpen(), 1) << comm->LastOpenError();

    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_EQ(::cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    struct Flag {
        const char* name;
        bool set;
        bool want;
    };
    const Flag flags[] = {
        {"PARENB", (t.c_cflag & PARENB) != 0, false},  {"CSTOPB", (t.c_cflag & CSTOPB) != 0, false},
        {"CRTSCTS", (t.c_cflag & CRTSCTS) != 0, true}, {"CLOCAL", (t.c_cflag & CLOCAL) != 0, true},
        {"CREAD", (t.c_cflag & CREAD) != 0, true},     {"ICANON", (t.c_lflag & ICANON) != 0, false},
        {"ECHO", (t.c_lflag & ECHO) != 0, false},      {"ISIG", (t.c_lflag & ISIG) != 0, false},
        {"IEXTEN", (t.c_lflag & IEXTEN) != 0, false},  {"ICRNL", (t.c_iflag & ICRNL) != 0, false},
        {"INLCR", (t.c_iflag & INLCR) != 0, false},    {"IGNCR", (t.c_iflag & IGNCR) != 0, false},
        {"ISTRIP", (t.c_iflag & ISTRIP) != 0, false},  {"IXON", (t.c_iflag & IXON) != 0, false},
        {"IXOFF", (t.c_iflag & IXOFF) != 0, false},    {"OPOST", (t.c_oflag & OPOST) != 0, false},
    };
    for (const auto& f : flags) {
        EXPECT_EQ(f.set, f.want) << f.name;
    }
    // A pseudo-terminal has no modem lines: an open one counts as connected.
    EXPECT_EQ(comm->IsModemActive(), 1);

    comm->SetPortOpen(false);
    termios after{};
    ASSERT_EQ(::tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&original));
    EXPECT_EQ(after.c_lflag, original.c_lflag);
    EXPECT_EQ(after.c_iflag, original.c_iflag);
    EXPECT_EQ(after.c_cflag, original.c_cflag);
}

TEST_F(PtyTest, FramesWrittenToTheLineReachTheParser) {
    BerMeter meter(state);
    FrameParser parser(state, meter);
    auto comm = MakeComm([&](std::string_view text) { parser.Parse(text); });
    OpenAndRun(*comm);

    StatusFrame alarm;
    alarm.localStatus = kStatusAis;
    alarm.nearCount = 12;
    std::string stream;
    for (int i = 0; i < 3; ++i) {
        AppendFrame(stream, alarm);
    }
    // A frame torn across writes, with a byte that a cooked tty would have eaten (0x1A, ^C).
    StatusFrame quiet;
    quiet.terminator = '\x03';
    std::string last = WriteFrame(quiet);
    ASSERT_TRUE(pty.Send(stream));
    ASSERT_TRUE(pty.Send(last.substr(0, 20)));
    ASSERT_TRUE(test::Eventually([&] { return state.frameCount.load() >= 3; }));
    EXPECT_EQ(state.localAis.load(), 1);
    ASSERT_TRUE(pty.Send(last.substr(20)));
    ASSERT_TRUE(test::Eventually([&] { return state.frameCount.load() >= 4; }));
    EXPECT_EQ(state.localAis.load(), 0);
    comm->Shutdown();
    std::lock_guard lock(frameMutex);
    EXPECT_EQ(parser.Buffered(), 0u);
}

TEST_F(PtyTest, ReopenOnTheSameAndAnotherPathDeliversAgainWithoutANewThread) {
    test::HandOverRecorder recorder;
    auto comm = MakeComm(recorder.Callback());
    OpenAndRun(*comm);
    ASSERT_TRUE(pty.Send("one"));
    ASSERT_TRUE(recorder.WaitForBytes(3));

    Reopen(*comm, 1);
    ASSERT_TRUE(pty.Send("two"));
    ASSERT_TRUE(recorder.WaitForBytes(6));
    Reopen(*comm, 2);
    ASSERT_TRUE(other.Send("three"));
    ASSERT_TRUE(recorder.WaitForBytes(11));
    EXPECT_EQ(recorder.Joined(), "onetwothree");
    auto threads = recorder.Threads();
    for (auto id : threads) {
        EXPECT_EQ(id, threads.front());
    }
}

TEST_F(PtyTest, HeldMissingOrNonTerminalDevicesFailToOpen) {
    auto holder = MakeComm({});
    holder->SetPortOpen(true);
    ASSERT_EQ(holder->IsPortOpen(), 1);

    auto second = MakeComm({});
    second->SetPortOpen(true);
    EXPECT_EQ(second->IsPortOpen(), 0);
    EXPECT_EQ(second->LastOpenError(), EBUSY);

    struct Case {
        const char* path;
        int error;
    };
    const Case cases[] = {{"/nonexistent/tty", ENOENT}, {"/dev/null", ENOTTY}};
    for (const auto& c : cases) {
        DeviceResolver r;
        r.SetPath(1, c.path);
        CComm comm(state, frameMutex, {}, MakePosixSerialDeviceFactory(), r);
        comm.SetPortOpen(true);
        EXPECT_EQ(comm.IsPortOpen(), 0) << c.path;
        EXPECT_EQ(comm.LastOpenError(), c.error) << c.path;
    }

    // Released by the holder, the device opens.
    holder->SetPortOpen(false);
    second->SetPortOpen(true);
    EXPECT_EQ(second->IsPortOpen(), 1);
}

TEST_F(PtyTest, VanishedDeviceNeitherSpinsNorCrashes) {
    test::HandOverRecorder recorder;
    auto comm = MakeComm(recorder.Callback());
    OpenAndRun(*comm);
    ASSERT_TRUE(pty.Send("alive"));
    ASSERT_TRUE(recorder.WaitForBytes(5));

    auto before = waits.load();
    auto handOvers = recorder.Count();
    pty.CloseMaster();
    std::this_thread::sleep_for(500ms);
    // Five or so looks with the pause between them; a busy loop makes many thousands.
    EXPECT_LE(waits.load() - before, 20u);
    // The hung-up terminal polls readable every time, but that is no sign of life.
    EXPECT_EQ(recorder.Count(), handOvers);
    // A terminal without its far end has no MUX behind it.
    EXPECT_EQ(comm->IsModemActive(), 0);
    // The receive thread carries on with another port.
    Reopen(*comm, 2);
    ASSERT_TRUE(other.Send("again"));
    ASSERT_TRUE(recorder.WaitForBytes(10));
}

// What the fake device copies: a terminal whose far end closed is readable and hung up at
// once, and its queue can no longer be asked.
TEST_F(PtyTest, HungUpTerminalPollsReadableAndHungUp) {
    PosixSerialDevice device;
    ASSERT_EQ(device.Open(pty.path), 0);
    ASSERT_TRUE(device.SetEventMask(kEvRxChar));
    pty.CloseMaster();
    EXPECT_EQ(device.Wait(-1), kWaitReadable | kWaitHangup);
    EXPECT_EQ(device.QueuedBytes(), -1);
}

TEST_F(PtyTest, DeviceOpensNonBlockingAndCloseOnExec) {
    PosixSerialDevice device;
    ASSERT_EQ(device.Open(pty.path), 0);
    EXPECT_TRUE(::fcntl(device.Fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(device.Fd(), F_GETFD) & FD_CLOEXEC);
    // Held for exclusive use by the same process too.
    PosixSerialDevice second;
    EXPECT_EQ(second.Open(pty.path), EBUSY);
    EXPECT_EQ(second.Fd(), -1);
}

// A pseudo-terminal keeps only 8 data bits without parity, so it shows whether settings the
// device did not take are caught by reading them back, and whether requests termios cannot
// express are refused outright.
TEST_F(PtyTest, SettingsTheDeviceDidNotTakeAreRefused) {
    PosixSerialDevice device;
    ASSERT_EQ(device.Open(pty.path), 0);
    Dcb fixed;
    ASSERT_TRUE(device.GetState(fixed));
    CommInfo info;
    fixed = CComm::BuildDcb(info, fixed);
    ASSERT_EQ(device.SetState(fixed), 0);
    Dcb back;
    ASSERT_TRUE(device.GetState(back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, 0);
    EXPECT_EQ(back.StopBits, 0);
    EXPECT_EQ(back.fOutxCtsFlow, 1);

    struct Case {
        const char* name;
        void (*change)(Dcb&);
    };
    const Case cases[] = {
        {"seven data bits", [](Dcb& d) { d.ByteSize = 7; }},
        {"even parity", [](Dcb& d) { d.Parity = 2; }},
        {"one and a half stop bits", [](Dcb& d) { d.StopBits = 1; }},
        {"DSR handshake", [](Dcb& d) { d.fOutxDsrFlow = 1; }},
        {"odd speed", [](Dcb& d) { d.BaudRate = 12345; }},
        {"nine data bits", [](Dcb& d) { d.ByteSize = 9; }},
    };
    for (const auto& c : cases) {
        Dcb d = fixed;
        c.change(d);
        EXPECT_EQ(device.SetState(d), EINVAL) << c.name;
    }
}

}  // namespace
}  // namespace kestrel
