// fernpointctl's commands against the scripted helper: what each prints, what reaches the helper
// and the exit status, for the answers a real helper may give and for bad command lines.

#include "CtlTestSupport.h"
#include "PrivateBus.h"
#include "ScriptedHelperProcess.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <optional>

using namespace fernpoint::test;
using Reply = ScriptedHelperProcess::Reply;

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kId = QStringLiteral("0123456789abcdef");

const QString kFullStatus = QStringLiteral(
    R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
    R"("network_desc":"Berlin","address_cidr":"10.8.0.2/16","listen_port":0,"state":"running",)"
    R"("peers":3,"last_policy_at":86400,"Nat":true,"endpoints":[{"endpoints":"203.0.113.7:51820",)"
    R"("ok":true},{"endpoint":"skipped"},{"endpoints":"198.51.100.9:51820"}],)"
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
                                               "  ✓ 203.0.113.7:51820\n"
                                               "  ✗ 198.51.100.9:51820\n"
                                               "Remote Management Addresses\n"
                                               "  10.8.0.0/24\n"
                                               "  10.9.0.0/24\n");

const QString kEmptyDataText = QStringLiteral("○ Disconnected\n"
                                              "Network Status\n"
                                              "  Connection                -\n"
                                              "  Network Name              -\n"
                                              "  Description               -\n"
                                              "  Local Management Address  -\n"
                                              "  Listen Port               -\n"
                                              "  Core State                -\n"
                                              "  Peers                     -\n"
                                              "  Last Policy               -\n"
                                              "  NAT                       Off\n");

QString statusWithState(const QString& state) {
    return QStringLiteral(R"({"ok":true,"data":{"conn_state":"connecting","state":")") + state +
           QStringLiteral(R"(","Nat":false}})");
}

QStringList methodsOf(const QList<ScriptedHelperProcess::Call>& calls) {
    QStringList methods;
    for (const ScriptedHelperProcess::Call& call : calls)
        methods.append(call.method);
    return methods;
}

QString refusedWhileRunning() {
    return QStringLiteral("NAT cannot be changed while the gateway is running; disconnect first\n");
}

} // namespace

class TestCtlCommands final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void status_data();
    void status();
    void statusJson_data();
    void statusJson();
    void connectCommand_data();
    void connectCommand();
    void disconnect_data();
    void disconnect();
    void nat_data();
    void nat();
    void helperUnreachable_data();
    void helperUnreachable();
    void badUsage_data();
    void badUsage();
    void help_data();
    void help();
    void manPage();
    void language_data();
    void language();
    void watchShowsChangesAndErrors();

private:
    TemporaryHome m_home;
};

void TestCtlCommands::status_data() {
    QTest::addColumn<Reply>("statusReply");
    QTest::addColumn<QString>("expectedOut");
    QTest::addColumn<QString>("expectedErrPrefix"); // empty: nothing on standard error

    QTest::newRow("full snapshot")
        << Reply::answer(true, kFullStatus, true) << kFullStatusText << QString();
    QTest::newRow("empty data object: every value absent")
        << Reply::answer(true, QStringLiteral(R"({"data":{}})")) << kEmptyDataText << QString();
    QTest::newRow("the raw ok flag is not consulted")
        << Reply::answer(false, kFullStatus, false) << kFullStatusText << QString();
    QTest::newRow("no JSON text, running flag set")
        << Reply::answer(true, std::nullopt, true)
        << QStringLiteral("● Connected\nNetwork Status\n  No status yet\n") << QString();
    QTest::newRow("unparseable JSON")
        << Reply::answer(true, QStringLiteral("{oops"))
        << QStringLiteral("○ Disconnected\nNetwork Status\n  No status yet\n")
        << QStringLiteral("❌ status JSON parse error: ");
    QTest::newRow("status reports an error")
        << Reply::answer(true, QStringLiteral(R"({"ok":false,"error":"core gone","data":{}})"))
        << QStringLiteral("○ Disconnected\nNetwork Status\n  No status yet\n")
        << QStringLiteral("status error: core gone");
    QTest::newRow("line breaks in values stay on their row")
        << Reply::answer(true,
                         QStringLiteral(R"({"data":{"network_name":"two\nlines","Nat":false}})"))
        << QString(kEmptyDataText)
               .replace(QStringLiteral("Network Name              -"),
                        QStringLiteral("Network Name              two lines"))
        << QString();
}

