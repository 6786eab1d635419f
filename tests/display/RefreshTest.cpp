// The LEDs after the session's one-second refresh, from real status frames through the parser.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "DisplayFixture.h"
#include "display/Refresh.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"
#include "session/Indications.h"
#include "session/MuxSession.h"

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

// The window's painting of the session's pictures, without a window.
class Painter : public SessionObserver {
public:
    Painter(CAlarmBar& bar, CKestrelSettings& panel) : bar(bar), panel(panel) {}
    void PanelRefreshed(const PanelPicture& picture) override {
        PaintAlarmBar(bar, picture);
        PaintTributaryLeds(panel, picture);
    }
    CAlarmBar& bar;
    CKestrelSettings& panel;
};

class RefreshTest : public DisplayFixture {
protected:
    RefreshTest() {
        state.connected = 1;
        state.noData = 0;
    }

    void Feed(const StatusFrame& frame) { parser.Parse(WriteFrame(frame)); }
    void Refresh() { session.PanelRefresh(); }

    // Every LED of the panel and the bar shows what `lit` says, or unlit when not listed.
    void ExpectPanel(const Lit& lit) const {
        for (int id : PanelIds()) {
            const auto it = lit.find(id);
            EXPECT_EQ(panel.Led(id), it == lit.end() ? LedState::Off : it->second) << "LED " << id;
        }
    }
    void ExpectBar(const Lit& lit) const {
        for (const AlarmIndication& alarm : kAlarmIndications) {
            const int id = alarm.ledId;
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

    MonitorState state;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    Painter painter{bar, panel};
    MuxSession session{[this] {
        SessionOptions o;
        o.state = &state;
        o.observer = &painter;
        return o;
    }()};
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
        Refresh();
        ExpectPanel({});
        ExpectBar({});
        // The decoded state is cleared too, so nothing lights up on reconnection by itself.
        for (int i = 0; i < kTribCount; ++i)
            EXPECT_EQ(state.tribNoSig[i] + state.tribCErr[i], 0);
        EXPECT_EQ(state.localRai.load(), 0);
    }
}

}  // namespace
}  // namespace kestrel
