#pragma once

#include "PanelStyle.h"

#include <QWidget>

class QLabel;

namespace fernpoint {

class ElidedValueLabel;

// One labelled line of the status group box: the title at the leading edge in the dimmed colour,
// the value at the trailing edge in its own colour.
class StatusRow final : public QWidget {
    Q_OBJECT

public:
    explicit StatusRow(QWidget* parent = nullptr);

    // The title is already looked up; the value is shown verbatim.
    void setContent(const QString& title, const QString& value, PanelColor valueColor);

    QString title() const;
    QString value() const;
    PanelColor valueColor() const { return m_valueColor; }
    const ElidedValueLabel& valueLabel() const { return *m_value; }

private:
    QLabel* m_title;
    ElidedValueLabel* m_value;
    PanelColor m_valueColor = PanelColor::Primary;
};

} // namespace fernpoint
