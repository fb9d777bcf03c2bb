#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace fernpoint::test;

namespace {

const QString kControl = kHelperName + QStringLiteral(".control");
const QString kUninstall = kHelperName + QStringLiteral(".uninstall");
const QString kPolkitName = QStringLiteral("org.freedesktop.PolicyKit1");
// python3-dbusmock lives in the system's Python; a python3 first on PATH may lack it.
const QString kPython = QStringLiteral("/usr/bin/python3");

bool isNotAuthorized(const OkAnswer& answer) {
    return answer.transportOk && !answer.ok &&
           answer.message.value(0).startsWith(QLatin1StringView("not authorized: "));
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

    // The questions polkit was asked so far, one line each.
    QStringList polkitChecks() const {
        QFile log(m_dir.filePath(QStringLiteral("polkit.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll())
            .split(u'\n')
            .filter(QStringLiteral("CheckAuthorization"));
    }

    void polkitControl(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPolkitName, QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = m_connection.call(call);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

private Q_SLOTS:
    void initTestCase() {
        QProcess probe;
        probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("python3-dbusmock is not installed (scripts/setup-debian.sh installs it)");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        m_polkit.setProcessEnvironment(environmentFor(m_bus->address()));
        m_polkit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_polkit.start(kPython, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
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
        const QString running = QStringLiteral("fedcba9876543210");
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {running, false}).ok);
        polkitControl(QStringLiteral("SetAllowed"), {QStringList()});
        const QString stateBefore = stateOf(m_connection);

        const OkAnswer answer = callOk(m_connection, method, arguments);
        QVERIFY2(isNotAuthorized(answer), qPrintable(answer.error + answer.message.value(0)));
        const StatusAnswer after = callStatus(m_connection);
        QCOMPARE(after.value("state"), stateBefore);
        QCOMPARE(after.data().value(QStringLiteral("Nat")), QJsonValue(false));
        QCOMPARE(after.value("network_desc"), QStringLiteral("Simulated network ") + running);
        QCOMPARE(ping(m_connection), kVersion);
    }

    // With the control action allowed its methods work, but not Uninstall, which needs its own
    // action. polkit is asked about the caller's unique bus name (not a PID).
    void allowedActionUnlocksOnlyItsOwnMethods() {
        QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {true}).ok);
        const QString lastCheck = polkitChecks().value(polkitChecks().size() - 1);
        QVERIFY2(lastCheck.contains(QLatin1StringView("'system-bus-name'")), qPrintable(lastCheck));
        QVERIFY(
            lastCheck.contains(QStringLiteral("dbus.String('%1'").arg(m_connection.baseService())));
        QVERIFY(lastCheck.contains(QStringLiteral("\"%1\"").arg(kControl)));
        QVERIFY(!lastCheck.contains(QLatin1StringView("unix-process")));

        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true}).ok);
        QVERIFY(stateOf(m_connection) != QLatin1StringView("stopped"));
        const OkAnswer uninstall = callOk(m_connection, QStringLiteral("Uninstall"));
        QVERIFY(isNotAuthorized(uninstall) && uninstall.message.value(0).contains(kUninstall));
        QCOMPARE(ping(m_connection), kVersion);
    }

    // A bad Network ID is answered at once, without asking polkit (which hangs here).
    void badNetworkIdsAreRefusedBeforeAuthorization_data() {
        QTest::addColumn<QString>("networkId");
        QTest::newRow("15 digits") << QStringLiteral("0123456789abcde");
        QTest::newRow("not hex") << QStringLiteral("0123456789abcdeg");
        QTest::newRow("leading dash") << QStringLiteral("-123456789abcdef");
        QTest::newRow("line break") << QStringLiteral("0123456789abcde\n");
        QTest::newRow("shell metacharacters") << QStringLiteral("0123456789a;rm *");
        QTest::newRow("full-width digits") << QStringLiteral("０１２３４５６７８９ａｂｃｄｅｆ");
    }

    void badNetworkIdsAreRefusedBeforeAuthorization() {
        QFETCH(QString, networkId);
        polkitControl(QStringLiteral("SimulateHang"), {true});
        const qsizetype checksBefore = polkitChecks().size();
        QElapsedTimer timer;
        timer.start();
        const OkAnswer answer =
            callOk(m_connection, QStringLiteral("StartGateway"), {networkId, true});
        QVERIFY2(answer.transportOk && !answer.ok, qPrintable(answer.error));
        QVERIFY2(answer.message.value(0).contains(QLatin1StringView("Network ID")),
                 qPrintable(answer.message.value(0)));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(polkitChecks().size(), checksBefore);
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
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
        QCOMPARE(ping(m_connection), kVersion);
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
        QVERIFY(timer.elapsed() < 500);

        pending.waitForFinished();
        QVERIFY(isNotAuthorized(toOkAnswer(pending.reply())));
        polkitControl(QStringLiteral("ReleaseHangingCalls"));
        QTest::qWait(100);
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
    }

    // Runs last: without polkit every changing call is refused.
    void noPolkitMeansNo() {
        m_polkit.terminate();
        QVERIFY(m_polkit.waitForFinished(5000));
        QTRY_VERIFY(!m_connection.interface()->isServiceRegistered(kPolkitName).value());
        QVERIFY(isNotAuthorized(
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true})));
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
    }
};

QTEST_GUILESS_MAIN(tst_HelperAuthorization)
#include "tst_HelperAuthorization.moc"
