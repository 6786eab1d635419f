// The client splitter: four forms in two rows whose column positions move together.
#include "frame/ClientSplitter.h"

#include <QApplication>
#include <QScrollArea>

#include "display/CKestrelSettings.h"

namespace kestrel {

namespace {
constexpr int kBig = 1 << 20;  // "all of it" for QSplitter::setSizes
}

ClientSplitter::ClientSplitter(const LedIcons& icons, QWidget* parent)
    : QSplitter(Qt::Vertical, parent) {
    setObjectName(QStringLiteral("clientSplitter"));
    setChildrenCollapsible(true);
    for (int r = 0; r < 2; ++r) {
        rows[r] = new QSplitter(Qt::Horizontal, this);
        rows[r]->setChildrenCollapsible(true);
        addWidget(rows[r]);
        for (int c = 0; c < 2; ++c) {
            const int i = r * 2 + c;
            panels[i] = new CKestrelSettings(icons);
            areas[i] = new QScrollArea;
            areas[i]->setObjectName(QStringLiteral("pane%1").arg(i));
            areas[i]->setWidget(panels[i]);
            areas[i]->setWidgetResizable(false);
            areas[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            areas[i]->setFocusPolicy(Qt::StrongFocus);
            areas[i]->setFrameShape(QFrame::NoFrame);
            areas[i]->setMinimumSize(0, 0);
            rows[r]->addWidget(areas[i]);
        }
        connect(rows[r], &QSplitter::splitterMoved, this, [this, r] {
            if (syncing) {
                return;
            }
            // The two rows share their column positions, as one splitter grid does.
            syncing = true;
            rows[1 - r]->setSizes(rows[r]->sizes());
            syncing = false;
            OnSplitterMoved();
        });
    }
    connect(this, &QSplitter::splitterMoved, this, [this] { OnSplitterMoved(); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
    Unsplit();
}

bool ClientSplitter::IsPaneVisible(int index) const {
    return rowShown[index / 2] && colShown[index % 2];
}

int ClientSplitter::VisiblePaneCount() const {
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        n += IsPaneVisible(i) ? 1 : 0;
    }
    return n;
}

void ClientSplitter::Split() {
    setSizes({kBig, kBig});
    syncing = true;
    rows[0]->setSizes({kBig, kBig});
    rows[1]->setSizes({kBig, kBig});
    syncing = false;
    rowShown = {true, true};
    colShown = {true, true};
}

void ClientSplitter::Unsplit() {
    setSizes({kBig, 0});
    syncing = true;
    rows[0]->setSizes({kBig, 0});
    rows[1]->setSizes({kBig, 0});
    syncing = false;
    rowShown = {true, false};
    colShown = {true, false};
    SetActive(0);
}

void ClientSplitter::NextPane(bool forward) {
    for (int step = 1; step <= 4; ++step) {
        const int i = (active + (forward ? step : 4 - step)) % 4;
        if (IsPaneVisible(i)) {
            Activate(i);
            return;
        }
    }
}

void ClientSplitter::Activate(int index) {
    SetActive(index);
    areas[index]->setFocus(Qt::OtherFocusReason);
}

void ClientSplitter::OnFocusChanged(QWidget* now) {
    for (int i = 0; i < 4; ++i) {
        if (now && (now == areas[i] || areas[i]->isAncestorOf(now))) {
            SetActive(i);
            return;
        }
    }
}

void ClientSplitter::OnSplitterMoved() {
    // Only a handle the user moved gets here, so the sizes are laid out ones.
    const QList<int> r = sizes();
    const QList<int> c = rows[0]->sizes();
    for (int i = 0; i < 2; ++i) {
        rowShown[i] = r.value(i) > 0;
        colShown[i] = c.value(i) > 0;
    }
    // A pane squeezed to nothing cannot stay the active one.
    if (!IsPaneVisible(active)) {
        for (int i = 0; i < 4; ++i) {
            if (IsPaneVisible(i)) {
                SetActive(i);
                return;
            }
        }
    }
}

void ClientSplitter::SetActive(int index) {
    if (index == active) {
        return;
    }
    active = index;
    emit ActivePanelChanged(panels[active]);
}

}  // namespace kestrel
