#pragma once

// Shared by the helper tests: starting the built helper on a private bus and calling it.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <memory>

namespace fernpoint::test {

inline const QString kHelperName = QStringLiteral("com.lunacore.sdwan.fernpoint.helper");
inline const QString kHelperPath = QStringLiteral("/com/lunacore/sdwan/fernpoint/helper");
inline const QString kHelperInterface = QStringLiteral("com.lunacore.sdwan.fernpoint.Helper");

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

// Waits until the name has an owner (or the time is up).
inline bool waitForOwner(QDBusConnection& bus, const QString& name, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (bus.interface()->isServiceRegistered(name).value())
            return true;
        QTest::qWait(20);
    }
    return false;
}

inline QDBusMessage helperCall(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kHelperName, kHelperPath, kHelperInterface, method);
    call.setArguments(arguments);
    return call;
}

// One answer of a method with the (b, as) shape.
struct OkAnswer {
    bool transportOk = false;
    bool ok = false;
    QStringList message;
    QString error;
};

inline OkAnswer toOkAnswer(const QDBusMessage& reply) {
    OkAnswer answer;
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1StringView("bas")) {
        answer.error = reply.errorName() + QLatin1Char(' ') + reply.errorMessage();
        return answer;
    }
    answer.transportOk = true;
    answer.ok = reply.arguments().at(0).toBool();
    answer.message = reply.arguments().at(1).toStringList();
    return answer;
}

inline OkAnswer callOk(QDBusConnection& bus, const QString& method,
                       const QVariantList& arguments = {}) {
    return toOkAnswer(bus.call(helperCall(method, arguments), QDBus::Block, 20000));
}

struct StatusAnswer {
    bool transportOk = false;
    bool isRunning = false;
    QJsonObject json; // the whole status object
    QJsonObject data() const { return json.value(QStringLiteral("data")).toObject(); }
};

inline StatusAnswer callStatus(QDBusConnection& bus) {
    StatusAnswer answer;
    const QDBusMessage reply =
        bus.call(helperCall(QStringLiteral("GatewayStatus")), QDBus::Block, 20000);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1StringView("basb"))
        return answer;
    const QStringList text = reply.arguments().at(1).toStringList();
    if (text.size() != 1)
        return answer;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.first().toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return answer;
    answer.transportOk = reply.arguments().at(0).toBool();
    answer.isRunning = reply.arguments().at(2).toBool();
    answer.json = document.object();
    return answer;
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
    HelperProcess(const QString& busAddress, const QStringList& arguments,
                  const QString& program = helperProgram()) {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setProcessEnvironment(environmentFor(busAddress));
        m_process.start();
    }
    ~HelperProcess() { stop(); }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    QProcess& process() { return m_process; }
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

} // namespace fernpoint::test
