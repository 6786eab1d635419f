// The alarm journal panel: filter controls over the table, acknowledging, export and highlights.
#include "views/JournalDock.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "display/CKestrelSettings.h"
#include "display/LedForm.h"
#include "performance/Figures.h"
#include "session/Indications.h"
#include "views/LineTexts.h"

namespace kestrel {

namespace {

JournalDock::Prompts WithDefaults(JournalDock::Prompts p) {
    if (!p.saveFileName) {
        p.saveFileName = [](QWidget* parent) {
            return QFileDialog::getSaveFileName(parent, QStringLiteral("Export Alarm Journal"),
                                                QStringLiteral("journal.csv"),
                                                QStringLiteral("CSV files (*.csv);;All files (*)"));
        };
    }
    if (!p.warn) {
        p.warn = [](QWidget* parent, const QString& message) {
            QMessageBox::warning(parent, QStringLiteral("Kestrel"), message);
        };
    }
    return p;
}

// One CSV field: quoted, with its quotes doubled, when it holds a separator, a quote or a
// line break.
QByteArray CsvField(const QString& text) {
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QString IsoText(const std::optional<std::time_t>& t) {
    return t ? QString::fromStdString(IsoUtc(*t)) : QString();
}

}  // namespace

std::optional<JournalLed> JournalLedOf(int state) {
    if (state >= 0 && state < kAlarmStates) {
        return JournalLed{true, kAlarmIndications[static_cast<std::size_t>(state)].ledId};
    }
    if (state >= kAlarmStates && state < kFirstLinkState) {
        const int index = (state - kAlarmStates) / 2;
        const bool codeErrors = (state - kAlarmStates) % 2 == 1;
        return JournalLed{false, codeErrors ? CKestrelSettings::CErrLedId(index)
                                            : CKestrelSettings::NoSigLedId(index)};
    }
    return std::nullopt;
}

void HighlightJournalLed(int state, LedForm* alarmBar, LedForm* panel) {
    const std::optional<JournalLed> led = JournalLedOf(state);
    if (LedForm* form = !led ? nullptr : led->onAlarmBar ? alarmBar : panel) {
        form->Highlight(led->controlId);
    }
}

QByteArray CsvLine(const QStringList& fields) {
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += CsvField(fields[i]);
    }
    return line + "\r\n";
}

JournalDock::JournalDock(LineSource source, std::function<void(int state)> highlight,
                         QWidget* parent, Prompts prompts)
    : QDockWidget(QStringLiteral("Alarm Journal"), parent),
      model(std::move(source)),
      filter(model),
      highlight(std::move(highlight)),
      prompts(WithDefaults(std::move(prompts))) {
    Named(this, "AlarmJournalDock", QStringLiteral("Alarm Journal"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(BuildControls());

    table = Named(new QTableView(body), "journalTable", QStringLiteral("Alarm journal entries"));
    table->setModel(&filter);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setTabKeyNavigation(false);  // Tab leaves the table, as in the rest of the window
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    // Widths from the widest texts once, in bold and with the icons of the first two
    // columns: sizing to contents would read every row.
    QFont bold = table->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int icon = table->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, table);
    const char* const widest[] = {"Critical", "Remote trib 16 code errors", "2026-12-31 23:59:59",
                                  "ended unseen after 2026-12-31 23:59:59",
                                  "at least 99 d 23:59:59"};
    for (int c = 0; c < JournalModel::AcknowledgedColumn; ++c) {
        table->setColumnWidth(c, metrics.horizontalAdvance(QString::fromLatin1(widest[c])) +
                                     (c < 2 ? icon : 0) + metrics.height() * 2);
    }
    layout->addWidget(table);
    setWidget(body);

    acknowledge = new QAction(QStringLiteral("Acknowledge"), this);
    acknowledge->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    acknowledgeAll = new QAction(QStringLiteral("Acknowledge All"), this);
    acknowledgeAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    exportRows = new QAction(QStringLiteral("Export..."), this);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    for (QAction* action : {acknowledge, acknowledgeAll, separator, exportRows}) {
        // The keys act where the journal has the focus, not in the rest of the window.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        table->addAction(action);
    }
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(acknowledge, &QAction::triggered, this, &JournalDock::AcknowledgeSelected);
    connect(acknowledgeAll, &QAction::triggered, this, &JournalDock::AcknowledgeAll);
    connect(exportRows, &QAction::triggered, this, &JournalDock::Export);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { CurrentChanged(current); });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &JournalDock::UpdateActions);
    // A click on the row already chosen shows its LED again.
    connect(table, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        highlighted = 0;
        CurrentChanged(index);
    });
    UpdateActions();
    hide();
}

