#include "AfterFirstFrame.h"
#include "AppDelegate.h"
#include "ConnectionNotifier.h"
#include "ContentController.h"
#include "ContentView.h"
#include "DBusInstanceSignal.h"
#include "DBusNotificationSender.h"
#include "GatewayManager.h"
#include "HelperClient.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "TrayIcon.h"
#include "TrayModel.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QMainWindow>
#include <QPixmapCache>
#include <QSettings>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    fernpoint::UnixSignalWatcher::exitEventLoopOnTermination();
    QCoreApplication::setOrganizationName(QStringLiteral("FernPoint"));
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint"));
    QCoreApplication::setApplicationVersion(QString(fernpoint::contract::kVersion));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("FernPoint"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.lunacore.fernpoint"));
    // The window only hides when closed; the tray menu and Ctrl+Q end the application.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Qt's pixmap cache trims itself on a timer that wakes the idle process every 10 to 30 s for
    // minutes after each repaint. The window is small and repaints only when its texts change, so
    // the style draws its few gradients and frames afresh instead.
    QPixmapCache::setCacheLimit(0);

    fernpoint::Localizer localizer;
    fernpoint::DBusInstanceSignal instanceSignal(QDBusConnection::sessionBus());
    fernpoint::AppDelegate delegate(
        instanceSignal, QString(fernpoint::AppDelegate::kLockPath),
        fernpoint::HelperInstaller::shared(), localizer,
        fernpoint::TrayIcon::stateIcon(fernpoint::TrayModel::State::Disconnected));
    if (delegate.applicationDidFinishLaunching() ==
        fernpoint::AppDelegate::LaunchOutcome::Terminate)
        return 0;

    // The window's state lives as long as the process: closing the window only hides it.
    QSettings settings;
    fernpoint::GatewayManager manager(fernpoint::HelperClient::shared());
    // The user's own history (networks.json in the data folder).
    fernpoint::NetworkProfileStore store;
    fernpoint::ContentController controller(manager, store, fernpoint::HelperInstaller::shared(),
                                            localizer, settings);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("FernPoint"));
    window.setCentralWidget(new fernpoint::ContentView(controller));
    delegate.setMainWindow(&window);

    // The tray and the desktop notices follow the same controller as the window.
    fernpoint::TrayModel trayModel(controller);
    if (fernpoint::TrayIcon* tray = delegate.trayIcon())
        tray->attach(trayModel);
    fernpoint::ConnectionNotifier notifier(trayModel, localizer);
    notifier.setWindowVisibility([&window] { return window.isVisible() && !window.isMinimized(); });
    fernpoint::DBusNotificationSender notices(QDBusConnection::sessionBus());
    QObject::connect(&notifier, &fernpoint::ConnectionNotifier::noticeRequested, &notices,
                     [&notices](const fernpoint::ConnectionNotifier::Notice& notice) {
                         notices.show(notice.summary, notice.body);
                     });
    // The icon is drawn from its vector picture at several sizes for the window list: that waits
    // until the window's first frame is on the screen.
    fernpoint::runAfterFirstFrame(window, [] {
        QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/com.lunacore.fernpoint.svg")));
    });
    window.show();
    const int status = QCoreApplication::exec();
    // The history is saved on a thread of its own: its last change reaches the disk before the
    // process ends, whether it was quit or asked to end by SIGTERM or SIGINT.
    store.flush();
    return status;
}
