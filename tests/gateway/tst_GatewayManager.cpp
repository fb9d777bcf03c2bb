#include "ConsoleWriter.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QDBusError>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <thread>

using namespace fernpoint;
using fernpoint::test::FakeHelperClient;

namespace {

const QString kValidId = QStringLiteral("0123456789abcdef");
const QString kInvalidIdLine = QStringLiteral("Network ID 必须是 16 位十六进制字符串");

// Records the order in which the controller announces its fields.
class SignalRecorder {
public:
    explicit SignalRecorder(GatewayManager& manager) {
        const auto record = [this](const char* name) {
            return [this, name] { m_names << QLatin1StringView(name); };
        };
        QObject::connect(&manager, &GatewayManager::uiRunningChanged, &m_context,
                         record("uiRunning"));
        QObject::connect(&manager, &GatewayManager::networkIDChanged, &m_context,
                         record("networkID"));
        QObject::connect(&manager, &GatewayManager::natEnabledChanged, &m_context,
                         record("natEnabled"));
        QObject::connect(&manager, &GatewayManager::isRunningChanged, &m_context,
                         record("isRunning"));
        QObject::connect(&manager, &GatewayManager::lastStatusJSONChanged, &m_context,
                         record("lastStatusJSON"));
        QObject::connect(&manager, &GatewayManager::currentStatusChanged, &m_context,
                         record("currentStatus"));
        QObject::connect(&manager, &GatewayManager::lastErrorMessageChanged, &m_context,
                         record("lastErrorMessage"));
        QObject::connect(&manager, &GatewayManager::isBusyChanged, &m_context, record("isBusy"));
    }
    QString take() {
        const QString joined = m_names.join(QLatin1Char(' '));
        m_names.clear();
        return joined;
    }

private:
    QObject m_context;
    QStringList m_names;
};

// Collects console lines for as long as it lives.
class ConsoleCapture {
public:
    ConsoleCapture() {
        m_previous = ConsoleWriter::setSink([this](const QString& line) { lines << line; });
    }
    ~ConsoleCapture() { ConsoleWriter::setSink(m_previous); }
    QStringList lines;

private:
    ConsoleWriter::Sink m_previous;
};

HelperResult<Nothing> commandResult(const QString& kind) {
    if (kind == QLatin1StringView("success"))
        return Nothing{};
    if (kind == QLatin1StringView("helperFailed"))
        return HelperClientError::helperFailed(QStringLiteral("core binary missing"));
    return HelperClientError::xpcError(
        QDBusError(QDBusError::ServiceUnknown, QStringLiteral("The name is not activatable")));
}

GatewayStatus statusReply(const std::optional<QString>& json, bool isRunning = false) {
    return GatewayStatus{true, json, isRunning};
}

const QString kRunningJson = QStringLiteral(
    R"({"data":{"conn_state":"connected","state":"running","Nat":true,"network_name":"Lab"}})");

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)

class TestGatewayManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void startChecksTheTrimmedLength_data();
    void startChecksTheTrimmedLength();
    void commandOutcomes_data();
    void commandOutcomes();
    void statusOutcomes_data();
    void statusOutcomes();

    void failedNatKeepsTheNewChoiceUntilStatus();
    void repliesApplyInArrivalOrder();
    void answersForADestroyedControllerDoNothing();
    void synchronousCompletionIsAppliedLater();
    void completionFromAnotherThreadIsAppliedOnTheMainThread();
    void constructionStartsFiveSecondPolling();
    void restartedPollingKeepsOneTimerAndAFullPeriod();
    void pollingTimerDoesNotKeepTheControllerAlive();

private:
    // A controller whose own 5 s poll cannot interfere with a test.
    std::unique_ptr<GatewayManager> makeManager() {
        auto manager = std::make_unique<GatewayManager>(m_client);
        manager->startStatusPolling(3600.0);
        return manager;
    }
    // Brings the controller to "running and connected" through a status answer.
    void bringUp(GatewayManager& manager) {
        manager.setNetworkID(kValidId);
        m_client.immediateCommandResult = HelperResult<Nothing>(Nothing{});
        m_client.immediateStatusResult = HelperResult<GatewayStatus>(statusReply(kRunningJson));
        manager.startGateway();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        m_client.reset();
        QVERIFY(manager.uiRunning() && manager.isRunning());
    }

    FakeHelperClient m_client;
};

