// A recording made from frames decoded by the frame parser, with the supervision steps that
// drive the rows: what a technician would find in the two files.
#include <gtest/gtest.h>

#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "stats/StatisticsLog.h"
#include "tests/stats/StatsTestSupport.h"

namespace kestrel {
namespace {

class RecordingTest : public ::testing::Test {
protected:
    RecordingTest() {
        StatisticsLog::Options o;
        o.notify = [this](const std::string& text) { notices.push_back(text); };
        o.clock = [this] { return now; };
        o.sleeper = [](std::chrono::milliseconds) {};
        log = std::make_unique<StatisticsLog>(state, o);
    }

    void Receive(std::uint8_t local, std::uint8_t remote, int near, int far) {
        StatusFrame f;
        f.localStatus = local;
        f.remoteStatus = remote;
        f.nearCount = near;
        f.farCount = far;
        std::lock_guard<std::mutex> hold(frameMutex);
        parser.Parse(WriteFrame(f));
    }
    // The statistics part of one PanelRefresh tick as the window runs it, then the clock
    // moves on a second.
    void Tick() {
        if (state.ConsumeBothStatusChanged() && state.connected.load() != 0) {
            log->WriteAlarmRow();
        }
        if (state.alarmSeen.exchange(0) != 0) {
            log->WriteCountsRow();
        }
        ++now;
    }
    // LinkWatch on an edge.
    void SetConnected(bool connected) {
        state.connected = connected;
        log->WriteMarkRows(connected);
        state.ConnectionEvent();
    }
    std::string Row(int secondsAfterStart, const char* rest) const {
        return DateTimeField(start + secondsAfterStart) + rest + "\r\n";
    }

    test::TempDir dir;
    std::time_t start = test::LocalTime(2026, 12, 5, 23, 59, 58);
    std::time_t now = start;
    std::vector<std::string> notices;
    MonitorState state;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    std::mutex frameMutex;
    std::unique_ptr<StatisticsLog> log;
};

TEST_F(RecordingTest, NightOnAFaultyLine) {
    const std::string eventPath = dir / "night.csv";
    ASSERT_TRUE(log->StatisticsOn(eventPath));  // t0, port still closed
    SetConnected(true);                         // t0
    Receive(0x00, 0x00, 0, 0);                  // first frame after connecting: both changed
    Tick();                                     // t0
    Receive(0x10, 0x00, 0, 0);                  // local RAI alone: one end changed
    Tick();                                     // t1
    Receive(0x20, 0x40, 12, 3);                 // local AIS hides the remote LOF
    Tick();                                     // t2
    ASSERT_TRUE(log->LogFlush(frameMutex));
    Receive(0x20, 0x40, 12, 3);  // two alarm frames in one second, no change
    Receive(0x20, 0x40, 12, 3);
    Tick();                     // t3
    Tick();                     // t4, a silent second
    Receive(0x10, 0x20, 1, 2);  // both change again: RAI here, AIS at the far end
    Tick();                     // t5
    ASSERT_TRUE(log->LogFlush(frameMutex));
    SetConnected(false);  // t6
    log->StatisticsOff();

    EXPECT_EQ(test::ReadFile(eventPath), Row(0, ",NC,,,,,,,,,,") + Row(0, ",,,,,,,,,,,") +
                                             Row(0, ",,,,,,,,,,") + Row(2, ",,,AIS ,,,,,,,") +
                                             Row(5, ",,,,,RAI ,,AIS_R ,,,") +
                                             Row(6, ",NC,,,,,,,,,,") + Row(6, ",NC,,,,,,,,,,"));
    EXPECT_EQ(test::ReadFile(StatisticsLog::G821LogNameFor(eventPath)),
              Row(0, ",NC") + Row(0, ",") + Row(2, ",,1,12,1,3") + Row(3, ",,3,36,3,9") +
                  Row(5, ",,3,37,4,11") + Row(6, ",NC,") + Row(6, ",NC"));
    EXPECT_TRUE(notices.empty());
}

}  // namespace
}  // namespace kestrel
