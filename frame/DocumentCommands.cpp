// The document commands, the recent-file list and the title they leave on the window.
#include "frame/DocumentCommands.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "frame/UserPrompts.h"
#include "store/CKestrelDoc.h"
#include "store/SettingsStore.h"

namespace kestrel {

DocumentCommands::DocumentCommands(QWidget& owner, CKestrelDoc* document, SettingsStore* settings,
                                   UserPrompts* prompts, CommandMenus& menus)
    : owner(owner), document(document), settings(settings), prompts(prompts), menus(menus) {
    if (settings) {
        recentFiles = settings->ReadRecentFiles();
    }
    ShowRecentFiles();
}

void DocumentCommands::Bind() {
    menus.Bind(cmd::kFileNew, [this] { OnFileNew(); });
    menus.Bind(cmd::kFileOpen, [this] { OnFileOpen(); });
    menus.Bind(cmd::kFileSave, [this] { OnFileSave(); });
    menus.Bind(cmd::kFileSaveAs, [this] { OnFileSaveAs(); });
}

void DocumentCommands::UpdateTitle() {
    owner.setWindowTitle(document ? document->FrameTitle() : QStringLiteral("Untitled - Kestrel"));
}

void DocumentCommands::Exclamation(const QString& text, const QString& detail) {
    if (prompts) {
        prompts->Exclamation(&owner, text, QStringLiteral("Kestrel"), detail);
    }
}

void DocumentCommands::OnFileNew() {
    if (!document || !document->SaveModified()) {
        return;
    }
    document->OnNewDocument();
    UpdateTitle();
}

void DocumentCommands::OnFileOpen() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Open");
    request.filters = {QString::fromLatin1(CKestrelDoc::kFilterName),
                       QStringLiteral("All Files (*)")};
    request.save = false;
    const QString path = prompts ? prompts->FileName(&owner, request) : QString();
    if (!path.isEmpty()) {
        OpenDocumentFile(path);
    }
}

bool DocumentCommands::OpenDocumentFile(const QString& path) {
    if (!document) {
        return false;
    }
    QString error;
    if (!document->OnOpenDocument(path, &error)) {
        Exclamation(QStringLiteral("Failed to open document."),
                    path + QStringLiteral(": ") + error);
        // Gone from the list for good, not only until the next start.
        recentFiles.removeAll(QFileInfo(path).absoluteFilePath());
        if (settings) {
            settings->WriteRecentFiles(recentFiles);
        }
        ShowRecentFiles();
        return false;
    }
    AddRecentFile(document->PathName());
    UpdateTitle();
    return true;
}

bool DocumentCommands::OnFileSave() {
    if (!document) {
        return false;
    }
    if (document->PathName().isEmpty()) {
        return OnFileSaveAs();
    }
    QString error;
    if (!document->OnSaveDocument(document->PathName(), &error)) {
        Exclamation(QStringLiteral("Failed to save document."),
                    document->PathName() + QStringLiteral(": ") + error);
        return false;
    }
    return true;
}

bool DocumentCommands::OnFileSaveAs() {
    if (!document || !prompts) {
        return false;
    }
    FileDialogRequest request;
    request.caption = QStringLiteral("Save As");
    request.filters = {QString::fromLatin1(CKestrelDoc::kFilterName),
                       QStringLiteral("All Files (*)")};
    request.defaultSuffix = QStringLiteral("cfg");
    request.initialName = document->PathName().isEmpty() ? document->Title() : document->PathName();
    const QString path = prompts->FileName(&owner, request);
    if (path.isEmpty()) {
        return false;
    }
    QString error;
    if (!document->OnSaveDocument(path, &error)) {
        Exclamation(QStringLiteral("Failed to save document."),
                    path + QStringLiteral(": ") + error);
        return false;
    }
    AddRecentFile(document->PathName());
    UpdateTitle();
    return true;
}

void DocumentCommands::AddRecentFile(const QString& path) {
    recentFiles.removeAll(path);
    recentFiles.prepend(path);
    while (recentFiles.size() > SettingsStore::kRecentFiles) {
        recentFiles.removeLast();
    }
    if (settings) {
        settings->WriteRecentFiles(recentFiles);
    }
    ShowRecentFiles();
}

void DocumentCommands::ShowRecentFiles() {
    menus.ShowRecentFiles(recentFiles, [this](int index) { OnOpenRecentFile(index); });
}

void DocumentCommands::OnOpenRecentFile(int index) {
    if (index >= 0 && index < recentFiles.size()) {
        OpenDocumentFile(recentFiles[index]);
    }
}

QString DocumentCommands::DroppedFile(const QMimeData* data) {
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                return url.toLocalFile();
            }
        }
    }
    return {};
}

}  // namespace kestrel
