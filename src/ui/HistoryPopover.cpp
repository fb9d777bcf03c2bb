#include "HistoryPopover.h"

#include "GatewayManager.h"
#include "HistoryPopoverRow.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PanelStyle.h"
#include "TextIds.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace fernpoint {
namespace {

constexpr int kPadding = 12;
constexpr int kGapBelowAnchor = 2;
constexpr int kScreenMargin = 4;
constexpr int kMinimumHeight = 40;

// Platforms whose windows are always composited, so transparent pixels around the rounded body
// and the arrow really are transparent. Under X11 that holds only while a compositing manager
// runs, which Qt does not tell us; there the window is shaped by a mask instead, which draws the
// same outline with hard edges and needs no compositor.
bool platformComposites() {
    const QString platform = QGuiApplication::platformName();
    return platform.startsWith(QLatin1StringView("wayland")) ||
           platform == QLatin1StringView("cocoa") || platform == QLatin1StringView("windows");
}

QWidget* makeDivider(QWidget* parent) {
    auto* divider = new QWidget(parent);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, PanelStyle::color(PanelColor::Separator, palette));
    divider->setPalette(palette);
    return divider;
}

} // namespace

HistoryPopover::HistoryPopover(NetworkProfileStore& store, GatewayManager& manager,
                               Localizer& localizer, QWidget* parent)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint)
    , m_store(store)
    , m_localizer(localizer)
    , m_actions(store, manager)
    , m_translucent(platformComposites()) {
    // A click outside closes the popover; replaying that click onto the history button would
    // open it again at once.
    setAttribute(Qt::WA_NoMouseReplay);
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setFixedWidth(kWidth);
    setMinimumHeight(kMinimumHeight + kArrowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, kArrowHeight + 1, 1, kCornerRadius / 2);
    layout->setSpacing(0);

    auto* headingRow = new QWidget(this);
    auto* headingLayout = new QHBoxLayout(headingRow);
    headingLayout->setContentsMargins(kPadding, kPadding - 2, kPadding, kPadding - 2);
    headingLayout->setSpacing(6);
    m_icon = new QLabel(headingRow);
    m_heading = new QLabel(headingRow);
    m_heading->setObjectName(QStringLiteral("heading"));
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setFont(PanelStyle::headlineFont());
    headingLayout->addWidget(m_icon);
    headingLayout->addWidget(m_heading);
    headingLayout->addStretch(1);
    layout->addWidget(headingRow);
    layout->addWidget(makeDivider(this));

    m_empty = new QLabel(this);
    m_empty->setObjectName(QStringLiteral("emptyText"));
    m_empty->setTextFormat(Qt::PlainText);
    m_empty->setWordWrap(true);
    m_empty->setFont(PanelStyle::systemFont(PanelStyle::kBodyPoints));
    m_empty->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    PanelStyle::applyTextColor(*m_empty, PanelColor::Secondary);
    layout->addWidget(m_empty);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The popover itself takes the list keys, so that arrows and Delete work wherever the mouse is.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_list = new QWidget(m_scroll);
    m_list->setAutoFillBackground(false);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(0);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_list);
    layout->addWidget(m_scroll);

    m_footer = new QWidget(this);
    auto* footerLayout = new QHBoxLayout(m_footer);
    footerLayout->setContentsMargins(kPadding, kPadding / 2, kPadding, kPadding / 2);
    m_clearAll = new QPushButton(m_footer);
    m_clearAll->setObjectName(QStringLiteral("clearAll"));
    m_clearAll->setFlat(true);
    // Reached with Tab only, so that a click does not take the focus away from the list.
    m_clearAll->setFocusPolicy(Qt::TabFocus);
    m_clearAll->installEventFilter(this);
    m_clearAll->setFont(PanelStyle::systemFont(PanelStyle::kBodyPoints));
    // Destructive: red text.
    PanelStyle::applyTextColor(*m_clearAll, PanelColor::Red);
    footerLayout->addWidget(m_clearAll, 1);
    layout->addWidget(m_footer);

    connect(m_clearAll, &QPushButton::clicked, this, &HistoryPopover::clearAll);
    connect(&m_store, &NetworkProfileStore::profilesChanged, this, &HistoryPopover::rebuild);
    connect(&m_localizer, &Localizer::languageChanged, this, &HistoryPopover::retranslate);

    retranslate();
    rebuild();
}

HistoryPopover::~HistoryPopover() = default;

