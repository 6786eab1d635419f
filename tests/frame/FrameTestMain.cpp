// Test entry for the main-window tests: GoogleTest inside an offscreen QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <clocale>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Windows keep their line memory under the user's data folder: here one of this run's own,
    // so that no test writes into the real home nor meets another test process's database.
    QTemporaryDir data;
    if (!data.isValid()) {
        return 2;
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    // An alarm a test keeps on must never reach the developer's own desktop as a notification.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
