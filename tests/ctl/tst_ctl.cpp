// fernpointctl as its users run it: the built program in a child process, against the scripted
// helper on a private bus, with a temporary home. What it prints, what reaches the helper, the
// exit status, and the window's history file read as it is and never changed.

#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <memory>

using namespace fernpoint::test;
using Replies = QList<std::pair<QString, QVariantList>>;

namespace {

const QString kId = QStringLiteral("0123456789abcdef");
const QString kNoHelper = QStringLiteral("XPC 通信错误：");

const QString kFullStatus = QStringLiteral(
    R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
    R"("network_desc":"Berlin","address_cidr":"10.8.0.2/16","listen_port":0,"state":"running",)"
    R"("peers":3,"last_policy_at":86400,"Nat":true,"endpoints":[{"endpoints":"203.0.113.7:20619",)"
    R"("ok":true},{"endpoint":"skipped"},{"endpoints":"198.51.100.9:20619"}],)"
    R"("mgmt_ips":["10.8.0.0/24","10.9.0.0/24"]}})");

QVariantList statusWithState(const char* state) {
    return ScriptedHelper::status(
        true,
        QStringLiteral(R"({"data":{"conn_state":"connecting","state":"%1","Nat":true}})")
            .arg(QLatin1StringView(state)),
        false);
}

// A command line written with blanks between the arguments; ID stands for a valid Network ID.
QStringList commandLine(const char* line) {
    return QString::fromUtf8(line)
        .split(u' ', Qt::SkipEmptyParts)
        .replaceInStrings(QStringLiteral("ID"), kId);
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

QProcess* prepare(QProcess& ctl, const QStringList& arguments, const QString& busAddress) {
    ctl.setProcessEnvironment(systemBusEnvironment(busAddress));
    ctl.setStandardInputFile(QProcess::nullDevice());
    ctl.start(QStringLiteral(FERNPOINTCTL_PROGRAM), arguments);
    return &ctl;
}

Run runCtl(const QStringList& arguments, const QString& busAddress = {}) {
    QProcess ctl;
    if (!prepare(ctl, arguments, busAddress)->waitForFinished(30000))
        return {};
    return {ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1,
            QString::fromUtf8(ctl.readAllStandardOutput()),
            QString::fromUtf8(ctl.readAllStandardError())};
}

// The calls the helper received, each as Method(argument,...).
QStringList callsOf(const ScriptedHelper& helper) {
    QStringList calls;
    for (const ScriptedHelper::Call& call : helper.calls()) {
        QStringList arguments;
        for (const QVariant& argument : call.arguments)
            arguments << argument.toString();
        calls << call.method + u'(' + arguments.join(u',') + u')';
    }
    return calls;
}

} // namespace

class TestCtl final : public QObject {
    Q_OBJECT

    TemporaryHome m_home;
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<ScriptedHelper> m_helper;

private Q_SLOTS:
    void init() {
        m_bus = std::make_unique<PrivateBus>();
        m_helper = std::make_unique<ScriptedHelper>(m_bus->address());
        QVERIFY(m_helper->isServing());
    }
    void cleanup() { m_helper.reset(), m_bus.reset(); }

