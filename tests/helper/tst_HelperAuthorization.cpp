#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace fernpoint::test;

namespace {

const QString kControl = QStringLiteral("com.lunacore.sdwan.fernpoint.helper.control");
const QString kUninstall = QStringLiteral("com.lunacore.sdwan.fernpoint.helper.uninstall");
const QString kPolkitName = QStringLiteral("org.freedesktop.PolicyKit1");
const QString kNetwork = QStringLiteral("0123456789abcdef");

// python3-dbusmock lives in the system's Python; a python3 first on PATH may lack it.
QString systemPython() {
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStandardPaths::findExecutable(QStringLiteral("python3"));
}

} // namespace

// The helper with authorization on, against polkit played by python3-dbusmock's polkitd template.
class tst_HelperAuthorization final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_polkit;
    QTemporaryDir m_dir;
    std::unique_ptr<HelperProcess> m_helper;
    QDBusConnection m_connection{QString()};

    QString polkitLog() const {
        QFile log(m_dir.filePath(QStringLiteral("polkit.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    void polkitControl(const QString& method, const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPolkitName, QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = m_connection.call(call);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    QString state() {
        return callStatus(m_connection).data().value(QStringLiteral("state")).toString();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QProcess probe;
        probe.start(systemPython(), {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("python3-dbusmock is not installed (scripts/setup-debian.sh installs it)");

        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        QVERIFY(m_connection.isConnected());

        m_polkit.setProcessEnvironment(environmentFor(m_bus->address()));
        m_polkit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_polkit.start(systemPython(), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                        QStringLiteral("--system"), QStringLiteral("--template"),
                                        QStringLiteral("polkitd"), QStringLiteral("-l"),
                                        m_dir.filePath(QStringLiteral("polkit.log"))});
        QVERIFY(waitForOwner(m_connection, kPolkitName, 20000));

        m_helper = std::make_unique<HelperProcess>(
            m_bus->address(),
            QStringList{QStringLiteral("--step-delay-ms"), QStringLiteral("50"),
                        QStringLiteral("--authorization-timeout-ms"), QStringLiteral("1500")});
        QVERIFY(waitForOwner(m_connection, kHelperName));
    }

    void cleanupTestCase() {
        m_helper.reset();
        if (m_polkit.state() != QProcess::NotRunning) {
            m_polkit.terminate();
            if (!m_polkit.waitForFinished(5000))
                m_polkit.kill();
            m_polkit.waitForFinished(5000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    void init() {
        polkitControl(QStringLiteral("SimulateHang"), {false});
        polkitControl(QStringLiteral("SetAllowed"), {QStringList{kControl}});
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
    }

    void deniedCallerChangesNothing_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("start") << QStringLiteral("StartGateway") << QVariantList{kNetwork, true};
        QTest::newRow("set NAT") << QStringLiteral("SetNat") << QVariantList{true};
        QTest::newRow("stop") << QStringLiteral("StopGateway") << QVariantList{};
        QTest::newRow("uninstall") << QStringLiteral("Uninstall") << QVariantList{};
    }

    void deniedCallerChangesNothing() {
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        // Running with NAT off, so that each refused call would change something visible.
        QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {false}).ok);
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"),
                       {QStringLiteral("fedcba9876543210"), false})
                    .ok);
        polkitControl(QStringLiteral("SetAllowed"), {QStringList()});
        const QJsonObject before = callStatus(m_connection).data();

        const OkAnswer answer = callOk(m_connection, method, arguments);
        QVERIFY2(answer.transportOk, qPrintable(answer.error));
        QVERIFY(!answer.ok);
        QVERIFY2(answer.message.value(0).startsWith(QLatin1StringView("not authorized: ")),
                 qPrintable(answer.message.value(0)));
        const QJsonObject after = callStatus(m_connection).data();
        QCOMPARE(after.value(QStringLiteral("state")), before.value(QStringLiteral("state")));
        QCOMPARE(after.value(QStringLiteral("Nat")), QJsonValue(false));
        QCOMPARE(after.value(QStringLiteral("network_desc")).toString(),
                 QStringLiteral("Simulated network fedcba9876543210"));
        QCOMPARE(ping(m_connection), QStringList{QStringLiteral("1.0.4")});
    }

    void allowedCallerCanStartAndStop() {
        const OkAnswer start =
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true});
        QVERIFY2(start.ok, qPrintable(start.message.value(0)));
        QVERIFY(state() != QLatin1StringView("stopped"));
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QCOMPARE(state(), QStringLiteral("stopped"));
    }

    // polkit is asked about the caller's unique bus name (not a PID), for the control action.
    void subjectIsTheCallersBusName() {
        QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {true}).ok);
        const QStringList lines = polkitLog().split(QLatin1Char('\n'));
        QString lastCheck;
        for (const QString& line : lines)
            if (line.contains(QLatin1StringView("CheckAuthorization")))
                lastCheck = line;
        QVERIFY2(lastCheck.contains(QLatin1StringView("'system-bus-name'")), qPrintable(lastCheck));
        QVERIFY2(
            lastCheck.contains(QStringLiteral("dbus.String('%1'").arg(m_connection.baseService())),
            qPrintable(lastCheck));
        QVERIFY(lastCheck.contains(QStringLiteral("\"%1\"").arg(kControl)));
        QVERIFY(!lastCheck.contains(QLatin1StringView("unix-process")));
    }

    void uninstallNeedsItsOwnAction() {
        polkitControl(QStringLiteral("SetAllowed"), {QStringList{kControl}});
        const OkAnswer answer = callOk(m_connection, QStringLiteral("Uninstall"));
        QVERIFY(!answer.ok);
        QVERIFY(answer.message.value(0).contains(kUninstall));
        QCOMPARE(ping(m_connection), QStringList{QStringLiteral("1.0.4")});
    }

    // A bad Network ID is answered at once, without asking polkit.
    void validationComesBeforeAuthorization() {
        polkitControl(QStringLiteral("SimulateHang"), {true});
        const int checksBefore = polkitLog().count(QLatin1StringView("CheckAuthorization"));
        QElapsedTimer timer;
        timer.start();
        const OkAnswer answer = callOk(m_connection, QStringLiteral("StartGateway"),
                                       {QStringLiteral("0123;rm -rf /xx"), true});
        QVERIFY(!answer.ok);
        QVERIFY(answer.message.value(0).contains(QLatin1StringView("Network ID")));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(polkitLog().count(QLatin1StringView("CheckAuthorization")), checksBefore);
    }

    // While polkit thinks, the helper goes on answering; no answer in time is a refusal.
    void slowPolkitIsARefusalAndTheHelperStaysResponsive() {
        polkitControl(QStringLiteral("SimulateHang"), {true});
        QDBusPendingCall pending = m_connection.asyncCall(
            helperCall(QStringLiteral("StartGateway"), {kNetwork, true}), 20000);
        QTest::qWait(200);
        QVERIFY(!pending.isFinished());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ping(m_connection), QStringList{QStringLiteral("1.0.4")});
        QCOMPARE(state(), QStringLiteral("stopped"));
        QVERIFY(timer.elapsed() < 500);

        pending.waitForFinished();
        const OkAnswer answer = toOkAnswer(pending.reply());
        QVERIFY2(answer.transportOk, qPrintable(answer.error));
        QVERIFY(!answer.ok);
        QVERIFY(answer.message.value(0).startsWith(QLatin1StringView("not authorized: ")));
        polkitControl(QStringLiteral("ReleaseHangingCalls"), {});
        QTest::qWait(100);
        QCOMPARE(state(), QStringLiteral("stopped"));
    }

    // Runs last: without polkit every changing call is refused.
    void noPolkitMeansNo() {
        m_polkit.terminate();
        QVERIFY(m_polkit.waitForFinished(5000));
        QTRY_VERIFY(!m_connection.interface()->isServiceRegistered(kPolkitName).value());
        const OkAnswer answer =
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true});
        QVERIFY(answer.transportOk);
        QVERIFY(!answer.ok);
        QVERIFY(answer.message.value(0).startsWith(QLatin1StringView("not authorized: ")));
        QCOMPARE(state(), QStringLiteral("stopped"));
    }
};

QTEST_GUILESS_MAIN(tst_HelperAuthorization)
#include "tst_HelperAuthorization.moc"