void TestGatewayManager::init() {
    m_client.reset();
}

void TestGatewayManager::startChecksTheTrimmedLength_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // null: nothing is sent

    QTest::newRow("16 digits") << kValidId << kValidId;
    QTest::newRow("blanks and a line break around 16")
        << QStringLiteral("  ") + kValidId + QStringLiteral("\n") << kValidId;
    QTest::newRow("ideographic space around 16") << QStringLiteral("\u3000") + kValidId << kValidId;
    QTest::newRow("16 accented letters")
        << QStringLiteral("e\u0301").repeated(16) << QStringLiteral("e\u0301").repeated(16);
    QTest::newRow("16 non-hex characters")
        << QStringLiteral("zzzzzzzzzzzzzzzz") << QStringLiteral("zzzzzzzzzzzzzzzz");
    QTest::newRow("15") << kValidId.left(15) << QString();
    QTest::newRow("17") << kValidId + QStringLiteral("0") << QString();
    QTest::newRow("15 and a blank") << kValidId.left(15) + QStringLiteral(" ") << QString();
    QTest::newRow("inner blank counts")
        << kValidId.left(8) + QStringLiteral(" ") + kValidId.left(8) << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestGatewayManager::startChecksTheTrimmedLength() {
    QFETCH(QString, typed);
    QFETCH(QString, sent);

    auto manager = makeManager();
    manager->setNetworkID(typed);
    manager->setNatEnabled(true);
    SignalRecorder recorder(*manager);
    manager->startGateway();

    QCOMPARE(manager->networkID(), typed); // the field keeps what was typed
    if (sent.isNull()) {
        QCOMPARE(recorder.take(), QStringLiteral("lastErrorMessage"));
        QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(kInvalidIdLine));
        QVERIFY(m_client.starts.isEmpty());
        QCOMPARE(manager->isBusy(), false);
        return;
    }
    QCOMPARE(recorder.take(), QStringLiteral("isBusy lastErrorMessage"));
    QCOMPARE(manager->isBusy(), true);
    QCOMPARE(manager->lastErrorMessage(), std::nullopt);
    QCOMPARE(m_client.starts.size(), 1);
    QCOMPARE(m_client.starts.first().networkID, sent);
    QCOMPARE(m_client.starts.first().natEnabled, true);
}

void TestGatewayManager::commandOutcomes_data() {
    QTest::addColumn<QString>("command"); // start, stop, nat
    QTest::addColumn<QString>("result");  // success, helperFailed, xpcError
    QTest::addColumn<QString>("sentSignals");
    QTest::addColumn<QString>("answerSignals");
    QTest::addColumn<bool>("running"); // uiRunning and isRunning after the answer
    QTest::addColumn<bool>("hasStatus");
    QTest::addColumn<std::optional<QString>>("error");
    QTest::addColumn<int>("statusRequests");

    const std::optional<QString> helperLine = QStringLiteral("core binary missing");
    const std::optional<QString> xpcLine =
        QStringLiteral("XPC 通信错误：The name is not activatable");

    // Each command starts from a running gateway with an old error line on screen.
    QTest::newRow("start, success") << "start"
                                    << "success"
                                    << "isBusy lastErrorMessage"
                                    << "isBusy" << true << true << std::optional<QString>() << 1;
    QTest::newRow("start, helper failed")
        << "start"
        << "helperFailed"
        << "isBusy lastErrorMessage"
        << "isBusy isRunning uiRunning currentStatus lastErrorMessage" << false << false
        << helperLine << 0;
    QTest::newRow("start, transport failed")
        << "start"
        << "xpcError"
        << "isBusy lastErrorMessage"
        << "isBusy isRunning uiRunning currentStatus lastErrorMessage" << false << false << xpcLine
        << 0;
    QTest::newRow("stop, success")
        << "stop"
        << "success"
        << "isBusy lastErrorMessage"
        << "isBusy isRunning uiRunning" << false << true << std::optional<QString>() << 1;
    QTest::newRow("stop, helper failed")
        << "stop"
        << "helperFailed"
        << "isBusy lastErrorMessage"
        << "isBusy lastErrorMessage" << true << true << helperLine << 0;
    QTest::newRow("stop, transport failed")
        << "stop"
        << "xpcError"
        << "isBusy lastErrorMessage"
        << "isBusy lastErrorMessage" << true << true << xpcLine << 0;
    QTest::newRow("nat, success") << "nat"
                                  << "success"
                                  << ""
                                  << "" << true << true
                                  << std::optional<QString>(QStringLiteral("old")) << 1;
    QTest::newRow("nat, helper failed") << "nat"
                                        << "helperFailed"
                                        << ""
                                        << "lastErrorMessage" << true << true << helperLine << 0;
    QTest::newRow("nat, transport failed") << "nat"
                                           << "xpcError"
                                           << ""
                                           << "lastErrorMessage" << true << true << xpcLine << 0;
}

