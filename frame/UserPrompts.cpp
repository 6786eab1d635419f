// The Qt side of the user-prompt seam.
#include "frame/UserPrompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace kestrel {

void QtUserPrompts::Exclamation(QWidget* owner, const QString& text, const QString& caption,
                                const QString& detail) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    if (!detail.isEmpty()) {
        box.setInformativeText(detail);
    }
    box.exec();
}

void QtUserPrompts::Notice(QWidget* owner, const QString& text, const QString& caption) {
    auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QString QtUserPrompts::FileName(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.caption);
    dialog.setNameFilters(request.filters);
    if (request.save) {
        // A save dialog takes names that do not exist yet and asks before overwriting.
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialName.isEmpty()) {
        dialog.selectFile(request.initialName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

int QtUserPrompts::Exec(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace kestrel
