#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include <optional>

namespace fernpoint {

// The red banner that shows the controller's error line verbatim: white text on red, at most two
// lines (the rest elided), shown for any text including the empty one and hidden when there is
// none. It has no close control; it goes away when the line is cleared.
class ErrorBanner final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaximumLines = 2;
    static constexpr int kPadding = 8;
    static constexpr int kCornerRadius = 8;
    static constexpr qreal kFillOpacity = 0.9;

    explicit ErrorBanner(QWidget* parent = nullptr);

    void setMessage(const std::optional<QString>& message);
    const std::optional<QString>& message() const { return m_message; }
    // The lines as drawn at the current width, the last one elided when the text is longer.
    QStringList visibleLines() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int iconSize() const;
    int textWidthFor(int width) const;
    QStringList linesFor(int textWidth) const;

    std::optional<QString> m_message;
    QIcon m_icon;
};

} // namespace fernpoint
