#include "DBusHelperClient.h"
#include "PrivateBus.h"
#include "ScriptedHelperProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::ScriptedHelperProcess;
using Reply = ScriptedHelperProcess::Reply;
using Behaviour = ScriptedHelperProcess::Reply::Behaviour;

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kInterrupted = QStringLiteral("⚠️ [app] XPC connection interrupted");
const QString kInvalidated = QStringLiteral("⚠️ [app] XPC connection invalidated");
constexpr int kReplyWaitMs = 15000;

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    g_log.append(text);
    if (g_previousHandler)
        g_previousHandler(type, context, text);
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
};

enum class Expect { Success, HelperFailed, XpcError };

void runCommand(DBusHelperClient& client, const QString& method,
                HelperCompletion<Nothing> completion) {
    if (method == QLatin1StringView("StartGateway"))
        client.startGateway(QStringLiteral("0123456789abcdef"), true, std::move(completion));
    else if (method == QLatin1StringView("StopGateway"))
        client.stopGateway(std::move(completion));
    else if (method == QLatin1StringView("SetNat"))
        client.setNat(false, std::move(completion));
    else
        client.uninstall(std::move(completion));
}

// What a result says, for failure messages (evaluated also when the check passes).
template<typename T> QByteArray describe(const HelperResult<T>& result) {
    return result.isSuccess() ? QByteArray("success") : result.error().errorLine().toUtf8();
}

int count(const QString& line) {
    return int(g_log.count(line));
}

} // namespace

class TestDBusHelperClient final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void commandAnswers_data();
    void commandAnswers();
    void statusAnswers_data();
    void statusAnswers();
    void pingAnswers_data();
    void pingAnswers();
    void argumentsReachTheHelper();
    void callsInFlightShareOneConnection();
    void helperGoneMidCall_data();
    void helperGoneMidCall();
    void callInFlightSurvivesInterruption();
    void noHelperOnTheBus();
    void noBusAtAll_data();
    void noBusAtAll();
    void busLostAndBack_data();
    void busLostAndBack();

private:
    // The six operations on one client, each counted, all failing the same way.
    void expectAllFailWithXpcError(HelperClient& client, const QString& errorName);
    static void verifyOutcome(const std::optional<HelperResult<Nothing>>& result, Expect expect,
                              const QString& text);

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<ScriptedHelperProcess> m_helper;
    std::unique_ptr<DBusHelperClient> m_client;
};

void TestDBusHelperClient::initTestCase() {
    // The shared client must never reach the machine's own system bus, even outside CTest;
    // libdbus reads this once, at first use.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/fernpoint-no-system-bus");
    g_previousHandler = qInstallMessageHandler(recordMessage);
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

void TestDBusHelperClient::verifyOutcome(const std::optional<HelperResult<Nothing>>& result,
                                         Expect expect, const QString& text) {
    QVERIFY(result.has_value());
    switch (expect) {
    case Expect::Success:
        QVERIFY2(result->isSuccess(), describe(*result).constData());
        break;
    case Expect::HelperFailed:
        QVERIFY(!result->isSuccess());
        QCOMPARE(result->error().kind(), HelperClientError::Kind::HelperFailed);
        QCOMPARE(result->error().message(), text);
        QVERIFY(!result->error().message().isNull());
        break;
    case Expect::XpcError:
        QVERIFY(!result->isSuccess());
        QCOMPARE(result->error().kind(), HelperClientError::Kind::XpcError);
        QCOMPARE(result->error().underlying().name(), text);
        QVERIFY(!result->error().underlying().message().isEmpty());
        break;
    }
}

void TestDBusHelperClient::commandAnswers_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<QString>("text");

    const QString invalidSignature = QStringLiteral("org.freedesktop.DBus.Error.InvalidSignature");
    Reply twoTexts = Reply::answer(false);
    twoTexts.texts = {QStringLiteral("a"), QStringLiteral("b")};
    Reply denied = Reply::with(Behaviour::Error);
    denied.errorName = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
    denied.errorMessage = QStringLiteral("not authorized");

    const QStringList methods = {QStringLiteral("StartGateway"), QStringLiteral("StopGateway"),
                                 QStringLiteral("SetNat"), QStringLiteral("Uninstall")};
    for (const QString& method : methods) {
        const auto row = [&method](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(method), name) << method;
        };
        row("ok, null") << Reply::answer(true) << Expect::Success << QString();
        row("ok with a message") << Reply::answer(true, QStringLiteral("started"))
                                 << Expect::Success << QString();
        row("refused, null") << Reply::answer(false) << Expect::HelperFailed
                             << QStringLiteral("unknown error");
        row("refused, empty") << Reply::answer(false, QStringLiteral("")) << Expect::HelperFailed
                              << QStringLiteral("");
        row("refused, text") << Reply::answer(false, QStringLiteral("core exited: 3"))
                             << Expect::HelperFailed << QStringLiteral("core exited: 3");
        row("two texts") << twoTexts << Expect::XpcError << invalidSignature;
        row("wrong signature") << Reply::with(Behaviour::WrongSignature) << Expect::XpcError
                               << invalidSignature;
        row("extra argument") << Reply::with(Behaviour::ExtraArgument) << Expect::XpcError
                              << invalidSignature;
        row("bus error") << denied << Expect::XpcError << denied.errorName;
    }
}

