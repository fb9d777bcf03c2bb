#include "DBusHelperClient.h"
#include "HelperContract.h"
#include "PrivateBus.h"
#include "ScriptedHelperProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <QThread>

#include <cstdio>

#include <memory>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;
using Behaviour = ScriptedHelperProcess::Reply::Behaviour;

Q_DECLARE_METATYPE(Reply)

namespace {

// The scripted helper answers Ping with the version of this build until told otherwise.
const QString kPingAnswer = QStringLiteral(R"(ok "%1")").arg(contract::kVersion);

const QString kInterrupted = QStringLiteral("⚠️ [app] XPC connection interrupted");
const QString kInvalidated = QStringLiteral("⚠️ [app] XPC connection invalidated");
const QString kId = QStringLiteral("0123456789abcdef");
constexpr int kWaitMs = 15000;

QStringList g_log;

int count(const QString& line) {
    return int(g_log.count(line));
}

QString quoted(const std::optional<QString>& text) {
    return text ? QLatin1Char('"') + *text + QLatin1Char('"') : QStringLiteral("null");
}

// A result as one line: "ok", ok "text", ok <ok> <json> <running>, refused "message",
// xpc <error name>. Null and empty texts read differently.
template<typename T> QString describe(const HelperResult<T>& result) {
    if (!result.isSuccess()) {
        const HelperClientError& error = result.error();
        if (error.kind() == HelperClientError::Kind::HelperFailed)
            return QStringLiteral("refused ") +
                   quoted(error.message().isNull() ? std::nullopt : std::optional(error.message()));
        return QStringLiteral("xpc ") + error.underlying().name();
    }
    if constexpr (std::is_same_v<T, Nothing>)
        return QStringLiteral("ok");
    else if constexpr (std::is_same_v<T, QString>)
        return QStringLiteral("ok ") +
               quoted(result.value().isNull() ? std::nullopt : std::optional(result.value()));
    else
        return QStringLiteral("ok %1 %2 %3")
            .arg(int(result.value().ok))
            .arg(quoted(result.value().statusJSON))
            .arg(int(result.value().isRunning));
}

// Every completion of one operation, so that "exactly once" and "on the caller's thread" can be
// checked after the fact.
template<typename T> struct Outcome {
    int count = 0;
    bool onCallerThread = true;
    std::optional<HelperResult<T>> result;

    HelperCompletion<T> completion() {
        QThread* const caller = QThread::currentThread();
        return [this, caller](HelperResult<T> value) {
            ++count;
            onCallerThread = onCallerThread && QThread::currentThread() == caller;
            result = std::move(value);
        };
    }
    bool done() const { return count > 0; }
    const HelperClientError& error() const { return result->error(); }
};

template<typename T> bool waitFor(const Outcome<T>& outcome) {
    return QTest::qWaitFor([&outcome] { return outcome.done(); }, kWaitMs);
}

// Runs one operation by its D-Bus method name and describes its single completion.
QString runOnce(HelperClient& client, const QString& method) {
    const auto settle = [](auto& outcome) {
        const bool notInsideTheCall = outcome.count == 0;
        if (!waitFor(outcome))
            return QStringLiteral("no completion");
        QTest::qWait(50);
        if (!notInsideTheCall || outcome.count != 1 || !outcome.onCallerThread)
            return QStringLiteral("completed %1 times, inside the call: %2, on the caller: %3")
                .arg(outcome.count)
                .arg(!notInsideTheCall)
                .arg(outcome.onCallerThread);
        return describe(*outcome.result);
    };
    if (method == QLatin1StringView("Ping")) {
        Outcome<QString> outcome;
        client.ping(outcome.completion());
        return settle(outcome);
    }
    if (method == QLatin1StringView("GatewayStatus")) {
        Outcome<GatewayStatus> outcome;
        client.gatewayStatus(outcome.completion());
        return settle(outcome);
    }
    Outcome<Nothing> outcome;
    if (method == QLatin1StringView("StartGateway"))
        client.startGateway(kId, true, outcome.completion());
    else if (method == QLatin1StringView("StopGateway"))
        client.stopGateway(outcome.completion());
    else if (method == QLatin1StringView("SetNat"))
        client.setNat(false, outcome.completion());
    else
        client.uninstall(outcome.completion());
    return settle(outcome);
}

} // namespace