void TestCtlCommands::status() {
    QFETCH(Reply, statusReply);
    QFETCH(QString, expectedOut);
    QFETCH(QString, expectedErrPrefix);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"), statusReply));

    const CtlRun run = runCtl({QStringLiteral("status")}, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), expectedOut);
    if (expectedErrPrefix.isEmpty()) {
        QCOMPARE(run.errText(), QString());
    } else {
        QVERIFY2(run.errText().startsWith(expectedErrPrefix), qPrintable(run.errText()));
        QVERIFY(run.errIsOneLine());
    }
    QCOMPARE(methodsOf(helper.calls()), QStringList{QStringLiteral("GatewayStatus")});
}

void TestCtlCommands::statusJson_data() {
    QTest::addColumn<std::optional<QString>>("statusJSON");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedErr");

    QTest::newRow("odd spacing and non-ASCII kept")
        << std::optional<QString>(QStringLiteral(
               "  {\"ok\" :true ,\n\t\"data\":{ \"network_name\":\"总部 ✓ Zürich\" , "
               "\"emoji\":\"🌿\"}}\t "))
        << 0 << QString();
    QTest::newRow("not JSON at all, still passed through")
        << std::optional<QString>(QStringLiteral("<<not json>>")) << 0 << QString();
    QTest::newRow("empty text is a text") << std::optional<QString>(QString()) << 0 << QString();
    QTest::newRow("no JSON text") << std::optional<QString>() << 1
                                  << QStringLiteral("The helper sent no status JSON text\n");
}

void TestCtlCommands::statusJson() {
    QFETCH(std::optional<QString>, statusJSON);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedErr);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(
        helper.setReply(QStringLiteral("GatewayStatus"), Reply::answer(true, statusJSON, true)));

    const CtlRun run = runCtl({QStringLiteral("status"), QStringLiteral("--json")}, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, statusJSON ? statusJSON->toUtf8() + '\n' : QByteArray());
    QCOMPARE(run.errText(), expectedErr);
}

void TestCtlCommands::connectCommand_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Reply>("startReply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedErr");
    QTest::addColumn<QStringList>("expectedMethods");
    QTest::addColumn<QVariantList>("startArguments"); // empty when no start is expected

    const QString message = QStringLiteral("Network ID 必须是 16 位十六进制字符串\n");
    const QStringList none;
    const QStringList startOnly{QStringLiteral("StartGateway")};
    const QStringList statusThenStart{QStringLiteral("GatewayStatus"),
                                      QStringLiteral("StartGateway")};

    QTest::newRow("15 characters")
        << QStringList{QStringLiteral("connect"), kId.left(15), QStringLiteral("--nat")}
        << Reply::answer(true) << 1 << message << none << QVariantList();
    QTest::newRow("17 characters") << QStringList{QStringLiteral("connect"), kId + QLatin1Char('0')}
                                   << Reply::answer(true) << 1 << message << none << QVariantList();
    QTest::newRow("blank after trimming")
        << QStringList{QStringLiteral("connect"), QStringLiteral(" \n\t")} << Reply::answer(true)
        << 1 << message << none << QVariantList();
    QTest::newRow("trimmed of blanks and line breaks")
        << QStringList{QStringLiteral("connect"),
                       QStringLiteral(" \t") + kId + QStringLiteral("\r\n"),
                       QStringLiteral("--no-nat")}
        << Reply::answer(true) << 0 << QString() << startOnly << QVariantList{kId, false};
    QTest::newRow("characters, not code units")
        << QStringList{QStringLiteral("connect"), QStringLiteral("--nat"),
                       kId.left(15) + QStringLiteral("e\u0301")}
        << Reply::answer(true) << 0 << QString() << startOnly
        << QVariantList{kId.left(15) + QStringLiteral("e\u0301"), true};
    QTest::newRow("ID after --") << QStringList{QStringLiteral("connect"), QStringLiteral("--nat"),
                                                QStringLiteral("--"),
                                                QStringLiteral("-123456789abcdef")}
                                 << Reply::answer(true) << 0 << QString() << startOnly
                                 << QVariantList{QStringLiteral("-123456789abcdef"), true};
    QTest::newRow("NAT as the gateway reports it")
        << QStringList{QStringLiteral("connect"), kId} << Reply::answer(true) << 0 << QString()
        << statusThenStart << QVariantList{kId, true};
    QTest::newRow("refused without a message")
        << QStringList{QStringLiteral("connect"), kId, QStringLiteral("--no-nat")}
        << Reply::answer(false) << 1 << QStringLiteral("unknown error\n") << startOnly
        << QVariantList{kId, false};
    QTest::newRow("refused with a message")
        << QStringList{QStringLiteral("connect"), kId, QStringLiteral("--nat")}
        << Reply::answer(false, QStringLiteral("core binary missing")) << 1
        << QStringLiteral("core binary missing\n") << startOnly << QVariantList{kId, true};
}

