#include "ToggleSwitch.h"

#include "PanelStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace fernpoint {
namespace {
constexpr int kLabelSpacing = 8;
constexpr int kFocusMargin = 2;
} // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ToggleSwitch::setSecondaryLabel(bool secondary) {
    if (m_secondaryLabel == secondary)
        return;
    m_secondaryLabel = secondary;
    update();
}

QSize ToggleSwitch::trackSize() const {
    // Follows the font, so the switch keeps its proportion next to larger text.
    const int height = qMax(18, fontMetrics().height() + 2);
    return {height * 9 / 5, height};
}

QSize ToggleSwitch::sizeHint() const {
    const QSize track = trackSize();
    const QFontMetrics metrics = fontMetrics();
    const int textWidth = text().isEmpty() ? 0 : kLabelSpacing + metrics.horizontalAdvance(text());
    return {track.width() + textWidth + 2 * kFocusMargin,
            qMax(track.height(), metrics.height()) + 2 * kFocusMargin};
}

QSize ToggleSwitch::minimumSizeHint() const {
    return sizeHint();
}

bool ToggleSwitch::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);

    const QPalette& pal = palette();
    const QSize size = trackSize();
    const QRectF track(kFocusMargin, (height() - size.height()) / 2.0, size.width(), size.height());
    const qreal radius = track.height() / 2.0;

    QColor trackColor = isChecked() ? pal.color(QPalette::Active, QPalette::Highlight)
                                    : pal.color(QPalette::Active, QPalette::Mid);
    if (isDown())
        trackColor = trackColor.darker(115);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobDiameter = track.height() - 4;
    const qreal knobX = isChecked() ? track.right() - 2 - knobDiameter : track.left() + 2;
    const QRectF knob(knobX, track.top() + 2, knobDiameter, knobDiameter);
    painter.setBrush(QColor(Qt::white));
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.drawEllipse(knob);

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(pal.color(QPalette::Active, QPalette::Highlight), 2));
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), radius + 1.5, radius + 1.5);
    }

    if (!text().isEmpty()) {
        const QColor textColor =
            PanelStyle::color(m_secondaryLabel ? PanelColor::Secondary : PanelColor::Primary, pal);
        painter.setPen(textColor);
        const QRect textRect(static_cast<int>(track.right()) + kLabelSpacing, 0,
                             width() - static_cast<int>(track.right()) - kLabelSpacing, height());
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
    }
}

} // namespace fernpoint
