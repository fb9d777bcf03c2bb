#include "AppDelegate.h"
#include "ContentView.h"
#include "DBusInstanceSignal.h"
#include "HelperClient.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QMainWindow>
#include <QSettings>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("FernPoint"));
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FERNPOINT_VERSION));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("FernPoint"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.lunacore.fernpoint"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/com.lunacore.fernpoint.svg")));
    // The window only hides when closed; the tray menu and Ctrl+Q end the application.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    fernpoint::Localizer localizer;
    fernpoint::DBusInstanceSignal instanceSignal(QDBusConnection::sessionBus());
    fernpoint::AppDelegate delegate(instanceSignal, QString(fernpoint::AppDelegate::kLockPath),
                                    fernpoint::HelperInstaller::shared(), localizer,
                                    QIcon(QStringLiteral(":/icons/bolt.svg")));
    if (delegate.applicationDidFinishLaunching() ==
        fernpoint::AppDelegate::LaunchOutcome::Terminate)
        return 0;

    QSettings settings;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("FernPoint"));
    auto* content =
        new fernpoint::ContentView(fernpoint::HelperClient::shared(),
                                   fernpoint::HelperInstaller::shared(), localizer, settings);
    window.setCentralWidget(content);
    delegate.setMainWindow(&window);
    window.show();
    const int status = QCoreApplication::exec();
    // The history is saved on a thread of its own: its last change reaches the disk before the
    // process ends.
    content->store().flush();
    return status;
}
