// The main window: its start-up and close orders, menus, bars and pane texts.
#include "frame/CMainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <thread>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CKestrelDoc.h"
#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/Refresh.h"
#include "frame/CPortSettingsDlg.h"
#include "frame/ClientSplitter.h"
#include "frame/CommandIds.h"
#include "frame/OpenFailure.h"
#include "frame/PageSetupDialog.h"
#include "frame/Placement.h"
#include "frame/StatusTexts.h"
#include "frame/ToolbarIcons.h"

namespace kestrel {

using namespace std::chrono_literals;

void CMainFrame::QueuedBerSink::BerTexts(const std::array<std::string, 4>& texts) {
    // Runs on the receive thread under frameMutex: post and never wait.
    QMetaObject::invokeMethod(
        frame, [f = frame, texts] { f->ApplyBerTexts(texts); }, Qt::QueuedConnection);
}

CMainFrame::CMainFrame(FrameEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      env(std::move(environment)),
      state(*env.state),
      statisticsLog(std::make_unique<StatisticsLog>(
          state,
          StatisticsLog::Options{
              [this](const std::string& message) {
                  // Recording stopped; the monitoring goes on, so the box waits for
                  // nobody.
                  if (env.prompts) {
                      env.prompts->Notice(this, QString::fromStdString(message),
                                          QStringLiteral("Kestrel"));
                  }
              },
              env.wallClock, [this](std::chrono::milliseconds ms) { env.sleep(ms); }, nullptr})),
      statisticsHooks(*statisticsLog),
      meter(state),
      parser(state, meter),
      berSink(this),
      supervision(state, statisticsHooks,
                  Supervision::Links{
                      [this] { return portSettings.portOpen != 0; },
                      [this] { return comm ? comm->IsModemActive() : 0; },
                      [this](bool bothChanged, const std::function<void()>& writeAlarmRow) {
                          if (alarmBarWnd) {
                              AlarmBarRefresh(state, *alarmBarWnd, bothChanged, writeAlarmRow);
                          }
                      },
                      [this] { TributaryLedRefresh(state, ActivePanel()); },
                  }) {
    if (!env.sleep) {
        env.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
    if (!env.clock) {
        env.clock = [] { return std::chrono::steady_clock::now(); };
    }
    setObjectName(QStringLiteral("CMainFrame"));
    state.nearErrorsTotal = 0;
    state.farErrorsTotal = 0;
    startTime = env.clock();

    panelRefreshTimer.setTimerType(Qt::PreciseTimer);
    linkWatchTimer.setTimerType(Qt::PreciseTimer);
    panelRefreshTimer.setInterval(Supervision::kPanelRefreshMs);
    linkWatchTimer.setInterval(Supervision::kLinkWatchMs);
    logFlushTimer.setInterval(MonitorState::logFlushPeriodMs);
    // No tick of its own for the pane texts and check marks: they are brought up to date
    // after whatever can change them (the two supervision ticks, a BER post, a command, a
    // menu opening), so a quiet line leaves the program asleep between ticks.
    connect(&panelRefreshTimer, &QTimer::timeout, this, [this] { PanelRefresh(); });
    connect(&linkWatchTimer, &QTimer::timeout, this, [this] { LinkWatch(); });
    connect(&logFlushTimer, &QTimer::timeout, this, [this] { LogFlush(); });

    setAcceptDrops(true);
    setWindowIcon(AppIcon());
    BuildMenus();
    UpdateTitle();
}

CMainFrame::~CMainFrame() {
    logFlushTimer.stop();
    // A window destroyed without its close handler still must not leave the thread running
    // over members that are about to go.
    if (comm) {
        comm->Shutdown();
    }
    meter.SetSink(nullptr);
}

void CMainFrame::Trace(const char* step) const {
    if (env.trace) {
        env.trace(step);
    }
}

// ---------------------------------------------------------------------------------------------
// Creation and close

int CMainFrame::OnCreate() {
    Trace("ReadWindowPlacement");
    WindowPlacement placement;
    // Applied once the window is built, when its minimum size is known.
    const bool placed = ReadWindowPlacement(placement);
    Trace("ReadPortState");
    ReadPortState();
    state.closing = 0;

    Trace("CreateClient");
    clientSplitter = new ClientSplitter(*env.icons, this);
    setCentralWidget(clientSplitter);
    Trace("CreateToolBar");
    BuildToolBar();
    Trace("CreateStatusBar");
    BuildStatusBar();
    Trace("CreateAlarmBar");
    BuildAlarmBar();

    Trace("CreateThread");
    comm = std::make_unique<CComm>(
        state, frameMutex, [this](std::string_view text) { parser.Parse(text); },
        std::move(env.devices), env.resolver);
    meter.SetSink(&berSink);
    comm->Start();
    Trace("SetPortNumber");
    comm->SetPortNumber(portSettings.portNumber);
    if (portSettings.portOpen) {
        Trace("SetPortOpen");
        comm->SetPortOpen(true);
    }
    // A failed open at start-up shows no message; the pane says "PORT: CLOSED".
    portSettings.portOpen = comm->IsPortOpen();

    Trace("StartTimers");
    if (env.runTimers) {
        panelRefreshTimer.start();
        linkWatchTimer.start();
    }
    env.sleep(1000ms);
    if (portSettings.portOpen) {
        Trace("ResumeThread");
        comm->ResumeThread();
    }
    if (placed) {
        ApplyPlacement(placement);
    } else {
        resize(DefaultSize());
    }
    RunUpdateHandlers();
    return 0;
}

QSize CMainFrame::DefaultSize() const {
    // One pane's form with the bars around it, within the screen: the splitter's own hint
    // would count all four panes.
    const QSize form = ActivePanel() ? ActivePanel()->sizeHint() : QSize(640, 360);
    const int chrome = 16;
    int width = std::max(form.width(), alarmBarWnd ? alarmBarWnd->sizeHint().width() : 0);
    width = std::max(width + chrome, minimumSizeHint().width());
    int height = form.height() + chrome + menuBar()->sizeHint().height();
    for (QWidget* w : {static_cast<QWidget*>(toolBar), static_cast<QWidget*>(alarmBar),
                       static_cast<QWidget*>(statusBar)}) {
        height += w ? w->sizeHint().height() : 0;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableSize();
        width = std::min(width, room.width());
        height = std::min(height, room.height());
    }
    return {width, height};
}

bool CMainFrame::OnClose() {
    if (closed) {
        return true;
    }
    if (env.document) {
        if (!env.document->SaveModified()) {
            return false;
        }
        env.document->SetModifiedFlag(false);
    }
    // Only a window in its normal state leaves its placement behind, unless the stored one
    // could not be used as it was: that one is never kept, whatever the state.
    if (placementClamped || (!isMinimized() && !isMaximized() && !isFullScreen())) {
        Trace("WriteWindowPlacement");
        WriteWindowPlacement(CurrentPlacement());
    }
    Trace("SetClosing");
    state.closing = 1;
    Trace("WritePortState");
    WritePortState();
    if (comm) {
        Trace("SuspendThread");
        comm->SuspendThread();
        Trace("ClosePortIfOpen");
        comm->ClosePortIfOpen();
        Trace("StopReceiving");
        state.keepReceiving = 0;
        Trace("ResumeThread");
        comm->ResumeThread();
        // Instead of a grace period: wait until the thread has left its loop for good.
        Trace("JoinThread");
        comm->Shutdown();
    }
    Trace("KillTimers");
    panelRefreshTimer.stop();
    linkWatchTimer.stop();
    // The "Off" command, run here and now: its closing rows go out before the window does.
    if (statisticsLog->IsEventLogOpen()) {
        Trace("StatisticsOff");
        OnStatisticsOff();
    }
    if (env.settings) {
        env.settings->Sync();
    }
    if (helpWindow) {
        helpWindow->close();
    }
    Trace("Closed");
    closed = true;
    emit Closed();
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (OnClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

// ---------------------------------------------------------------------------------------------
// Settings store

bool CMainFrame::ReadWindowPlacement(WindowPlacement& placement) const {
    if (!env.settings) {
        return false;
    }
    const auto p = env.settings->ReadWindowPos();
    if (!p) {
        return false;
    }
    placement = *p;
    return true;
}

void CMainFrame::WriteWindowPlacement(const WindowPlacement& placement) {
    if (env.settings) {
        env.settings->WriteWindowPos(placement);
    }
}

void CMainFrame::ReadPortState() {
    if (env.settings) {
        portSettings.portNumber = env.settings->ReadActivePort();
        portSettings.portOpen = env.settings->ReadPortOpen();
    }
}

void CMainFrame::WritePortState() {
    if (env.settings) {
        env.settings->WritePortState(portSettings.portNumber, portSettings.portOpen);
    }
}

WindowPlacement CMainFrame::CurrentPlacement() const {
    // The window's own rectangle without the frame the window manager draws: restoring the
    // same rectangle then puts the window back exactly, without creeping by a title bar.
    QRect g = (isMinimized() || isMaximized() || isFullScreen()) ? normalGeometry() : geometry();
    if (!g.isValid()) {
        g = geometry();
    }
    WindowPlacement p;
    p.flags = 0;
    p.showCmd = kShowNormal;
    p.left = g.x();
    p.top = g.y();
    p.right = g.x() + g.width();
    p.bottom = g.y() + g.height();
    return p;
}

void CMainFrame::ApplyPlacement(const WindowPlacement& placement) {
    QList<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) {
        screens << s->availableGeometry();
    }
    const RestoredRect restored =
        KeepOnScreens(placement.left, placement.top, placement.right, placement.bottom, screens,
                      minimumSizeHint().expandedTo(minimumSize()));
    setGeometry(restored.rect);
    placementClamped = restored.clamped;
    if (placement.showCmd == kShowMaximized) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

// ---------------------------------------------------------------------------------------------
// Menus, bars, panes

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text, const QString& keys) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setObjectName(QString::number(id));
    if (!keys.isEmpty()) {
        QList<QKeySequence> sequences;
        for (const QString& k : keys.split(u';')) {
            sequences << QKeySequence(k);
        }
        action->setShortcuts(sequences);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (menu) {
        menu->addAction(action);
    } else {
        addAction(action);
    }
    actions[id] = action;
    return action;
}

void CMainFrame::BuildMenus() {
    auto addMenu = [this](const QString& title) {
        QMenu* m = menuBar()->addMenu(title);
        menus << m;
        connect(m, &QMenu::aboutToShow, this, [this] { RunUpdateHandlers(); });
        return m;
    };

    fileMenu = addMenu(QStringLiteral("&File"));
    connect(AddCommand(fileMenu, cmd::kFileNew, QStringLiteral("&New\tCtrl+N"), "Ctrl+N"),
            &QAction::triggered, this, [this] { OnFileNew(); });
    connect(AddCommand(fileMenu, cmd::kFileOpen, QStringLiteral("&Open...\tCtrl+O"), "Ctrl+O"),
            &QAction::triggered, this, [this] { OnFileOpen(); });
    connect(AddCommand(fileMenu, cmd::kFileSave, QStringLiteral("&Save\tCtrl+S"), "Ctrl+S"),
            &QAction::triggered, this, [this] { OnFileSave(); });
    connect(AddCommand(fileMenu, cmd::kFileSaveAs, QStringLiteral("Save &As...")),
            &QAction::triggered, this, [this] { OnFileSaveAs(); });
    fileMenu->addSeparator();
    AddCommand(fileMenu, cmd::kFilePrint, QStringLiteral("&Print...\tCtrl+P"), "Ctrl+P")
        ->setEnabled(false);
    AddCommand(fileMenu, cmd::kFilePrintPreview, QStringLiteral("Print Pre&view"))
        ->setEnabled(false);
    connect(AddCommand(fileMenu, cmd::kFilePageSetup, QStringLiteral("P&rint Setup...")),
            &QAction::triggered, this, [this] { OnFilePageSetup(); });
    recentSeparator = fileMenu->addSeparator();
    fileMenu->addSeparator();
    connect(AddCommand(fileMenu, cmd::kAppExit, QStringLiteral("E&xit")), &QAction::triggered, this,
            [this] { close(); });
    if (env.settings) {
        recentFiles = env.settings->ReadRecentFiles();
    }
    RebuildRecentFileMenu();

    QMenu* edit = addMenu(QStringLiteral("&Edit"));
    AddCommand(edit, cmd::kEditUndo, QStringLiteral("&Undo\tCtrl+Z"), "Ctrl+Z;Alt+Backspace")
        ->setEnabled(false);
    edit->addSeparator();
    AddCommand(edit, cmd::kEditCut, QStringLiteral("Cu&t\tCtrl+X"), "Ctrl+X;Shift+Del")
        ->setEnabled(false);
    AddCommand(edit, cmd::kEditCopy, QStringLiteral("&Copy\tCtrl+C"), "Ctrl+C;Ctrl+Ins")
        ->setEnabled(false);
    AddCommand(edit, cmd::kEditPaste, QStringLiteral("&Paste\tCtrl+V"), "Ctrl+V;Shift+Ins")
        ->setEnabled(false);

    QMenu* view = addMenu(QStringLiteral("&View"));
    QAction* toolbarToggle = AddCommand(view, cmd::kViewToolbar, QStringLiteral("&Toolbar"));
    toolbarToggle->setCheckable(true);
    toolbarToggle->setChecked(true);
    connect(toolbarToggle, &QAction::triggered, this, [this](bool on) {
        if (toolBar) {
            toolBar->setVisible(on);
        }
    });
    QAction* statusToggle = AddCommand(view, cmd::kViewStatusBar, QStringLiteral("&Status Bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::triggered, this, [this](bool on) {
        if (statusBar) {
            statusBar->setVisible(on);
        }
    });
    connect(AddCommand(view, cmd::kWindowSplit, QStringLiteral("S&plit")), &QAction::triggered,
            this, [this] { OnWindowSplit(); });

    QMenu* comms = addMenu(QStringLiteral("Communication"));
    connect(AddCommand(comms, cmd::kPortSettings, QStringLiteral("Port Settings...")),
            &QAction::triggered, this, [this] { OnPortSettings(); });
    QAction* portOpenItem = AddCommand(comms, cmd::kPortOpen, QStringLiteral("Port Open"));
    portOpenItem->setCheckable(true);
    connect(portOpenItem, &QAction::triggered, this, [this] { OnPortOpen(); });

    QMenu* stats = addMenu(QStringLiteral("Statisitcs"));
    QAction* on = AddCommand(stats, cmd::kStatisticsOn, QStringLiteral("On"));
    on->setCheckable(true);
    connect(on, &QAction::triggered, this, [this] { OnStatisticsOn(); });
    QAction* off = AddCommand(stats, cmd::kStatisticsOff, QStringLiteral("Off"));
    off->setCheckable(true);
    off->setChecked(true);
    connect(off, &QAction::triggered, this, [this] { OnStatisticsOff(); });
    QMenu* interval = stats->addMenu(QStringLiteral("BER Inteval"));
    connect(interval, &QMenu::aboutToShow, this, [this] { OnUpdateBerInterval(); });
    const std::array<std::pair<int, const char*>, 4> intervals{{
        {cmd::kBerInterval1, "  1 sec"},
        {cmd::kBerInterval3, "  3 sec"},
        {cmd::kBerInterval10, "10 sec"},
        {cmd::kBerInterval30, "30 sec"},
    }};
    for (const auto& [id, text] : intervals) {
        QAction* a = AddCommand(interval, id, QString::fromLatin1(text));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, id = id] { OnBerInterval(id); });
    }
    connect(AddCommand(stats, cmd::kBerFreeze, QStringLiteral("BER Freeze")), &QAction::triggered,
            this, [this] { OnBerFreeze(); });
    connect(AddCommand(stats, cmd::kBerReset, QStringLiteral("BER Reset")), &QAction::triggered,
            this, [this] { OnBerReset(); });

    QMenu* help = addMenu(QStringLiteral("&Help"));
    connect(AddCommand(help, cmd::kHelpIndex, QStringLiteral("&Help Topics")), &QAction::triggered,
            this, [this] { OnHelp(); });
    help->addSeparator();
    connect(AddCommand(help, cmd::kAppAbout, QStringLiteral("&About Kestrel...")),
            &QAction::triggered, this, [this] { OnAppAbout(); });

    // Keys without a menu item.
    connect(AddCommand(nullptr, cmd::kHelp, QStringLiteral("Help"), "F1"), &QAction::triggered,
            this, [this] { OnHelp(); });
    connect(AddCommand(nullptr, cmd::kHelpFinder, QStringLiteral("Help Index")),
            &QAction::triggered, this, [this] { OnHelp(); });
    QAction* context = AddCommand(nullptr, cmd::kContextHelp, QStringLiteral("Help"), "Shift+F1");
    context->setToolTip(QStringLiteral("Help"));
    connect(context, &QAction::triggered, this, [this] { OnContextHelp(); });
    connect(AddCommand(nullptr, cmd::kNextPane, QStringLiteral("Next Pane"), "F6"),
            &QAction::triggered, this, [this] {
                if (clientSplitter) {
                    clientSplitter->NextPane(true);
                }
            });
    connect(AddCommand(nullptr, cmd::kPrevPane, QStringLiteral("Previous Pane"), "Shift+F6"),
            &QAction::triggered, this, [this] {
                if (clientSplitter) {
                    clientSplitter->NextPane(false);
                }
            });
    // Connected after every command's own handler: what the command changed shows at once.
    for (const auto& [id, action] : actions) {
        FollowWithUpdate(action);
    }
}

void CMainFrame::FollowWithUpdate(QAction* action) {
    connect(action, &QAction::triggered, this, &CMainFrame::RunUpdateHandlers,
            Qt::UniqueConnection);
}

void CMainFrame::BuildToolBar() {
    toolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(16, 16));
    auto add = [this](int id, const QString& tip) {
        QAction* a = Action(id);
        a->setIcon(ToolbarIcon(id));
        a->setToolTip(tip);
        toolBar->addAction(a);
    };
    add(cmd::kFileNew, QStringLiteral("New"));
    add(cmd::kFileOpen, QStringLiteral("Open"));
    add(cmd::kFileSave, QStringLiteral("Save"));
    toolBar->addSeparator();
    add(cmd::kEditCut, QStringLiteral("Cut"));
    add(cmd::kEditCopy, QStringLiteral("Copy"));
    add(cmd::kEditPaste, QStringLiteral("Paste"));
    toolBar->addSeparator();
    add(cmd::kFilePrint, QStringLiteral("Print"));
    add(cmd::kAppAbout, QStringLiteral("About"));
    add(cmd::kContextHelp, QStringLiteral("Help"));
    addToolBar(Qt::TopToolBarArea, toolBar);
    connect(toolBar, &QToolBar::visibilityChanged, this,
            [this] { Action(cmd::kViewToolbar)->setChecked(!toolBar->isHidden()); });
}

namespace {

// What Shift+F1 tells about each status-bar pane.
const char* PaneHelp(int id) {
    switch (id) {
        case cmd::kIndicatorNearErrors:
            return "Errors counted at the near end since start or the last BER Reset.";
        case cmd::kIndicatorFarErrors:
            return "Errors counted at the far end since start or the last BER Reset.";
        case cmd::kIndicatorCom:
            return "The serial port the MUX is expected on (Communication, Port Settings).";
        case cmd::kIndicatorPort:
            return "Whether that port is open (Communication, Port Open).";
        case cmd::kIndicatorMux:
            return "Connected while the port is open and the MUX drives a modem-status line.";
        case cmd::kIndicatorData:
            return "A moving star while status frames arrive; No Data after two silent "
                   "intervals of 2.5 seconds.";
        case cmd::kIndicatorTime:
            return "Time since the program started: days:hours:minutes:seconds.";
        default:
            return "";
    }
}

}  // namespace

void CMainFrame::BuildStatusBar() {
    statusBar = new QStatusBar(this);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(statusBar);
    const QFontMetrics fm(statusBar->font());
    for (const StatusPane& pane : kStatusPanes) {
        auto* label = new QLabel(QString::fromLatin1(pane.placeholder), statusBar);
        label->setObjectName(QString::number(pane.id));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setContentsMargins(2, 0, 2, 0);
        const QMargins m = label->contentsMargins();
        label->setFixedWidth(fm.horizontalAdvance(QString::fromLatin1(pane.placeholder)) +
                             m.left() + m.right() + 2 * label->frameWidth() + 4);
        label->setTextFormat(Qt::PlainText);
        // Fixed in both directions, a new text repaints the pane without laying out the bar
        // again: the star and the clock change every second.
        label->setFixedHeight(label->sizeHint().height());
        label->setWhatsThis(QString::fromLatin1(PaneHelp(pane.id)));
        statusBar->addWidget(label);
        panes[pane.id] = label;
    }
}

void CMainFrame::BuildAlarmBar() {
    alarmBar = new QToolBar(QStringLiteral("Alarm Bar"), this);
    alarmBar->setObjectName(QStringLiteral("131"));
    alarmBar->setMovable(false);
    alarmBar->setFloatable(false);
    alarmBar->toggleViewAction()->setVisible(false);
    alarmBarWnd = new CAlarmBar(*env.icons, alarmBar);
    alarmBarWnd->setWhatsThis(QStringLiteral(
        "The alarms of the local and the remote 34 Mbit/s interface. Red: a local No Signal or "
        "LOF; yellow: every other alarm. All lamps are dark while the MUX is not connected."));
    alarmBar->addWidget(alarmBarWnd);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, alarmBar);
    alarmBar->show();
}

