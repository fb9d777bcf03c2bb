#include "DBusInstanceSignal.h"

#include "ShellLogging.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace fernpoint {

DBusInstanceSignal::DBusInstanceSignal(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus) {}

bool DBusInstanceSignal::subscribe(std::function<void()> handler) {
    m_handler = std::move(handler);
    if (m_subscribed)
        return true;
    if (!m_bus.isConnected()) {
        qCWarning(lcShell).noquote() << QStringLiteral("⚠️ [app] session bus unavailable: ") +
                                            m_bus.lastError().message();
        return false;
    }
    // Any sender: the second instance has its own unique name on the bus.
    m_subscribed = m_bus.connect(QString(), kPath, kInterface, kMember, this, SLOT(onSignal()));
    // The match rule travels to the bus asynchronously; a round trip on the same connection
    // makes sure the bus applies it before launching goes on, so an instance started right
    // after this one is not missed.
    if (m_subscribed)
        roundTrip();
    return m_subscribed;
}

void DBusInstanceSignal::roundTrip() {
    if (QDBusConnectionInterface* bus = m_bus.interface())
        bus->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
}

bool DBusInstanceSignal::send() {
    if (!m_bus.isConnected())
        return false;
    const QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
    if (!m_bus.send(signal))
        return false;
    // QDBusConnection::send only queues the message. Messages on one connection leave in order,
    // so a round trip to the bus itself guarantees that the signal has been written before the
    // caller exits.
    roundTrip();
    return true;
}

void DBusInstanceSignal::onSignal() {
    if (m_handler)
        m_handler();
}

} // namespace fernpoint
