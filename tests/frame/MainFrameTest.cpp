// The main window built from fakes: start-up and close orders, panes, menus, documents; and
// the application object that makes it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <map>

#include "FrameFixture.h"
#include "app/CKestrelApp.h"
#include "display/CKestrelSettings.h"
#include "frame/ClientSplitter.h"
#include "frame/CommandIds.h"
#include "frame/Placement.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;

// Start-up over what the store says: each step in order, what is opened, the panes and the
// thread's suspension, and the open flag stored at the next close.
TEST_F(FrameFixture, StartUpOverTheStoredPort) {
    const std::vector<std::string> built{"ReadWindowPlacement", "ReadPortState",
                                         "CreateClient",        "CreateToolBar",
                                         "CreateStatusBar",     "CreateAlarmBar",
                                         "CreateThread",        "SetPortNumber"};
    auto then = [&](std::initializer_list<const char*> rest) {
        std::vector<std::string> all = built;
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    struct Case {
        const char* activePort;  // null: nothing stored
        std::vector<std::string> steps;
        std::vector<std::string> opened;
        const char* com;
        const char* port;
        int suspended;
        const char* storedOpen;
        const char* portTip;
        bool hinted;  // the line that tells how to start
    };
    const Case cases[] = {
        {nullptr, then({"StartTimers", "Sleep 1000"}), {}, "COM: 1", "PORT: CLOSED", 1, "0", "",
         true},
        {"2", then({"SetPortOpen", "StartTimers", "Sleep 1000", "ResumeThread"}), {"/fake/com2"},
         "COM: 2", "PORT: OPENED", 0, "1", "", false},
        // An absent device: no message at start-up; the port stays meant to be open and the
        // thread runs to look for the device.
        {"3", then({"SetPortOpen", "StartTimers", "Sleep 1000", "ResumeThread"}),
         {"/fake/com3-absent"}, "COM: 3", "PORT: OPENED", 0, "1",
         "Link lost, reconnecting to /fake/com3-absent", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.activePort ? c.activePort : "nothing stored");
        settings->Raw().remove(QStringLiteral("Settings"));
        if (c.activePort) {
            SetSetting(QStringLiteral("Settings/ActivePort"), QString::fromLatin1(c.activePort));
            SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
        }
        const std::size_t attempts = ports->OpenAttempts().size();
        steps.clear();
        CMainFrame& f = Create();
        EXPECT_EQ(steps, c.steps);
        const std::vector<std::string> opened = ports->OpenAttempts();
        EXPECT_EQ(std::vector<std::string>(opened.begin() + attempts, opened.end()), c.opened);
        EXPECT_EQ(f.PaneText(59142), QString::fromLatin1(c.com));
        EXPECT_EQ(f.PaneText(59143), QString::fromLatin1(c.port));
        EXPECT_EQ(f.Pane(59143)->toolTip(), QString::fromLatin1(c.portTip));
        EXPECT_EQ(f.findChild<QLabel*>(QStringLiteral("portHint"))->isVisibleTo(&f), c.hinted);
        EXPECT_EQ(f.PaneText(59144), u"MUX NOT CONNECTED");
        EXPECT_EQ(f.PaneText(59147), u"No Data");
        EXPECT_EQ(f.Session().Comm()->SuspendCount(), c.suspended);
        EXPECT_TRUE(prompts.shown.empty());
        f.close();
        frame.reset();
        EXPECT_EQ(Setting(QStringLiteral("Settings/PortOpen")), QString::fromLatin1(c.storedOpen));
    }
}

TEST_F(FrameFixture, CloseOrderStoresStateAndStopsEverything) {
    SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
    CMainFrame& f = Create();
    f.PanelRefreshTimer().start();
    f.LinkWatchTimer().start();
    steps.clear();
    ASSERT_TRUE(f.close());
    const std::vector<std::string> expected{
        "WriteWindowPlacement", "SetClosing",    "WritePortState", "SuspendThread",
        "ClosePortIfOpen",      "StopReceiving", "ResumeThread",   "JoinThread",
        "KillTimers",           "Closed"};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(state.closing.load(), 1);
    EXPECT_EQ(state.keepReceiving.load(), 0);
    EXPECT_FALSE(f.PanelRefreshTimer().isActive());
    EXPECT_FALSE(f.LinkWatchTimer().isActive());
    EXPECT_FALSE(com1->IsOpen());
    // A second close changes nothing.
    steps.clear();
    f.close();
    EXPECT_TRUE(steps.empty());
}

// A complete stored placement is applied, kept as it was without creeping, and left alone by a
// maximised close; an absurd one fits the screen, and what is stored is where the window was.
TEST_F(FrameFixture, StoredPlacementAppliedKeptOrFitted) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const auto placed = [this](const char* stored, bool maximised) {
        SetSetting(QStringLiteral("Settings/WindowPos"), QString::fromLatin1(stored));
        steps.clear();
        CMainFrame& f = Create();
        const QRect at = f.geometry();
        maximised ? f.showMaximized() : f.show();
        const QRect real = maximised ? f.normalGeometry() : f.geometry();
        f.close();
        frame.reset();
        return std::pair{at, real};
    };
    const QSize hint = Create().minimumSizeHint();
    frame.reset();
    const QRect complete(QPoint(40, 50), QSize(600, 400).expandedTo(hint));
    EXPECT_EQ(placed("0,1,-1,-1,-1,-1,40,50,640,450", false).first, complete);
    // A window at its smallest is never made smaller, whatever the screen the test runs on.
    const QSize least = hint.expandedTo(QSize(kMinWindowWidth, kMinWindowHeight));
    const QString stored = QStringLiteral("0,1,-1,-1,-1,-1,40,50,%1,%2")
                               .arg(40 + least.width())
                               .arg(50 + least.height());
    for (const bool maximised : {false, true}) {
        placed(stored.toLatin1().constData(), maximised);
        EXPECT_EQ(Setting(QStringLiteral("Settings/WindowPos")), stored) << maximised;
    }
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "WriteWindowPlacement"), 0);
    for (const bool maximised : {false, true}) {
        const auto [at, real] = placed("0,1,-1,-1,-1,-1,100,100,99999,99999", maximised);
        // As large as the screen, or the window's minimum where that is larger.
        EXPECT_LE(at.width(), std::max(room.width(), hint.width()));
        EXPECT_LE(at.height(), std::max(room.height(), hint.height()));
        EXPECT_EQ(at.topLeft(), room.topLeft());
        EXPECT_EQ(Setting(QStringLiteral("Settings/WindowPos")),
                  QStringLiteral("0,1,-1,-1,-1,-1,%1,%2,%3,%4")
                      .arg(real.left())
                      .arg(real.top())
                      .arg(real.right() + 1)
                      .arg(real.bottom() + 1))
            << maximised;
    }
}

