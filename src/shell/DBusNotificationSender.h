#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

namespace fernpoint {

// Shows notices through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Each notice replaces the one shown before instead of stacking. Every call is
// asynchronous: without a server the bus answers with an error, which is only logged.
class DBusNotificationSender final : public QObject {
    Q_OBJECT

public:
    explicit DBusNotificationSender(const QDBusConnection& connection, QObject* parent = nullptr);

    void show(const QString& summary, const QString& body);

private:
    struct Text {
        QString summary;
        QString body;
    };

    void send(const Text& text);

    QDBusConnection m_connection;
    // The server's ID of the notice shown last; 0 before the first.
    uint m_shownId = 0;
    bool m_callPending = false;
    // The newest notice that came while a call was pending: it replaces the pending one as soon
    // as that one's ID is known.
    std::optional<Text> m_next;
};

} // namespace fernpoint
