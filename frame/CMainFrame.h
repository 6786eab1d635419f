// The main window: menus, bars, client splitter, serial link, supervision timers, close order.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/SettingsStore.h"
#include "display/LedIcons.h"
#include "frame/PortSettings.h"
#include "frame/UserPrompts.h"
#include "link/CComm.h"
#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/MonitorState.h"
#include "session/StatisticsHooks.h"
#include "session/Supervision.h"
#include "stats/StatisticsLog.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;

namespace kestrel {

class CAlarmBar;
class CKestrelDoc;
class CKestrelSettings;
class ClientSplitter;

// What the window is built from. The program passes the real parts; tests pass fakes.
struct FrameEnvironment {
    MonitorState* state = nullptr;
    const LedIcons* icons = nullptr;
    SettingsStore* settings = nullptr;
    CKestrelDoc* document = nullptr;
    UserPrompts* prompts = nullptr;
    std::unique_ptr<SerialDeviceFactory> devices;
    DeviceResolver resolver;
    // Blocking wait of the start-up step; runs no event loop.
    std::function<void(std::chrono::milliseconds)> sleep;
    // Calendar time of the statistics rows; empty: the system clock.
    std::function<std::time_t()> wallClock;
    // Monotonic clock of the elapsed-time pane.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // One line per step of the start-up and close orders; may be empty.
    std::function<void(const char*)> trace;
    // False in tests that call the ticks themselves.
    bool runTimers = true;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(FrameEnvironment environment, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The creation handler: 0 to go on, -1 when creation failed.
    int OnCreate();
    // The close handler; false when the document refused and nothing changed. Runs once.
    bool OnClose();

    // Placement and port state in the settings store.
    bool ReadWindowPlacement(WindowPlacement& placement) const;
    void WriteWindowPlacement(const WindowPlacement& placement);
    void ReadPortState();
    void WritePortState();
    WindowPlacement CurrentPlacement() const;
    // The size of a first start: one form with the bars around it.
    QSize DefaultSize() const;
    void ApplyPlacement(const WindowPlacement& placement);

    // Every update handler: menu check marks, enabled states and the pane texts. Run after
    // each supervision tick, BER post and command, and when a menu opens; each sets a widget
    // only when its state changed.
    void RunUpdateHandlers();
    void OnUpdatePortOpen();
    void OnUpdateBerInterval();
    void OnUpdateBerFreeze();
    void OnUpdateStatisticsOn();
    void OnUpdateStatisticsOff();
    void OnUpdateNearErrors();
    void OnUpdateFarErrors();
    void OnUpdateComPort();
    void OnUpdatePortState();
    void OnUpdateMuxState();
    void OnUpdateDataState();
    void OnUpdateElapsedTime();

    // Commands.
    void OnPortOpen();
    void OnPortSettings();
    void OnStatisticsOn();
    // "On" with the name already chosen, as the dialog would give it; true when statistics
    // went on. Also the start of a recording asked for on the command line, which passes
    // `failure` to receive the reason instead of a notice.
    bool StartStatistics(const QString& chosen, QString* failure = nullptr);
    void OnStatisticsOff();
    void LogFlush();
    void OnBerInterval(int commandId);
    void OnBerReset();
    void OnBerFreeze();
    void OnFileNew();
    void OnFileOpen();
    bool OnFileSave();
    bool OnFileSaveAs();
    void OnOpenRecentFile(int index);
    bool OpenDocumentFile(const QString& path);
    void OnFilePageSetup();
    void OnHelp();
    void OnContextHelp();
    void OnAppAbout();
    void OnWindowSplit();

    // The supervision ticks the two timers run; each ends with the update handlers.
    void PanelRefresh();
    void LinkWatch();

    // BER texts from the receive thread arrive here, posted to the user-interface thread.
    void ApplyBerTexts(const std::array<std::string, 4>& texts);

    StatisticsLog& Statistics() { return *statisticsLog; }
    QTimer& LogFlushTimer() { return logFlushTimer; }

    // Access for the other parts of the window and for tests.
    QAction* Action(int commandId) const;
    QLabel* Pane(int indicatorId) const;
    QString PaneText(int indicatorId) const;
    QMenu* Menu(const QString& title) const;
    const QList<QMenu*>& Menus() const { return menus; }
    CKestrelSettings* ActivePanel() const;
    ClientSplitter* Splitter() const { return clientSplitter; }
    CAlarmBar* AlarmBar() const { return alarmBarWnd; }
    QToolBar* ToolBar() const { return toolBar; }
    CComm& Comm() { return *comm; }
    std::mutex& FrameMutex() { return frameMutex; }
    const PortSettings& Settings() const { return portSettings; }
    MonitorState& State() { return state; }
    QTimer& PanelRefreshTimer() { return panelRefreshTimer; }
    QTimer& LinkWatchTimer() { return linkWatchTimer; }
    QStringList RecentFiles() const { return recentFiles; }
    void UpdateTitle();

signals:
    // The close handler has run to its end; the window is going.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class QueuedBerSink : public BerSink {
    public:
        explicit QueuedBerSink(CMainFrame* frame) : frame(frame) {}
        void BerTexts(const std::array<std::string, 4>& texts) override;

    private:
        CMainFrame* frame;
    };

    void Trace(const char* step) const;
    QAction* AddCommand(QMenu* menu, int id, const QString& text, const QString& keys = {});
    void BuildMenus();
    void FollowWithUpdate(QAction* action);
    void BuildToolBar();
    void BuildStatusBar();
    void BuildAlarmBar();
    void RebuildRecentFileMenu();
    void AddRecentFile(const QString& path);
    void SetPaneText(int indicatorId, const std::string& text);

    FrameEnvironment env;
    MonitorState& state;

    // The members the rest of the program knows by name.
    ClientSplitter* clientSplitter = nullptr;
    PortSettings portSettings;
    std::unique_ptr<CComm> comm;
    std::mutex frameMutex;
    QStatusBar* statusBar = nullptr;
    QToolBar* toolBar = nullptr;
    QToolBar* alarmBar = nullptr;
    CAlarmBar* alarmBarWnd = nullptr;
    QTimer panelRefreshTimer;
    QTimer linkWatchTimer;
    QTimer logFlushTimer;

    std::unique_ptr<StatisticsLog> statisticsLog;
    StatisticsLogHooks statisticsHooks;
    BerMeter meter;
    FrameParser parser;
    QueuedBerSink berSink;
    Supervision supervision;
    std::chrono::steady_clock::time_point startTime;

    std::map<int, QAction*> actions;
    std::map<int, QLabel*> panes;
    QList<QMenu*> menus;
    QMenu* fileMenu = nullptr;
    QAction* recentSeparator = nullptr;
    QList<QAction*> recentActions;
    QStringList recentFiles;
    bool closed = false;
    // The stored placement had to be moved or resized to fit a screen.
    bool placementClamped = false;
    QPointer<QWidget> helpWindow;
    int pageSize = 0;
    bool pageLandscape = false;
};

}  // namespace kestrel
