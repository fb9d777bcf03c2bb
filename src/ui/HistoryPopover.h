#pragma once

#include "HistoryActions.h"

#include <QFrame>
#include <QList>
#include <QPointer>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace fernpoint {

class GatewayManager;
class HistoryPopoverRow;
class Localizer;
class NetworkProfileStore;

// The list of networks used before, opened under the history button. Picking a row puts its ID
// into the form and closes the popover; deleting rows keeps it open. The popover is reused: it is
// hidden, never destroyed, when it closes.
//
// The rows are kept by Network ID: when the history changes while the popover is open (each status
// poll records the running network), the current row stays on its network, the scroll position and
// the focus stay where they were, and nothing is redrawn when the rows shown are the same.
//
// Keyboard: the current row has the focus. Up, Down, Home, End, Delete and Escape work on the
// list wherever the focus is, and bring the focus back to the current row. Tab and Shift+Tab
// cycle the focus through the current row, its delete button and the clear-all button. Enter
// picks the current row, or presses the focused button; Space presses it too. The parts carry
// object names: "heading", "emptyText", "clearAll" and kListName (the list of
// HistoryPopoverRow children).
class HistoryPopover final : public QFrame {
    Q_OBJECT

public:
    static constexpr int kArrowHeight = 8;
    static constexpr int kArrowWidth = 18;
    static constexpr int kCornerRadius = 10;
    static constexpr int kWidth = 340;
    // Rows visible at once before the list scrolls.
    static constexpr int kVisibleRows = 6;
    static constexpr char kListName[] = "historyList";

    HistoryPopover(NetworkProfileStore& store, GatewayManager& manager, Localizer& localizer,
                   QWidget* parent = nullptr);
    ~HistoryPopover() override;

    // Opens below the anchor's bounds, the arrow pointing up at the anchor's centre.
    void showBelow(QWidget* anchor);

Q_SIGNALS:
    // Every close: a click outside, Escape, a pick.
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void rebuild();
    // Where Tab stops, in order: the current row (the popover itself while the list is empty),
    // its delete button, the clear-all button.
    QList<QWidget*> focusStops() const;
    void retranslate();
    void updateHeadingIcon();
    HistoryPopoverRow* currentRow() const;
    // Makes the row current; with focus, it takes the keyboard focus too (and is announced).
    void setCurrentRow(HistoryPopoverRow* row, bool focus);
    void moveCurrentRow(int key);
    void deleteCurrentRow();
    void pickRow(const QString& networkID);
    void deleteRow(const QString& networkID);
    void clearAll();
    void updateListHeight();
    void updateShape();
    void placeBelowAnchor();
    QPainterPath outline() const;

    NetworkProfileStore& m_store;
    Localizer& m_localizer;
    HistoryActions m_actions;
    bool m_translucent = false;
    QPointer<QWidget> m_anchor;
    int m_arrowX = kWidth / 2;
    QString m_currentID;
    bool m_built = false;

    QLabel* m_icon = nullptr;
    QLabel* m_heading = nullptr;
    QLabel* m_empty = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_listLayout = nullptr;
    QList<HistoryPopoverRow*> m_rows;
    QWidget* m_footer = nullptr;
    QPushButton* m_clearAll = nullptr;
};

} // namespace fernpoint
