// The termios driver and the receive thread over real pseudo-terminal pairs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <cerrno>

#include "link/CComm.h"
#include "link/PosixSerialDevice.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// Counts the waits of the real device, to tell an idle thread from a spinning one.
class CountingDevice : public PosixSerialDevice {
public:
    explicit CountingDevice(std::atomic<std::uint64_t>& waits) : waits(waits) {}
    unsigned Wait(int wakeFd, int timeoutMs) override {
        ++waits;
        return PosixSerialDevice::Wait(wakeFd, timeoutMs);
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
    // Raw: no parity, one stop bit, RTS/CTS, no line editing, translation, signals or XON/XOFF.
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), CRTSCTS | CLOCAL | CREAD);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
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
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    for (auto id : threads) {
        EXPECT_EQ(id, threads.front());
    }
}

// Opened for exclusive use, non-blocking and closed on exec; missing devices and those that
// are no terminal fail.
TEST_F(PtyTest, HeldMissingOrNonTerminalDevicesFailToOpen) {
    PosixSerialDevice holder;
    ASSERT_EQ(holder.Open(pty.path), 0);
    EXPECT_TRUE(::fcntl(holder.Fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(holder.Fd(), F_GETFD) & FD_CLOEXEC);

    auto second = MakeComm({});
    second->SetPortOpen(true);
    EXPECT_EQ(second->IsPortOpen(), 0);
    EXPECT_EQ(second->LastOpenError(), EBUSY);

    for (const auto& [path, error] :
         {std::pair{"/nonexistent/tty", ENOENT}, {"/dev/null", ENOTTY}}) {
        DeviceResolver r;
        r.SetPath(1, path);
        CComm comm(state, frameMutex, {}, MakePosixSerialDeviceFactory(), r);
        comm.SetPortOpen(true);
        EXPECT_EQ(comm.IsPortOpen(), 0) << path;
        EXPECT_EQ(comm.LastOpenError(), error) << path;
    }

    // Released by the holder, the device opens.
    holder.Close();
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
    auto handOvers = recorder.Texts().size();
    pty.CloseMaster();
    std::this_thread::sleep_for(500ms);
    // Five or so looks with the pause between them; a busy loop makes many thousands.
    EXPECT_LE(waits.load() - before, 20u);
    // The hung-up terminal polls readable every time, but that is no sign of life.
    EXPECT_EQ(recorder.Texts().size(), handOvers);
    // A terminal without its far end has no MUX behind it.
    EXPECT_EQ(comm->IsModemActive(), 0);
    // The receive thread carries on with another port.
    Reopen(*comm, 2);
    ASSERT_TRUE(other.Send("again"));
    ASSERT_TRUE(recorder.WaitForBytes(10));
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