// Seven panes in order, and nothing else in the bar but the line that tells how to start and
// the link's indicator; each pane follows what changes it (the texts themselves are the status
// texts' test).
TEST_F(FrameFixture, PanesInOrderFollowWhatChangesThem) {
    CMainFrame& f = Create();
    QStringList order;
    for (QLabel* l : f.QMainWindow::statusBar()->findChildren<QLabel*>()) {
        order << l->objectName();
    }
    order.removeOne(QStringLiteral("portHint"));
    order.removeOne(QStringLiteral("linkRetry"));
    EXPECT_EQ(order, QStringList({"59145", "59146", "59142", "59143", "59144", "59147", "59148"}));
    struct Case {
        const char* what;
        std::function<void()> change;
        int pane;
        std::function<QString()> expected;
    };
    const Case cases[] = {
        {"the one-second tick steps the clock", [&] { now += 65s; f.PanelRefresh(); }, 59148,
         [] { return QStringLiteral(" 0:00:01:05"); }},
        {"the link watch ends No Data",
         [&] {
             state.rxIdle = 0;
             state.rxIdlePrev = 0;
             f.LinkWatch();
         },
         59147, [&] { return QString::fromStdString(state.spinnerText()); }},
        {"a BER post shows the frame's totals",
         [&] {
             state.farErrorsTotal = 77;
             f.ApplyBerTexts({"1.000000e-003", "b", "c", "d"});
         },
         59146, [] { return QStringLiteral("Far Errors =     77"); }},
        {"an update handler shows the connection",
         [&] {
             state.connected = 1;
             f.RunUpdateHandlers();
         },
         59144, [] { return QStringLiteral("MUX CONNECTED "); }},
        // Figures no longer live are dimmed, not blanked.
        {"no data keeps the last figures", [&] { state.noData = 1; f.RunUpdateHandlers(); }, 59146,
         [] { return QStringLiteral("Far Errors =     77"); }},
    };
    for (const Case& c : cases) {
        c.change();
        EXPECT_EQ(f.PaneText(c.pane), c.expected()) << c.what;
    }
}

