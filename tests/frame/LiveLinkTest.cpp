// The window over a real pseudo-terminal, and closing it from a termination signal.
#include <gtest/gtest.h>
#include <signal.h>

#include "FrameFixture.h"
#include "app/SignalCloser.h"
#include "display/CKestrelSettings.h"
#include "link/SerialDevice.h"
#include "monitor/FrameWriter.h"

namespace kestrel::test {
namespace {

TEST_F(FrameFixture, StoredPortOpenOnAPseudoTerminalMappedToCom3) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    // The mapping comes from the settings store, as a user would keep it.
    SetSetting(QStringLiteral("Settings/ActivePort"), QStringLiteral("3"));
    SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
    SetSetting(QStringLiteral("Devices/COM3"), QString::fromStdString(pty.path));
    resolver = DeviceResolver();
    for (const auto& [n, path] : settings->ReadDevicePaths()) {
        resolver.SetPath(n, path);
    }
    CMainFrame& f = Create(MakePosixSerialDeviceFactory());
    EXPECT_EQ(f.PaneText(59143), u"PORT: OPENED");
    EXPECT_EQ(f.PaneText(59142), u"COM: 3");

    StatusFrame frame;
    frame.nearCount = 3;
    frame.farCount = 1;
    ASSERT_TRUE(pty.Write(WriteFrame(frame) + WriteFrame(frame)));
    ASSERT_TRUE(WaitFor([&] { return state.frameCount.load() >= 2; }));
    // The BER texts reach the active panel through the event queue.
    ASSERT_TRUE(WaitFor([&] { return f.ActivePanel()->BerText(1045) != u"0.000000e-009"; }));
    f.RunUpdateHandlers();
    EXPECT_EQ(f.PaneText(59145), u"Near Errors =      6");
    EXPECT_EQ(f.PaneText(59146), u"Far Errors =      2");

    // A pseudo-terminal has no modem lines; while open it counts as connected.
    f.LinkWatch();
    EXPECT_EQ(state.connected.load(), 1);
    f.close();
    EXPECT_EQ(Setting(QStringLiteral("Settings/PortOpen")), u"1");
    EXPECT_EQ(Setting(QStringLiteral("Settings/ActivePort")), u"3");
}

TEST_F(FrameFixture, TerminationSignalRunsTheCloseHandler) {
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
        CMainFrame& f = Create();
        f.show();
        SignalCloser closer(&f);
        steps.clear();
        ASSERT_EQ(raise(signalNumber), 0);
        ASSERT_TRUE(WaitFor([&] { return !f.isVisible(); })) << signalNumber;
        EXPECT_EQ(closer.LastSignal(), signalNumber);
        EXPECT_NE(std::find(steps.begin(), steps.end(), "WritePortState"), steps.end());
        EXPECT_EQ(steps.back(), "Closed");
        EXPECT_FALSE(com1->IsOpen());
        frame.reset();
    }
}

}  // namespace
}  // namespace kestrel::test
