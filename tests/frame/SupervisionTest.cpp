// The panel refresh and the link watch, driven tick by tick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/Supervision.h"

namespace kestrel::test {
namespace {

// Records the rows the ticks ask for.
class RecordingStatistics : public StatisticsHooks {
public:
    bool IsEventLogOpen() const override { return eventLogOpen; }
    bool IsG821LogOpen() const override { return g821LogOpen; }
    void WriteAlarmRow() override { rows.push_back("Alarm"); }
    void WriteCountsRow() override { rows.push_back("Counts"); }
    void WriteMarkRows(bool connected) override {
        rows.push_back(connected ? "Mark connected" : "Mark NC");
    }
    bool eventLogOpen = true;
    bool g821LogOpen = true;
    std::vector<std::string> rows;
};

class SupervisionTest : public ::testing::Test {
protected:
    // The session's links: the test's port and modem lines; the display steps counted, the
    // alarm step writing its row whenever both bytes changed.
    Supervision::Links Links() {
        return {[this] { return portOpen; },
                [this] {
                    ++modemQueries;
                    return modemActive;
                },
                [this](bool both, const std::function<void()>& row) {
                    ++displaySteps;
                    if (both) {
                        row();
                    }
                },
                [this] { ++displaySteps; }};
    }

    // What the frame parser leaves behind after one applied frame.
    void FrameArrives(std::uint8_t changed = 0) {
        state.rxIdle = 0;
        state.statusChanged = changed;
    }
    void Connect() {
        portOpen = true;
        modemActive = 1;
        supervision.LinkWatch();
        stats.rows.clear();
    }

    MonitorState state;
    RecordingStatistics stats;
    int displaySteps = 0;
    bool portOpen = false;
    int modemActive = 0;
    int modemQueries = 0;
    Supervision supervision{state, stats, Links()};
};

TEST_F(SupervisionTest, NoDataNeedsTwoSilentTicksClearsAfterTwoBusyOnesAndClearsTheIndications) {
    // Each character: '1' a LinkWatch interval that carried text, '0' a silent one; then the
    // noData expected after that tick.
    struct Case {
        const char* intervals;
        const char* noData;
    };
    const Case cases[] = {
        {"0000", "1111"},          // shown from the start
        {"1111", "1000"},          // cleared at the second busy tick
        {"10101010", "11111111"},  // one busy interval at a time changes nothing
        {"11001100", "10011001"},  // hysteresis both ways
        {"110111", "100000"},      // a single silent interval changes nothing
    };
    for (const Case& c : cases) {
        MonitorState fresh;
        Supervision s(fresh, stats, Links());
        std::string seen;
        for (const char* p = c.intervals; *p; ++p) {
            if (*p == '1') {
                fresh.rxIdle = 0;  // the parser ran during the interval
            }
            s.LinkWatch();
            seen += fresh.noData.load() ? '1' : '0';
            EXPECT_EQ(fresh.rxIdle.load(), 1);
        }
        EXPECT_EQ(seen, c.noData) << c.intervals;
    }
    // No data clears the decoded indications, but not the gate of the alarm row.
    state.localAis = 1;
    state.remoteRai = 1;
    state.tribNoSig[3] = 1;
    state.tribCErr[20] = 1;
    state.localAlarm = 1;
    supervision.LinkWatch();  // rxIdle and rxIdlePrev start at 1: no data
    EXPECT_EQ(state.localAis + state.remoteRai + state.tribNoSig[3] + state.tribCErr[20], 0);
    EXPECT_EQ(state.localAlarm.load(), 1);
}

// The mark rows themselves are the session's test; here what it cannot show.
TEST_F(SupervisionTest, ConnectionEdgesForceAChangeEvenWithoutFiles) {
    stats.eventLogOpen = stats.g821LogOpen = false;
    Connect();
    EXPECT_EQ(state.connected.load(), 1);
    EXPECT_EQ(state.lastLocalStatus.load(), 255);
    EXPECT_EQ(state.lastRemoteStatus.load(), 255);
    // No edge: the status bytes stay.
    state.lastLocalStatus = 1;
    supervision.LinkWatch();
    EXPECT_EQ(state.lastLocalStatus.load(), 1);
    // A closed port is not connected, and the modem is not asked.
    const int asked = modemQueries;
    portOpen = false;
    supervision.LinkWatch();
    supervision.LinkWatch();
    EXPECT_EQ(modemQueries, asked);
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(state.lastLocalStatus.load(), 255);
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Mark NC"});
}

// Event log closed: no alarm row, and the change is spent; G.821 log closed: no counts row, and
// the alarm flag is spent. While closing only the counts step runs.
TEST_F(SupervisionTest, RowsOnlyIntoOpenFiles) {
    Connect();
    stats.eventLogOpen = false;
    FrameArrives(MonitorState::kLocalChanged | MonitorState::kRemoteChanged);
    supervision.PanelRefresh();
    stats.eventLogOpen = true;
    supervision.PanelRefresh();
    EXPECT_TRUE(stats.rows.empty());
    EXPECT_EQ(state.statusChanged.load(), 0);
    stats.g821LogOpen = false;
    state.alarmSeen = 1;
    supervision.PanelRefresh();
    EXPECT_TRUE(stats.rows.empty());
    EXPECT_EQ(state.alarmSeen.load(), 0);

    stats.g821LogOpen = true;
    state.closing = 1;
    state.alarmSeen = 1;
    FrameArrives(MonitorState::kLocalChanged | MonitorState::kRemoteChanged);
    displaySteps = 0;
    supervision.PanelRefresh();
    EXPECT_EQ(displaySteps, 0);
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Counts"});
}

}  // namespace
}  // namespace kestrel::test