QAction* CMainFrame::Action(int commandId) const {
    const auto it = actions.find(commandId);
    return it == actions.end() ? nullptr : it->second;
}

QLabel* CMainFrame::Pane(int indicatorId) const {
    const auto it = panes.find(indicatorId);
    return it == panes.end() ? nullptr : it->second;
}

QString CMainFrame::PaneText(int indicatorId) const {
    QLabel* l = Pane(indicatorId);
    return l ? l->text() : QString();
}

QMenu* CMainFrame::Menu(const QString& title) const {
    for (QMenu* m : menus) {
        if (m->title() == title) {
            return m;
        }
    }
    return nullptr;
}

CKestrelSettings* CMainFrame::ActivePanel() const {
    return clientSplitter ? clientSplitter->ActivePanel() : nullptr;
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(env.document ? env.document->FrameTitle()
                                : QStringLiteral("Untitled - Kestrel"));
}

// ---------------------------------------------------------------------------------------------
// Update handlers

void CMainFrame::RunUpdateHandlers() {
    OnUpdatePortOpen();
    OnUpdateBerInterval();
    OnUpdateBerFreeze();
    OnUpdateStatisticsOn();
    OnUpdateStatisticsOff();
    OnUpdateNearErrors();
    OnUpdateFarErrors();
    OnUpdateComPort();
    OnUpdatePortState();
    OnUpdateMuxState();
    OnUpdateDataState();
    OnUpdateElapsedTime();
    if (toolBar) {
        Action(cmd::kViewToolbar)->setChecked(!toolBar->isHidden());
    }
    if (statusBar) {
        Action(cmd::kViewStatusBar)->setChecked(!statusBar->isHidden());
    }
}

