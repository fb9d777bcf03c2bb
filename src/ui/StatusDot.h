#pragma once

#include "PanelStyle.h"

#include <QWidget>

namespace fernpoint {

// A filled circle of a named colour, as wide as it is high.
class StatusDot final : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(int diameter, QWidget* parent = nullptr);

    PanelColor color() const { return m_color; }
    void setColor(PanelColor color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_diameter;
    PanelColor m_color = PanelColor::Gray;
};

} // namespace fernpoint
