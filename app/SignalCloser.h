// Turns SIGTERM, SIGINT and SIGHUP into a normal close of the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace kestrel {

// The signal handler only writes the signal number into a pipe; the user-interface thread
// reads it and closes the window through its ordinary close handler, so a session end or a
// kill saves the settings and writes the closing statistics rows like "Exit" does.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QWidget* window, QObject* parent = nullptr);
    ~SignalCloser() override;

    // The signal that arrived last, 0 before any.
    int LastSignal() const { return lastSignal; }

private:
    void OnReadable();
    void CloseWindow();

    QPointer<QWidget> window;
    QSocketNotifier* notifier = nullptr;
    int lastSignal = 0;
};

}  // namespace kestrel