QWidget* JournalDock::BuildControls() {
    auto* controls = new QWidget(this);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);
    activeOnly = Named(new QCheckBox(QStringLiteral("A&ctive only"), controls), "activeOnly",
                       QStringLiteral("Active only"));
    unacknowledgedOnly = Named(new QCheckBox(QStringLiteral("&Unacknowledged only"), controls),
                               "unacknowledgedOnly", QStringLiteral("Unacknowledged only"));
    severity =
        Named(new QComboBox(controls), "severityAtLeast", QStringLiteral("Severity at least"));
    // In the order of Severity from the least: the index is how far from Minor.
    severity->addItems(
        {QStringLiteral("Minor"), QStringLiteral("Major"), QStringLiteral("Critical")});
    objects = Named(new QComboBox(controls), "objectKind", QStringLiteral("Objects"));
    objects->addItems({QStringLiteral("All"), QStringLiteral("34 Mbit/s line"),
                       QStringLiteral("Tributaries"), QStringLiteral("Link")});
    auto* severityLabel = new QLabel(QStringLiteral("&Severity at least:"), controls);
    severityLabel->setBuddy(severity);
    auto* objectsLabel = new QLabel(QStringLiteral("&Objects:"), controls);
    objectsLabel->setBuddy(objects);
    auto* exportButton = Named(new QPushButton(QStringLiteral("E&xport..."), controls),
                               "exportJournal", QStringLiteral("Export"));
    row->addWidget(activeOnly);
    row->addWidget(unacknowledgedOnly);
    row->addWidget(severityLabel);
    row->addWidget(severity);
    row->addWidget(objectsLabel);
    row->addWidget(objects);
    row->addStretch();
    row->addWidget(exportButton);
    for (QCheckBox* box : {activeOnly, unacknowledgedOnly}) {
        connect(box, &QCheckBox::toggled, this, &JournalDock::ApplyCriteria);
    }
    for (QComboBox* box : {severity, objects}) {
        connect(box, &QComboBox::currentIndexChanged, this, &JournalDock::ApplyCriteria);
    }
    connect(exportButton, &QPushButton::clicked, this, &JournalDock::Export);
    return controls;
}

void JournalDock::ApplyCriteria() {
    JournalFilter::Criteria c;
    c.activeOnly = activeOnly->isChecked();
    c.unacknowledgedOnly = unacknowledgedOnly->isChecked();
    c.atLeast = static_cast<Severity>(static_cast<int>(Severity::Minor) - severity->currentIndex());
    c.kind = static_cast<ObjectKind>(objects->currentIndex());
    refreshing = true;
    filter.SetCriteria(c);
    refreshing = false;
    UpdateActions();
}

void JournalDock::Refresh() {
    // Away from the top the user reads older rows: they stay in place while new ones arrive
    // above. At the top the newest come into view.
    const QScrollBar* bar = table->verticalScrollBar();
    const QPersistentModelIndex anchor = bar->value() > bar->minimum()
                                             ? QPersistentModelIndex(table->indexAt(QPoint(0, 0)))
                                             : QPersistentModelIndex();
    const int anchorRow = anchor.row();
    refreshing = true;
    model.Refresh();
    refreshing = false;
    if (anchor.isValid() && anchor.row() != anchorRow) {
        // The scroll range grows only with the view's next layout; lay out now so that the
        // anchor can be scrolled to.
        table->doItemsLayout();
        table->scrollTo(anchor, QAbstractItemView::PositionAtTop);
    }
    UpdateActions();
}

void JournalDock::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    Refresh();
}

void JournalDock::CurrentChanged(const QModelIndex& current) {
    if (refreshing || !current.isValid()) {
        return;
    }
    const JournalEntry& e = filter.Entry(current.row());
    if (e.id != highlighted && highlight) {
        highlight(e.state);
    }
    highlighted = e.id;
}

void JournalDock::UpdateActions() {
    acknowledge->setEnabled(table->selectionModel()->hasSelection());
}

void JournalDock::AcknowledgeSelected() {
    QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.isEmpty() && table->currentIndex().isValid()) {
        rows.push_back(table->currentIndex());
    }
    std::vector<std::int64_t> ids;
    for (const QModelIndex& index : rows) {
        const JournalEntry& e = filter.Entry(index.row());
        if (!e.acknowledged) {
            ids.push_back(e.id);
        }
    }
    // Ids first, then one write: acknowledging may move the rows.
    if (!ids.empty()) {
        model.Source().acknowledge(ids);
    }
    Refresh();
}

void JournalDock::AcknowledgeAll() {
    model.Source().acknowledgeAll();
    Refresh();
}

QByteArray JournalDock::ShownCsv() const {
    // What the monitor could not see goes in columns of its own after the first six, so that
    // a sheet made for those still reads them where they were. The duration is what was seen.
    QByteArray csv = CsvLine(
        {QStringLiteral("Severity"), QStringLiteral("Object"), QStringLiteral("Start"),
         QStringLiteral("End"), QStringLiteral("Duration (s)"), QStringLiteral("Acknowledged"),
         QStringLiteral("Unknown since"), QStringLiteral("Ended unseen"), QStringLiteral("Note")});
    for (int row = 0; row < filter.rowCount(); ++row) {
        const JournalEntry& e = filter.Entry(row);
        csv += CsvLine({SeverityText(e.GetSeverity()), JournalStateText(e.state), IsoText(e.start),
                        IsoText(e.end), QString::number(KnownDuration(e, model.Now())),
                        IsoText(e.acknowledged), IsoText(e.end ? std::nullopt : e.unknownSince),
                        e.endedUnseen ? QStringLiteral("yes") : QStringLiteral("no"),
                        QString::fromStdString(e.note)});
    }
    return csv;
}

bool JournalDock::Export() {
    const QString path = prompts.saveFileName(this);
    if (path.isEmpty()) {
        return false;
    }
    const QByteArray csv = ShownCsv();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit()) {
        return true;
    }
    prompts.warn(this, QStringLiteral("The alarm journal could not be written to %1:\n%2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

}  // namespace kestrel
