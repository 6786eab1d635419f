// Test entry for the display tests: GoogleTest inside an offscreen QApplication.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // The tests never need a screen, also when the test list is collected.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
