// Port, statistics and BER commands: what the user is asked and told, over the session.
#include "frame/MonitorCommands.h"

#include <QAction>
#include <QDialog>
#include <QFile>

#include "frame/CPortSettingsDlg.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "frame/OpenFailure.h"
#include "frame/SessionBinding.h"
#include "frame/UserPrompts.h"
#include "store/SettingsStore.h"

namespace kestrel {

MonitorCommands::MonitorCommands(QWidget& owner, SessionBinding& binding, UserPrompts* prompts,
                                 std::function<void()> update, SettingsStore* settings,
                                 DeviceLister listDevices)
    : owner(owner),
      binding(binding),
      prompts(prompts),
      update(std::move(update)),
      settings(settings),
      listDevices(std::move(listDevices)) {}

void MonitorCommands::Bind(CommandMenus& menus) {
    menus.Bind(cmd::kPortSettings, [this] { OnPortSettings(); });
    menus.Bind(cmd::kPortOpen, [this] { OnPortOpen(); });
    menus.Bind(cmd::kStatisticsOn, [this] { OnStatisticsOn(); });
    menus.Bind(cmd::kStatisticsOff, [this] { OnStatisticsOff(); });
    for (int id = cmd::kBerInterval1; id <= cmd::kBerInterval30; ++id) {
        menus.Bind(id, [this, id] { binding.Session().SetBerInterval(id); });
    }
    // "BER Freeze" is never enabled and does nothing.
    menus.Bind(cmd::kBerReset, [this] { binding.Session().ResetBer(); });
}

void MonitorCommands::UpdateCheckMarks(CommandMenus& menus) const {
    const MuxSession& session = binding.Session();
    QAction* portOpen = menus.Action(cmd::kPortOpen);
    portOpen->setEnabled(true);
    portOpen->setChecked(session.IsPortOpen());
    for (int id = cmd::kBerInterval1; id <= cmd::kBerInterval30; ++id) {
        menus.Action(id)->setChecked(session.IsBerIntervalChecked(id));
    }
    menus.Action(cmd::kBerFreeze)->setEnabled(BerMeter::IsBerFreezeEnabled());
    menus.Action(cmd::kStatisticsOn)->setChecked(session.IsStatisticsOn());
    menus.Action(cmd::kStatisticsOff)->setChecked(!session.IsStatisticsOn());
}

PortSettings MonitorCommands::Settings() const {
    PortSettings s = dialogSettings;
    s.portNumber = binding.Session().PortNumber();
    s.portOpen = binding.Session().IsPortOpen() ? 1 : 0;
    return s;
}

// ---------------------------------------------------------------------------------------------
// Port commands

void MonitorCommands::OnPortOpen() {
    MuxSession& session = binding.Session();
    if (session.IsPortOpen()) {
        session.ClosePort();
        update();
        return;
    }
    if (!session.OpenPort()) {
        update();
        LinkStatus failed;
        failed.path = session.DevicePath();
        failed.error = session.LastOpenError();
        ShowOpenFailure(failed);
    }
    update();
}

void MonitorCommands::ShowOpenFailure(const LinkStatus& status) {
    if (!prompts) {
        return;
    }
    // A network link says why in words (host, port, reason); a local device by its errno.
    const QString detail =
        !status.detail.empty()
            ? QString::fromStdString(status.detail)
            : OpenFailureDetail(status.path, status.error, binding.Session().PortNumber());
    prompts->Exclamation(&owner, QStringLiteral("Device Not Availlable"),
                         QStringLiteral("Port Open Error"), detail);
}

void MonitorCommands::OnPortSettings() {
    CPortSettingsDlg dialog(Settings(), &owner);
    dialog.SetDeviceCommand([this, &dialog](int portNumber) { ChooseDevice(dialog, portNumber); });
    if (!prompts || prompts->Exec(dialog) != QDialog::Accepted) {
        return;
    }
    PortSettings chosen = dialog.GetSettings();
    MuxSession& session = binding.Session();
    if (chosen.portNumber == session.PortNumber()) {
        return;
    }
    if (session.IsPortOpen()) {
        // The port is marked closed before the box: its event loop runs the link watch, which
        // must not ask a closed device for its modem lines.
        session.ClosePort();
        update();
        prompts->Exclamation(&owner, QStringLiteral("Plese Set Port Open"),
                             QStringLiteral("Port Open"), QString());
    }
    session.SetPortNumber(chosen.portNumber);
    dialogSettings = chosen;
    update();
}

void MonitorCommands::ChooseDevice(QWidget& parent, int portNumber) {
    if (!prompts || portNumber < 1) {
        return;
    }
    const auto stored = settings ? settings->ReadDevicePath(portNumber) : std::string();
    CDeviceDlg dialog(listDevices ? listDevices : DeviceLister([] { return ListSerialDevices(); }),
                      portNumber, stored, &parent);
    if (prompts->Exec(dialog) != QDialog::Accepted || dialog.Chosen().empty()) {
        return;
    }
    if (settings) {
        settings->WriteDevicePath(portNumber, dialog.Chosen());
        settings->Sync();
    }
}

// ---------------------------------------------------------------------------------------------
// Statistics commands

void MonitorCommands::OnStatisticsOn() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Save As");
    request.filters = {QStringLiteral("Statistic Files (*.csv)"), QStringLiteral("All Files (*)")};
    request.defaultSuffix = QStringLiteral("csv");
    request.initialName = QStringLiteral("Untitled");
    request.save = true;
    const QString chosen = prompts ? prompts->FileName(&owner, request) : QString();
    if (!chosen.isEmpty()) {
        StartStatistics(chosen);
    }
}

bool MonitorCommands::StartStatistics(const QString& chosen, QString* failure) {
    MuxSession& session = binding.Session();
    // While statistics are on, the running files stay as they are whatever was chosen.
    if (session.IsStatisticsOn()) {
        return false;
    }
    std::string reason;
    const bool on =
        session.StatisticsOn(QFile::encodeName(chosen).toStdString(), failure ? &reason : nullptr);
    if (on) {
        binding.LogFlushTimer().start();
    } else if (failure) {
        *failure = QString::fromLocal8Bit(reason.c_str());
    }
    update();
    return on;
}

void MonitorCommands::OnStatisticsOff() {
    binding.LogFlushTimer().stop();
    binding.Session().StatisticsOff();
    update();
}

void MonitorCommands::StopStatisticsAtClose() {
    if (binding.Session().IsStatisticsOn()) {
        binding.LogFlushTimer().stop();
        binding.Session().StopStatisticsAtClose();
        update();
    }
}

}  // namespace kestrel
