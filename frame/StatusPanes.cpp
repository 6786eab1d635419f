// The status-bar panes: their widths, their What's This texts and their live texts.
#include "frame/StatusPanes.h"

#include <QLabel>
#include <QMainWindow>
#include <QSizeGrip>
#include <QStatusBar>
#include <QVBoxLayout>
#include <vector>

#include "display/Refresh.h"
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

// The panes side by side, spaced as the status bar spaces its widgets, each as wide as its
// placeholder while there is room. In a window narrower than all of them (large fonts on a
// small screen) they give up width in proportion, so that the status bar never makes the
// window wider than the screen. The panes keep fixed sizes between two arrangements: a new
// text repaints its pane without laying out anything.
class PaneRow : public QWidget {
public:
    explicit PaneRow(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("statusPanes"));
        setAccessibleName(QStringLiteral("Status panes"));
    }
    // Places the pane after the others, at its placeholder's width.
    void Add(QLabel* pane) {
        pane->move(sizeHint().width() + (panes.empty() ? 0 : kSpacing), 0);
        panes.push_back({pane, pane->width()});
        setFixedHeight(pane->height());
        updateGeometry();
    }
    QSize sizeHint() const override {
        int wanted = 0;
        for (const auto& [pane, width] : panes) {
            wanted += width;
        }
        return {wanted + Gaps(), height()};
    }
    QSize minimumSizeHint() const override {
        return {static_cast<int>(panes.size()) * Smallest() + Gaps(), height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        Arrange();
    }

private:
    static constexpr int kSpacing = 6;  // the status bar's own spacing
    int Gaps() const { return panes.empty() ? 0 : kSpacing * static_cast<int>(panes.size() - 1); }
    int Smallest() const { return 3 * fontMetrics().averageCharWidth(); }
    void Arrange() {
        const int wanted = sizeHint().width() - Gaps();
        const int room = std::max(0, width() - Gaps());
        int x = 0;
        for (const auto& [pane, preferred] : panes) {
            const int w = room >= wanted || wanted == 0
                              ? preferred
                              : std::max(Smallest(), preferred * room / wanted);
            if (pane->width() != w) {
                pane->setFixedWidth(w);
            }
            pane->move(x, 0);
            x += w + kSpacing;
        }
    }

    std::vector<std::pair<QLabel*, int>> panes;
};

}  // namespace

StatusPanes::StatusPanes(QMainWindow& window) : bar(new QStatusBar(&window)) {
    bar->setObjectName(QStringLiteral("statusBar"));
    window.setStatusBar(bar);
    // One item in the bar: the hint, on a line of its own above the panes since they fill
    // the bar at the window's default width, and the panes. A message the window shows for a
    // while (a link lost) covers both, as it covered the panes alone, and both come back
    // after it.
    auto* column = new QWidget(bar);
    column->setObjectName(QStringLiteral("statusLines"));
    auto* lines = new QVBoxLayout(column);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(0);
    // Shown from the start, so that the window's first size has room for it.
    hint = new QLabel(QString::fromLatin1(kPortHint), column);
    hint->setObjectName(QStringLiteral("portHint"));
    hint->setAccessibleName(QStringLiteral("How to start"));
    hint->setTextFormat(Qt::PlainText);
    // Never wider than the window makes it: the rest is clipped, and the tooltip has it all.
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    hint->setToolTip(QString::fromLatin1(kPortHint));
    auto* row = new PaneRow(column);
    const QFontMetrics fm(bar->font());
    for (const StatusPane& pane : kStatusPanes) {
        auto* label = new QLabel(QString::fromLatin1(pane.placeholder), row);
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
        row->Add(label);
        panes[pane.id] = label;
    }
    lines->addWidget(hint);
    lines->addWidget(row);
    bar->addWidget(column, 1);
}

QSize StatusPanes::SizeWanted() const {
    QSize wanted = bar->sizeHint();
    const auto* grip = bar->findChild<QSizeGrip*>(QString(), Qt::FindDirectChildrenOnly);
    if (grip && grip->isHidden() && bar->isSizeGripEnabled() && bar->layout()) {
        wanted.rwidth() += grip->sizeHint().width() + bar->layout()->spacing();
    }
    return wanted;
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

    const bool nowStale = state.noData.load() || !state.connected.load();
    if (nowStale != stale) {
        stale = nowStale;
        ShowStale(*panes[cmd::kIndicatorNearErrors], stale);
        ShowStale(*panes[cmd::kIndicatorFarErrors], stale);
    }
    // Once a port has opened the user knows how: a port closed later on purpose, or a device
    // that went, does not bring the line back, and the form above keeps its height.
    if (!hint->isHidden() && session.IsLinkUp()) {
        hint->hide();
    }
}

}  // namespace kestrel
