// The tributary form and the alarm bar over the application's icons: layout, texts,
// accessibility and pictures, and the LEDs after the session's one-second refresh, from real
// status frames through the parser.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <map>
#include <vector>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/DialogUnits.h"
#include "display/LedIcons.h"
#include "display/LedWidget.h"
#include "display/Refresh.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"
#include "session/Indications.h"
#include "session/MuxSession.h"

namespace kestrel {
namespace {

class DisplayFixture : public ::testing::Test {
protected:
    DisplayFixture() : icons(LedIcons::Load()), panel(icons), bar(icons) {}

    template <typename T>
    static T* Child(const QWidget& w, int id) {
        return w.findChild<T*>(QString::number(id));
    }
    static QLabel* Label(const QWidget& w, const QString& text) {
        for (auto* label : w.findChildren<QLabel*>()) {
            if (label->text() == text)
                return label;
        }
        return nullptr;
    }

    LedIcons icons;
    CKestrelSettings panel;
    CAlarmBar bar;
};

using FormTest = DisplayFixture;

TEST_F(FormTest, ControlsSitAtTheirDialogUnitRectangles) {
    QSize smaller;
    for (int pixelSize : {12, 18, 20}) {
        QFont font = panel.font();
        font.setPixelSize(pixelSize);
        panel.setFont(font);
        bar.setFont(font);
        const DialogUnits du(font);
        // One control of each form and the forms' sizes: every control is placed the same way.
        EXPECT_EQ(Child<QWidget>(panel, 1091)->geometry(), du.Rect(87 + 18 * 15, 121, 21, 20));
        EXPECT_EQ(panel.sizeHint(), QSize(du.X(427), du.Y(234)));
        EXPECT_EQ(Child<QWidget>(bar, 1127)->geometry(), du.Rect(259, 24, 21, 20));
        EXPECT_EQ(bar.sizeHint(), QSize(du.X(428), du.Y(91)));
        // The panel's lamps are half the bar's.
        const auto* small = Child<LedWidget>(panel, 1008);
        const auto* large = Child<LedWidget>(bar, 1124);
        EXPECT_NEAR(small->IconSide() * 2, large->IconSide() + 2 * large->frameWidth(), 1);
        // The G.821 line: the widest figure fits each field, which starts after its own
        // label's text and keeps the template's units from the next label (a figure reads as
        // its own label's, not the next one's); the first label stays where it is and the
        // last figure ends inside the form.
        const QFontMetrics fm(font);
        const QString labels[] = {
            "Unavaillable Time:", "Dergeded Minutes:", "SES:", "Errored Seconds:"};
        const int afterUnits[] = {4, 18, 12};
        EXPECT_EQ(Label(panel, labels[0])->x(), du.X(51));
        for (int i = 0; i < 4; ++i) {
            const QRect field = Child<QWidget>(panel, 1024 + i)->geometry();
            const QLabel* label = Label(panel, labels[i]);
            EXPECT_GE(field.width(), fm.horizontalAdvance("100.00%")) << i;
            EXPECT_LT(label->x() + fm.horizontalAdvance(labels[i]), field.left()) << i;
            EXPECT_LT(label->geometry().right(), field.left()) << i;
            if (i < 3) {
                EXPECT_GE(Label(panel, labels[i + 1])->x() - field.right() - 1, du.X(afterUnits[i]))
                    << i;
            } else {
                EXPECT_LT(field.right(), panel.sizeHint().width());
            }
        }
        // A larger font makes a larger form.
        if (smaller.isValid()) {
            EXPECT_GT(panel.sizeHint().width(), smaller.width());
            EXPECT_GT(panel.sizeHint().height(), smaller.height());
        }
        smaller = panel.sizeHint();
    }
}

// The four BER fields in order; figures no longer live are dimmed, not blanked. (The G.821
// line's figures and their order are the window's test of the day so far.)
TEST_F(FormTest, BerFieldsInOrderAndDimmedWhenStale) {
    const std::array<std::string, 4> ber{"1.000000e-003", "2.000000e-004", "3.000000e-005",
                                         "4.000000e-006"};
    panel.SetBerTexts(ber);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(panel.BerText(1045 + i).toStdString(), ber[static_cast<std::size_t>(i)]);
    }
    panel.resize(panel.sizeHint());
    auto darkest = [this] {
        const QImage image = Child<QLabel>(panel, 1045)->grab().toImage();
        int least = 255;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                least = std::min(least, image.pixelColor(x, y).lightness());
        }
        return least;
    };
    const int live = darkest();
    panel.SetBerStale(true);
    const int stale = darkest();
    EXPECT_GT(stale, live + 40);
    EXPECT_EQ(panel.BerText(1045), "1.000000e-003");
    panel.SetBerStale(false);
    EXPECT_EQ(darkest(), live);
}

