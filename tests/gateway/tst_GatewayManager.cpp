#include "ConsoleWriter.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"

#include <QDBusError>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <thread>
#include <utility>

using namespace fernpoint;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kValidId = QStringLiteral("0123456789abcdef");
const QString kXpcLine = QStringLiteral("XPC 通信错误：The name is not activatable");
const QString kRunningJson = QStringLiteral(
    R"({"data":{"conn_state":"connected","state":"running","Nat":true,"network_name":"Lab"}})");
const QString kStoppedJson = QStringLiteral(R"({"data":{"state":"stopped"}})");
const QString kPreviousJson = QStringLiteral(R"({"data":{"Nat":true}})");

// The order in which the controller announces its fields, as one line of names.
class SignalRecorder {
public:
    explicit SignalRecorder(GatewayManager& m) {
        watch(m, &GatewayManager::uiRunningChanged, "uiRunning");
        watch(m, &GatewayManager::networkIDChanged, "networkID");
        watch(m, &GatewayManager::natEnabledChanged, "natEnabled");
        watch(m, &GatewayManager::isRunningChanged, "isRunning");
        watch(m, &GatewayManager::lastStatusJSONChanged, "lastStatusJSON");
        watch(m, &GatewayManager::currentStatusChanged, "currentStatus");
        watch(m, &GatewayManager::lastErrorMessageChanged, "lastErrorMessage");
        watch(m, &GatewayManager::isBusyChanged, "isBusy");
    }
    QString take() { return std::exchange(m_names, {}).join(QLatin1Char(' ')); }

private:
    template<typename Signal> void watch(GatewayManager& m, Signal signal, const char* name) {
        QObject::connect(&m, signal, &m_context,
                         [this, name] { m_names << QString::fromLatin1(name); });
    }
    QObject m_context;
    QStringList m_names;
};

// Collects console lines for as long as it lives.
class ConsoleCapture {
public:
    ConsoleCapture()
        : m_previous(ConsoleWriter::setSink([this](const QString& line) { lines << line; })) {}
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

GatewayStatus statusReply(const QString& json) {
    return GatewayStatus{true, json, false};
}

} // namespace

class TestGatewayManager : public QObject {
    Q_OBJECT

    std::unique_ptr<test::FakeHelperClient> m_client;

    // A controller whose own 5 s poll cannot interfere with a test.
    std::unique_ptr<GatewayManager> makeManager() {
        auto manager = std::make_unique<GatewayManager>(*m_client);
        manager->startStatusPolling(3600.0);
        return manager;
    }
    // Running and connected with NAT on, through a status answer; from then on nothing completes
    // until the test says so.
    void bringUp(GatewayManager& manager) {
        manager.setNetworkID(kValidId);
        manager.setNatEnabled(true);
        manager.startGateway();
        QTRY_VERIFY(manager.uiRunning() && manager.isRunning() && !manager.isBusy());
        m_client->calls.clear();
        m_client->holdCommands = m_client->holdStatus = true;
    }

private Q_SLOTS:
    void init() { m_client = std::make_unique<test::FakeHelperClient>(); }

    void startChecksTheTrimmedLength_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent"); // null: nothing is sent

