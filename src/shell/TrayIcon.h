#pragma once

#include "TrayModel.h"

#include <QIcon>
#include <QObject>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace fernpoint {

class Localizer;

// The icon in the desktop's status area: a click shows or hides the window; its menu offers
// Show/Hide and Quit, and once a tray model is attached, the connection's state line, Connect or
// Disconnect and the recent networks (the window itself only hides when closed).
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // The image is shown until a model is attached.
    TrayIcon(const QIcon& image, Localizer& localizer, QObject* parent = nullptr);
    ~TrayIcon() override;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // A state's icon: the themed symbolic name for a status area that draws from the desktop's
    // theme, and our own picture, readable on light and dark panels, wherever pixels are needed.
    static QIcon stateIcon(TrayModel::State state);

    // Shows the icon when the desktop has a status area. False when it has none: the icon then
    // has no image and no action, and the application runs on without it.
    bool show();

    // From now on the icon, tooltip and menu follow the model; the model must outlive the menu's
    // use of it (its entries are disconnected when it goes).
    void attach(TrayModel& model);

    QSystemTrayIcon& systemTrayIcon() const { return *m_icon; }
    QMenu& menu() const { return *m_menu; }
    QAction& toggleAction() const { return *m_toggleAction; }
    QAction& quitAction() const { return *m_quitAction; }

Q_SIGNALS:
    void toggleRequested();
    void quitRequested();

private:
    void retranslate();
    void showView();

    Localizer& m_localizer;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_toggleAction = nullptr;
    QAction* m_quitAction = nullptr;
    QSystemTrayIcon* m_icon = nullptr;

    TrayModel* m_model = nullptr;
    QAction* m_stateAction = nullptr;
    QAction* m_primaryAction = nullptr;
    QMenu* m_recentMenu = nullptr;
    std::optional<TrayModel::View> m_shown;
};

} // namespace fernpoint