TEST_F(FrameFixture, QuietWindowWakesOnlyForItsTicks) {
    runTimers = true;
    Create();
    frame->show();

    struct TimerCounter : QObject {
        std::map<QObject*, int> ticks;
        bool eventFilter(QObject* receiver, QEvent* event) override {
            if (event->type() == QEvent::Timer) {
                ++ticks[receiver];
            }
            return false;
        }
    } counter;
    QTest::qWait(400);  // let the showing settle
    qApp->installEventFilter(&counter);
    QTest::qWait(1300);
    qApp->removeEventFilter(&counter);
    int ours = 0;
    for (const auto& [receiver, n] : counter.ticks) {
        const bool isSupervision =
            receiver == &frame->PanelRefreshTimer() || receiver == &frame->LinkWatchTimer();
        EXPECT_TRUE(isSupervision) << receiver->metaObject()->className() << " woke " << n
                                   << " times";
        ours += isSupervision ? n : 0;
    }
    EXPECT_GE(ours, 1);
    EXPECT_LE(ours, 2);
}

// A menu's items as they read: the id, "!" when disabled, "*" when checked, the text, and a
// submenu's items in brackets; "-" a separator.
QString MenuText(const QMenu& menu) {
    QStringList items;
    for (const QAction* a : menu.actions()) {
        items << (a->isSeparator() ? QStringLiteral("-")
                                   : QString::number(a->data().toInt()) + ' ' +
                                         (a->isEnabled() ? "" : "!") + (a->isChecked() ? "*" : "") +
                                         a->text() +
                                         (a->menu() ? '[' + MenuText(*a->menu()) + ']' : QString()));
    }
    return items.join('|');
}

TEST_F(FrameFixture, MenusTextsIdsAndStates) {
    CMainFrame& f = Create();
    f.RunUpdateHandlers();
    QStringList menus;
    for (const QAction* m : f.menuBar()->actions()) {
        menus << m->menu()->title() + ": " + MenuText(*m->menu());
    }
    // At start "Off" and the 10 s interval are checked; the port is closed.
    EXPECT_EQ(menus,
              QStringList({"&File: 57600 &New\tCtrl+N|57601 &Open...\tCtrl+O|57603 &Save\tCtrl+S|"
                           "57604 Save &As...|-|57607 !&Print...\tCtrl+P|57609 !Print Pre&view|"
                           "57606 P&rint Setup...|-|57616 !Recent File|-|57665 E&xit",
                           "&Edit: 57643 !&Undo\tCtrl+Z|-|57635 !Cu&t\tCtrl+X|"
                           "57634 !&Copy\tCtrl+C|57637 !&Paste\tCtrl+V",
                           "&View: 59392 *&Toolbar|59393 *&Status Bar|57653 S&plit|-|"
                           "32790 &Alarm Journal|32791 P&erformance...|32792 &G.821 Figures|"
                           "32793 *&Notifications",
                           "Communication: 32771 Port Settings...|32772 Port Open",
                           "Statisitcs: 32779 On|32780 *Off|0 BER Inteval[32775   1 sec|"
                           "32776   3 sec|32777 *10 sec|32778 30 sec]|32786 !BER Freeze|"
                           "32785 BER Reset",
                           "&Help: 57667 &Help Topics|-|57664 &About Kestrel..."}));
    // The standard keys, the first of each action's its primary one.
    for (const auto& [id, key] : std::initializer_list<std::pair<int, const char*>>{
             {57600, "Ctrl+N"}, {57643, "Alt+Backspace"}, {57635, "Shift+Del"},
             {57634, "Ctrl+Ins"}, {57637, "Shift+Ins"}, {57670, "F1"}, {57669, "Shift+F1"},
             {57680, "F6"}, {57681, "Shift+F6"}}) {
        EXPECT_TRUE(f.Action(id)->shortcuts().contains(QKeySequence(key))) << id;
    }
    QList<int> buttons;
    for (QAction* a : f.ToolBar()->actions()) {
        buttons << (a->isSeparator() ? 0 : a->data().toInt());
    }
    EXPECT_EQ(buttons,
              QList<int>({57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607, 57664, 57669}));
    f.Action(59392)->trigger();
    f.Action(59393)->trigger();
    f.RunUpdateHandlers();
    EXPECT_TRUE(f.ToolBar()->isHidden() && f.QMainWindow::statusBar()->isHidden());
    EXPECT_FALSE(f.Action(59392)->isChecked() || f.Action(59393)->isChecked());
    // The dialogs go through the seam the tests answer; help is a window of its own.
    f.Action(57664)->trigger();
    f.Action(57606)->trigger();
    EXPECT_EQ(prompts.dialogs, std::vector<QString>({"100", "pageSetup"}));
    f.Action(57667)->trigger();
    QWidget* help = f.findChild<QWidget*>(QStringLiteral("helpWindow"));
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
}

