#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <csignal>
#include <memory>

using namespace fernpoint::test;

// The helper's methods on a private bus, authorization switched off.
class tst_HelperService final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<HelperProcess> m_helper;
    QDBusConnection m_connection{QString()};

    OkAnswer call(const char* method, const QVariantList& arguments = {}) {
        return callOk(m_connection, QString::fromLatin1(method), arguments);
    }
    QJsonValue nat() { return callStatus(m_connection).data().value(QStringLiteral("Nat")); }

private Q_SLOTS:
    void initTestCase() {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        m_helper = std::make_unique<HelperProcess>(m_bus->address(),
                                                   QStringList{QStringLiteral("--no-authorization"),
                                                               QStringLiteral("--step-delay-ms"),
                                                               QStringLiteral("150")});
        QVERIFY(waitForOwner(m_connection, kHelperName));
    }

    void cleanupTestCase() {
        m_helper.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    void init() { QVERIFY(call("StopGateway").ok); }

    // Start walks through starting to running and connected; stop returns, also midway.
    void startThenStop() {
        const OkAnswer started = call("StartGateway", {kNetwork, true});
        QVERIFY2(started.ok, qPrintable(started.error));
        QCOMPARE(started.message, QStringList()); // success carries no message
        StatusAnswer status = callStatus(m_connection);
        QCOMPARE(status.value("state"), QStringLiteral("starting"));
        QCOMPARE(status.value("conn_state"), QStringLiteral("connecting"));
        QVERIFY(!status.isRunning);

        QTRY_COMPARE_WITH_TIMEOUT(callStatus(m_connection).value("conn_state"),
                                  QStringLiteral("connected"), 10000);
        status = callStatus(m_connection);
        QCOMPARE(status.value("state"), QStringLiteral("running"));
        QVERIFY(status.isRunning);
        QCOMPARE(status.value("network_desc"), QStringLiteral("Simulated network ") + kNetwork);
        QVERIFY(status.value("address_cidr").contains(u'/'));

        QVERIFY(call("StopGateway").ok);
        status = callStatus(m_connection);
        QCOMPARE(status.value("state"), QStringLiteral("stopped"));
        QCOMPARE(status.value("conn_state"), QStringLiteral("disconnected"));
        QVERIFY(!status.isRunning);
        QVERIFY(call("StartGateway", {kNetwork, true}).ok);
        QVERIFY(call("StopGateway").ok);
        QTest::qWait(400); // the pending steps were cancelled
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
    }

    // NAT follows SetNat while stopped and the start's choice; while running, a second start
    // and SetNat are refused and change nothing.
    void natAndRestartWhileRunning() {
        for (const bool enabled : {false, true}) {
            QVERIFY(call("SetNat", {enabled}).ok);
            QCOMPARE(nat(), QJsonValue(enabled));
        }
        QVERIFY(call("StartGateway", {kNetwork, false}).ok);
        QCOMPARE(nat(), QJsonValue(false));
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(m_connection), QStringLiteral("running"), 10000);
        const OkAnswer again = call("StartGateway", {QStringLiteral("fedcba9876543210"), true});
        QVERIFY(again.transportOk && !again.ok && again.message.size() == 1);
        const OkAnswer setNat = call("SetNat", {true});
        QVERIFY(setNat.transportOk && !setNat.ok);
        QVERIFY(setNat.message.value(0).contains(u"running"));
        QCOMPARE(nat(), QJsonValue(false));
        QCOMPARE(callStatus(m_connection).value("network_desc"),
                 QStringLiteral("Simulated network ") + kNetwork);
    }

    void uninstallOutsideAnInstallationRemovesNothingAndCallsAreLogged() {
        const OkAnswer answer = call("Uninstall");
        QVERIFY(answer.transportOk && !answer.ok);
        QVERIFY(answer.message.value(0).contains(u"nothing was removed"));
        QVERIFY(!call("StartGateway", {QStringLiteral("bad"), true}).ok);
        QTest::qWait(100);
        const QString log = QString::fromUtf8(m_helper->process().readAllStandardError());
        QVERIFY(log.contains(QStringLiteral("StartGateway from %1: refused: invalid Network ID")
                                 .arg(m_connection.baseService())));
    }

    void refusesNoAuthorizationOnTheMachineBus() {
        QProcess helper;
        helper.setProcessEnvironment(
            environmentFor(QStringLiteral("unix:path=/run/dbus/system_bus_socket")));
        helper.start(helperProgram(), {QStringLiteral("--no-authorization")});
        QVERIFY(helper.waitForFinished(5000));
        QVERIFY(helper.exitCode() != 0);
        QVERIFY(helper.readAllStandardError().contains("refused"));
    }

    // Runs last: ends the shared helper.
    void sigtermEndsCleanly() {
        ::kill(static_cast<pid_t>(m_helper->process().processId()), SIGTERM);
        QVERIFY(m_helper->process().waitForFinished(5000));
        QCOMPARE(m_helper->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_helper->process().exitCode(), 0);
        QTRY_VERIFY(!m_connection.interface()->isServiceRegistered(kHelperName).value());
    }
};

QTEST_GUILESS_MAIN(tst_HelperService)
#include "tst_HelperService.moc"
