// Test entry for the views: GoogleTest inside an offscreen QApplication, in one time zone.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Times shown in local time read the same on every machine.
    setenv("TZ", "UTC", 1);
    tzset();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
