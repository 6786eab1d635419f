// Help, What's This, the about box and the page setup: the commands that only show something.
#pragma once

#include <QPointer>
#include <QWidget>

namespace kestrel {

class CommandMenus;
class UserPrompts;

class HelpCommands {
public:
    HelpCommands(QWidget& owner, UserPrompts* prompts) : owner(owner), prompts(prompts) {}

    void Bind(CommandMenus& menus);

    // The help pages in a window of their own, created on first use and raised after.
    void OnHelp();
    void OnContextHelp();
    void OnAppAbout();
    // Paper and orientation are kept for the next time the dialog opens; nothing prints.
    void OnFilePageSetup();
    // Closes the help window when it is open.
    void CloseHelp();

private:
    QWidget& owner;
    UserPrompts* prompts;
    QPointer<QWidget> helpWindow;
    int pageSize = 0;
    bool pageLandscape = false;
};

}  // namespace kestrel
