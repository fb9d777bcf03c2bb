#pragma once

#include <QAbstractButton>

namespace fernpoint {

// The borderless button that opens the history: a clock symbol, its text and a small chevron.
class HistoryButton final : public QAbstractButton {
    Q_OBJECT

public:
    explicit HistoryButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int symbolSize() const;
    int chevronSize() const;

    bool m_hovered = false;
};

} // namespace fernpoint