void CMainFrame::OnUpdatePortOpen() {
    QAction* a = Action(cmd::kPortOpen);
    a->setEnabled(true);
    a->setChecked(portSettings.portOpen != 0);
}

void CMainFrame::OnUpdateBerInterval() {
    for (int id = cmd::kBerInterval1; id <= cmd::kBerInterval30; ++id) {
        Action(id)->setChecked(meter.IsBerIntervalChecked(id));
    }
}

void CMainFrame::OnUpdateBerFreeze() {
    Action(cmd::kBerFreeze)->setEnabled(BerMeter::IsBerFreezeEnabled());
}

void CMainFrame::OnUpdateStatisticsOn() {
    Action(cmd::kStatisticsOn)->setChecked(statisticsLog->IsEventLogOpen());
}

void CMainFrame::OnUpdateStatisticsOff() {
    Action(cmd::kStatisticsOff)->setChecked(!statisticsLog->IsEventLogOpen());
}

void CMainFrame::SetPaneText(int indicatorId, const std::string& text) {
    if (QLabel* l = Pane(indicatorId)) {
        const QString t = QString::fromStdString(text);
        if (l->text() != t) {
            l->setText(t);
        }
        l->setEnabled(true);
    }
}

void CMainFrame::OnUpdateNearErrors() {
    SetPaneText(cmd::kIndicatorNearErrors, NearErrorsText(state.nearErrorsTotal.load()));
}

