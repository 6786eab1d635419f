// The status-bar panes: their widths, their What's This texts and their live texts.
#include "frame/StatusPanes.h"

#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QSizeGrip>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
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

}  // namespace

// A pane that, too narrow for its text, ends it with an ellipsis and holds the whole text in
// its tooltip, beside any note the window gives about it.
class PaneLabel : public QLabel {
public:
    using QLabel::QLabel;
    void SetNote(const QString& words) {
        note = words;
        Tell();
    }
    // After a new text or width.
    void Tell() {
        QString tip = Cut() ? text() : QString();
        if (!note.isEmpty()) {
            tip = tip.isEmpty() ? note : tip + QLatin1Char('\n') + note;
        }
        if (toolTip() != tip) {
            setToolTip(tip);
        }
    }
    // The width the text needs whole, frame and margins included.
    int Whole() const { return fontMetrics().horizontalAdvance(text()) + width() - Room(); }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!Cut()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter p(this);
        drawFrame(&p);
        const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
        style()->drawItemText(&p, r, static_cast<int>(alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideRight, r.width()),
                              foregroundRole());
    }
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Tell();
    }

private:
    int Room() const { return contentsRect().width() - 2 * margin(); }
    bool Cut() const { return fontMetrics().horizontalAdvance(text()) > Room(); }

    QString note;
};

// The panes side by side, spaced as the status bar spaces its widgets, each as wide as its
// placeholder while there is room. In a window narrower than all of them (the smallest
// window, large fonts on a small screen, the link's indicator beside them) they first give up
// what their placeholders have beyond their texts; then the widest are cut down, their texts
// ending with an ellipsis, so that the status bar never makes the window wider than the
// screen. The panes keep fixed sizes between two arrangements: in a row wide enough a new
// text repaints its pane without laying out anything.
class PaneRow : public QWidget {
public:
    explicit PaneRow(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("statusPanes"));
        setAccessibleName(QStringLiteral("Status panes"));
    }
    // Places the pane after the others, at its placeholder's width.
    void Add(PaneLabel* pane) {
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
    // A pane's text changed: only a row too narrow for its placeholders shares its room anew.
    void TextChanged(PaneLabel& pane) {
        if (sized && width() < sizeHint().width()) {
            Arrange();
        }
        pane.Tell();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        sized = true;
        Arrange();
    }

private:
    static constexpr int kSpacing = 6;  // the status bar's own spacing
    int Gaps() const { return panes.empty() ? 0 : kSpacing * static_cast<int>(panes.size() - 1); }
    int Smallest() const { return 3 * fontMetrics().averageCharWidth(); }
    void Arrange() {
        const int room = std::max(0, width() - Gaps());
        int wanted = 0;
        int needed = 0;
        std::vector<int> need;
        for (const auto& [pane, preferred] : panes) {
            need.push_back(std::min(preferred, pane->Whole()));
            wanted += preferred;
            needed += need.back();
        }
        // Too narrow for the texts: the widest panes are cut down to a common width, which
        // leaves the short texts (the port, the data) whole as long as possible.
        int level = 0;
        if (room < needed) {
            int low = Smallest();
            int high = *std::max_element(need.begin(), need.end());
            while (low < high) {
                const int mid = (low + high + 1) / 2;
                int sum = 0;
                for (const int n : need) {
                    sum += std::clamp(n, Smallest(), mid);
                }
                if (sum <= room) {
                    low = mid;
                } else {
                    high = mid - 1;
                }
            }
            level = low;
        }
        int x = 0;
        for (std::size_t i = 0; i < panes.size(); ++i) {
            const auto& [pane, preferred] = panes[i];
            int w = preferred;
            if (room < wanted && room >= needed) {
                w = need[i] + (preferred - need[i]) * (room - needed) / (wanted - needed);
            } else if (room < wanted) {
                w = std::clamp(need[i], Smallest(), level);
            }
            if (pane->width() != w) {
                pane->setFixedWidth(w);
            }
            pane->move(x, 0);
            x += w + kSpacing;
        }
    }

    std::vector<std::pair<PaneLabel*, int>> panes;
    // Whether the bar has given the row its width yet; until then it has none to share.
    bool sized = false;
};

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
    row = new PaneRow(column);
    const QFontMetrics fm(bar->font());
    for (const StatusPane& pane : kStatusPanes) {
        auto* label = new PaneLabel(QString::fromLatin1(pane.placeholder), row);
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
    // Beside the panes for as long as the link is looked for: a message would cover the
    // panes, and go while the looking goes on.
    retrying = new QLabel(bar);
    retrying->setObjectName(QStringLiteral("linkRetry"));
    retrying->setAccessibleName(QStringLiteral("Reconnecting"));
    retrying->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    retrying->setContentsMargins(2, 0, 2, 0);
    retrying->setTextFormat(Qt::PlainText);
    // Hidden before it joins the bar, whose layout would otherwise count it in the size the
    // window first takes.
    retrying->hide();
    bar->addPermanentWidget(retrying);
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

void StatusPanes::SetNote(int indicatorId, const QString& note) {
    if (const auto it = panes.find(indicatorId); it != panes.end()) {
        it->second->SetNote(note);
    }
}

void StatusPanes::ShowHint(bool shown, std::function<void()> opened) {
    hint->setVisible(shown);
    hintOpened = std::move(opened);
}

void StatusPanes::SetText(int indicatorId, const std::string& text) {
    if (const auto it = panes.find(indicatorId); it != panes.end()) {
        PaneLabel* l = it->second;
        const QString t = QString::fromStdString(text);
        if (l->text() != t) {
            l->setText(t);
            row->TextChanged(*l);
        }
        l->setEnabled(true);
    }
}

void StatusPanes::ShowRetrying(const MuxSession& session) {
    const LinkStatus link = session.Link();
    const bool looking = link.state == LinkState::Reconnecting;
    if (looking) {
        using namespace std::chrono;
        // To the next whole second, so that the time shown is never before the try.
        const milliseconds wait =
            std::max(seconds(0), ceil<seconds>(link.nextTry - steady_clock::now()));
        const QString at = QTime::currentTime()
                               .addMSecs(static_cast<int>(wait.count()))
                               .toString(QStringLiteral("HH:mm:ss"));
        const QString text = QStringLiteral("Reconnecting: next try at %1").arg(at);
        if (retrying->text() != text) {
            retrying->setText(text);
        }
        const QString tip =
            QStringLiteral("Link lost, reconnecting to %1").arg(QString::fromStdString(link.path));
        if (retrying->toolTip() != tip) {
            retrying->setToolTip(tip);
        }
    }
    if (retrying->isHidden() == looking) {
        retrying->setVisible(looking);
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
    ShowRetrying(session);
    // Once a port has opened the user knows how: a port closed later on purpose, or a device
    // that went, does not bring the line back, and the form above keeps its height.
    if (!hint->isHidden() && session.IsLinkUp()) {
        hint->hide();
        if (hintOpened) {
            hintOpened();
        }
    }
}

}  // namespace kestrel
