// The document: an empty shell whose ".cfg" files hold nothing.
#pragma once

#include <QString>
#include <cstddef>

namespace kestrel {

// The monitoring lives in the main window, not here; opening or saving a document changes
// nothing in it. Saving writes an empty file, opening reads nothing.
class CKestrelDoc {
public:
    static constexpr const char* kWindowTitle = "Kestrel";
    static constexpr const char* kFilterName = "Kestrel Files (*.cfg)";
    static constexpr const char* kExtension = ".cfg";
    // A document holds nothing and is saved as an empty file; anything much larger is not one
    // of ours, and is refused rather than taken for one.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;

    // "Untitled" until the document has a file.
    QString Title() const { return title; }
    QString PathName() const { return pathName; }
    // "<title> - Kestrel".
    QString FrameTitle() const;

    bool IsModified() const { return modified; }
    void SetModifiedFlag(bool m) { modified = m; }
    // There is never anything to save, so a close is never refused.
    bool SaveModified() { return true; }

    void OnNewDocument();
    // The file must be a regular file, readable and at most kMaxFileBytes; nothing is read from
    // it. On failure `error` says why.
    bool OnOpenDocument(const QString& path, QString* error);
    // Creates or truncates the file and writes nothing into it.
    bool OnSaveDocument(const QString& path, QString* error);

private:
    void SetPathName(const QString& path);

    QString title = QStringLiteral("Untitled");
    QString pathName;
    bool modified = false;
};

}  // namespace kestrel