void CMainFrame::OnUpdateFarErrors() {
    SetPaneText(cmd::kIndicatorFarErrors, FarErrorsText(state.farErrorsTotal.load()));
}

void CMainFrame::OnUpdateComPort() {
    SetPaneText(cmd::kIndicatorCom, ComText(portSettings.portNumber));
}

void CMainFrame::OnUpdatePortState() {
    SetPaneText(cmd::kIndicatorPort, PortText(portSettings.portOpen));
}

void CMainFrame::OnUpdateMuxState() {
    SetPaneText(cmd::kIndicatorMux, MuxText(state.connected.load()));
}

void CMainFrame::OnUpdateDataState() {
    SetPaneText(cmd::kIndicatorData, state.noData.load() ? "No Data" : state.spinnerText());
}

void CMainFrame::OnUpdateElapsedTime() {
    SetPaneText(
        cmd::kIndicatorTime,
        ElapsedText(std::chrono::duration_cast<std::chrono::seconds>(env.clock() - startTime)));
}

// ---------------------------------------------------------------------------------------------
// Port commands

void CMainFrame::OnPortOpen() {
    if (portSettings.portOpen) {
        portSettings.portOpen = 0;
        comm->SuspendThread();
        comm->SetPortOpen(false);
        RunUpdateHandlers();
        return;
    }
    comm->SetPortOpen(true);
    portSettings.portOpen = comm->IsPortOpen();
    if (portSettings.portOpen == 1) {
        comm->ResumeThread();
    }
    if (!comm->IsPortOpen()) {
        portSettings.portOpen = 0;
        RunUpdateHandlers();
        if (env.prompts) {
            env.prompts->Exclamation(this, QStringLiteral("Device Not Availlable"),
                                     QStringLiteral("Port Open Error"),
                                     OpenFailureDetail(comm->DevicePath(), comm->LastOpenError(),
                                                       comm->Info().portNumber));
        }
    }
    RunUpdateHandlers();
}

