#include "DBusHelperClient.h"

#include "HelperContract.h"

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QStringList>
#include <QVariant>

namespace fernpoint {
namespace {

constexpr QLatin1StringView kLocalPath{"/org/freedesktop/DBus/Local"};
constexpr QLatin1StringView kLocalInterface{"org.freedesktop.DBus.Local"};
constexpr QLatin1StringView kDisconnectedSignal{"Disconnected"};

QString unknownError() {
    return QStringLiteral("unknown error");
}

// A nullable text travels as an array of at most one string. More than one element breaks the
// contract; the caller reports that as a transport failure rather than guess which one counts.
bool readNullableText(const QVariant& value, std::optional<QString>& text) {
    const QStringList list = value.toStringList();
    if (list.size() > 1)
        return false;
    text = list.isEmpty() ? std::nullopt : std::optional<QString>(list.first());
    return true;
}

QDBusError tooManyTexts(QLatin1StringView method, QLatin1StringView argument) {
    return QDBusError(QDBusError::InvalidSignature,
                      QStringLiteral("The helper's reply to %1 carries more than one text in "
                                     "\"%2\" (at most one is allowed)")
                          .arg(method, argument));
}

// One call in flight, owned by the client. The bus thread hands the reply over as the message
// itself, so the main thread never waits for the lock that the bus thread holds on a pending
// call while it delivers the reply (a pending-call watcher takes that lock, which woke the idle
// main thread a second time on many polls). Exactly one of the two slots runs.
class PendingHelperCall final : public QObject {
    Q_OBJECT

public:
    PendingHelperCall(std::function<void(const QDBusMessage&)> onReply,
                      std::function<void(const QDBusError&)> onError, QObject* parent)
        : QObject(parent)
        , m_onReply(std::move(onReply))
        , m_onError(std::move(onError)) {}

public Q_SLOTS:
    void replied(const QDBusMessage& reply) {
        deleteLater();
        m_onReply(reply);
    }
    void failed(const QDBusError& error, const QDBusMessage&) {
        deleteLater();
        m_onError(error);
    }

private:
    std::function<void(const QDBusMessage&)> m_onReply;
    std::function<void(const QDBusError&)> m_onError;
};

} // namespace

// One generation of the bus connection. It is held by the client while it is the live one and
// by every call in flight on it; the last holder closes it, so a dropped connection stays open
// exactly as long as error replies may still arrive on it.
struct DBusHelperClient::Link {
    Link(QString connectionName, QDBusConnection bus)
        : name(std::move(connectionName))
        , connection(std::move(bus)) {}
    ~Link() {
        // It may be in the middle of delivering the very event that drops this link.
        if (watcher)
            watcher.release()->deleteLater();
        QDBusConnection::disconnectFromBus(name);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    QString name;
    QDBusConnection connection;
    std::unique_ptr<QDBusServiceWatcher> watcher;
};

DBusHelperClient::DBusHelperClient(QDBusConnection::BusType bus, QObject* parent)
    : QObject(parent)
    , m_busType(bus) {}

DBusHelperClient::DBusHelperClient(const QString& busAddress, QObject* parent)
    : QObject(parent)
    , m_busAddress(busAddress) {}

DBusHelperClient::~DBusHelperClient() {
    // Closed here at the latest; calls in flight die with their pending calls (our children).
    m_link.reset();
}

std::shared_ptr<DBusHelperClient::Link> DBusHelperClient::currentLink(QDBusError& error) {
    // The Disconnected signal normally drops a lost connection first; this catches a loss that
    // has not been dispatched yet, so no operation is sent into a dead connection.
    if (m_link && !m_link->connection.isConnected())
        invalidate(m_link.get());
    if (!m_link)
        m_link = openLink(error);
    return m_link;
}

std::shared_ptr<DBusHelperClient::Link> DBusHelperClient::openLink(QDBusError& error) {
    // A new name per generation: QtDBus hands out an existing connection for a known name, and
    // a dropped one may still be open for its calls in flight.
    const QString name = QStringLiteral("fernpoint-helper-client-%1-%2")
                             .arg(reinterpret_cast<quintptr>(this), 0, 16)
                             .arg(++m_generation);
    QDBusConnection bus = m_busType ? QDBusConnection::connectToBus(*m_busType, name)
                                    : QDBusConnection::connectToBus(m_busAddress, name);
    if (!bus.isConnected()) {
        error = bus.lastError();
        if (!error.isValid()) {
            error = QDBusError(
                QDBusError::Disconnected,
                m_busType ? QStringLiteral("Cannot connect to the system bus")
                          : QStringLiteral("Cannot connect to the bus at %1").arg(m_busAddress));
        }
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }

    auto link = std::make_shared<Link>(name, bus);
    const Link* const raw = link.get();
    link->watcher = std::make_unique<QDBusServiceWatcher>(QString(contract::kBusName), bus,
                                                          QDBusServiceWatcher::WatchForOwnerChange);
    // Any change away from an owner means the helper we talked to is gone (it exited, crashed or
    // was replaced); a name that only gains an owner is no interruption.
    connect(link->watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this, raw](const QString&, const QString& oldOwner, const QString&) {
                if (oldOwner.isEmpty() || m_link.get() != raw)
                    return;
                qWarning().noquote() << QStringLiteral("⚠️ [app] XPC connection interrupted");
                dropLink(raw);
                Q_EMIT interrupted();
            });
    bus.connect(QString(), kLocalPath, kLocalInterface, kDisconnectedSignal, this,
                SLOT(onBusDisconnected()));
    return link;
}

void DBusHelperClient::onBusDisconnected() {
    // Only the live link is subscribed (a dropped one unsubscribes), so this is always it.
    if (m_link)
        invalidate(m_link.get());
}

void DBusHelperClient::invalidate(const Link* link) {
    qWarning().noquote() << QStringLiteral("⚠️ [app] XPC connection invalidated");
    dropLink(link);
    Q_EMIT invalidated();
}

void DBusHelperClient::dropLink(const Link* link) {
    if (!m_link || m_link.get() != link)
        return;
    m_link->connection.disconnect(QString(), kLocalPath, kLocalInterface, kDisconnectedSignal, this,
                                  SLOT(onBusDisconnected()));
    QObject::disconnect(m_link->watcher.get(), nullptr, this, nullptr);
    // Calls in flight keep the link (and so the connection) open until they complete.
    m_link.reset();
}

void DBusHelperClient::dispatch(QLatin1StringView method, QLatin1StringView signature,
                                const QVariantList& arguments, CallKind kind, OnReply onReply,
                                OnError onError) {
    QDBusError connectError;
    std::shared_ptr<Link> link = currentLink(connectError);
    if (!link) {
        // No bus at all: still complete, and as always outside the caller's own call.
        QMetaObject::invokeMethod(
            this, [onError = std::move(onError), connectError] { onError(connectError); },
            Qt::QueuedConnection);
        return;
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(QString(contract::kBusName), QString(contract::kObjectPath),
                                       QString(contract::kInterface), method);
    call.setArguments(arguments);
    int timeoutMs = -1; // the bus's default
    if (kind == CallKind::Command) {
        call.setInteractiveAuthorizationAllowed(m_interactiveAuthorization);
        timeoutMs = m_commandReplyTimeoutMs;
    }
    // Both handlers hold the link: its connection stays open until this call has completed.
    auto* pending = new PendingHelperCall(
        [link, method, signature, onReply, onError](const QDBusMessage& reply) {
            // Exact match only: an answer with extra arguments is no helper answer.
            if (reply.signature() == signature) {
                onReply(reply);
                return;
            }
            onError(QDBusError(QDBusError::InvalidSignature,
                               QStringLiteral("Unexpected reply signature from the helper's %1: "
                                              "got \"%2\", expected \"%3\"")
                                   .arg(method, reply.signature(), signature)));
        },
        [this, link, onError](const QDBusError& error) {
            if (error.type() == QDBusError::Disconnected && m_link == link)
                invalidate(link.get());
            onError(error);
        },
        this);
    if (!link->connection.callWithCallback(call, pending, SLOT(replied(QDBusMessage)),
                                           SLOT(failed(QDBusError, QDBusMessage)), timeoutMs)) {
        QDBusError error = link->connection.lastError();
        if (!error.isValid())
            error = QDBusError(QDBusError::Disconnected,
                               QStringLiteral("The helper's %1 could not be sent").arg(method));
        QMetaObject::invokeMethod(
            pending, [pending, error] { pending->failed(error, QDBusMessage()); },
            Qt::QueuedConnection);
    }
}

void DBusHelperClient::ping(HelperCompletion<QString> completion) {
    constexpr QLatin1StringView method{"Ping"};
    dispatch(
        method, QLatin1StringView("as"), {}, CallKind::Query,
        [completion, method](const QDBusMessage& reply) {
            std::optional<QString> text;
            if (!readNullableText(reply.arguments().at(0), text)) {
                completion(
                    HelperClientError::xpcError(tooManyTexts(method, QLatin1StringView("text"))));
                return;
            }
            completion(text.value_or(QStringLiteral("")));
        },
        [completion](const QDBusError& error) { completion(HelperClientError::xpcError(error)); });
}

void DBusHelperClient::sendCommand(QLatin1StringView method, const QVariantList& callArguments,
                                   HelperCompletion<Nothing> completion) {
    dispatch(
        method, QLatin1StringView("bas"), callArguments, CallKind::Command,
        [completion, method](const QDBusMessage& reply) {
            const QList<QVariant> arguments = reply.arguments();
            std::optional<QString> message;
            if (!readNullableText(arguments.at(1), message)) {
                completion(HelperClientError::xpcError(
                    tooManyTexts(method, QLatin1StringView("message"))));
                return;
            }
            if (arguments.at(0).toBool())
                completion(Nothing{});
            else
                completion(HelperClientError::helperFailed(message.value_or(unknownError())));
        },
        [completion](const QDBusError& error) { completion(HelperClientError::xpcError(error)); });
}

void DBusHelperClient::startGateway(const QString& networkID, bool natEnabled,
                                    HelperCompletion<Nothing> completion) {
    sendCommand(QLatin1StringView("StartGateway"), {networkID, natEnabled}, std::move(completion));
}

void DBusHelperClient::stopGateway(HelperCompletion<Nothing> completion) {
    sendCommand(QLatin1StringView("StopGateway"), {}, std::move(completion));
}

void DBusHelperClient::setNat(bool enabled, HelperCompletion<Nothing> completion) {
    sendCommand(QLatin1StringView("SetNat"), {enabled}, std::move(completion));
}

void DBusHelperClient::uninstall(HelperCompletion<Nothing> completion) {
    sendCommand(QLatin1StringView("Uninstall"), {}, std::move(completion));
}

void DBusHelperClient::gatewayStatus(HelperCompletion<GatewayStatus> completion) {
    constexpr QLatin1StringView method{"GatewayStatus"};
    dispatch(
        method, QLatin1StringView("basb"), {}, CallKind::Query,
        [completion, method](const QDBusMessage& reply) {
            const QList<QVariant> arguments = reply.arguments();
            GatewayStatus status;
            if (!readNullableText(arguments.at(1), status.statusJSON)) {
                completion(HelperClientError::xpcError(
                    tooManyTexts(method, QLatin1StringView("statusJSON"))));
                return;
            }
            // ok false is the helper's own word on the gateway, not a failed request.
            status.ok = arguments.at(0).toBool();
            status.isRunning = arguments.at(2).toBool();
            completion(std::move(status));
        },
        [completion](const QDBusError& error) { completion(HelperClientError::xpcError(error)); });
}

} // namespace fernpoint

#include "DBusHelperClient.moc"
