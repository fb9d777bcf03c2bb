#include "ConnectionNotifier.h"

#include "Localizer.h"
#include "TextIds.h"

namespace fernpoint {

ConnectionNotifier::ConnectionNotifier(TrayModel& model, Localizer& localizer, QObject* parent)
    : QObject(parent)
    , m_localizer(localizer) {
    connect(&model, &TrayModel::summaryChanged, this, &ConnectionNotifier::observe);
}

void ConnectionNotifier::setWindowVisibility(std::function<bool()> isWindowVisible) {
    m_isWindowVisible = std::move(isWindowVisible);
}

void ConnectionNotifier::observe(const ConnectionSummary& previous,
                                 const ConnectionSummary& current) {
    const bool windowHidden = !m_isWindowVisible || !m_isWindowVisible();
    if (current.busy && !previous.busy) {
        m_command = current.coreRunning ? Command::Disconnect : Command::Connect;
        return;
    }
    if (previous.busy && !current.busy) {
        const Command finished = m_command;
        if (current.errorLine) {
            m_command = Command::None;
            if (windowHidden)
                notify(finished == Command::Disconnect ? Kind::DisconnectFailed
                                                       : Kind::ConnectFailed,
                       *current.errorLine);
            return;
        }
        if (finished == Command::Disconnect) {
            // The user's own disconnect: its end is no loss.
            m_command = Command::None;
            return;
        }
    }
    if (current.connected && !previous.connected) {
        if (m_command == Command::Connect && windowHidden)
            notify(Kind::Connected, current.networkLabel);
        m_command = Command::None;
        return;
    }
    if (previous.connected && !current.connected && !current.busy) {
        QString body = previous.networkLabel;
        if (current.errorLine)
            body += QLatin1Char('\n') + *current.errorLine;
        notify(Kind::ConnectionLost, body);
    }
}

void ConnectionNotifier::notify(Kind kind, const QString& body) {
    const char* summaryId = textid::kStatusConnected;
    switch (kind) {
    case Kind::Connected:
        break;
    case Kind::ConnectionLost:
        summaryId = textid::kNoticeConnectionLost;
        break;
    case Kind::ConnectFailed:
        summaryId = textid::kNoticeConnectFailed;
        break;
    case Kind::DisconnectFailed:
        summaryId = textid::kNoticeDisconnectFailed;
        break;
    }
    Q_EMIT noticeRequested({kind, m_localizer.text(summaryId), body.trimmed()});
}

} // namespace fernpoint