void CMainFrame::OnPortSettings() {
    CPortSettingsDlg dialog(portSettings, this);
    if (!env.prompts || env.prompts->Exec(dialog) != QDialog::Accepted) {
        return;
    }
    PortSettings chosen = dialog.GetSettings();
    if (chosen.portNumber == portSettings.portNumber) {
        return;
    }
    chosen.portOpen = 0;
    if (portSettings.portOpen == 1) {
        // The port is marked closed before the box: its event loop runs the link watch, which
        // must not ask a closed device for its modem lines.
        portSettings.portOpen = 0;
        comm->SuspendThread();
        comm->SetPortOpen(false);
        RunUpdateHandlers();
        env.prompts->Exclamation(this, QStringLiteral("Plese Set Port Open"),
                                 QStringLiteral("Port Open"), QString());
    }
    comm->SetPortNumber(chosen.portNumber);
    portSettings = chosen;
    RunUpdateHandlers();
}

// ---------------------------------------------------------------------------------------------
// Statistics commands

void CMainFrame::OnStatisticsOn() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Save As");
    request.filters = {QStringLiteral("Statistic Files (*.csv)"), QStringLiteral("All Files (*)")};
    request.defaultSuffix = QStringLiteral("csv");
    request.initialName = QStringLiteral("Untitled");
    request.save = true;
    const QString chosen = env.prompts ? env.prompts->FileName(this, request) : QString();
    if (!chosen.isEmpty()) {
        StartStatistics(chosen);
    }
}

