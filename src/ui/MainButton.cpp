#include "MainButton.h"

#include "PanelStyle.h"

#include <QEnterEvent>
#include <QPainter>
#include <QTimer>

namespace fernpoint {
namespace {
constexpr int kHorizontalPadding = 16;
constexpr int kVerticalPadding = 8;
constexpr int kSpacing = 6;
constexpr qreal kIndicatorScale = 0.8;
const QColor kBlue(0x1a, 0x6f, 0xdf);
const QColor kRed(0xd7, 0x26, 0x1e);
} // namespace

MainButton::MainButton(QWidget* parent)
    : QAbstractButton(parent)
    , m_playIcon(PanelStyle::icon(QStringLiteral("play"), QString(), Qt::white))
    , m_stopIcon(PanelStyle::icon(QStringLiteral("stop"), QString(), Qt::white))
    , m_spinnerTimer(new QTimer(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    m_spinnerTimer->setInterval(80);
    connect(m_spinnerTimer, &QTimer::timeout, this, [this] {
        m_spinnerAngle = (m_spinnerAngle + 30) % 360;
        update();
    });
}

// Both are set again on every status poll; an unchanged value must not repaint the button.
void MainButton::setDestructive(bool destructive) {
    if (m_destructive == destructive)
        return;
    m_destructive = destructive;
    update();
}

void MainButton::setBusy(bool busy) {
    if (m_busy == busy)
        return;
    m_busy = busy;
    updateSpinner();
    update();
}

void MainButton::setReservedTexts(const QStringList& texts) {
    m_reservedTexts = texts;
    updateGeometry();
}

QColor MainButton::tint() const {
    return m_destructive ? kRed : kBlue;
}

QFont MainButton::boldFont() const {
    QFont bold = font();
    bold.setBold(true);
    return bold;
}

int MainButton::indicatorSize() const {
    return qMax(16, QFontMetrics(boldFont()).height());
}

QSize MainButton::sizeHint() const {
    const QFontMetrics metrics(boldFont());
    int textWidth = metrics.horizontalAdvance(text());
    for (const QString& reserved : m_reservedTexts)
        textWidth = qMax(textWidth, metrics.horizontalAdvance(reserved));
    const int symbol = indicatorSize();
    // Room for the busy indicator is kept even when idle, so the button never changes size.
    const int width = 2 * kHorizontalPadding + 2 * (symbol + kSpacing) + textWidth;
    const int height = 2 * kVerticalPadding + qMax(symbol, metrics.height());
    return {width, height};
}

QSize MainButton::minimumSizeHint() const {
    return sizeHint();
}

void MainButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void MainButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void MainButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ShowToParent ||
        event->type() == QEvent::HideToParent)
        updateSpinner();
    QAbstractButton::changeEvent(event);
}

void MainButton::updateSpinner() {
    if (m_busy)
        m_spinnerTimer->start();
    else
        m_spinnerTimer->stop();
}

void MainButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QColor fill = tint();
    if (isDown())
        fill = fill.darker(120);
    else if (m_hovered && isEnabled())
        fill = fill.lighter(110);
    if (!isEnabled())
        painter.setOpacity(0.45);

    const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, 6, 6);

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(
            QPen(palette().color(QPalette::Active, QPalette::Highlight).lighter(130), 2));
        painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 5, 5);
    }

    const QFont bold = boldFont();
    const QFontMetrics metrics(bold);
    const int symbol = indicatorSize();
    const int textWidth = metrics.horizontalAdvance(text());
    int contentWidth = symbol + kSpacing + textWidth;
    if (m_busy)
        contentWidth += symbol + kSpacing;
    int x = (width() - contentWidth) / 2;
    const int symbolTop = (height() - symbol) / 2;

    if (m_busy) {
        // A small indeterminate indicator, at 0.8 of the symbol size around its centre.
        const qreal diameter = symbol * kIndicatorScale;
        const QRectF arc(x + (symbol - diameter) / 2.0, symbolTop + (symbol - diameter) / 2.0,
                         diameter, diameter);
        const QRectF inset = arc.adjusted(1.5, 1.5, -1.5, -1.5);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255, 90), 2.2));
        painter.drawEllipse(inset);
        painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(inset, -m_spinnerAngle * 16, 100 * 16);
        x += symbol + kSpacing;
    }

    (m_destructive ? m_stopIcon : m_playIcon).paint(&painter, QRect(x, symbolTop, symbol, symbol));
    x += symbol + kSpacing;

    painter.setFont(bold);
    painter.setPen(Qt::white);
    painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}

} // namespace fernpoint
