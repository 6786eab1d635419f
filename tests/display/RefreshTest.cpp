// The one-second display steps driven by real status frames through the frame parser.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/LedIcons.h"
#include "display/Refresh.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"

namespace kestrel {
namespace {

using Lit = std::map<int, LedState>;

std::vector<int> PanelIds() {
    std::vector<int> ids;
    for (int first : {1008, 1028, 1060, 1076}) {
        for (int n = 0; n < 16; ++n)
            ids.push_back(first + n);
    }
    return ids;
}

class RefreshTest : public ::testing::Test {
protected:
    RefreshTest() : icons(LedIcons::Load()), panel(icons), bar(icons) {
        state.connected = 1;
        state.noData = 0;
    }

    void Feed(const StatusFrame& frame) { parser.Parse(WriteFrame(frame)); }

    void Refresh(bool bothChanged = false) {
        AlarmBarRefresh(state, bar, bothChanged, [this] { ++rowsWritten; });
        TributaryLedRefresh(state, &panel);
    }

    // Every LED of the panel and the bar shows what `lit` says, or unlit when not listed.
    void ExpectPanel(const Lit& lit) const {
        for (int id : PanelIds()) {
            const auto it = lit.find(id);
            EXPECT_EQ(panel.Led(id), it == lit.end() ? LedState::Off : it->second) << "LED " << id;
        }
    }
    void ExpectBar(const Lit& lit) const {
        for (int id : CAlarmBar::kLedIds) {
            const auto it = lit.find(id);
            EXPECT_EQ(bar.Led(id), it == lit.end() ? LedState::Off : it->second) << "LED " << id;
        }
    }

    // A frame that lights something at both ends and in many tributaries.
    static StatusFrame Busy() {
        StatusFrame f;
        f.localStatus = kStatusRai;
        f.remoteStatus = kStatusLof;
        for (int i = 0; i < 32; i += 3)
            f.SetTributary(i, true, i % 2 == 0);
        return f;
    }