bool CMainFrame::StartStatistics(const QString& chosen, QString* failure) {
    // While statistics are on, the running files stay as they are whatever was chosen.
    if (statisticsLog->IsEventLogOpen()) {
        return false;
    }
    std::string reason;
    const bool on = statisticsLog->StatisticsOn(QFile::encodeName(chosen).toStdString(),
                                                failure ? &reason : nullptr);
    if (on) {
        logFlushTimer.start();
    } else if (failure) {
        *failure = QString::fromLocal8Bit(reason.c_str());
    }
    RunUpdateHandlers();
    return on;
}

void CMainFrame::OnStatisticsOff() {
    logFlushTimer.stop();
    statisticsLog->StatisticsOff();
    RunUpdateHandlers();
}

void CMainFrame::LogFlush() {
    // The next pass is scheduled only at the end of a successful one.
    logFlushTimer.stop();
    if (statisticsLog->LogFlush(frameMutex)) {
        logFlushTimer.start();
    }
    RunUpdateHandlers();
}

// ---------------------------------------------------------------------------------------------
// BER meter

void CMainFrame::OnBerInterval(int commandId) {
    std::lock_guard<std::mutex> lock(frameMutex);
    meter.OnBerInterval(commandId);
}

void CMainFrame::OnBerReset() {
    std::lock_guard<std::mutex> lock(frameMutex);
    meter.OnBerReset();
}

