#pragma once

// Shared by the helper tests: starting the built helper on a private bus and calling it.

#include "HelperContract.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace fernpoint::test {

inline const QString kHelperName = contract::kBusName;
inline const QString kHelperPath = contract::kObjectPath;
inline const QString kHelperInterface = contract::kInterface;
inline const QString kNetwork = QStringLiteral("0123456789abcdef");
inline const QStringList kVersion{contract::kVersion};

inline QString helperProgram() {
    return QStringLiteral(FERNPOINT_HELPER_PROGRAM);
}

inline QProcessEnvironment environmentFor(const QString& busAddress) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    environment.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
    return environment;
}

inline bool waitForOwner(QDBusConnection& bus, const QString& name, int timeoutMs = 10000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!bus.interface()->isServiceRegistered(name).value()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

inline QDBusMessage helperCall(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kHelperName, kHelperPath, kHelperInterface, method);
    call.setArguments(arguments);
    return call;
}

// One answer of a method with the (b, as) shape; transportOk is false for any other reply.
struct OkAnswer {
    bool transportOk = false;
    bool ok = false;
    QStringList message;
    QString error;
};

inline OkAnswer toOkAnswer(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1StringView("bas"))
        return {false, false, {}, reply.errorName() + QLatin1Char(' ') + reply.errorMessage()};
    return {true, reply.arguments().at(0).toBool(), reply.arguments().at(1).toStringList(), {}};
}

inline OkAnswer callOk(QDBusConnection& bus, const QString& method,
                       const QVariantList& arguments = {}) {
    return toOkAnswer(bus.call(helperCall(method, arguments), QDBus::Block, 20000));
}

// GatewayStatus; json is empty unless the reply had the (b, as, b) shape with one JSON object.
struct StatusAnswer {
    bool isRunning = false;
    QJsonObject json;
    QJsonObject data() const { return json.value(QStringLiteral("data")).toObject(); }
    QString value(const char* key) const { return data().value(QLatin1StringView(key)).toString(); }
};

inline StatusAnswer callStatus(QDBusConnection& bus) {
    const QDBusMessage reply =
        bus.call(helperCall(QStringLiteral("GatewayStatus")), QDBus::Block, 20000);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1StringView("basb") ||
        reply.arguments().at(1).toStringList().size() != 1 || !reply.arguments().at(0).toBool())
        return {};
    const QByteArray text = reply.arguments().at(1).toStringList().first().toUtf8();
    return {reply.arguments().at(2).toBool(), QJsonDocument::fromJson(text).object()};
}

inline QString stateOf(QDBusConnection& bus) {
    return callStatus(bus).value("state");
}

inline QStringList ping(QDBusConnection& bus) {
    const QDBusMessage reply = bus.call(helperCall(QStringLiteral("Ping")), QDBus::Block, 20000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1StringView("as"))
        return {QStringLiteral("error: ") + reply.errorMessage()};
    return reply.arguments().at(0).toStringList();
}

// The built helper, serving on a given bus until the object goes away.
class HelperProcess {
public:
    HelperProcess(const QString& busAddress, const QStringList& arguments) {
        m_process.setProcessEnvironment(environmentFor(busAddress));
        m_process.start(helperProgram(), arguments);
    }
    ~HelperProcess() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace fernpoint::test
