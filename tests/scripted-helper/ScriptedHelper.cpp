#include "ScriptedHelper.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QVariantMap>

#include <sys/resource.h>

#include <cstdlib>
#include <unistd.h>

namespace fernpoint::test {
namespace {

const QString kHelperPath = QStringLiteral("/com/lunacore/sdwan/fernpoint/helper");
const QString kHelperInterface = QStringLiteral("com.lunacore.sdwan.fernpoint.Helper");
const QString kScriptPath = QStringLiteral("/script");
const QString kScriptInterface = QStringLiteral("com.fernpoint.test.Script");

// The six methods with their in-signatures, so that a call of the wrong shape is refused the way
// a generated adaptor would refuse it.
const QHash<QString, QString>& methodSignatures() {
    static const QHash<QString, QString> signatures = {
        {QStringLiteral("Ping"), QString()},
        {QStringLiteral("Uninstall"), QString()},
        {QStringLiteral("StartGateway"), QStringLiteral("sb")},
        {QStringLiteral("SetNat"), QStringLiteral("b")},
        {QStringLiteral("StopGateway"), QString()},
        {QStringLiteral("GatewayStatus"), QString()},
    };
    return signatures;
}

QJsonValue toJson(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QStringList)
        return QJsonArray::fromStringList(value.toStringList());
    return value.toString();
}

QVariantList answerArguments(const QString& method, const ScriptedHelper::Script& script) {
    if (method == QLatin1StringView("Ping"))
        return {script.texts};
    if (method == QLatin1StringView("GatewayStatus"))
        return {script.ok, script.texts, script.isRunning};
    return {script.ok, script.texts};
}

} // namespace

ScriptedHelper::ScriptedHelper(QObject* parent)
    : QDBusVirtualObject(parent) {
    // The version text of the reference helper, so that a helper check would pass.
    Script ping;
    ping.texts = QStringList{QStringLiteral("1.0.4")};
    m_scripts.insert(QStringLiteral("Ping"), ping);
}

QString ScriptedHelper::introspect(const QString&) const {
    return QString();
}

bool ScriptedHelper::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (message.path() == kHelperPath && message.interface() == kHelperInterface)
        return handleHelperCall(message, connection);
    if (message.path() == kScriptPath && message.interface() == kScriptInterface)
        return handleScriptCall(message, connection);
    return false;
}

bool ScriptedHelper::handleHelperCall(const QDBusMessage& message,
                                      const QDBusConnection& connection) {
    const QString method = message.member();
    const auto signature = methodSignatures().constFind(method);
    if (signature == methodSignatures().cend())
        return false;
    if (message.signature() != *signature) {
        connection.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                     QStringLiteral("%1 takes \"%2\", got \"%3\"")
                                         .arg(method, *signature, message.signature())));
        return true;
    }

    QJsonArray arguments;
    for (const QVariant& argument : message.arguments())
        arguments.append(toJson(argument));
    m_calls.append(QJsonObject{{QStringLiteral("method"), method},
                               {QStringLiteral("sender"), message.service()},
                               {QStringLiteral("arguments"), arguments}});

    const Script script = m_scripts.value(method);
    if (script.behaviour == QLatin1StringView("exit"))
        ::_exit(0);
    if (script.behaviour == QLatin1StringView("abort")) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::abort();
    }
    if (script.behaviour == QLatin1StringView("silent"))
        return true; // never answered: the caller waits for the bus timeout

    QDBusMessage reply;
    if (script.behaviour == QLatin1StringView("wrongSignature")) {
        reply = message.createReply(QVariantList{QVariant::fromValue(qint32(42))});
    } else if (script.behaviour == QLatin1StringView("extraArgument")) {
        QVariantList answer = answerArguments(method, script);
        answer.append(QVariant::fromValue(qint32(42)));
        reply = message.createReply(answer);
    } else if (script.behaviour == QLatin1StringView("error")) {
        reply = message.createErrorReply(script.errorName, script.errorMessage);
    } else {
        reply = message.createReply(answerArguments(method, script));
    }

    if (script.delayMs <= 0) {
        connection.send(reply);
    } else {
        message.setDelayedReply(true);
        QTimer::singleShot(script.delayMs, this, [connection, reply] { connection.send(reply); });
    }
    return true;
}

bool ScriptedHelper::handleScriptCall(const QDBusMessage& message,
                                      const QDBusConnection& connection) {
    const QString member = message.member();
    if (member == QLatin1StringView("SetReply") &&
        message.signature() == QLatin1StringView("sa{sv}")) {
        const QString method = message.arguments().at(0).toString();
        if (!methodSignatures().contains(method)) {
            connection.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                         QStringLiteral("No helper method %1").arg(method)));
            return true;
        }
        const QVariantMap fields =
            qdbus_cast<QVariantMap>(message.arguments().at(1).value<QDBusArgument>());
        Script script;
        script.ok = fields.value(QStringLiteral("ok"), true).toBool();
        script.texts = fields.value(QStringLiteral("texts")).toStringList();
        script.isRunning = fields.value(QStringLiteral("isRunning")).toBool();
        script.delayMs = fields.value(QStringLiteral("delayMs")).toInt();
        script.behaviour =
            fields.value(QStringLiteral("behaviour"), QStringLiteral("answer")).toString();
        script.errorName = fields.value(QStringLiteral("errorName")).toString();
        script.errorMessage = fields.value(QStringLiteral("errorMessage")).toString();
        m_scripts.insert(method, script);
        connection.send(message.createReply());
        return true;
    }
    if (member == QLatin1StringView("Calls") && message.signature().isEmpty()) {
        connection.send(message.createReply(QVariantList{
            QString::fromUtf8(QJsonDocument(m_calls).toJson(QJsonDocument::Compact))}));
        return true;
    }
    if (member == QLatin1StringView("ReleaseName") && message.signature().isEmpty()) {
        // The name goes, the process stays: answers to calls already received still go out.
        QDBusConnection(connection)
            .unregisterService(QStringLiteral("com.lunacore.sdwan.fernpoint.helper"));
        connection.send(message.createReply());
        return true;
    }
    if (member == QLatin1StringView("ClearCalls") && message.signature().isEmpty()) {
        m_calls = QJsonArray();
        connection.send(message.createReply());
        return true;
    }
    return false;
}

} // namespace fernpoint::test