class TestDBusHelperClient final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void callsInFlightShareOneConnection();
    void helperKilledMidCall();
    void callInFlightSurvivesInterruption();
    void everyOperationFails_data();
    void everyOperationFails();
    void busLostAndBack_data();
    void busLostAndBack();

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<ScriptedHelperProcess> m_helper;
    std::unique_ptr<DBusHelperClient> m_client;
};

void TestDBusHelperClient::initTestCase() {
    // The shared client must never reach the machine's own system bus, even outside CTest;
    // libdbus reads this once, at first use.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/fernpoint-no-system-bus");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        g_log.append(text);
        std::fprintf(stderr, "%s\n", qPrintable(text));
    });
}

void TestDBusHelperClient::init() {
    g_log.clear();
    m_bus = std::make_unique<PrivateBus>();
    QVERIFY(m_bus->isRunning());
    m_helper = std::make_unique<ScriptedHelperProcess>(m_bus->address());
    m_client = std::make_unique<DBusHelperClient>(m_bus->address());
}

void TestDBusHelperClient::cleanup() {
    m_client.reset();
    m_helper.reset();
    m_bus.reset();
}

void TestDBusHelperClient::answers_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("expected");

    const QString badShape = QStringLiteral("xpc org.freedesktop.DBus.Error.InvalidSignature");
    const auto twoTexts = [](bool ok) {
        Reply reply = Reply::answer(ok);
        reply.texts = {QStringLiteral("a"), QStringLiteral("b")};
        return reply;
    };
    const auto row = [](const char* method, const char* name) -> QTestData& {
        return QTest::addRow("%s: %s", method, name) << QString::fromLatin1(method);
    };
    // Each command once (it must reach its own method), the answers over all of them.
    row("StartGateway", "ok, null") << Reply::answer(true) << QStringLiteral("ok");
    row("StopGateway", "ok, message")
        << Reply::answer(true, QStringLiteral("stopped")) << QStringLiteral("ok");
    row("SetNat", "refused, null")
        << Reply::answer(false) << QStringLiteral(R"(refused "unknown error")");
    row("Uninstall", "refused, empty")
        << Reply::answer(false, QStringLiteral("")) << QStringLiteral(R"(refused "")");
    row("StartGateway", "refused, text") << Reply::answer(false, QStringLiteral("core exited: 3"))
                                         << QStringLiteral(R"(refused "core exited: 3")");
    row("StopGateway", "two texts") << twoTexts(false) << badShape;
    row("SetNat", "wrong signature") << Reply::with(Behaviour::WrongSignature) << badShape;
    row("Uninstall", "extra argument") << Reply::with(Behaviour::ExtraArgument) << badShape;

    const QString json = QStringLiteral(R"({"network_name":"总部 ネット"})");
    row("GatewayStatus", "ok, null, stopped")
        << Reply::answer(true) << QStringLiteral("ok 1 null 0");
    row("GatewayStatus", "not ok, null, running")
        << Reply::answer(false, std::nullopt, true) << QStringLiteral("ok 0 null 1");
    row("GatewayStatus", "empty text")
        << Reply::answer(true, QStringLiteral("")) << QStringLiteral(R"(ok 1 "" 0)");
    row("GatewayStatus", "non-ASCII text")
        << Reply::answer(false, json, true) << QStringLiteral("ok 0 \"%1\" 1").arg(json);
    row("GatewayStatus", "two texts") << twoTexts(true) << badShape;
    row("GatewayStatus", "extra argument") << Reply::with(Behaviour::ExtraArgument) << badShape;

    row("Ping", "version") << Reply::answer(true, QStringLiteral("2.7.1"))
                           << QStringLiteral(R"(ok "2.7.1")");
    row("Ping", "null reads as empty") << Reply::answer(true) << QStringLiteral(R"(ok "")");
    row("Ping", "two texts") << twoTexts(true) << badShape;
    row("Ping", "wrong signature") << Reply::with(Behaviour::WrongSignature) << badShape;
}

