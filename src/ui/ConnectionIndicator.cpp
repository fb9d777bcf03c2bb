#include "ConnectionIndicator.h"

#include "GatewayManager.h"
#include "Localizer.h"
#include "PanelStyle.h"
#include "StatusDot.h"
#include "TextIds.h"

#include <QHBoxLayout>
#include <QLabel>

namespace fernpoint {

ConnectionIndicator::ConnectionIndicator(GatewayManager& manager, Localizer& localizer,
                                         QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_localizer(localizer)
    , m_dot(new StatusDot(10, this))
    , m_text(new QLabel(this)) {
    m_text->setTextFormat(Qt::PlainText);
    m_text->setFont(PanelStyle::subheadlineFont());

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addWidget(m_text, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    connect(&m_manager, &GatewayManager::isRunningChanged, this, &ConnectionIndicator::refresh);
    connect(&m_localizer, &Localizer::languageChanged, this, &ConnectionIndicator::refresh);
    refresh();
}

QString ConnectionIndicator::text() const {
    return m_text->text();
}

void ConnectionIndicator::refresh() {
    const bool running = m_manager.isRunning();
    m_dot->setColor(running ? PanelColor::Green : PanelColor::Gray);
    m_text->setText(
        m_localizer.text(running ? textid::kStatusConnected : textid::kStatusDisconnected));
    m_textColor = running ? PanelColor::Green : PanelColor::Secondary;
    PanelStyle::applyTextColor(*m_text, m_textColor);
    setAccessibleName(m_text->text());
}

} // namespace fernpoint
