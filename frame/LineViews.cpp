// The views of the line's memory in the main window.
#include "frame/LineViews.h"

#include <QAction>
#include <QMainWindow>
#include <QScrollArea>
#include <QTableView>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/Refresh.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "performance/Figures.h"
#include "session/MuxSession.h"
#include "store/SettingsStore.h"
#include "views/DesktopNotifier.h"
#include "views/JournalDock.h"
#include "views/NotificationRule.h"
#include "views/PerformanceWindow.h"

namespace kestrel {

namespace {

// --- Alarm journal ---
// Rings the LED of `state` and scrolls it into view where its form scrolls (large fonts).
void ShowJournalLed(int state, LedForm* alarmBar, LedForm* panel) {
    HighlightJournalLed(state, alarmBar, panel);
    const std::optional<JournalLed> led = JournalLedOf(state);
    LedForm* form = !led ? nullptr : led->onAlarmBar ? alarmBar : panel;
    QWidget* lamp = form ? form->findChild<QWidget*>(QString::number(led->controlId)) : nullptr;
    for (QWidget* outer = form; lamp && outer; outer = outer->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(outer)) {
            area->ensureWidgetVisible(lamp);
            return;
        }
    }
}

}  // namespace

LineViews::LineViews(Parts parts) : parts(std::move(parts)) {}

LineViews::~LineViews() {
    // --- Alarm journal ---
    delete journalDock;
}

LineSource LineViews::Source() const {
    MuxSession* session = parts.session;
    LineSource source;
    source.memory = [session]() -> const LineMemory& { return session->Memory(); };
    source.acknowledge = [session](const std::vector<std::int64_t>& ids) {
        return session->Acknowledge(ids);
    };
    source.acknowledgeAll = [session] { return session->AcknowledgeAll(); };
    // The memory's own seconds, so that durations and the timeline's end agree with its
    // entries after a step of the wall clock; acknowledgements keep the wall clock.
    source.now = [session] { return session->LineNow(); };
    return source;
}

void LineViews::Bind(CommandMenus& menus) {
    // --- Alarm journal ---
    journalDock = new JournalDock(
        Source(),
        [this](int state) {
            ShowJournalLed(state, parts.alarmBar ? parts.alarmBar() : nullptr,
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
    // Comes back as it was left, part of the window's first layout.
    if (ReadFlag("AlarmJournal", false)) {
        journalDock->show();
    }
    // --- Performance window ---
    menus.Bind(cmd::kViewPerformance, [this] { ShowPerformance(); });
    performancePending = ReadFlag("Performance", false);
    // --- G.821 figures ---
    g821Shown = ReadFlag("G821Figures", false);
    menus.BindToggle(cmd::kViewG821Figures, [this](bool on) {
        g821Shown = on;
        WriteFlag("G821Figures", on);
        g821Applied = false;
        ApplyG821Line();
    });
    // --- Notifications ---
    // What the memory holds as the window opens is not news. Ticked unless the user chose
    // otherwise; the delay comes from the settings, within reason.
    const int delay = parts.settings
                          ? parts.settings->ReadViewNumber("NotifyDelaySeconds",
                                                           NotificationRule::kDefaultDelaySeconds)
                          : NotificationRule::kDefaultDelaySeconds;
    notifier = std::make_unique<DesktopNotifier>();
    notifications = std::make_unique<NotificationRule>(Source(), *notifier, delay,
                                                       ReadFlag("Notifications", true));
    menus.BindToggle(cmd::kViewNotifications, [this](bool on) {
        notifications->SetEnabled(on);
        WriteFlag("Notifications", on);
    });
}

void LineViews::Restore() {
    // --- Performance window ---
    if (performancePending) {
        ShowPerformance(false);
    }
}

void LineViews::Refreshed() {
    // --- Alarm journal ---
    if (journalDock && journalDock->isVisible()) {
        journalDock->Refresh();
    }
    // --- Performance window ---
    if (performance) {
        performance->Refresh();  // nothing while hidden
    }
    // --- G.821 figures ---
    if (g821Shown) {
        PaintG821Figures();
    }
    // --- Notifications ---
    if (notifications) {
        notifications->Check();
    }
}

void LineViews::Update(CommandMenus& menus) {
    // --- Alarm journal ---
    if (journalDock) {
        menus.Action(cmd::kViewAlarmJournal)->setChecked(!journalDock->isHidden());
    }
    // --- G.821 figures ---
    menus.Action(cmd::kViewG821Figures)->setChecked(g821Shown);
    if (!g821Applied) {
        ApplyG821Line();
    }
    // --- Notifications ---
    if (notifications) {
        menus.Action(cmd::kViewNotifications)->setChecked(notifications->Enabled());
    }
}

void LineViews::Remember() {
    WriteFlag("AlarmJournal", journalDock && !journalDock->isHidden());
    WriteFlag("Performance", performancePending || (performance && performance->isVisible()));
}

void LineViews::Close() {
    if (performance) {
        performance->close();
    }
}

// What the user chose to see, kept in the settings' View group when there are settings.
bool LineViews::ReadFlag(const char* key, bool fallback) const {
    return parts.settings ? parts.settings->ReadViewFlag(key, fallback) : fallback;
}

void LineViews::WriteFlag(const char* key, bool on) {
    if (parts.settings) {
        parts.settings->WriteViewFlag(key, on);
    }
}

// --- Performance window ---

void LineViews::ShowPerformance(bool focus) {
    performancePending = false;
    if (!performance) {
        performance = std::make_unique<PerformanceWindow>(Source());
        // Not the main window's child, so not its icon unless given it.
        performance->setWindowIcon(parts.window->windowIcon());
    }
    performance->setAttribute(Qt::WA_ShowWithoutActivating, !focus);
    performance->show();
    if (focus) {
        performance->raise();
        performance->activateWindow();
    }
}

// --- G.821 figures ---

void LineViews::ApplyG821Line() {
    const QList<CKestrelSettings*> panels = Panels();
    for (CKestrelSettings* panel : panels) {
        panel->ShowG821Line(g821Shown);
    }
    g821Applied = !panels.isEmpty();
    // Shown with the figures of now, not the template's until the next refresh.
    if (g821Shown) {
        PaintG821Figures();
    }
}

void LineViews::PaintG821Figures() {
    // The near end's current 24-hour interval: what the day has been so far.
    const Percentages shares =
        PercentagesOf(parts.session->Memory().Current(BinKind::Day).figures[kNearObject]);
    // Every pane's form, shown or not: one that is shown later is up to date at once.
    for (CKestrelSettings* panel : Panels()) {
        PaintG821Line(*panel, shares);
    }
}

QList<CKestrelSettings*> LineViews::Panels() const {
    return parts.panels ? parts.panels() : QList<CKestrelSettings*>();
}

}  // namespace kestrel