        QTest::newRow("16 digits") << kValidId << kValidId;
        QTest::newRow("blanks and a line break around 16")
            << QStringLiteral("  ") + kValidId + QStringLiteral("\n") << kValidId;
        QTest::newRow("15") << kValidId.left(15) << QString();
    }
    void startChecksTheTrimmedLength() {
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        auto manager = makeManager();
        m_client->holdCommands = true;
        manager->setNetworkID(typed);
        manager->setNatEnabled(true);
        SignalRecorder recorder(*manager);
        manager->startGateway();

        QCOMPARE(manager->networkID(), typed); // the field keeps what was typed
        const bool valid = !sent.isNull();
        QCOMPARE(recorder.take(), valid ? QStringLiteral("isBusy lastErrorMessage")
                                        : QStringLiteral("lastErrorMessage"));
        QCOMPARE(manager->isBusy(), valid);
        QCOMPARE(manager->lastErrorMessage(),
                 valid ? std::nullopt
                       : std::optional<QString>(
                             QStringLiteral("Network ID 必须是 16 位十六进制字符串")));
        QCOMPARE(m_client->calls, valid ? QStringList{QStringLiteral("startGateway %1 1").arg(sent)}
                                        : QStringList());
    }

    void commandOutcomes_data() {
        QTest::addColumn<QString>("command"); // start, stop, nat
        QTest::addColumn<QString>("result");  // success, helperFailed, xpcError
        QTest::addColumn<QString>("sentSignals");
        QTest::addColumn<QString>("answerSignals");
        QTest::addColumn<bool>("running"); // uiRunning and isRunning after the answer
        QTest::addColumn<bool>("hasStatus");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<int>("statusRequests");

        const auto row = [](const char* command, const char* result, const char* sent,
                            const char* answer, bool running, bool hasStatus,
                            const std::optional<QString>& error, int requests) {
            QTest::addRow("%s, %s", command, result)
                << QString::fromLatin1(command) << QString::fromLatin1(result)
                << QString::fromLatin1(sent) << QString::fromLatin1(answer) << running << hasStatus
                << error << requests;
        };
        const std::optional<QString> helperLine = QStringLiteral("core binary missing");
        const char* busy = "isBusy lastErrorMessage";
        const char* down = "isBusy isRunning uiRunning currentStatus lastErrorMessage";
        // Each command starts from a running gateway with an old error line on screen.
        row("start", "success", busy, "isBusy", true, true, std::nullopt, 1);
        row("start", "helperFailed", busy, down, false, false, helperLine, 0);
        row("start", "xpcError", busy, down, false, false, kXpcLine, 0);
        row("stop", "success", busy, "isBusy isRunning uiRunning", false, true, std::nullopt, 1);
        row("stop", "helperFailed", busy, "isBusy lastErrorMessage", true, true, helperLine, 0);
        row("stop", "xpcError", busy, "isBusy lastErrorMessage", true, true, kXpcLine, 0);
        row("nat", "success", "", "", true, true, QStringLiteral("old"), 1);
        row("nat", "helperFailed", "", "lastErrorMessage", true, true, helperLine, 0);
        row("nat", "xpcError", "", "lastErrorMessage", true, true, kXpcLine, 0);
    }
    void commandOutcomes() {
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
        QString call = QStringLiteral("setNat 1");
        if (command == QLatin1StringView("start")) {
            manager->startGateway();
            call = QStringLiteral("startGateway %1 1").arg(kValidId);
        } else if (command == QLatin1StringView("stop")) {
            manager->stopGateway();
            call = QStringLiteral("stopGateway");
        } else {
            manager->applyNatSetting();
        }
        QCOMPARE(m_client->calls, QStringList{call});
        QCOMPARE(recorder.take(), sentSignals);
        QCOMPARE(manager->isBusy(), command != QLatin1StringView("nat"));

        m_client->heldCommands.first()(commandResult(result));
        QCoreApplication::processEvents();

        QCOMPARE(recorder.take(), answerSignals);
        QCOMPARE(manager->isBusy(), false);
        QCOMPARE(manager->uiRunning(), running);
        QCOMPARE(manager->isRunning(), running);
        QCOMPARE(manager->currentStatus().has_value(), hasStatus);
        QCOMPARE(manager->lastErrorMessage(), error);
        QCOMPARE(manager->natEnabled(), true); // only a status answer changes it
        QCOMPARE(m_client->heldStatus.size(), statusRequests);
    }

    void statusOutcomes_data() {
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
        QTest::addColumn<QString>("console"); // empty: no line

        // Before each row: a snapshot with NAT on, and the error line "old".
        const QString cleared = QStringLiteral("lastStatusJSON currentStatus isRunning uiRunning");
        const QString snapshot = cleared + QStringLiteral(" natEnabled");
        const auto row = [](const char* name, const std::optional<QString>& json, bool replyRunning,
                            const QString& order, bool hasStatus, bool isRunning, bool uiRunning,
                            bool nat, const QString& console = {}) {
            QTest::newRow(name) << false << json << replyRunning << order
                                << json.value_or(QString()) << hasStatus << isRunning << uiRunning
                                << nat << QStringLiteral("old") << console;
        };
        QTest::newRow("request failed")
            << true << std::optional<QString>() << false
            << QStringLiteral("lastErrorMessage currentStatus isRunning uiRunning") << kPreviousJson
            << false << false << false << true << kXpcLine << QString();
        row("no JSON text, helper running", std::nullopt, true, cleared, false, true, true, true);
        row("no JSON text, helper stopped", std::nullopt, false, cleared, false, false, false,
            true);
        row("empty JSON text is a parse failure", QString(), true, cleared, false, false, false,
            true, QStringLiteral("❌ status JSON parse error: illegal value"));
        row("ok false with data",
            QStringLiteral(R"({"ok":false,"error":"core crashed","data":{"state":"running"}})"),
            true, cleared, false, false, false, true, QStringLiteral("status error: core crashed"));
        row("no data", QStringLiteral("{}"), true, cleared, false, false, false, true);
        row("empty data", QStringLiteral(R"({"data":{}})"), true, snapshot, true, false, false,
            false);
        row("starting, not yet connected",
            QStringLiteral(R"({"data":{"state":"starting","conn_state":"connecting","Nat":true}})"),
            false, snapshot, true, false, true, true);
        row("connected, state Running in capitals",
            QStringLiteral(R"({"data":{"state":"Running","conn_state":"connected"}})"), false,
            snapshot, true, true, false, false);
        row("reply ok false but a usable snapshot", kRunningJson, false, snapshot, true, true, true,
            true);
    }
    void statusOutcomes() {
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
        QFETCH(QString, console);

        auto manager = makeManager();
        m_client->holdStatus = true;
        manager->setNatEnabled(true);
        manager->applyNatSetting(); // its success asks for the status
        QTRY_COMPARE(m_client->heldStatus.size(), 1);
        m_client->heldStatus.takeFirst()(statusReply(kPreviousJson));
        QTRY_VERIFY(manager->currentStatus());
        manager->setLastErrorMessage(QStringLiteral("old"));
        manager->applyNatSetting();
        QTRY_COMPARE(m_client->heldStatus.size(), 1);

        ConsoleCapture capture;
        SignalRecorder recorder(*manager);
        if (requestFails)
            m_client->heldStatus.first()(commandResult(QStringLiteral("xpcError")).error());
        else // the reply's own ok flag is false on purpose: it must not matter
            m_client->heldStatus.first()(GatewayStatus{false, json, replyRunning});
        QCOMPARE(recorder.take(), QString()); // nothing happens inside the completion
        QCoreApplication::processEvents();

        QCOMPARE(recorder.take(), signalOrder);
        QCOMPARE(manager->lastStatusJSON(), lastStatusJSON);
        QCOMPARE(manager->currentStatus().has_value(), hasStatus);
        QCOMPARE(manager->isRunning(), isRunning);
        QCOMPARE(manager->uiRunning(), uiRunning);
        QCOMPARE(manager->natEnabled(), natEnabled);
        QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(error));
        QCOMPARE(capture.lines, console.isEmpty() ? QStringList() : QStringList{console});
        QCOMPARE(manager->isBusy(), false);
    }

    void repliesApplyInArrivalOrder() {
        auto manager = makeManager();
        m_client->holdStatus = true;
        const auto askTwice = [&] {
            m_client->heldStatus.clear();
            manager->applyNatSetting();
            manager->applyNatSetting();
            QTRY_VERIFY(m_client->heldStatus.size() >= 2);
        };
        // The second request is answered first; the first answer arrives last and wins.
        askTwice();
        m_client->heldStatus.at(1)(statusReply(kRunningJson));
        QCoreApplication::processEvents();
        QCOMPARE(manager->uiRunning(), true);
        m_client->heldStatus.at(0)(statusReply(kStoppedJson));
        QCoreApplication::processEvents();
        QCOMPARE(manager->uiRunning(), false);
        QCOMPARE(manager->lastStatusJSON(), kStoppedJson);

        // Two answers in before either is applied: applied in the order they came.
        askTwice();
        m_client->heldStatus.at(0)(statusReply(kStoppedJson));
        m_client->heldStatus.at(1)(statusReply(kRunningJson));
        QCoreApplication::processEvents();
        QCOMPARE(manager->uiRunning(), true);
        QCOMPARE(manager->lastStatusJSON(), kRunningJson);
    }

    void answersForADestroyedControllerDoNothing() {
        ConsoleCapture capture;
        m_client->holdCommands = m_client->holdStatus = true;
        // Completed after the controller is gone.
        {
            auto manager = makeManager();
            manager->setNetworkID(kValidId);
            manager->startGateway();
            manager->applyNatSetting();
        }
        for (const auto& completion : std::as_const(m_client->heldCommands))
            completion(Nothing{});
        QCoreApplication::processEvents();
        QCOMPARE(m_client->count(u"gatewayStatus"), 0);

        // Completed while it lives, applied after it is gone; its poll timer goes with it.
        {
            auto manager = makeManager();
            manager->startStatusPolling(0.001);
            QTRY_VERIFY(!m_client->heldStatus.isEmpty());
            manager->startStatusPolling(3600.0);
            manager->stopGateway();
            m_client->heldCommands.last()(Nothing{});
            m_client->heldStatus.first()(statusReply(QStringLiteral("not json")));
        }
        const qsizetype requests = m_client->calls.size();
        QTest::qWait(20);
        QCOMPARE(m_client->calls.size(), requests); // neither the stop answer nor a timer asked
        QVERIFY(capture.lines.isEmpty());           // the status answer was dropped unparsed
    }

    void synchronousCompletionIsAppliedLater() {
        auto manager = makeManager();
        m_client->commandResult = commandResult(QStringLiteral("xpcError"));
        manager->setNetworkID(kValidId);
        SignalRecorder recorder(*manager);
        manager->startGateway();
        // The answer came back inside the call, but is applied as its own unit of work afterwards.
        QCOMPARE(recorder.take(), QStringLiteral("isBusy lastErrorMessage"));
        QCOMPARE(manager->isBusy(), true);
        QCoreApplication::processEvents();
        QCOMPARE(recorder.take(),
                 QStringLiteral("isBusy isRunning uiRunning currentStatus lastErrorMessage"));
        QCOMPARE(manager->lastErrorMessage(), std::optional<QString>(kXpcLine));
    }

    void completionFromAnotherThreadIsAppliedOnTheMainThread() {
        auto manager = makeManager();
        m_client->holdCommands = true;
        QThread* appliedOn = nullptr;
        connect(
            manager.get(), &GatewayManager::isBusyChanged, this,
            [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
        manager->stopGateway();
        appliedOn = nullptr;
        std::thread([completion = m_client->heldCommands.first()] {
            completion(Nothing{});
        }).join();
        QCOMPARE(appliedOn, nullptr);
        QTRY_COMPARE(appliedOn, QThread::currentThread());
        QCOMPARE(manager->isBusy(), false);
    }

    void statusPolling() {
        m_client->holdStatus = true;
        GatewayManager manager(*m_client);
        QVERIFY(m_client->calls.isEmpty()); // no request at once

        // A restart replaces the timer, and the new one repeats.
        manager.startStatusPolling(0.05);
        manager.startStatusPolling(0.05);
        QCOMPARE(manager.findChildren<QTimer*>().size(), 1);
        QTRY_VERIFY(m_client->heldStatus.size() >= 2);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_GatewayManager.moc"