void TestCtlCommands::connectCommand() {
    QFETCH(QStringList, arguments);
    QFETCH(Reply, startReply);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedErr);
    QFETCH(QStringList, expectedMethods);
    QFETCH(QVariantList, startArguments);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("StartGateway"), startReply));
    // NAT on in the status, so that a start without a flag shows where its NAT came from.
    QVERIFY(helper.setReply(
        QStringLiteral("GatewayStatus"),
        Reply::answer(true, QStringLiteral(R"({"data":{"state":"stopped","Nat":true}})"))));

    const CtlRun run = runCtl(arguments, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.outText(), QString());
    QCOMPARE(run.errText(), expectedErr);
    const QList<ScriptedHelperProcess::Call> calls = helper.calls();
    QCOMPARE(methodsOf(calls), expectedMethods);
    if (!startArguments.isEmpty())
        QCOMPARE(calls.last().arguments, startArguments);
}

void TestCtlCommands::disconnect_data() {
    QTest::addColumn<Reply>("stopReply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedErr");

    QTest::newRow("accepted") << Reply::answer(true) << 0 << QString();
    QTest::newRow("refused") << Reply::answer(false, QStringLiteral("not running")) << 1
                             << QStringLiteral("not running\n");
    QTest::newRow("helper gone before answering")
        << Reply::with(Reply::Behaviour::Exit) << 2 << QStringLiteral("XPC 通信错误：");
}

void TestCtlCommands::disconnect() {
    QFETCH(Reply, stopReply);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedErr);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("StopGateway"), stopReply));

    const CtlRun run = runCtl({QStringLiteral("disconnect")}, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.outText(), QString());
    QVERIFY2(run.errText().startsWith(expectedErr), qPrintable(run.errText()));
    if (!expectedErr.isEmpty())
        QVERIFY(run.errIsOneLine());
    if (exitCode != 2)
        QCOMPARE(methodsOf(helper.calls()), QStringList{QStringLiteral("StopGateway")});
}

