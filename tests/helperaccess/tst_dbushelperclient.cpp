#include "DBusHelperClient.h"
#include "PrivateBus.h"
#include "ScriptedHelper.h"

#include <QTest>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelper;

namespace {

const QString kInterrupted = u"⚠️ [app] XPC connection interrupted"_s;
const QString kInvalidated = u"⚠️ [app] XPC connection invalidated"_s;
const QString kId = u"0123456789abcdef"_s;
const QString kPingAnswer = uR"(ok "%1")"_s.arg(contract::kVersion);
QStringList g_log;

QString quoted(const std::optional<QString>& text) {
    return text ? u'"' + *text + u'"' : u"null"_s;
}

// A result as one line: ok, ok "text", ok <ok> <json> <running>, refused "message", xpc <error>.
template<typename T> QString describe(const HelperResult<T>& result) {
    if (!result.isSuccess()) {
        const HelperClientError& error = result.error();
        if (error.kind() == HelperClientError::Kind::HelperFailed)
            return u"refused "_s + quoted(error.message());
        return u"xpc "_s + error.underlying().name();
    }
    if constexpr (std::is_same_v<T, Nothing>)
        return u"ok"_s;
    else if constexpr (std::is_same_v<T, QString>)
        return u"ok "_s + quoted(result.value());
    else
        return u"ok %1 %2 %3"_s.arg(int(result.value().ok))
            .arg(quoted(result.value().statusJSON))
            .arg(int(result.value().isRunning));
}

// Starts one operation by its method name; *line is set by its completion, which must come once,
// later. Returns what the helper receives.
QVariantList start(HelperClient& client, const QString& method, QString* line) {
    auto done = [line, calls = std::make_shared<int>(0)](const auto& result) {
        *line = ++*calls == 1 ? describe(result) : u"twice"_s;
    };
    if (method == u"Ping")
        client.ping(done);
    else if (method == u"GatewayStatus")
        client.gatewayStatus(done);
    else if (method == u"StartGateway")
        client.startGateway(kId, true, done);
    else if (method == u"SetNat")
        client.setNat(false, done);
    else
        client.uninstall(done);
    if (!line->isEmpty())
        *line = u"completed inside the call"_s;
    return method == u"StartGateway" ? QVariantList{kId, true}
           : method == u"SetNat"     ? QVariantList{false}
                                     : QVariantList();
}

QString runOnce(HelperClient& client, const QString& method) {
    QString line;
    start(client, method, &line);
    return QTest::qWaitFor([&] { return !line.isEmpty(); }, 15000) ? line : u"none"_s;
}

} // namespace

class TestDBusHelperClient final : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<DBusHelperClient> m_client;

private Q_SLOTS:
    void initTestCase() {
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

    // Each command reaches its own method with its arguments, and each answer reads as it should.
    void answers_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("reply");
        QTest::addColumn<QString>("expected");
        const QString badShape = u"xpc org.freedesktop.DBus.Error.InvalidSignature"_s;
        const QString json = uR"({"network_name":"总部 ネット"})"_s;
        const auto row = [](const char* method, const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", method, name) << QString::fromLatin1(method);
        };
        row("StartGateway", "ok") << ScriptedHelper::answer(true, u"x"_s) << u"ok"_s;
        row("SetNat", "refused, null")
            << ScriptedHelper::answer(false) << uR"(refused "unknown error")"_s;
        row("Uninstall", "extra argument") << (ScriptedHelper::answer(true) << 1) << badShape;
        row("GatewayStatus", "not ok, running")
            << ScriptedHelper::status(false, json, true) << u"ok 0 \"%1\" 1"_s.arg(json);
        row("GatewayStatus", "two texts")
            << QVariantList{true, QStringList{json, json}, false} << badShape;
        row("Ping", "wrong signature") << QVariantList{42} << badShape;
    }

    void answers() {
        QFETCH(QString, method);
        QFETCH(QVariantList, reply);
        QFETCH(QString, expected);
        ScriptedHelper helper(m_bus->address());
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

    // The helper, or the whole bus, goes while a call waits for its answer: the client notices at
    // once and drops its connection (an answer already on its way still arrives); the next helper
    // is reached over a fresh connection, on a new bus at the same address too.
    void helperGoesMidCall_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("expected");
        QTest::newRow("crashes") << u"crash"_s << u"xpc org.freedesktop.DBus.Error.NoReply"_s;
        QTest::newRow("releases its name") << u"release"_s << uR"(ok 0 "late" 0)"_s;
        QTest::newRow("bus lost and back") << u"bus"_s << u"xpc org.freedesktop.DBus.Error."_s;
    }

    void helperGoesMidCall() {
        QFETCH(QString, how);
        QFETCH(QString, expected);
        // Without the daemon's GUID, as a system bus address is written.
        DBusHelperClient client(m_bus->address().section(u',', 0, 0));
        auto helper = std::make_unique<ScriptedHelper>(m_bus->address());
        helper->setReply(u"GatewayStatus"_s, ScriptedHelper::status(false, u"late"_s, false), 800);
        QCOMPARE(runOnce(client, u"Ping"_s), kPingAnswer);
        QString line;
        start(client, u"GatewayStatus"_s, &line);
        QVERIFY(helper->waitForCalls(2));
        const QString firstSender = helper->calls().at(0).sender;
        QCOMPARE(helper->calls().at(1).sender, firstSender);
        how == u"crash"     ? helper->crash()
        : how == u"release" ? helper->releaseName()
                            : m_bus->kill();
        const QString& notice = how == u"bus" ? kInvalidated : kInterrupted;
        QTRY_COMPARE(g_log.count(notice), 1);
        QVERIFY(!client.hasConnection());
        QTRY_VERIFY(!line.isEmpty());
        QVERIFY2(line.startsWith(expected), qPrintable(line));

        if (how == u"bus") {
            QVERIFY(m_bus->restart());
        } else {
            QCOMPARE(runOnce(client, u"Ping"_s),
                     u"xpc org.freedesktop.DBus.Error.ServiceUnknown"_s);
        }
        helper = std::make_unique<ScriptedHelper>(m_bus->address());
        QCOMPARE(runOnce(client, u"Ping"_s), kPingAnswer);
        QVERIFY(how == u"bus" || helper->calls().at(0).sender != firstSender); // names restart
        QCOMPARE(g_log.count(kInterrupted) + g_log.count(kInvalidated), 1);
    }
};

QTEST_GUILESS_MAIN(TestDBusHelperClient)
#include "tst_dbushelperclient.moc"