    LedIcons icons;
    MonitorState state;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    CKestrelSettings panel;
    CAlarmBar bar;
    int rowsWritten = 0;
};

struct FrameCase {
    const char* name;
    StatusFrame frame;
    Lit panel;
    Lit bar;
};

StatusFrame Make(std::uint8_t local, std::uint8_t remote,
                 std::vector<std::tuple<int, bool, bool>> tribs = {}) {
    StatusFrame f;
    f.localStatus = local;
    f.remoteStatus = remote;
    for (auto [index, noSig, cErr] : tribs)
        f.SetTributary(index, noSig, cErr);
    return f;
}

constexpr LedState R = LedState::Red;
constexpr LedState Y = LedState::Yellow;

const FrameCase kFrameCases[] = {
    {"Quiet", Make(0, 0), {}, {}},
    {"LocalTrib5NoSig", Make(0, 0, {{4, true, false}}), {{1012, R}}, {}},
    {"RemoteTrib5CErr", Make(0, 0, {{20, false, true}}), {{1080, Y}}, {}},
    {"BothKindsAtTheRowEnds",
     Make(0, 0, {{0, true, true}, {15, true, true}, {16, true, true}, {31, true, true}}),
     {{1008, R}, {1028, R}, {1023, R}, {1043, R}, {1060, Y}, {1076, Y}, {1075, Y}, {1091, Y}},
     {}},
    // The parser drops the remote end while the local interface is in alarm.
    {"RemoteDarkWhileLocalInAlarm",
     Make(kStatusNoInputSignal, kStatusAis,
          {{3, false, true}, {16, true, true}, {25, true, false}}),
     {{1031, R}},
     {{1124, R}}},
    {"LocalAis", Make(kStatusAis, 0), {}, {{1125, Y}}},
    {"LocalLof", Make(kStatusLof, kStatusLof), {}, {{1126, R}}},
    {"LocalRaiOnly", Make(kStatusRai, 0), {}, {{1128, Y}}},
    {"RemoteNoSignalLocalClear", Make(0, kStatusNoInputSignal), {}, {{1127, Y}}},
    {"RemoteAis", Make(0, kStatusAis), {}, {{1129, Y}}},
    {"RemoteLof", Make(0, kStatusLof), {}, {{1130, Y}}},
    {"RemoteRaiAndLocalRai", Make(kStatusRai, kStatusRai), {}, {{1128, Y}, {1131, Y}}},
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameRefreshTest : public RefreshTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameRefreshTest, ShowsTheFrame) {
    // Start from everything lit elsewhere, so a LED that is not set would be caught.
    Feed(Busy());
    Refresh();
    Feed(GetParam().frame);
    Refresh();
    ExpectPanel(GetParam().panel);
    ExpectBar(GetParam().bar);
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameRefreshTest, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RefreshTest, NotConnectedKeepsEverythingDarkWhileFramesArrive) {
    Feed(Busy());
    Refresh();
    ASSERT_NE(bar.Led(1128), LedState::Off);
    state.connected = 0;
    for (int second = 0; second < 3; ++second) {
        Feed(Busy());
        Refresh(true);
        ExpectPanel({});
        ExpectBar({});
        // The decoded state is cleared too, so nothing lights up on reconnection by itself.
        for (int i = 0; i < kTribCount; ++i)
            EXPECT_EQ(state.tribNoSig[i] + state.tribCErr[i], 0);
        EXPECT_EQ(state.localRai.load(), 0);
    }
    EXPECT_EQ(rowsWritten, 0);
}

TEST_F(RefreshTest, NoDataDarkensAtTheNextRefresh) {
    Feed(Busy());
    Refresh();
    state.noData = 1;
    state.NoDataReset();
    Refresh();
    EXPECT_EQ(state.connected.load(), 1);
    ExpectPanel({});
    ExpectBar({});
}

TEST_F(RefreshTest, ClosingStopsAllUpdates) {
    Feed(Busy());
    Refresh();
    Lit panelBefore, barBefore;
    for (int id : PanelIds())
        panelBefore[id] = panel.Led(id);
    for (int id : CAlarmBar::kLedIds)
        barBefore[id] = bar.Led(id);

    state.closing = 1;
    Feed(Make(kStatusLof, 0));
    Refresh(true);
    state.connected = 0;
    Refresh(true);
    ExpectPanel(panelBefore);
    ExpectBar(barBefore);
    EXPECT_EQ(rowsWritten, 0);
    // Not even the not-connected clearing happens once closing has begun.
    EXPECT_EQ(state.localLof.load(), 1);
}

TEST_F(RefreshTest, AlarmRowOnlyWhenConnectedAndBothChangedAndBeforeTheLeds) {
    struct Case {
        int connected;
        bool bothChanged;
        int rows;
    } const cases[] = {{1, true, 1}, {1, false, 0}, {0, true, 0}, {0, false, 0}};
    for (const Case& c : cases) {
        state.connected = c.connected;
        Feed(Make(kStatusLof, 0));
        LedState seenByRow = LedState::Yellow;
        int rows = 0;
        bar.SetAlarmLedOff(1126);
        AlarmBarRefresh(state, bar, c.bothChanged, [&] {
            ++rows;
            seenByRow = bar.Led(1126);
        });
        EXPECT_EQ(rows, c.rows) << c.connected << c.bothChanged;
        if (rows == 1) {
            EXPECT_EQ(seenByRow, LedState::Off);  // the row is written before the LEDs change
            EXPECT_EQ(bar.Led(1126), LedState::Red);
        }
    }
    // An empty callable is allowed: no event log.
    AlarmBarRefresh(state, bar, true, {});
}

TEST_F(RefreshTest, WithoutAPaneTheStateIsStillClearedWhenNotConnected) {
    Feed(Busy());
    TributaryLedRefresh(state, nullptr);
    EXPECT_EQ(state.tribNoSig[0].load(), 1);
    state.connected = 0;
    TributaryLedRefresh(state, nullptr);
    EXPECT_EQ(state.tribNoSig[0].load(), 0);
    EXPECT_EQ(state.localRai.load(), 0);
}

}  // namespace
}  // namespace kestrel
