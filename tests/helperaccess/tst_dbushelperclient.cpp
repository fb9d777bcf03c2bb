#include "DBusHelperClient.h"
#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QTest>

#include <cstdio>
#include <memory>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelper;

namespace {

const QString kInterrupted = QStringLiteral("⚠️ [app] XPC connection interrupted");
const QString kInvalidated = QStringLiteral("⚠️ [app] XPC connection invalidated");
const QString kId = QStringLiteral("0123456789abcdef");
const QString kPingAnswer = QStringLiteral(R"(ok "%1")").arg(contract::kVersion);
QStringList g_log;

QString quoted(const std::optional<QString>& text) {
    return text ? u'"' + *text + u'"' : QStringLiteral("null");
}

// A result as one line: ok, ok "text", ok <ok> <json> <running>, refused "message", xpc <error>.
template<typename T> QString describe(const HelperResult<T>& result) {
    if (!result.isSuccess()) {
        const HelperClientError& error = result.error();
        if (error.kind() == HelperClientError::Kind::HelperFailed)
            return QStringLiteral("refused ") + quoted(error.message());
        return QStringLiteral("xpc ") + error.underlying().name();
    }
    if constexpr (std::is_same_v<T, Nothing>)
        return QStringLiteral("ok");
    else if constexpr (std::is_same_v<T, QString>)
        return QStringLiteral("ok ") + quoted(result.value());
    else
        return QStringLiteral("ok %1 %2 %3")
            .arg(int(result.value().ok))
            .arg(quoted(result.value().statusJSON))
            .arg(int(result.value().isRunning));
}

// Starts one operation by its method name; *line is set by its completion, which must come once,
// later, on this thread. Returns what the helper receives.
QVariantList start(HelperClient& client, const QString& method, QString* line) {
    auto done = [line, calls = std::make_shared<int>(0),
                 thread = QThread::currentThread()](const auto& result) {
        *line = ++*calls == 1 && QThread::currentThread() == thread ? describe(result)
                                                                    : QStringLiteral("twice");
    };
    if (method == u"Ping")
        client.ping(done);
    else if (method == u"GatewayStatus")
        client.gatewayStatus(done);
    else if (method == u"StartGateway")
        client.startGateway(kId, true, done);
    else if (method == u"SetNat")
        client.setNat(false, done);
    else if (method == u"StopGateway")
        client.stopGateway(done);
    else
        client.uninstall(done);
    if (!line->isEmpty())
        *line = QStringLiteral("completed inside the call");
    return method == u"StartGateway" ? QVariantList{kId, true}
           : method == u"SetNat"     ? QVariantList{false}
                                     : QVariantList();
}

QString runOnce(HelperClient& client, const QString& method) {
    QString line;
    start(client, method, &line);
    return QTest::qWaitFor([&] { return !line.isEmpty(); }, 15000) ? line : QStringLiteral("none");
}

} // namespace

class TestDBusHelperClient final : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<DBusHelperClient> m_client;

