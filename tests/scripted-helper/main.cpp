// fernpoint-scripted-helper <bus address>
//
// A stand-in for the gateway helper in tests: it owns the helper's name on the given bus, serves
// the helper's six methods with scripted answers, and takes its scripts through
// com.fernpoint.test.Script at /script (see ScriptedHelperProcess.h). Messages are handled raw so
// that answers of the wrong shape and late answers can be sent.

#include "HelperContract.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

const QString kHelperName = fernpoint::contract::kBusName;
const QString kHelperPath = fernpoint::contract::kObjectPath;
const QString kScriptPath = QStringLiteral("/script");

// The six methods with their in-signatures, so that a call of the wrong shape is refused the way
// a generated adaptor would refuse it.
const QHash<QString, QString> kSignatures = {{QStringLiteral("Ping"), QString()},
                                             {QStringLiteral("Uninstall"), QString()},
                                             {QStringLiteral("StopGateway"), QString()},
                                             {QStringLiteral("GatewayStatus"), QString()},
                                             {QStringLiteral("StartGateway"), QStringLiteral("sb")},
                                             {QStringLiteral("SetNat"), QStringLiteral("b")}};
// What a script may ask for. Anything else is refused, so that a test's setReply() fails visibly
// instead of getting an answer it did not ask for.
const QStringList kBehaviours = {QStringLiteral("answer"), QStringLiteral("wrongSignature"),
                                 QStringLiteral("extraArgument"), QStringLiteral("exit"),
                                 QStringLiteral("abort")};

class ScriptedHelper final : public QDBusVirtualObject {
public:
    ScriptedHelper() {
        // The version text of the reference helper, so that a helper check would pass.
        m_scripts.insert(QStringLiteral("Ping"),
                         {{QStringLiteral("texts"), QStringList{fernpoint::contract::kVersion}}});
    }

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        if (message.path() == kHelperPath && message.interface() == fernpoint::contract::kInterface)
            return handleHelperCall(message, connection);
        if (message.path() == kScriptPath &&
            message.interface() == QLatin1StringView("com.fernpoint.test.Script"))
            return handleScriptCall(message, connection);
        return false;
    }

private:
    static QDBusMessage invalidArgs(const QDBusMessage& message, const QString& text) {
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                        text);
    }

    bool handleHelperCall(const QDBusMessage& message, const QDBusConnection& connection) {
        const QString method = message.member();
        const auto signature = kSignatures.constFind(method);
        if (signature == kSignatures.cend())
            return false;
        if (message.signature() != *signature) {
            connection.send(
                invalidArgs(message, QStringLiteral("%1 takes \"%2\", got \"%3\"")
                                         .arg(method, *signature, message.signature())));
            return true;
        }
        QJsonArray arguments;
        for (const QVariant& argument : message.arguments())
            arguments.append(argument.typeId() == QMetaType::Bool
                                 ? QJsonValue(argument.toBool())
                                 : QJsonValue(argument.toString()));
        m_calls.append(QJsonObject{{QStringLiteral("method"), method},
                                   {QStringLiteral("sender"), message.service()},
                                   {QStringLiteral("arguments"), arguments}});

        const QVariantMap script = m_scripts.value(method);
        const QString behaviour = script.value(QStringLiteral("behaviour")).toString();
        if (behaviour == QLatin1StringView("exit"))
            ::_exit(0);
        if (behaviour == QLatin1StringView("abort")) {
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            std::abort();
        }
        // (texts) for Ping, (ok, texts) for the commands, (ok, texts, isRunning) for the status.
        const QStringList texts = script.value(QStringLiteral("texts")).toStringList();
        QVariantList answer{texts};
        if (method != QLatin1StringView("Ping"))
            answer.prepend(script.value(QStringLiteral("ok"), true).toBool());
        if (method == QLatin1StringView("GatewayStatus"))
            answer.append(script.value(QStringLiteral("isRunning")).toBool());
        if (behaviour == QLatin1StringView("wrongSignature"))
            answer = {QVariant::fromValue(qint32(42))};
        else if (behaviour == QLatin1StringView("extraArgument"))
            answer.append(QVariant::fromValue(qint32(42)));
        const QDBusMessage reply = message.createReply(answer);

        const int delayMs = script.value(QStringLiteral("delayMs")).toInt();
        if (delayMs > 0) {
            message.setDelayedReply(true);
            QTimer::singleShot(delayMs, this, [connection, reply] { connection.send(reply); });
        } else {
            connection.send(reply);
        }
        return true;
    }

    bool handleScriptCall(const QDBusMessage& message, const QDBusConnection& connection) {
        const QString member = message.member();
        if (member == QLatin1StringView("SetReply") &&
            message.signature() == QLatin1StringView("sa{sv}")) {
            const QString method = message.arguments().at(0).toString();
            const QVariantMap script =
                qdbus_cast<QVariantMap>(message.arguments().at(1).value<QDBusArgument>());
            const QString behaviour = script.value(QStringLiteral("behaviour")).toString();
            if (!kSignatures.contains(method) || !kBehaviours.contains(behaviour)) {
                connection.send(invalidArgs(
                    message, QStringLiteral("Cannot script %1 to %2").arg(method, behaviour)));
                return true;
            }
            m_scripts.insert(method, script);
        } else if (member == QLatin1StringView("Calls") && message.signature().isEmpty()) {
            connection.send(message.createReply(QVariantList{
                QString::fromUtf8(QJsonDocument(m_calls).toJson(QJsonDocument::Compact))}));
            return true;
        } else if (member == QLatin1StringView("ReleaseName") && message.signature().isEmpty()) {
            // The name goes, the process stays: answers to calls already received still go out.
            QDBusConnection(connection).unregisterService(kHelperName);
        } else {
            return false;
        }
        connection.send(message.createReply());
        return true;
    }

    QHash<QString, QVariantMap> m_scripts;
    QJsonArray m_calls;
};

} // namespace

int main(int argc, char** argv) {
    // A helper outliving its test would keep the test's bus and folders busy.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (app.arguments().size() != 2) {
        err << "usage: fernpoint-scripted-helper <bus address>\n";
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(
        app.arguments().at(1), QStringLiteral("fernpoint-scripted-helper"));
    // Gone with its bus, like a real helper whose system bus went away.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));

    ScriptedHelper helper;
    // Objects first, name last: once the name has an owner, every call is served.
    if (!bus.registerVirtualObject(kHelperPath, &helper) ||
        !bus.registerVirtualObject(kScriptPath, &helper) || !bus.registerService(kHelperName)) {
        err << "cannot serve the helper on " << app.arguments().at(1) << ": "
            << bus.lastError().message() << '\n';
        return 1;
    }
    return app.exec();
}
