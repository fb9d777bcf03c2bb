#pragma once

#include <QAbstractButton>
#include <QIcon>

class QTimer;

namespace fernpoint {

// The prominent connect/disconnect button: filled blue, or red for the destructive action, with
// white bold text, a leading symbol and, while busy, a small spinning indicator. Its size fits
// the longer of its two texts, so that it does not jump when the action flips.
class MainButton final : public QAbstractButton {
    Q_OBJECT

public:
    explicit MainButton(QWidget* parent = nullptr);

    void setDestructive(bool destructive);
    bool isDestructive() const { return m_destructive; }
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    // Texts the button may show; the size is reserved for the widest.
    void setReservedTexts(const QStringList& texts);
    // The fill colour for the current action, before hover, press and disabled shading.
    QColor tint() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QFont boldFont() const;
    int indicatorSize() const;
    void updateSpinner();

    bool m_destructive = false;
    bool m_busy = false;
    bool m_hovered = false;
    int m_spinnerAngle = 0;
    QStringList m_reservedTexts;
    QIcon m_playIcon;
    QIcon m_stopIcon;
    QTimer* m_spinnerTimer = nullptr;
};

} // namespace fernpoint