// The first window looks as it always did; the View items show and hide the views, follow a
// dock closed or opened by itself, and what was left open comes back at the next start, the
// Performance window only once the window is on the screen. That one is a window of its own,
// no transient of the main one, yet closed with it.
TEST_F(FrameFixture, ViewsComeBackAsTheyWereLeft) {
    CMainFrame& f = Create();
    f.show();
    auto* dock = f.findChild<QDockWidget*>("AlarmJournalDock");
    ASSERT_NE(dock, nullptr);
    EXPECT_FALSE(dock->isVisible());
    EXPECT_FALSE(f.Action(cmd::kViewAlarmJournal)->isChecked());
    EXPECT_TRUE(f.Action(cmd::kViewNotifications)->isChecked());
    for (bool on : {true, false}) {
        f.Action(cmd::kViewAlarmJournal)->trigger();
        EXPECT_EQ(dock->isVisible(), on);
        EXPECT_EQ(f.Action(cmd::kViewAlarmJournal)->isChecked(), on);
        f.PanelRefresh();
    }
    dock->show();
    f.RunUpdateHandlers();
    EXPECT_TRUE(f.Action(cmd::kViewAlarmJournal)->isChecked());
    for (int id : {cmd::kViewNotifications, cmd::kViewPerformance}) {
        f.Action(id)->trigger();
    }
    EXPECT_EQ(Setting(QStringLiteral("View/Notifications")), u"0");
    ASSERT_TRUE(f.OnClose());
    EXPECT_EQ(Setting(QStringLiteral("View/AlarmJournal")), u"1");
    EXPECT_EQ(Setting(QStringLiteral("View/Performance")), u"1");

    auto windows = [] {
        QList<QWidget*> found;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"PerformanceWindow") {
                found << w;
            }
        }
        return found;
    };
    auto performance = [&windows] { return windows().size() == 1 && windows()[0]->isVisible(); };
    CMainFrame& g = Create();
    EXPECT_FALSE(g.Action(cmd::kViewNotifications)->isChecked());
    EXPECT_TRUE(g.Action(cmd::kViewAlarmJournal)->isChecked());
    EXPECT_FALSE(performance());
    g.show();
    QApplication::processEvents();
    EXPECT_TRUE(performance());
    // Asked for again, the same one window comes up; it goes with the main window.
    QPointer<QWidget> shown = windows().value(0);
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown->parentWidget(), nullptr);
    EXPECT_EQ(shown->windowHandle()->transientParent(), nullptr);
    EXPECT_EQ(shown->windowType(), Qt::Window);
    EXPECT_EQ(shown->windowIcon().cacheKey(), g.windowIcon().cacheKey());
    shown->close();
    g.Action(cmd::kViewPerformance)->trigger();
    EXPECT_EQ(windows(), QList<QWidget*>({shown.data()}));
    EXPECT_TRUE(shown->isVisible());
    ASSERT_TRUE(g.close());
    EXPECT_FALSE(shown->isVisible());
    // Closed before it came back, it is still left open.
    ASSERT_TRUE(Create().OnClose());
    EXPECT_TRUE(shown.isNull());
    EXPECT_EQ(Setting(QStringLiteral("View/Performance")), u"1");
}

