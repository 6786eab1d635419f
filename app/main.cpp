// The kestrel program.
#include <QApplication>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/CKestrelApp.h"
#include "app/CommandLine.h"

int main(int argc, char** argv) {
    // A statistics file that is a pipe whose reader has gone must fail its write, which the
    // recording handles, instead of ending the program before it can write its closing rows
    // and settings.
    std::signal(SIGPIPE, SIG_IGN);

    // --help and --version answer without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            break;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kestrel::UsageText().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::fputs(kestrel::VersionText().toLocal8Bit().constData(), stdout);
            return 0;
        }
    }

    // Drawn through X shared memory, every repaint brings an answer from the X server that
    // wakes Qt's event-reader thread and then this one: two wake-ups for each step of the
    // data pane's star. The few small label repaints a second cost no more sent over the
    // connection. A choice made in the environment still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Verdanne Ltd."));
    QApplication::setApplicationName(QStringLiteral("Kestrel"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    // Qt has switched the C library to the user's locale; numbers in our texts and files keep
    // the '.' whatever it says.
    std::setlocale(LC_NUMERIC, "C");

    const kestrel::CommandLine line = kestrel::ParseCommandLine(application.arguments().mid(1));
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "kestrel: %s\nTry 'kestrel --help' for more information.\n",
                     line.error.toLocal8Bit().constData());
        return 2;
    }

    kestrel::CKestrelApp app;
    if (!app.InitInstance(line)) {
        return 1;
    }
    return QApplication::exec();
}
