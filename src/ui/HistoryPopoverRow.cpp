#include "HistoryPopoverRow.h"

#include "ElidedValueLabel.h"
#include "PanelStyle.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace fernpoint {
namespace {

constexpr int kHorizontalPadding = 12;
constexpr int kVerticalPadding = 6;

ElidedValueLabel* makeLabel(QWidget* parent, const QFont& font, PanelColor colour) {
    auto* label = new ElidedValueLabel(parent);
    // Clicks on the text belong to the row (they pick it), so the text is not selectable here.
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFocusPolicy(Qt::NoFocus);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PanelStyle::applyTextColor(*label, colour);
    return label;
}

} // namespace

HistoryPopoverRow::HistoryPopoverRow(QWidget* parent)
    : QWidget(parent)
    , m_title(makeLabel(this, PanelStyle::systemFont(PanelStyle::kBodyPoints), PanelColor::Primary))
    , m_id(makeLabel(this, PanelStyle::systemFont(11.0, true), PanelColor::Secondary))
    , m_delete(new QToolButton(this)) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);

    m_delete->setAutoRaise(true);
    // Reached with Tab (the popover keeps the list keys); a click leaves the focus where it is.
    m_delete->setFocusPolicy(Qt::TabFocus);
    m_delete->setCursor(Qt::ArrowCursor);
    m_delete->setIconSize(QSize(16, 16));
    updateIcon();
    connect(m_delete, &QToolButton::clicked, this, [this] { Q_EMIT deleteRequested(m_networkID); });

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_title);
    texts->addWidget(m_id);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kHorizontalPadding, kVerticalPadding, kHorizontalPadding / 2,
                               kVerticalPadding + 1);
    layout->setSpacing(8);
    layout->addLayout(texts, 1);
    layout->addWidget(m_delete, 0, Qt::AlignVCenter);
}

void HistoryPopoverRow::setEntry(const QString& networkID, const QString& title) {
    m_networkID = networkID;
    m_title->setFullText(title);
    m_id->setFullText(networkID);
    // Setting a name announces it to a screen reader even when it is the same one.
    if (accessibleName() != title)
        setAccessibleName(title);
    if (accessibleDescription() != networkID)
        setAccessibleDescription(networkID);
}

void HistoryPopoverRow::pick() {
    Q_EMIT picked(m_networkID);
}

void HistoryPopoverRow::setDeleteText(const QString& text) {
    m_delete->setToolTip(text);
    m_delete->setAccessibleName(text);
}

void HistoryPopoverRow::setCurrent(bool current) {
    if (m_current == current)
        return;
    m_current = current;
    QAccessible::State selected;
    selected.selected = true;
    QAccessibleStateChangeEvent event(this, selected);
    QAccessible::updateAccessibility(&event);
    update();
}

QString HistoryPopoverRow::title() const {
    return m_title->fullText();
}

QString HistoryPopoverRow::shownNetworkID() const {
    return m_id->fullText();
}

void HistoryPopoverRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_current || underMouse()) {
        QColor wash = PanelStyle::color(PanelColor::Selection, palette());
        if (!m_current)
            wash.setAlphaF(0.5);
        painter.fillRect(rect().adjusted(0, 0, 0, -1), wash);
    }
    // The divider under every row, drawn by the row so that rows can be reused as a unit.
    painter.fillRect(QRect(0, height() - 1, width(), 1),
                     PanelStyle::color(PanelColor::Separator, palette()));
}

void HistoryPopoverRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    event->accept();
}

void HistoryPopoverRow::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = m_pressed;
    m_pressed = false;
    if (event->button() != Qt::LeftButton || !wasPressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    // A press that is dragged off the row and released elsewhere is a change of mind.
    if (rect().contains(event->position().toPoint()))
        pick();
}

void HistoryPopoverRow::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    update();
}

void HistoryPopoverRow::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    update();
}

void HistoryPopoverRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateIcon();
}

void HistoryPopoverRow::updateIcon() {
    m_delete->setIcon(PanelStyle::icon(QStringLiteral("history-trash"),
                                       QStringLiteral("user-trash"),
                                       PanelStyle::color(PanelColor::Secondary, palette())));
}

} // namespace fernpoint
