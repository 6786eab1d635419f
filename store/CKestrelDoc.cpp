// The empty document and its ".cfg" files.
#include "store/CKestrelDoc.h"

#include <QFile>
#include <QFileInfo>

#include "files/RegularFile.h"

namespace kestrel {

QString CKestrelDoc::FrameTitle() const {
    return title + QStringLiteral(" - ") + QString::fromLatin1(kWindowTitle);
}

void CKestrelDoc::OnNewDocument() {
    pathName.clear();
    title = QStringLiteral("Untitled");
    modified = false;
}

bool CKestrelDoc::OnOpenDocument(const QString& path, QString* error) {
    // Nothing is read, but the file is still opened as a document is: a FIFO chosen in the
    // file dialog or left in the recent files would otherwise hold the window in the open.
    const RegularFile file(QFile::encodeName(path).toStdString(), kMaxFileBytes);
    if (!file.IsOpen()) {
        if (error) {
            *error = QString::fromStdString(file.Fault());
        }
        return false;
    }
    SetPathName(path);
    modified = false;
    return true;
}

bool CKestrelDoc::OnSaveDocument(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.flush()) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    SetPathName(path);
    modified = false;
    return true;
}

void CKestrelDoc::SetPathName(const QString& path) {
    pathName = QFileInfo(path).absoluteFilePath();
    title = QFileInfo(path).fileName();
}

}  // namespace kestrel
