// Reads a window settings file through the window's own settings store and prints the device
// paths it takes from it, "COMn=PATH" a line, for the documentation test to compare.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "store/SettingsStore.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: docs_settings_check SETTINGS-FILE\n", stderr);
        return 2;
    }
    // The store reads "<folder>/Verdanne Ltd./Kestrel.conf" only, so the file goes there.
    QTemporaryDir folder;
    const QString name = folder.filePath(QStringLiteral("Verdanne Ltd./Kestrel.conf"));
    if (!folder.isValid() || !QDir().mkpath(QFileInfo(name).path()) ||
        !QFile::copy(QString::fromLocal8Bit(argv[1]), name)) {
        std::fprintf(stderr, "docs_settings_check: cannot copy %s\n", argv[1]);
        return 2;
    }
    kestrel::SettingsStore store(folder.path());
    if (!store.Problem().isEmpty() || store.Raw().status() != QSettings::NoError) {
        std::fprintf(stderr, "docs_settings_check: %s: %s\n", argv[1],
                     store.Problem().isEmpty() ? "not an INI file the store can read"
                                               : store.Problem().toLocal8Bit().constData());
        return 1;
    }
    for (const auto& [port, path] : store.ReadDevicePaths()) {
        std::printf("COM%d=%s\n", port, path.c_str());
    }
    return 0;
}