void TestDBusHelperClient::commandAnswers() {
    QFETCH(QString, method);
    QFETCH(Reply, reply);
    QFETCH(Expect, expect);
    QFETCH(QString, text);
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(method, reply));

    Outcome<Nothing> outcome;
    runCommand(*m_client, method, outcome.completion());
    QCOMPARE(outcome.count, 0); // never inside the call
    QTRY_VERIFY_WITH_TIMEOUT(outcome.done(), kReplyWaitMs);
    verifyOutcome(outcome.result, expect, text);
    QCOMPARE(m_helper->calls().size(), 1);
    QCOMPARE(m_helper->calls().at(0).method, method);
    QTest::qWait(50);
    QCOMPARE(outcome.count, 1);
    QVERIFY(outcome.onCallerThread);
}

void TestDBusHelperClient::statusAnswers_data() {
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<std::optional<QString>>("statusJSON");
    QTest::addColumn<bool>("isRunning");

    const std::optional<QString> null;
    const QString json = QStringLiteral(R"({"ok":true,"data":{"conn_state":"connected"}})");
    QTest::newRow("ok, null, stopped") << Reply::answer(true) << true << true << null << false;
    QTest::newRow("not ok, null, running")
        << Reply::answer(false, null, true) << true << false << null << true;
    QTest::newRow("empty text stays empty")
        << Reply::answer(true, QStringLiteral("")) << true << true
        << std::optional<QString>(QStringLiteral("")) << false;
    QTest::newRow("json text unchanged") << Reply::answer(false, json, true) << true << false
                                         << std::optional<QString>(json) << true;
    QTest::newRow("non-ASCII text")
        << Reply::answer(true, QStringLiteral("{\"network_name\":\"总部 ネット\"}")) << true << true
        << std::optional<QString>(QStringLiteral("{\"network_name\":\"总部 ネット\"}")) << false;

    Reply twoTexts = Reply::answer(true);
    twoTexts.texts = {QStringLiteral("{}"), QStringLiteral("{}")};
    QTest::newRow("two texts") << twoTexts << false << false << null << false;
    QTest::newRow("wrong signature")
        << Reply::with(Behaviour::WrongSignature) << false << false << null << false;
    QTest::newRow("extra argument")
        << Reply::with(Behaviour::ExtraArgument) << false << false << null << false;
}

void TestDBusHelperClient::statusAnswers() {
    QFETCH(Reply, reply);
    QFETCH(bool, succeeds);
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(QStringLiteral("GatewayStatus"), reply));

    Outcome<GatewayStatus> outcome;
    m_client->gatewayStatus(outcome.completion());
    QTRY_VERIFY_WITH_TIMEOUT(outcome.done(), kReplyWaitMs);
    QTest::qWait(50);
    QCOMPARE(outcome.count, 1);
    QVERIFY(outcome.onCallerThread);
    QCOMPARE(outcome.result->isSuccess(), succeeds);
    if (!succeeds) {
        QCOMPARE(outcome.result->error().kind(), HelperClientError::Kind::XpcError);
        QCOMPARE(outcome.result->error().underlying().type(), QDBusError::InvalidSignature);
        return;
    }
    QFETCH(bool, ok);
    QFETCH(std::optional<QString>, statusJSON);
    QFETCH(bool, isRunning);
    const GatewayStatus& status = outcome.result->value();
    QCOMPARE(status.ok, ok);
    QCOMPARE(status.statusJSON.has_value(), statusJSON.has_value());
    if (statusJSON)
        QCOMPARE(*status.statusJSON, *statusJSON);
    QCOMPARE(status.isRunning, isRunning);
}

