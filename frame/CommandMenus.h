// The main window's commands as the user reaches them: menu bar, keys, toolbar, recent files.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;

namespace kestrel {

// Builds the six menus and the keys without a menu item, each action carrying its command id
// as its data. It knows no handler: the parts of the window bind their own commands, and the
// window's update handlers run when a menu opens and after every command.
class CommandMenus {
public:
    CommandMenus(QMainWindow& window, std::function<void()> update);

    QAction* Action(int commandId) const;
    QMenu* Menu(const QString& title) const;
    const QList<QMenu*>& Menus() const { return menus; }

    // Runs `handler` when the command is chosen (with the new check state for a toggle).
    void Bind(int commandId, std::function<void()> handler);
    void BindToggle(int commandId, std::function<void(bool)> handler);
    // Connects the update handlers after every command's own handler, so what a command
    // changed shows at once. Called once every command is bound.
    void FollowAllWithUpdate();

    // The recent files, numbered, between the two separators before "Exit"; a disabled
    // "Recent File" while there are none.
    void ShowRecentFiles(const QStringList& files, const std::function<void(int)>& open);

    // The toolbar over the menu bar's actions, docked at the top of the window.
    QToolBar* BuildToolBar();

private:
    QAction* AddCommand(QMenu* menu, int id, const QString& text, const QString& keys = {});
    QMenu* AddMenu(const QString& title);
    void BuildFileAndEdit();
    void BuildViewAndCommunication();
    void BuildStatisticsAndHelp();
    void FollowWithUpdate(QAction* action);

    QMainWindow& window;
    std::function<void()> update;
    std::map<int, QAction*> actions;
    QList<QMenu*> menus;
    QMenu* fileMenu = nullptr;
    QAction* recentSeparator = nullptr;
    QList<QAction*> recentActions;
};

}  // namespace kestrel