void HistoryPopover::showBelow(QWidget* anchor) {
    m_anchor = anchor;
    rebuild();
    setCurrentRow(m_rows.isEmpty() ? -1 : 0);
    m_scroll->verticalScrollBar()->setValue(0);
    adjustSize();
    placeBelowAnchor();
    show();
    raise();
    activateWindow();
    setFocus(Qt::PopupFocusReason);
}

void HistoryPopover::retranslate() {
    const QString title = m_localizer.text(textid::kHistoryTitle);
    m_heading->setText(title);
    setAccessibleName(title);
    updateHeadingIcon();
    m_empty->setText(m_localizer.text(textid::kHistoryEmpty));
    const QString clearAllText = m_localizer.text(textid::kHistoryClearAll);
    m_clearAll->setText(clearAllText);
    m_clearAll->setAccessibleName(clearAllText);
    const QString deleteText = m_localizer.text(textid::kHistoryDeleteOne);
    for (HistoryPopoverRow* row : std::as_const(m_rows))
        row->setDeleteText(deleteText);
    if (isVisible())
        adjustSize();
}

void HistoryPopover::updateHeadingIcon() {
    m_icon->setPixmap(PanelStyle::icon(QStringLiteral("history-clock"),
                                       QStringLiteral("document-open-recent"),
                                       PanelStyle::color(PanelColor::Primary, palette()))
                          .pixmap(QSize(16, 16), devicePixelRatioF()));
}

void HistoryPopover::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_icon)
        updateHeadingIcon();
}

void HistoryPopover::rebuild() {
    const QList<NetworkProfile> profiles = m_actions.rows();
    // A focused delete button may belong to a row that goes away: the focus waits on the list and
    // comes back to the current row's button below.
    const QWidget* focused = focusWidget();
    const bool deleteFocused = focused && m_list->isAncestorOf(focused);
    if (deleteFocused)
        setFocus(Qt::OtherFocusReason);
    const QString deleteText = m_localizer.text(textid::kHistoryDeleteOne);
    while (m_rows.size() < profiles.size()) {
        auto* row = new HistoryPopoverRow(m_list);
        row->setDeleteText(deleteText);
        row->deleteButton()->installEventFilter(this);
        connect(row, &HistoryPopoverRow::picked, this, &HistoryPopover::pickRow);
        connect(row, &HistoryPopoverRow::deleteRequested, this, &HistoryPopover::deleteRow);
        // Before the stretch that keeps a short list at the top.
        m_listLayout->insertWidget(static_cast<int>(m_rows.size()), row);
        m_rows.append(row);
    }
    while (m_rows.size() > profiles.size()) {
        // The row may be the one whose button is being clicked right now: let that finish.
        HistoryPopoverRow* row = m_rows.takeLast();
        m_listLayout->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    for (qsizetype i = 0; i < profiles.size(); ++i)
        m_rows.at(i)->setEntry(profiles.at(i).networkID, HistoryActions::rowTitle(profiles.at(i)));

    const bool empty = profiles.isEmpty();
    m_empty->setVisible(empty);
    m_scroll->setVisible(!empty);
    m_footer->setVisible(!empty);
    setCurrentRow(empty ? -1 : qBound(0, m_current, static_cast<int>(m_rows.size()) - 1));
    if (deleteFocused && !empty)
        m_rows.at(m_current)->deleteButton()->setFocus(Qt::OtherFocusReason);
    else if (focusWidget() && !focusStops().contains(focusWidget()))
        setFocus(Qt::OtherFocusReason); // the clear-all button went with the last entry
    updateListHeight();
    if (isVisible())
        adjustSize();
}

void HistoryPopover::updateListHeight() {
    if (m_rows.isEmpty())
        return;
    const int rowHeight = m_rows.first()->sizeHint().height();
    const int shown = qMin(static_cast<int>(m_rows.size()), kVisibleRows);
    m_scroll->setFixedHeight(rowHeight * shown);
}

void HistoryPopover::setCurrentRow(int index) {
    m_current = index;
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        m_rows.at(i)->setCurrent(i == index);
    if (index >= 0 && index < m_rows.size())
        m_scroll->ensureWidgetVisible(m_rows.at(index), 0, 0);
}

void HistoryPopover::pickRow(const QString& networkID) {
    m_actions.pick(networkID);
    close();
}

void HistoryPopover::deleteRow(const QString& networkID) {
    // The store announces the removal, which redraws the list.
    m_actions.deleteHistory(networkID);
}

void HistoryPopover::clearAll() {
    m_actions.clearAll();
}

void HistoryPopover::keyPressEvent(QKeyEvent* event) {
    const int count = static_cast<int>(m_rows.size());
    switch (event->key()) {
    case Qt::Key_Up:
        if (count > 0)
            setCurrentRow(qMax(0, m_current - 1));
        break;
    case Qt::Key_Down:
        if (count > 0)
            setCurrentRow(qMin(count - 1, m_current + 1));
        break;
    case Qt::Key_Home:
        if (count > 0)
            setCurrentRow(0);
        break;
    case Qt::Key_End:
        if (count > 0)
            setCurrentRow(count - 1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_current >= 0 && m_current < count)
            pickRow(m_rows.at(m_current)->networkID());
        break;
    case Qt::Key_Delete:
        if (m_current >= 0 && m_current < count)
            deleteRow(m_rows.at(m_current)->networkID());
        break;
    case Qt::Key_Escape:
        close();
        break;
    default:
        QFrame::keyPressEvent(event);
        return;
    }
    event->accept();
}

QList<QWidget*> HistoryPopover::focusStops() const {
    QList<QWidget*> stops{const_cast<HistoryPopover*>(this)};
    if (m_current >= 0 && m_current < m_rows.size())
        stops.append(m_rows.at(m_current)->deleteButton());
    if (!m_footer->isHidden())
        stops.append(m_clearAll);
    return stops;
}

bool HistoryPopover::focusNextPrevChild(bool next) {
    const QList<QWidget*> stops = focusStops();
    const qsizetype count = stops.size();
    const qsizetype at = qMax<qsizetype>(0, stops.indexOf(focusWidget()));
    stops.at((at + (next ? 1 : count - 1)) % count)
        ->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool HistoryPopover::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        button->click();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Escape:
        setFocus(Qt::OtherFocusReason);
        keyPressEvent(key);
        return true;
    default:
        // Tab moves on through focusNextPrevChild, Space presses the button.
        return false;
    }
}

