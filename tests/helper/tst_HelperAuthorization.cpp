#include "DBusHelperClient.h"
#include "HelperTestSupport.h"
#include "PrivateBus.h"

#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

using namespace fernpoint::test;

namespace {

const QString kControl = kHelperName + QStringLiteral(".control");
const QString kPolkitName = QStringLiteral("org.freedesktop.PolicyKit1");
const QString kPolkitPath = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");
// python3-dbusmock lives in the system's Python; a python3 first on PATH may lack it.
const QString kPython = QStringLiteral("/usr/bin/python3");

bool isNotAuthorized(const OkAnswer& answer) {
    return answer.transportOk && !answer.ok &&
           answer.message.value(0).startsWith(QLatin1StringView("not authorized: "));
}

} // namespace

// The helper with authorization on, against polkit played by python3-dbusmock's polkitd template:
// what the real polkit daemon cannot be made to do (hang, vanish, show what it was asked). Who may
// do what against the real daemon: tst_HelperOnRealPolkit.
class tst_HelperAuthorization final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_polkit;
    QTemporaryDir m_dir;
    std::unique_ptr<HelperProcess> m_helper;
    QDBusConnection m_connection{QString()};

    // The questions polkit was asked so far, one line each.
    QStringList polkitChecks(const QString& method = QStringLiteral("CheckAuthorization")) const {
        QFile log(m_dir.filePath(QStringLiteral("polkit.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n').filter(u' ' + method + u' ');
    }

    void polkitControl(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPolkitName, kPolkitPath, QStringLiteral("org.freedesktop.DBus.Mock"), method);
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
        // The template lacks it; added, so that the log shows every cancellation.
        polkitControl(QStringLiteral("AddMethod"),
                      {QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
                       QStringLiteral("CancelCheckAuthorization"), QStringLiteral("s"), QString(),
                       QString()});
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

    // A person is asked (flags 1) only when the caller's message allows it: the window always
    // does, fernpointctl only on a terminal. polkit is asked about the caller's unique bus name,
    // which no other process can take over while the call is in flight (unlike a PID).
    void interactiveOnlyWhenTheCallerAllowsIt_data() {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("interactive");
        QTest::newRow("plain call") << QStringLiteral("call") << false;
        QTest::newRow("the window's client") << QStringLiteral("client") << true;
        QTest::newRow("fernpointctl on a terminal") << QStringLiteral("ctl terminal") << true;
        QTest::newRow("fernpointctl in a pipe") << QStringLiteral("ctl pipe") << false;
    }

    void interactiveOnlyWhenTheCallerAllowsIt() {
        QFETCH(QString, caller);
        QFETCH(bool, interactive);
        QString busName = m_connection.baseService();
        if (caller == QLatin1StringView("call")) {
            QVERIFY(callOk(m_connection, QStringLiteral("StopGateway")).ok);
        } else if (caller == QLatin1StringView("client")) {
            fernpoint::DBusHelperClient client(m_bus->address());
            bool done = false;
            client.stopGateway([&done](const fernpoint::HelperResult<fernpoint::Nothing>& result) {
                done = result.isSuccess();
            });
            QTRY_VERIFY(done);
            busName.clear();
        } else {
            QProcess ctl;
            ctl.setProcessEnvironment(environmentFor(m_bus->address()));
            const QString command = QStringLiteral(FERNPOINTCTL_PROGRAM " disconnect");
            if (caller.endsWith(QLatin1StringView("terminal")))
                ctl.start(QStandardPaths::findExecutable(QStringLiteral("script")),
                          {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
            else
                ctl.start(QStringLiteral(FERNPOINTCTL_PROGRAM), {QStringLiteral("disconnect")});
            QVERIFY(ctl.waitForFinished(10000));
            QCOMPARE(ctl.exitCode(), 0);
            busName.clear();
        }
        const QString check = polkitChecks().value(polkitChecks().size() - 1);
        QVERIFY2(check.contains(QLatin1StringView("'system-bus-name'")) &&
                     check.contains(QStringLiteral("\"%1\"").arg(kControl)),
                 qPrintable(check));
        QVERIFY(busName.isEmpty() ||
                check.contains(QStringLiteral("dbus.String('%1'").arg(busName)));
        QVERIFY2(check.contains(QStringLiteral(" {} %1 \"").arg(interactive ? 1 : 0)),
                 qPrintable(check));
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

    // While polkit thinks, the helper goes on answering. No answer in time is a refusal; a
    // caller that leaves has its check cancelled. Either way a late "yes" changes nothing.
    void unansweredCheck_data() {
        QTest::addColumn<bool>("callerLeaves");
        QTest::newRow("no answer in time") << false;
        QTest::newRow("the caller leaves") << true;
    }

    void unansweredCheck() {
        QFETCH(bool, callerLeaves);
        polkitControl(QStringLiteral("SimulateHang"), {true});
        const QString name = QStringLiteral("leaving");
        const qsizetype checksBefore = polkitChecks().size();
        auto pending = std::make_unique<QDBusPendingCall>(
            QDBusConnection::connectToBus(m_bus->address(), name)
                .asyncCall(helperCall(QStringLiteral("StartGateway"), {kNetwork, true}), 20000));
        QTRY_COMPARE(polkitChecks().size(), checksBefore + 1);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ping(m_connection), kVersion);
        QCOMPARE(stateOf(m_connection), QStringLiteral("stopped"));
        QVERIFY(timer.elapsed() < 500);

        if (callerLeaves) {
            // Cancelled at once, well before the helper's own limit (1.5 s here) would.
            const QString checkId = polkitChecks().constLast().section(u'"', -2, -2);
            pending.reset(); // the last hold on the connection
            QDBusConnection::disconnectFromBus(name);
            QTRY_VERIFY_WITH_TIMEOUT(
                polkitChecks(QStringLiteral("CancelCheckAuthorization")).filter(checkId).size() ==
                    1,
                1000);
        } else {
            pending->waitForFinished();
            QVERIFY(isNotAuthorized(toOkAnswer(pending->reply())));
            pending.reset();
            QDBusConnection::disconnectFromBus(name);
        }
        polkitControl(QStringLiteral("ReleaseHangingCalls"));
        QTest::qWait(200);
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