void TestGatewayManager::commandOutcomes() {
    QFETCH(QString, command);
    QFETCH(QString, result);
    QFETCH(QString, sentSignals);
    QFETCH(QString, answerSignals);
    QFETCH(bool, running);
    QFETCH(bool, hasStatus);
    QFETCH(std::optional<QString>, error);
    QFETCH(int, statusRequests);

    auto manager = makeManager();
    bringUp(*manager);
    manager->setLastErrorMessage(QStringLiteral("old"));
    SignalRecorder recorder(*manager);

    HelperCompletion<Nothing> completion;
    if (command == QLatin1StringView("start")) {
        manager->startGateway();
        QCOMPARE(m_client.starts.size(), 1);
        completion = m_client.starts.first().completion;
    } else if (command == QLatin1StringView("stop")) {
        manager->stopGateway();
        QCOMPARE(m_client.stops.size(), 1);
        completion = m_client.stops.first();
    } else {
        manager->applyNatSetting();
        QCOMPARE(m_client.natCalls.size(), 1);
        QCOMPARE(m_client.natCalls.first().enabled, true);
        completion = m_client.natCalls.first().completion;
    }
    QCOMPARE(recorder.take(), sentSignals);
    QCOMPARE(manager->isBusy(), command != QLatin1StringView("nat"));

    completion(commandResult(result));
    QCoreApplication::processEvents();

    QCOMPARE(recorder.take(), answerSignals);
    QCOMPARE(manager->isBusy(), false);
    QCOMPARE(manager->uiRunning(), running);
    QCOMPARE(manager->isRunning(), running);
    QCOMPARE(manager->currentStatus().has_value(), hasStatus);
    QCOMPARE(manager->lastErrorMessage(), error);
    QCOMPARE(manager->natEnabled(), true); // only a status answer changes it
    QCOMPARE(m_client.statusCalls.size(), statusRequests);
}

