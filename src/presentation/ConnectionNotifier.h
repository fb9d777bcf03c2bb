#pragma once

#include "TrayModel.h"

#include <QObject>
#include <QString>

#include <functional>

namespace fernpoint {

class Localizer;

// Decides when the connection deserves a desktop notice: the connection established after a
// connect, the connection lost without the user asking, a command failing while the window is
// hidden. It reads only the tray model's settled changes, so a poll that changes nothing never
// gives one, and nothing the user changed while watching the window does either.
class ConnectionNotifier final : public QObject {
    Q_OBJECT

public:
    enum class Kind { Connected, ConnectionLost, ConnectFailed, DisconnectFailed };

    struct Notice {
        Kind kind;
        QString summary;
        QString body;
    };

    ConnectionNotifier(TrayModel& model, Localizer& localizer, QObject* parent = nullptr);

    // Whether the user sees the window now; without one the window counts as hidden.
    void setWindowVisibility(std::function<bool()> isWindowVisible);

Q_SIGNALS:
    void noticeRequested(const fernpoint::ConnectionNotifier::Notice& notice);

private:
    enum class Command { None, Connect, Disconnect };

    void observe(const ConnectionSummary& previous, const ConnectionSummary& current);
    void notify(Kind kind, const QString& body);

    Localizer& m_localizer;
    std::function<bool()> m_isWindowVisible;
    // The command the user gave last, until its outcome is known.
    Command m_command = Command::None;
};

} // namespace fernpoint
