// The window's views of the line's memory, reached from the View menu.
#pragma once

#include <QList>
#include <functional>
#include <memory>

#include "views/LineSource.h"

class QMainWindow;

namespace kestrel {

class CAlarmBar;
class CKestrelSettings;
class CommandMenus;
class DesktopNotifier;
class JournalDock;
class MuxSession;
class NotificationRule;
class PerformanceWindow;
class SettingsStore;

// Owns the alarm journal dock, the Performance window, the G.821 line of the tributary panel
// and the desktop notifications, and keeps them up to date after each panel refresh.
class LineViews {
public:
    struct Parts {
        QMainWindow* window = nullptr;
        MuxSession* session = nullptr;
        SettingsStore* settings = nullptr;  // may be null
        std::function<CAlarmBar*()> alarmBar;
        std::function<CKestrelSettings*()> activePanel;
        // Every pane's form; none before the window has its client.
        std::function<QList<CKestrelSettings*>()> panels;
    };

    explicit LineViews(Parts parts);
    ~LineViews();
    LineViews(const LineViews&) = delete;
    LineViews& operator=(const LineViews&) = delete;

    // Binds the View menu's items to the views.
    void Bind(CommandMenus& menus);
    // Shows the views left open at the last close; the window calls it once it is shown, so
    // that they come up over it, placed, and without taking the focus from it.
    void Restore();
    // After each panel refresh: the views show what the memory now holds.
    void Refreshed();
    // The View items' check marks, with the window's other update handlers.
    void Update(CommandMenus& menus);
    // Keeps which views are open for the next start; the window calls it as it closes, while
    // they are still shown.
    void Remember();
    // Closes the views in windows of their own; the window calls it as it closes, after
    // Remember.
    void Close();

    // What the views read: the session's memory, acknowledged at the wall clock.
    LineSource Source() const;

private:
    bool ReadFlag(const char* key, bool fallback) const;
    void WriteFlag(const char* key, bool on);

    Parts parts;

    // --- Notifications ---
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<NotificationRule> notifications;

    // --- Performance window ---
    // Made on first use; a window of its own, not the main window's child, so it is closed
    // here as the main window closes and deleted with the views, before the session goes.
    // `focus`: raised and given the focus, as the View item does; brought back at start it
    // leaves the focus with the main window.
    void ShowPerformance(bool focus = true);
    std::unique_ptr<PerformanceWindow> performance;
    // Left open at the last close and not brought back yet: it still counts as open.
    bool performancePending = false;

    // --- Alarm journal ---
    // The window's child, deleted with the views, before the session goes.
    JournalDock* journalDock = nullptr;

    // --- G.821 figures ---
    // The line on every pane's form, shown or hidden as the View item says, with the figures
    // of now when shown.
    void ApplyG821Line();
    void PaintG821Figures();
    QList<CKestrelSettings*> Panels() const;
    bool g821Shown = false;
    // The forms show what g821Shown says (they are built after the menus are bound).
    bool g821Applied = false;
};

}  // namespace kestrel
