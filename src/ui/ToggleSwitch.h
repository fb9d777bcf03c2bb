#pragma once

#include <QAbstractButton>

namespace fernpoint {

// A switch-style toggle with its label to the right. Space and a click on the track or the label
// toggle it. While disabled it is drawn at 60 % opacity.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr qreal kDisabledOpacity = 0.6;

    explicit ToggleSwitch(QWidget* parent = nullptr);

    // Draws the label in the dimmed secondary colour.
    void setSecondaryLabel(bool secondary);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QSize trackSize() const;

    bool m_secondaryLabel = false;
};

} // namespace fernpoint
