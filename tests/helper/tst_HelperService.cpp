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
        QVERIFY(status.value("address_cidr").contains(u'/'));
        // Every local user may read the status: it never shows the Network ID.
        QVERIFY(!status.value("network_name").isEmpty());
        QVERIFY(!QString::fromUtf8(QJsonDocument(status.json).toJson())
                     .contains(kNetwork, Qt::CaseInsensitive));

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
        const QString network = callStatus(m_connection).value("network_name");
        const OkAnswer again = call("StartGateway", {QStringLiteral("fedcba9876543210"), true});
        QVERIFY(again.transportOk && !again.ok && again.message.size() == 1);
        const OkAnswer setNat = call("SetNat", {true});
        QVERIFY(setNat.transportOk && !setNat.ok);
        QVERIFY(setNat.message.value(0).contains(u"running"));
        QCOMPARE(nat(), QJsonValue(false));
        QCOMPARE(callStatus(m_connection).value("network_name"), network);
    }

    // Calls that change something are logged; the reading ones anyone may send by the thousand
    // are not, so that they cannot drown the others.
    void uninstallOutsideAnInstallationRemovesNothingAndCallsAreLogged() {
        const OkAnswer answer = call("Uninstall");
        QVERIFY(answer.transportOk && !answer.ok);
        QVERIFY(answer.message.value(0).contains(u"nothing was removed"));
        QVERIFY(!call("StartGateway", {QStringLiteral("bad"), true}).ok);
        QCOMPARE(ping(m_connection), kVersion);
        QVERIFY(!callStatus(m_connection).json.isEmpty());
        QTest::qWait(100);
        const QString log = QString::fromUtf8(m_helper->process().readAllStandardError());
        QVERIFY(log.contains(QStringLiteral("StartGateway from %1: refused: invalid Network ID")
                                 .arg(m_connection.baseService())));
        QVERIFY(log.contains(QStringLiteral("Uninstall from %1").arg(m_connection.baseService())));
        QVERIFY2(!log.contains(QLatin1StringView("Ping from")) &&
                     !log.contains(QLatin1StringView("GatewayStatus from")),
                 qPrintable(log));
    }

    // However the machine's bus socket is spelt. The socket is faked in a private mount
    // namespace, on a tmpfs over /run.
    void refusesNoAuthorizationOnTheMachineBus_data() {
        QTest::addColumn<QString>("address"); // empty: none set, the default system bus
        QTest::addColumn<bool>("fakesTheSocket");
        QTest::newRow("the default system bus") << QString() << false;
        QTest::newRow("a program that may reach it")
            << QStringLiteral("unixexec:path=/bin/true") << false;
        QTest::newRow("double slash")
            << QStringLiteral("unix:path=/run//dbus/system_bus_socket") << true;
        QTest::newRow("escaped") << QStringLiteral("unix:path=%2frun%2fdbus%2fsystem_bus_socket")
                                 << true;
        QTest::newRow("through a link, second of two")
            << QStringLiteral("unix:path=/nonexistent/bus;unix:path=/var/run/dbus/"
                              "system_bus_socket,guid=0123")
            << true;
    }

    void refusesNoAuthorizationOnTheMachineBus() {
        QFETCH(QString, address);
        QFETCH(bool, fakesTheSocket);
        QProcessEnvironment environment = environmentFor(address);
        if (address.isEmpty())
            environment.remove(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"));
        QStringList command{helperProgram(), QStringLiteral("--no-authorization")};
        if (fakesTheSocket) {
            command = QStringList{QStringLiteral("unshare"),
                                  QStringLiteral("-m"),
                                  QStringLiteral("sh"),
                                  QStringLiteral("-c"),
                                  QStringLiteral("mount -t tmpfs none /run && mkdir /run/dbus && "
                                                 ": >/run/dbus/system_bus_socket && echo faked >&2 "
                                                 "&& exec \"$@\""),
                                  QStringLiteral("sh")} +
                      command;
        }
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(command.first(), command.mid(1));
        QVERIFY(helper.waitForFinished(5000));
        const QByteArray errors = helper.readAllStandardError();
        if (fakesTheSocket && !errors.startsWith("faked\n"))
            QSKIP(qPrintable(QStringLiteral("no private mount namespace to fake the machine's bus "
                                            "socket in (needs root): ") +
                             QString::fromLocal8Bit(errors).simplified()));
        QCOMPARE(helper.exitCode(), 2);
        QVERIFY2(errors.contains("--no-authorization is refused"), errors.constData());
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