private Q_SLOTS:
    void initTestCase() {
        // The shared client must never reach the machine's own system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/fernpoint-no-system-bus");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            g_log.append(text);
            std::fprintf(stderr, "%s\n", qPrintable(text));
        });
    }
    void init() {
        g_log.clear();
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->isRunning());
        m_client = std::make_unique<DBusHelperClient>(m_bus->address());
    }
    void cleanup() { m_client.reset(), m_bus.reset(); }

    void answers_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("reply");
        QTest::addColumn<QString>("expected");
        const QString badShape = QStringLiteral("xpc org.freedesktop.DBus.Error.InvalidSignature");
        const QStringList two{QStringLiteral("a"), QStringLiteral("b")};
        const QString json = QStringLiteral(R"({"network_name":"总部 ネット"})");
        const auto row = [](const char* method, const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", method, name) << QString::fromLatin1(method);
        };
        row("StartGateway", "ok") << ScriptedHelper::answer(true, QStringLiteral("x"))
                                  << QStringLiteral("ok");
        row("SetNat", "refused, null")
            << ScriptedHelper::answer(false) << QStringLiteral(R"(refused "unknown error")");
        row("StopGateway", "refused, empty")
            << ScriptedHelper::answer(false, QStringLiteral("")) << QStringLiteral(R"(refused "")");
        row("Uninstall", "extra argument") << (ScriptedHelper::answer(true) << 1) << badShape;
        row("GatewayStatus", "not ok, running") << ScriptedHelper::status(false, json, true)
                                                << QStringLiteral("ok 0 \"%1\" 1").arg(json);
        row("GatewayStatus", "ok, null, stopped")
            << ScriptedHelper::status(true, std::nullopt, false) << QStringLiteral("ok 1 null 0");
        row("GatewayStatus", "two texts") << QVariantList{true, two, false} << badShape;
        row("Ping", "null reads as empty")
            << QVariantList{QStringList()} << QStringLiteral("ok \"\"");
        row("Ping", "wrong signature") << QVariantList{42} << badShape;
    }

    // Each command reaches its own method with its arguments, and each answer reads as it should.
    void answers() {
        QFETCH(QString, method);
        QFETCH(QVariantList, reply);
        QFETCH(QString, expected);
        ScriptedHelper helper(m_bus->address());
        QVERIFY(helper.isServing());
        helper.setReply(method, reply);
        QString line;
        const QVariantList sent = start(*m_client, method, &line);
        QVERIFY(QTest::qWaitFor([&] { return !line.isEmpty(); }, 15000));
        QTest::qWait(20);
        QCOMPARE(line, expected);
        QCOMPARE(helper.calls().size(), 1);
        QCOMPARE(helper.calls().at(0).method, method);
        QCOMPARE(helper.calls().at(0).arguments, sent);
    }

    // The helper goes while a call waits for its answer: the client notices at once and drops its
    // connection, but keeps it open for an answer still on its way; the next helper is reached
    // over a fresh connection.
    void helperGoesMidCall_data() {
        QTest::addColumn<bool>("crashes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("crashes") << true
                                 << QStringLiteral("xpc org.freedesktop.DBus.Error.NoReply");
        QTest::newRow("releases its name") << false << QStringLiteral(R"(refused "late")");
    }

    void helperGoesMidCall() {
        QFETCH(bool, crashes);
        QFETCH(QString, expected);
        auto helper = std::make_unique<ScriptedHelper>(m_bus->address());
        helper->setReply(QStringLiteral("StopGateway"),
                         ScriptedHelper::answer(false, QStringLiteral("late")), 800);
        QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")), kPingAnswer);
        QString line;
        start(*m_client, QStringLiteral("StopGateway"), &line);
        QVERIFY(helper->waitForCalls(2));
        const QString firstSender = helper->calls().at(0).sender;
        QCOMPARE(helper->calls().at(1).sender, firstSender);
        crashes ? helper->crash() : helper->releaseName();
        QTRY_COMPARE(g_log.count(kInterrupted), 1);
        QVERIFY(!m_client->hasConnection());
        QTRY_VERIFY(!line.isEmpty());
        QCOMPARE(line, expected);

        QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")),
                 QStringLiteral("xpc org.freedesktop.DBus.Error.ServiceUnknown"));
        helper = std::make_unique<ScriptedHelper>(m_bus->address());
        QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")), kPingAnswer);
        QVERIFY(helper->calls().at(0).sender != firstSender);
        QCOMPARE(g_log.count(kInterrupted), 1);
        QCOMPARE(g_log.count(kInvalidated), 0);
    }

    // Twice: a failed attempt leaves nothing behind that breaks the next one.
    void everyOperationFails_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("errorName");
        QTest::newRow("no helper on the bus")
            << QStringLiteral("own") << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown");
        QTest::newRow("shared client, no system bus")
            << QStringLiteral("shared")
            << QStringLiteral("org.freedesktop.DBus.Error.FileNotFound");
    }

    void everyOperationFails() {
        QFETCH(QString, client);
        QFETCH(QString, errorName);
        HelperClient& used = client == u"own" ? *m_client : HelperClient::shared();
        for (int round = 0; round < 2; ++round) {
            for (const char* method :
                 {"Ping", "StartGateway", "StopGateway", "SetNat", "GatewayStatus", "Uninstall"})
                QCOMPARE(runOnce(used, QString::fromLatin1(method)),
                         QStringLiteral("xpc ") + errorName);
        }
        QCOMPARE(g_log.count(kInterrupted) + g_log.count(kInvalidated), 0);
    }

    // The bus goes with a call in flight; a new daemon on the same socket is reachable at the
    // same address (without the daemon's GUID, as a system bus address is written).
    void busLostAndBack() {
        DBusHelperClient client(m_bus->address().section(u',', 0, 0));
        auto helper = std::make_unique<ScriptedHelper>(m_bus->address());
        helper->setReply(QStringLiteral("GatewayStatus"), ScriptedHelper::answer(true), 60000);
        QString line;
        start(client, QStringLiteral("GatewayStatus"), &line);
        QVERIFY(helper->waitForCalls(1));
        m_bus->kill();
        QTRY_COMPARE(g_log.count(kInvalidated), 1); // noticed as it happens, not at the next call
        QTRY_VERIFY(line.startsWith(u"xpc "));
        QVERIFY(!client.hasConnection());

        QVERIFY(m_bus->restart());
        helper = std::make_unique<ScriptedHelper>(m_bus->address());
        QCOMPARE(runOnce(client, QStringLiteral("Ping")), kPingAnswer);
        QCOMPARE(g_log.count(kInvalidated), 1);
        QCOMPARE(g_log.count(kInterrupted), 0);
    }
};

QTEST_GUILESS_MAIN(TestDBusHelperClient)
#include "tst_dbushelperclient.moc"
