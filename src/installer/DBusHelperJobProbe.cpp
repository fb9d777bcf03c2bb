#include "DBusHelperJobProbe.h"

#include "HelperContract.h"

#include <QDBusMessage>

namespace fernpoint {
namespace {

constexpr int kBusCallTimeoutMs = 5000;

QDBusMessage busCall(const QString& method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method);
}

} // namespace

DBusHelperJobProbe::DBusHelperJobProbe(const QDBusConnection& bus, PackagedHelper::System system)
    : m_bus(bus)
    , m_system(std::move(system)) {}

bool DBusHelperJobProbe::isHelperJobPresent() {
    if (!m_bus.isConnected())
        return false;
    const QString name = contract::kBusName;

    const QDBusMessage activatable = m_bus.call(busCall(QStringLiteral("ListActivatableNames")),
                                                QDBus::Block, kBusCallTimeoutMs);
    if (activatable.type() == QDBusMessage::ReplyMessage &&
        activatable.arguments().value(0).toStringList().contains(name))
        return true;

    QDBusMessage ownerCall = busCall(QStringLiteral("NameHasOwner"));
    ownerCall << name;
    const QDBusMessage owned = m_bus.call(ownerCall, QDBus::Block, kBusCallTimeoutMs);
    return owned.type() == QDBusMessage::ReplyMessage && owned.arguments().value(0).toBool();
}

bool DBusHelperJobProbe::isPackagedHelperCurrent() {
    if (!m_bus.isConnected() || !PackagedHelper::problem(m_system).isEmpty())
        return false;
    const QDBusMessage reply =
        m_bus.call(QDBusMessage::createMethodCall(contract::kBusName, contract::kObjectPath,
                                                  contract::kInterface, QStringLiteral("Ping")),
                   QDBus::Block, kBusCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.signature() == u"as" &&
           reply.arguments().constFirst().toStringList() == QStringList{contract::kVersion};
}

} // namespace fernpoint