void CMainFrame::OnBerFreeze() {
    meter.OnBerFreeze();
}

void CMainFrame::ApplyBerTexts(const std::array<std::string, 4>& texts) {
    // With no form to show them the texts are dropped.
    if (CKestrelSettings* panel = ActivePanel()) {
        panel->SetBerTexts(texts);
    }
    // The frame that brought them also moved the star and the error totals.
    RunUpdateHandlers();
}

void CMainFrame::PanelRefresh() {
    supervision.PanelRefresh();
    // Also the elapsed-time pane's once-a-second step.
    RunUpdateHandlers();
}

void CMainFrame::LinkWatch() {
    supervision.LinkWatch();
    RunUpdateHandlers();
}

// ---------------------------------------------------------------------------------------------
// Document commands

void CMainFrame::OnFileNew() {
    if (!env.document || !env.document->SaveModified()) {
        return;
    }
    env.document->OnNewDocument();
    UpdateTitle();
}

void CMainFrame::OnFileOpen() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Open");
    request.filters = {QString::fromLatin1(CKestrelDoc::kFilterName),
                       QStringLiteral("All Files (*)")};
    request.save = false;
    const QString path = env.prompts ? env.prompts->FileName(this, request) : QString();
    if (!path.isEmpty()) {
        OpenDocumentFile(path);
    }
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
    if (!env.document) {
        return false;
    }
    QString error;
    if (!env.document->OnOpenDocument(path, &error)) {
        if (env.prompts) {
            env.prompts->Exclamation(this, QStringLiteral("Failed to open document."),
                                     QStringLiteral("Kestrel"),
                                     path + QStringLiteral(": ") + error);
        }
        // Gone from the list for good, not only until the next start.
        recentFiles.removeAll(QFileInfo(path).absoluteFilePath());
        if (env.settings) {
            env.settings->WriteRecentFiles(recentFiles);
        }
        RebuildRecentFileMenu();
        return false;
    }
    AddRecentFile(env.document->PathName());
    UpdateTitle();
    return true;
}

