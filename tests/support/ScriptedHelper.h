#pragma once

#include "HelperContract.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHash>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <optional>

namespace fernpoint::test {

// A stand-in for the gateway helper inside the test process: it owns the helper's name on a
// private bus and answers the helper's methods as scripted, with raw arguments, so that a test
// can answer with the wrong shape or late. It serves from a thread of its own, so that code that
// blocks on a call still gets its answer. Until scripted, Ping answers [this build's version],
// the commands (true, []) and GatewayStatus (true, [], false).
class ScriptedHelper final {
public:
    struct Call {
        QString method;
        QString sender; // the caller's unique bus name
        QVariantList arguments;
    };

    explicit ScriptedHelper(const QString& busAddress)
        : m_name(QStringLiteral("scripted-helper-%1").arg(++s_instances)) {
        m_object.moveToThread(&m_thread);
        m_thread.start();
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_name);
        m_serving = bus.registerVirtualObject(contract::kObjectPath, &m_object) &&
                    bus.registerService(contract::kBusName);
    }
    ~ScriptedHelper() {
        // The object goes first, so that no call reaches it while the connection closes.
        connection().unregisterObject(contract::kObjectPath);
        crash();
        m_thread.quit();
        m_thread.wait();
    }
    ScriptedHelper(const ScriptedHelper&) = delete;
    ScriptedHelper& operator=(const ScriptedHelper&) = delete;

    bool isServing() const { return m_serving; }
    // Every later call of the method is answered with these arguments, delayMs after it came.
    void setReply(const QString& method, const QVariantList& arguments, int delayMs = 0) {
        const QMutexLocker lock(&m_object.mutex);
        m_object.replies.insert(method, {arguments, delayMs});
    }
    QList<Call> calls() const {
        const QMutexLocker lock(&m_object.mutex);
        return m_object.calls;
    }
    // The name goes; calls already received are still answered.
    void releaseName() { QDBusConnection(m_name).unregisterService(contract::kBusName); }
    QDBusConnection connection() const { return QDBusConnection(m_name); }
    // The connection goes, as when the helper crashes: the name and every unanswered call too.
    void crash() { QDBusConnection::disconnectFromBus(m_name); }

    // A command's (ok, message) or a status's (ok, statusJSON, isRunning); null is no element.
    static QVariantList answer(bool ok, const std::optional<QString>& text = std::nullopt) {
        return {ok, text ? QStringList{*text} : QStringList()};
    }
    static QVariantList status(bool ok, const std::optional<QString>& json, bool isRunning) {
        return answer(ok, json) << isRunning;
    }

private:
    struct Object final : QDBusVirtualObject {
        mutable QMutex mutex;
        QHash<QString, std::pair<QVariantList, int>> replies{
            {QStringLiteral("Ping"), {{QStringList{contract::kVersion}}, 0}},
            {QStringLiteral("GatewayStatus"), {status(true, std::nullopt, false), 0}}};
        QList<Call> calls;

        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
            if (message.interface() != contract::kInterface)
                return false;
            const QMutexLocker lock(&mutex);
            calls.append({message.member(), message.service(), message.arguments()});
            const auto [arguments, delayMs] = replies.value(message.member(), {answer(true), 0});
            message.setDelayedReply(true);
            // By name: a held connection would outlive crash().
            QTimer::singleShot(delayMs, this,
                               [name = bus.name(), reply = message.createReply(arguments)] {
                                   QDBusConnection(name).send(reply);
                               });
            return true;
        }
    };

    static inline std::atomic_int s_instances = 0;
    QString m_name;
    QThread m_thread;
    Object m_object;
    bool m_serving = false;
};

} // namespace fernpoint::test
