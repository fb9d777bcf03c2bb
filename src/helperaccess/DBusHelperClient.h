#pragma once

#include "HelperClient.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QLatin1StringView>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QDBusMessage;

namespace fernpoint {

// The helper client over D-Bus. It owns one private bus connection, opened on first use and
// shared by every operation in flight. The connection is dropped when the helper's name loses its
// owner ("interrupted") or when the bus connection itself is lost ("invalidated"); the next
// operation then opens a fresh one under a new connection name. A dropped connection stays open
// until the calls still in flight on it have completed, so that their error replies arrive.
//
// Every operation completes exactly once, on the thread this object lives in, and never inside
// the call that started it. Destroying the client drops the completions of calls still in flight.
class DBusHelperClient final : public QObject, public HelperClient {
    Q_OBJECT

public:
    // Talks over a standard bus (the system bus in production; libdbus honours
    // DBUS_SYSTEM_BUS_ADDRESS).
    explicit DBusHelperClient(QDBusConnection::BusType bus, QObject* parent = nullptr);
    // Talks over the bus at the given address (a private bus in tests).
    explicit DBusHelperClient(const QString& busAddress, QObject* parent = nullptr);
    ~DBusHelperClient() override;

    void ping(HelperCompletion<QString> completion) override;
    void startGateway(const QString& networkID, bool natEnabled,
                      HelperCompletion<Nothing> completion) override;
    void stopGateway(HelperCompletion<Nothing> completion) override;
    void setNat(bool enabled, HelperCompletion<Nothing> completion) override;
    void gatewayStatus(HelperCompletion<GatewayStatus> completion) override;
    void uninstall(HelperCompletion<Nothing> completion) override;

    // Whether a live connection is held; false before first use and after a drop.
    bool hasConnection() const { return m_link != nullptr; }

    // How long a command (start, stop, NAT, uninstall) may take to be answered. Longer than the
    // bus's 25 s default, so that an administrator has time to type a password; the helper gives
    // up on authorization well before (45 s).
    static constexpr int kCommandReplyTimeoutMs = 60000;
    void setCommandReplyTimeout(int milliseconds) { m_commandReplyTimeoutMs = milliseconds; }
    // Whether commands let the helper have a person asked for authorization (the
    // ALLOW_INTERACTIVE_AUTHORIZATION flag); on by default.
    void setInteractiveAuthorizationAllowed(bool allowed) { m_interactiveAuthorization = allowed; }

Q_SIGNALS:
    // The helper's name lost its owner; the connection was dropped.
    void interrupted();
    // The bus connection was lost; the connection was dropped.
    void invalidated();

private Q_SLOTS:
    void onBusDisconnected();

private:
    struct Link;
    // A command changes the gateway: polkit may ask the user, and it may take long to answer.
    enum class CallKind { Query, Command };
    using OnReply = std::function<void(const QDBusMessage&)>;
    using OnError = std::function<void(const QDBusError&)>;

    std::shared_ptr<Link> currentLink(QDBusError& error);
    std::shared_ptr<Link> openLink(QDBusError& error);
    void dropLink(const Link* link);
    // The bus connection of the live link is lost: drop it and say so.
    void invalidate(const Link* link);
    void dispatch(QLatin1StringView method, QLatin1StringView signature,
                  const QVariantList& arguments, CallKind kind, OnReply onReply, OnError onError);
    void sendCommand(QLatin1StringView method, const QVariantList& arguments,
                     HelperCompletion<Nothing> completion);

    std::optional<QDBusConnection::BusType> m_busType;
    QString m_busAddress;
    quint64 m_generation = 0;
    std::shared_ptr<Link> m_link;
    int m_commandReplyTimeoutMs = kCommandReplyTimeoutMs;
    bool m_interactiveAuthorization = true;
};

} // namespace fernpoint
