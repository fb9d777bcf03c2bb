#pragma once

#include "InstanceSignal.h"

#include <QDBusConnection>
#include <QObject>

namespace fernpoint {

// The instance signal as a D-Bus signal on the session bus: path /com/fernpoint, interface
// com.fernpoint, member singleInstance, no arguments.
class DBusInstanceSignal final : public QObject, public InstanceSignal {
    Q_OBJECT

public:
    static constexpr QLatin1StringView kPath{"/com/fernpoint"};
    static constexpr QLatin1StringView kInterface{"com.fernpoint"};
    static constexpr QLatin1StringView kMember{"singleInstance"};

    explicit DBusInstanceSignal(const QDBusConnection& bus, QObject* parent = nullptr);

    bool subscribe(std::function<void()> handler) override;
    bool send() override;

private Q_SLOTS:
    void onSignal();

private:
    void roundTrip();

    QDBusConnection m_bus;
    std::function<void()> m_handler;
    bool m_subscribed = false;
};

} // namespace fernpoint
