// fernpointctl against the reference helper and its simulated core: a whole session from a
// terminal, and watch following the state as it changes.

#include "CtlTestSupport.h"
#include "PrivateBus.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

using namespace fernpoint::test;

namespace {

const QString kId = QStringLiteral("0123456789abcdef");

QString row(const char* title, const QString& value) {
    return QStringLiteral("  ") + QString::fromUtf8(title).leftJustified(24) +
           QStringLiteral("  ") + value + QLatin1Char('\n');
}

} // namespace

class TestCtlReferenceHelper final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sessionFromTheTerminal();
    void watchFollowsAConnect();

private:
    TemporaryHome m_home;
};

void TestCtlReferenceHelper::sessionFromTheTerminal() {
    PrivateBus bus;
    ReferenceHelper helper(bus.address());
    QVERIFY(helper.start());
    const auto ctl = [&bus](const QStringList& arguments) {
        return runCtl(arguments, bus.address());
    };
    const auto data = [&ctl] {
        const CtlRun run = ctl({QStringLiteral("status"), QStringLiteral("--json")});
        return QJsonDocument::fromJson(run.out).object().value(QStringLiteral("data")).toObject();
    };

    // Stopped: absent values show as "-", and empty lists show no heading.
    CtlRun status = ctl({QStringLiteral("status")});
    QCOMPARE(status.exitCode, 0);
    QCOMPARE(status.errText(), QString());
    QVERIFY2(status.outText().startsWith(QStringLiteral("○ Disconnected\nNetwork Status\n") +
                                         row("Connection", QStringLiteral("disconnected")) +
                                         row("Network Name", QStringLiteral("-"))),
             qPrintable(status.outText()));
    QVERIFY(status.outText().contains(row("Core State", QStringLiteral("stopped"))));
    QVERIFY(status.outText().contains(row("Peers", QStringLiteral("-"))));
    QVERIFY(!status.outText().contains(QStringLiteral("Endpoints")));

    // NAT may change while stopped.
    CtlRun nat = ctl({QStringLiteral("nat"), QStringLiteral("on")});
    QCOMPARE(nat.exitCode, 0);
    QCOMPARE(nat.errText(), QString());
    QVERIFY(ctl({QStringLiteral("status")}).outText().contains(row("NAT", QStringLiteral("On"))));

    // A bad ID changes nothing.
    const CtlRun badId = ctl({QStringLiteral("connect"), kId.left(15)});
    QCOMPARE(badId.exitCode, 1);
    QCOMPARE(data().value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));

    // Connect without a NAT flag keeps NAT on, as the gateway reported it.
    const CtlRun connect = ctl({QStringLiteral("connect"), QStringLiteral("  ") + kId});
    QCOMPARE(connect.exitCode, 0);
    QCOMPARE(connect.errText(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(data().value(QStringLiteral("conn_state")).toString(),
                              QStringLiteral("connected"), 10000);

    const QJsonObject running = data();
    status = ctl({QStringLiteral("status")});
    QCOMPARE(status.exitCode, 0);
    const QString text = status.outText();
    QVERIFY2(text.startsWith(QStringLiteral("● Connected\n")), qPrintable(text));
    for (const auto& [title, key] :
         {std::pair{"Network Name", "network_name"}, std::pair{"Description", "network_desc"},
          std::pair{"Local Management Address", "address_cidr"},
          std::pair{"Core State", "state"}}) {
        QVERIFY2(text.contains(row(title, running.value(QLatin1StringView(key)).toString())),
                 title);
    }
    QVERIFY(text.contains(row(
        "Listen Port", QString::number(running.value(QStringLiteral("listen_port")).toInteger()))));
    QVERIFY(text.contains(
        row("Peers", QString::number(running.value(QStringLiteral("peers")).toInteger()))));
    QVERIFY(text.contains(row("NAT", QStringLiteral("On"))));
    QVERIFY(!text.contains(row("Last Policy", QStringLiteral("-"))));
    QVERIFY(text.contains(QStringLiteral("\nEndpoints\n  ✓ ")));
    QVERIFY(text.contains(QStringLiteral("\n  ✗ ")));
    QVERIFY(text.contains(QStringLiteral("\nRemote Management Addresses\n  10.")));

    // Running: NAT stays as it is.
    nat = ctl({QStringLiteral("nat"), QStringLiteral("off")});
    QCOMPARE(nat.exitCode, 1);
    QCOMPARE(
        nat.errText(),
        QStringLiteral("NAT cannot be changed while the gateway is running; disconnect first\n"));
    QCOMPARE(data().value(QStringLiteral("Nat")).toBool(), true);

    const CtlRun disconnect = ctl({QStringLiteral("disconnect")});
    QCOMPARE(disconnect.exitCode, 0);
    QCOMPARE(disconnect.errText(), QString());
    QVERIFY(
        ctl({QStringLiteral("status")}).outText().startsWith(QStringLiteral("○ Disconnected\n")));
    nat = ctl({QStringLiteral("nat"), QStringLiteral("off")});
    QCOMPARE(nat.exitCode, 0);
    QVERIFY(ctl({QStringLiteral("status")}).outText().contains(row("NAT", QStringLiteral("Off"))));
}

void TestCtlReferenceHelper::watchFollowsAConnect() {
    PrivateBus bus;
    ReferenceHelper helper(bus.address());
    QVERIFY(helper.start());

    QProcess watch;
    prepareCtl(watch, {QStringLiteral("watch")}, ctlEnvironment(bus.address()));
    watch.start();
    QVERIFY(watch.waitForStarted());
    QStringList states;
    const auto readStates = [&watch, &states] {
        while (watch.canReadLine()) {
            const QString line = QString::fromUtf8(watch.readLine()).chopped(1);
            const QRegularExpressionMatch match = watchLinePattern().match(line);
            states.append(match.hasMatch() ? match.captured(1) : QStringLiteral("BAD: ") + line);
        }
        return states;
    };
    const QString stopped =
        QStringLiteral("○ Disconnected  Connection: disconnected  Core State: stopped  Peers: -");
    QTRY_COMPARE_WITH_TIMEOUT(readStates(), QStringList{stopped}, 4000);

    QCOMPARE(runCtl({QStringLiteral("connect"), kId, QStringLiteral("--no-nat")}, bus.address())
                 .exitCode,
             0);
    // The core is connected 200 ms after the start; the next poll, at most 5 s later, shows it.
    QTRY_VERIFY_WITH_TIMEOUT(readStates().size() == 2, 8000);
    QVERIFY2(states.at(1).startsWith(QStringLiteral(
                 "● Connected  Connection: connected  Core State: running  Peers: ")),
             qPrintable(states.at(1)));

    ::kill(static_cast<pid_t>(watch.processId()), SIGTERM);
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    QCOMPARE(readStates().size(), 2);
    QCOMPARE(watch.readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(TestCtlReferenceHelper)
#include "tst_ctl_reference_helper.moc"