void TestDBusHelperClient::pingAnswers_data() {
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("text");

    QTest::newRow("version") << Reply::answer(true, QStringLiteral("1.0.4")) << true
                             << QStringLiteral("1.0.4");
    QTest::newRow("null is empty") << Reply::answer(true) << true << QStringLiteral("");
    QTest::newRow("empty") << Reply::answer(true, QStringLiteral("")) << true << QStringLiteral("");
    Reply twoTexts;
    twoTexts.texts = {QStringLiteral("1.0.4"), QStringLiteral("1.0.5")};
    QTest::newRow("two texts") << twoTexts << false << QString();
    QTest::newRow("wrong signature")
        << Reply::with(Behaviour::WrongSignature) << false << QString();
}

void TestDBusHelperClient::pingAnswers() {
    QFETCH(Reply, reply);
    QFETCH(bool, succeeds);
    QFETCH(QString, text);
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(QStringLiteral("Ping"), reply));

    Outcome<QString> outcome;
    m_client->ping(outcome.completion());
    QTRY_VERIFY_WITH_TIMEOUT(outcome.done(), kReplyWaitMs);
    QTest::qWait(50);
    QCOMPARE(outcome.count, 1);
    QCOMPARE(outcome.result->isSuccess(), succeeds);
    if (succeeds) {
        QCOMPARE(outcome.result->value(), text);
        QVERIFY(!outcome.result->value().isNull());
    } else {
        QCOMPARE(outcome.result->error().underlying().type(), QDBusError::InvalidSignature);
    }
}

void TestDBusHelperClient::argumentsReachTheHelper() {
    QVERIFY(m_helper->start());
    Outcome<Nothing> start;
    Outcome<Nothing> nat;
    m_client->startGateway(QStringLiteral("8056c2e21c000001"), false, start.completion());
    m_client->setNat(true, nat.completion());
    QTRY_VERIFY_WITH_TIMEOUT(start.done() && nat.done(), kReplyWaitMs);

    const QList<ScriptedHelperProcess::Call> calls = m_helper->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).method, QStringLiteral("StartGateway"));
    QCOMPARE(calls.at(0).arguments, (QVariantList{QStringLiteral("8056c2e21c000001"), false}));
    QCOMPARE(calls.at(1).method, QStringLiteral("SetNat"));
    QCOMPARE(calls.at(1).arguments, QVariantList{true});
}

void TestDBusHelperClient::callsInFlightShareOneConnection() {
    QVERIFY(m_helper->start());
    QVERIFY(
        m_helper->setReply(QStringLiteral("StartGateway"), Reply::with(Behaviour::Answer, 400)));
    QVERIFY(
        m_helper->setReply(QStringLiteral("GatewayStatus"), Reply::with(Behaviour::Answer, 400)));

    Outcome<Nothing> start;
    Outcome<GatewayStatus> status;
    m_client->startGateway(QStringLiteral("0123456789abcdef"), false, start.completion());
    m_client->gatewayStatus(status.completion());
    QVERIFY(m_helper->waitForCalls(2));
    QVERIFY(!start.done() && !status.done()); // both really were in flight together
    QTRY_VERIFY_WITH_TIMEOUT(start.done() && status.done(), kReplyWaitMs);
    QVERIFY(start.result->isSuccess());
    QVERIFY(status.result->isSuccess());

    // A later call still goes over the same connection.
    Outcome<QString> ping;
    m_client->ping(ping.completion());
    QTRY_VERIFY_WITH_TIMEOUT(ping.done(), kReplyWaitMs);
    const QList<ScriptedHelperProcess::Call> calls = m_helper->calls();
    QCOMPARE(calls.size(), 3);
    QVERIFY(!calls.at(0).sender.isEmpty());
    QCOMPARE(calls.at(1).sender, calls.at(0).sender);
    QCOMPARE(calls.at(2).sender, calls.at(0).sender);
    QTest::qWait(50);
    QCOMPARE(start.count + status.count + ping.count, 3);
    QCOMPARE(count(kInterrupted) + count(kInvalidated), 0);
}

void TestDBusHelperClient::helperGoneMidCall_data() {
    QTest::addColumn<Behaviour>("behaviour");
    QTest::newRow("killed") << Behaviour::Answer;
    QTest::newRow("exits without answering") << Behaviour::Exit;
    QTest::newRow("crashes without answering") << Behaviour::Abort;
}

void TestDBusHelperClient::helperGoneMidCall() {
    QFETCH(Behaviour, behaviour);
    QVERIFY(m_helper->start());
    // Killed tests: the answer would come far too late.
    QVERIFY(m_helper->setReply(QStringLiteral("StartGateway"), Reply::with(behaviour, 60000)));

    Outcome<Nothing> start;
    m_client->startGateway(QStringLiteral("0123456789abcdef"), false, start.completion());
    if (behaviour == Behaviour::Answer) {
        QVERIFY(m_helper->waitForCalls(1));
        m_helper->kill();
    } else {
        QVERIFY(m_helper->waitForExit());
    }
    QTRY_VERIFY_WITH_TIMEOUT(start.done(), kReplyWaitMs);
    QVERIFY(!start.result->isSuccess());
    QCOMPARE(start.result->error().kind(), HelperClientError::Kind::XpcError);
    QVERIFY(start.result->error().errorLine().startsWith(QStringLiteral("XPC 通信错误：")));
    QTRY_COMPARE_WITH_TIMEOUT(count(kInterrupted), 1, kReplyWaitMs);
    QVERIFY(!m_client->hasConnection());

    // While no helper runs, a call fails but completes; then the helper is back.
    Outcome<QString> lonely;
    m_client->ping(lonely.completion());
    QTRY_VERIFY_WITH_TIMEOUT(lonely.done(), kReplyWaitMs);
    QCOMPARE(lonely.result->error().underlying().type(), QDBusError::ServiceUnknown);

    QVERIFY(m_helper->start());
    Outcome<QString> ping;
    m_client->ping(ping.completion());
    QTRY_VERIFY_WITH_TIMEOUT(ping.done(), kReplyWaitMs);
    QVERIFY(ping.result->isSuccess());
    QCOMPARE(ping.result->value(), QStringLiteral("1.0.4"));
    QTest::qWait(50);
    QCOMPARE(start.count, 1);
    QCOMPARE(count(kInterrupted), 1);
    QCOMPARE(count(kInvalidated), 0);
}

void TestDBusHelperClient::callInFlightSurvivesInterruption() {
    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(QStringLiteral("StopGateway"), [] {
        Reply reply = Reply::answer(false, QStringLiteral("late"));
        reply.delayMs = 800;
        return reply;
    }()));
    Outcome<Nothing> stop;
    m_client->stopGateway(stop.completion());
    QVERIFY(m_helper->waitForCalls(1));
    const QString firstSender = m_helper->calls().at(0).sender;

    // The name loses its owner while the helper is still about to answer: the connection is
    // dropped for new calls but must stay open until this answer is in.
    QVERIFY(m_helper->releaseName());
    QTRY_COMPARE_WITH_TIMEOUT(count(kInterrupted), 1, kReplyWaitMs);
    QVERIFY(!m_client->hasConnection());
    QVERIFY(!stop.done());
    QTRY_VERIFY_WITH_TIMEOUT(stop.done(), kReplyWaitMs);
    QCOMPARE(stop.result->error().kind(), HelperClientError::Kind::HelperFailed);
    QCOMPARE(stop.result->error().message(), QStringLiteral("late"));

    // Once nothing is in flight on it, the dropped connection is closed, not leaked.
    QDBusConnection observer =
        QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("observer"));
    QTRY_VERIFY_WITH_TIMEOUT(!observer.interface()->isServiceRegistered(firstSender), kReplyWaitMs);

    // A helper under the name again: the next call goes over a fresh connection.
    QVERIFY(m_helper->restart());
    Outcome<Nothing> again;
    m_client->stopGateway(again.completion());
    QTRY_VERIFY_WITH_TIMEOUT(again.done(), kReplyWaitMs);
    QVERIFY(again.result->isSuccess());
    QCOMPARE(m_helper->calls().size(), 1);
    QVERIFY(m_helper->calls().at(0).sender != firstSender);
    QCOMPARE(stop.count, 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("observer"));
}

void TestDBusHelperClient::expectAllFailWithXpcError(HelperClient& client,
                                                     const QString& errorName) {
    Outcome<QString> ping;
    Outcome<Nothing> start, stop, nat, uninstall;
    Outcome<GatewayStatus> status;
    client.ping(ping.completion());
    client.startGateway(QStringLiteral("0123456789abcdef"), true, start.completion());
    client.stopGateway(stop.completion());
    client.setNat(true, nat.completion());
    client.gatewayStatus(status.completion());
    client.uninstall(uninstall.completion());
    QCOMPARE(ping.count + start.count + stop.count + nat.count + status.count + uninstall.count, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ping.done() && start.done() && stop.done() && nat.done() &&
                                 status.done() && uninstall.done(),
                             kReplyWaitMs);
    QTest::qWait(50);
    const QList<const HelperClientError*> errors = {
        &ping.result->error(), &start.result->error(),  &stop.result->error(),
        &nat.result->error(),  &status.result->error(), &uninstall.result->error()};
    QCOMPARE(ping.count + start.count + stop.count + nat.count + status.count + uninstall.count, 6);
    for (const HelperClientError* error : errors) {
        QCOMPARE(error->kind(), HelperClientError::Kind::XpcError);
        QCOMPARE(error->underlying().name(), errorName);
        QVERIFY(!error->underlying().message().isEmpty());
        QCOMPARE(error->errorLine(),
                 QStringLiteral("XPC 通信错误：") + error->underlying().message());
    }
}

void TestDBusHelperClient::noHelperOnTheBus() {
    expectAllFailWithXpcError(*m_client,
                              QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"));
    if (QTest::currentTestFailed())
        return;
    // The bus's own words reach the caller.
    Outcome<QString> ping;
    m_client->ping(ping.completion());
    QTRY_VERIFY_WITH_TIMEOUT(ping.done(), kReplyWaitMs);
    QVERIFY2(ping.result->error().underlying().message().contains(
                 QStringLiteral("com.lunacore.sdwan.fernpoint.helper")),
             qPrintable(ping.result->error().underlying().message()));
    QCOMPARE(count(kInterrupted) + count(kInvalidated), 0);
}

void TestDBusHelperClient::noBusAtAll_data() {
    QTest::addColumn<bool>("shared");
    QTest::newRow("bus at an address") << false;
    QTest::newRow("shared client on the system bus") << true;
}

void TestDBusHelperClient::noBusAtAll() {
    QFETCH(bool, shared);
    DBusHelperClient byAddress(QStringLiteral("unix:path=/nonexistent/fernpoint-no-bus"));
    HelperClient& client = shared ? HelperClient::shared() : byAddress;
    // Twice: a failed connection attempt leaves nothing behind that breaks the next one.
    for (int round = 0; round < 2; ++round) {
        expectAllFailWithXpcError(client,
                                  QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"));
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(!byAddress.hasConnection());
}

void TestDBusHelperClient::busLostAndBack_data() {
    QTest::addColumn<bool>("callInFlight");
    QTest::newRow("call in flight") << true;
    QTest::newRow("idle connection") << false;
}

void TestDBusHelperClient::busLostAndBack() {
    QFETCH(bool, callInFlight);
    // The client reaches the bus through a link that can be pointed at a new bus later: the
    // same address, served by another daemon.
    QTemporaryDir dir(QStringLiteral("/tmp/fernpoint-link-XXXXXX"));
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("bus"));
    const QString socket = m_bus->directory() + QStringLiteral("/bus");
    QVERIFY(QFile::link(socket, link));
    DBusHelperClient client(QStringLiteral("unix:path=") + link);

    QVERIFY(m_helper->start());
    QVERIFY(m_helper->setReply(QStringLiteral("GatewayStatus"),
                               Reply::with(Behaviour::Answer, callInFlight ? 60000 : 0)));
    Outcome<GatewayStatus> status;
    client.gatewayStatus(status.completion());
    QVERIFY(m_helper->waitForCalls(1));
    if (!callInFlight)
        QTRY_VERIFY_WITH_TIMEOUT(status.done(), kReplyWaitMs);

    // The loss is noticed as it happens, not only at the next call.
    m_bus->kill();
    QTRY_COMPARE_WITH_TIMEOUT(count(kInvalidated), 1, kReplyWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(status.done(), kReplyWaitMs);
    QCOMPARE(status.result->isSuccess(), !callInFlight);
    QVERIFY(!client.hasConnection());
    QVERIFY(m_helper->waitForExit()); // the helper goes with its bus

    // No bus behind the address: the call still completes.
    Outcome<QString> lonely;
    client.ping(lonely.completion());
    QTRY_VERIFY_WITH_TIMEOUT(lonely.done(), kReplyWaitMs);
    QCOMPARE(lonely.result->error().kind(), HelperClientError::Kind::XpcError);

    // A new bus at the same address, and a helper on it.
    PrivateBus newBus;
    QVERIFY(newBus.isRunning());
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(newBus.directory() + QStringLiteral("/bus"), link));
    ScriptedHelperProcess newHelper(newBus.address());
    QVERIFY(newHelper.start());
    Outcome<QString> ping;
    client.ping(ping.completion());
    QTRY_VERIFY_WITH_TIMEOUT(ping.done(), kReplyWaitMs);
    QVERIFY2(ping.result->isSuccess(), describe(*ping.result).constData());
    QCOMPARE(ping.result->value(), QStringLiteral("1.0.4"));
    QTest::qWait(50);
    QCOMPARE(status.count, 1);
    QCOMPARE(lonely.count, 1);
    QCOMPARE(count(kInvalidated), 1);
    QCOMPARE(count(kInterrupted), 0);
}

QTEST_GUILESS_MAIN(TestDBusHelperClient)
#include "tst_dbushelperclient.moc"
