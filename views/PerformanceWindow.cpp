// The Performance window: the chosen object's intervals in a table and the last day's timeline.
#include "views/PerformanceWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <utility>

#include "views/LineTexts.h"
#include "views/TimelineStrip.h"

namespace kestrel {

using namespace performance_column;

namespace {

constexpr int kDefaultHeight = 760;

// A row's identity across rebuilds, to keep the user's selection.
bool SameInterval(const PerformanceRow& a, const PerformanceRow& b) {
    return a.kind == b.kind && a.current == b.current && a.span.start == b.span.start;
}

}  // namespace

// No parent and a plain window, not a dialog: either would make it a transient the window
// manager keeps above the main window and minimises with it.
PerformanceWindow::PerformanceWindow(LineSource source)
    : QDialog(nullptr, Qt::Window), source(std::move(source)) {
    Named(this, "PerformanceWindow", QStringLiteral("Performance"));
    setWindowTitle(QStringLiteral("Performance"));
    setModal(false);
    setSizeGripEnabled(true);

    chooser = Named(new QComboBox(this), "performanceObject", QStringLiteral("Object"));
    for (int o = 0; o < kObjectCount; ++o) {
        chooser->addItem(ObjectText(o), o);
    }
    auto* chooserLabel = new QLabel(QStringLiteral("&Object:"), this);
    chooserLabel->setBuddy(chooser);
    connect(chooser, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetObject(chooser->itemData(index).toInt()); });

    table =
        Named(new QTableWidget(0, kColumns, this), "performanceTable", QStringLiteral("Intervals"));
    table->setHorizontalHeaderLabels(PerformanceHeaders());
    for (int c = kAvailableShare; c <= kDmShare; ++c) {
        table->horizontalHeaderItem(c)->setToolTip(PerformanceHeaderTip(c));
    }
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setTabKeyNavigation(false);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().lineSpacing() + 8);
    // Copy is the table's one action: Ctrl+C and the context menu (mouse or menu key).
    auto* copy = new QAction(QStringLiteral("&Copy"), table);
    copy->setObjectName(QStringLiteral("performanceCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &PerformanceWindow::CopyRows);
    table->addAction(copy);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The columns are as wide as the widest texts they can hold, set once: they neither
    // jump nor cut a "fails" off as the figures grow, and keep what the user gives them.
    table->ensurePolished();
    rows = {WidestPerformanceRow()};
    worst = 0;
    table->setRowCount(1);
    FillRow(0);
    table->resizeColumnsToContents();
    table->setRowCount(0);
    rows.clear();
    worst = -1;

    nearStrip = new TimelineStrip(kNearObject, this);
    nearStrip->setObjectName(QStringLiteral("nearTimeline"));
    farStrip = new TimelineStrip(kFarObject, this);
    farStrip->setObjectName(QStringLiteral("farTimeline"));
    tribStrip = new TimelineStrip(kFirstLocalTribObject, this);
    tribStrip->setObjectName(QStringLiteral("tribTimeline"));
    tribLabel = new QLabel(this);
    tribLabel->setBuddy(tribStrip);

    auto* top = new QHBoxLayout;
    top->addWidget(chooserLabel);
    top->addWidget(chooser);
    top->addStretch();
    // The strips scroll under the table, which the user can give more room or less.
    strips = new QWidget;
    auto* stripLayout = new QVBoxLayout(strips);
    stripLayout->addWidget(new QLabel(QStringLiteral("Alarms of the last 24 hours"), strips));
    auto addStrip = [&](QLabel* label, TimelineStrip* strip) {
        label->setBuddy(strip);
        stripLayout->addWidget(label);
        stripLayout->addWidget(strip);
    };
    addStrip(new QLabel(QStringLiteral("&Near end"), strips), nearStrip);
    addStrip(new QLabel(QStringLiteral("&Far end"), strips), farStrip);
    addStrip(tribLabel, tribStrip);
    stripLayout->addStretch();
    tribLabel->hide();
    tribStrip->hide();
    auto* scroll = Named(new QScrollArea, "performanceTimeline", QStringLiteral("Timeline"));
    scroll->setWidget(strips);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);

    split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("performanceSplit"));
    split->setChildrenCollapsible(false);
    split->addWidget(table);
    split->addWidget(scroll);
    split->setStretchFactor(0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    resize(sizeHint().boundedTo(screen()->availableGeometry().size()));
}

