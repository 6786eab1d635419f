// The seam between the program and the user's answers: message boxes, file dialogs, dialogs.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace kestrel {

struct FileDialogRequest {
    QString caption;
    QStringList filters;    // "Statistic Files (*.csv)", "All Files (*)"
    QString defaultSuffix;  // appended to a name typed without one
    QString initialName;    // "Untitled"
    bool save = true;       // save dialog (asks before overwriting) or open dialog
};

// Everything that waits for the user goes through here, so that tests can answer in advance.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A modal message with an exclamation icon and an OK button, owned by `owner`. `detail`
    // (may be empty) goes into the box's detail text.
    virtual void Exclamation(QWidget* owner, const QString& text, const QString& caption,
                             const QString& detail) = 0;
    // A message that does not stop the program: shown and left for the user to dismiss.
    virtual void Notice(QWidget* owner, const QString& text, const QString& caption) = 0;
    // The chosen file name, or an empty string when the user cancelled.
    virtual QString FileName(QWidget* owner, const FileDialogRequest& request) = 0;
    // Runs a modal dialog; QDialog::Accepted or QDialog::Rejected.
    virtual int Exec(QDialog& dialog) = 0;
};

// The real thing: QMessageBox, QFileDialog, QDialog::exec.
class QtUserPrompts : public UserPrompts {
public:
    void Exclamation(QWidget* owner, const QString& text, const QString& caption,
                     const QString& detail) override;
    void Notice(QWidget* owner, const QString& text, const QString& caption) override;
    QString FileName(QWidget* owner, const FileDialogRequest& request) override;
    int Exec(QDialog& dialog) override;
};

}  // namespace kestrel
