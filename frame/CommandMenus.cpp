// The menus, keys and toolbar of the main window, with their texts, ids and shortcuts.
#include "frame/CommandMenus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <array>

#include "frame/CommandIds.h"
#include "frame/ToolbarIcons.h"

namespace kestrel {

CommandMenus::CommandMenus(QMainWindow& window, std::function<void()> update)
    : window(window), update(std::move(update)) {
    BuildFileAndEdit();
    BuildViewAndCommunication();
    BuildStatisticsAndHelp();
}

QAction* CommandMenus::AddCommand(QMenu* menu, int id, const QString& text, const QString& keys) {
    auto* action = new QAction(text, &window);
    action->setData(id);
    action->setObjectName(QString::number(id));
    if (!keys.isEmpty()) {
        QList<QKeySequence> sequences;
        for (const QString& k : keys.split(u';')) {
            sequences << QKeySequence(k);
        }
        action->setShortcuts(sequences);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (menu) {
        menu->addAction(action);
    } else {
        window.addAction(action);
    }
    actions[id] = action;
    return action;
}

QMenu* CommandMenus::AddMenu(const QString& title) {
    QMenu* m = window.menuBar()->addMenu(title);
    menus << m;
    QObject::connect(m, &QMenu::aboutToShow, &window, [this] { update(); });
    return m;
}

void CommandMenus::BuildFileAndEdit() {
    fileMenu = AddMenu(QStringLiteral("&File"));
    AddCommand(fileMenu, cmd::kFileNew, QStringLiteral("&New\tCtrl+N"), "Ctrl+N");
    AddCommand(fileMenu, cmd::kFileOpen, QStringLiteral("&Open...\tCtrl+O"), "Ctrl+O");
    AddCommand(fileMenu, cmd::kFileSave, QStringLiteral("&Save\tCtrl+S"), "Ctrl+S");
    AddCommand(fileMenu, cmd::kFileSaveAs, QStringLiteral("Save &As..."));
    fileMenu->addSeparator();
    AddCommand(fileMenu, cmd::kFilePrint, QStringLiteral("&Print...\tCtrl+P"), "Ctrl+P")
        ->setEnabled(false);
    AddCommand(fileMenu, cmd::kFilePrintPreview, QStringLiteral("Print Pre&view"))
        ->setEnabled(false);
    AddCommand(fileMenu, cmd::kFilePageSetup, QStringLiteral("P&rint Setup..."));
    recentSeparator = fileMenu->addSeparator();
    fileMenu->addSeparator();
    AddCommand(fileMenu, cmd::kAppExit, QStringLiteral("E&xit"));
    ShowRecentFiles({}, {});

    QMenu* edit = AddMenu(QStringLiteral("&Edit"));
    AddCommand(edit, cmd::kEditUndo, QStringLiteral("&Undo\tCtrl+Z"), "Ctrl+Z;Alt+Backspace")
        ->setEnabled(false);
    edit->addSeparator();
    AddCommand(edit, cmd::kEditCut, QStringLiteral("Cu&t\tCtrl+X"), "Ctrl+X;Shift+Del")
        ->setEnabled(false);
    AddCommand(edit, cmd::kEditCopy, QStringLiteral("&Copy\tCtrl+C"), "Ctrl+C;Ctrl+Ins")
        ->setEnabled(false);
    AddCommand(edit, cmd::kEditPaste, QStringLiteral("&Paste\tCtrl+V"), "Ctrl+V;Shift+Ins")
        ->setEnabled(false);
}

void CommandMenus::BuildViewAndCommunication() {
    QMenu* view = AddMenu(QStringLiteral("&View"));
    QAction* toolbarToggle = AddCommand(view, cmd::kViewToolbar, QStringLiteral("&Toolbar"));
    toolbarToggle->setCheckable(true);
    toolbarToggle->setChecked(true);
    QAction* statusToggle = AddCommand(view, cmd::kViewStatusBar, QStringLiteral("&Status Bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    AddCommand(view, cmd::kWindowSplit, QStringLiteral("S&plit"));
    view->addSeparator();
    AddCommand(view, cmd::kViewAlarmJournal, QStringLiteral("&Alarm Journal"))->setCheckable(true);
    AddCommand(view, cmd::kViewPerformance, QStringLiteral("P&erformance..."));
    AddCommand(view, cmd::kViewG821Figures, QStringLiteral("&G.821 Figures"))->setCheckable(true);
    QAction* notify = AddCommand(view, cmd::kViewNotifications, QStringLiteral("&Notifications"));
    notify->setCheckable(true);
    notify->setChecked(true);

    QMenu* comms = AddMenu(QStringLiteral("Communication"));
    AddCommand(comms, cmd::kPortSettings, QStringLiteral("Port Settings..."));
    AddCommand(comms, cmd::kPortOpen, QStringLiteral("Port Open"))->setCheckable(true);
}

void CommandMenus::BuildStatisticsAndHelp() {
    QMenu* stats = AddMenu(QStringLiteral("Statisitcs"));
    AddCommand(stats, cmd::kStatisticsOn, QStringLiteral("On"))->setCheckable(true);
    QAction* off = AddCommand(stats, cmd::kStatisticsOff, QStringLiteral("Off"));
    off->setCheckable(true);
    off->setChecked(true);
    QMenu* interval = stats->addMenu(QStringLiteral("BER Inteval"));
    QObject::connect(interval, &QMenu::aboutToShow, &window, [this] { update(); });
    const std::array<std::pair<int, const char*>, 4> intervals{{
        {cmd::kBerInterval1, "  1 sec"},
        {cmd::kBerInterval3, "  3 sec"},
        {cmd::kBerInterval10, "10 sec"},
        {cmd::kBerInterval30, "30 sec"},
    }};
    for (const auto& [id, text] : intervals) {
        AddCommand(interval, id, QString::fromLatin1(text))->setCheckable(true);
    }
    AddCommand(stats, cmd::kBerFreeze, QStringLiteral("BER Freeze"));
    AddCommand(stats, cmd::kBerReset, QStringLiteral("BER Reset"));

    QMenu* help = AddMenu(QStringLiteral("&Help"));
    AddCommand(help, cmd::kHelpIndex, QStringLiteral("&Help Topics"));
    help->addSeparator();
    AddCommand(help, cmd::kAppAbout, QStringLiteral("&About Kestrel..."));

    // Keys without a menu item.
    AddCommand(nullptr, cmd::kHelp, QStringLiteral("Help"), "F1");
    AddCommand(nullptr, cmd::kHelpFinder, QStringLiteral("Help Index"));
    AddCommand(nullptr, cmd::kContextHelp, QStringLiteral("Help"), "Shift+F1")
        ->setToolTip(QStringLiteral("Help"));
    AddCommand(nullptr, cmd::kNextPane, QStringLiteral("Next Pane"), "F6");
    AddCommand(nullptr, cmd::kPrevPane, QStringLiteral("Previous Pane"), "Shift+F6");
}

QAction* CommandMenus::Action(int commandId) const {
    const auto it = actions.find(commandId);
    return it == actions.end() ? nullptr : it->second;
}

QMenu* CommandMenus::Menu(const QString& title) const {
    for (QMenu* m : menus) {
        if (m->title() == title) {
            return m;
        }
    }
    return nullptr;
}

void CommandMenus::Bind(int commandId, std::function<void()> handler) {
    QObject::connect(Action(commandId), &QAction::triggered, &window,
                     [handler = std::move(handler)] { handler(); });
}

void CommandMenus::BindToggle(int commandId, std::function<void(bool)> handler) {
    QObject::connect(Action(commandId), &QAction::triggered, &window,
                     [handler = std::move(handler)](bool on) { handler(on); });
}

void CommandMenus::FollowAllWithUpdate() {
    for (const auto& [id, action] : actions) {
        FollowWithUpdate(action);
    }
}

void CommandMenus::FollowWithUpdate(QAction* action) {
    QObject::connect(action, &QAction::triggered, &window, [this] { update(); });
}

void CommandMenus::ShowRecentFiles(const QStringList& files, const std::function<void(int)>& open) {
    for (QAction* a : recentActions) {
        actions.erase(a->data().toInt());
        fileMenu->removeAction(a);
        a->deleteLater();
    }
    recentActions.clear();
    QList<QAction*> fresh;
    if (files.isEmpty()) {
        auto* a = new QAction(QStringLiteral("Recent File"), &window);
        a->setData(cmd::kFileMruFirst);
        a->setEnabled(false);
        fresh << a;
    }
    for (int i = 0; i < files.size(); ++i) {
        QString shown = files[i];
        shown.replace(u'&', QStringLiteral("&&"));
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), &window);
        a->setData(cmd::kFileMruFirst + i);
        QObject::connect(a, &QAction::triggered, &window, [open, i] { open(i); });
        FollowWithUpdate(a);
        fresh << a;
    }
    // The list sits between the two separators before "Exit".
    const QList<QAction*> all = fileMenu->actions();
    const int at = all.indexOf(recentSeparator);
    QAction* before = all.value(at + 1);
    for (QAction* a : fresh) {
        fileMenu->insertAction(before, a);
        actions[a->data().toInt()] = a;
    }
    recentActions = fresh;
}

QToolBar* CommandMenus::BuildToolBar() {
    auto* toolBar = new QToolBar(QStringLiteral("Toolbar"), &window);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(16, 16));
    auto add = [this, toolBar](int id, const QString& tip) {
        QAction* a = Action(id);
        a->setIcon(ToolbarIcon(id));
        a->setToolTip(tip);
        toolBar->addAction(a);
    };
    add(cmd::kFileNew, QStringLiteral("New"));
    add(cmd::kFileOpen, QStringLiteral("Open"));
    add(cmd::kFileSave, QStringLiteral("Save"));
    toolBar->addSeparator();
    add(cmd::kEditCut, QStringLiteral("Cut"));
    add(cmd::kEditCopy, QStringLiteral("Copy"));
    add(cmd::kEditPaste, QStringLiteral("Paste"));
    toolBar->addSeparator();
    add(cmd::kFilePrint, QStringLiteral("Print"));
    add(cmd::kAppAbout, QStringLiteral("About"));
    add(cmd::kContextHelp, QStringLiteral("Help"));
    window.addToolBar(Qt::TopToolBarArea, toolBar);
    // Tied to the toggle itself, so that no part of the window is asked while it goes.
    QAction* toggle = Action(cmd::kViewToolbar);
    QObject::connect(toolBar, &QToolBar::visibilityChanged, toggle,
                     [toggle, toolBar] { toggle->setChecked(!toolBar->isHidden()); });
    return toolBar;
}

}  // namespace kestrel