    void commands_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("calls");
        const QString status = QStringLiteral("GatewayStatus");
        const QStringList statusCall{QStringLiteral("GatewayStatus()")};
        const QString oddJson =
            QStringLiteral("  {\"ok\" :true ,\n\t\"data\":{ \"network_name\":\"总部 ✓ Zürich\" , "
                           "\"e\":\"🌿\"}}\t ");
        const auto start = [](const QString& id, const char* nat) {
            return QStringList{
                QStringLiteral("StartGateway(%1,%2)").arg(id, QLatin1StringView(nat))};
        };
        QTest::newRow("status: full snapshot")
            << commandLine("status")
            << Replies{{status, ScriptedHelper::status(true, kFullStatus, true)}} << 0
            << QStringLiteral("● Connected\nNetwork Status\n"
                              "  Connection                connected\n"
                              "  Network Name              Head office\n"
                              "  Description               Berlin\n"
                              "  Local Management Address  10.8.0.2/16\n"
                              "  Listen Port               0\n"
                              "  Core State                running\n"
                              "  Peers                     3\n"
                              "  Last Policy               1970-01-02 00:00:00\n"
                              "  NAT                       On\n"
                              "Endpoints\n  ✓ 203.0.113.7:20619\n  ✗ 198.51.100.9:20619\n"
                              "Remote Management Addresses\n  10.8.0.0/24\n  10.9.0.0/24\n")
            << QString() << statusCall;
        QTest::newRow("status --json: the text unchanged")
            << commandLine("status --json")
            << Replies{{status, ScriptedHelper::status(true, oddJson, false)}} << 0
            << oddJson + u'\n' << QString() << statusCall;
        QTest::newRow("status --json: no JSON text")
            << commandLine("status --json")
            << Replies{{status, ScriptedHelper::status(true, std::nullopt, true)}} << 1 << QString()
            << QStringLiteral("The helper sent no status JSON text\n") << statusCall;
        QTest::newRow("connect: 15 characters send nothing")
            << QStringList{QStringLiteral("connect"), kId.left(15), QStringLiteral("--nat")}
            << Replies{} << 1 << QString()
            << QStringLiteral("Network ID 必须是 16 位十六进制字符串\n") << QStringList();
        QTest::newRow("connect: trimmed as the window trims")
            << QStringList{QStringLiteral("connect"), QStringLiteral("\u3000") + kId + u'\n',
                           QStringLiteral("--nat")}
            << Replies{} << 0 << QString() << QString() << start(kId, "true");
        QTest::newRow("connect: ID after --")
            << commandLine("connect --no-nat -- -123456789abcdef") << Replies{} << 0 << QString()
            << QString() << start(QStringLiteral("-123456789abcdef"), "false");
        QTest::newRow("connect: NAT as the gateway reports it")
            << commandLine("connect ID") << Replies{{status, statusWithState("stopped")}} << 0
            << QString() << QString() << statusCall + start(kId, "true");
        QTest::newRow("connect: refused")
            << commandLine("connect ID --nat")
            << Replies{{QStringLiteral("StartGateway"),
                        ScriptedHelper::answer(false, QStringLiteral("core binary missing"))}}
            << 1 << QString() << QStringLiteral("core binary missing\n") << start(kId, "true");
        QTest::newRow("disconnect") << commandLine("disconnect") << Replies{} << 0 << QString()
                                    << QString() << QStringList{QStringLiteral("StopGateway()")};
        QTest::newRow("nat: refused while the core runs")
            << commandLine("nat on") << Replies{{status, statusWithState("running")}} << 1
            << QString()
            << QStringLiteral(
                   "NAT cannot be changed while the gateway is running; disconnect first\n")
            << statusCall;
        QTest::newRow("nat: accepted while stopped")
            << commandLine("nat off") << Replies{{status, statusWithState("stopped")}} << 0
            << QString() << QString() << statusCall + QStringList{QStringLiteral("SetNat(false)")};
    }

