// The serial adapters present, with what the system knows of them, to pick one for a port.
#include "frame/CDeviceDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {

bool IsBuiltInPort(const std::string& path) {
    const auto slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, 4, "ttyS") == 0;
}

QString Describe(const SerialDeviceInfo& d) {
    QStringList known;
    for (const std::string* part : {&d.vendor, &d.product}) {
        if (!part->empty()) {
            known << QString::fromStdString(*part);
        }
    }
    if (!d.serial.empty()) {
        known << QStringLiteral("serial %1").arg(QString::fromStdString(d.serial));
    }
    QString text = QString::fromStdString(d.path);
    if (!d.node.empty() && d.node != d.path) {
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(d.node));
    }
    if (!known.isEmpty()) {
        text += QStringLiteral("\n    ") + known.join(QStringLiteral(", "));
    }
    return text;
}

}  // namespace

CDeviceDlg::CDeviceDlg(DeviceLister lister, int portNumber, const std::string& stored,
                       QWidget* parent)
    : QDialog(parent), lister(std::move(lister)), chosen(stored) {
    setObjectName(QStringLiteral("SerialDevice"));
    setWindowTitle(QStringLiteral("Serial Device for COM%1").arg(portNumber));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(
        QStringLiteral("&Serial adapters plugged in. The one chosen is stored for COM%1 and used "
                       "from the next start:")
            .arg(portNumber),
        this);
    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("devices"));
    list->setAccessibleName(QStringLiteral("Serial devices"));
    list->setAccessibleDescription(
        QStringLiteral("USB and ACM serial adapters present, by their stable names"));
    caption->setBuddy(list);
    empty = new QLabel(QStringLiteral("No USB or ACM serial adapter is plugged in."), this);
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("Use this device"));
    layout->addWidget(caption);
    layout->addWidget(list);
    layout->addWidget(empty);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    // Reading sysfs takes no time worth a thread; every two seconds is often enough for a
    // person plugging in an adapter and costs nothing while the dialog is closed.
    refresh.setInterval(kRefreshMs);
    connect(&refresh, &QTimer::timeout, this, &CDeviceDlg::Refresh);
    connect(this, &QDialog::finished, &refresh, &QTimer::stop);
    refresh.start();
    Refresh();
}

void CDeviceDlg::Refresh() {
    const QListWidgetItem* current = list->currentItem();
    const QString keep = current ? current->data(Qt::UserRole).toString()
                                 : QString::fromStdString(chosen);
    list->clear();
    for (const SerialDeviceInfo& d : lister ? lister() : std::vector<SerialDeviceInfo>{}) {
        // Built-in ports are never offered: most have no hardware behind them.
        if (IsBuiltInPort(d.path) || IsBuiltInPort(d.node)) {
            continue;
        }
        auto* item = new QListWidgetItem(Describe(d), list);
        item->setData(Qt::UserRole, QString::fromStdString(d.path));
        if (item->data(Qt::UserRole).toString() == keep) {
            list->setCurrentItem(item);
        }
    }
    empty->setVisible(list->count() == 0);
}

void CDeviceDlg::accept() {
    if (const QListWidgetItem* item = list->currentItem()) {
        chosen = item->data(Qt::UserRole).toString().toStdString();
    }
    QDialog::accept();
}

}  // namespace kestrel
