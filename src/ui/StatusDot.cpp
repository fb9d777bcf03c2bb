#include "StatusDot.h"

#include <QPainter>

namespace fernpoint {

StatusDot::StatusDot(int diameter, QWidget* parent)
    : QWidget(parent)
    , m_diameter(diameter) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusDot::setColor(PanelColor color) {
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QSize StatusDot::sizeHint() const {
    return {m_diameter, m_diameter};
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(PanelStyle::color(m_color, palette()));
    const qreal side = qMin(width(), height());
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.drawEllipse(circle);
}

} // namespace fernpoint
