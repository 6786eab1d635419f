// The document commands: New, Open, Save, Save As, the recent files and a dropped file.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;
class QWidget;

namespace kestrel {

class CKestrelDoc;
class CommandMenus;
class SettingsStore;
class UserPrompts;

// The document is an empty shell: these commands touch its file and the window's title, never
// the monitoring. The recent-file list is kept in the settings store as it changes.
class DocumentCommands {
public:
    DocumentCommands(QWidget& owner, CKestrelDoc* document, SettingsStore* settings,
                     UserPrompts* prompts, CommandMenus& menus);

    void Bind();

    void OnFileNew();
    void OnFileOpen();
    bool OnFileSave();
    bool OnFileSaveAs();
    void OnOpenRecentFile(int index);
    bool OpenDocumentFile(const QString& path);
    QStringList RecentFiles() const { return recentFiles; }
    // "<title> - Kestrel" on the window.
    void UpdateTitle();

    // The first local file among dropped data; empty when there is none.
    static QString DroppedFile(const QMimeData* data);

private:
    void AddRecentFile(const QString& path);
    void ShowRecentFiles();
    void Exclamation(const QString& text, const QString& detail);

    QWidget& owner;
    CKestrelDoc* document;
    SettingsStore* settings;
    UserPrompts* prompts;
    CommandMenus& menus;
    QStringList recentFiles;
};

}  // namespace kestrel
