#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QJsonArray>

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

    bool start(const QString& network, bool nat) {
        return callOk(m_connection, QStringLiteral("StartGateway"), {network, nat}).ok;
    }

    QJsonObject waitForConnected() {
        StatusAnswer status;
        const QDeadlineTimer deadline(10000);
        while ((status = callStatus(m_connection)).value("conn_state") !=
                   QLatin1StringView("connected") &&
               !deadline.hasExpired())
            QTest::qWait(30);
        return status.data();
    }

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

    void init() { QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok); }

    void startWalksThroughStartingToConnectedAndStopReturns() {
        StatusAnswer status = callStatus(m_connection);
        QCOMPARE(status.json.value(QStringLiteral("ok")), QJsonValue(true));
        QCOMPARE(status.value("state"), QStringLiteral("stopped"));
        QCOMPARE(status.value("conn_state"), QStringLiteral("disconnected"));
        QVERIFY(status.data().value(QStringLiteral("Nat")).isBool());
        QVERIFY(!status.isRunning);

        const OkAnswer started =
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true});
        QVERIFY2(started.ok, qPrintable(started.error));
        QCOMPARE(started.message, QStringList()); // success carries no message (null, not "")
        status = callStatus(m_connection);
        QCOMPARE(status.value("state"), QStringLiteral("starting"));
        QCOMPARE(status.value("conn_state"), QStringLiteral("connecting"));
        QVERIFY(!status.isRunning);

        const QJsonObject data = waitForConnected();
        QCOMPARE(data.value(QStringLiteral("state")).toString(), QStringLiteral("running"));
        QVERIFY(callStatus(m_connection).isRunning);
        for (const char* key : {"network_name", "network_desc", "address_cidr"})
            QVERIFY2(data.value(QLatin1StringView(key)).isString(), key);
        QVERIFY(data.value(QStringLiteral("address_cidr")).toString().contains(u'/'));
        for (const char* key : {"listen_port", "peers", "last_policy_at"}) {
            const QJsonValue value = data.value(QLatin1StringView(key));
            QVERIFY2(value.isDouble() && value.toDouble() == value.toInteger() &&
                         value.toInteger() > 0,
                     key);
        }
        QCOMPARE(data.value(QStringLiteral("Nat")), QJsonValue(true));
        const QJsonArray endpoints = data.value(QStringLiteral("endpoints")).toArray();
        int reachable = 0;
        for (const QJsonValue& endpoint : endpoints) {
            QVERIFY(endpoint[QStringLiteral("endpoints")].toString().contains(u':'));
            QVERIFY(endpoint[QStringLiteral("ok")].isBool());
            reachable += endpoint[QStringLiteral("ok")].toBool() ? 1 : 0;
        }
        QVERIFY2(reachable > 0 && reachable < endpoints.size(), "reachability must be mixed");
        const QJsonArray management = data.value(QStringLiteral("mgmt_ips")).toArray();
        QVERIFY(!management.isEmpty());
        for (const QJsonValue& address : management)
            QVERIFY(address.isString());

        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        status = callStatus(m_connection);
        QCOMPARE(status.value("state"), QStringLiteral("stopped"));
        QCOMPARE(status.value("conn_state"), QStringLiteral("disconnected"));
        QVERIFY(!status.isRunning);
        // A stop in the middle of starting also cancels the pending steps.
        QVERIFY(start(kNetwork, true));
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QTest::qWait(400);
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
    }

    void whileRunningStartAndNatAreRefused() {
        QVERIFY(start(kNetwork, false));
        waitForConnected();
        const OkAnswer again = callOk(m_connection, QStringLiteral("StartGateway"),
                                      {QStringLiteral("fedcba9876543210"), true});
        QVERIFY(again.transportOk && !again.ok);
        QCOMPARE(again.message.size(), 1);
        const OkAnswer nat = callOk(m_connection, QStringLiteral("SetNat"), {true});
        QVERIFY(nat.transportOk && !nat.ok);
        QVERIFY(nat.message.value(0).contains(u"running"));

        const QJsonObject data = callStatus(m_connection).data();
        QCOMPARE(data.value(QStringLiteral("Nat")), QJsonValue(false));
        QCOMPARE(data.value(QStringLiteral("network_desc")).toString(),
                 QStringLiteral("Simulated network ") + kNetwork);
    }

    void natFollowsSetNatWhileStoppedAndTheStartsChoice() {
        for (const bool enabled : {true, false, true}) {
            QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {enabled}).ok);
            QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("Nat")),
                     QJsonValue(enabled));
        }
        QVERIFY(start(kNetwork, false));
        QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("Nat")), QJsonValue(false));
    }

    // The simulated core derives what it shows from the Network ID, in either case of letters.
    void sameNetworkLooksTheSame() {
        QVERIFY(start(kNetwork, true));
        const QJsonObject first = waitForConnected();
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QVERIFY(start(kNetwork.toUpper(), true));
        const QJsonObject second = waitForConnected();
        for (const char* key : {"network_name", "address_cidr", "listen_port", "endpoints"})
            QCOMPARE(second.value(QLatin1StringView(key)), first.value(QLatin1StringView(key)));
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QVERIFY(start(QStringLiteral("fedcba9876543210"), true));
        QVERIFY(waitForConnected().value(QStringLiteral("address_cidr")) !=
                first.value(QStringLiteral("address_cidr")));
    }

    void uninstallOutsideAnInstallationRemovesNothingAndCallsAreLogged() {
        const OkAnswer answer = callOk(m_connection, QStringLiteral("Uninstall"));
        QVERIFY(answer.transportOk && !answer.ok);
        QVERIFY(answer.message.value(0).contains(u"nothing was removed"));
        QCOMPARE(ping(m_connection), kVersion);

        QVERIFY(!start(QStringLiteral("bad"), true));
        QTest::qWait(100);
        const QString log = QString::fromUtf8(m_helper->process().readAllStandardError());
        const QString caller = m_connection.baseService();
        QVERIFY(log.contains(QStringLiteral("StopGateway from %1: ok\n").arg(caller)));
        QVERIFY(log.contains(
            QStringLiteral("StartGateway from %1: refused: invalid Network ID").arg(caller)));
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