void TestGatewayManager::statusOutcomes_data() {
    QTest::addColumn<bool>("requestFails");
    QTest::addColumn<std::optional<QString>>("json");
    QTest::addColumn<bool>("replyRunning");
    QTest::addColumn<QString>("signalOrder");
    QTest::addColumn<QString>("lastStatusJSON");
    QTest::addColumn<bool>("hasStatus");
    QTest::addColumn<bool>("isRunning");
    QTest::addColumn<bool>("uiRunning");
    QTest::addColumn<bool>("natEnabled");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("console");

    // Before each row: lastStatusJSON "previous", natEnabled true, error line "old", a snapshot.
    const QString cleared = QStringLiteral("currentStatus isRunning uiRunning");
    const QString json = QStringLiteral("lastStatusJSON ");
    const std::optional<QString> none;

    QTest::newRow("request failed")
        << true << none << false << QStringLiteral("lastErrorMessage ") + cleared << "previous"
        << false << false << false << true << "XPC 通信错误：The name is not activatable"
        << QStringList();
    QTest::newRow("no JSON text, helper running")
        << false << none << true << json + cleared << "" << false << true << true << true << "old"
        << QStringList();
    QTest::newRow("no JSON text, helper stopped")
        << false << none << false << json + cleared << "" << false << false << false << true
        << "old" << QStringList();
    QTest::newRow("empty JSON text is a parse failure")
        << false << std::optional<QString>(QString()) << true << json + cleared << "" << false
        << false << false << true << "old"
        << QStringList{QStringLiteral("❌ status JSON parse error: illegal value")};
    QTest::newRow("unparseable") << false << std::optional<QString>(QStringLiteral("{\"data\":"))
                                 << true << json + cleared << "{\"data\":" << false << false
                                 << false << true << "old"
                                 << QStringList{QStringLiteral(
                                        "❌ status JSON parse error: unterminated object")};
    QTest::newRow("array") << false << std::optional<QString>(QStringLiteral("[]")) << true
                           << json + cleared << "[]" << false << false << false << true << "old"
                           << QStringList();
    QTest::newRow("ok false with data")
        << false
        << std::optional<QString>(
               QStringLiteral(R"({"ok":false,"error":"core crashed","data":{"state":"running"}})"))
        << true << json + cleared
        << R"({"ok":false,"error":"core crashed","data":{"state":"running"}})" << false << false
        << false << true << "old" << QStringList{QStringLiteral("status error: core crashed")};
    QTest::newRow("no data") << false << std::optional<QString>(QStringLiteral("{}")) << true
                             << json + cleared << "{}" << false << false << false << true << "old"
                             << QStringList();
    QTest::newRow("empty data") << false << std::optional<QString>(QStringLiteral(R"({"data":{}})"))
                                << true << json + cleared + QStringLiteral(" natEnabled")
                                << R"({"data":{}})" << true << false << false << false << "old"
                                << QStringList();
    QTest::newRow("starting, not yet connected")
        << false
        << std::optional<QString>(QStringLiteral(
               R"({"data":{"state":"starting","conn_state":"connecting","Nat":true}})"))
        << false << json + cleared + QStringLiteral(" natEnabled")
        << R"({"data":{"state":"starting","conn_state":"connecting","Nat":true}})" << true << false
        << true << true << "old" << QStringList();
    QTest::newRow("connected, state Running in capitals")
        << false
        << std::optional<QString>(
               QStringLiteral(R"({"data":{"state":"Running","conn_state":"connected"}})"))
        << false << json + cleared + QStringLiteral(" natEnabled")
        << R"({"data":{"state":"Running","conn_state":"connected"}})" << true << true << false
        << false << "old" << QStringList();
    QTest::newRow("reply ok false but a usable snapshot")
        << false << std::optional<QString>(kRunningJson) << false
        << json + cleared + QStringLiteral(" natEnabled") << kRunningJson << true << true << true
        << true << "old" << QStringList();
}

