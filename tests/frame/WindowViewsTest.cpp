// What the window shows besides the pane texts: the G.821 line, the journal on the line's
// clock, the line that tells how to start, and a window that fits the screen at large fonts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <ctime>
#include <memory>
#include <set>
#include <tuple>

#include "FrameFixture.h"
#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/ClientSplitter.h"
#include "frame/CommandIds.h"
#include "performance/HistoryStore.h"
#include "performance/LineMemory.h"
#include "session/StatusTexts.h"
#include "tests/stats/StatsTestSupport.h"

namespace kestrel::test {
namespace {

QLabel* Field(const QWidget& form, int id) {
    return form.findChild<QLabel*>(QString::number(id));
}

// Noon of a summer day in the machine's zone: the day's bin lies around it whatever the zone.
std::time_t LocalNoon() {
    return LocalTime(2026, 6, 15, 12, 0, 0);
}

// The memory of COM4 as the engine leaves it after ten minutes of a line: 20 severely
// errored seconds (unavailable), then errors in seconds 30..35 and a severe one in 40; a
// remote RAI in seconds 100..109 and code errors on remote tributary 16 in 200..209.
void RememberTenMinutes(std::time_t start) {
    LineMemory memory;
    ASSERT_TRUE(memory.Open(DefaultHistoryPath("COM4"), start,
                            [](const std::string& problem) { FAIL() << problem; }));
    for (int s = 0; s < 600; ++s) {
        FrameSecond second;
        second.nearCount = s < 20 || s == 40 ? 20 : (s >= 30 && s <= 35 ? 1 : 0);
        second.alarms = s >= 100 && s < 110 ? 0x80 : 0;
        second.tribCErr = s >= 200 && s < 210 ? 1u << 31 : 0;
        memory.OnFrameApplied(second, start + s);
        memory.Tick(start + s + 1);
    }
    memory.Finish(start + 600);
}

// Ticked, the line shows the near end's day so far on every pane, and the choice is kept for
// the next start; the figures follow the memory at each refresh.
TEST_F(FrameFixture, G821LineShowsTheNearEndsDaySoFar) {
    const std::time_t start = LocalNoon();
    RememberTenMinutes(start);
    // Shared with the clock: the window outlives this body until the fixture's tear-down.
    auto wall = std::make_shared<std::time_t>(start + 700);
    wallClock = [wall] { return *wall; };
    SetSetting(QStringLiteral("Settings/ActivePort"), QStringLiteral("4"));

    auto lineShown = [this](bool shown) {
        for (int i = 0; i < 4; ++i) {
            const CKestrelSettings& panel = *frame->Splitter()->Panel(i);
            for (int id : {1024, 1025, 1026, 1027}) {
                EXPECT_EQ(Field(panel, id)->isVisibleTo(&panel), shown) << i << " " << id;
            }
            for (const char* label :
                 {"Unavaillable Time:", "Dergeded Minutes:", "SES:", "Errored Seconds:"}) {
                bool seen = false;
                for (const QLabel* l : panel.findChildren<QLabel*>()) {
                    seen = seen || (l->text() == label && l->isVisibleTo(&panel));
                }
                EXPECT_EQ(seen, shown) << label;
            }
        }
    };
    auto texts = [this](int pane) {
        QStringList t;
        for (int id : {1024, 1025, 1026, 1027}) {
            t << Field(*frame->Splitter()->Panel(pane), id)->text();
        }
        return t;
    };

    CMainFrame& f = Create();
    EXPECT_FALSE(f.Action(cmd::kViewG821Figures)->isChecked());
    lineShown(false);
    f.Action(cmd::kViewG821Figures)->trigger();
    EXPECT_TRUE(f.Action(cmd::kViewG821Figures)->isChecked());
    EXPECT_EQ(Setting(QStringLiteral("View/G821Figures")), u"1");
    lineShown(true);
    // Unavailable 20 s of the day so far (not measured before noon), 1 of 9 minutes degraded,
    // SES 1 and ES 7 of 580 available s.
    const QStringList day{"0.05%", "11.11%", "0.17%", "1.21%"};
    for (int pane = 0; pane < 4; ++pane) {
        EXPECT_EQ(texts(pane), day) << pane;
    }
    frame.reset();

    Create();
    EXPECT_TRUE(frame->Action(cmd::kViewG821Figures)->isChecked());
    lineShown(true);
    EXPECT_EQ(texts(0), day);
    // The next day has nothing to share out yet. A refresh paints before the session's memory
    // takes in the seconds up to it: the second refresh shows them.
    *wall = start + 13 * 3600;
    frame->PanelRefresh();
    frame->PanelRefresh();
    EXPECT_EQ(texts(0), QStringList({"0%", "0%", "0%", "0%"}));
    frame->Action(cmd::kViewG821Figures)->trigger();
    lineShown(false);
    EXPECT_EQ(Setting(QStringLiteral("View/G821Figures")), u"0");
}

// The views count in the memory's seconds: when the wall clock is set back a minute, the
// journal's active entry goes on lasting, and the step is there in words.
TEST_F(FrameFixture, JournalRunsOnTheLineClockAcrossAStepOfTheWallClock) {
    const std::time_t start = LocalNoon();
    auto wall = std::make_shared<std::time_t>(start);
    wallClock = [wall] { return *wall; };
    CMainFrame& f = Create();
    f.show();
    f.Action(cmd::kViewAlarmJournal)->trigger();
    f.PanelRefresh();
    const QAbstractItemModel* rows = f.findChild<QTableView*>("journalTable")->model();
    auto cell = [rows](int row, int column) { return rows->index(row, column).data().toString(); };
    ASSERT_EQ(cell(0, 1), "Link: port closed");
    now += std::chrono::seconds(10);
    *wall = start + 10 - 60;
    // The views refresh before the memory takes in the step: the second refresh shows it.
    f.PanelRefresh();
    f.PanelRefresh();
    EXPECT_EQ(cell(0, 1), "Clock stepped back 60 s");
    EXPECT_EQ(cell(1, 1), "Link: port closed");
    EXPECT_EQ(cell(1, 4), "0:00:10");
}

// The line that tells how to start stands above the panes, with room for it in the first
// window and without a status-bar message, which stays the link's. An open that failed keeps
// it; one that worked hides it, also at the next starts, unless the device the port leads to
// has gone.
TEST_F(FrameFixture, PortHintUntilAPortHasOpenedOnce) {
    // How much taller than the form its scroll area is.
    auto formRoom = [](CMainFrame& f) {
        f.show();
        QApplication::processEvents();
        const QWidget* viewport = f.ActivePanel()->parentWidget();
        return viewport->height() - f.ActivePanel()->sizeHint().height();
    };
    SetSetting(QStringLiteral("Settings/ActivePort"), QStringLiteral("2"));
    SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
    const int roomOpened = formRoom(Create());
    settings->Raw().remove(QStringLiteral("Settings"));
    const struct {
        const char* what;
        const char* device;  // what COM1 leads to
        bool hinted;
    } starts[] = {{"first start", "/fake/com1", true},
                  {"after an open", "/fake/com1", false},
                  {"with the device gone", "/fake/unplugged", true}};
    for (const auto& start : starts) {
        resolver.SetPath(1, start.device);
        CMainFrame& f = Create();
        const auto* hint = f.findChild<QLabel*>(QStringLiteral("portHint"));
        EXPECT_EQ(hint->isVisibleTo(&f), start.hinted) << start.what;
        if (&start == &starts[0]) {
            EXPECT_EQ(formRoom(f), roomOpened);
            // COM4 leads nowhere; COM1 opens, then the user closes it.
            for (const auto& [port, hinted] : {std::pair{4, true}, {1, false}, {1, false}}) {
                f.Session().SetPortNumber(port);
                Trigger(cmd::kPortOpen);
                EXPECT_EQ(hint->isVisible(), hinted) << port;
                EXPECT_TRUE(f.Pane(59143)->isVisible());
                EXPECT_TRUE(f.QMainWindow::statusBar()->currentMessage().isEmpty());
            }
        }
    }
}

// Placed for the first time at large fonts on a 1280 x 900 screen, the window with its frame
// fits the available area and its bars and form scroll; at the normal size it is as large as it
// wants, nothing scrolls and every pane is as wide as its placeholder. The LED of a journal
// entry chosen is scrolled into view, and a narrow window keeps the panes' texts.
TEST_F(FrameFixture, WindowFitsTheScreenAtLargeFonts) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const std::time_t start = LocalNoon();
    RememberTenMinutes(start);
    wallClock = [start] { return start + 700; };
    SetSetting(QStringLiteral("Settings/ActivePort"), QStringLiteral("4"));
    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        const ScaledAppFont font(scale);
        CMainFrame& f = Create();
        f.show();
        QApplication::processEvents();
        EXPECT_LE(f.minimumSizeHint().width(), 1280);
        EXPECT_TRUE(room.contains(f.frameGeometry()));

