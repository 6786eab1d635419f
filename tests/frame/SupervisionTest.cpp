// The panel refresh and the link watch, driven tick by tick with the real display steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FrameFixture.h"
#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/Refresh.h"
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
    SupervisionTest()
        : bar(TestIcons()),
          panel(TestIcons()),
          supervision(state, stats,
                      Supervision::Links{
                          [this] { return portOpen; },
                          [this] {
                              ++modemQueries;
                              return modemActive;
                          },
                          [this](bool both, const std::function<void()>& row) {
                              AlarmBarRefresh(state, bar, both, row);
                          },
                          [this] { TributaryLedRefresh(state, &panel); },
                      }) {}

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
    CAlarmBar bar;
    CKestrelSettings panel;
    bool portOpen = false;
    int modemActive = 0;
    int modemQueries = 0;
    Supervision supervision;
};

TEST_F(SupervisionTest, NoDataNeedsTwoSilentTicksAndClearsAfterTwoBusyOnes) {
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
        RecordingStatistics none;
        Supervision s(fresh, none,
                      Supervision::Links{[] { return false; }, [] { return 0; },
                                         [](bool, const std::function<void()>&) {}, [] {}});
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
}

TEST_F(SupervisionTest, NoDataClearsTheDecodedIndicationsButNotTheAlarmGate) {
    state.localAis = 1;
    state.remoteRai = 1;
    state.tribNoSig[3] = 1;
    state.tribCErr[20] = 1;
    state.localAlarm = 1;
    supervision.LinkWatch();  // rxIdle and rxIdlePrev start at 1: no data
    EXPECT_EQ(state.localAis.load(), 0);
    EXPECT_EQ(state.remoteRai.load(), 0);
    EXPECT_EQ(state.tribNoSig[3].load(), 0);
    EXPECT_EQ(state.tribCErr[20].load(), 0);
    EXPECT_EQ(state.localAlarm.load(), 1);
}

TEST_F(SupervisionTest, ConnectionEdgesWriteMarkRowsAndForceAChange) {
    portOpen = true;
    modemActive = 1;
    state.lastLocalStatus = 0x12;
    state.lastRemoteStatus = 0x34;
    supervision.LinkWatch();
    EXPECT_EQ(state.connected.load(), 1);
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Mark connected"});
    EXPECT_EQ(state.lastLocalStatus.load(), 255);
    EXPECT_EQ(state.lastRemoteStatus.load(), 255);

    // No edge: no row, the status bytes stay.
    state.lastLocalStatus = 1;
    supervision.LinkWatch();
    EXPECT_EQ(stats.rows.size(), 1u);
    EXPECT_EQ(state.lastLocalStatus.load(), 1);

    // Modem lines drop: one mark row; the 255 also without any open file.
    stats.eventLogOpen = stats.g821LogOpen = false;
    modemActive = 0;
    supervision.LinkWatch();
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(stats.rows.back(), "Mark NC");
    EXPECT_EQ(state.lastLocalStatus.load(), 255);
}

TEST_F(SupervisionTest, ClosedPortIsNotConnectedWithoutAskingTheModem) {
    Connect();
    const int asked = modemQueries;
    portOpen = false;
    supervision.LinkWatch();
    supervision.LinkWatch();
    EXPECT_EQ(modemQueries, asked);
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Mark NC"});
}

TEST_F(SupervisionTest, NotConnectedBlanksEveryLedEverySecond) {
    for (int second = 0; second < 3; ++second) {
        // The parser keeps decoding troubles while the MUX counts as not connected.
        state.localLof = 1;
        state.localAlarm = 1;
        state.tribNoSig[4] = 1;
        state.tribCErr[21] = 1;
        supervision.PanelRefresh();
        EXPECT_EQ(bar.Led(1126), LedState::Off);
        EXPECT_EQ(panel.Led(1012), LedState::Off);
        EXPECT_EQ(panel.Led(1081), LedState::Off);
        EXPECT_EQ(state.localLof.load(), 0);
        EXPECT_EQ(state.localAlarm.load(), 0);
    }
}

TEST_F(SupervisionTest, ConnectedLedsFollowTheState) {
    Connect();
    state.localLof = 1;
    state.tribNoSig[4] = 1;  // local tributary 5: red
    state.tribCErr[20] = 1;  // remote tributary 5: yellow
    supervision.PanelRefresh();
    EXPECT_EQ(bar.Led(1126), LedState::Red);
    EXPECT_EQ(panel.Led(1012), LedState::Red);
    EXPECT_EQ(panel.Led(1080), LedState::Yellow);
    EXPECT_EQ(panel.Led(1064), LedState::Off);
}

TEST_F(SupervisionTest, OneAlarmRowPerFrameThatChangedBothBytes) {
    Connect();
    FrameArrives(MonitorState::kLocalChanged | MonitorState::kRemoteChanged);
    for (int second = 0; second < 4; ++second) {
        supervision.PanelRefresh();  // no further frame in between
    }
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Alarm"});

    // Only one end changed: no row.
    FrameArrives(MonitorState::kLocalChanged);
    supervision.PanelRefresh();
    FrameArrives(MonitorState::kRemoteChanged);
    supervision.PanelRefresh();
    EXPECT_EQ(stats.rows.size(), 1u);

    // Event log closed, or not connected: no row either, and the change is spent.
    stats.eventLogOpen = false;
    FrameArrives(MonitorState::kLocalChanged | MonitorState::kRemoteChanged);
    supervision.PanelRefresh();
    stats.eventLogOpen = true;
    supervision.PanelRefresh();
    EXPECT_EQ(stats.rows.size(), 1u);
    EXPECT_EQ(state.statusChanged.load(), 0);
}

TEST_F(SupervisionTest, CountsRowOncePerSecondWithAlarmFrames) {
    Connect();
    const struct {
        int alarmFrames;
        bool g821Open;
        bool row;
    } seconds[] = {
        {0, true, false}, {1, true, true}, {5, true, true}, {0, true, false}, {2, false, false}};
    for (const auto& s : seconds) {
        stats.rows.clear();
        stats.g821LogOpen = s.g821Open;
        for (int i = 0; i < s.alarmFrames; ++i) {
            state.alarmSeen = 1;
        }
        supervision.PanelRefresh();
        EXPECT_EQ(stats.rows.size(), s.row ? 1u : 0u);
        EXPECT_EQ(state.alarmSeen.load(), 0);
    }
}

TEST_F(SupervisionTest, WhileClosingOnlyTheCountsStepRuns) {
    Connect();
    state.localAis = 1;
    supervision.PanelRefresh();
    ASSERT_EQ(bar.Led(1125), LedState::Yellow);
    state.closing = 1;
    state.localAis = 0;
    state.alarmSeen = 1;
    FrameArrives(MonitorState::kLocalChanged | MonitorState::kRemoteChanged);
    supervision.PanelRefresh();
    EXPECT_EQ(bar.Led(1125), LedState::Yellow);  // untouched
    EXPECT_EQ(stats.rows, std::vector<std::string>{"Counts"});
}

}  // namespace
}  // namespace kestrel::test
