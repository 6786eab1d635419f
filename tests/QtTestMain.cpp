// Test entry for the offscreen GUI tests: GoogleTest inside a QApplication on a laptop's screen,
// in one time zone, with a data folder of the run's own and no desktop to notify.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <clocale>

int main(int argc, char** argv) {
    // The tests never need a screen, also when the test list is collected.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Times shown in local time read the same on every machine.
    setenv("TZ", "UTC", 1);
    tzset();
    // Windows keep their line memory under the user's data folder: here one of this run's own,
    // so that no test writes into the real home nor meets another test process's database.
    QTemporaryDir data;
    if (!data.isValid()) {
        return 2;
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    // An alarm a test keeps on must never reach the developer's own desktop as a notification.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    // The offscreen screen is a common laptop's, 1280 x 900, instead of its own 800 x 800, on
    // which a window at its default size would not fit even at the normal font size.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QFile screen(data.filePath(QStringLiteral("screen.json")));
        if (!screen.open(QIODevice::WriteOnly) ||
            screen.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1280,)"
                         R"( "height": 900, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") <
                0) {
            return 2;
        }
        screen.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screen.fileName()));
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
