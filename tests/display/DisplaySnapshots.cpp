// Renders the tributary form and the alarm bar, quiet and with alarms, to PNG files for a look.
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "display/LedIcons.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const qreal scale = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 1.0;
    if (argc > 3) {
        QFont font = app.font();
        font.setPointSizeF(QString::fromLocal8Bit(argv[3]).toDouble());
        app.setFont(font);
    }
    const kestrel::LedIcons icons = kestrel::LedIcons::Load();
    kestrel::CKestrelSettings panel(icons);
    kestrel::CAlarmBar bar(icons);
    panel.resize(panel.sizeHint());
    bar.resize(bar.sizeHint());
    auto save = [&](QWidget& w, const QString& name) {
        QPixmap pixmap(w.size() * scale);
        pixmap.setDevicePixelRatio(scale);
        w.render(&pixmap);
        pixmap.save(dir + QLatin1Char('/') + name);
    };
    save(panel, QStringLiteral("panel-quiet.png"));
    save(bar, QStringLiteral("bar-quiet.png"));
    for (int id : {1012, 1031, 1023, 1043})
        panel.SetLed(id, kestrel::LedState::Red);
    for (int id : {1060, 1080, 1091})
        panel.SetLed(id, kestrel::LedState::Yellow);
    panel.SetBerTexts({"1.234000e-005", "2.000000e-006", "0.000000e-009", "7.100000e-004"});
    bar.SetLed(1126, kestrel::LedState::Red);
    bar.SetLed(1128, kestrel::LedState::Yellow);
    bar.SetLed(1127, kestrel::LedState::Yellow);
    save(panel, QStringLiteral("panel-alarms.png"));
    save(bar, QStringLiteral("bar-alarms.png"));
    return 0;
}
