// The main window: its parts, its start-up and close orders; its placement is in
// CMainFramePlacement.cpp.
#include "frame/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolBar>
#include <thread>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/AppIcon.h"
#include "frame/ClientSplitter.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "frame/DocumentCommands.h"
#include "frame/HelpCommands.h"
#include "frame/LineViews.h"
#include "frame/MonitorCommands.h"
#include "frame/SessionBinding.h"
#include "frame/StatusPanes.h"
#include "performance/HistoryStore.h"
#include "store/CKestrelDoc.h"

namespace kestrel {

using namespace std::chrono_literals;

namespace {

SessionOptions SessionOptionsOf(FrameEnvironment& env) {
    SessionOptions o;
    o.state = env.state;
    o.devices = std::move(env.devices);
    o.resolver = env.resolver;
    o.wallClock = env.wallClock;
    o.clock = env.clock;
    o.sleep = env.sleep;
    o.trace = env.trace;
    o.retry = env.retry;
    // The line memory is named after the port stored at start-up. A port chosen later in the
    // port settings goes on into the same database until the program ends: one run, one
    // file, and the next start opens the one of the port then stored.
    const int port = env.settings ? env.settings->ReadActivePort() : 1;
    o.historyPath = DefaultHistoryPath("COM" + std::to_string(port));
    return o;
}

// Whether a device is at `path`; a network address is taken as there, since only a
// connection could tell.
bool DeviceThere(const std::string& path) {
    return path.find("://") != std::string::npos || IdentifyDevice(path).has_value();
}

// The alarm bar in the window's top bar area: whole where the window has room for it, and
// scrolled sideways where it has not (large fonts on a small screen), so that it never makes
// the window wider than the screen. While it scrolls it is taller by the scroll bar, so that
// the lamps and their labels stay whole above it.
class AlarmBarArea : public QScrollArea {
public:
    explicit AlarmBarArea(QWidget* bar, QWidget* parent) : QScrollArea(parent) {
        setObjectName(QStringLiteral("alarmBarArea"));
        setAccessibleName(QStringLiteral("Alarm bar"));
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setWidgetResizable(false);
        setWidget(bar);
        // The bar lies on the tool bar area as it did without the scroll area.
        bar->setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
    }
    QSize sizeHint() const override {
        const QSize bar = widget()->sizeHint();
        return {bar.width(),
                bar.height() + (scrolls ? horizontalScrollBar()->sizeHint().height() : 0)};
    }
    QSize minimumSizeHint() const override {
        // Room for the scroll bar's arrows and a little of the bar between them.
        const int least = 8 * fontMetrics().averageCharWidth();
        return {std::min(sizeHint().width(), least), sizeHint().height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        const bool now = width() < widget()->sizeHint().width();
        if (now != scrolls) {
            scrolls = now;
            updateGeometry();
        }
    }

private:
    bool scrolls = false;
};

}  // namespace

CMainFrame::CMainFrame(FrameEnvironment environment, QWidget* parent)
    : QMainWindow(parent), env(std::move(environment)) {
    if (!env.sleep) {
        env.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
    if (!env.clock) {
        env.clock = [] { return std::chrono::steady_clock::now(); };
    }
    setObjectName(QStringLiteral("CMainFrame"));
    SessionBinding::View view;
    view.alarmBar = [this] { return alarmBarWnd; };
    view.activePanel = [this] { return ActivePanel(); };
    view.update = [this] { RunUpdateHandlers(); };
    view.notice = [this](const QString& message) {
        if (env.prompts) {
            env.prompts->Notice(this, message, QStringLiteral("Kestrel"));
        }
    };
    view.linkLost = [this](const QString& lost) { ShowLinkLost(lost); };
    view.openFailed = [this](const LinkStatus& status) {
        monitorCommands->ShowOpenFailure(status);
    };
    view.refreshed = [this] {
        if (lineViews) {
            lineViews->Refreshed();
        }
    };
    binding = std::make_unique<SessionBinding>(SessionOptionsOf(env), std::move(view));
    auto update = [this] { RunUpdateHandlers(); };
    menus = std::make_unique<CommandMenus>(*this, update);
    documents =
        std::make_unique<DocumentCommands>(*this, env.document, env.settings, env.prompts, *menus);
    monitorCommands = std::make_unique<MonitorCommands>(*this, *binding, env.prompts, update,
                                                        env.settings, env.listDevices);
    help = std::make_unique<HelpCommands>(*this, env.prompts);
    documents->Bind();
    BindViewCommands();
    monitorCommands->Bind(*menus);
    help->Bind(*menus);
    lineViews = std::make_unique<LineViews>(
        LineViews::Parts{this, &Session(), env.settings, [this] { return alarmBarWnd; },
                         [this] { return ActivePanel(); }, [this] { return Panels(); }});
    lineViews->Bind(*menus);
    menus->FollowAllWithUpdate();

    setAcceptDrops(true);
    setWindowIcon(AppIcon());
    UpdateTitle();
}

CMainFrame::~CMainFrame() {
    // The views read the session's memory: they go before it. The session next: its thread
    // must not post to the parts that go after it.
    lineViews.reset();
    binding.reset();
}

void CMainFrame::Trace(const char* step) const {
    if (env.trace) {
        env.trace(step);
    }
}

void CMainFrame::BindViewCommands() {
    menus->Bind(cmd::kAppExit, [this] { close(); });
    menus->BindToggle(cmd::kViewToolbar, [this](bool on) {
        if (toolBar) {
            toolBar->setVisible(on);
        }
    });
    menus->BindToggle(cmd::kViewStatusBar, [this](bool on) {
        if (panes) {
            panes->Bar()->setVisible(on);
        }
    });
    menus->Bind(cmd::kWindowSplit, [this] {
        if (clientSplitter) {
            clientSplitter->Split();
        }
    });
    for (const bool forward : {true, false}) {
        menus->Bind(forward ? cmd::kNextPane : cmd::kPrevPane, [this, forward] {
            if (clientSplitter) {
                clientSplitter->NextPane(forward);
            }
        });
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
    MuxSession& session = Session();
    const bool storedOpen = env.settings && env.settings->ReadPortOpen() != 0;
    if (env.settings) {
        session.SetPortNumber(env.settings->ReadActivePort());
    }

    Trace("CreateClient");
    clientSplitter = new ClientSplitter(*env.icons, this);
    setCentralWidget(clientSplitter);
    Trace("CreateToolBar");
    toolBar = menus->BuildToolBar();
    Trace("CreateStatusBar");
    panes = std::make_unique<StatusPanes>(*this);
    Trace("CreateAlarmBar");
    BuildAlarmBar();

    // A device that is not there at start-up shows no message: the port stays meant to be
    // open, the receive thread looks for the device, and "PortOpen" stays as it was.
    session.StartLink(session.PortNumber(), storedOpen);
    // The line that tells how to start, until a port has opened once, and again when the
    // device the port leads to is no longer there.
    if (env.settings && env.settings->ReadPortOpenedOnce()) {
        const std::string path = session.DevicePath();
        panes->ShowHint(!(env.deviceThere ? env.deviceThere(path) : DeviceThere(path)), {});
    } else {
        panes->ShowHint(true, [settings = env.settings] {
            if (settings) {
                settings->WritePortOpenedOnce();
            }
        });
    }

    Trace("StartTimers");
    if (env.runTimers) {
        PanelRefreshTimer().start();
        LinkWatchTimer().start();
    }
    env.sleep(1000ms);
    session.ResumeIfOpen();
    // A device missing from the start is told as one lost.
    session.PollLink();
    // The bars as they start, before the default size counts them: the status bar may have
    // the line that tells how to start.
    RunUpdateHandlers();
    if (placed) {
        ApplyPlacement(placement);
    } else {
        PlaceFirstTime();
    }
    return 0;
}

void CMainFrame::BuildAlarmBar() {
    alarmBar = new QToolBar(QStringLiteral("Alarm Bar"), this);
    alarmBar->setObjectName(QStringLiteral("131"));
    alarmBar->setMovable(false);
    alarmBar->setFloatable(false);
    alarmBar->toggleViewAction()->setVisible(false);
    alarmBarWnd = new CAlarmBar(*env.icons);
    alarmBarWnd->setWhatsThis(QStringLiteral(
        "The alarms of the local and the remote 34 Mbit/s interface. Red: a local No Signal or "
        "LOF; yellow: every other alarm. All lamps are dark while the MUX is not connected."));
    alarmBar->addWidget(new AlarmBarArea(alarmBarWnd, alarmBar));
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, alarmBar);
    alarmBar->show();
}

void CMainFrame::ShowLinkLost(const QString& lost) {
    if (!panes) {
        return;
    }
    panes->SetNote(cmd::kIndicatorPort, lost);
    // Short: the message covers the panes while it stands.
    if (lost.isEmpty()) {
        panes->Bar()->clearMessage();
    } else {
        panes->Bar()->showMessage(lost, kLinkLostMessageMs);
    }
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
    MuxSession& session = Session();
    session.SetClosing();
    Trace("WritePortState");
    if (env.settings) {
        env.settings->WritePortState(session.PortNumber(), session.IsPortOpen() ? 1 : 0);
    }
    session.StopLink();
    Trace("KillTimers");
    PanelRefreshTimer().stop();
    LinkWatchTimer().stop();
    // The "Off" command, run here and now: its closing rows go out before the window does.
    monitorCommands->StopStatisticsAtClose();
    lineViews->Remember();
    lineViews->Close();
    if (env.settings) {
        env.settings->Sync();
    }
    help->CloseHelp();
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

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Views left open at the last close come back once the window is on the screen, placed.
    if (!event->spontaneous()) {
        QTimer::singleShot(0, this, [this] {
            if (lineViews) {
                lineViews->Restore();
            }
        });
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!DocumentCommands::DroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    // One document at a time: the first file dropped is opened.
    const QString path = DocumentCommands::DroppedFile(event->mimeData());
    if (!path.isEmpty()) {
        event->acceptProposedAction();
        activateWindow();
        OpenDocumentFile(path);
    }
}

// ---------------------------------------------------------------------------------------------
// Update handlers, commands and ticks

void CMainFrame::RunUpdateHandlers() {
    monitorCommands->UpdateCheckMarks(*menus);
    if (panes) {
        panes->Update(Session());
        Action(cmd::kViewStatusBar)->setChecked(!panes->Bar()->isHidden());
        // Every pane's BER fields: one not active keeps the figures it last showed, which are
        // no more live than the active one's.
        for (CKestrelSettings* panel : Panels()) {
            panel->SetBerStale(panes->Stale());
        }
    }
    if (toolBar) {
        Action(cmd::kViewToolbar)->setChecked(!toolBar->isHidden());
    }
    if (lineViews) {
        lineViews->Update(*menus);
    }
}

bool CMainFrame::StartStatistics(const QString& chosen, QString* failure) {
    return monitorCommands->StartStatistics(chosen, failure);
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
    return documents->OpenDocumentFile(path);
}

void CMainFrame::UpdateTitle() {
    documents->UpdateTitle();
}

void CMainFrame::PanelRefresh() {
    binding->PanelRefresh();
}

void CMainFrame::LinkWatch() {
    binding->LinkWatch();
}

void CMainFrame::LogFlush() {
    binding->LogFlush();
}

void CMainFrame::ApplyBerTexts(const std::array<std::string, 4>& texts) {
    binding->ApplyBerTexts(texts);
}

// ---------------------------------------------------------------------------------------------
// Access

MuxSession& CMainFrame::Session() {
    return binding->Session();
}

MonitorState& CMainFrame::State() {
    return Session().State();
}

const StatisticsLog& CMainFrame::Statistics() const {
    return binding->Session().Statistics();
}

QTimer& CMainFrame::PanelRefreshTimer() {
    return binding->PanelRefreshTimer();
}

QTimer& CMainFrame::LinkWatchTimer() {
    return binding->LinkWatchTimer();
}

QTimer& CMainFrame::LogFlushTimer() {
    return binding->LogFlushTimer();
}

QAction* CMainFrame::Action(int commandId) const {
    return menus->Action(commandId);
}

QLabel* CMainFrame::Pane(int indicatorId) const {
    return panes ? panes->Pane(indicatorId) : nullptr;
}

QString CMainFrame::PaneText(int indicatorId) const {
    return panes ? panes->Text(indicatorId) : QString();
}

QMenu* CMainFrame::Menu(const QString& title) const {
    return menus->Menu(title);
}

QList<CKestrelSettings*> CMainFrame::Panels() const {
    QList<CKestrelSettings*> all;
    for (int i = 0; clientSplitter && i < 4; ++i) {
        all << clientSplitter->Panel(i);
    }
    return all;
}

CKestrelSettings* CMainFrame::ActivePanel() const {
    return clientSplitter ? clientSplitter->ActivePanel() : nullptr;
}

PortSettings CMainFrame::Settings() const {
    return monitorCommands->Settings();
}

QStringList CMainFrame::RecentFiles() const {
    return documents->RecentFiles();
}

}  // namespace kestrel