TEST_F(FormTest, EveryLedNamesItselfAndItsState) {
    struct Row {
        int first;
        const char* pattern;
    } const rows[] = {{1008, "Local trib %1 NoSig"},
                      {1028, "Local trib %1 CErr"},
                      {1060, "Remote trib %1 NoSig"},
                      {1076, "Remote trib %1 CErr"}};
    for (const Row& row : rows) {
        for (int n = 1; n <= 16; ++n) {
            const auto* led = Child<LedWidget>(panel, row.first + n - 1);
            ASSERT_NE(led, nullptr);
            EXPECT_EQ(led->accessibleName(), QString(row.pattern).arg(n));
        }
    }
    const char* barNames[] = {"Local No Signal",  "Local AIS",  "Local LOF",  "Local RAI",
                              "Remote No Signal", "Remote AIS", "Remote LOF", "Remote RAI"};
    for (std::size_t i = 0; i < kAlarmIndications.size(); ++i) {
        EXPECT_EQ(Child<LedWidget>(bar, kAlarmIndications[i].ledId)->accessibleName(), barNames[i]);
    }

    auto* led = Child<LedWidget>(panel, 1012);
    EXPECT_EQ(led->accessibleDescription(), "unlit");
    panel.SetLed(1012, LedState::Red);
    EXPECT_EQ(led->accessibleDescription(), "lit red");
    panel.SetLed(1012, LedState::Yellow);
    EXPECT_EQ(led->accessibleDescription(), "lit yellow");
    QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(led);
    ASSERT_NE(a11y, nullptr);
    EXPECT_EQ(a11y->role(), QAccessible::Indicator);

    // Ids that are no LED of the form are ignored.
    panel.SetLed(1044, LedState::Red);
    bar.SetLed(1012, LedState::Red);
    EXPECT_EQ(panel.Led(1044), LedState::Off);
    EXPECT_EQ(bar.Led(1012), LedState::Off);
}

TEST_F(FormTest, LedIconsComeInManySizesAndPaintTheirState) {
    for (const QIcon* icon : {&icons.ledOff, &icons.ledRed, &icons.ledYellow, &icons.smallLedOff,
                              &icons.smallLedRed, &icons.smallLedYellow}) {
        EXPECT_GE(icon->availableSizes().size(), 6);
    }
    bar.SetLed(1126, LedState::Red);
    bar.SetLed(1127, LedState::Yellow);
    panel.SetLed(1012, LedState::Red);
    // What is on screen: the middle of each lamp has the colour of its state.
    const QImage barImage = bar.grab().toImage();
    auto lampCentre = [](const QWidget& form, int id) {
        const auto* led = Child<LedWidget>(form, id);
        QRect r = led->geometry();
        if (id < 1100)
            return r.topLeft() + QPoint(led->IconSide() * 2 / 3, led->IconSide() * 2 / 3);
        return r.center() + QPoint(r.width() / 6, r.height() / 6);
    };
    const QColor red = barImage.pixelColor(lampCentre(bar, 1126));
    const QColor yellow = barImage.pixelColor(lampCentre(bar, 1127));
    const QColor off = barImage.pixelColor(lampCentre(bar, 1125));
    EXPECT_TRUE(red.red() > 200 && red.green() < 60) << red.name().toStdString();
    EXPECT_TRUE(yellow.red() > 200 && yellow.green() > 200 && yellow.blue() < 60)
        << yellow.name().toStdString();
    EXPECT_LT(off.lightness(), 60) << off.name().toStdString();
    const QColor small = panel.grab().toImage().pixelColor(lampCentre(panel, 1012));
    EXPECT_TRUE(small.red() > 200 && small.green() < 60) << small.name().toStdString();
}

using Lit = std::map<int, LedState>;

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

    // Every LED of the panel (1008 to 1091) and the bar (1124 to 1131) shows what `lit` says,
    // or unlit when not listed; the ids between are no LED and read as unlit.
    void Expect(const Lit& lit) const {
        for (int id = 1008; id <= 1131; ++id) {
            const auto it = lit.find(id);
            EXPECT_EQ(id < 1124 ? panel.Led(id) : bar.Led(id),
                      it == lit.end() ? LedState::Off : it->second)
                << "LED " << id;
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
    Lit lit;
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
    {"BothKindsAtTheRowEnds",
     Make(0, 0, {{0, true, true}, {15, true, true}, {16, true, true}, {31, true, true}}),
     {{1008, R}, {1028, R}, {1023, R}, {1043, R}, {1060, Y}, {1076, Y}, {1075, Y}, {1091, Y}}},
    // The parser drops the remote end while the local interface is in alarm.
    {"RemoteDarkWhileLocalInAlarm",
     Make(kStatusNoInputSignal, kStatusAis,
          {{3, false, true}, {16, true, true}, {25, true, false}}),
     {{1031, R}, {1124, R}}},
    {"LocalAis", Make(kStatusAis, 0), {{1125, Y}}},
    {"LocalRaiOnly", Make(kStatusRai, 0), {{1128, Y}}},
    {"RemoteNoSignalLocalClear", Make(0, kStatusNoInputSignal), {{1127, Y}}},
    {"RemoteAis", Make(0, kStatusAis), {{1129, Y}}},
    {"RemoteLof", Make(0, kStatusLof), {{1130, Y}}},
    {"RemoteRaiAndLocalRai", Make(kStatusRai, kStatusRai), {{1128, Y}, {1131, Y}}},
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
    Expect(GetParam().lit);
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
        Expect({});
        // The decoded state is cleared too, so nothing lights up on reconnection by itself.
        for (int i = 0; i < kTribCount; ++i)
            EXPECT_EQ(state.tribNoSig[i] + state.tribCErr[i], 0);
        EXPECT_EQ(state.localRai.load(), 0);
    }
}

}  // namespace
}  // namespace kestrel
