// The views of the line's memory in the main window.
#include "frame/LineViews.h"

#include <QAction>
#include <QMainWindow>
#include <QTableView>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "session/MuxSession.h"
#include "views/JournalDock.h"

namespace kestrel {

LineViews::LineViews(Parts parts) : parts(std::move(parts)) {}

LineViews::~LineViews() {
    // --- Alarm journal ---
    delete journalDock;
}

LineSource LineViews::Source() const {
    MuxSession* session = parts.session;
    LineSource source;
    source.memory = [session]() -> const LineMemory& { return session->Memory(); };
    source.acknowledge = [session](std::int64_t id) { return session->Acknowledge(id); };
    source.acknowledgeAll = [session] { return session->AcknowledgeAll(); };
    source.now = [session] { return session->WallNow(); };
    return source;
}

void LineViews::Bind(CommandMenus& menus) {
    // --- Alarm journal ---
    journalDock = new JournalDock(
        Source(),
        [this](int state) {
            HighlightJournalLed(state, parts.alarmBar ? parts.alarmBar() : nullptr,
                                parts.activePanel ? parts.activePanel() : nullptr);
        },
        parts.window);
    parts.window->addDockWidget(Qt::BottomDockWidgetArea, journalDock);
    journalDock->hide();
    menus.BindToggle(cmd::kViewAlarmJournal, [this](bool on) {
        journalDock->setVisible(on);
        if (on) {
            journalDock->Table()->setFocus();  // its keys act where it has the focus
        }
    });
    // --- Performance window ---
    // --- G.821 figures ---
    // --- Notifications ---
}

void LineViews::Refreshed() {
    // --- Alarm journal ---
    if (journalDock && journalDock->isVisible()) {
        journalDock->Refresh();
    }
    // --- Performance window ---
    // --- G.821 figures ---
    // --- Notifications ---
}

void LineViews::Update(CommandMenus& menus) {
    // --- Alarm journal ---
    if (journalDock) {
        menus.Action(cmd::kViewAlarmJournal)->setChecked(!journalDock->isHidden());
    }
    // --- G.821 figures ---
    // --- Notifications ---
}

}  // namespace kestrel
