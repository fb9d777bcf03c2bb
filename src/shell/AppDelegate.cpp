#include "AppDelegate.h"

#include "ConsoleWriter.h"
#include "HelperInstaller.h"
#include "InstanceSignal.h"
#include "ShellLogging.h"
#include "TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

namespace fernpoint {

AppDelegate::AppDelegate(InstanceSignal& instanceSignal, QString lockPath,
                         HelperInstaller& installer, Localizer& localizer, QIcon trayImage,
                         QObject* parent)
    : QObject(parent)
    , m_instanceSignal(instanceSignal)
    , m_lock(std::move(lockPath))
    , m_installer(installer)
    , m_localizer(localizer)
    , m_trayImage(std::move(trayImage)) {}

AppDelegate::~AppDelegate() {
    if (m_mainWindow)
        m_mainWindow->removeEventFilter(this);
}

AppDelegate::LaunchOutcome AppDelegate::applicationDidFinishLaunching() {
    // Subscribe first, so that a third instance started while we are launching still reaches us.
    QPointer<AppDelegate> self(this);
    m_instanceSignal.subscribe([self] {
        if (self)
            self->bringMainWindowToFront();
    });

    if (m_lock.tryAcquire() == InstanceLock::Outcome::HeldElsewhere) {
        if (!m_instanceSignal.send())
            qCWarning(lcShell).noquote() << "⚠️ [app] could not reach the running instance";
        return LaunchOutcome::Terminate;
    }

    m_trayIcon = std::make_unique<TrayIcon>(m_trayImage, m_localizer);
    connect(m_trayIcon.get(), &TrayIcon::toggleRequested, this, &AppDelegate::toggleMainWindow);
    // exit() rather than quit(): quit() first asks every window to close, and ours refuses.
    connect(
        m_trayIcon.get(), &TrayIcon::quitRequested, this, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    if (!m_trayIcon->show())
        qCWarning(lcShell).noquote() << "⚠️ [app] no status area on this desktop: launch "
                                        "FernPoint again to show its window";

    runHelperCheck();
    return LaunchOutcome::Continue;
}

void AppDelegate::runHelperCheck() {
    m_installer.ensureHelperInstalled([this](const std::optional<InstallError>& error) {
        if (error)
            ConsoleWriter::writeLine(QStringLiteral("❌ Helper install failed: ") +
                                     error->localizedDescription);
        else
            ConsoleWriter::writeLine(QStringLiteral("Helper installed"));
    });
}

void AppDelegate::setMainWindow(QWidget* window) {
    if (m_mainWindow == window)
        return;
    if (m_mainWindow) {
        m_mainWindow->removeEventFilter(this);
        delete m_quitShortcut;
        m_quitShortcut = nullptr;
    }
    m_mainWindow = window;
    if (!window)
        return;
    window->installEventFilter(this);
    // With no global menu bar on Linux, a window that only hides must still be quittable.
    m_quitShortcut = new QAction(window);
    m_quitShortcut->setShortcut(QKeySequence::Quit);
    m_quitShortcut->setShortcutContext(Qt::WindowShortcut);
    connect(
        m_quitShortcut, &QAction::triggered, this, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    window->addAction(m_quitShortcut);
}

void AppDelegate::toggleMainWindow() {
    if (!m_mainWindow)
        return;
    if (m_mainWindow->isVisible() && !m_mainWindow->isMinimized())
        m_mainWindow->hide();
    else
        bringMainWindowToFront();
}

void AppDelegate::bringMainWindowToFront() {
    if (!m_mainWindow)
        return;
    m_mainWindow->setWindowState((m_mainWindow->windowState() & ~Qt::WindowMinimized) |
                                 Qt::WindowActive);
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
    qCDebug(lcShell) << "main window brought to front";
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_mainWindow && event->type() == QEvent::Close) {
        // Closing only hides: the connection state, the form and the polling live on.
        event->ignore();
        m_mainWindow->hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fernpoint