void TestGatewayManager::statusOutcomes() {
    QFETCH(bool, requestFails);
    QFETCH(std::optional<QString>, json);
    QFETCH(bool, replyRunning);
    QFETCH(QString, signalOrder);
    QFETCH(QString, lastStatusJSON);
    QFETCH(bool, hasStatus);
    QFETCH(bool, isRunning);
    QFETCH(bool, uiRunning);
    QFETCH(bool, natEnabled);
    QFETCH(QString, error);
    QFETCH(QStringList, console);

    auto manager = makeManager();
    manager->setNatEnabled(true);
    manager->applyNatSetting();
    m_client.natCalls.first().completion(Nothing{});
    QCoreApplication::processEvents();
    QCOMPARE(m_client.statusCalls.size(), 1);
    m_client.statusCalls.takeFirst()(statusReply(QStringLiteral(R"({"data":{"Nat":true}})")));
    QCoreApplication::processEvents();
    QVERIFY(manager->currentStatus());
    manager->setLastErrorMessage(QStringLiteral("old"));
    // The last status text as left by the previous answer, so that "unchanged" is visible.
    QCOMPARE(manager->lastStatusJSON(), QStringLiteral(R"({"data":{"Nat":true}})"));
    if (lastStatusJSON == QLatin1StringView("previous"))
        lastStatusJSON = manager->lastStatusJSON();

    manager->applyNatSetting();
    m_client.natCalls.last().completion(Nothing{});
    QCoreApplication::processEvents();
    QCOMPARE(m_client.statusCalls.size(), 1);

    ConsoleCapture capture;
    SignalRecorder recorder(*manager);
    if (requestFails) {
        m_client.statusCalls.first()(commandResult(QStringLiteral("xpcError")).error());
    } else {
        // The reply's own ok flag is false here on purpose: it must not matter.
        m_client.statusCalls.first()(GatewayStatus{false, json, replyRunning});
    }
    QCOMPARE(recorder.take(), QString()); // nothing happens inside the completion
    QCoreApplication::processEvents();

    QCOMPARE(recorder.take(), signalOrder);
    QCOMPARE(manager->lastStatusJSON(), lastStatusJSON);
    QCOMPARE(manager->currentStatus().has_value(), hasStatus);
    QCOMPARE(manager->isRunning(), isRunning);
    QCOMPARE(manager->uiRunning(), uiRunning);
    QCOMPARE(manager->natEnabled(), natEnabled);
    QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(error));
    QCOMPARE(capture.lines, console);
    QCOMPARE(manager->isBusy(), false);
    QCOMPARE(manager->networkID(), QString());
}

void TestGatewayManager::failedNatKeepsTheNewChoiceUntilStatus() {
    auto manager = makeManager();
    manager->setNatEnabled(true);
    manager->applyNatSetting();
    m_client.natCalls.first().completion(HelperClientError::helperFailed(QStringLiteral("denied")));
    QCoreApplication::processEvents();
    QCOMPARE(manager->natEnabled(), true);
    QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(QStringLiteral("denied")));

    // The next poll reports NAT off: the switch follows, the error line stays.
    manager->startStatusPolling(0.01);
    QTRY_VERIFY(!m_client.statusCalls.isEmpty());
    manager->startStatusPolling(3600.0);
    m_client.statusCalls.first()(statusReply(QStringLiteral(R"({"data":{"Nat":false}})")));
    QCoreApplication::processEvents();
    QCOMPARE(manager->natEnabled(), false);
    QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(QStringLiteral("denied")));
}

void TestGatewayManager::repliesApplyInArrivalOrder() {
    auto manager = makeManager();
    m_client.immediateCommandResult = HelperResult<Nothing>(Nothing{});
    manager->applyNatSetting();
    manager->applyNatSetting();
    QCoreApplication::processEvents();
    QCOMPARE(m_client.statusCalls.size(), 2);

    // The second request is answered first; the first answer arrives last and wins.
    m_client.statusCalls.at(1)(statusReply(kRunningJson));
    QCoreApplication::processEvents();
    QCOMPARE(manager->uiRunning(), true);
    m_client.statusCalls.at(0)(statusReply(QStringLiteral(R"({"data":{"state":"stopped"}})")));
    QCoreApplication::processEvents();
    QCOMPARE(manager->uiRunning(), false);
    QCOMPARE(manager->lastStatusJSON(), QStringLiteral(R"({"data":{"state":"stopped"}})"));

    // Two answers queued before either is applied: applied in the order they were queued.
    m_client.statusCalls.clear();
    manager->applyNatSetting();
    manager->applyNatSetting();
    QCoreApplication::processEvents();
    QCOMPARE(m_client.statusCalls.size(), 2);
    m_client.statusCalls.at(0)(statusReply(QStringLiteral(R"({"data":{"state":"stopped"}})")));
    m_client.statusCalls.at(1)(statusReply(kRunningJson));
    QCoreApplication::processEvents();
    QCOMPARE(manager->uiRunning(), true);
    QCOMPARE(manager->lastStatusJSON(), kRunningJson);
}

