// Layout, texts, accessibility and pictures of the tributary form and the alarm bar.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>

#include "DisplayFixture.h"
#include "display/DialogUnits.h"
#include "display/LedWidget.h"
#include "display/Refresh.h"
#include "session/Indications.h"

namespace kestrel {
namespace {

class FormTest : public DisplayFixture {
protected:
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
    static QGroupBox* Group(const QWidget& w, const QString& title) {
        for (auto* box : w.findChildren<QGroupBox*>()) {
            if (box->title() == title)
                return box;
        }
        return nullptr;
    }
};

TEST_F(FormTest, ControlsSitAtTheirDialogUnitRectangles) {
    QSize smaller;
    for (int pixelSize : {12, 20}) {
        QFont font = panel.font();
        font.setPixelSize(pixelSize);
        panel.setFont(font);
        bar.setFont(font);
        const DialogUnits du(font);
        EXPECT_EQ(Child<QWidget>(panel, 1012)->geometry(), du.Rect(87 + 18 * 4, 40, 21, 20));
        EXPECT_EQ(Child<QWidget>(panel, 1091)->geometry(), du.Rect(87 + 18 * 15, 121, 21, 20));
        EXPECT_EQ(Child<QWidget>(panel, 1047)->geometry(), du.Rect(120, 172, 57, 8));
        EXPECT_EQ(Child<QWidget>(panel, 1044)->geometry(), du.Rect(51, 214, 261, 10));
        EXPECT_EQ(Group(panel, "Remote 2Mbit/s Interfaces")->geometry(), du.Rect(41, 86, 342, 57));
        EXPECT_EQ(panel.sizeHint(), QSize(du.X(427), du.Y(234)));
        EXPECT_EQ(Child<QWidget>(bar, 1127)->geometry(), du.Rect(259, 24, 21, 20));
        EXPECT_EQ(Child<QWidget>(bar, 1128)->geometry(), du.Rect(145, 24, 21, 20));
        EXPECT_EQ(Group(bar, "Local 34 Mbit/s Interface")->geometry(), du.Rect(35, 4, 148, 74));
        EXPECT_EQ(bar.sizeHint(), QSize(du.X(428), du.Y(91)));
        // The panel's lamps are half the bar's.
        const auto* small = Child<LedWidget>(panel, 1008);
        const auto* large = Child<LedWidget>(bar, 1124);
        EXPECT_NEAR(small->IconSide() * 2, large->IconSide() + 2 * large->frameWidth(), 1);
        // The G.821 line: the widest figure fits each field, which starts after its own
        // label's text and ends before the next label; the first label stays where it is.
        const QFontMetrics fm(font);
        const QString labels[] = {
            "Unavaillable Time:", "Dergeded Minutes:", "SES:", "Errored Seconds:"};
        EXPECT_EQ(Label(panel, labels[0])->x(), du.X(51));
        for (int i = 0; i < 4; ++i) {
            const QRect field = Child<QWidget>(panel, 1024 + i)->geometry();
            const QLabel* label = Label(panel, labels[i]);
            EXPECT_GE(field.width(), fm.horizontalAdvance("100.00%")) << i;
            EXPECT_LT(label->x() + fm.horizontalAdvance(labels[i]), field.left()) << i;
            EXPECT_LE(field.right(),
                      i < 3 ? Label(panel, labels[i + 1])->x() : panel.sizeHint().width())
                << i;
        }
        // A larger font makes a larger form.
        if (smaller.isValid()) {
            EXPECT_GT(panel.sizeHint().width(), smaller.width());
            EXPECT_GT(panel.sizeHint().height(), smaller.height());
        }
        smaller = panel.sizeHint();
    }
}

TEST_F(FormTest, TextsAndHiddenG821Line) {
    panel.show();
    for (int id : {1045, 1046, 1047, 1048})
        EXPECT_EQ(panel.BerText(id), "0.000000e-009");
    EXPECT_EQ(panel.BerText(1044), "");
    for (int id : {1024, 1025, 1026, 1027}) {
        EXPECT_EQ(panel.BerText(id), "0%");
        EXPECT_FALSE(Child<QWidget>(panel, id)->isVisible());
    }
    // The labels' showing and hiding is the window's test, on every pane.
    QStringList shown;
    for (auto* label : panel.findChildren<QLabel*>()) {
        if (label->isVisible())
            shown << label->text();
    }
    for (const char* text :
         {"Trib #", "1", "16", "NoSig", "CErr", "Total BER", "Intermediate BER", "Near", "Far"}) {
        EXPECT_TRUE(shown.contains(text)) << text;
    }
    EXPECT_NE(Group(panel, "Local 2Mbit/s Interfaces"), nullptr);
    EXPECT_NE(Group(bar, "Remote 34 Mbit/s Interface"), nullptr);

    const std::array<std::string, 4> ber{"1.000000e-003", "2.000000e-004", "3.000000e-005",
                                         "4.000000e-006"};
    panel.SetBerTexts(ber);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(panel.BerText(1045 + i).toStdString(), ber[static_cast<std::size_t>(i)]);
    EXPECT_EQ(Child<QLabel>(panel, 1047)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);

    // Shown, the line holds unavailable time, degraded minutes, SES and ES in that order, with
    // two decimals; a share without a denominator reads as the template's "0%".
    panel.ShowG821Line(true);
    Percentages shares;
    shares.unavailable = 12.344;
    shares.ses = 0.005;
    shares.es = 100;
    PaintG821Line(panel, shares);
    const char* expected[] = {"12.34%", "0%", "0.01%", "100.00%"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Child<QWidget>(panel, 1024 + i)->isVisible());
        EXPECT_EQ(panel.BerText(1024 + i), expected[i]);
    }
    panel.ShowG821Line(false);
    EXPECT_FALSE(Child<QWidget>(panel, 1027)->isVisible());
}

TEST_F(FormTest, StaleBerFieldsAreDimmed) {
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
    EXPECT_EQ(panel.BerText(1045), "0.000000e-009");
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
    EXPECT_EQ(a11y->text(QAccessible::Description), "lit yellow");

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

}  // namespace
}  // namespace kestrel
