// The "Comm Port Settings" dialog: the COM port list, and the fixed line settings greyed.
#pragma once

#include <QDialog>
#include <functional>

#include "frame/PortSettings.h"

class QCheckBox;
class QComboBox;

namespace kestrel {

// Built on template 132. Only the Port list can be changed; the other controls show the
// constructor's values. The members are written into the controls when the dialog opens and
// read back by OK.
class CPortSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CPortSettingsDlg(const PortSettings& settings, QWidget* parent);

    PortSettings GetSettings() const;
    // What "Device..." does for the port selected in the list (its number, 1 for COM1).
    void SetDeviceCommand(std::function<void(int portNumber)> command);
    // The control with this template id, for tests.
    QWidget* Control(int id) const;

    int portIndex;
    int baudIndex = 3;
    int dataBitsIndex = 1;
    int dtrDsr = 1;
    int parityIndex = 0;
    int rtsCts = 1;
    int stopBitsIndex = 0;
    int xonXoff = 1;
    int portOpen;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Members into the controls (false) or back (true), in the template's exchange order.
    void DoDataExchange(bool save);

    QComboBox* portList;
    QComboBox* baudList;
    QComboBox* dataBitsList;
    QComboBox* parityList;
    QComboBox* stopBitsList;
    QCheckBox* dtrDsrCheck;
    QCheckBox* rtsCtsCheck;
    QCheckBox* xonXoffCheck;
    std::function<void(int portNumber)> deviceCommand;
};

}  // namespace kestrel
