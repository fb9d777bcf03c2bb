// fernpointctl's commands against the scripted helper: what each prints, what reaches the helper
// and the exit status, for the answers a real helper may give and for bad command lines.

#include "CtlTestSupport.h"
#include "PrivateBus.h"
#include "ScriptedHelperProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <array>
#include <csignal>
#include <utility>

using namespace fernpoint::test;
using Reply = ScriptedHelperProcess::Reply;
using Replies = QList<std::pair<QString, Reply>>;

Q_DECLARE_METATYPE(Replies)

namespace {

const QString kId = QStringLiteral("0123456789abcdef");
const QString kNoHelper = QStringLiteral("XPC 通信错误：");
const QString kBadId = QStringLiteral("Network ID 必须是 16 位十六进制字符串\n");
const QString kNatRefused =
    QStringLiteral("NAT cannot be changed while the gateway is running; disconnect first\n");

const QString kFullStatus = QStringLiteral(
    R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
    R"("network_desc":"Berlin","address_cidr":"10.8.0.2/16","listen_port":0,"state":"running",)"
    R"("peers":3,"last_policy_at":86400,"Nat":true,"endpoints":[{"endpoints":"203.0.113.7:20619",)"
    R"("ok":true},{"endpoint":"skipped"},{"endpoints":"198.51.100.9:20619"}],)"
    R"("mgmt_ips":["10.8.0.0/24","10.9.0.0/24"]}})");

const QString kFullStatusText = QStringLiteral("● Connected\n"
                                               "Network Status\n"
                                               "  Connection                connected\n"
                                               "  Network Name              Head office\n"
                                               "  Description               Berlin\n"
                                               "  Local Management Address  10.8.0.2/16\n"
                                               "  Listen Port               0\n"
                                               "  Core State                running\n"
                                               "  Peers                     3\n"
                                               "  Last Policy               1970-01-02 00:00:00\n"
                                               "  NAT                       On\n"
                                               "Endpoints\n"
                                               "  ✓ 203.0.113.7:20619\n"
                                               "  ✗ 198.51.100.9:20619\n"
                                               "Remote Management Addresses\n"
                                               "  10.8.0.0/24\n"
                                               "  10.9.0.0/24\n");

Reply statusWithState(const char* state) {
    return Reply::answer(true, QStringLiteral(R"({"data":{"conn_state":"connecting","state":"%1",)"
                                              R"("Nat":true}})")
                                   .arg(QLatin1StringView(state)));
}

// A command line written with blanks between the arguments; ID stands for a valid Network ID.
QStringList commandLine(const char* line) {
    QStringList arguments = QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
    arguments.replaceInStrings(QStringLiteral("ID"), kId);
    return arguments;
}

// The scripted helper on a private bus of its own.
struct Session {
    PrivateBus bus;
    ScriptedHelperProcess helper{bus.address()};

    // The calls received, each as Method(argument,...).
    QStringList calls() const {
        QStringList calls;
        for (const ScriptedHelperProcess::Call& call : helper.calls()) {
            QStringList arguments;
            for (const QVariant& argument : call.arguments)
                arguments << argument.toString();
            calls << call.method + u'(' + arguments.join(u',') + u')';
        }
        return calls;
    }
};

} // namespace

class TestCtlCommands final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commands_data();
    void commands();
    void helperUnreachable_data();
    void helperUnreachable();
    void badUsage_data();
    void badUsage();
    void helpAndManPage();
    void watchShowsChangesUntilASignal();

private:
    TemporaryHome m_home;
};

