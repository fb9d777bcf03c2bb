#pragma once

#include "PanelStyle.h"

#include <QWidget>

class QLabel;

namespace fernpoint {

class GatewayManager;
class Localizer;
class StatusDot;

// The connection line above the status box: a dot and a word, green while the gateway reports
// itself connected. It follows the connection state (isRunning), not the core process state that
// drives the main button, so the two may disagree while the core is starting.
class ConnectionIndicator final : public QWidget {
    Q_OBJECT

public:
    ConnectionIndicator(GatewayManager& manager, Localizer& localizer, QWidget* parent = nullptr);

    const StatusDot& dot() const { return *m_dot; }
    QString text() const;
    PanelColor textColor() const { return m_textColor; }

private:
    void refresh();

    GatewayManager& m_manager;
    Localizer& m_localizer;
    StatusDot* m_dot;
    QLabel* m_text;
    PanelColor m_textColor = PanelColor::Secondary;
};

} // namespace fernpoint
