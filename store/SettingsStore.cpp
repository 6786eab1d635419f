// The per-user settings store: the value formats and the rules for reading them back.
#include "store/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <array>
#include <climits>
#include <cstdint>

#include "files/RegularFile.h"

namespace kestrel {

namespace {

constexpr const char* kSettingsGroup = "Settings";
constexpr const char* kDevicesGroup = "Devices";
constexpr const char* kRecentGroup = "Recent File List";

// Reads one number the way scanf's %d / %u does: blanks, an optional sign, at least one digit.
// Values beyond 32 bits are clamped; a negative one keeps its sign.
bool ReadNumber(const QString& text, qsizetype& pos, std::int64_t& value) {
    while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t' || text[pos] == u'\n' ||
                                 text[pos] == u'\r' || text[pos] == u'\v' || text[pos] == u'\f')) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    const qsizetype first = pos;
    std::int64_t v = 0;
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
        if (v < (std::int64_t{1} << 33)) {
            v = v * 10 + (text[pos].unicode() - u'0');
        }
        ++pos;
    }
    if (pos == first) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

int ClampInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

QString FormatWindowPos(const WindowPlacement& p) {
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10")
        .arg(p.flags)
        .arg(p.showCmd)
        .arg(p.minX)
        .arg(p.minY)
        .arg(p.maxX)
        .arg(p.maxY)
        .arg(p.left)
        .arg(p.top)
        .arg(p.right)
        .arg(p.bottom);
}

std::optional<WindowPlacement> ParseWindowPos(const QString& text) {
    std::array<std::int64_t, 10> v{};
    qsizetype pos = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != u',') {
                return std::nullopt;
            }
            ++pos;
        }
        if (!ReadNumber(text, pos, v[i])) {
            return std::nullopt;
        }
    }
    WindowPlacement p;
    p.flags = static_cast<unsigned>(v[0]);
    p.showCmd = static_cast<unsigned>(v[1]);
    p.minX = ClampInt(v[2]);
    p.minY = ClampInt(v[3]);
    p.maxX = ClampInt(v[4]);
    p.maxY = ClampInt(v[5]);
    p.left = ClampInt(v[6]);
    p.top = ClampInt(v[7]);
    p.right = ClampInt(v[8]);
    p.bottom = ClampInt(v[9]);
    return p;
}

std::optional<int> ParseLeadingNumber(const QString& text) {
    qsizetype pos = 0;
    std::int64_t v = 0;
    if (!ReadNumber(text, pos, v)) {
        return std::nullopt;
    }
    // "%u" keeps the low 32 bits.
    return static_cast<int>(static_cast<std::uint32_t>(v));
}

QString ValueText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u',');
    }
    return value.toString();
}

SettingsStore::SettingsStore(const QString& folder) {
    // The file a store on the organisation and application names would use, named here so
    // that it can be looked at before anything reads it.
    const QString base = folder.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : folder;
    path = QDir(base).filePath(QStringLiteral("%1/%2.conf")
                                   .arg(QString::fromLatin1(kOrganisation),
                                        QString::fromLatin1(kApplication)));
    problem = CheckReadable(path);
    if (problem.isEmpty()) {
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        return;
    }
    // Reading a FIFO would wait for a writer for ever, and writing over a file that could
    // not be read would lose what it holds: this run keeps its settings in a scratch file.
    scratch = std::make_unique<QTemporaryDir>();
    settings = std::make_unique<QSettings>(scratch->filePath(QStringLiteral("Kestrel.conf")),
                                           QSettings::IniFormat);
}

QString SettingsStore::CheckReadable(const QString& path) {
    const RegularFile file(QFile::encodeName(path).toStdString(), 0);
    // No file yet: the first close makes it.
    return file.IsOpen() || file.Absent() ? QString() : QString::fromStdString(file.Fault());
}

QString SettingsStore::FolderFromEnvironment() {
    return qEnvironmentVariable("KESTREL_SETTINGS_DIR");
}

std::optional<WindowPlacement> SettingsStore::ReadWindowPos() const {
    settings->beginGroup(QString::fromLatin1(kSettingsGroup));
    const QString text = ValueText(settings->value(QStringLiteral("WindowPos")));
    settings->endGroup();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return ParseWindowPos(text);
}

