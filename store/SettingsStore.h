// The per-user settings store: window placement, COM port, open flag, device paths, recent files.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

// The placement record as the store keeps it: flags, show command, minimised and maximised
// positions and the normal rectangle (right and bottom exclusive).
struct WindowPlacement {
    unsigned flags = 0;
    unsigned showCmd = 1;
    int minX = -1, minY = -1;
    int maxX = -1, maxY = -1;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const WindowPlacement&) const = default;
};

inline constexpr unsigned kShowNormal = 1;
inline constexpr unsigned kShowMaximized = 3;

// "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d".
QString FormatWindowPos(const WindowPlacement& placement);
// Ten numbers at the beginning of the text or nothing; anything after the tenth is ignored.
std::optional<WindowPlacement> ParseWindowPos(const QString& text);
// The decimal number the text begins with (blanks and a sign allowed, as "%u" reads it),
// or nothing when it does not begin with one.
std::optional<int> ParseLeadingNumber(const QString& text);
// A value as text; a hand-edited list ("1,2,3" unquoted) comes back joined by commas.
QString ValueText(const QVariant& value);

class SettingsStore {
public:
    static constexpr const char* kOrganisation = "Verdanne Ltd.";
    static constexpr const char* kApplication = "Kestrel";
    static constexpr int kRecentFiles = 4;
    // The ports the Port Settings dialog offers, COM1 to COM4.
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 4;

    // The store is the file "<folder>/Verdanne Ltd./Kestrel.conf"; an empty folder means the
    // user's configuration folder (~/.config). Only a regular file is read. One that cannot be
    // read is left as it is: the run then starts from the defaults, keeps what it changes in
    // a scratch file, and Problem() says why.
    explicit SettingsStore(const QString& folder = {});

    // Why the settings file could not be read; empty when it could, or when there is none yet.
    const QString& Problem() const { return problem; }

    std::optional<WindowPlacement> ReadWindowPos() const;
    void WriteWindowPos(const WindowPlacement& placement);
    // ActivePort, default 1 (also for a number outside kFirstPort to kLastPort); PortOpen,
    // default 0.
    int ReadActivePort() const;
    int ReadPortOpen() const;
    void WritePortState(int portNumber, int portOpen);
    // PortOpenedOnce: whether a port has ever opened, so that the window stops telling how
    // to start; default no.
    bool ReadPortOpenedOnce() const;
    void WritePortOpenedOnce();

    // Group "Devices", values "COM1".."COMn": the device path stored for a port.
    std::vector<std::pair<int, std::string>> ReadDevicePaths() const;
    // The one stored for COMn; empty when none is.
    std::string ReadDevicePath(int portNumber) const;
    void WriteDevicePath(int portNumber, const std::string& path);

    QStringList ReadRecentFiles() const;
    void WriteRecentFiles(const QStringList& files);

    // Group "View": what the user chose to see ("G821Figures", "Notifications", ...) and
    // numbers of the views ("NotifyDelaySeconds"). A missing or unreadable value gives
    // `fallback`.
    bool ReadViewFlag(const char* key, bool fallback) const;
    void WriteViewFlag(const char* key, bool on);
    int ReadViewNumber(const char* key, int fallback) const;

    void Sync() { settings->sync(); }
    QSettings& Raw() { return *settings; }
    // The settings file this store stands for (also when it could not be read).
    const QString& FileName() const { return path; }

    // The folder given by KESTREL_SETTINGS_DIR, empty when unset.
    static QString FolderFromEnvironment();

private:
    static QString CheckReadable(const QString& path);

    QString path;
    QString problem;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<QSettings> settings;
};

}  // namespace kestrel
