#pragma once

#include <QIcon>
#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace fernpoint {

class Localizer;

// The icon in the desktop's status area: a click shows or hides the window, its menu offers the
// same and a way to quit (the window itself only hides when closed).
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // The image is drawn as a mask, so the desktop tints it like its other status icons.
    TrayIcon(const QIcon& image, Localizer& localizer, QObject* parent = nullptr);
    ~TrayIcon() override;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Shows the icon when the desktop has a status area. False when it has none: the icon then
    // has no image and no action, and the application runs on without it.
    bool show();

    QSystemTrayIcon& systemTrayIcon() const { return *m_icon; }
    QAction& toggleAction() const { return *m_toggleAction; }
    QAction& quitAction() const { return *m_quitAction; }

Q_SIGNALS:
    void toggleRequested();
    void quitRequested();

private:
    void retranslate();

    Localizer& m_localizer;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_toggleAction = nullptr;
    QAction* m_quitAction = nullptr;
    QSystemTrayIcon* m_icon = nullptr;
};

} // namespace fernpoint
