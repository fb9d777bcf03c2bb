#include "DBusHelperClient.h"
#include "HelperContract.h"
#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <unistd.h>

using namespace fernpoint;
using fernpoint::test::PrivateBus;

namespace {

const QString kHelper = QStringLiteral(FERNPOINT_HELPER_PROGRAM);
const QString kName = contract::kBusName;
const QString kControl = kName + QStringLiteral(".control");
const QString kPolkitName = QStringLiteral("org.freedesktop.PolicyKit1");
const QString kNetwork = QStringLiteral("0123456789abcdef");
// python3-dbusmock lives in the system's Python; a python3 first on PATH may lack it.
const QString kPython = QStringLiteral("/usr/bin/python3");

QDBusMessage helperCall(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kName, contract::kObjectPath, contract::kInterface, method);
    call.setArguments(arguments);
    return call;
}

// A command's answer as "ok", "refused <message>" or "error <name>".
QString describe(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != u"bas")
        return QStringLiteral("error ") + reply.errorName();
    const QString message = reply.arguments().at(1).toStringList().join(u'|');
    return reply.arguments().at(0).toBool() ? QStringLiteral("ok") + message
                                            : QStringLiteral("refused ") + message;
}

} // namespace

// The built helper on a private bus, against polkit played by python3-dbusmock's polkitd
// template: what the real daemon cannot be made to do (hang, vanish, show what it was asked).
// Who may do what against the real daemon: tst_HelperOnRealPolkit.
class tst_HelperService final : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_polkit;
    QProcess m_helper;
    QTemporaryDir m_dir;
    QDBusConnection m_connection{QString()};

    QString call(const char* method, const QVariantList& arguments = {}) {
        return describe(m_connection.call(helperCall(QString::fromLatin1(method), arguments),
                                          QDBus::Block, 20000));
    }
    // The status's data, with isRunning as "isRunning".
    QJsonObject status() {
        const QDBusMessage reply = m_connection.call(helperCall(QStringLiteral("GatewayStatus")));
        if (reply.signature() != u"basb" || reply.arguments().at(1).toStringList().size() != 1)
            return {};
        QJsonObject data =
            QJsonDocument::fromJson(reply.arguments().at(1).toStringList()[0].toUtf8())
                .object()
                .value(QStringLiteral("data"))
                .toObject();
        data.insert(QStringLiteral("isRunning"), reply.arguments().at(2).toBool());
        return data;
    }
    QString state() { return status().value(QStringLiteral("state")).toString(); }
    // The questions polkit was asked so far, one line each.
    QStringList polkitLog(const QString& method = QStringLiteral("CheckAuthorization")) const {
        QFile log(m_dir.filePath(QStringLiteral("polkit.log")));
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(u'\n').filter(u' ' + method + u' ')
                   : QStringList();
    }
    void polkitControl(const char* method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPolkitName, QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QString::fromLatin1(method));
        call.setArguments(arguments);
        const QDBusMessage reply = m_connection.call(call);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }
    bool waitForOwner(const QString& name) {
        return QTest::qWaitFor(
            [&] { return m_connection.interface()->isServiceRegistered(name).value(); }, 20000);
    }