// Wide enough for every column of the table beside its vertical scroll bar.
QSize PerformanceWindow::sizeHint() const {
    const QMargins margins = layout()->contentsMargins();
    const int tableWidth = table->horizontalHeader()->length() + 2 * table->frameWidth() +
                           table->verticalScrollBar()->sizeHint().width();
    return QDialog::sizeHint().expandedTo(
        {tableWidth + margins.left() + margins.right(), kDefaultHeight});
}

PerformanceWindow::~PerformanceWindow() = default;

void PerformanceWindow::SetObject(int newObject) {
    if (newObject < 0 || newObject >= kObjectCount) {
        return;
    }
    object = newObject;
    if (chooser->currentIndex() != object) {
        chooser->setCurrentIndex(object);  // comes back here through the signal
        return;
    }
    const bool trib = !IsLineEnd(object);
    if (trib) {
        tribStrip->SetObject(object);
        tribLabel->setText(QStringLiteral("&Tributary: ") + ObjectText(object));
    }
    tribLabel->setVisible(trib);
    tribStrip->setVisible(trib);
    Refresh();
}

void PerformanceWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && !splitSet) {
        // The strips get what they need with a tributary's, up to two thirds; the table the
        // rest. Only now does the splitter know its height.
        splitSet = true;
        const int whole = split->height() - split->handleWidth();
        int need = strips->sizeHint().height();
        if (tribStrip->isHidden()) {
            need += tribStrip->sizeHint().height() + tribLabel->sizeHint().height() +
                    2 * strips->layout()->spacing();
        }
        const int below = std::min(need, whole * 2 / 3);
        split->setSizes({whole - below, below});
    }
    Refresh();
}

void PerformanceWindow::Refresh() {
    if (!isVisible() || !source.memory) {
        return;
    }
    const LineMemory& memory = source.memory();
    const std::time_t now = source.now ? source.now() : std::time(nullptr);
    RefreshTable(memory, now);
    RefreshTimeline(memory, now);
}

PerformanceWindow::Shape PerformanceWindow::ShapeOf(const LineMemory& memory, int object) {
    Shape s;
    s.object = object;
    const auto o = static_cast<std::size_t>(object);
    const auto& quarters = memory.Completed(BinKind::Quarter);
    const auto& days = memory.Completed(BinKind::Day);
    s.quarters = quarters.size();
    s.days = days.size();
    s.currentQuarter = memory.Current(BinKind::Quarter).span.start;
    s.currentDay = memory.Current(BinKind::Day).span.start;
    if (!quarters.empty()) {
        s.newestQuarter = quarters.back().figures[o];
    }
    if (!days.empty()) {
        s.newestDay = days.back().figures[o];
    }
    return s;
}

void PerformanceWindow::RefreshTable(const LineMemory& memory, std::time_t now) {
    const Shape next = ShapeOf(memory, object);
    if (shape != next) {
        shape = next;
        Rebuild(PerformanceRows(memory, object), now);
        return;
    }
    // Only the current intervals move from one second to the next, and with them the
    // worst interval may move.
    const auto o = static_cast<std::size_t>(object);
    std::array<bool, 2> changed{};
    for (std::size_t i = 0; i < changed.size(); ++i) {
        const Figures& f = memory.Current(rows[i].kind).figures[o];
        changed[i] = !(rows[i].figures == f);
        rows[i].figures = f;
    }
    const int before = std::exchange(worst, WorstRow(rows, now));
    for (int r = 0; r < table->rowCount(); ++r) {
        const bool current = r < static_cast<int>(changed.size()) && changed[r];
        if (current || (before != worst && (r == before || r == worst))) {
            FillRow(r);
        }
    }
}