        auto* alarms = f.findChild<QScrollArea*>(QStringLiteral("alarmBarArea"));
        ASSERT_NE(alarms, nullptr);
        auto* form = qobject_cast<QScrollArea*>(f.ActivePanel()->parentWidget()->parentWidget());
        ASSERT_NE(form, nullptr);
        const bool large = f.AlarmBar()->width() > f.width();
        EXPECT_EQ(alarms->horizontalScrollBar()->isVisible(), large);
        // The lamps and labels whole above a scroll bar.
        EXPECT_GE(alarms->viewport()->height(), f.AlarmBar()->height());
        if (scale == 1.0) {
            EXPECT_EQ(f.size(), f.DefaultSize());
            EXPECT_FALSE(form->horizontalScrollBar()->isVisible());
            EXPECT_FALSE(form->verticalScrollBar()->isVisible());
            const QFontMetrics fm(f.QMainWindow::statusBar()->font());
            EXPECT_GE(f.Pane(59145)->width(), fm.horizontalAdvance("Near Errors = *************"));
            EXPECT_GE(f.Pane(59144)->width(), fm.horizontalAdvance("MUX NOT CONNECTED"));
        }
        auto onScreen = [&f](QScrollArea* area, const QWidget* control) {
            const QRect shown(control->mapTo(&f, QPoint(0, 0)), control->size());
            const QRect viewport(area->viewport()->mapTo(&f, QPoint(0, 0)),
                                 area->viewport()->size());
            EXPECT_TRUE(viewport.contains(shown)) << control->objectName().toStdString();
            EXPECT_TRUE(f.rect().contains(shown)) << control->objectName().toStdString();
        };
        // Scrolled to, the farthest BER field is on the screen.
        QWidget* ber = Field(*f.ActivePanel(), 1048);
        form->ensureWidgetVisible(ber, 0, 0);
        onScreen(form, ber);
        // So are the farthest alarm lamp and tributary LED as their entries are chosen.
        f.Action(cmd::kViewAlarmJournal)->trigger();
        QApplication::processEvents();
        auto* table = f.findChild<QTableView*>(QStringLiteral("journalTable"));
        ASSERT_NE(table, nullptr);
        std::set<int> seen;
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            table->setCurrentIndex(table->model()->index(row, 0));
            for (const auto& [area, leds, id] :
                 {std::tuple<QScrollArea*, LedForm*, int>{alarms, f.AlarmBar(), 1131},
                  {form, f.ActivePanel(), CKestrelSettings::CErrLedId(31)}}) {
                if (leds->Highlighted(id) && seen.insert(id).second) {
                    onScreen(area, leds->findChild<QWidget*>(QString::number(id)));
                }
            }
        }
        EXPECT_EQ(seen.size(), 2u);
        // Made narrow, each pane shows its text whole or ends it with an ellipsis and holds it
        // whole in its tooltip. At the width a desktop gives the smallest window at the normal
        // font, the widest panes give way and the port's stay whole.
        state.nearErrorsTotal = 999999;
        state.farErrorsTotal = 999999;
        for (const int width : {f.minimumSizeHint().width(), static_cast<int>(710 * scale)}) {
            SCOPED_TRACE(width);
            f.resize(width, f.height());
            QApplication::processEvents();
            f.RunUpdateHandlers();
            for (const StatusPane& p : kStatusPanes) {
                const QLabel* pane = f.Pane(p.id);
                const QString text = pane->text();
                const bool whole =
                    pane->fontMetrics().horizontalAdvance(text) <= pane->contentsRect().width();
                EXPECT_EQ(pane->toolTip(), whole ? QString() : text) << text.toStdString();
                if (width == 710 && (p.id == 59142 || p.id == 59143)) {
                    EXPECT_TRUE(whole) << text.toStdString();
                }
            }
        }
        frame.reset();
    }
}

}  // namespace
}  // namespace kestrel::test
