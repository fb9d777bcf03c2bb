#include "HistoryPopover.h"

#include "AccessibleWidgets.h"
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
    installAccessibleWidgets();
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
    m_list->setObjectName(QLatin1StringView(kListName));
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
    m_scroll->verticalScrollBar()->setValue(0);
    adjustSize();
    placeBelowAnchor();
    show();
    raise();
    activateWindow();
    // Each opening starts at the newest network.
    setCurrentRow(m_rows.value(0), true);
}

void HistoryPopover::retranslate() {
    const QString title = m_localizer.text(textid::kHistoryTitle);
    m_heading->setText(title);
    setAccessibleName(title);
    m_list->setAccessibleName(title);
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
    QList<std::pair<QString, QString>> wanted; // (ID, title), in the order shown
    for (const NetworkProfile& profile : profiles)
        wanted.append({profile.networkID, HistoryActions::rowTitle(profile)});
    QList<std::pair<QString, QString>> shown;
    for (const HistoryPopoverRow* row : std::as_const(m_rows))
        shown.append({row->networkID(), row->title()});
    if (m_built && wanted == shown)
        return; // a poll that refreshed the running network's time: nothing to redraw
    m_built = true;

    // Where the focus and the current row were, by network, so that they stay on it.
    HistoryPopoverRow* focusedRow = nullptr;
    bool deleteFocused = false;
    for (HistoryPopoverRow* row : std::as_const(m_rows)) {
        if (row->hasFocus() || row->deleteButton()->hasFocus()) {
            focusedRow = row;
            deleteFocused = row->deleteButton()->hasFocus();
        }
    }
    const qsizetype currentIndex = m_rows.indexOf(currentRow());

    QList<HistoryPopoverRow*> ordered;
    QList<HistoryPopoverRow*> gone = m_rows;
    const QString deleteText = m_localizer.text(textid::kHistoryDeleteOne);
    for (const auto& [networkID, title] : std::as_const(wanted)) {
        auto kept = std::find_if(gone.begin(), gone.end(), [&](const HistoryPopoverRow* row) {
            return row->networkID() == networkID;
        });
        HistoryPopoverRow* row = nullptr;
        if (kept != gone.end()) {
            row = *kept;
            gone.erase(kept);
        } else {
            row = new HistoryPopoverRow(m_list);
            row->setDeleteText(deleteText);
            row->installEventFilter(this);
            row->deleteButton()->installEventFilter(this);
            connect(row, &HistoryPopoverRow::picked, this, &HistoryPopover::pickRow);
            connect(row, &HistoryPopoverRow::deleteRequested, this, &HistoryPopover::deleteRow);
        }
        row->setEntry(networkID, title);
        ordered.append(row);
    }
    m_rows = ordered;
    // Before the stretch that keeps a short list at the top; a row already in place stays.
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_listLayout->indexOf(m_rows.at(i)) != i) {
            m_listLayout->removeWidget(m_rows.at(i));
            m_listLayout->insertWidget(static_cast<int>(i), m_rows.at(i));
        }
    }

    const bool empty = m_rows.isEmpty();
    HistoryPopoverRow* current = currentRow();
    if (!current && !empty) // the current network went: the row that took its place
        current = m_rows.at(qBound<qsizetype>(0, currentIndex, m_rows.size() - 1));
    setCurrentRow(current, false);
    // The focus moves before anything it sits on is hidden, so that it never passes through
    // another control on the way (a screen reader would announce that one).
    if (focusedRow && gone.contains(focusedRow)) {
        if (!current)
            setFocus(Qt::OtherFocusReason);
        else if (deleteFocused)
            current->deleteButton()->setFocus(Qt::OtherFocusReason);
        else
            current->setFocus(Qt::OtherFocusReason);
    } else if (empty && m_clearAll->hasFocus()) {
        setFocus(Qt::OtherFocusReason);
    }
    for (HistoryPopoverRow* row : std::as_const(gone)) {
        // The row may be the one whose button is being clicked right now: let that finish.
        m_listLayout->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    m_empty->setVisible(empty);
    m_scroll->setVisible(!empty);
    m_footer->setVisible(!empty);
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

HistoryPopoverRow* HistoryPopover::currentRow() const {
    for (HistoryPopoverRow* row : m_rows)
        if (row->networkID() == m_currentID)
            return row;
    return nullptr;
}

void HistoryPopover::setCurrentRow(HistoryPopoverRow* row, bool focus) {
    m_currentID = row ? row->networkID() : QString();
    for (HistoryPopoverRow* each : std::as_const(m_rows))
        each->setCurrent(each == row);
    if (!focus)
        return;
    if (row) {
        m_scroll->ensureWidgetVisible(row, 0, 0);
        row->setFocus(Qt::OtherFocusReason);
    } else {
        setFocus(Qt::OtherFocusReason);
    }
}

void HistoryPopover::moveCurrentRow(int key) {
    if (m_rows.isEmpty())
        return;
    const int last = static_cast<int>(m_rows.size()) - 1;
    const int at = qMax(0, static_cast<int>(m_rows.indexOf(currentRow())));
    const int next = key == Qt::Key_Up     ? qMax(0, at - 1)
                     : key == Qt::Key_Down ? qMin(last, at + 1)
                     : key == Qt::Key_Home ? 0
                                           : last;
    setCurrentRow(m_rows.at(next), true);
}

void HistoryPopover::pickRow(const QString& networkID) {
    m_actions.pick(networkID);
    close();
}

void HistoryPopover::deleteRow(const QString& networkID) {
    // The store announces the removal, which redraws the list.
    m_actions.deleteHistory(networkID);
}

void HistoryPopover::deleteCurrentRow() {
    if (HistoryPopoverRow* row = currentRow()) {
        row->setFocus(Qt::OtherFocusReason); // the focus follows to the row that takes its place
        deleteRow(row->networkID());
    }
}

void HistoryPopover::clearAll() {
    m_actions.clearAll();
}

void HistoryPopover::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
        moveCurrentRow(event->key());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (HistoryPopoverRow* row = currentRow())
            row->pick();
        break;
    case Qt::Key_Delete:
        deleteCurrentRow();
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
    QList<QWidget*> stops;
    if (HistoryPopoverRow* row = currentRow())
        stops << row << row->deleteButton();
    else
        stops << const_cast<HistoryPopover*>(this);
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
    if (auto* row = qobject_cast<HistoryPopoverRow*>(watched);
        row && event->type() == QEvent::FocusIn) {
        setCurrentRow(row, false); // Tab, a click, or a screen reader's focus action
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QAbstractButton*>(watched);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!button)
            break;
        button->click();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Escape:
        break;
    default:
        // Tab moves on through focusNextPrevChild, Space presses a button.
        return false;
    }
    // The list keys, wherever the focus is in the popover (a row's own scroll area would take
    // the arrows otherwise).
    keyPressEvent(key);
    return true;
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
