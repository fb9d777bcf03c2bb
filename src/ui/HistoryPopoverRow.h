#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace fernpoint {

class ElidedValueLabel;

// One network in the history popover: its title, its ID below in small monospaced type, and a
// delete button. A click anywhere else on the row picks the network. The row takes the keyboard
// focus as the popover's current row, so that a screen reader announces it.
class HistoryPopoverRow final : public QWidget {
    Q_OBJECT

public:
    explicit HistoryPopoverRow(QWidget* parent = nullptr);

    void setEntry(const QString& networkID, const QString& title);
    void pick();
    void setDeleteText(const QString& text);
    void setCurrent(bool current);

    const QString& networkID() const { return m_networkID; }
    QString title() const;
    QString shownNetworkID() const;
    bool isCurrent() const { return m_current; }
    QToolButton* deleteButton() const { return m_delete; }

Q_SIGNALS:
    void picked(const QString& networkID);
    void deleteRequested(const QString& networkID);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();

    QString m_networkID;
    ElidedValueLabel* m_title;
    ElidedValueLabel* m_id;
    QToolButton* m_delete;
    bool m_current = false;
    bool m_pressed = false;
};

} // namespace fernpoint
