// The status-bar panes: their widths, their What's This texts and their live texts.
#include "frame/StatusPanes.h"

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

#include "frame/CommandIds.h"
#include "session/MuxSession.h"
#include "session/StatusTexts.h"

namespace kestrel {

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

StatusPanes::StatusPanes(QMainWindow& window) : bar(new QStatusBar(&window)) {
    bar->setObjectName(QStringLiteral("statusBar"));
    window.setStatusBar(bar);
    const QFontMetrics fm(bar->font());
    for (const StatusPane& pane : kStatusPanes) {
        auto* label = new QLabel(QString::fromLatin1(pane.placeholder), bar);
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
        bar->addWidget(label);
        panes[pane.id] = label;
    }
}

QLabel* StatusPanes::Pane(int indicatorId) const {
    const auto it = panes.find(indicatorId);
    return it == panes.end() ? nullptr : it->second;
}

QString StatusPanes::Text(int indicatorId) const {
    QLabel* l = Pane(indicatorId);
    return l ? l->text() : QString();
}

void StatusPanes::SetText(int indicatorId, const std::string& text) {
    if (QLabel* l = Pane(indicatorId)) {
        const QString t = QString::fromStdString(text);
        if (l->text() != t) {
            l->setText(t);
        }
        l->setEnabled(true);
    }
}

void StatusPanes::Update(const MuxSession& session) {
    const MonitorState& state = session.State();
    SetText(cmd::kIndicatorNearErrors, NearErrorsText(state.nearErrorsTotal.load()));
    SetText(cmd::kIndicatorFarErrors, FarErrorsText(state.farErrorsTotal.load()));
    SetText(cmd::kIndicatorCom, ComText(session.PortNumber()));
    SetText(cmd::kIndicatorPort, PortText(session.IsPortOpen()));
    SetText(cmd::kIndicatorMux, MuxText(state.connected.load()));
    SetText(cmd::kIndicatorData, state.noData.load() ? "No Data" : state.spinnerText());
    SetText(cmd::kIndicatorTime, ElapsedText(session.Elapsed()));
}

}  // namespace kestrel