void TestDBusHelperClient::answers() {
    QFETCH(QString, method);
    QFETCH(Reply, reply);
    QFETCH(QString, expected);
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(method, reply));

    QCOMPARE(runOnce(*m_client, method), expected);
    const QList<ScriptedHelperProcess::Call> calls = m_helper->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).method, method);
    // runOnce() starts with (kId, true) and sets NAT off.
    const QVariantList arguments = method == QLatin1StringView("StartGateway")
                                       ? QVariantList{kId, true}
                                   : method == QLatin1StringView("SetNat") ? QVariantList{false}
                                                                           : QVariantList();
    QCOMPARE(calls.at(0).arguments, arguments);
}

void TestDBusHelperClient::callsInFlightShareOneConnection() {
    QVERIFY(m_helper->start());
    QVERIFY(
        m_helper->setReply(QStringLiteral("StartGateway"), Reply::with(Behaviour::Answer, 400)));
    QVERIFY(
        m_helper->setReply(QStringLiteral("GatewayStatus"), Reply::with(Behaviour::Answer, 400)));

    Outcome<Nothing> start;
    Outcome<GatewayStatus> status;
    m_client->startGateway(kId, false, start.completion());
    m_client->gatewayStatus(status.completion());
    QVERIFY(m_helper->waitForCalls(2));
    QVERIFY(!start.done() && !status.done()); // both really were in flight together
    QVERIFY(waitFor(start) && waitFor(status));
    QVERIFY(start.result->isSuccess() && status.result->isSuccess());

    // A later call still goes over the same connection.
    QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")), kPingAnswer);
    const QList<ScriptedHelperProcess::Call> calls = m_helper->calls();
    QCOMPARE(calls.size(), 3);
    QVERIFY(!calls.at(0).sender.isEmpty());
    QVERIFY(calls.at(1).sender == calls.at(0).sender && calls.at(2).sender == calls.at(0).sender);
    QCOMPARE(start.count + status.count, 2);
    QCOMPARE(count(kInterrupted) + count(kInvalidated), 0);
}

void TestDBusHelperClient::helperKilledMidCall() {
    QVERIFY(m_helper->start());
    QVERIFY(
        m_helper->setReply(QStringLiteral("StartGateway"), Reply::with(Behaviour::Answer, 60000)));
    Outcome<Nothing> start;
    m_client->startGateway(kId, false, start.completion());
    QVERIFY(m_helper->waitForCalls(1));
    m_helper->kill();

    QVERIFY(waitFor(start));
    QCOMPARE(start.error().kind(), HelperClientError::Kind::XpcError);
    QCOMPARE(start.error().errorLine(),
             QStringLiteral("XPC 通信错误：") + start.error().underlying().message());
    QVERIFY(!start.error().underlying().message().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(count(kInterrupted), 1, kWaitMs);
    QVERIFY(!m_client->hasConnection());

    // While no helper runs, a call fails but completes; then the helper is back.
    QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")),
             QStringLiteral("xpc org.freedesktop.DBus.Error.ServiceUnknown"));
    QVERIFY(m_helper->start());
    QCOMPARE(runOnce(*m_client, QStringLiteral("Ping")), kPingAnswer);
    QCOMPARE(start.count, 1);
    QCOMPARE(count(kInterrupted), 1);
    QCOMPARE(count(kInvalidated), 0);
}

void TestDBusHelperClient::callInFlightSurvivesInterruption() {
    QVERIFY(m_helper->start());
    Reply late = Reply::answer(false, QStringLiteral("late"));
    late.delayMs = 800;
    QVERIFY(m_helper->setReply(QStringLiteral("StopGateway"), late));
    Outcome<Nothing> stop;
    m_client->stopGateway(stop.completion());
    QVERIFY(m_helper->waitForCalls(1));
    const QString firstSender = m_helper->calls().at(0).sender;

    // The name loses its owner while the helper is still about to answer: the connection is
    // dropped for new calls but must stay open until this answer is in.
    QVERIFY(m_helper->releaseName());
    QTRY_COMPARE_WITH_TIMEOUT(count(kInterrupted), 1, kWaitMs);
    QVERIFY(!m_client->hasConnection());
    QVERIFY(!stop.done());
    QVERIFY(waitFor(stop));
    QCOMPARE(describe(*stop.result), QStringLiteral(R"(refused "late")"));

    // Once nothing is in flight on it, the dropped connection is closed, not leaked.
    QDBusConnection observer =
        QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("observer"));
    QTRY_VERIFY_WITH_TIMEOUT(!observer.interface()->isServiceRegistered(firstSender), kWaitMs);
    QDBusConnection::disconnectFromBus(QStringLiteral("observer"));

    // A helper under the name again: the next call goes over a fresh connection.
    QVERIFY(m_helper->start());
    QCOMPARE(runOnce(*m_client, QStringLiteral("StopGateway")), QStringLiteral("ok"));
    QVERIFY(m_helper->calls().at(0).sender != firstSender);
    QCOMPARE(stop.count, 1);
}

