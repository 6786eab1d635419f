// The about box, laid out from its template in dialog units.
#include "frame/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "frame/AppIcon.h"
#include "display/DialogUnits.h"

namespace kestrel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Kestrel"));
    setObjectName(QStringLiteral("100"));
    const DialogUnits du(font());
    setFixedSize(du.Rect(0, 0, 217, 55).size());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = du.Rect(11, 17, 20, 20);
    const int side = std::min(iconRect.width(), iconRect.height());
    icon->setPixmap(AppIcon().pixmap(QSize(side, side), devicePixelRatioF()));
    icon->setGeometry(iconRect.x(), iconRect.y(), side, side);

    auto* text = new QLabel(QStringLiteral("Kestrel Version 1.0"), this);
    text->setObjectName(QStringLiteral("version"));
    text->setGeometry(du.Rect(40, 10, 119, 8).adjusted(0, -2, 0, 2));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(160, 7, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestrel
