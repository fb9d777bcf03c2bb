#pragma once

#include "InstanceLock.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QAction;

namespace fernpoint {

class HelperInstaller;
class InstanceSignal;
class Localizer;
class TrayIcon;

// Receives the application's lifecycle: the one-instance guard, the tray icon, showing and hiding
// the one main window, and the helper check at launch.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    static constexpr QLatin1StringView kLockPath{"/tmp/com.fernpoint.lock"};

    enum class LaunchOutcome {
        Continue,  // this is the only instance
        Terminate, // another instance runs and has been asked to show its window
    };

    AppDelegate(InstanceSignal& instanceSignal, QString lockPath, HelperInstaller& installer,
                Localizer& localizer, QIcon trayImage, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence. On Terminate the caller exits at once (status 0): no tray icon has
    // been created and no helper check has run.
    LaunchOutcome applicationDidFinishLaunching();

    // From now on closing the window only hides it, and Ctrl+Q in it quits.
    void setMainWindow(QWidget* window);
    QWidget* mainWindow() const { return m_mainWindow; }

    // Null until the launch sequence has created it.
    TrayIcon* trayIcon() const { return m_trayIcon.get(); }

    void toggleMainWindow();
    void bringMainWindowToFront();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runHelperCheck();

    InstanceSignal& m_instanceSignal;
    InstanceLock m_lock;
    HelperInstaller& m_installer;
    Localizer& m_localizer;
    QIcon m_trayImage;
    std::unique_ptr<TrayIcon> m_trayIcon;
    QPointer<QWidget> m_mainWindow;
    QAction* m_quitShortcut = nullptr;
};

} // namespace fernpoint