void HistoryPopover::placeBelowAnchor() {
    if (!m_anchor)
        return;
    const QRect anchor(m_anchor->mapToGlobal(QPoint(0, 0)), m_anchor->size());
    const int tipX = anchor.center().x();
    int x = tipX - width() / 2;
    if (const QScreen* screen = m_anchor->screen()) {
        const QRect available = screen->availableGeometry();
        x = qBound(
            available.left() + kScreenMargin, x,
            qMax(available.left() + kScreenMargin, available.right() - kScreenMargin - width()));
    }
    // The arrow stays on the straight part of the top edge, clear of the rounded corners.
    const int arrowMargin = kCornerRadius + kArrowWidth / 2;
    m_arrowX = qBound(arrowMargin, tipX - x, width() - arrowMargin);
    move(x, anchor.bottom() + 1 + kGapBelowAnchor);
    updateShape();
}

QPainterPath HistoryPopover::outline() const {
    const QRectF body(0.5, kArrowHeight + 0.5, width() - 1.0, height() - kArrowHeight - 1.0);
    QPainterPath shape;
    shape.addRoundedRect(body, kCornerRadius, kCornerRadius);
    QPainterPath arrow;
    arrow.moveTo(m_arrowX - kArrowWidth / 2.0, kArrowHeight + 1.0);
    arrow.lineTo(m_arrowX, 0.5);
    arrow.lineTo(m_arrowX + kArrowWidth / 2.0, kArrowHeight + 1.0);
    arrow.closeSubpath();
    return shape.united(arrow);
}

void HistoryPopover::updateShape() {
    if (!m_translucent) {
        // A slightly larger outline keeps the anti-aliased border inside the mask.
        QPainterPathStroker stroker;
        stroker.setWidth(2.0);
        const QPainterPath grown = outline().united(stroker.createStroke(outline()));
        setMask(QRegion(grown.toFillPolygon().toPolygon()));
    }
    update();
}

void HistoryPopover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = outline();
    // The base colour sets the popover apart from the window it floats over.
    painter.fillPath(shape, palette().color(QPalette::Base));
    painter.setPen(QPen(PanelStyle::color(PanelColor::Separator, palette()).darker(130), 1.0));
    painter.drawPath(shape);
}

void HistoryPopover::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateShape();
}

void HistoryPopover::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    setFocus(Qt::PopupFocusReason);
}

void HistoryPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

} // namespace fernpoint
