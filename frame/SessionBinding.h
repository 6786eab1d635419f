// The window's hold on its session: the tick timers, and what the session tells the window.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "session/MuxSession.h"

namespace kestrel {

class CAlarmBar;
class CKestrelSettings;

// Owns the window's one session and drives it from three QTimers: the panel refresh, the link
// watch and the statistics flush. What the session tells comes back here and is shown through
// the view the window gives.
class SessionBinding : public QObject, public SessionObserver {
public:
    struct View {
        std::function<CAlarmBar*()> alarmBar;
        std::function<CKestrelSettings*()> activePanel;
        // The window's update handlers: check marks and pane texts.
        std::function<void()> update;
        // A message that stops nothing (a statistics file failed).
        std::function<void(const QString& message)> notice;
        // The link is lost and being looked for (the words to show), or not (empty): the
        // port pane's tooltip and a short status-bar message.
        std::function<void(const QString& lost)> linkLost;
        // An open whose outcome came later failed; told as any failed "Port Open".
        std::function<void(const LinkStatus& status)> openFailed;
        // After each panel refresh, once the LEDs are painted: the views of the line's memory.
        std::function<void()> refreshed;
    };

    // `options` describe the session; its observer is this binding.
    SessionBinding(SessionOptions options, View view);
    ~SessionBinding() override;  // the receive thread is joined before anything else goes

    MuxSession& Session() { return *session; }
    const MuxSession& Session() const { return *session; }

    QTimer& PanelRefreshTimer() { return panelRefreshTimer; }
    QTimer& LinkWatchTimer() { return linkWatchTimer; }
    QTimer& LogFlushTimer() { return logFlushTimer; }

    // The supervision ticks the two timers run; each ends with the update handlers.
    void PanelRefresh();
    void LinkWatch();
    // One flush pass; the next is scheduled only at the end of a successful one.
    void LogFlush();

    // BER texts from the receive thread arrive here, posted to the user-interface thread.
    void ApplyBerTexts(const std::array<std::string, 4>& texts);

    // SessionObserver
    void PanelRefreshed(const PanelPicture& picture) override;
    void BerTexts(const std::array<std::string, 4>& texts) override;
    void StatisticsNotice(const std::string& message) override;
    void HistoryProblem(const std::string& message) override;
    void LinkStatusChanged(const LinkStatus& status) override;
    void PortOpenFailed(const LinkStatus& status) override;

    // The words the window shows while the link is lost.
    static QString LinkLostText(const std::string& path);

private:
    View view;
    QTimer panelRefreshTimer;
    QTimer linkWatchTimer;
    QTimer logFlushTimer;
    bool linkLostShown = false;
    // Last, so that it goes first.
    std::unique_ptr<MuxSession> session;
};

}  // namespace kestrel