void PerformanceWindow::Rebuild(std::vector<PerformanceRow> next, std::time_t now) {
    // The user's row and scroll position stay where they were.
    std::optional<PerformanceRow> selected;
    const int current = table->currentRow();
    if (current >= 0 && current < static_cast<int>(rows.size())) {
        selected = rows[static_cast<std::size_t>(current)];
    }
    const int scroll = table->verticalScrollBar()->value();
    rows = std::move(next);
    worst = WorstRow(rows, now);
    table->setUpdatesEnabled(false);
    table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        FillRow(r);
    }
    if (selected) {
        for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
            if (SameInterval(rows[static_cast<std::size_t>(r)], *selected)) {
                table->setCurrentCell(r, std::max(0, table->currentColumn()));
                break;
            }
        }
    }
    table->verticalScrollBar()->setValue(scroll);
    table->setUpdatesEnabled(true);
}

void PerformanceWindow::FillRow(int r) {
    const PerformanceRow& row = rows[static_cast<std::size_t>(r)];
    const bool isWorst = r == worst;
    const QStringList texts = PerformanceRowTexts(row, object, isWorst);
    for (int c = 0; c < kColumns; ++c) {
        QTableWidgetItem* item = table->item(r, c);
        if (!item) {
            item = new QTableWidgetItem;
            table->setItem(r, c, item);
        }
        item->setText(texts[c]);
        if (c == kInterval) {
            item->setToolTip(isWorst ? QStringLiteral("The worst 15 minutes of the last 24 hours: "
                                                      "the most unavailable and severely errored "
                                                      "seconds, then errored seconds")
                                     : QString());
        }
        if (c >= kAvailable) {
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        const bool failing = FailingText(texts[c]);
        QFont font = table->font();
        font.setBold(failing || (isWorst && c == kInterval));
        item->setFont(font);
        // The worst row's light background takes dark text whatever the palette.
        item->setForeground(failing   ? QBrush(QColor(0xb0, 0x00, 0x20))
                            : isWorst ? QBrush(Qt::black)
                                      : QBrush());
        item->setBackground(isWorst ? QBrush(QColor(0xff, 0xe8, 0xa0)) : QBrush());
    }
}

void PerformanceWindow::RefreshTimeline(const LineMemory& memory, std::time_t now) {
    const std::time_t from = now - kPerformanceDaySeconds;
    // Read in place: the strips look at the entries only when they changed.
    const auto& entries = memory.JournalInMemory();
    // A journal at its memory's limit has let its oldest entries go, and with them maybe
    // alarms of the strips' first hours: only what follows its oldest kept entry is whole.
    const std::time_t memoryStart =
        !entries.empty() && entries.front().id > 1 && entries.size() >= memory.JournalMemoryLimit()
            ? entries.front().start
            : 0;
    const bool stored = memory.Storing();
    nearStrip->SetEntries(entries, from, now, memoryStart, stored);
    farStrip->SetEntries(entries, from, now, memoryStart, stored);
    if (tribStrip->isVisible()) {
        tribStrip->SetEntries(entries, from, now, memoryStart, stored);
    }
}

// The selected rows as tab-separated lines with the headers, for a spreadsheet or a report.
void PerformanceWindow::CopyRows() {
    QStringList names = PerformanceHeaders();
    names.replaceInStrings(QStringLiteral("\n"), QStringLiteral(" "));
    QStringList lines{names.join(QLatin1Char('\t'))};
    for (int r = 0; r < table->rowCount(); ++r) {
        if (!table->selectionModel()->isRowSelected(r, {})) {
            continue;
        }
        QStringList cells;
        for (int c = 0; c < kColumns; ++c) {
            cells << table->item(r, c)->text();
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

}  // namespace kestrel