bool CMainFrame::OnFileSave() {
    if (!env.document) {
        return false;
    }
    if (env.document->PathName().isEmpty()) {
        return OnFileSaveAs();
    }
    QString error;
    if (!env.document->OnSaveDocument(env.document->PathName(), &error)) {
        if (env.prompts) {
            env.prompts->Exclamation(this, QStringLiteral("Failed to save document."),
                                     QStringLiteral("Kestrel"),
                                     env.document->PathName() + QStringLiteral(": ") + error);
        }
        return false;
    }
    return true;
}

bool CMainFrame::OnFileSaveAs() {
    if (!env.document || !env.prompts) {
        return false;
    }
    FileDialogRequest request;
    request.caption = QStringLiteral("Save As");
    request.filters = {QString::fromLatin1(CKestrelDoc::kFilterName),
                       QStringLiteral("All Files (*)")};
    request.defaultSuffix = QStringLiteral("cfg");
    request.initialName =
        env.document->PathName().isEmpty() ? env.document->Title() : env.document->PathName();
    const QString path = env.prompts->FileName(this, request);
    if (path.isEmpty()) {
        return false;
    }
    QString error;
    if (!env.document->OnSaveDocument(path, &error)) {
        env.prompts->Exclamation(this, QStringLiteral("Failed to save document."),
                                 QStringLiteral("Kestrel"), path + QStringLiteral(": ") + error);
        return false;
    }
    AddRecentFile(env.document->PathName());
    UpdateTitle();
    return true;
}

void CMainFrame::AddRecentFile(const QString& path) {
    recentFiles.removeAll(path);
    recentFiles.prepend(path);
    while (recentFiles.size() > SettingsStore::kRecentFiles) {
        recentFiles.removeLast();
    }
    if (env.settings) {
        env.settings->WriteRecentFiles(recentFiles);
    }
    RebuildRecentFileMenu();
}

void CMainFrame::RebuildRecentFileMenu() {
    for (QAction* a : recentActions) {
        actions.erase(a->data().toInt());
        fileMenu->removeAction(a);
        a->deleteLater();
    }
    recentActions.clear();
    QList<QAction*> fresh;
    if (recentFiles.isEmpty()) {
        auto* a = new QAction(QStringLiteral("Recent File"), this);
        a->setData(cmd::kFileMruFirst);
        a->setEnabled(false);
        fresh << a;
    }
    for (int i = 0; i < recentFiles.size(); ++i) {
        QString shown = recentFiles[i];
        shown.replace(u'&', QStringLiteral("&&"));
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        a->setData(cmd::kFileMruFirst + i);
        connect(a, &QAction::triggered, this, [this, i] { OnOpenRecentFile(i); });
        FollowWithUpdate(a);
        fresh << a;
    }
    // The list sits between the two separators before "Exit".
    const QList<QAction*> all = fileMenu->actions();
    const int at = all.indexOf(recentSeparator);
    QAction* before = all.value(at + 1);
    for (QAction* a : fresh) {
        fileMenu->insertAction(before, a);
        actions[a->data().toInt()] = a;
    }
    recentActions = fresh;
}

void CMainFrame::OnOpenRecentFile(int index) {
    if (index >= 0 && index < recentFiles.size()) {
        OpenDocumentFile(recentFiles[index]);
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    // One document at a time: the first file dropped is opened.
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            activateWindow();
            OpenDocumentFile(url.toLocalFile());
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// View and help

void CMainFrame::OnWindowSplit() {
    if (clientSplitter) {
        clientSplitter->Split();
    }
}

void CMainFrame::OnFilePageSetup() {
    PageSetupDialog dialog(this);
    dialog.SetPage(pageSize, pageLandscape);
    if (env.prompts && env.prompts->Exec(dialog) == QDialog::Accepted) {
        pageSize = dialog.PaperIndex();
        pageLandscape = dialog.Landscape();
    }
}

void CMainFrame::OnHelp() {
    if (!helpWindow) {
        auto* window = new QDialog(this, Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Kestrel Help"));
        window->setObjectName(QStringLiteral("helpWindow"));
        auto* layout = new QVBoxLayout(window);
        auto* browser = new QTextBrowser(window);
        browser->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
        layout->addWidget(browser);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
        layout->addWidget(buttons);
        window->resize(640, 520);
        helpWindow = window;
    }
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void CMainFrame::OnContextHelp() {
    QWhatsThis::enterWhatsThisMode();
}

void CMainFrame::OnAppAbout() {
    CAboutDlg about(this);
    if (env.prompts) {
        env.prompts->Exec(about);
    }
}

}  // namespace kestrel
