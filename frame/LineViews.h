// The window's views of the line's memory, reached from the View menu.
#pragma once

#include <QObject>
#include <functional>

#include "views/LineSource.h"

class QMainWindow;

namespace kestrel {

class CAlarmBar;
class CKestrelSettings;
class CommandMenus;
class JournalDock;
class MuxSession;
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
    };

    explicit LineViews(Parts parts);
    ~LineViews();
    LineViews(const LineViews&) = delete;
    LineViews& operator=(const LineViews&) = delete;

    // Binds the View menu's items to the views.
    void Bind(CommandMenus& menus);
    // After each panel refresh: the views show what the memory now holds.
    void Refreshed();
    // The View items' check marks, with the window's other update handlers.
    void Update(CommandMenus& menus);

    // What the views read: the session's memory, acknowledged at the wall clock.
    LineSource Source() const;

private:
    Parts parts;

    // Alarm journal: the window's child, deleted with the views, before the session goes.
    JournalDock* journalDock = nullptr;
};

}  // namespace kestrel