void TestCtlCommands::commands_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Replies>("replies");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("calls");

    const QString status = QStringLiteral("GatewayStatus");
    const QStringList statusCall{QStringLiteral("GatewayStatus()")};
    const QString oddJson =
        QStringLiteral("  {\"ok\" :true ,\n\t\"data\":{ \"network_name\":\"总部 ✓ "
                       "Zürich\" , \"emoji\":\"🌿\"}}\t ");
    const auto start = [](const QString& id, bool nat) {
        return QStringList{QStringLiteral("StartGateway(%1,%2)")
                               .arg(id, nat ? QStringLiteral("true") : QStringLiteral("false"))};
    };

    QTest::newRow("status: full snapshot")
        << commandLine("status") << Replies{{status, Reply::answer(true, kFullStatus, true)}} << 0
        << kFullStatusText << QString() << statusCall;
    QTest::newRow("status --json: the text unchanged")
        << commandLine("status --json") << Replies{{status, Reply::answer(true, oddJson)}} << 0
        << oddJson + u'\n' << QString() << statusCall;
    QTest::newRow("status --json: no JSON text")
        << commandLine("status --json")
        << Replies{{status, Reply::answer(true, std::nullopt, true)}} << 1 << QString()
        << QStringLiteral("The helper sent no status JSON text\n") << statusCall;
    QTest::newRow("connect: 15 characters send nothing")
        << QStringList{QStringLiteral("connect"), kId.left(15), QStringLiteral("--nat")}
        << Replies{} << 1 << QString() << kBadId << QStringList();
    QTest::newRow("connect: ID after --")
        << commandLine("connect --no-nat -- -123456789abcdef") << Replies{} << 0 << QString()
        << QString() << start(QStringLiteral("-123456789abcdef"), false);
    QTest::newRow("connect: NAT as the gateway reports it")
        << commandLine("connect ID") << Replies{{status, statusWithState("stopped")}} << 0
        << QString() << QString() << statusCall + start(kId, true);
    QTest::newRow("connect: refused")
        << commandLine("connect ID --nat")
        << Replies{{QStringLiteral("StartGateway"),
                    Reply::answer(false, QStringLiteral("core binary missing"))}}
        << 1 << QString() << QStringLiteral("core binary missing\n") << start(kId, true);
    QTest::newRow("disconnect") << commandLine("disconnect") << Replies{} << 0 << QString()
                                << QString() << QStringList{QStringLiteral("StopGateway()")};
    QTest::newRow("nat: refused while running")
        << commandLine("nat on") << Replies{{status, statusWithState("running")}} << 1 << QString()
        << kNatRefused << statusCall;
    QTest::newRow("nat: accepted while stopped")
        << commandLine("nat off") << Replies{{status, statusWithState("stopped")}} << 0 << QString()
        << QString() << statusCall + QStringList{QStringLiteral("SetNat(false)")};
}

void TestCtlCommands::commands() {
    QFETCH(QStringList, arguments);
    QFETCH(Replies, replies);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, calls);

    Session session;
    QVERIFY(session.helper.start());
    for (const auto& [method, reply] : replies)
        QVERIFY(session.helper.setReply(method, reply));
    const CtlRun run = runCtl(arguments, session.bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.outText(), out);
    QCOMPARE(run.errText(), err);
    QCOMPARE(session.calls(), calls);
}

void TestCtlCommands::helperUnreachable_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("busExists");
    for (const char* line :
         {"status", "status --json", "connect ID --nat", "connect ID", "disconnect", "nat on"})
        QTest::addRow("%s, no helper on the bus", line) << commandLine(line) << true;
    QTest::newRow("status, no bus at all") << commandLine("status") << false;
}

void TestCtlCommands::helperUnreachable() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, busExists);
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    const CtlRun run = runCtl(arguments, busExists ? bus.address() : QString());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.outText(), QString());
    // One line, with the bus's description after the prefix.
    QVERIFY2(run.errText().startsWith(kNoHelper) && run.errIsOneLine() &&
                 run.errText().size() > kNoHelper.size() + 1,
             qPrintable(run.errText()));
}

void TestCtlCommands::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    for (const char* line : {"", "start", "status now", "status --json x", "connect",
                             "connect ID ID", "connect ID --nat --no-nat", "connect ID --fast",
                             "nat", "nat yes", "disconnect ID", "watch 5"})
        QTest::addRow("'%s'", line) << commandLine(line);
}

