// The commands that act on the session: "Port Open", "Port Settings...", "On", "Off", BER.
#pragma once

#include <QString>
#include <functional>

#include "frame/CDeviceDlg.h"
#include "frame/PortSettings.h"

class QWidget;

namespace kestrel {

class CommandMenus;
class SessionBinding;
class SettingsStore;
class UserPrompts;
struct LinkStatus;

class MonitorCommands {
public:
    MonitorCommands(QWidget& owner, SessionBinding& binding, UserPrompts* prompts,
                    std::function<void()> update, SettingsStore* settings = nullptr,
                    DeviceLister listDevices = {});

    void Bind(CommandMenus& menus);
    // The check marks and enabled states of these commands, as the session is now.
    void UpdateCheckMarks(CommandMenus& menus) const;

    // The port settings the dialog shows: the session's port number and open flag, the rest
    // as the dialog last gave them.
    PortSettings Settings() const;

    void OnPortOpen();
    void OnPortSettings();
    // "Device..." in the port settings: the device chosen for COMn goes into the store.
    void ChooseDevice(QWidget& parent, int portNumber);
    // A "Port Open" that failed, now or (a network link) later: the box the user gets.
    void ShowOpenFailure(const LinkStatus& status);
    void OnStatisticsOn();
    // "On" with the name already chosen, as the dialog would give it; true when statistics
    // went on. Also the start of a recording asked for on the command line, which passes
    // `failure` to receive the reason instead of a notice.
    bool StartStatistics(const QString& chosen, QString* failure = nullptr);
    void OnStatisticsOff();
    // "Off" at close, when statistics are on; the flush timer stops first.
    void StopStatisticsAtClose();

private:
    QWidget& owner;
    SessionBinding& binding;
    UserPrompts* prompts;
    std::function<void()> update;
    SettingsStore* settings;
    DeviceLister listDevices;
    PortSettings dialogSettings;
};

}  // namespace kestrel