TEST_F(FrameFixture, BerMenuActsOnTheMeter) {
    CMainFrame& f = Create();
    // Each command brings the check marks up to date itself.
    for (int id : {32775, 32776, 32778, 32777}) {
        f.Action(id)->trigger();
        for (int other = 32775; other <= 32778; ++other) {
            EXPECT_EQ(f.Action(other)->isChecked(), other == id) << id << " " << other;
        }
        EXPECT_EQ(state.berIntervalIndex.load(), id - 32775);
    }
    state.nearErrorsTotal = 12;
    state.farErrorsTotal = 34;
    f.RunUpdateHandlers();
    f.Action(32785)->trigger();
    EXPECT_EQ(state.nearErrorsTotal.load(), 0);
    EXPECT_EQ(state.farErrorsTotal.load(), 0);
    EXPECT_EQ(f.PaneText(59145), u"Near Errors =      0");
}

TEST_F(FrameFixture, SplitPanesAndTheActivePanel) {
    CMainFrame& f = Create();
    f.show();
    ClientSplitter* s = f.Splitter();
    EXPECT_EQ(s->VisiblePaneCount(), 1);
    CKestrelSettings* first = f.ActivePanel();
    f.Action(57653)->trigger();
    EXPECT_EQ(s->VisiblePaneCount(), 4);
    f.Action(57680)->trigger();  // F6: next pane
    EXPECT_EQ(s->ActiveIndex(), 1);
    CKestrelSettings* second = f.ActivePanel();
    EXPECT_NE(first, second);
    // Only the active pane gets the refresh and the BER texts.
    state.connected = 1;
    state.tribNoSig[0] = 1;
    f.PanelRefresh();
    f.ApplyBerTexts({"1.000000e-003", "2.000000e-003", "3.000000e-003", "4.000000e-003"});
    EXPECT_EQ(second->Led(1008), LedState::Red);
    EXPECT_EQ(first->Led(1008), LedState::Off);
    EXPECT_EQ(second->BerText(1045), u"1.000000e-003");
    EXPECT_EQ(first->BerText(1045), u"0.000000e-009");
    f.Action(57681)->trigger();  // Shift+F6: back
    EXPECT_EQ(f.ActivePanel(), first);
}

