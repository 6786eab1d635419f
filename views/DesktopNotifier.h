// Notifications on the desktop: the freedesktop Notify call over the session bus.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <optional>

#include "views/NotificationRule.h"

namespace kestrel {

// Sends without waiting for the answer, so the window never stalls on the bus. Where no
// session bus or no notification service runs nothing is shown, and that is said once.
class DesktopNotifier : public QObject, public Notifier {
    Q_OBJECT
public:
    // The session bus, reached with the first notification.
    explicit DesktopNotifier(QObject* parent = nullptr);
    // A bus of the caller's own.
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void Notify(const QString& summary, const QString& body, Urgency urgency) override;

    // The server's id of the notification a next one would replace; 0 when none.
    uint Shown() const { return shownId; }

private slots:
    void Closed(uint id, uint reason);

private:
    bool Reach();
    void TellOnce(const QString& why);

    std::optional<QDBusConnection> bus;
    bool listening = false;
    bool told = false;
    uint shownId = 0;  // our notification still on the screen
    Urgency shownUrgency = Urgency::Normal;
};

}  // namespace kestrel