void TestCtlCommands::nat_data() {
    QTest::addColumn<QString>("onOrOff");
    QTest::addColumn<Reply>("statusReply");
    QTest::addColumn<Reply>("natReply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedErr");
    QTest::addColumn<bool>("natSent");

    const QString on = QStringLiteral("on");
    const QString off = QStringLiteral("off");
    const Reply accepted = Reply::answer(true);

    QTest::newRow("refused while running")
        << on << Reply::answer(true, statusWithState(QStringLiteral("running"))) << accepted << 1
        << refusedWhileRunning() << false;
    QTest::newRow("refused while starting, not yet connected")
        << off << Reply::answer(true, statusWithState(QStringLiteral("starting"))) << accepted << 1
        << refusedWhileRunning() << false;
    QTest::newRow("refused: no JSON text, running flag set")
        << on << Reply::answer(true, std::nullopt, true) << accepted << 1 << refusedWhileRunning()
        << false;
    QTest::newRow("state word in another case counts as stopped")
        << on << Reply::answer(true, statusWithState(QStringLiteral("Running"))) << accepted << 0
        << QString() << true;
    QTest::newRow("accepted while stopped")
        << off << Reply::answer(true, statusWithState(QStringLiteral("stopped"))) << accepted << 0
        << QString() << true;
    QTest::newRow("accepted when the status is unusable")
        << on << Reply::answer(true, QStringLiteral("[1,2]"), true) << accepted << 0 << QString()
        << true;
    QTest::newRow("helper refuses the change")
        << on << Reply::answer(true, statusWithState(QStringLiteral("stopped")))
        << Reply::answer(false, QStringLiteral("nat locked")) << 1 << QStringLiteral("nat locked\n")
        << true;
}

void TestCtlCommands::nat() {
    QFETCH(QString, onOrOff);
    QFETCH(Reply, statusReply);
    QFETCH(Reply, natReply);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedErr);
    QFETCH(bool, natSent);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"), statusReply));
    QVERIFY(helper.setReply(QStringLiteral("SetNat"), natReply));

    const CtlRun run = runCtl({QStringLiteral("nat"), onOrOff}, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.outText(), QString());
    QCOMPARE(run.errText(), expectedErr);
    const QList<ScriptedHelperProcess::Call> calls = helper.calls();
    QStringList expectedMethods{QStringLiteral("GatewayStatus")};
    if (natSent)
        expectedMethods.append(QStringLiteral("SetNat"));
    QCOMPARE(methodsOf(calls), expectedMethods);
    if (natSent)
        QCOMPARE(calls.last().arguments, QVariantList{onOrOff == QLatin1StringView("on")});
}

void TestCtlCommands::helperUnreachable_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("busExists");

    const QList<QStringList> commands{
        {QStringLiteral("status")},
        {QStringLiteral("status"), QStringLiteral("--json")},
        {QStringLiteral("connect"), kId, QStringLiteral("--nat")},
        {QStringLiteral("connect"), kId},
        {QStringLiteral("disconnect")},
        {QStringLiteral("nat"), QStringLiteral("on")},
    };
    for (const QStringList& command : commands) {
        QTest::addRow("%s, no helper on the bus", qPrintable(command.join(QLatin1Char(' '))))
            << command << true;
    }
    QTest::newRow("status, no bus at all") << QStringList{QStringLiteral("status")} << false;
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
    QVERIFY2(run.errText().startsWith(QStringLiteral("XPC 通信错误：")), qPrintable(run.errText()));
    QVERIFY2(run.errText().size() > QStringLiteral("XPC 通信错误：\n").size(),
             "the line carries the bus's description");
    QVERIFY2(run.errIsOneLine(), qPrintable(run.errText()));
}

void TestCtlCommands::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("start")};
    QTest::newRow("status with an argument")
        << QStringList{QStringLiteral("status"), QStringLiteral("now")};
    QTest::newRow("status --json with more")
        << QStringList{QStringLiteral("status"), QStringLiteral("--json"), QStringLiteral("x")};
    QTest::newRow("connect without ID") << QStringList{QStringLiteral("connect")};
    QTest::newRow("connect with two IDs") << QStringList{QStringLiteral("connect"), kId, kId};
    QTest::newRow("connect with both NAT flags") << QStringList{
        QStringLiteral("connect"), kId, QStringLiteral("--nat"), QStringLiteral("--no-nat")};
    QTest::newRow("connect with an unknown option")
        << QStringList{QStringLiteral("connect"), kId, QStringLiteral("--fast")};
    QTest::newRow("nat without a value") << QStringList{QStringLiteral("nat")};
    QTest::newRow("nat with another word")
        << QStringList{QStringLiteral("nat"), QStringLiteral("yes")};
    QTest::newRow("disconnect with an argument") << QStringList{QStringLiteral("disconnect"), kId};
    QTest::newRow("watch with an argument")
        << QStringList{QStringLiteral("watch"), QStringLiteral("5")};
}

