#pragma once

#include <QList>
#include <QWidget>

class QToolButton;

namespace fernpoint {

// A row of joined segments of which at most one is selected. It is one stop in the Tab chain;
// the arrow keys move the selection. It only reports a choice (segmentChosen); the owner decides
// what is selected (setSelectedIndex), so a stored value that matches no segment shows none.
// Assistive technology sees the segments as radio buttons (AccessibleWidgets.h).
class SegmentedPicker final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedPicker(QWidget* parent = nullptr);

    void setSegmentTexts(const QStringList& texts);
    qsizetype segmentCount() const { return m_segments.size(); }
    // -1 selects none.
    void setSelectedIndex(int index);
    int selectedIndex() const { return m_selectedIndex; }
    const QToolButton* segment(int index) const { return m_segments.value(index); }

Q_SIGNALS:
    void segmentChosen(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void applyStyle();

    QList<QToolButton*> m_segments;
    int m_selectedIndex = -1;
};

} // namespace fernpoint
