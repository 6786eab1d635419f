// The main window: a view and a set of commands over one MUX session, with its start-up and
// close orders, bars, client splitter and placement.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "display/LedIcons.h"
#include "frame/CDeviceDlg.h"
#include "frame/PortSettings.h"
#include "frame/UserPrompts.h"
#include "link/CComm.h"
#include "link/LinkStatus.h"
#include "monitor/MonitorState.h"
#include "store/SettingsStore.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace kestrel {

class CAlarmBar;
class CKestrelDoc;
class CKestrelSettings;
class ClientSplitter;
class CommandMenus;
class DocumentCommands;
class HelpCommands;
class LineViews;
class MonitorCommands;
class MuxSession;
class SessionBinding;
class StatisticsLog;
class StatusPanes;

// What the window is built from. The program passes the real parts; tests pass fakes.
struct FrameEnvironment {
    // The process-wide monitor state; the window's session decodes into it.
    MonitorState* state = nullptr;
    const LedIcons* icons = nullptr;
    SettingsStore* settings = nullptr;
    CKestrelDoc* document = nullptr;
    UserPrompts* prompts = nullptr;
    std::unique_ptr<SerialDeviceFactory> devices;
    DeviceResolver resolver;
    // Blocking wait of the start-up step and of the statistics rows; runs no event loop.
    std::function<void(std::chrono::milliseconds)> sleep;
    // Calendar time of the statistics rows; empty: the system clock.
    std::function<std::time_t()> wallClock;
    // Monotonic clock of the elapsed-time pane.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // One line per step of the start-up and close orders; may be empty.
    std::function<void(const char*)> trace;
    // False in tests that call the ticks themselves.
    bool runTimers = true;
    // How often a device that went is looked for.
    RetryPeriods retry;
    // The serial adapters present, for "Device..."; empty: the system's.
    DeviceLister listDevices;
    // Whether a device is at a path, for the line that tells how to start; empty: the
    // file system's answer.
    std::function<bool(const std::string& path)> deviceThere;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(FrameEnvironment environment, QWidget* parent = nullptr);
    // How long the status bar says that the link is lost.
    static constexpr int kLinkLostMessageMs = 5000;
    ~CMainFrame() override;

    // The creation handler: 0 to go on, -1 when creation failed.
    int OnCreate();
    // The close handler; false when the document refused and nothing changed. Runs once.
    bool OnClose();

    // Placement and port state in the settings store.
    bool ReadWindowPlacement(WindowPlacement& placement) const;
    void WriteWindowPlacement(const WindowPlacement& placement);
    WindowPlacement CurrentPlacement() const;
    // The size a first start wants: one form with the bars around it.
    QSize DefaultSize() const;
    // The frame the window manager draws around the window, or an estimate before it is shown.
    QMargins FrameMargins() const;
    // Without a stored placement: the default size, within the screen with the frame around it.
    void PlaceFirstTime();
    void ApplyPlacement(const WindowPlacement& placement);

    // Every update handler: menu check marks, enabled states and the pane texts. Run after
    // each supervision tick, BER post and command, and when a menu opens; each sets a widget
    // only when its state changed.
    void RunUpdateHandlers();

    // Commands the program and tests call directly.
    bool StartStatistics(const QString& chosen, QString* failure = nullptr);
    bool OpenDocumentFile(const QString& path);
    void UpdateTitle();

    // The ticks the timers run, each ending with the update handlers, and the BER texts
    // posted from the receive thread.
    void PanelRefresh();
    void LinkWatch();
    void LogFlush();
    void ApplyBerTexts(const std::array<std::string, 4>& texts);

    // The window's session and its timers.
    MuxSession& Session();
    MonitorState& State();
    const StatisticsLog& Statistics() const;
    QTimer& PanelRefreshTimer();
    QTimer& LinkWatchTimer();
    QTimer& LogFlushTimer();

    // Access for the other parts of the window and for tests.
    QAction* Action(int commandId) const;
    QLabel* Pane(int indicatorId) const;
    QString PaneText(int indicatorId) const;
    QMenu* Menu(const QString& title) const;
    CKestrelSettings* ActivePanel() const;
    ClientSplitter* Splitter() const { return clientSplitter; }
    CAlarmBar* AlarmBar() const { return alarmBarWnd; }
    QToolBar* ToolBar() const { return toolBar; }
    PortSettings Settings() const;
    QStringList RecentFiles() const;

signals:
    // The close handler has run to its end; the window is going.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Trace(const char* step) const;
    // Every pane's form; none before the client is built.
    QList<CKestrelSettings*> Panels() const;
    void BindViewCommands();
    void BuildAlarmBar();
    void ShowLinkLost(const QString& lost);

    FrameEnvironment env;
    std::unique_ptr<SessionBinding> binding;
    std::unique_ptr<CommandMenus> menus;
    std::unique_ptr<DocumentCommands> documents;
    std::unique_ptr<MonitorCommands> monitorCommands;
    std::unique_ptr<HelpCommands> help;
    std::unique_ptr<StatusPanes> panes;
    std::unique_ptr<LineViews> lineViews;

    ClientSplitter* clientSplitter = nullptr;
    QToolBar* toolBar = nullptr;
    QToolBar* alarmBar = nullptr;
    CAlarmBar* alarmBarWnd = nullptr;
    bool closed = false;
    // The stored placement had to be moved or resized to fit a screen.
    bool placementClamped = false;
};

}  // namespace kestrel