void TestGatewayManager::answersForADestroyedControllerDoNothing() {
    ConsoleCapture capture;
    // Completed after the controller is gone.
    {
        auto manager = makeManager();
        manager->setNetworkID(kValidId);
        manager->startGateway();
        manager->applyNatSetting();
    }
    m_client.starts.first().completion(Nothing{});
    m_client.natCalls.first().completion(Nothing{});
    QCoreApplication::processEvents();
    QVERIFY(m_client.statusCalls.isEmpty());

    // Completed while it lives, applied after it is gone.
    {
        auto manager = makeManager();
        manager->startStatusPolling(0.001);
        QTRY_VERIFY(!m_client.statusCalls.isEmpty());
        manager->startStatusPolling(3600.0);
        manager->stopGateway();
        m_client.stops.first()(Nothing{});
        m_client.statusCalls.first()(statusReply(QStringLiteral("not json")));
    }
    const qsizetype requests = m_client.statusCalls.size();
    QCoreApplication::processEvents();
    QTest::qWait(20);
    QCOMPARE(m_client.statusCalls.size(), requests); // neither the stop answer nor the timer asked
    QVERIFY(capture.lines.isEmpty());                // the status answer was dropped unparsed
}

void TestGatewayManager::synchronousCompletionIsAppliedLater() {
    auto manager = makeManager();
    m_client.immediateCommandResult =
        HelperResult<Nothing>(commandResult(QStringLiteral("xpcError")));
    manager->setNetworkID(kValidId);
    SignalRecorder recorder(*manager);
    manager->startGateway();
    // The answer came back inside the call, but is applied as its own unit of work afterwards.
    QCOMPARE(recorder.take(), QStringLiteral("isBusy lastErrorMessage"));
    QCOMPARE(manager->isBusy(), true);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.take(),
             QStringLiteral("isBusy isRunning uiRunning currentStatus lastErrorMessage"));
    QCOMPARE(manager->lastErrorMessage(),
             std::optional<QString>(QStringLiteral("XPC 通信错误：The name is not activatable")));
}

void TestGatewayManager::completionFromAnotherThreadIsAppliedOnTheMainThread() {
    auto manager = makeManager();
    QThread* appliedOn = nullptr;
    connect(
        manager.get(), &GatewayManager::isBusyChanged, this,
        [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
    manager->stopGateway();
    appliedOn = nullptr;
    std::thread worker([completion = m_client.stops.first()] { completion(Nothing{}); });
    worker.join();
    QCOMPARE(appliedOn, nullptr);
    QTRY_VERIFY(appliedOn != nullptr);
    QCOMPARE(appliedOn, QThread::currentThread());
    QCOMPARE(manager->isBusy(), false);
}

void TestGatewayManager::constructionStartsFiveSecondPolling() {
    GatewayManager manager(m_client);
    QVERIFY(manager.statusTimer());
    QVERIFY(manager.statusTimer()->isActive());
    QCOMPARE(manager.statusTimer()->interval(), 5000);
    QVERIFY(!manager.statusTimer()->isSingleShot());
    QVERIFY(m_client.statusCalls.isEmpty()); // no query at once
}

void TestGatewayManager::restartedPollingKeepsOneTimerAndAFullPeriod() {
    auto manager = makeManager();
    manager->startStatusPolling(0.05);
    QTest::qWait(30);
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    manager->startStatusPolling(0.05);

    const auto timers = manager->findChildren<QTimer*>();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first(), manager->statusTimer());

    QTRY_COMPARE(m_client.statusCalls.size(), 1);
    // Had the first timer survived, it would have fired 20 ms after the restart.
    QVERIFY2(sinceRestart.elapsed() >= 50, qPrintable(QString::number(sinceRestart.elapsed())));
    // And it keeps repeating.
    QTRY_COMPARE(m_client.statusCalls.size(), 2);
}

void TestGatewayManager::pollingTimerDoesNotKeepTheControllerAlive() {
    QPointer<GatewayManager> watched;
    {
        auto manager = makeManager();
        manager->startStatusPolling(0.001);
        watched = manager.get();
    }
    QVERIFY(watched.isNull());
    QTest::qWait(20);
    QVERIFY(m_client.statusCalls.isEmpty());
}

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_GatewayManager.moc"
