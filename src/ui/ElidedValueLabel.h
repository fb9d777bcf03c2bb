#pragma once

#include <QLabel>

namespace fernpoint {

// A one-line plain-text label for values of unknown length (a long description, an IPv6
// address). When the value does not fit it is elided in the middle, so both ends stay readable,
// and the whole value shows in the tooltip. The text can be selected; copying while elided copies
// the whole value, never the shortened one.
class ElidedValueLabel final : public QLabel {
    Q_OBJECT

public:
    static constexpr int kWidestPreferredCharacters = 40;

    explicit ElidedValueLabel(QWidget* parent = nullptr);

    const QString& fullText() const { return m_fullText; }
    void setFullText(const QString& text);
    bool isElided() const { return text() != m_fullText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateShownText();
    void copyFullText() const;

    QString m_fullText;
};

} // namespace fernpoint