TEST_F(FrameFixture, DocumentsAndRecentFiles) {
    CMainFrame& f = Create();
    const QString path = dir.filePath(QStringLiteral("night.cfg"));
    prompts.fileNames.push_back(path);
    f.Action(57603)->trigger();  // Save on an untitled document asks for a name
    ASSERT_EQ(prompts.requests.size(), 1u);
    EXPECT_EQ(prompts.requests[0].defaultSuffix, u"cfg");
    EXPECT_EQ(prompts.requests[0].initialName, u"Untitled");
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(f.windowTitle(), u"night.cfg - Kestrel");
    EXPECT_EQ(f.RecentFiles(), QStringList({path}));
    EXPECT_EQ(f.Action(57616)->text(), QStringLiteral("&1 ") + path);

    f.Action(57600)->trigger();
    EXPECT_EQ(f.windowTitle(), u"Untitled - Kestrel");

    f.Action(57616)->trigger();  // the recent file
    EXPECT_EQ(f.windowTitle(), u"night.cfg - Kestrel");

    // What cannot be a document tells the user why and keeps the document; nothing waits for
    // a FIFO's writer or reads a device that never ends.
    const QString fifo = dir.filePath(QStringLiteral("fifo.cfg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString large = dir.filePath(QStringLiteral("large.cfg"));
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.resize(static_cast<qint64>(CKestrelDoc::kMaxFileBytes) + 1);
    }
    const std::pair<QString, const char*> refused[] = {
        {dir.filePath(QStringLiteral("missing.cfg")), "cannot be read: No such file or directory"},
        {fifo, "is a FIFO, not a file"},
        {QStringLiteral("/dev/zero"), "is a character device, not a file"},
        {dir.path(), "is a folder, not a file"},
        {large, "is too large: 65537 bytes, at most 65536"},
    };
    for (const auto& [path, why] : refused) {
        prompts.shown.clear();
        prompts.fileNames.push_back(path);
        f.Action(57601)->trigger();
        ASSERT_EQ(prompts.shown.size(), 1u) << why;
        EXPECT_EQ(prompts.shown[0].text, u"Failed to open document.");
        EXPECT_EQ(prompts.shown[0].detail.toStdString(), path.toStdString() + ": " + why);
        EXPECT_EQ(f.windowTitle(), u"night.cfg - Kestrel");
    }

    // Monitoring is not touched by documents.
    EXPECT_EQ(f.Settings().portNumber, 1);

    // A file dropped on the window opens as the document.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("d0.cfg")))});
    QFile(data.urls()[0].toLocalFile()).open(QIODevice::WriteOnly);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &drop);
    EXPECT_EQ(f.windowTitle(), u"d0.cfg - Kestrel");

    // The recent files keep the four newest first, also in the store.
    QStringList made{QFileInfo(data.urls()[0].toLocalFile()).absoluteFilePath(), path};
    for (int i = 1; i < 6; ++i) {
        const QString p = dir.filePath(QStringLiteral("d%1.cfg").arg(i));
        QFile(p).open(QIODevice::WriteOnly);
        ASSERT_TRUE(f.OpenDocumentFile(p));
        made.prepend(QFileInfo(p).absoluteFilePath());
    }
    EXPECT_EQ(f.RecentFiles(), made.mid(0, 4));
    EXPECT_EQ(settings->ReadRecentFiles(), made.mid(0, 4));
    // One that no longer opens leaves the list, also the stored one.
    QFile::remove(made[1]);
    f.Action(57617)->trigger();
    made.removeAt(1);
    EXPECT_EQ(f.RecentFiles(), made.mid(0, 3));
    EXPECT_EQ(settings->ReadRecentFiles(), made.mid(0, 3));
}

// Start-up of the application object from a command line, in settings of its own.
class AppStart : public ::testing::Test {
protected:
    CommandLine Line(const QString& document = {}) {
        CommandLine line;
        line.settingsDir = dir.path();
        line.document = document;
        // Whatever the store says, no real serial device is ever opened here.
        for (int n = 1; n <= 4; ++n) {
            line.devices.emplace_back(n, dir.filePath(QStringLiteral("none")).toStdString());
        }
        return line;
    }
    QTemporaryDir dir;
    ScriptedPrompts prompts;
};

// A shown window with a new or the given document; a missing one ends the start.
TEST_F(AppStart, ShownWindowWithANewOrTheGivenDocument) {
    const QString cfg = dir.filePath(QStringLiteral("site.cfg"));
    QFile(cfg).open(QIODevice::WriteOnly);
    for (const auto& [document, title] :
         {std::pair{QString(), u"Untitled - Kestrel"}, std::pair{cfg, u"site.cfg - Kestrel"}}) {
        CKestrelApp app(&prompts);
        ASSERT_TRUE(app.InitInstance(Line(document)));
        ASSERT_NE(app.MainFrame(), nullptr);
        EXPECT_TRUE(app.MainFrame()->isVisible());
        EXPECT_EQ(app.MainFrame()->windowTitle(), title);
        EXPECT_EQ(app.MainFrame()->PaneText(59142), u"COM: 1");
        EXPECT_FALSE(app.MainFrame()->windowIcon().isNull());
        app.MainFrame()->close();
    }
    CKestrelApp app(&prompts);
    EXPECT_FALSE(app.InitInstance(Line(dir.filePath(QStringLiteral("missing.cfg")))));
    EXPECT_EQ(app.MainFrame(), nullptr);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, u"Failed to open document.");
}

}  // namespace
}  // namespace kestrel::test
