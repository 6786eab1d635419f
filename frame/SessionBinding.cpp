// The session's timers and its news on the window: LEDs, BER fields, notices.
#include "frame/SessionBinding.h"

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/Refresh.h"

namespace kestrel {

SessionBinding::SessionBinding(SessionOptions options, View v) : view(std::move(v)) {
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
    options.observer = this;
    // The receive thread tells of a lost or found device at once; the window takes the news
    // on its own thread. Posting never waits, and the session (and with it the thread) goes
    // before this object, whose destruction drops what is still queued.
    options.linkNews = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (session) {
                    session->PollLink();
                }
            },
            Qt::QueuedConnection);
    };
    session = std::make_unique<MuxSession>(std::move(options));
}

SessionBinding::~SessionBinding() {
    logFlushTimer.stop();
    // A window destroyed without its close handler still must not leave the thread running
    // over members that are about to go, nor posting to them.
    session.reset();
}

void SessionBinding::PanelRefresh() {
    session->PanelRefresh();
    // Also the elapsed-time pane's once-a-second step.
    view.update();
}

void SessionBinding::LinkWatch() {
    session->LinkWatch();
    view.update();
}

void SessionBinding::LogFlush() {
    logFlushTimer.stop();
    if (session->LogFlush()) {
        logFlushTimer.start();
    }
    view.update();
}

void SessionBinding::PanelRefreshed(const PanelPicture& picture) {
    if (CAlarmBar* bar = view.alarmBar()) {
        PaintAlarmBar(*bar, picture);
    }
    if (CKestrelSettings* panel = view.activePanel()) {
        PaintTributaryLeds(*panel, picture);
    }
    if (view.refreshed) {
        view.refreshed();
    }
}

void SessionBinding::BerTexts(const std::array<std::string, 4>& texts) {
    // Runs on the receive thread under the frame mutex: post and never wait.
    QMetaObject::invokeMethod(
        this, [this, texts] { ApplyBerTexts(texts); }, Qt::QueuedConnection);
}

void SessionBinding::ApplyBerTexts(const std::array<std::string, 4>& texts) {
    // With no form to show them the texts are dropped.
    if (CKestrelSettings* panel = view.activePanel()) {
        panel->SetBerTexts(texts);
    }
    // The frame that brought them also moved the star and the error totals.
    view.update();
}

void SessionBinding::StatisticsNotice(const std::string& message) {
    // Recording stopped; the monitoring goes on, so the box waits for nobody.
    view.notice(QString::fromStdString(message));
}

void SessionBinding::HistoryProblem(const std::string& message) {
    // It may come while the session is being built, before the window is there to own a
    // box: the notice waits for the event loop.
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(this, [this, text] { view.notice(text); }, Qt::QueuedConnection);
}

QString SessionBinding::LinkLostText(const std::string& path) {
    return QStringLiteral("Link lost, reconnecting to %1").arg(QString::fromStdString(path));
}

void SessionBinding::LinkStatusChanged(const LinkStatus& status) {
    // Each failed attempt may be news too; the words are shown once per loss.
    const bool lost = status.state == LinkState::Reconnecting;
    if (lost != linkLostShown) {
        linkLostShown = lost;
        if (view.linkLost) {
            view.linkLost(lost ? LinkLostText(status.path) : QString());
        }
    }
    view.update();
}

void SessionBinding::PortOpenFailed(const LinkStatus& status) {
    if (view.openFailed) {
        view.openFailed(status);
    }
    view.update();
}

}  // namespace kestrel