void TestCtlCommands::badUsage() {
    QFETCH(QStringList, arguments);

    // A helper that would answer everything: bad usage must not reach it.
    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    const CtlRun run = runCtl(arguments, bus.address());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.outText(), QString());
    QVERIFY2(run.errText().startsWith(QStringLiteral("fernpointctl: ")), qPrintable(run.errText()));
    QVERIFY(run.errText().contains(QStringLiteral("--help")));
    QVERIFY(run.errIsOneLine());
    QCOMPARE(helper.calls().size(), 0);
}

void TestCtlCommands::help_data() {
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")};
    QTest::newRow("help") << QStringList{QStringLiteral("help")};
    QTest::newRow("-h after a command")
        << QStringList{QStringLiteral("connect"), QStringLiteral("-h")};
}

void TestCtlCommands::help() {
    QFETCH(QStringList, arguments);

    const CtlRun run = runCtl(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.errText(), QString());
    const QString text = run.outText();
    QVERIFY(text.startsWith(QStringLiteral("Usage: fernpointctl <command>")));
    for (const char* synopsis :
         {"  status ", "  status --json ", "  connect <NetworkID> [--nat|--no-nat]\n",
          "  disconnect ", "  nat on|off ", "  history ", "  watch ", "  64 "}) {
        QVERIFY2(text.contains(QLatin1StringView(synopsis)), synopsis);
    }
    for (const QString& line : text.split(QLatin1Char('\n')))
        QVERIFY2(line.size() <= 80, qPrintable(line));
}

