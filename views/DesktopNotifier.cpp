#include "views/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kestrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = kService;

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus(bus) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::TellOnce(const QString& why) {
    if (!told) {
        told = true;
        qInfo("Desktop notifications are not shown: %s", qUtf8Printable(why));
    }
}

bool DesktopNotifier::Reach() {
    if (!bus) {
        bus = QDBusConnection::sessionBus();
    }
    if (!bus->isConnected()) {
        TellOnce(QStringLiteral("no session bus"));
        return false;
    }
    if (!listening) {
        listening = true;
        // Any sender: naming the service would make Qt ask the bus for its owner and wait.
        bus->connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                     SLOT(Closed(uint, uint)));
    }
    return true;
}

void DesktopNotifier::Closed(uint id, uint /*reason*/) {
    if (id == shownId) {
        shownId = 0;
    }
}

void DesktopNotifier::Notify(const QString& summary, const QString& body, Urgency urgency) {
    if (!Reach()) {
        return;
    }
    // A notification still on the screen gives way to a newer one as urgent or more, so that
    // a troubled line shows one notification, not a pile; a critical one stays until read.
    const uint replaces = urgency >= shownUrgency ? shownId : 0;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrel"));
    call << QStringLiteral("Kestrel") << replaces << QStringLiteral("kestrel") << summary << body
         << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, urgency](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError()) {
                    TellOnce(reply.error().message());
                    return;
                }
                shownId = reply.value();
                shownUrgency = urgency;
            });
}

}  // namespace kestrel