void TestDBusHelperClient::everyOperationFails_data() {
    QTest::addColumn<QString>("client"); // "own": the fixture's, on a bus without a helper
    QTest::addColumn<QString>("errorName");
    QTest::newRow("no helper on the bus")
        << QStringLiteral("own") << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown");
    QTest::newRow("no bus at the address")
        << QStringLiteral("address") << QStringLiteral("org.freedesktop.DBus.Error.FileNotFound");
    QTest::newRow("shared client, no system bus")
        << QStringLiteral("shared") << QStringLiteral("org.freedesktop.DBus.Error.FileNotFound");
}

void TestDBusHelperClient::everyOperationFails() {
    QFETCH(QString, client);
    QFETCH(QString, errorName);
    DBusHelperClient byAddress(QStringLiteral("unix:path=/nonexistent/fernpoint-no-bus"));
    HelperClient& used = client == QLatin1StringView("own")       ? *m_client
                         : client == QLatin1StringView("address") ? byAddress
                                                                  : HelperClient::shared();
    // Twice: a failed attempt leaves nothing behind that breaks the next one. Each operation
    // completes once, with the bus's own error.
    for (int round = 0; round < 2; ++round) {
        for (const char* method :
             {"Ping", "StartGateway", "StopGateway", "SetNat", "GatewayStatus", "Uninstall"})
            QCOMPARE(runOnce(used, QString::fromLatin1(method)),
                     QStringLiteral("xpc ") + errorName);
    }
    QVERIFY(!byAddress.hasConnection());
    QCOMPARE(count(kInterrupted) + count(kInvalidated), 0);
}

void TestDBusHelperClient::busLostAndBack_data() {
    QTest::addColumn<bool>("callInFlight");
    QTest::newRow("call in flight") << true;
    QTest::newRow("idle connection") << false;
}

void TestDBusHelperClient::busLostAndBack() {
    QFETCH(bool, callInFlight);
    // Without the daemon's GUID, as a system bus address is written: a new daemon on the same
    // socket is reachable at the same address.
    DBusHelperClient client(m_bus->address().section(QLatin1Char(','), 0, 0));
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(QStringLiteral("GatewayStatus"),
                               Reply::with(Behaviour::Answer, callInFlight ? 60000 : 0)));
    Outcome<GatewayStatus> status;
    client.gatewayStatus(status.completion());
    QVERIFY(m_helper->waitForCalls(1));
    if (!callInFlight)
        QVERIFY(waitFor(status));

    // The loss is noticed as it happens, not only at the next call.
    m_bus->kill();
    QTRY_COMPARE_WITH_TIMEOUT(count(kInvalidated), 1, kWaitMs);
    QVERIFY(waitFor(status));
    QCOMPARE(status.result->isSuccess(), !callInFlight);
    QVERIFY(!client.hasConnection());
    QVERIFY(m_helper->waitForExit()); // the helper goes with its bus
    QCOMPARE(runOnce(client, QStringLiteral("Ping")).left(4), QStringLiteral("xpc "));

    // A new daemon on the same socket, and a helper on it.
    QVERIFY(m_bus->restart());
    ScriptedHelperProcess newHelper(m_bus->address());
    QVERIFY(newHelper.start());
    QCOMPARE(runOnce(client, QStringLiteral("Ping")), kPingAnswer);
    QCOMPARE(status.count, 1);
    QCOMPARE(count(kInvalidated), 1);
    QCOMPARE(count(kInterrupted), 0);
}

QTEST_GUILESS_MAIN(TestDBusHelperClient)
#include "tst_dbushelperclient.moc"
