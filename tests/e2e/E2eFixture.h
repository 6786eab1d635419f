// The fixture of the end-to-end tests: a simulator and a monitor in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <iostream>

#include "E2eSupport.h"

namespace kestrel::e2e {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- last status: " << monitor.LastStatusText()
                      << "\n--- kestrel stderr:\n"
                      << monitor.Stderr() << "--- simulator stderr:\n"
                      << sim.Stderr();
        }
        // Whatever happened above, no process outlives the test.
        monitor.child.Kill();
        sim.child.Kill();
    }

    // The simulator is held while the monitor starts, so the frames the test reasons about
    // are sent only once the monitor listens and counts the MUX as connected (a pseudo-
    // terminal has no modem lines; the driver takes it as connected while it is open).
    // The status that first showed the connection is kept in `atConnection`.
    void StartHeld(const std::string& script, double rate,
                   const std::vector<std::string>& monitorArgs = {}) {
        ASSERT_TRUE(sim.StartScript(dir, script, rate)) << sim.Stderr();
        ASSERT_TRUE(sim.Pause());
        ASSERT_TRUE(monitor.Start(dir, sim.Path(), monitorArgs));
        const auto s = monitor.WaitFor(Connected, 12s);
        ASSERT_TRUE(s) << "never connected";
        atConnection = *s;
        ASSERT_TRUE(sim.Resume());
    }

    void CloseMonitor(int signalNumber = SIGTERM) {
        ASSERT_TRUE(monitor.child.Stop(signalNumber, 10s)) << monitor.child.Describe();
    }

    // Closes the monitor, whose close handler writes a last status and saves the settings, then
    // the simulator, which outlives its reader and ends on the same signal: both end normally.
    void CloseBoth(int signalNumber = SIGTERM) {
        CloseMonitor(signalNumber);
        const auto last = monitor.Status();
        ASSERT_TRUE(last);
        EXPECT_TRUE((*last)[QStringLiteral("closed")].toBool());
        const std::string settings = ReadFile(monitor.SettingsFile());
        EXPECT_NE(settings.find("WindowPos"), std::string::npos) << settings;
        EXPECT_NE(settings.find("PortOpen=1"), std::string::npos) << settings;
        ASSERT_TRUE(sim.child.Running());
        ASSERT_TRUE(sim.child.Stop(signalNumber, 5s)) << sim.child.Describe();
        EXPECT_GT(sim.FramesSent(), 0);
    }

    QTemporaryDir dir;
    QJsonObject atConnection;
    Simulator sim;
    Monitor monitor;
};

}  // namespace kestrel::e2e
