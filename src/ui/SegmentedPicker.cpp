#include "SegmentedPicker.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>

namespace fernpoint {
namespace {
constexpr int kFocusMargin = 2;
constexpr int kRadius = 6;
} // namespace

SegmentedPicker::SegmentedPicker(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kFocusMargin, kFocusMargin, kFocusMargin, kFocusMargin);
    layout->setSpacing(0);
}

void SegmentedPicker::setSegmentTexts(const QStringList& texts) {
    while (m_segments.size() > texts.size())
        delete m_segments.takeLast();
    while (m_segments.size() < texts.size()) {
        auto* button = new QToolButton(this);
        const int index = static_cast<int>(m_segments.size());
        button->setCheckable(true);
        // The picker as a whole takes the focus; segments are reached with the arrow keys.
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(button, &QToolButton::clicked, this, [this, index] {
            // The owner decides; until then the segment shows what it showed before.
            m_segments[index]->setChecked(index == m_selectedIndex);
            Q_EMIT segmentChosen(index);
        });
        layout()->addWidget(button);
        m_segments.append(button);
    }
    for (qsizetype i = 0; i < texts.size(); ++i) {
        m_segments[i]->setText(texts[i]);
        m_segments[i]->setAccessibleName(texts[i]);
    }
    applyStyle();
    setSelectedIndex(m_selectedIndex);
}

void SegmentedPicker::setSelectedIndex(int index) {
    m_selectedIndex = (index >= 0 && index < m_segments.size()) ? index : -1;
    for (qsizetype i = 0; i < m_segments.size(); ++i)
        m_segments[i]->setChecked(i == m_selectedIndex);
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
    const int count = static_cast<int>(m_segments.size());
    if (count == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
        step = rightToLeft ? 1 : -1;
        break;
    case Qt::Key_Up:
        step = -1;
        break;
    case Qt::Key_Right:
        step = rightToLeft ? -1 : 1;
        break;
    case Qt::Key_Down:
        step = 1;
        break;
    case Qt::Key_Home:
        Q_EMIT segmentChosen(0);
        return;
    case Qt::Key_End:
        Q_EMIT segmentChosen(count - 1);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    int next = m_selectedIndex < 0 ? (step > 0 ? 0 : count - 1) : m_selectedIndex + step;
    next = qBound(0, next, count - 1);
    if (next != m_selectedIndex)
        Q_EMIT segmentChosen(next);
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    if (!hasFocus())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kRadius + 1, kRadius + 1);
}

void SegmentedPicker::changeEvent(QEvent* event) {
    // Style sheets resolve palette() once; a palette switch (light/dark) needs a new one.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void SegmentedPicker::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void SegmentedPicker::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void SegmentedPicker::applyStyle() {
    const qsizetype count = m_segments.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QString leftRadius =
            i == 0 ? QStringLiteral("%1px").arg(kRadius) : QStringLiteral("0");
        const QString rightRadius =
            i == count - 1 ? QStringLiteral("%1px").arg(kRadius) : QStringLiteral("0");
        const QString leftBorder =
            i == 0 ? QStringLiteral("1px solid palette(mid)") : QStringLiteral("none");
        m_segments[i]->setStyleSheet(
            QStringLiteral("QToolButton { border: 1px solid palette(mid); border-left: %1;"
                           " border-top-left-radius: %2; border-bottom-left-radius: %2;"
                           " border-top-right-radius: %3; border-bottom-right-radius: %3;"
                           " background: palette(button); color: palette(button-text);"
                           " padding: 3px 4px; }"
                           "QToolButton:hover:!checked { background: palette(midlight); }"
                           "QToolButton:checked { background: palette(highlight);"
                           " color: palette(highlighted-text); border-color: palette(highlight); }")
                .arg(leftBorder, leftRadius, rightRadius));
    }
}

} // namespace fernpoint
