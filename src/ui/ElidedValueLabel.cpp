#include "ElidedValueLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>

namespace fernpoint {

ElidedValueLabel::ElidedValueLabel(QWidget* parent)
    : QLabel(parent) {
    // Values come from the helper and are shown verbatim: never interpret them as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ElidedValueLabel::setFullText(const QString& text) {
    if (text == m_fullText)
        return;
    m_fullText = text;
    updateGeometry();
    updateShownText();
}

QSize ElidedValueLabel::sizeHint() const {
    // A very long value must not stretch the whole window; beyond this it is elided.
    const int widest = fontMetrics().averageCharWidth() * kWidestPreferredCharacters;
    const QMargins margins = contentsMargins();
    const int textWidth = qMin(fontMetrics().horizontalAdvance(m_fullText) + 2, widest);
    return {textWidth + margins.left() + margins.right(), QLabel::sizeHint().height()};
}

QSize ElidedValueLabel::minimumSizeHint() const {
    // Enough for a few characters around the ellipsis; the layout may squeeze the rest.
    const QMargins margins = contentsMargins();
    const int shortest = fontMetrics().horizontalAdvance(QStringLiteral("0000…0000"));
    return {qMin(shortest, sizeHint().width()) + margins.left() + margins.right(),
            QLabel::minimumSizeHint().height()};
}

void ElidedValueLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateShownText();
}

void ElidedValueLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateShownText();
}

void ElidedValueLabel::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) && isElided()) {
        copyFullText();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ElidedValueLabel::contextMenuEvent(QContextMenuEvent* event) {
    if (!isElided()) {
        QLabel::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* copy = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"));
    copy->setShortcut(QKeySequence::Copy);
    if (menu.exec(event->globalPos()) == copy)
        copyFullText();
}

void ElidedValueLabel::updateShownText() {
    const int available = contentsRect().width() - 2;
    const QString shown = available <= 0 || fontMetrics().horizontalAdvance(m_fullText) <= available
                              ? m_fullText
                              : fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, available);
    if (shown != text())
        setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}

void ElidedValueLabel::copyFullText() const {
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(m_fullText);
}

} // namespace fernpoint