// A helper that would answer everything is there: bad usage must not reach it.
void TestCtlCommands::badUsage() {
    QFETCH(QStringList, arguments);
    Session session;
    QVERIFY(session.helper.start());
    const CtlRun run = runCtl(arguments, session.bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.outText(), QString());
    QVERIFY2(run.errText().startsWith(QStringLiteral("fernpointctl: ")) &&
                 run.errText().contains(QStringLiteral("--help")) && run.errIsOneLine(),
             qPrintable(run.errText()));
    QCOMPARE(session.calls(), QStringList());
}

void TestCtlCommands::helpAndManPage() {
    for (const char* line : {"--help", "connect -h"}) {
        const CtlRun run = runCtl(commandLine(line));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errText(), QString());
        QVERIFY2(run.outText().startsWith(QStringLiteral("Usage: fernpointctl <command>")), line);
    }
    // The installed page is what --man prints, minus signs escaped.
    QFile file(QStringLiteral(FERNPOINTCTL_MAN_PAGE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const CtlRun run = runCtl({QStringLiteral("--man")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, file.readAll());
    QVERIFY(run.outText().startsWith(QStringLiteral(".TH FERNPOINTCTL 1 ")));
    QVERIFY(run.outText().contains(
        QStringLiteral("\n.B connect <NetworkID> [\\-\\-nat|\\-\\-no\\-nat]\n")));
    // A text line starting with an apostrophe would be taken for a roff request.
    QVERIFY(!run.outText().contains(QStringLiteral("\n'")));
}

// Two watches at once, ended by SIGINT and by SIGTERM: the first state comes at once, a change
// at the next poll 5 seconds later, an unchanged state prints nothing, a lost helper a line.
void TestCtlCommands::watchShowsChangesUntilASignal() {
    Session session;
    QVERIFY(session.helper.start());
    QVERIFY(session.helper.setReply(QStringLiteral("GatewayStatus"), statusWithState("starting")));

    std::array<QProcess, 2> watches;
    std::array<QStringList, 2> lines;
    for (QProcess& watch : watches) {
        prepareCtl(watch, commandLine("watch"), ctlEnvironment(session.bus.address()));
        watch.start();
        QVERIFY(watch.waitForStarted());
    }
    const auto readLines = [&] {
        for (std::size_t i = 0; i < watches.size(); ++i)
            while (watches[i].canReadLine())
                lines[i].append(QString::fromUtf8(watches[i].readLine()).chopped(1));
        return lines[0].size() + lines[1].size();
    };

    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 2, 4000);
    QVERIFY(
        session.helper.setReply(QStringLiteral("GatewayStatus"), Reply::answer(true, kFullStatus)));
    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 4, 8000);
    QTest::qWait(5500);
    QCOMPARE(readLines(), 4);
    session.helper.kill();
    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 6, 8000);

    const QRegularExpression pattern(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  (\S.*)$)"));
    for (std::size_t i = 0; i < watches.size(); ++i) {
        ::kill(static_cast<pid_t>(watches[i].processId()), i == 0 ? SIGINT : SIGTERM);
        QVERIFY(watches[i].waitForFinished(5000));
        QCOMPARE(watches[i].exitStatus(), QProcess::NormalExit);
        QCOMPARE(watches[i].exitCode(), 0);
        QCOMPARE(watches[i].readAllStandardError(), QByteArray());
        readLines();
        QCOMPARE(lines[i].size(), 3);
        QStringList states;
        for (const QString& line : std::as_const(lines[i])) {
            const QRegularExpressionMatch match = pattern.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            states.append(match.captured(1));
        }
        QCOMPARE(states.at(0), QStringLiteral("○ Disconnected  Connection: connecting  Core State: "
                                              "starting  Peers: -"));
        QCOMPARE(states.at(1), QStringLiteral("● Connected  Connection: connected  Core State: "
                                              "running  Peers: 3"));
        QVERIFY2(states.at(2).startsWith(kNoHelper), qPrintable(states.at(2)));
    }
}

QTEST_GUILESS_MAIN(TestCtlCommands)
#include "tst_ctl_commands.moc"
