#include "DBusHelperClient.h"
#include "HelperContract.h"
#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace fernpoint;
using fernpoint::test::PrivateBus;

namespace {

const QString kHelper = QStringLiteral(FERNPOINT_HELPER_PROGRAM);
const QString kName = contract::kBusName;
const QString kControl = kName + u".control"_s;
const QString kPolkitName = u"org.freedesktop.PolicyKit1"_s;
// python3-dbusmock lives in the system's Python; a python3 first on PATH may lack it.
const QString kPython = u"/usr/bin/python3"_s;

QDBusMessage helperCall(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kName, contract::kObjectPath, contract::kInterface, method);
    call.setArguments(arguments);
    return call;
}

// A command's answer as "ok", "refused <message>" or "error <name>".
QString describe(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != u"bas")
        return u"error "_s + reply.errorName();
    return (reply.arguments().at(0).toBool() ? u"ok"_s : u"refused "_s) +
           reply.arguments().at(1).toStringList().join(u'|');
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
    // The core's state, from the status JSON.
    QString state() {
        const QVariantList reply = m_connection.call(helperCall(u"GatewayStatus"_s)).arguments();
        return QJsonDocument::fromJson(reply.value(1).toStringList().value(0).toUtf8())
            .object()[u"data"_s][u"state"_s]
            .toString();
    }
    // The questions polkit was asked so far, one line each.
    QStringList polkitLog(const QString& method = u"CheckAuthorization"_s) const {
        QFile log(m_dir.filePath(u"polkit.log"_s));
        log.open(QIODevice::ReadOnly); // none yet: no question asked
        return QString::fromUtf8(log.readAll()).split(u'\n').filter(u' ' + method + u' ');
    }
    void polkitControl(const char* method, const QVariantList& arguments = {}) {
        const QDBusMessage reply =
            QDBusInterface(kPolkitName, u"/org/freedesktop/PolicyKit1/Authority"_s,
                           u"org.freedesktop.DBus.Mock"_s, m_connection)
                .callWithArgumentList(QDBus::Block, QString::fromLatin1(method), arguments);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }
    bool waitForOwner(const QString& name) {
        return QTest::qWaitFor(
            [&] { return m_connection.interface()->isServiceRegistered(name).value(); }, 20000);
    }

