#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QJsonArray>

#include <csignal>

using namespace fernpoint::test;

namespace {

const QString kNetwork = QStringLiteral("0123456789abcdef");

} // namespace

// The helper's six methods on a private bus, authorization switched off.
class tst_HelperService final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<HelperProcess> m_helper;
    QDBusConnection m_connection{QString()};

    QJsonObject waitForConnected() {
        StatusAnswer status;
        QDeadlineTimer deadline(10000);
        do {
            status = callStatus(m_connection);
            if (status.data().value(QStringLiteral("conn_state")) == QLatin1StringView("connected"))
                break;
            QTest::qWait(30);
        } while (!deadline.hasExpired());
        return status.data();
    }

private Q_SLOTS:
    void initTestCase() {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        QVERIFY(m_connection.isConnected());
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

    void pingAnswersTheVersion() {
        QCOMPARE(ping(m_connection), QStringList{QStringLiteral("1.0.4")});
    }

    void statusWhenStopped() {
        const StatusAnswer status = callStatus(m_connection);
        QVERIFY(status.transportOk);
        QCOMPARE(status.json.value(QStringLiteral("ok")), QJsonValue(true));
        QCOMPARE(status.data().value(QStringLiteral("conn_state")).toString(),
                 QStringLiteral("disconnected"));
        QCOMPARE(status.data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("stopped"));
        QVERIFY(status.data().value(QStringLiteral("Nat")).isBool());
        QVERIFY(!status.isRunning);
    }

    void startWalksThroughStartingToConnected() {
        const OkAnswer start =
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true});
        QVERIFY2(start.transportOk, qPrintable(start.error));
        QVERIFY(start.ok);
        QCOMPARE(start.message, QStringList()); // success carries no message (null, not "")

        const StatusAnswer early = callStatus(m_connection);
        QCOMPARE(early.data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("starting"));
        QCOMPARE(early.data().value(QStringLiteral("conn_state")).toString(),
                 QStringLiteral("connecting"));
        QVERIFY(!early.isRunning);

        const QJsonObject data = waitForConnected();
        QCOMPARE(data.value(QStringLiteral("conn_state")).toString(), QStringLiteral("connected"));
        QCOMPARE(data.value(QStringLiteral("state")).toString(), QStringLiteral("running"));
        QVERIFY(callStatus(m_connection).isRunning);
        for (const char* key : {"network_name", "network_desc", "address_cidr"})
            QVERIFY2(data.value(QLatin1StringView(key)).isString(), key);
        QVERIFY(data.value(QStringLiteral("address_cidr")).toString().contains(QLatin1Char('/')));
        for (const char* key : {"listen_port", "peers", "last_policy_at"}) {
            const QJsonValue value = data.value(QLatin1StringView(key));
            QVERIFY2(value.isDouble() && value.toDouble() == value.toInteger() &&
                         value.toInteger() > 0,
                     key);
        }
        QCOMPARE(data.value(QStringLiteral("Nat")), QJsonValue(true));

        const QJsonArray endpoints = data.value(QStringLiteral("endpoints")).toArray();
        QVERIFY(!endpoints.isEmpty());
        int reachable = 0;
        for (const QJsonValue& endpoint : endpoints) {
            const QJsonObject row = endpoint.toObject();
            QVERIFY(row.value(QStringLiteral("endpoints")).toString().contains(QLatin1Char(':')));
            QVERIFY(row.value(QStringLiteral("ok")).isBool());
            reachable += row.value(QStringLiteral("ok")).toBool() ? 1 : 0;
        }
        QVERIFY2(reachable > 0 && reachable < endpoints.size(), "reachability must be mixed");
        const QJsonArray management = data.value(QStringLiteral("mgmt_ips")).toArray();
        QVERIFY(!management.isEmpty());
        for (const QJsonValue& address : management)
            QVERIFY(address.isString());
    }

    void whileRunningStartAndNatAreRefused() {
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, false}).ok);
        waitForConnected();

        const OkAnswer again = callOk(m_connection, QStringLiteral("StartGateway"),
                                      {QStringLiteral("fedcba9876543210"), true});
        QVERIFY(again.transportOk);
        QVERIFY(!again.ok);
        QCOMPARE(again.message.size(), 1);

        const OkAnswer nat = callOk(m_connection, QStringLiteral("SetNat"), {true});
        QVERIFY(nat.transportOk);
        QVERIFY(!nat.ok);
        QVERIFY(nat.message.value(0).contains(QLatin1StringView("running")));

        const QJsonObject data = callStatus(m_connection).data();
        QCOMPARE(data.value(QStringLiteral("Nat")), QJsonValue(false));
        QCOMPARE(data.value(QStringLiteral("network_desc")).toString(),
                 QStringLiteral("Simulated network ") + kNetwork);
    }

    void stopReturnsToStopped() {
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true}).ok);
        waitForConnected();
        const OkAnswer stop = callOk(m_connection, QStringLiteral("StopGateway"));
        QVERIFY(stop.ok);
        const StatusAnswer status = callStatus(m_connection);
        QCOMPARE(status.data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("stopped"));
        QCOMPARE(status.data().value(QStringLiteral("conn_state")).toString(),
                 QStringLiteral("disconnected"));
        QVERIFY(!status.isRunning);
        // A stop in the middle of starting must also cancel the pending steps.
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true}).ok);
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QTest::qWait(400);
        QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("stopped"));
    }

    void natFollowsSetNatWhileStopped() {
        for (const bool enabled : {true, false, true}) {
            QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {enabled}).ok);
            QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("Nat")),
                     QJsonValue(enabled));
        }
        // The NAT choice of a start wins over the stored one.
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, false}).ok);
        QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("Nat")), QJsonValue(false));
    }

    void sameNetworkLooksTheSame() {
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork, true}).ok);
        const QJsonObject first = waitForConnected();
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QVERIFY(
            callOk(m_connection, QStringLiteral("StartGateway"), {kNetwork.toUpper(), true}).ok);
        const QJsonObject second = waitForConnected();
        for (const char* key : {"network_name", "address_cidr", "listen_port", "endpoints"})
            QCOMPARE(second.value(QLatin1StringView(key)), first.value(QLatin1StringView(key)));
        QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        QVERIFY(callOk(m_connection, QStringLiteral("StartGateway"),
                       {QStringLiteral("fedcba9876543210"), true})
                    .ok);
        QVERIFY(waitForConnected().value(QStringLiteral("address_cidr")) !=
                first.value(QStringLiteral("address_cidr")));
    }

    void badNetworkIdsAreRefused_data() {
        QTest::addColumn<QString>("networkId");
        QTest::newRow("15 digits") << QStringLiteral("0123456789abcde");
        QTest::newRow("17 digits") << QStringLiteral("0123456789abcdef0");
        QTest::newRow("empty") << QString();
        QTest::newRow("not hex") << QStringLiteral("0123456789abcdeg");
        QTest::newRow("0x prefix") << QStringLiteral("0x23456789abcdef");
        QTest::newRow("leading dash") << QStringLiteral("-123456789abcdef");
        QTest::newRow("line break") << QStringLiteral("0123456789abcde\n");
        QTest::newRow("padded with spaces") << QStringLiteral(" 123456789abcde ");
        QTest::newRow("shell metacharacters") << QStringLiteral("0123456789a;rm *");
        QTest::newRow("command substitution") << QStringLiteral("$(reboot)9abcdef");
        QTest::newRow("path") << QStringLiteral("../../etc/passwd");
        QTest::newRow("full-width digits") << QStringLiteral("０１２３４５６７８９ａｂｃｄｅｆ");
        QTest::newRow("Arabic-Indic digits") << QStringLiteral("٠١٢٣٤٥٦٧٨٩٠١٢٣٤٥");
        QTest::newRow("NUL inside") << QString::fromUtf16(u"0123456789abcd\u0000f", 16);
    }

    void badNetworkIdsAreRefused() {
        QFETCH(QString, networkId);
        const OkAnswer answer =
            callOk(m_connection, QStringLiteral("StartGateway"), {networkId, true});
        QVERIFY2(answer.transportOk, qPrintable(answer.error));
        QVERIFY(!answer.ok);
        QCOMPARE(answer.message.size(), 1);
        QVERIFY(answer.message.first().contains(QLatin1StringView("Network ID")));
        QCOMPARE(callStatus(m_connection).data().value(QStringLiteral("state")).toString(),
                 QStringLiteral("stopped"));
    }

    void uninstallOutsideAnInstallationRemovesNothing() {
        const OkAnswer answer = callOk(m_connection, QStringLiteral("Uninstall"));
        QVERIFY(answer.transportOk);
        QVERIFY(!answer.ok);
        QVERIFY(answer.message.value(0).contains(QLatin1StringView("nothing was removed")));
        QCOMPARE(ping(m_connection), QStringList{QStringLiteral("1.0.4")});
    }

    void logsOneLinePerCall() {
        const QString caller = m_connection.baseService();
        QVERIFY(callOk(m_connection, QStringLiteral("SetNat"), {false}).ok);
        callOk(m_connection, QStringLiteral("StartGateway"), {QStringLiteral("bad"), true});
        QTest::qWait(100);
        const QString log = QString::fromUtf8(m_helper->process().readAllStandardError());
        QVERIFY(log.contains(QStringLiteral("SetNat from %1: ok\n").arg(caller)));
        QVERIFY(log.contains(
            QStringLiteral("StartGateway from %1: refused: invalid Network ID").arg(caller)));
    }

    void sigtermEndsCleanly() {
        PrivateBus bus;
        QVERIFY(bus.isRunning());
        HelperProcess helper(bus.address(), {QStringLiteral("--no-authorization")});
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("sigterm"));
        QVERIFY(waitForOwner(connection, kHelperName));
        ::kill(static_cast<pid_t>(helper.process().processId()), SIGTERM);
        QVERIFY(helper.process().waitForFinished(5000));
        QCOMPARE(helper.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.process().exitCode(), 0);
        QTRY_VERIFY(!connection.interface()->isServiceRegistered(kHelperName).value());
        QDBusConnection::disconnectFromBus(QStringLiteral("sigterm"));
    }

    void endsWhenItsBusGoesAway() {
        auto bus = std::make_unique<PrivateBus>();
        HelperProcess helper(bus->address(), {QStringLiteral("--no-authorization")});
        {
            QDBusConnection connection =
                QDBusConnection::connectToBus(bus->address(), QStringLiteral("gone"));
            QVERIFY(waitForOwner(connection, kHelperName));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("gone"));
        bus->kill();
        QVERIFY(helper.process().waitForFinished(5000));
    }

    void refusesNoAuthorizationOnTheMachineBus() {
        QProcess helper;
        QProcessEnvironment environment =
            environmentFor(QStringLiteral("unix:path=/run/dbus/system_bus_socket"));
        helper.setProcessEnvironment(environment);
        helper.start(helperProgram(), {QStringLiteral("--no-authorization")});
        QVERIFY(helper.waitForFinished(5000));
        QVERIFY(helper.exitCode() != 0);
        QVERIFY(QString::fromUtf8(helper.readAllStandardError())
                    .contains(QLatin1StringView("refused")));
    }
};

QTEST_GUILESS_MAIN(tst_HelperService)
#include "tst_HelperService.moc"
