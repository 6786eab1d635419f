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

}  // namespace kestrel