private Q_SLOTS:
    void initTestCase() {
        if (QProcess::execute(kPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}))
            QSKIP("python3-dbusmock is not installed (scripts/setup-debian.sh installs it)");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        m_polkit.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
        m_polkit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_polkit.start(kPython, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                 QStringLiteral("--system"), QStringLiteral("--template"),
                                 QStringLiteral("polkitd"), QStringLiteral("-l"),
                                 m_dir.filePath(QStringLiteral("polkit.log"))});
        QVERIFY(waitForOwner(kPolkitName));
        // The template lacks it; added, so that the log shows every cancellation.
        polkitControl("AddMethod", {QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
                                    QStringLiteral("CancelCheckAuthorization"), QStringLiteral("s"),
                                    QString(), QString()});
        m_helper.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
        m_helper.start(kHelper,
                       {QStringLiteral("--step-delay-ms"), QStringLiteral("300"),
                        QStringLiteral("--authorization-timeout-ms"), QStringLiteral("1500")});
        QVERIFY(waitForOwner(kName));
    }

    void cleanupTestCase() {
        for (QProcess* process : {&m_helper, &m_polkit}) {
            process->kill();
            process->waitForFinished();
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    void init() {
        polkitControl("SimulateHang", {false});
        polkitControl("SetAllowed", {QStringList{kControl, kName + QStringLiteral(".uninstall")}});
        QCOMPARE(call("StopGateway"), QStringLiteral("ok"));
    }

    // NAT follows SetNat while stopped and the start's choice; once started, SetNat and a second
    // start are refused. The status never shows the Network ID.
    void startAndStop() {
        QCOMPARE(call("SetNat", {true}), QStringLiteral("ok"));
        QCOMPARE(status().value(QStringLiteral("Nat")), QJsonValue(true));
        QCOMPARE(call("StartGateway", {kNetwork, false}), QStringLiteral("ok"));
        QCOMPARE(state(), QStringLiteral("starting"));
        QVERIFY(call("SetNat", {true}).startsWith(u"refused NAT cannot be changed"));
        QCOMPARE(status().value(QStringLiteral("Nat")), QJsonValue(false));
        QTRY_COMPARE_WITH_TIMEOUT(status().value(QStringLiteral("conn_state")),
                                  QJsonValue(QStringLiteral("connected")), 5000);
        const QJsonObject running = status();
        QCOMPARE(running.value(QStringLiteral("state")), QJsonValue(QStringLiteral("running")));
        QVERIFY(running.value(QStringLiteral("isRunning")).toBool());
        QVERIFY(!QJsonDocument(running).toJson().contains(kNetwork.toLatin1()));
        QVERIFY(call("StartGateway", {QStringLiteral("fedcba9876543210"), true})
                    .startsWith(u"refused "));

        QCOMPARE(call("StopGateway"), QStringLiteral("ok"));
        QCOMPARE(state(), QStringLiteral("stopped"));
        QCOMPARE(call("StartGateway", {kNetwork, true}), QStringLiteral("ok"));
        QCOMPARE(call("StopGateway"), QStringLiteral("ok"));
        QTest::qWait(700); // the pending steps were cancelled
        QCOMPARE(state(), QStringLiteral("stopped"));
    }

    // A person is asked (flags 1) only when the caller's message allows it: the window's client
    // always does, fernpointctl only on a terminal. polkit is asked about the caller's unique bus
    // name, which no other process can take over while the call is in flight (unlike a PID).
    void interactiveOnlyWhenTheCallerAllowsIt_data() {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("interactive");
        QTest::newRow("plain call") << QString() << false;
        QTest::newRow("the window's client") << QStringLiteral("client") << true;
        QTest::newRow("fernpointctl on a terminal") << QStringLiteral("script -qec") << true;
        QTest::newRow("fernpointctl in a pipe") << QStringLiteral("sh -c") << false;
    }

    void interactiveOnlyWhenTheCallerAllowsIt() {
        QFETCH(QString, caller);
        QFETCH(bool, interactive);
        if (caller.isEmpty()) {
            QCOMPARE(call("StopGateway"), QStringLiteral("ok"));
        } else if (caller == u"client") {
            DBusHelperClient window(m_bus->address());
            bool done = false;
            window.stopGateway([&done](const HelperResult<Nothing>& r) { done = r.isSuccess(); });
            QTRY_VERIFY(done);
        } else {
            QProcess ctl;
            ctl.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
            ctl.start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"),
                       caller + QStringLiteral(" \"$0 disconnect\" /dev/null"),
                       QStringLiteral(FERNPOINTCTL_PROGRAM)});
            QVERIFY(ctl.waitForFinished(10000) && ctl.exitCode() == 0);
        }
        const QString check = polkitLog().constLast();
        QVERIFY2(check.contains(u"'system-bus-name'") && check.contains(u'"' + kControl + u'"') &&
                     (!caller.isEmpty() ||
                      check.contains(
                          QStringLiteral("dbus.String('%1'").arg(m_connection.baseService()))) &&
                     check.contains(QStringLiteral(" {} %1 \"").arg(int(interactive))),
                 qPrintable(check));
    }

    // A bad Network ID is answered at once, without asking polkit (which hangs here).
    void badNetworkIdsAreRefusedBeforeAuthorization_data() {
        QTest::addColumn<QString>("networkId");
        QTest::newRow("15 digits") << QStringLiteral("0123456789abcde");
        QTest::newRow("not hex") << QStringLiteral("0123456789abcdeg");
        QTest::newRow("line break") << QStringLiteral("0123456789abcde\n");
        QTest::newRow("full-width digits") << QStringLiteral("０１２３４５６７８９ａｂｃｄｅｆ");
    }

    void badNetworkIdsAreRefusedBeforeAuthorization() {
        QFETCH(QString, networkId);
        polkitControl("SimulateHang", {true});
        const qsizetype checksBefore = polkitLog().size();
        QVERIFY(call("StartGateway", {networkId, true}).startsWith(u"refused invalid Network ID"));
        QCOMPARE(polkitLog().size(), checksBefore);
    }

    // While polkit thinks, the helper goes on answering. Calls waiting for it are limited: 4 per
    // connection, 16 per user; the rest are turned away at once. A caller that leaves has its
    // checks cancelled at once, which frees its places; no answer in time is a refusal. Either
    // way a late "yes" changes nothing.
    void unansweredChecks() {
        polkitControl("SimulateHang", {true});
        for (const bool callersLeave : {true, false}) {
            const qsizetype cancelled =
                polkitLog(QStringLiteral("CancelCheckAuthorization")).size();
            std::vector<std::unique_ptr<QDBusPendingCall>> calls;
            for (int connection = 0; connection < 5; ++connection) {
                const QString name = QStringLiteral("caller-%1").arg(connection);
                for (int i = 0; i < 5; ++i)
                    calls.push_back(std::make_unique<QDBusPendingCall>(
                        QDBusConnection::connectToBus(m_bus->address(), name)
                            .asyncCall(helperCall(QStringLiteral("StopGateway")))));
                QTRY_VERIFY(calls.back()->isFinished()); // and the four before it are in
            }
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(state(), QStringLiteral("stopped"));
            QVERIFY(timer.elapsed() < 500);
            int waiting = 0;
            QStringList turnedAway; // too many calls of this <connection|user>
            for (const auto& pending : calls) {
                if (!pending->isFinished())
                    ++waiting;
                else
                    turnedAway << pending->reply().errorMessage().section(u' ', 5, 5);
            }
            QCOMPARE(waiting, 16);
            QCOMPARE(turnedAway, QStringList(4, QStringLiteral("connection")) +
                                     QStringList(5, QStringLiteral("user")));
            if (!callersLeave && ::geteuid() == 0) {
                // The 16 are this user's alone: another user still gets in line (and waits).
                QProcess other;
                other.start(QStringLiteral("setpriv"),
                            {QStringLiteral("--reuid=nobody"), QStringLiteral("--clear-groups"),
                             QStringLiteral("dbus-send"), QStringLiteral("--print-reply"),
                             QStringLiteral("--reply-timeout=300"),
                             QStringLiteral("--bus=") + m_bus->address(),
                             QStringLiteral("--dest=") + kName, contract::kObjectPath,
                             contract::kInterface + QStringLiteral(".StopGateway")});
                QVERIFY(other.waitForFinished(5000));
                QVERIFY2(other.readAllStandardError().contains("NoReply"), "turned away");
            }
            if (!callersLeave) {
                calls.front()->waitForFinished(); // the helper's limit here is 1.5 s
                QVERIFY(timer.elapsed() < 4000);
                QVERIFY(describe(calls.front()->reply()).startsWith(u"refused not authorized: "));
            }
            calls.clear(); // the last holds on the connections
            for (int connection = 0; connection < 5; ++connection)
                QDBusConnection::disconnectFromBus(QStringLiteral("caller-%1").arg(connection));
            if (callersLeave)
                QTRY_COMPARE_WITH_TIMEOUT(
                    polkitLog(QStringLiteral("CancelCheckAuthorization")).size(), cancelled + 16,
                    1000);
        }
        polkitControl("ReleaseHangingCalls");
        QTest::qWait(200);
        QCOMPARE(state(), QStringLiteral("stopped"));
    }

    // However the machine's bus socket is spelt. The socket is faked in a private mount
    // namespace, on a tmpfs over /run.
    void refusesNoAuthorizationOnTheMachineBus_data() {
        QTest::addColumn<QString>("address"); // empty: none set, the default system bus
        QTest::newRow("the default system bus") << QString();
        QTest::newRow("a program that may reach it") << QStringLiteral("unixexec:path=/bin/true");
        QTest::newRow("double slash") << QStringLiteral("unix:path=/run//dbus/system_bus_socket");
        QTest::newRow("escaped") << QStringLiteral("unix:path=%2frun%2fdbus%2fsystem_bus_socket");
        QTest::newRow("through a link, second of two")
            << QStringLiteral("unix:path=/nonexistent/bus;unix:path=/var/run/dbus/"
                              "system_bus_socket,guid=0123");
    }

    void refusesNoAuthorizationOnTheMachineBus() {
        QFETCH(QString, address);
        QProcessEnvironment environment = test::systemBusEnvironment(address);
        if (address.isEmpty())
            environment.remove(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"));
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(QStringLiteral("unshare"),
                     {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                      QStringLiteral("mount -t tmpfs none /run && mkdir /run/dbus && : "
                                     ">/run/dbus/system_bus_socket && echo faked >&2; exec \"$0\" "
                                     "--no-authorization"),
                      kHelper});
        QVERIFY(helper.waitForFinished(5000));
        const QByteArray errors = helper.readAllStandardError();
        if (!errors.startsWith("faked\n"))
            QSKIP(qPrintable(
                QStringLiteral("no private mount namespace to fake the machine's bus socket in: ") +
                QString::fromLocal8Bit(errors).simplified()));
        QCOMPARE(helper.exitCode(), 2);
        QVERIFY2(errors.contains("--no-authorization is refused"), errors.constData());
    }

    // Runs last: without polkit every changing call is refused; SIGTERM ends the helper cleanly.
    void noPolkitMeansNoAndSigtermEnds() {
        m_polkit.terminate();
        QVERIFY(m_polkit.waitForFinished(5000));
        QTRY_VERIFY(!m_connection.interface()->isServiceRegistered(kPolkitName).value());
        QVERIFY(call("StartGateway", {kNetwork, true}).startsWith(u"refused not authorized: "));
        QCOMPARE(state(), QStringLiteral("stopped"));

        ::kill(static_cast<pid_t>(m_helper.processId()), SIGTERM);
        QVERIFY(m_helper.waitForFinished(5000));
        QCOMPARE(m_helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_helper.exitCode(), 0);
        QTRY_VERIFY(!m_connection.interface()->isServiceRegistered(kName).value());
    }
};

QTEST_GUILESS_MAIN(tst_HelperService)
#include "tst_HelperService.moc"
