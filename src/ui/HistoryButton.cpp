#include "HistoryButton.h"

#include "PanelStyle.h"

#include <QEnterEvent>
#include <QPainter>

namespace fernpoint {
namespace {
constexpr int kHorizontalPadding = 8;
constexpr int kVerticalPadding = 4;
constexpr int kSpacing = 4;
} // namespace

HistoryButton::HistoryButton(QWidget* parent)
    : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

int HistoryButton::symbolSize() const {
    return qMax(14, fontMetrics().height() - 2);
}

int HistoryButton::chevronSize() const {
    // The caption-2 size of the design: clearly smaller than the text.
    return qMax(8, fontMetrics().height() / 2);
}

QSize HistoryButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int width = 2 * kHorizontalPadding + symbolSize() + kSpacing +
                      metrics.horizontalAdvance(text()) + kSpacing + chevronSize();
    const int height = 2 * kVerticalPadding + qMax(symbolSize(), metrics.height());
    return {width, height};
}

QSize HistoryButton::minimumSizeHint() const {
    return sizeHint();
}

void HistoryButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HistoryButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HistoryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    if (!isEnabled())
        painter.setOpacity(0.5);

    // Borderless: a background appears only under the pointer or while pressed.
    if ((m_hovered && isEnabled()) || isDown()) {
        QColor hover = pal.color(QPalette::WindowText);
        hover.setAlphaF(isDown() ? 0.16 : 0.08);
        painter.setPen(Qt::NoPen);
        painter.setBrush(hover);
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(pal.color(QPalette::Active, QPalette::Highlight), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
    }

    const QColor foreground = pal.color(QPalette::WindowText);
    int x = kHorizontalPadding;
    const int symbol = symbolSize();
    PanelStyle::icon(QStringLiteral("history"), QString(), foreground)
        .paint(&painter, QRect(x, (height() - symbol) / 2, symbol, symbol));
    x += symbol + kSpacing;

    const int textWidth = fontMetrics().horizontalAdvance(text());
    painter.setPen(foreground);
    painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
    x += textWidth + kSpacing;

    const int chevron = chevronSize();
    PanelStyle::icon(QStringLiteral("chevron-down"), QString(), foreground)
        .paint(&painter, QRect(x, (height() - chevron) / 2 + 1, chevron, chevron));
}

} // namespace fernpoint
