// "Serial Device": the USB and ACM serial adapters plugged in, to tell the program which one a
// COM port is.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "link/DeviceDiscovery.h"

class QLabel;
class QListWidget;

namespace kestrel {

// Lists the devices present; the program's is ListSerialDevices, a test gives its own.
using DeviceLister = std::function<std::vector<SerialDeviceInfo>()>;

// The list is read again every two seconds while the dialog is open, so that an adapter
// plugged in meanwhile shows up; the entry chosen stays chosen while it is there.
class CDeviceDlg : public QDialog {
    Q_OBJECT
public:
    CDeviceDlg(DeviceLister lister, int portNumber, const std::string& stored, QWidget* parent);

    // The path of the device chosen by OK (its stable by-id name where it has one).
    const std::string& Chosen() const { return chosen; }
    QListWidget* List() const { return list; }
    // Reads the devices again; the timer calls it.
    void Refresh();

    void accept() override;

    static constexpr int kRefreshMs = 2000;

private:
    DeviceLister lister;
    QListWidget* list;
    QLabel* empty;
    QTimer refresh;
    std::string chosen;
};

}  // namespace kestrel