void TestCtlCommands::manPage() {
    QFile file(QStringLiteral(FERNPOINTCTL_MAN_PAGE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray installed = file.readAll();

    const CtlRun run = runCtl({QStringLiteral("--man")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(installed, run.out);
    const QString page = QString::fromUtf8(installed);
    QVERIFY(page.startsWith(QStringLiteral(".TH FERNPOINTCTL 1 ")));
    for (const char* line : {"\n.SH NAME\nfernpointctl \\- ", "\n.SH SYNOPSIS\n",
                             "\n.SH \"EXIT STATUS\"\n", "\n.B status\n", "\n.B status \\-\\-json\n",
                             "\n.B connect <NetworkID> [\\-\\-nat|\\-\\-no\\-nat]\n",
                             "\n.B nat on|off\n", "\n.B history\n", "\n.B watch\n", "\n.B 64\n"}) {
        QVERIFY2(page.contains(QLatin1StringView(line)), line);
    }
    // The descriptions are the help's own words, with minus signs escaped.
    const QString flatPage = QString(page).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QVERIFY(flatPage.contains(QStringLiteral("Without --nat or --no-nat the NAT setting the "
                                             "gateway reports is kept.")));
    // A text line starting with a dot or an apostrophe would be taken for a roff request.
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('\'')))
            QFAIL(qPrintable(line));
    }
}

void TestCtlCommands::language_data() {
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("expectedLines");
    QTest::addColumn<QString>("expectedNatRefusal");

    QTest::newRow("English") << QStringLiteral("C.UTF-8") << QString()
                             << QStringList{QStringLiteral("● Connected"),
                                            QStringLiteral("Network Status"),
                                            QStringLiteral("  Connection                connected"),
                                            QStringLiteral("  NAT                       On")}
                             << refusedWhileRunning();
    QTest::newRow("Simplified Chinese")
        << QStringLiteral("zh_CN.UTF-8") << QStringLiteral("zh_CN")
        << QStringList{QStringLiteral("● 已连接"),   QStringLiteral("网络状态"),
                       QStringLiteral("  连接状态"), QStringLiteral("  NAT"),
                       QStringLiteral("开启"),       QStringLiteral("端点")}
        << QStringLiteral("网关运行期间不能更改 NAT，请先断开连接\n");
    QTest::newRow("Japanese")
        << QStringLiteral("ja_JP.UTF-8") << QStringLiteral("ja")
        << QStringList{QStringLiteral("● 接続済み"), QStringLiteral("ネットワークの状態"),
                       QStringLiteral("  接続状態"), QStringLiteral("オン")}
        << QStringLiteral("ゲートウェイの実行中は NAT を変更できません。先に切断してください\n");
}

void TestCtlCommands::language() {
    QFETCH(QString, lang);
    QFETCH(QString, language);
    QFETCH(QStringList, expectedLines);
    QFETCH(QString, expectedNatRefusal);

    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"), Reply::answer(true, kFullStatus)));

    QProcessEnvironment environment = ctlEnvironment(bus.address());
    environment.insert(QStringLiteral("LANG"), lang);
    environment.insert(QStringLiteral("LC_ALL"), lang);
    environment.insert(QStringLiteral("LANGUAGE"), language);

    const CtlRun status = runCtl({QStringLiteral("status")}, environment);
    QCOMPARE(status.exitCode, 0);
    const QString text = status.outText();
    for (const QString& expected : expectedLines)
        QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" in\n") + text));
    // The values from the helper are never translated.
    QVERIFY(text.contains(QStringLiteral("Head office")));

    const CtlRun nat = runCtl({QStringLiteral("nat"), QStringLiteral("off")}, environment);
    QCOMPARE(nat.exitCode, 1);
    QCOMPARE(nat.errText(), expectedNatRefusal);
    // The controller's own message is the same in every language.
    const CtlRun connect =
        runCtl({QStringLiteral("connect"), QStringLiteral("short")}, environment);
    QCOMPARE(connect.errText(), QStringLiteral("Network ID 必须是 16 位十六进制字符串\n"));
}

void TestCtlCommands::watchShowsChangesAndErrors() {
    PrivateBus bus;
    ScriptedHelperProcess helper(bus.address());
    QVERIFY(helper.start());
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"),
                            Reply::answer(true, statusWithState(QStringLiteral("starting")))));

    QProcess watch;
    prepareCtl(watch, {QStringLiteral("watch")}, ctlEnvironment(bus.address()));
    watch.start();
    QVERIFY(watch.waitForStarted());
    QStringList lines;
    const auto readLines = [&watch, &lines] {
        while (watch.canReadLine())
            lines.append(QString::fromUtf8(watch.readLine()).chopped(1));
        return lines.size();
    };

    // The first state comes at once, the next ones at the polls 5 seconds apart; an unchanged
    // state prints nothing.
    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 1, 4000);
    QVERIFY(helper.setReply(QStringLiteral("GatewayStatus"), Reply::answer(true, kFullStatus)));
    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 2, 8000);
    QTest::qWait(5500);
    QCOMPARE(readLines(), 2);
    helper.kill();
    QTRY_COMPARE_WITH_TIMEOUT(readLines(), 3, 8000);

    ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    readLines();
    QCOMPARE(lines.size(), 3);

    QStringList states;
    for (const QString& line : std::as_const(lines)) {
        const QRegularExpressionMatch match = watchLinePattern().match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        states.append(match.captured(1));
    }
    QCOMPARE(states.at(0), QStringLiteral("○ Disconnected  Connection: connecting  Core State: "
                                          "starting  Peers: -"));
    QCOMPARE(states.at(1),
             QStringLiteral("● Connected  Connection: connected  Core State: running  Peers: 3"));
    QVERIFY2(states.at(2).startsWith(QStringLiteral("XPC 通信错误：")), qPrintable(states.at(2)));
    QCOMPARE(watch.readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(TestCtlCommands)
#include "tst_ctl_commands.moc"
