// The help window, What's This mode, the about box and the page setup dialog.
#include "frame/HelpCommands.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "frame/CAboutDlg.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "frame/PageSetupDialog.h"
#include "frame/UserPrompts.h"

namespace kestrel {

void HelpCommands::Bind(CommandMenus& menus) {
    menus.Bind(cmd::kFilePageSetup, [this] { OnFilePageSetup(); });
    for (const int id : {cmd::kHelpIndex, cmd::kHelp, cmd::kHelpFinder}) {
        menus.Bind(id, [this] { OnHelp(); });
    }
    menus.Bind(cmd::kAppAbout, [this] { OnAppAbout(); });
    menus.Bind(cmd::kContextHelp, [this] { OnContextHelp(); });
}

void HelpCommands::OnFilePageSetup() {
    PageSetupDialog dialog(&owner);
    dialog.SetPage(pageSize, pageLandscape);
    if (prompts && prompts->Exec(dialog) == QDialog::Accepted) {
        pageSize = dialog.PaperIndex();
        pageLandscape = dialog.Landscape();
    }
}

void HelpCommands::OnHelp() {
    if (!helpWindow) {
        auto* window = new QDialog(&owner, Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Kestrel Help"));
        window->setObjectName(QStringLiteral("helpWindow"));
        auto* layout = new QVBoxLayout(window);
        auto* browser = new QTextBrowser(window);
        browser->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
        layout->addWidget(browser);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
        layout->addWidget(buttons);
        window->resize(640, 520);
        helpWindow = window;
    }
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void HelpCommands::OnContextHelp() {
    QWhatsThis::enterWhatsThisMode();
}

void HelpCommands::OnAppAbout() {
    CAboutDlg about(&owner);
    if (prompts) {
        prompts->Exec(about);
    }
}

void HelpCommands::CloseHelp() {
    if (helpWindow) {
        helpWindow->close();
    }
}

}  // namespace kestrel
