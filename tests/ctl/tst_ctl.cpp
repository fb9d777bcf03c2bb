// fernpointctl as its users run it: the built program in a child process, against the scripted
// helper on a private bus, with a temporary home. What it prints, what reaches the helper, the
// exit status, and the window's history file read as it is and never changed.

#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace fernpoint::test;
using Replies = QList<std::pair<QString, QVariantList>>;

namespace {

const QString kId = u"0123456789abcdef"_s;

QVariantList statusWithState(const char* state) {
    const QString json = uR"({"data":{"conn_state":"connecting","state":"%1","Nat":true}})"_s;
    return ScriptedHelper::status(true, json.arg(QLatin1StringView(state)), false);
}

// A command line written with blanks between the arguments; ID stands for a valid Network ID.
QStringList commandLine(const char* line) {
    return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts).replaceInStrings(u"ID"_s, kId);
}

QProcess* start(QProcess& ctl, const QStringList& arguments, const QString& busAddress) {
    ctl.setProcessEnvironment(systemBusEnvironment(busAddress));
    ctl.setStandardInputFile(QProcess::nullDevice());
    ctl.start(QStringLiteral(FERNPOINTCTL_PROGRAM), arguments);
    return &ctl;
}

// Exit status, standard output and standard error.
std::tuple<int, QString, QString> run(const QStringList& arguments, const QString& bus = {}) {
    QProcess ctl;
    if (!start(ctl, arguments, bus)->waitForFinished(30000) ||
        ctl.exitStatus() != QProcess::NormalExit)
        return {-1, {}, {}};
    return {ctl.exitCode(), QString::fromUtf8(ctl.readAllStandardOutput()),
            QString::fromUtf8(ctl.readAllStandardError())};
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
        QTest::addColumn<QString>("output"); // standard output, then standard error
        QTest::addColumn<QStringList>("calls");
        const QString status = u"GatewayStatus"_s;
        const QString statusJson =
            uR"({"data":{"conn_state":"connected","network_name":"Head office","peers":3,)"
            uR"("Nat":true,"endpoints":[{"endpoints":"203.0.113.7:20619","ok":true},)"
            uR"({"endpoints":"198.51.100.9:20619"}],"mgmt_ips":["10.8.0.0/24"]}})"_s;
        const auto start = [](const QString& id, const char* nat) {
            return QStringList{u"StartGateway(%1,%2)"_s.arg(id, QLatin1StringView(nat))};
        };
        QTest::newRow("status")
            << commandLine("status")
            << Replies{{status, ScriptedHelper::status(true, statusJson, true)}} << 0
            << u"● Connected\nNetwork Status\n  Connection                connected\n"
               "  Network Name              Head office\n  Description               -\n"
               "  Local Management Address  -\n  Listen Port               -\n"
               "  Core State                -\n  Peers                     3\n"
               "  Last Policy               -\n  NAT                       On\n"
               "Endpoints\n  ✓ 203.0.113.7:20619\n  ✗ 198.51.100.9:20619\n"
               "Remote Management Addresses\n  10.8.0.0/24\n"_s
            << QStringList{u"GatewayStatus()"_s};
        QTest::newRow("connect: trimmed as the window trims")
            << QStringList{u"connect"_s, u"\u3000"_s + kId + u'\n', u"--nat"_s} << Replies{} << 0
            << QString() << start(kId, "true");
        QTest::newRow("connect: ID after --")
            << commandLine("connect --no-nat -- -123456789abcdef") << Replies{} << 0 << QString()
            << start(u"-123456789abcdef"_s, "false");
        QTest::newRow("connect: NAT as the gateway reports it")
            << commandLine("connect ID") << Replies{{status, statusWithState("stopped")}} << 0
            << QString() << QStringList{u"GatewayStatus()"_s} + start(kId, "true");
        QTest::newRow("connect: refused")
            << commandLine("connect ID --nat")
            << Replies{{u"StartGateway"_s, ScriptedHelper::answer(false, u"core missing"_s)}} << 1
            << u"core missing\n"_s << start(kId, "true");
        QTest::newRow("nat: refused while the core runs")
            << commandLine("nat on") << Replies{{status, statusWithState("running")}} << 1
            << u"NAT cannot be changed while the gateway is running; disconnect first\n"_s
            << QStringList{u"GatewayStatus()"_s};
        QTest::newRow("nat: accepted while stopped")
            << commandLine("nat off") << Replies{{status, statusWithState("stopped")}} << 0
            << QString() << QStringList{u"GatewayStatus()"_s, u"SetNat(false)"_s};
    }

    void commands() {
        QFETCH(QStringList, arguments);
        QFETCH(Replies, replies);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QStringList, calls);
        for (const auto& [method, reply] : replies)
            m_helper->setReply(method, reply);
        const auto [status, out, err] = run(arguments, m_bus->address());
        QCOMPARE(status, exitCode);
        QCOMPARE(out + err, output);
        QStringList received; // each as Method(argument,...)
        for (const ScriptedHelper::Call& call : m_helper->calls())
            received << call.method + u'(' + QVariant(call.arguments).toStringList().join(u',') +
                            u')';
        QCOMPARE(received, calls);
    }

    // Bad usage exits 64 with one line and never reaches the helper; an unreachable helper
    // exits 2 with the bus's own description after the prefix.
    void failures_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("bus"); // helper, none (a bus without it) or unreachable
        for (const char* line : {"", "start", "status now", "connect ID ID",
                                 "connect ID --nat --no-nat", "nat yes", "watch 5"})
            QTest::addRow("'%s'", line) << commandLine(line) << u"helper"_s;
        for (const char* line : {"status", "connect ID"})
            QTest::addRow("%s, no helper", line) << commandLine(line) << u"none"_s;
        QTest::newRow("status, no bus") << commandLine("status") << u"unreachable"_s;
    }

    void failures() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, bus);
        if (bus != u"helper")
            m_helper.reset();
        const auto [status, out, err] =
            run(arguments, bus == u"unreachable" ? QString() : m_bus->address());
        const QString prefix = bus == u"helper" ? u"fernpointctl: "_s : u"XPC 通信错误："_s;
        QCOMPARE(status, bus == u"helper" ? 64 : 2);
        QVERIFY2(out.isEmpty() && err.startsWith(prefix) && err.size() > prefix.size() + 1 &&
                     err.indexOf(u'\n') == err.size() - 1,
                 qPrintable(out + err));
        QVERIFY(!m_helper || m_helper->calls().isEmpty());
    }

    // The first state comes at once, after the time; an unchanged state 5 seconds later prints
    // nothing.
    void watchShowsChangesOnly() {
        m_helper->setReply(u"GatewayStatus"_s, statusWithState("starting"));
        QProcess watch;
        QVERIFY(start(watch, {u"watch"_s}, m_bus->address())->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(m_helper->calls().size(), 2, 8000);
        QTest::qWait(300);
        watch.kill();
        watch.waitForFinished();
        const QString lines = QString::fromUtf8(watch.readAllStandardOutput());
        const QString line =
            u"  ○ Disconnected  Connection: connecting  Core State: starting  Peers: -\n"_s;
        QVERIFY2(lines.count(u'\n') == 1 && lines.endsWith(line), qPrintable(lines));
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
  {"networkID":"cccccccccccccccc","name":"仓库","desc":"","lastUsedAt":100}])")
            << 0
            << u"Network         Network ID        Last Used\n"
               "Lab only        bbbbbbbbbbbbbbbb  2001-01-01 01:00:00\n"
               "Office, Berlin  aaaaaaaaaaaaaaaa  2001-01-01 00:01:40\n"
               "仓库            cccccccccccccccc  2001-01-01 00:01:40\n"_s;
        QTest::newRow("no file") << QByteArray() << 0 << u"No networks yet\n"_s;
        QTest::newRow("not JSON") << QByteArray("[{\"networkID\":") << 1 << QString();
    }

    void history() {
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        const QString folder = m_home.dataHome() + u"/FernPoint"_s;
        const QString path = folder + u"/networks.json"_s;
        QDir(folder).removeRecursively();
        QFile file(path);
        if (!content.isEmpty())
            QVERIFY(QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) &&
                    file.write(content) == content.size() && file.flush());
        const QDateTime written = QFileInfo(path).lastModified();
        const auto [status, output, error] = run({u"history"_s});
        QCOMPARE(status, exitCode);
        QCOMPARE(output, out);
        QVERIFY2(exitCode == 0
                     ? error.isEmpty()
                     : error.startsWith(u"Cannot read the history file %1: not JSON: "_s.arg(path)),
                 qPrintable(error));
        QCOMPARE(QFileInfo(path).lastModified(), written);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 content.isEmpty() ? QStringList() : QStringList{u"networks.json"_s});
        QCOMPARE(QFileInfo::exists(folder), !content.isEmpty()); // nothing created either
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
