// The "Comm Port Settings" dialog, placed from its template in dialog units.
#include "frame/CPortSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "display/DialogUnits.h"

namespace kestrel {

namespace {

QComboBox* MakeList(QWidget* parent, int id, const QStringList& entries, const QRect& rect,
                    bool enabled) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::number(id));
    list->addItems(entries);
    // A drop-down list's template height is that of its open list; the closed box takes
    // its natural height.
    list->setGeometry(rect.x(), rect.y(), rect.width(), list->sizeHint().height());
    list->setEnabled(enabled);
    return list;
}

}  // namespace

CPortSettingsDlg::CPortSettingsDlg(const PortSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      portIndex(settings.portNumber - 1),
      portOpen(settings.portOpen) {
    setObjectName(QStringLiteral("132"));
    setWindowTitle(QStringLiteral("Comm Port Settings"));
    const DialogUnits du(font());
    setFixedSize(du.Rect(0, 0, 167, 139).size());

    auto* group = new QGroupBox(QStringLiteral("&COM Options:"), this);
    group->setGeometry(du.Rect(5, 5, 115, 130));

    auto label = [&](const char* text, int y, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const QRect r = du.Rect(10, y, 40, 10);
        // Centred on the control beside it, which is taller than the label's own rectangle.
        l->setGeometry(r.x(), buddy->y(), r.width(), buddy->height());
        l->setBuddy(buddy);
        return l;
    };

    portList = MakeList(this, 544,
                        {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                         QStringLiteral("COM4")},
                        du.Rect(56, 19, 55, 60), true);
    label("&Port:", 20, portList);
    baudList = MakeList(this, 545,
                        {QStringLiteral("1200 bit/s"), QStringLiteral("2400 bit/s"),
                         QStringLiteral("4800 bit/s"), QStringLiteral("9600 bit/s")},
                        du.Rect(56, 33, 55, 35), false);
    label("&Baud Rate:", 35, baudList);
    dataBitsList = MakeList(this, 546, {QStringLiteral("7 bits"), QStringLiteral("8 bits")},
                            du.Rect(56, 48, 55, 35), false);
    label("&Data Bits:", 50, dataBitsList);
    parityList =
        MakeList(this, 547, {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")},
                 du.Rect(56, 63, 55, 35), false);
    label("P&arity:", 65, parityList);
    stopBitsList =
        MakeList(this, 548, {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")},
                 du.Rect(56, 79, 55, 35), false);
    label("&Stop Bits:", 80, stopBitsList);

    auto check = [&](int id, const char* text, const QRect& r) {
        auto* c = new QCheckBox(QString::fromLatin1(text), this);
        c->setObjectName(QString::number(id));
        c->setGeometry(r.x(), r.y(), std::max(r.width(), c->sizeHint().width()),
                       std::max(r.height(), c->sizeHint().height()));
        c->setEnabled(false);
        return c;
    };
    dtrDsrCheck = check(549, "DTR/DSR", du.Rect(56, 95, 50, 10));
    rtsCtsCheck = check(550, "RTS/CTS", du.Rect(56, 105, 50, 10));
    xonXoffCheck = check(551, "XON/XOFF", du.Rect(56, 115, 50, 10));
    // The flow check boxes sit close together in the template; with today's larger check
    // marks they are spaced by their own height instead.
    rtsCtsCheck->move(rtsCtsCheck->x(),
                      std::max(rtsCtsCheck->y(), dtrDsrCheck->geometry().bottom() + 1));
    xonXoffCheck->move(xonXoffCheck->x(),
                       std::max(xonXoffCheck->y(), rtsCtsCheck->geometry().bottom() + 1));
    auto* flow = new QLabel(QStringLiteral("F&low:"), this);
    flow->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    flow->setGeometry(du.X(10), dtrDsrCheck->y(), du.X(40), dtrDsrCheck->height());
    flow->setBuddy(dtrDsrCheck);

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(123, 9, 40, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(du.Rect(123, 120, 40, 14));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // Beside the port list, under OK: which adapter the selected COM port is.
    auto* device = new QPushButton(QStringLiteral("De&vice..."), this);
    device->setObjectName(QStringLiteral("device"));
    device->setAccessibleName(QStringLiteral("Device for the selected port"));
    device->setGeometry(du.Rect(123, 27, 40, 14));
    connect(device, &QPushButton::clicked, this, [this] {
        if (deviceCommand && portList->currentIndex() >= 0) {
            deviceCommand(portList->currentIndex() + 1);
        }
    });

    // The dialog grows where today's fonts need more room than the template gave.
    const int bottom = std::max(xonXoffCheck->geometry().bottom() + du.Y(5), height());
    if (bottom > height()) {
        setFixedHeight(bottom + du.Y(4));
        group->resize(group->width(), bottom - group->y());
        cancel->move(cancel->x(), bottom - cancel->height());
    }
    DoDataExchange(false);
}

void CPortSettingsDlg::showEvent(QShowEvent* event) {
    DoDataExchange(false);
    QDialog::showEvent(event);
}

void CPortSettingsDlg::accept() {
    DoDataExchange(true);
    QDialog::accept();
}

void CPortSettingsDlg::DoDataExchange(bool save) {
    auto list = [save](QComboBox* box, int& member) {
        if (save) {
            member = box->currentIndex();
        } else {
            // An index outside the list leaves it without a selection.
            box->setCurrentIndex(member >= 0 && member < box->count() ? member : -1);
        }
    };
    auto checkBox = [save](QCheckBox* box, int& member) {
        if (save) {
            member = box->isChecked() ? 1 : 0;
        } else {
            box->setChecked(member != 0);
        }
    };
    list(portList, portIndex);
    list(baudList, baudIndex);
    list(dataBitsList, dataBitsIndex);
    checkBox(dtrDsrCheck, dtrDsr);
    list(parityList, parityIndex);
    checkBox(rtsCtsCheck, rtsCts);
    list(stopBitsList, stopBitsIndex);
    checkBox(xonXoffCheck, xonXoff);
}

PortSettings CPortSettingsDlg::GetSettings() const {
    static constexpr int kBaudRates[] = {1200, 2400, 4800, 9600};
    PortSettings s;
    s.portNumber = portIndex + 1;
    s.portOpen = portOpen;
    s.baudRate = baudIndex >= 0 && baudIndex < 4 ? kBaudRates[baudIndex] : 9600;
    s.dataBitsIndex = dataBitsIndex;
    s.dtrDsr = dtrDsr;
    s.parityIndex = parityIndex;
    s.rtsCts = rtsCts;
    s.stopBitsIndex = stopBitsIndex;
    s.xonXoff = xonXoff;
    return s;
}

void CPortSettingsDlg::SetDeviceCommand(std::function<void(int portNumber)> command) {
    deviceCommand = std::move(command);
}

QWidget* CPortSettingsDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

}  // namespace kestrel
