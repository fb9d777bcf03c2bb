#pragma once

#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <optional>

namespace fernpoint::test {

// Runs fernpoint-scripted-helper, a stand-in for the gateway helper, on a test's private bus.
// It owns the helper's bus name at its object path and answers the six helper methods as
// scripted here. Until scripted, Ping answers [the version of this build], the four
// commands (true, null) and GatewayStatus (true, null, false). Scripts and the calls received
// live in the helper process: start() again resets them.
//
//     PrivateBus bus;
//     ScriptedHelperProcess helper(bus.address());
//     QVERIFY(helper.start());
//     QVERIFY(helper.setReply("StartGateway", Reply::answer(false, QStringLiteral("busy"))));
//     ... make calls ...
//     QVERIFY(helper.waitForCalls(1));
//     QCOMPARE(helper.calls().at(0).arguments.at(0).toString(), ...);
//
// The blocking calls below go over a control connection of their own and do not spin the event
// loop, except the waits, which do.
class ScriptedHelperProcess final {
public:
    // What the helper does with every call of one method, until scripted anew.
    struct Reply {
        enum class Behaviour {
            Answer,         // answer with the fields below
            WrongSignature, // answer with a single int32 instead
            ExtraArgument,  // answer with the fields below and one int32 more
            Exit,           // exit at once without answering (exit status 0)
            Abort,          // crash at once without answering (SIGABRT)
        };

        bool ok = true;
        // The "as" of the answer: the message (commands), the status JSON (GatewayStatus) or the
        // text (Ping). No element is null; more than one breaks the contract on purpose.
        QStringList texts;
        bool isRunning = false; // GatewayStatus only
        int delayMs = 0;        // answer this much later
        Behaviour behaviour = Behaviour::Answer;

        // (ok, text) for the commands and Ping, (ok, statusJSON, isRunning) for GatewayStatus.
        static Reply answer(bool ok, const std::optional<QString>& text = std::nullopt,
                            bool isRunning = false);
        static Reply with(Behaviour behaviour, int delayMs = 0);
    };

    // One call the helper received.
    struct Call {
        QString method;         // e.g. "StartGateway"
        QString sender;         // the caller's unique bus name
        QVariantList arguments; // QString and bool values, in order
    };

    // The helper executable can be overridden with FERNPOINT_SCRIPTED_HELPER.
    explicit ScriptedHelperProcess(QString busAddress);
    ~ScriptedHelperProcess(); // kills the helper if it still runs
    ScriptedHelperProcess(const ScriptedHelperProcess&) = delete;
    ScriptedHelperProcess& operator=(const ScriptedHelperProcess&) = delete;

    // Starts the helper and waits until it owns the helper's name; false on failure or timeout.
    bool start(int timeoutMs = 10000);
    // Kills the helper at once (SIGKILL) and reaps it.
    void kill();
    bool isRunning() const;
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    bool setReply(const QString& method, const Reply& reply);
    // Every call received since start, in order; empty when the helper is gone.
    QList<Call> calls() const;
    // The helper gives up its name but keeps running and still answers calls it already
    // received (delayed ones included).
    bool releaseName();
    // Spins the event loop until at least count calls were received.
    bool waitForCalls(int count, int timeoutMs = 10000) const;
    // Spins the event loop until the helper process has ended (after Exit or Abort).
    bool waitForExit(int timeoutMs = 10000);

private:
    QDBusMessage control(const QString& member, const QVariantList& arguments = {}) const;

    QString m_busAddress;
    QString m_controlName;
    QString m_uniqueName;
    std::unique_ptr<QProcess> m_process;
};

} // namespace fernpoint::test
