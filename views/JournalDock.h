// The "Alarm Journal" panel: the journal's entries, filtered, acknowledged and exported.
#pragma once

#include <QDockWidget>
#include <functional>
#include <optional>

#include "views/JournalModel.h"
#include "views/LineSource.h"

class QAction;
class QCheckBox;
class QComboBox;
class QTableView;

namespace kestrel {

class LedForm;

// Where the LED of a journal state sits: the alarm bar for the 34 Mbit/s alarms, the
// tributary panel for the tributaries; the link has none.
struct JournalLed {
    bool onAlarmBar = false;
    int controlId = 0;
};
std::optional<JournalLed> JournalLedOf(int state);
// Rings the LED of `state` on whichever form holds it; either form may be null.
void HighlightJournalLed(int state, LedForm* alarmBar, LedForm* panel);

// One CSV record of `fields` as RFC 4180 writes it, with its CR LF.
QByteArray CsvLine(const QStringList& fields);

class JournalDock : public QDockWidget {
    Q_OBJECT
public:
    // What the panel asks the user; tests answer in advance.
    struct Prompts {
        // The file to export to; empty when the user cancels.
        std::function<QString(QWidget* parent)> saveFileName;
        std::function<void(QWidget* parent, const QString& message)> warn;
    };

    // `highlight` shows the user where the selected entry's state lives (may be empty).
    JournalDock(LineSource source, std::function<void(int state)> highlight,
                QWidget* parent = nullptr, Prompts prompts = {});

    // Brings the rows up to date, keeping the selection and the rows in view.
    void Refresh();
    // The selected entries, or every unacknowledged one, acknowledged now.
    void AcknowledgeSelected();
    void AcknowledgeAll();
    // Asks for a file and writes the rows shown to it; false when cancelled or not written.
    bool Export();
    // The rows shown as CSV (RFC 4180, times in ISO 8601 UTC).
    QByteArray ShownCsv() const;

    QTableView* Table() const { return table; }
    JournalFilter& Filter() { return filter; }
    QAction* AcknowledgeAction() const { return acknowledge; }
    QAction* AcknowledgeAllAction() const { return acknowledgeAll; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* BuildControls();
    void ApplyCriteria();
    void CurrentChanged(const QModelIndex& current);
    void UpdateActions();

    JournalModel model;
    JournalFilter filter;
    std::function<void(int)> highlight;
    Prompts prompts;
    QTableView* table = nullptr;
    QCheckBox* activeOnly = nullptr;
    QCheckBox* unacknowledgedOnly = nullptr;
    QComboBox* severity = nullptr;
    QComboBox* objects = nullptr;
    QAction* acknowledge = nullptr;
    QAction* acknowledgeAll = nullptr;
    QAction* exportRows = nullptr;
    std::int64_t highlighted = 0;  // the entry last shown on the window
    bool refreshing = false;       // rows moving under the cursor are no choice of the user's
};

}  // namespace kestrel