    void commands() {
        QFETCH(QStringList, arguments);
        QFETCH(Replies, replies);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, calls);
        for (const auto& [method, reply] : replies)
            m_helper->setReply(method, reply);
        const Run run = runCtl(arguments, m_bus->address());
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, err);
        QCOMPARE(callsOf(*m_helper), calls);
    }

    // Bad usage exits 64 with one line and never reaches the helper; an unreachable helper
    // exits 2 with the bus's own description after the prefix.
    void failures_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("bus"); // helper, none (a bus without it) or unreachable
        for (const char* line :
             {"", "start", "status now", "connect", "connect ID ID", "connect ID --nat --no-nat",
              "connect ID --fast", "nat yes", "disconnect ID", "watch 5"})
            QTest::addRow("'%s'", line) << commandLine(line) << QStringLiteral("helper");
        for (const char* line : {"status", "connect ID", "nat on"})
            QTest::addRow("%s, no helper", line) << commandLine(line) << QStringLiteral("none");
        QTest::newRow("status, no bus") << commandLine("status") << QStringLiteral("unreachable");
    }

    void failures() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, bus);
        if (bus != u"helper")
            m_helper.reset();
        const Run run = runCtl(arguments, bus == u"unreachable" ? QString() : m_bus->address());
        const QString prefix = bus == u"helper" ? QStringLiteral("fernpointctl: ") : kNoHelper;
        QCOMPARE(run.exitCode, bus == u"helper" ? 64 : 2);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(prefix) && run.err.size() > prefix.size() + 1 &&
                     run.err.indexOf(u'\n') == run.err.size() - 1,
                 qPrintable(run.err));
        if (m_helper)
            QCOMPARE(m_helper->calls().size(), 0);
    }

    // The first state comes at once, an unchanged state 5 seconds later prints nothing, a lost
    // helper a line; Ctrl-C ends the watch cleanly.
    void watchShowsChangesUntilInterrupted() {
        m_helper->setReply(QStringLiteral("GatewayStatus"), statusWithState("starting"));
        QProcess watch;
        QVERIFY(prepare(watch, {QStringLiteral("watch")}, m_bus->address())->waitForStarted());
        const auto lineCount = [&] { return watch.peek(4096).count('\n'); };
        QTRY_COMPARE_WITH_TIMEOUT(lineCount(), 1, 4000);
        QTest::qWait(5500);
        QCOMPARE(lineCount(), 1);
        m_helper.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lineCount(), 2, 8000);
        ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished(5000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
        QCOMPARE(watch.readAllStandardError(), QByteArray());
        const QStringList lines = QString::fromUtf8(watch.readAllStandardOutput()).split(u'\n');
        const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )"));
        QVERIFY2(lines.size() == 3 && lines[0].contains(stamp) && lines[1].contains(stamp),
                 qPrintable(lines.join(u'|')));
        QCOMPARE(lines[0].mid(21), QStringLiteral("○ Disconnected  Connection: connecting  "
                                                  "Core State: starting  Peers: -"));
        QVERIFY2(lines[1].mid(21).startsWith(kNoHelper), qPrintable(lines[1]));
    }

    // Newest first, ties in file order; nothing changed, created or copied aside.
    void history_data() {
        QTest::addColumn<QByteArray>("content"); // none: no file
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::newRow("newest first, ties in file order")
            << QByteArray(R"([
  {"networkID":"aaaaaaaaaaaaaaaa","name":"Office","desc":"Berlin","lastUsedAt":100},
  {"networkID":"bbbbbbbbbbbbbbbb","name":"","desc":"Lab only","lastUsedAt":3600.75},
  {"networkID":"cccccccccccccccc","name":"仓库","desc":"","lastUsedAt":100},
  {"networkID":"dddddddddddddddd","name":"","desc":"","lastUsedAt":-86400}])")
            << 0
            << QStringLiteral("Network           Network ID        Last Used\n"
                              "Lab only          bbbbbbbbbbbbbbbb  2001-01-01 01:00:00\n"
                              "Office, Berlin    aaaaaaaaaaaaaaaa  2001-01-01 00:01:40\n"
                              "仓库              cccccccccccccccc  2001-01-01 00:01:40\n"
                              "dddddddddddddddd  dddddddddddddddd  2000-12-31 00:00:00\n");
        QTest::newRow("no file") << QByteArray() << 0 << QStringLiteral("No networks yet\n");
        QTest::newRow("not JSON") << QByteArray("[{\"networkID\":") << 1 << QString();
    }

    void history() {
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        const QString folder = m_home.dataHome() + QStringLiteral("/FernPoint");
        const QString path = folder + QStringLiteral("/networks.json");
        QDir(folder).removeRecursively();
        QFile file(path);
        if (!content.isEmpty()) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
            file.close();
        }
        const QDateTime written = QFileInfo(path).lastModified();
        const Run run = runCtl({QStringLiteral("history")});
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        const QString error =
            QStringLiteral("Cannot read the history file %1: not JSON: ").arg(path);
        QVERIFY2(exitCode == 0 ? run.err.isEmpty() : run.err.startsWith(error),
                 qPrintable(run.err));
        QCOMPARE(QFileInfo(path).lastModified(), written);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 content.isEmpty() ? QStringList() : QStringList{QStringLiteral("networks.json")});
        QCOMPARE(QFileInfo::exists(folder), !content.isEmpty()); // nothing created either
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