void SettingsStore::WriteWindowPos(const WindowPlacement& placement) {
    settings->beginGroup(QString::fromLatin1(kSettingsGroup));
    settings->setValue(QStringLiteral("WindowPos"), FormatWindowPos(placement));
    settings->endGroup();
}

int SettingsStore::ReadActivePort() const {
    settings->beginGroup(QString::fromLatin1(kSettingsGroup));
    const QString text = ValueText(settings->value(QStringLiteral("ActivePort")));
    settings->endGroup();
    // A hand-edited number past the ports the settings dialog offers would name a port that
    // cannot be chosen back, and a line memory "COM1410065407.sqlite". Checked before "%u"
    // would keep its low 32 bits, so that 4294967298 is no COM2.
    qsizetype pos = 0;
    std::int64_t v = 0;
    return ReadNumber(text, pos, v) && v >= kFirstPort && v <= kLastPort ? static_cast<int>(v) : 1;
}

int SettingsStore::ReadPortOpen() const {
    settings->beginGroup(QString::fromLatin1(kSettingsGroup));
    const auto v = ParseLeadingNumber(ValueText(settings->value(QStringLiteral("PortOpen"))));
    settings->endGroup();
    return v.value_or(0);
}

void SettingsStore::WritePortState(int portNumber, int portOpen) {
    settings->beginGroup(QString::fromLatin1(kSettingsGroup));
    settings->setValue(QStringLiteral("ActivePort"),
                       QString::number(static_cast<std::uint32_t>(portNumber)));
    settings->setValue(QStringLiteral("PortOpen"),
                       QString::number(static_cast<std::uint32_t>(portOpen)));
    settings->endGroup();
}

bool SettingsStore::ReadPortOpenedOnce() const {
    const QVariant v =
        settings->value(QString::fromLatin1(kSettingsGroup) + QStringLiteral("/PortOpenedOnce"));
    return ParseLeadingNumber(ValueText(v)).value_or(0) != 0;
}

void SettingsStore::WritePortOpenedOnce() {
    settings->setValue(QString::fromLatin1(kSettingsGroup) + QStringLiteral("/PortOpenedOnce"), 1);
}

std::vector<std::pair<int, std::string>> SettingsStore::ReadDevicePaths() const {
    std::vector<std::pair<int, std::string>> paths;
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    settings->beginGroup(QString::fromLatin1(kDevicesGroup));
    for (const QString& key : settings->childKeys()) {
        const auto match = comName.match(key);
        const QString path = ValueText(settings->value(key));
        if (match.hasMatch() && !path.isEmpty()) {
            paths.emplace_back(match.captured(1).toInt(), path.toStdString());
        }
    }
    settings->endGroup();
    return paths;
}

std::string SettingsStore::ReadDevicePath(int portNumber) const {
    for (const auto& [n, path] : ReadDevicePaths()) {
        if (n == portNumber) {
            return path;
        }
    }
    return {};
}

void SettingsStore::WriteDevicePath(int portNumber, const std::string& path) {
    settings->beginGroup(QString::fromLatin1(kDevicesGroup));
    settings->setValue(QStringLiteral("COM%1").arg(portNumber), QString::fromStdString(path));
    settings->endGroup();
}

bool SettingsStore::ReadViewFlag(const char* key, bool fallback) const {
    return ReadViewNumber(key, fallback ? 1 : 0) != 0;
}

void SettingsStore::WriteViewFlag(const char* key, bool on) {
    settings->setValue(QStringLiteral("View/") + QLatin1String(key), on ? 1 : 0);
}

int SettingsStore::ReadViewNumber(const char* key, int fallback) const {
    const QVariant v = settings->value(QStringLiteral("View/") + QLatin1String(key));
    return v.isValid() ? ParseLeadingNumber(ValueText(v)).value_or(fallback) : fallback;
}

QStringList SettingsStore::ReadRecentFiles() const {
    QStringList files;
    settings->beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString f = ValueText(settings->value(QStringLiteral("File%1").arg(i)));
        if (!f.isEmpty()) {
            files << f;
        }
    }
    settings->endGroup();
    return files;
}

void SettingsStore::WriteRecentFiles(const QStringList& files) {
    settings->beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= kRecentFiles; ++i) {
        if (i <= files.size()) {
            settings->setValue(QStringLiteral("File%1").arg(i), files[i - 1]);
        } else {
            settings->remove(QStringLiteral("File%1").arg(i));
        }
    }
    settings->endGroup();
}

}  // namespace kestrel
