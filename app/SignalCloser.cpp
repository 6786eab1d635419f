// Turns SIGTERM, SIGINT and SIGHUP into a normal close of the main window.
#include "app/SignalCloser.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

namespace kestrel {

namespace {

int pipeFds[2] = {-1, -1};

void OnSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Nothing but write() here: it is async-signal-safe. A full pipe just loses a duplicate.
    [[maybe_unused]] const ssize_t n = write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalCloser::SignalCloser(QWidget* window, QObject* parent) : QObject(parent), window(window) {
    if (pipeFds[0] < 0 && pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(s, &action, nullptr);
    }
}

SignalCloser::~SignalCloser() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(s, &action, nullptr);
    }
}

void SignalCloser::OnReadable() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        lastSignal = bytes[n - 1];
    }
    CloseWindow();
}

void SignalCloser::CloseWindow() {
    if (!window) {
        return;
    }
    // A modal box waiting for an answer would hold the close back: dismiss it first and
    // close the window once its event loop has returned.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        QTimer::singleShot(50, this, [this] { CloseWindow(); });
        return;
    }
    window->close();
}

}  // namespace kestrel