private Q_SLOTS:
    void initTestCase() {
        if (QProcess::execute(kPython, {u"-c"_s, u"import dbusmock"_s}))
            QSKIP("python3-dbusmock is not installed (scripts/setup-debian.sh installs it)");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_connection = QDBusConnection::connectToBus(m_bus->address(), u"client"_s);
        m_polkit.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
        m_polkit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_polkit.start(kPython, {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s,
                                 u"polkitd"_s, u"-l"_s, m_dir.filePath(u"polkit.log"_s)});
        QVERIFY(waitForOwner(kPolkitName));
        // The template lacks it; added, so that the log shows every cancellation.
        polkitControl("AddMethod", {u"org.freedesktop.PolicyKit1.Authority"_s,
                                    u"CancelCheckAuthorization"_s, u"s"_s, QString(), QString()});
        m_helper.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
        m_helper.start(
            kHelper, {u"--step-delay-ms"_s, u"300"_s, u"--authorization-timeout-ms"_s, u"1500"_s});
        QVERIFY(waitForOwner(kName));
    }

    void init() {
        polkitControl("SimulateHang", {false});
        polkitControl("SetAllowed", {QStringList{kControl, kName + u".uninstall"_s}});
        QCOMPARE(call("StopGateway"), u"ok"_s);
    }

    // NAT may change only while the core is stopped, not while it starts.
    void natOnlyWhileStopped() {
        QCOMPARE(call("SetNat", {true}), u"ok"_s);
        QCOMPARE(call("StartGateway", {u"0123456789abcdef"_s, false}), u"ok"_s);
        QCOMPARE(state(), u"starting"_s);
        QVERIFY(call("SetNat", {true}).startsWith(u"refused NAT cannot be changed"));
    }

    // A person is asked (flags 1) only when the caller's message allows it: the window's client
    // always does, fernpointctl only on a terminal. polkit is asked about the caller's unique bus
    // name, which no other process can take over while the call is in flight (unlike a PID).
    void interactiveOnlyWhenTheCallerAllowsIt_data() {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("interactive");
        QTest::newRow("plain call") << QString() << false;
        QTest::newRow("the window's client") << u"client"_s << true;
        QTest::newRow("fernpointctl on a terminal") << u"script -qec"_s << true;
        QTest::newRow("fernpointctl in a pipe") << u"sh -c"_s << false;
    }

    void interactiveOnlyWhenTheCallerAllowsIt() {
        QFETCH(QString, caller);
        QFETCH(bool, interactive);
        if (caller.isEmpty()) {
            QCOMPARE(call("StopGateway"), u"ok"_s);
        } else if (caller == u"client") {
            DBusHelperClient window(m_bus->address());
            bool done = false;
            window.stopGateway([&done](const HelperResult<Nothing>& r) { done = r.isSuccess(); });
            QTRY_VERIFY(done);
        } else {
            QProcess ctl;
            ctl.setProcessEnvironment(test::systemBusEnvironment(m_bus->address()));
            ctl.start(u"/bin/sh"_s, {u"-c"_s, caller + u" \"$0 disconnect\" /dev/null"_s,
                                     QStringLiteral(FERNPOINTCTL_PROGRAM)});
            QVERIFY(ctl.waitForFinished(10000) && ctl.exitCode() == 0);
        }
        const QString check = polkitLog().constLast();
        QVERIFY2(check.contains(u"'system-bus-name'") && check.contains(u'"' + kControl + u'"') &&
                     (!caller.isEmpty() ||
                      check.contains(u"dbus.String('%1'"_s.arg(m_connection.baseService()))) &&
                     check.contains(u" {} %1 \""_s.arg(int(interactive))),
                 qPrintable(check));
    }

    // A bad Network ID is answered at once, without asking polkit (which hangs here).
    void badNetworkIdsAreRefusedBeforeAuthorization_data() {
        QTest::addColumn<QString>("networkId");
        QTest::newRow("not hex") << u"0123456789abcdeg"_s;
        QTest::newRow("line break") << u"0123456789abcde\n"_s;
        QTest::newRow("full-width digits") << u"０１２３４５６７８９ａｂｃｄｅｆ"_s;
    }

    void badNetworkIdsAreRefusedBeforeAuthorization() {
        QFETCH(QString, networkId);
        polkitControl("SimulateHang", {true});
        const qsizetype checksBefore = polkitLog().size();
        QVERIFY(call("StartGateway", {networkId, true}).startsWith(u"refused invalid Network ID"));
        QCOMPARE(polkitLog().size(), checksBefore);
    }

    // While polkit thinks, the helper goes on answering. Calls waiting for it are limited: 4 per
    // connection, 16 per user (another user still gets in line); the rest are turned away at once.
    // A caller that leaves has its checks cancelled, which frees its places; no answer in time is
    // a refusal. Either way a late "yes" changes nothing.
    void unansweredChecks() {
        polkitControl("SimulateHang", {true});
        for (const bool callersLeave : {true, false}) {
            const qsizetype cancelled = polkitLog(u"CancelCheckAuthorization"_s).size();
            std::vector<std::unique_ptr<QDBusPendingCall>> calls;
            for (int i = 0; i < 25; ++i) {
                calls.push_back(std::make_unique<QDBusPendingCall>(
                    QDBusConnection::connectToBus(m_bus->address(), u"caller-%1"_s.arg(i / 5))
                        .asyncCall(helperCall(u"StopGateway"_s))));
                if (i % 5 == 4)
                    QTRY_VERIFY(calls.back()->isFinished()); // and the four before it are in
            }
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(state(), u"stopped"_s);
            QVERIFY(timer.elapsed() < 500);
            QStringList turnedAway; // too many calls of this <connection|user>
            for (const auto& pending : calls)
                turnedAway << (pending->isFinished()
                                   ? pending->reply().errorMessage().section(u' ', 5, 5)
                                   : QString());
            QCOMPARE(turnedAway.count(QString()), 16);
            QCOMPARE(turnedAway.count(u"connection"_s), 4);
            if (!callersLeave && ::geteuid() == 0) { // the 16 are this user's alone
                QProcess other;
                other.start(u"setpriv"_s,
                            {u"--reuid=nobody"_s, u"--clear-groups"_s, u"dbus-send"_s,
                             u"--print-reply"_s, u"--reply-timeout=300"_s,
                             u"--bus="_s + m_bus->address(), u"--dest="_s + kName,
                             contract::kObjectPath, contract::kInterface + u".StopGateway"_s});
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
                QDBusConnection::disconnectFromBus(u"caller-%1"_s.arg(connection));
            if (callersLeave)
                QTRY_COMPARE_WITH_TIMEOUT(polkitLog(u"CancelCheckAuthorization"_s).size(),
                                          cancelled + 16, 1000);
        }
        polkitControl("ReleaseHangingCalls");
        QTest::qWait(200);
        QCOMPARE(state(), u"stopped"_s);
    }

    // However the machine's bus socket is spelt. The socket is faked in a private mount
    // namespace, on a tmpfs over /run.
    void refusesNoAuthorizationOnTheMachineBus_data() {
        QTest::addColumn<QString>("address"); // empty: none set, the default system bus
        QTest::newRow("the default system bus") << QString();
        QTest::newRow("a program that may reach it") << u"unixexec:path=/bin/true"_s;
        QTest::newRow("escaped") << u"unix:path=%2frun%2fdbus%2fsystem_bus_socket"_s;
        QTest::newRow("through a link, second of two")
            << QStringLiteral("unix:path=/nonexistent/bus;unix:path=/var/run/dbus/"
                              "system_bus_socket,guid=0123");
    }

    void refusesNoAuthorizationOnTheMachineBus() {
        QFETCH(QString, address);
        QProcessEnvironment environment = test::systemBusEnvironment(address);
        if (address.isEmpty())
            environment.remove(u"DBUS_SYSTEM_BUS_ADDRESS"_s);
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(u"unshare"_s,
                     {u"-m"_s, u"sh"_s, u"-c"_s,
                      QStringLiteral("mount -t tmpfs none /run && mkdir /run/dbus && : "
                                     ">/run/dbus/system_bus_socket && echo faked >&2; exec \"$0\" "
                                     "--no-authorization"),
                      kHelper});
        QVERIFY(helper.waitForFinished(5000));
        const QByteArray errors = helper.readAllStandardError();
        if (!errors.startsWith("faked\n"))
            QSKIP(qPrintable(u"no private mount namespace to fake the machine's bus socket in: "_s +
                             QString::fromLocal8Bit(errors).simplified()));
        QCOMPARE(helper.exitCode(), 2);
        QVERIFY2(errors.contains("--no-authorization is refused"), errors.constData());
    }
};

QTEST_GUILESS_MAIN(tst_HelperService)
#include "tst_HelperService.moc"
