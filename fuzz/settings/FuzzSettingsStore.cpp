// Fuzzes the settings store's readers with arbitrary settings files: the window placement, the
// port values, the device paths and the recent files, as a hand-edited file may hold them.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "store/SettingsStore.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::SettingsStore;
    // In memory where there is a place for it: the file is rewritten for every input.
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                    ? QStringLiteral("/dev/shm/kestrel-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/kestrel-fuzz-XXXXXX"));
    static const QString name = SettingsStore(folder.path()).FileName();
    static const bool made = QDir().mkpath(name.section(u'/', 0, -2));
    // The settings library keeps files it has read and reads one again only when its size or
    // time stamp changed: each input gets a time stamp of its own.
    static qint64 run = 0;
    QFile file(name);
    Check(made && file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    Check(file.setFileTime(QDateTime::fromMSecsSinceEpoch(++run * 1000),
                           QFileDevice::FileModificationTime));
    file.close();
    {
        const SettingsStore store(folder.path());
        if (const auto placement = store.ReadWindowPos())
            Check(kestrel::ParseWindowPos(kestrel::FormatWindowPos(*placement)) == placement);
        store.ReadActivePort();
        store.ReadPortOpen();
        for (const auto& [port, path] : store.ReadDevicePaths())
            Check(port >= 0 && port <= 999 && !path.empty());
        Check(store.ReadRecentFiles().size() <= SettingsStore::kRecentFiles);
    }
    return 0;
}
